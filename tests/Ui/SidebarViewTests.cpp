// The sidebar over a real AppState, offscreen: the playlist list and its selection, drag reordering, the
// row menus, the editor popovers and the outputs footer with its tips.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QThreadPool>
#include <QToolButton>

#include "Platform/Audio/AudioDeviceProvider.hpp"
#include "Platform/Product.hpp"
#include "UiTestSupport.hpp"
#include "support/StubDisplays.hpp"
#include "Ui/Board/PlaylistBoardView.hpp"
#include "Ui/Board/PlaylistEditor.hpp"
#include "Ui/Board/PlaylistSection.hpp"
#include "Ui/Sidebar/OutputsFooter.hpp"
#include "Ui/Sidebar/SidebarTips.hpp"
#include "Ui/Sidebar/SidebarView.hpp"

namespace ombry::ui_test {
namespace {

using Target = PlaylistEditorTarget;

using test::StubWindows;
using test::TwoScreens;

audio::FixedDeviceProvider& devices() {
    static audio::FixedDeviceProvider provider;
    return provider;
}

class SidebarTest : public UiTest {
protected:
    TwoScreens twoScreens;
    std::vector<Group> playlists;  // A, B, C, one clip each

    void SetUp() override {
        UiTest::SetUp();
        AppEnvironment e = env();
        e.screens = &twoScreens;
        app = std::make_unique<AppState>(std::move(e));
        app->transitionDuration = 0;
        app->displays().setWindowFactory(std::make_unique<StubWindows>());
        stateSignals = std::make_unique<ui::StateSignals>(*app);
        devices().devices = {{"alsa_output.usb", "USB Headset", 2}, {"null", "Null Output", 2}};
        audio::setAudioDeviceProvider(&devices());
    }
    void TearDown() override {
        QThreadPool::globalInstance()->waitForDone();
        UiTest::TearDown();
        audio::setAudioDeviceProvider(nullptr);
    }
    void threePlaylists() {
        for (const char* name : {"A", "B", "C"}) {
            const MediaItem m = add(image());
            playlists.push_back(playlist({m.id}, [&](Group& g) { g.name = name; }));
        }
    }
    ui::SidebarView* sidebar() {
        auto* s = window().findChild<ui::SidebarView*>("sidebar");
        EXPECT_TRUE(s);
        return s;
    }
    QPoint rowCentre(ui::SidebarView* s, int row) { return s->list()->visualRect(s->model()->index(row)).center(); }
    void click(ui::SidebarView* s, int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mouseClick(s->list()->viewport(), Qt::LeftButton, mods, rowCentre(s, row));
        turn();
    }
    void rightClick(ui::SidebarView* s, int row) {
        const QPoint at = rowCentre(s, row);
        QTest::mousePress(s->list()->viewport(), Qt::RightButton, Qt::NoModifier, at);
        QTest::mouseRelease(s->list()->viewport(), Qt::RightButton, Qt::NoModifier, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, s->list()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(s->list()->viewport(), &event);
        turn();
    }
    static QAction* action(QMenu* menu, const QString& title) {
        for (QAction* a : menu->actions())
            if (a->text() == title) return a;
        ADD_FAILURE() << "no item " << title.toStdString();
        return nullptr;
    }
    void choose(ui::SidebarView* s, const std::string& playlistId, const QString& title) {
        QMenu* menu = s->openPlaylistMenu(playlistId, {});
        if (QAction* a = action(menu, title)) a->trigger();
        menu->close();
        turn();
    }
    std::vector<std::string> groupNames() {
        std::vector<std::string> names;
        for (const Group& g : app->library.groups()) names.push_back(g.name);
        return names;
    }
};

TEST_F(SidebarTest, SelectingRowsChoosesWhatTheBoardShows) {
    threePlaylists();
    ui::SidebarView* s = sidebar();
    auto* board = window().findChild<ui::PlaylistBoardView*>("board");
    turn();
    ASSERT_EQ(s->model()->rowCount(), 4);
    EXPECT_EQ(s->model()->index(0).data(ui::PlaylistListModel::subtitleRole).toString(),
              QString::fromUtf8("3 playlists \u00B7 3 media"));
    EXPECT_EQ(s->model()->index(2).data(ui::PlaylistListModel::subtitleRole).toString(), "1 item");

    click(s, 1);
    click(s, 3, Qt::ControlModifier);
    EXPECT_EQ(app->selectedPlaylistIds(), (std::vector<std::string>{playlists[0].id, playlists[2].id}));
    QTRY_COMPARE(board->sections().size(), std::size_t(2));
    EXPECT_TRUE(board->section(playlists[0].id));
    EXPECT_TRUE(board->section(playlists[2].id));

    // "All Playlists" together with a playlist selects no playlist: the board shows everything.
    click(s, 0, Qt::ControlModifier);
    EXPECT_TRUE(app->selection().count(SidebarItem::allPlaylists()));
    EXPECT_TRUE(app->selectedPlaylistIds().empty());
    QTRY_COMPARE(board->sections().size(), std::size_t(4));  // three playlists and Unsorted

    // The state's selection shows in the list.
    app->setSelection({SidebarItem::playlist(playlists[1].id)});
    turn();
    const auto rows = s->list()->selectionModel()->selectedIndexes();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].row(), 2);
}

TEST_F(SidebarTest, DraggingTheThirdRowToTheTopMovesItsPlaylistFirst) {
    threePlaylists();
    ui::SidebarView* s = sidebar();
    ui::PlaylistListModel* m = s->model();
    EXPECT_FALSE(m->flags(m->index(0)) & Qt::ItemIsDragEnabled);  // "All Playlists" stays first
    EXPECT_TRUE(m->flags(m->index(3)) & Qt::ItemIsDragEnabled);
    EXPECT_FALSE(m->flags(m->index(1)) & Qt::ItemIsDropEnabled);  // drops land between rows
    std::unique_ptr<QMimeData> data(m->mimeData({m->index(3)}));
    // Dropped between "All Playlists" and the first playlist, as the list reports it.
    ASSERT_TRUE(m->dropMimeData(data.get(), Qt::MoveAction, 1, 0, {}));
    EXPECT_EQ(groupNames(), (std::vector<std::string>{"C", "A", "B"}));
    turn();
    EXPECT_EQ(m->index(1).data().toString(), "C");
    EXPECT_EQ(m->index(0).data().toString(), "All Playlists");
    // Dropping "All Playlists" moves nothing.
    data.reset(m->mimeData({m->index(0)}));
    EXPECT_FALSE(m->dropMimeData(data.get(), Qt::MoveAction, 3, 0, {}));
    EXPECT_EQ(groupNames(), (std::vector<std::string>{"C", "A", "B"}));
}

TEST_F(SidebarTest, CopyThenPasteMakesANewPlaylistWithNewIds) {
    threePlaylists();
    ui::SidebarView* s = sidebar();
    choose(s, playlists[0].id, "Copy Playlist");
    ASSERT_TRUE(clipboard.hasData(product::playlistClipboardType));
    choose(s, playlists[1].id, "Paste Playlist");
    ASSERT_EQ(app->library.groups().size(), 4u);
    const Group pasted = app->library.groups().back();
    EXPECT_EQ(pasted.name, "A");
    EXPECT_NE(pasted.id, playlists[0].id);
    ASSERT_EQ(pasted.mediaIds.size(), 1u);
    EXPECT_NE(pasted.mediaIds[0], playlists[0].mediaIds[0]);
    EXPECT_EQ(app->selection(), (std::set<SidebarItem>{SidebarItem::playlist(pasted.id)}));

    // Other text on the clipboard pastes nothing.
    clipboard.clearAndSet(plainTextType, "hello");
    choose(s, playlists[1].id, "Paste Playlist");
    EXPECT_EQ(app->library.groups().size(), 4u);
}

TEST_F(SidebarTest, DeleteOnlyAsksForConfirmation) {
    // The window's chrome asks the question; it stays unanswered here.
    dialogs.holdAnswers = true;
    threePlaylists();
    ui::SidebarView* s = sidebar();
    choose(s, playlists[1].id, "Delete Playlist");
    EXPECT_EQ(app->pendingDeletion, PendingDeletion::playlists({playlists[1].id}));
    EXPECT_EQ(app->library.groups().size(), 3u);

    app->pendingDeletion.reset();
    app->setSelection({SidebarItem::playlist(playlists[0].id), SidebarItem::playlist(playlists[2].id)});
    choose(s, playlists[2].id, "Delete 2 Playlists");
    EXPECT_EQ(app->pendingDeletion, PendingDeletion::playlists({playlists[0].id, playlists[2].id}));
    EXPECT_EQ(app->library.groups().size(), 3u);
    while (dialogs.answer(0)) turn();  // Cancel
}

TEST_F(SidebarTest, TheMenuFormFollowsTheSelectionAndTargetsAreTakenWhenAnItemIsChosen) {
    threePlaylists();
    ui::SidebarView* s = sidebar();
    app->setSelection({SidebarItem::playlist(playlists[0].id), SidebarItem::playlist(playlists[1].id),
                       SidebarItem::playlist(playlists[2].id)});
    turn();
    // A real right-click on B: the group form.
    rightClick(s, 2);
    QMenu* menu = s->playlistMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->actions().at(0)->text(), "Merge 3 Playlists");
    EXPECT_EQ(app->selectedPlaylistIds().size(), 3u);
    // The selection shrinks while the menu is open: the command takes the selection of that moment.
    app->setSelection({SidebarItem::playlist(playlists[0].id), SidebarItem::playlist(playlists[1].id)});
    action(menu, "Duplicate 3 Playlists")->trigger();
    menu->close();
    EXPECT_EQ(groupNames(), (std::vector<std::string>{"A", "B", "C", "A Copy", "B Copy"}));

    // A real right-click on an unselected row: the single form, for that row alone, and the selection stays.
    const std::set<SidebarItem> two{SidebarItem::playlist(playlists[0].id), SidebarItem::playlist(playlists[1].id)};
    app->setSelection(two);
    turn();
    rightClick(s, 3);
    EXPECT_EQ(app->selection(), two);
    menu = s->playlistMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->actions().at(0)->text(), QString::fromUtf8("Edit Playlist\u2026"));
    action(menu, "Duplicate Playlist")->trigger();
    menu->close();
    EXPECT_EQ(groupNames().back(), "C Copy");

    // Merge from the group form keeps the first and selects it alone.
    app->setSelection({SidebarItem::playlist(playlists[0].id), SidebarItem::playlist(playlists[1].id),
                       SidebarItem::playlist(playlists[2].id)});
    choose(s, playlists[1].id, "Merge 3 Playlists");
    EXPECT_EQ(app->selection(), (std::set<SidebarItem>{SidebarItem::playlist(playlists[0].id)}));
    EXPECT_EQ(app->library.groups().front().mediaIds.size(), 3u);
}

TEST_F(SidebarTest, PopoversOpenAtTheirRowAndClosingOneClearsOnlyItsOwnTarget) {
    threePlaylists();
    ui::SidebarView* s = sidebar();
    turn();
    QTest::mouseClick(s->newPlaylistButton(), Qt::LeftButton);
    QTRY_VERIFY(qobject_cast<ui::NewPlaylistPopover*>(s->editors().open()));
    const QRect plus(s->newPlaylistButton()->mapToGlobal(QPoint(0, 0)), s->newPlaylistButton()->size());
    EXPECT_GE(s->editors().open()->y(), plus.bottom());

    // "Edit Playlist…" on A: the create popover gives way to the editor beside A's row.
    choose(s, playlists[0].id, QString::fromUtf8("Edit Playlist\u2026"));
    QTRY_VERIFY(qobject_cast<ui::PlaylistEditorSheet*>(s->editors().open()));
    auto* sheetA = static_cast<ui::PlaylistEditorSheet*>(s->editors().open());
    EXPECT_EQ(sheetA->form()->target(), Target::edit(playlists[0].id));
    EXPECT_GT(sheetA->x(), s->rowAnchor(playlists[0].id)->right());
    EXPECT_EQ(sheetA->form()->findChild<QLineEdit*>("editorName")->text(), "A");

    // Another control switches the target to B: A's popover closes without clearing B's target.
    QPointer<QWidget> a = sheetA;
    app->playlistEditor = Target::edit(playlists[1].id);
    app->notify(Aspect::playlistEditor);
    QTRY_VERIFY(!a);
    turn();
    ASSERT_EQ(app->playlistEditor, Target::edit(playlists[1].id));
    QTRY_VERIFY(qobject_cast<ui::PlaylistEditorSheet*>(s->editors().open()));
    s->editors().open()->close();
    QTRY_VERIFY(!app->playlistEditor);

    // A playlist without a row: nothing opens and the target waits.
    app->playlistEditor = Target::edit("no-such-playlist");
    app->notify(Aspect::playlistEditor);
    turn();
    EXPECT_FALSE(s->editors().open());
    EXPECT_EQ(app->playlistEditor, Target::edit("no-such-playlist"));
}

TEST_F(SidebarTest, DisplayRowsOpenAndCloseAndABlockedOneShowsWhy) {
    ui::SidebarView* s = sidebar();
    ui::OutputsFooter* f = s->footer();
    turn();
    ASSERT_EQ(f->displayRows().size(), 2u);
    EXPECT_EQ(f->displayRow(1)->data().detail, QString::fromUtf8("1920\u00D71080 \u00B7 primary"));
    EXPECT_EQ(f->displayRow(2)->data().detail, QString::fromUtf8("3840\u00D72160"));

    // The primary display is blocked by default: its tip opens instead.
    QTest::mouseClick(f->displayRow(1), Qt::LeftButton);
    EXPECT_TRUE(app->openDisplayIDs().empty());
    ASSERT_TRUE(f->blockedTip());
    EXPECT_EQ(f->blockedTipID(), std::optional<DisplayId>(1));
    auto* tip = static_cast<ui::DisplayBlockedTipView*>(f->blockedTip());
    EXPECT_EQ(tip->message().toStdString(), "\u201CBuilt-in\u201D is your primary display. Output there is off by "
                                            "default so it can't cover your desktop.");
    // The link opens the settings window on the pane it showed last.
    app->setSettingsSection(SettingsSection::remote);
    QTest::mouseClick(tip->findChild<QPushButton*>("openSettings"), Qt::LeftButton);
    EXPECT_TRUE(windows.window("settings"));
    EXPECT_EQ(app->settingsSection(), SettingsSection::remote);
    tip->close();
    EXPECT_FALSE(f->blockedTipID());

    // The second display opens and closes with a click.
    QTest::mouseClick(f->displayRow(2), Qt::LeftButton);
    EXPECT_EQ(app->openDisplayIDs(), (std::set<DisplayId>{2}));
    turn();
    EXPECT_EQ(f->displayRow(2)->data().label, "ON");
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(f->displayRow(2));
    ASSERT_TRUE(acc);
    EXPECT_EQ(acc->text(QAccessible::Value), "Connected");
    EXPECT_TRUE(acc->text(QAccessible::Name).contains("Projector"));
    QTest::mouseClick(f->displayRow(2), Qt::LeftButton);
    EXPECT_TRUE(app->openDisplayIDs().empty());
    turn();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(f->displayRow(2))->text(QAccessible::Value), "Off");

    // An open display always closes, even once the settings no longer allow it.
    AppSettings allow = app->settings();
    allow.allowOutputOnPrimaryDisplay = true;
    app->setSettings(allow);
    turn();
    QTest::mouseClick(f->displayRow(1), Qt::LeftButton);
    EXPECT_EQ(app->openDisplayIDs(), (std::set<DisplayId>{1}));
    allow.allowOutputOnPrimaryDisplay = false;
    app->setSettings(allow);
    turn();
    QTest::mouseClick(f->displayRow(1), Qt::LeftButton);
    EXPECT_TRUE(app->openDisplayIDs().empty());
    EXPECT_FALSE(f->blockedTip() && f->blockedTip()->isVisible());

    // The display showing the main window is blocked for the controller's reason.
    app->mainWindowDisplay = [] { return std::optional<DisplayId>(2); };
    QTest::mouseClick(f->displayRow(2), Qt::LeftButton);
    EXPECT_TRUE(app->openDisplayIDs().empty());
    ASSERT_TRUE(f->blockedTip());
    EXPECT_TRUE(static_cast<ui::DisplayBlockedTipView*>(f->blockedTip())->message().contains("operator window"));
    EXPECT_EQ(f->blockedTipID(), std::optional<DisplayId>(2));
}

TEST_F(SidebarTest, TheNdiRowSwitchesTheNdiOutputInTheSettings) {
    ui::OutputsFooter* f = sidebar()->footer();
    EXPECT_EQ(f->ndiRow()->data().label, "OFF");
    QTest::mouseClick(f->ndiRow(), Qt::LeftButton);
    EXPECT_TRUE(app->settings().ndiOutputEnabled);
    EXPECT_FALSE(app->settings().syphonOutputEnabled);
    turn();
    EXPECT_EQ(f->ndiRow()->data().label, "ON");
    EXPECT_TRUE(f->ndiRow()->data().on);
    QTest::mouseClick(f->ndiRow(), Qt::LeftButton);
    EXPECT_FALSE(app->settings().ndiOutputEnabled);
    turn();
    EXPECT_EQ(f->ndiRow()->data().label, "OFF");
}

TEST_F(SidebarTest, TheBrowserSourceTipShowsTheAddressOnceTheServerRunsAndCopiesIt) {
    ui::OutputsFooter* f = sidebar()->footer();
    EXPECT_EQ(f->browserSourceRow()->data().detail, QString::fromUtf8("starting\u2026"));
    QTest::mouseClick(f->browserSourceRow(), Qt::LeftButton);
    ASSERT_TRUE(f->obsTip());
    auto* tip = static_cast<ui::ObsTipView*>(f->obsTip());
    EXPECT_EQ(tip->address()->text(), QString::fromUtf8("starting\u2026"));
    clipboard.clearAndSet(plainTextType, "kept");
    QTest::mouseClick(tip->findChild<QPushButton*>("obsCopy"), Qt::LeftButton);
    EXPECT_EQ(clipboard.data(plainTextType), std::optional<std::string>("kept"));

    ServerInfo info;
    info.port = 7344;
    info.outputUrl = "http://localhost:7344/";
    app->serverInfo = info;
    app->notify(Aspect::serverInfo);
    app->outputCount = 2;
    app->notify(Aspect::counts);
    QTRY_COMPARE(tip->address()->text(), QString("http://localhost:7344/"));
    EXPECT_EQ(f->browserSourceRow()->data().detail, "http://localhost:7344/");
    EXPECT_EQ(f->browserSourceRow()->data().label, "LINK");
    QTest::mouseClick(tip->findChild<QPushButton*>("obsCopy"), Qt::LeftButton);
    EXPECT_EQ(clipboard.data(plainTextType), std::optional<std::string>("http://localhost:7344/"));
    EXPECT_TRUE(tip->isVisible());
}

TEST_F(SidebarTest, TheAudioMonitorTipSwitchesTheMonitorAndChoosesItsDevice) {
    ui::OutputsFooter* f = sidebar()->footer();
    QTRY_VERIFY(f->devicesRead());
    EXPECT_EQ(f->audioMonitorRow()->data().detail, "System default");
    QTest::mouseClick(f->audioMonitorRow(), Qt::LeftButton);
    ASSERT_TRUE(f->audioTip());
    auto* tip = static_cast<ui::AudioMonitorTipView*>(f->audioTip());
    QComboBox* picker = tip->picker();
    ASSERT_EQ(picker->count(), 3);
    EXPECT_EQ(picker->itemText(0), "System Default");
    EXPECT_EQ(picker->itemText(2), "Null Output");
    EXPECT_EQ(picker->currentIndex(), 0);

    // The device choice leaves the switch alone, and the switch the device.
    picker->setCurrentIndex(2);
    emit picker->activated(2);
    EXPECT_EQ(app->settings().monitorDeviceUID, std::optional<std::string>("null"));
    EXPECT_FALSE(app->settings().audioMonitorEnabled);
    turn();
    EXPECT_EQ(f->audioMonitorRow()->data().detail, "Null Output");
    EXPECT_EQ(f->audioMonitorRow()->data().label, "OFF");
    QTest::mouseClick(tip->toggle(), Qt::LeftButton);
    EXPECT_TRUE(app->settings().audioMonitorEnabled);
    EXPECT_EQ(app->settings().monitorDeviceUID, std::optional<std::string>("null"));
    turn();
    EXPECT_EQ(f->audioMonitorRow()->data().label, "ON");

    // A saved device that is not there is shown, not dropped, until another choice is made.
    AppSettings gone = app->settings();
    gone.monitorDeviceUID = "gone";
    app->setSettings(gone);
    turn();
    EXPECT_EQ(f->audioMonitorRow()->data().detail, "Unavailable device");
    ASSERT_EQ(picker->count(), 4);
    EXPECT_EQ(picker->currentText(), "Unavailable device");
    picker->setCurrentIndex(0);
    emit picker->activated(0);
    EXPECT_EQ(app->settings().monitorDeviceUID, std::nullopt);
    turn();
    EXPECT_EQ(picker->count(), 3);
    EXPECT_EQ(f->audioMonitorRow()->data().detail, "System default");
}

TEST_F(SidebarTest, AnEmptyProjectShowsOnlyAllPlaylistsAndEveryControlHasAnAccessibleName) {
    ui::SidebarView s(context());
    s.show();
    turn();
    ASSERT_EQ(s.model()->rowCount(), 1);
    EXPECT_EQ(s.model()->index(0).data(ui::PlaylistListModel::subtitleRole).toString(),
              QString::fromUtf8("0 playlists \u00B7 0 media"));
    // Every control has an accessible name.
    for (QWidget* w : s.findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<ui::OutputRow*>(w) || qobject_cast<QAbstractItemView*>(w)) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        }
    }
}

}  // namespace
}  // namespace ombry::ui_test
