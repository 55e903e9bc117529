// The main window on a private X server with two issue banners (an error and the browser-source warning,
// counted twice), an encode under way and the status bar. The screenshot, chrome-window.png, is for a
// person to look at.
#include <QDir>
#include <QLabel>
#include <QScreen>

#include <cstdlib>

#include "UiTestSupport.hpp"
#include "Ui/Shell/IssueBannerView.hpp"
#include "Ui/Shell/RootChromeView.hpp"
#include "Ui/Shell/StatusBarView.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class ChromeWindowShot : public UiTest {};

TEST_F(ChromeWindowShot, TwoBannersAndTheStatusBar) {
    ui::theme::apply(*qApp);
    make();
    auto& w = window();
    const MediaItem clip = add(image());
    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    IssueLog::shared().report(IssueCode::mediaMissing, "Opening Titles.mov");
    IssueLog::shared().report(IssueCode::browserSourceCodec, "Sponsor Loop.mov", std::nullopt, true);
    IssueLog::shared().report(IssueCode::browserSourceCodec, "Sponsor Loop.mov", std::nullopt, true);
    turn();
    ASSERT_EQ(w.chrome()->bannerIds().size(), 2u);
    auto banners = w.chrome()->findChildren<ui::IssueBannerView*>("issueBanner");
    for (auto* b : banners) {
        EXPECT_LE(b->width(), 720);
        // Centred over the window.
        const QPoint mid = b->mapTo(&w, b->rect().center());
        EXPECT_NEAR(mid.x(), w.width() / 2, 2);
    }
    auto* bar = w.findChild<ui::StatusBarView*>("statusBar");
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->height(), 28);
    EXPECT_EQ(bar->mapTo(&w, QPoint(0, bar->height())).y(), w.height()) << "along the bottom edge";
    EXPECT_EQ(bar->findChild<QLabel*>("onAirText")->text(), "On Air");
    QTest::qWait(100);  // let the X server draw (a screenshot, not a check)
    const QImage shot = w.screen()->grabWindow(w.winId()).toImage();
    ASSERT_FALSE(shot.isNull());
    const char* dir = std::getenv("OMBRY_SCREENSHOTS");
    const QString file = (dir ? QString::fromUtf8(dir) : QDir::currentPath()) + QStringLiteral("/chrome-window.png");
    EXPECT_TRUE(shot.save(file)) << file.toStdString();
    std::printf("screenshot: %s (%dx%d)\n", file.toUtf8().constData(), shot.width(), shot.height());
}

}  // namespace
}  // namespace ombry::ui_test
