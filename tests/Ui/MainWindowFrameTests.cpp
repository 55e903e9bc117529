// The main window's frame on a real X server across a quit and a start: it comes back where and as large as
// it was, inside the screen's available area.
#include <QScreen>
#include <QStatusBar>

#include "UiTestSupport.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class MainWindowFrameTest : public UiTest {
protected:
    // Quits the window as the operator does (nothing on air: no question) and starts it again.
    ui::MainWindowController& restart() {
        mainWindow->close();
        EXPECT_TRUE(dialogs.asked.empty());
        mainWindow.reset();
        auto& w = window();
        turn();
        return w;
    }
    // Moves and resizes the shown window as the operator would, and waits for the X server to have done it.
    static void place(ui::MainWindowController& w, const QRect& frame) {
        w.setGeometry(frame);
        QTRY_COMPARE(w.frameGeometry(), frame);
    }
    static QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

TEST_F(MainWindowFrameTest, ARestartedWindowComesBackWhereAndAsLargeAsItWas) {
    ui::theme::apply(*qApp);
    ASSERT_EQ(available(), QRect(0, 0, 1920, 1080));
    auto& first = window();
    // The first frame is the available area.
    QTRY_COMPARE(first.frameGeometry(), available());
    const QRect filled = first.frameGeometry();
    auto& second = restart();
    EXPECT_EQ(second.frameGeometry(), filled) << "as shown";
    QTRY_COMPARE(second.frameGeometry(), filled);
    EXPECT_TRUE(available().contains(second.frameGeometry()));
    QStatusBar* status = second.statusBar();
    EXPECT_EQ(status->mapToGlobal(QPoint(0, status->height())).y(), available().bottom() + 1)
        << "the status bar ends on the screen's bottom edge";

    const QRect moved(200, 150, 1300, 800);
    place(second, moved);
    auto& third = restart();
    EXPECT_EQ(third.frameGeometry(), moved) << "as shown";
    QTRY_COMPARE(third.frameGeometry(), moved);
}

TEST_F(MainWindowFrameTest, AFrameSavedPartlyOffTheScreenComesBackInsideItAtItsSize) {
    ui::theme::apply(*qApp);
    auto& w = window();
    // Half of it below and to the right of the screen, as after a larger screen was swapped for this one.
    place(w, QRect(1000, 600, 1300, 800));
    auto& again = restart();
    QTRY_COMPARE(again.frameGeometry(), QRect(620, 280, 1300, 800));
    place(again, QRect(-400, -100, 1300, 800));
    QTRY_COMPARE(restart().frameGeometry(), QRect(0, 0, 1300, 800));
}

}  // namespace
}  // namespace ombry::ui_test
