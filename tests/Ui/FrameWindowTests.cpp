// The window's frame in a real X server: the menus' keys act on the show through the real key path (plain B
// cuts to black and restores; a plain key typed into the search field stays in the field; Ctrl+I asks the
// file-panel seam for Add Media), and screenshots of the toolbar with its pills and of an open menu, kept
// for a person to look at.
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>

#include <cstdlib>

#include "UiTestSupport.hpp"
#include "Ui/Program/ConnectionPills.hpp"
#include "Ui/Program/GlassMenuPicker.hpp"
#include "Ui/Shell/MainWindowRoot.hpp"
#include "Ui/Shell/OmbryCommands.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class FrameWindowTest : public UiTest {
protected:
    static std::string shotPath(const char* name) {
        const char* dir = std::getenv("OMBRY_SCREENSHOTS");
        return (dir ? std::string(dir) : QDir::currentPath().toStdString()) + "/" + name;
    }
};

TEST_F(FrameWindowTest, MenuKeysActThroughTheRealKeyPathAndTheToolbarShows) {
    ui::theme::apply(*qApp);
    make();
    const MediaItem a = add(video("orange")), b = add(video("teal"));
    playlist({a.id, b.id}, [](Group& g) { g.name = "Opening"; });
    app->library.setProjectName("Sunday Evening Service — Main Hall");
    app->rememberCustomResolution("2048x1080");
    auto& w = window();
    w.resize(1400, 860);
    app->installKeyboardMonitor();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    ASSERT_TRUE(app->trigger(*app->library.item(a.id), false));
    advance(0.1);
    QWindow* win = w.windowHandle();

    // Plain B, as the X server delivers it: one toggle per press, never two.
    QTest::keyClick(win, Qt::Key_B);
    EXPECT_TRUE(app->program.state().black);
    QTest::keyClick(win, Qt::Key_B);
    EXPECT_FALSE(app->program.state().black) << "B again restores the output";

    // Typing in the search field: Space is a character of the search, not Play / Pause.
    QLineEdit* search = w.root().search()->field();
    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_VERIFY(search->hasFocus());
    QTRY_VERIFY(!w.commands().action(ui::commands::Command::playPause)->isEnabled());
    const bool playing = onAir()->playing;
    const auto sent = transports.size();
    QTest::keyClick(win, Qt::Key_O);
    QTest::keyClick(win, Qt::Key_Space);
    QTest::keyClick(win, Qt::Key_B);
    EXPECT_EQ(search->text(), "o b");
    EXPECT_EQ(onAir()->playing, playing);
    EXPECT_EQ(transports.size(), sent);
    EXPECT_FALSE(app->program.state().black);
    EXPECT_EQ(app->searchText(), "o b");
    search->clear();
    app->setSearchText("");

    // Ctrl+I from the board: the file-panel seam is asked for "Add Media".
    w.board()->setFocus();
    QTRY_VERIFY(w.commands().action(ui::commands::Command::playPause)->isEnabled());
    QTest::keyClick(win, Qt::Key_I, Qt::ControlModifier);
    ASSERT_EQ(panels.openRequests.size(), 1u);
    EXPECT_EQ(panels.openRequests[0].title, "Add Media");

    // The toolbar with both connection pills, then the Playback menu open over the window.
    control->onClientsChanged(2, 1);
    ble->onClientsChanged(1);
    q.runPending();
    advance(0.2);
    for (int i = 0; i < 4; ++i) turn();
    QTest::qWait(100);  // let the X server draw (a screenshot, not a check)
    QImage shot = w.screen()->grabWindow(w.winId()).toImage();
    ASSERT_FALSE(shot.isNull());
    // The LIVE pill is drawn red.
    const QWidget* pill = w.root().outputPill();
    const QPoint inPill = pill->mapTo(&w, QPoint(4, pill->height() / 2));
    const QColor sampled = shot.pixelColor(inPill);
    EXPECT_GT(sampled.red(), sampled.green() + 60) << sampled.name().toStdString();
    EXPECT_TRUE(shot.save(QString::fromStdString(shotPath("window-frame.png"))));

    QMenu* playback = w.commands().menu(ui::commands::Menu::playback);
    w.menuBar()->setActiveAction(playback->menuAction());
    QTRY_VERIFY(playback->isVisible());
    QTest::qWait(100);
    shot = w.screen()->grabWindow(0).toImage();
    EXPECT_TRUE(shot.save(QString::fromStdString(shotPath("window-frame-menu.png"))));
    playback->close();

    ui::GlassMenuPicker* res = w.root().resolution()->picker();
    res->rebuildMenu();
    res->pickerMenu()->popup(res->mapToGlobal(QPoint(0, res->height())));
    QTRY_VERIFY(res->pickerMenu()->isVisible());
    QTest::qWait(100);
    shot = w.screen()->grabWindow(0).toImage();
    EXPECT_TRUE(shot.save(QString::fromStdString(shotPath("window-frame-picker.png"))));
    res->pickerMenu()->close();
}

}  // namespace
}  // namespace ombry::ui_test
