// The menu bar over a real state: the commands act through the state's operations, the show menus follow
// the keyboard focus, Open Recent follows the recent projects and the hooks of other parts enable their items.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include <filesystem>
#include <memory>

#include "UiTestSupport.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/LogFile.hpp"
#include "Ui/Shell/OmbryCommands.hpp"

namespace ombry::ui_test {
namespace {

namespace fs = std::filesystem;

using ui::commands::Command;
using ui::commands::Menu;

class CommandsTest : public UiTest {
protected:
    ui::OmbryCommands& commands() { return window().commands(); }
    QAction* action(Command c) { return commands().action(c); }
    void activate() {
        auto& w = window();
        app->installKeyboardMonitor();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        turn();
    }
    bool showMenusEnabled() {
        bool all = true, none = true;
        for (const auto& s : ui::commands::table())
            if (s.menu == Menu::playback || s.menu == Menu::program) {
                all = all && action(s.command)->isEnabled();
                none = none && !action(s.command)->isEnabled();
            }
        EXPECT_TRUE(all || none) << "the show menus are enabled or disabled as a whole";
        return all;
    }
};

TEST_F(CommandsTest, TheMenuBarHoldsEveryMenuInOrderWithTheShowKeysShownButNotRegistered) {
    make();
    QMenuBar* bar = window().menuBar();
    QStringList titles;
    for (QAction* a : bar->actions()) titles << a->text();
    EXPECT_EQ(titles, (QStringList{"File", "Edit", "Playback", "Program", "Help"}));
    EXPECT_EQ(action(Command::cutToBlack)->text(), QString("Cut to Black\tB"));
    EXPECT_TRUE(action(Command::cutToBlack)->shortcut().isEmpty()) << "B reaches the show through the key filter only";
    EXPECT_EQ(action(Command::addMedia)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
    EXPECT_EQ(action(Command::settings)->parent(), static_cast<QObject*>(commands().menu(Menu::edit)));
    EXPECT_EQ(action(Command::checkForUpdates)->parent(), static_cast<QObject*>(commands().menu(Menu::help)));
    for (QAction* a : bar->findChildren<QAction*>()) {
        if (!a->isSeparator() && !a->menu()) {
            EXPECT_FALSE(a->text().isEmpty());
        }
    }
}

TEST_F(CommandsTest, ClearingFromTheMenuCancelsTheAdvanceAndCutToBlackDoesNot) {
    make();
    struct Case {
        Command command;
        bool advanceStays;
    };
    for (const Case& c : {Case{Command::cutToBlack, true}, Case{Command::clearMediaLayer, false},
                          Case{Command::clearAllLayers, false}}) {
        SCOPED_TRACE(ui::commands::entry(c.command).title);
        app->program.clearAll();
        app->program.setBlack(false);
        const MediaItem a = add(video("red")), b = add(video("green"));
        playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 30; });
        ASSERT_TRUE(app->trigger(*app->library.item(a.id), false));
        ASSERT_TRUE(app->advancePending());
        activate();
        action(c.command)->trigger();
        EXPECT_EQ(app->advancePending(), c.advanceStays);
        if (c.command == Command::cutToBlack) {
            EXPECT_TRUE(app->program.state().black);
            action(c.command)->trigger();
            EXPECT_FALSE(app->program.state().black) << "chosen twice, the output is restored";
        } else {
            EXPECT_FALSE(onAir());
            advance(0.1);
            q.advance(31);
            EXPECT_FALSE(onAir()) << "the cleared playlist does not go on by itself";
        }
    }
}

TEST_F(CommandsTest, VolumeItemsStepThreeDecibelsWithinTheFaderRange) {
    make();
    activate();
    struct Case {
        double from;
        Command command;
        double to;
    };
    for (const Case& c : {Case{0, Command::volumeUp, 3}, Case{4.5, Command::volumeUp, 6}, Case{6, Command::volumeUp, 6},
                          Case{-58.5, Command::volumeDown, -60}, Case{-60, Command::volumeDown, -60},
                          Case{-3, Command::volumeDown, -6}}) {
        app->setMasterVolumeDB(c.from);
        action(c.command)->trigger();
        EXPECT_DOUBLE_EQ(app->masterVolumeDB(), c.to) << c.from;
    }
    app->setMasterVolumeDB(-12);
    action(Command::mute)->trigger();
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -60);
    action(Command::mute)->trigger();
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -12);
}

TEST_F(CommandsTest, TheShowMenusAreDisabledWhileTextIsEditedOrTheWindowIsNotActive) {
    make();
    activate();
    EXPECT_TRUE(showMenusEnabled());
    auto* field = new QLineEdit(window().board());
    field->show();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    EXPECT_TRUE(app->isTextEditing());
    EXPECT_FALSE(showMenusEnabled());
    EXPECT_TRUE(action(Command::addMedia)->isEnabled()) << "the file commands stay";
    EXPECT_TRUE(action(Command::settings)->isEnabled());
    // A chord of a disabled item does nothing.
    const MediaItem a = add(video("red")), b = add(video("green"));
    playlist({a.id, b.id});
    app->setSelectedItemId(b.id);
    const auto before = app->visibleClips();
    QTest::keyClick(window().windowHandle(), Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(app->visibleClips().front().id, before.front().id);

    window().board()->setFocus();
    QTRY_VERIFY(!app->isTextEditing());
    EXPECT_TRUE(showMenusEnabled());
    QTest::keyClick(window().windowHandle(), Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(app->visibleClips().front().id, b.id) << "enabled again, the chord moves the clip up";
    (void)a;

    // Another window in front: the show menus go.
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    QTRY_VERIFY(!app->isMainWindowFocused());
    EXPECT_FALSE(showMenusEnabled());
    EXPECT_TRUE(action(Command::newProject)->isEnabled());
}

TEST_F(CommandsTest, KeysGoToAnOpenMenuNotToTheShow) {
    make();
    activate();
    app->setMasterVolumeDB(0);
    QMenu* program = commands().menu(Menu::program);
    window().menuBar()->setActiveAction(program->menuAction());
    QTRY_VERIFY(program->isVisible());
    QTest::keyClick(program->windowHandle(), Qt::Key_Down);
    QTest::keyClick(program->windowHandle(), Qt::Key_B);
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), 0) << "Down moved through the menu";
    EXPECT_FALSE(app->program.state().black);
    EXPECT_TRUE(program->activeAction());
    program->close();
    QTRY_VERIFY(!program->isVisible());
    QTest::keyClick(window().windowHandle(), Qt::Key_Down);
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -3) << "with the menu closed the key is the show's again";
}

TEST_F(CommandsTest, OpenRecentListsTheRecentProjectsNewestFirstAndOpensTheChosenOne) {
    make();
    EXPECT_FALSE(ui::commands::recentItems(RecentsStore{}).size()) << "an empty list has no items";
    const fs::path other = Store::projectsDir() / "Rock & Roll.ombry";
    Store::saveDoc(ProjectDoc::make("Rock & Roll"), other);
    const fs::path first = *app->projects().currentProjectURL();
    app->projects().openProject(other);
    turn();
    QMenu* recent = commands().recentMenu();
    ASSERT_TRUE(recent->menuAction()->isEnabled());
    ASSERT_EQ(recent->actions().size(), 2);
    EXPECT_EQ(recent->actions()[0]->text(), QString("Rock && Roll")) << "the name as plain text, newest first";
    recent->actions()[1]->trigger();
    EXPECT_EQ(*app->projects().currentProjectURL(), first);
    turn();
    EXPECT_EQ(recent->actions()[0]->text(), QString::fromStdString(app->library.projectName()));
}

TEST_F(CommandsTest, NewPlaylistSettingsAndRevealCrashLogsReachTheirTargets) {
    make();
    activate();
    action(Command::newPlaylist)->trigger();
    ASSERT_TRUE(app->playlistEditor);
    EXPECT_EQ(*app->playlistEditor, PlaylistEditorTarget::create({}));

    action(Command::settings)->trigger();
    ASSERT_TRUE(windows.window("settings"));
    EXPECT_TRUE(windows.window("settings")->isVisible());

    action(Command::revealCrashLogs)->trigger();
    ASSERT_EQ(reveal.shown.size(), 1u);
    EXPECT_EQ(reveal.shown[0], std::vector<fs::path>{logsDir()});
    EXPECT_TRUE(fs::is_directory(logsDir())) << "made so the file manager has a folder to show";
}

TEST_F(CommandsTest, ItemsOfOtherPartsStayDisabledUntilTheirHooksAreConnected) {
    make();
    EXPECT_FALSE(action(Command::checkForUpdates)->isEnabled()) << "a window without an updater";
    EXPECT_TRUE(action(Command::importSlides)->isEnabled()) << "the window connects its slides link sheet";
    // Shared with the hooks: the window refreshes its commands again while the fixture tears it down.
    auto canCheck = std::make_shared<bool>(false);
    auto checks = std::make_shared<int>(0), sheets = std::make_shared<int>(0);
    commands().setHooks({[checks] { ++*checks; }, [canCheck] { return *canCheck; }, [sheets] { ++*sheets; }});
    EXPECT_FALSE(action(Command::checkForUpdates)->isEnabled()) << "the updater cannot check yet";
    EXPECT_TRUE(action(Command::importSlides)->isEnabled());
    *canCheck = true;
    commands().refresh();
    EXPECT_TRUE(action(Command::checkForUpdates)->isEnabled());
    action(Command::checkForUpdates)->trigger();
    action(Command::importSlides)->trigger();
    EXPECT_EQ(*checks, 1);
    EXPECT_EQ(*sheets, 1);
}

}  // namespace
}  // namespace ombry::ui_test
