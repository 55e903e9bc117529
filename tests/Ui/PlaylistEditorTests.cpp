// The playlist editor and the new-playlist popover: their rules as tables, the form over a real state, the
// saved-playlist picker, and the presenter that opens them from AppState.playlistEditor.
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>

#include "UiTestSupport.hpp"
#include "Ui/Board/PlaylistEditor.hpp"

namespace ombry::ui_test {
namespace {

namespace er = ui::editor_rules;
using Target = PlaylistEditorTarget;

TEST(PlaylistEditorRules, TitlesPalettesAndTheConfirmRule) {
    EXPECT_EQ(er::title(Target::create({})), "New Playlist");
    EXPECT_EQ(er::title(Target::edit("x")), "Edit Playlist");
    EXPECT_EQ(er::confirmTitle(Target::create({})), "Create");
    EXPECT_EQ(er::confirmTitle(Target::edit("x")), "Save");
    EXPECT_EQ(std::string(er::colours.front()), "#5f6670");
    EXPECT_EQ(std::string(er::colours.back()), "#7fb88f");
    EXPECT_EQ(std::string(er::icons[0]), "list.bullet");
    EXPECT_EQ(std::string(er::icons[11]), "sparkles");
    struct Case {
        Target target;
        const char* name;
        bool allowed;
    } cases[] = {{Target::create({}), "", false},    {Target::create({}), " \t ", false},
                 {Target::create({}), " Show ", true}, {Target::edit("x"), "", true}};
    for (const auto& c : cases) EXPECT_EQ(er::canConfirm(c.target, c.name), c.allowed) << c.name;
    EXPECT_EQ(er::clipCount(1), "1 item");
    EXPECT_EQ(er::clipCount(0), "0 items");
}

TEST_F(UiTest, TheEditorCreatesAPlaylistWithItsSeedsAndSelectsIt) {
    make();
    const MediaItem a = add(video("red"));
    const MediaItem b = add(video("blue"));
    const Group other = playlist({b.id});
    ui::PlaylistEditorForm form(*app, Target::create({a.id, b.id}));
    form.show();
    auto* confirm = form.findChild<QPushButton*>("editorConfirm");
    EXPECT_FALSE(confirm->isEnabled());
    QTest::keyClicks(form.findChild<QLineEdit*>("editorName"), "  Encore ");
    EXPECT_TRUE(confirm->isEnabled());
    QTest::mouseClick(form.findChild<QAbstractButton*>("swatch#cd7f7f"), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QAbstractButton*>("icon.star"), Qt::LeftButton);
    EXPECT_EQ(form.form().color, "#cd7f7f");
    QSignalSpy done(&form, &ui::PlaylistEditorForm::finished);
    QTest::keyClick(form.findChild<QLineEdit*>("editorName"), Qt::Key_Return);
    EXPECT_EQ(done.count(), 1);
    const Group& made = app->library.groups().back();
    EXPECT_EQ(made.name, "Encore");
    EXPECT_EQ(made.color, "#cd7f7f");
    EXPECT_EQ(made.icon, "star");
    ASSERT_EQ(made.mediaIds.size(), 2u);
    EXPECT_EQ(made.mediaIds[0], a.id);
    EXPECT_NE(made.mediaIds[1], b.id) << "a clip already in a playlist comes as a copy";
    EXPECT_EQ(board::findGroup(app->library, other.id)->mediaIds, std::vector<std::string>{b.id});
    EXPECT_EQ(app->selection(), (std::set<SidebarItem>{SidebarItem::playlist(made.id)}));
}

TEST_F(UiTest, EditingKeepsAnOffPaletteColourAndABlankNameKeepsTheOldOne) {
    make();
    Group g = playlist({}, [](Group& x) {
        x.name = "Stage";
        x.color = "#123456";
        x.icon.reset();
    });
    ui::PlaylistEditorForm form(*app, Target::edit(g.id));
    EXPECT_EQ(form.form(), (er::Form{"Stage", "#123456", "list.bullet"}));
    for (auto* s : form.findChildren<QAbstractButton*>())
        if (s->objectName().startsWith("swatch")) {
            EXPECT_FALSE(s->isChecked()) << s->objectName().toStdString();
        }
    EXPECT_TRUE(form.findChild<QAbstractButton*>("icon.list.bullet")->isChecked());
    form.findChild<QLineEdit*>("editorName")->clear();
    QTest::mouseClick(form.findChild<QPushButton*>("editorConfirm"), Qt::LeftButton);
    const Group* now = board::findGroup(app->library, g.id);
    EXPECT_EQ(now->name, "Stage");
    EXPECT_EQ(now->color, "#123456");
    EXPECT_EQ(now->icon, "list.bullet");
    // Escape closes without a write.
    ui::PlaylistEditorForm again(*app, Target::edit(g.id));
    QSignalSpy done(&again, &ui::PlaylistEditorForm::finished);
    QTest::mouseClick(again.findChild<QAbstractButton*>("swatch#7596b8"), Qt::LeftButton);
    QTest::keyClick(&again, Qt::Key_Escape);
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(board::findGroup(app->library, g.id)->color, "#123456");
}

TEST_F(UiTest, ASavedPlaylistComesBackThroughThePopoverAndDeletingAsksFirst) {
    make();
    const MediaItem a = add(video());
    Group g = playlist({a.id}, [](Group& x) { x.name = "Walk-in"; });
    ui::NewPlaylistPopover popover(*app, *stateSignals, dialogs, Target::create({a.id}));
    popover.show();
    ASSERT_TRUE(popover.form());
    QTest::keyClicks(popover.form()->findChild<QLineEdit*>("editorName"), "Typed");
    QTest::mouseClick(popover.findChild<QToolButton*>("tabSaved"), Qt::LeftButton);
    ASSERT_TRUE(popover.picker());
    EXPECT_TRUE(popover.picker()->findChild<QLabel*>("savedEmptyTitle")->isVisible());
    EXPECT_EQ(popover.picker()->findChild<QLabel*>("savedEmptyTitle")->text(), "No saved playlists yet");
    QTest::mouseClick(popover.findChild<QToolButton*>("tabNew"), Qt::LeftButton);
    EXPECT_EQ(popover.form()->form().name, "") << "switching tabs rebuilds the form";

    for (int i = 0; i < 12; ++i) app->savedPlaylists().saveGroupToLibrary(g.id);
    QTest::mouseClick(popover.findChild<QToolButton*>("tabSaved"), Qt::LeftButton);
    turn();
    EXPECT_LE(popover.picker()->list()->height(), 280);
    EXPECT_EQ(popover.picker()->findChild<QLabel*>("savedCount")->text(), "1 item");

    // Delete asks; cancelling keeps it.
    dialogs.answers = {1};
    const std::size_t saved = app->savedPlaylists().savedPlaylists().playlists.size();
    QTest::mouseClick(popover.picker()->findChild<QToolButton*>("savedDelete"), Qt::LeftButton);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, QString::fromUtf8("Delete \u201CWalk-in\u201D from the saved playlists?"));
    EXPECT_EQ(app->savedPlaylists().savedPlaylists().playlists.size(), saved);
    dialogs.answers = {0};
    QTest::mouseClick(popover.picker()->findChild<QToolButton*>("savedDelete"), Qt::LeftButton);
    turn();
    EXPECT_EQ(app->savedPlaylists().savedPlaylists().playlists.size(), saved - 1);

    // Add imports the playlist and closes.
    const std::size_t before = app->library.groups().size();
    QTest::mouseClick(popover.picker()->findChild<QPushButton*>("savedAdd"), Qt::LeftButton);
    EXPECT_EQ(app->library.groups().size(), before + 1);
    EXPECT_EQ(app->library.groups().back().name, "Walk-in");
    EXPECT_EQ(app->library.groups().back().mediaIds.size(), 1u);
    EXPECT_FALSE(popover.isVisible());
}

TEST_F(UiTest, ThePresenterOpensTheEditorTheStateAsksForAndClearsItsOwnTarget) {
    make();
    Group g = playlist({});
    QWidget host;
    host.resize(400, 300);
    host.show();
    ui::PlaylistEditorPresenter presenter(*app, *stateSignals, dialogs, &host, {});
    app->playlistEditor = Target::create({});
    app->notify(Aspect::playlistEditor);
    QTRY_VERIFY(qobject_cast<ui::NewPlaylistPopover*>(presenter.open()));
    presenter.open()->close();
    QTRY_VERIFY(!app->playlistEditor);
    app->playlistEditor = Target::edit(g.id);
    app->notify(Aspect::playlistEditor);
    QTRY_VERIFY(qobject_cast<ui::PlaylistEditorSheet*>(presenter.open()));
    auto* sheet = static_cast<ui::PlaylistEditorSheet*>(presenter.open());
    EXPECT_TRUE(sheet->windowFlags() & Qt::Popup);  // a popover, never a window of its own
    QTest::mouseClick(sheet->form()->findChild<QPushButton*>("editorCancel"), Qt::LeftButton);
    QTRY_VERIFY(!app->playlistEditor);
}

}  // namespace
}  // namespace ombry::ui_test
