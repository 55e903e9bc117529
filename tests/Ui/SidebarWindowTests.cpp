// The sidebar in the real main window on a private X server with two screens and a private sound server:
// the second screen's display row opens a program window there and closes it again, and the audio monitor
// picker lists the sound server's sinks. The screenshots
// (sidebar-window.png of the first screen, sidebar-display.png of the second) are kept for a person to look at.
#include <QComboBox>
#include <QDir>
#include <QScreen>
#include <QThreadPool>

#include <chrono>
#include <cstdlib>

#include "Platform/Audio/AudioDeviceProvider.hpp"
#include "PulseServer.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Qt/DisplayOutputWindow.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Qt/QtScreens.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Sidebar/OutputsFooter.hpp"
#include "Ui/Sidebar/SidebarTips.hpp"
#include "Ui/Sidebar/SidebarView.hpp"

namespace ombry::ui_test {
namespace {

bool blue(QRgb px) { return std::abs(qRed(px) - 30) <= 24 && std::abs(qGreen(px) - 144) <= 24 && std::abs(qBlue(px) - 255) <= 24; }

class SidebarWindowTest : public UiTest {
protected:
    std::unique_ptr<ui::QtScreenProvider> qtScreens;
    std::unique_ptr<ui::QtGpuContext> gpu;

    // The state over the real screens, the Qt GL context and its program windows.
    void makeReal() {
        qtScreens = std::make_unique<ui::QtScreenProvider>();
        auto made = ui::QtGpuContext::create();
        ASSERT_TRUE(made.context) << made.error;
        gpu.reset(static_cast<ui::QtGpuContext*>(made.context.release()));
        AppEnvironment e = env();
        e.screens = qtScreens.get();
        e.makeRenderer = [this](MeterEngine* meters) {
            return NativeStageRenderer::create(*gpu, meters, {.frameClock = nullptr, .audioOutput = out});
        };
        app = std::make_unique<AppState>(std::move(e));
        app->transitionDuration = 0;
        app->displays().setWindowFactory(
            std::make_unique<ui::QtDisplayWindowFactory>(app->previewRenderer(), *gpu, *qtScreens, nullptr));
        app->mainWindowDisplay = [this]() -> std::optional<DisplayId> {
            if (!mainWindow || !mainWindow->screen()) return std::nullopt;
            return qtScreens->idOf(mainWindow->screen());
        };
        stateSignals = std::make_unique<ui::StateSignals>(*app);
    }
    void TearDown() override {
        if (app)
            for (DisplayId id : app->displays().openDisplays()) app->displays().close(id);
        mainWindow.reset();
        QThreadPool::globalInstance()->waitForDone();
        UiTest::TearDown();
        gpu.reset();
        qtScreens.reset();
    }
    // Runs the event loop and the frame loop until `done` holds or five seconds pass.
    bool spin(const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            app->previewRenderer().tick(appClock().monotonic());
            if (done()) return true;
        }
        return false;
    }
    static QString shotPath(const char* name) {
        const char* dir = std::getenv("OMBRY_SCREENSHOTS");
        return (dir ? QString::fromUtf8(dir) : QDir::currentPath()) + QLatin1Char('/') + QLatin1String(name);
    }
};

TEST_F(SidebarWindowTest, TheSecondScreensRowOpensAProgramWindowThereAndTheMonitorListsTheSinks) {
    test::PulseServer pulse(test::PulseServer::Options{{"ombry_spare"}, "pulseaudio"});
    OMBRY_REQUIRE_PULSE(pulse);
    ::setenv("PULSE_SERVER", pulse.address().c_str(), 1);
    ui::theme::apply(*qApp);
    makeReal();
    for (const auto& [name, colour] : {std::pair{"Walk-in", "#7596b8"}, {"Keynote", "#6fb495"}, {"Encore", "#c98f5f"}}) {
        const MediaItem m = add(image());
        playlist({m.id}, [&](Group& g) {
            g.name = name;
            g.color = colour;
        });
    }
    app->program.setStage([](StageConfig& s) { s.background = "#1E90FF"; });

    auto& w = window();
    w.move(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    auto* sidebar = w.findChild<ui::SidebarView*>("sidebar");
    ASSERT_TRUE(sidebar);
    ui::OutputsFooter* footer = sidebar->footer();
    turn();

    // The second screen: 1280×720, not primary, not the main window's.
    ASSERT_EQ(footer->displayRows().size(), 2u);
    const auto list = app->displayList();
    const DisplayId second = list.at(1).id;
    EXPECT_EQ(footer->displayRow(second)->data().detail, QString::fromUtf8("1280\u00D7720"));
    EXPECT_EQ(footer->displayRow(list.at(0).id)->data().detail, QString::fromUtf8("1920\u00D71080 \u00B7 primary"));
    QScreen* screen = qtScreens->screen(second);
    ASSERT_TRUE(screen);
    const auto centre = [&] { return screen->grabWindow(0).toImage().pixel(640, 360); };
    EXPECT_FALSE(blue(centre()));

    QTest::mouseClick(footer->displayRow(second), Qt::LeftButton);
    EXPECT_EQ(app->openDisplayIDs(), (std::set<DisplayId>{second}));
    ASSERT_TRUE(spin([&] { return blue(centre()); })) << "the stage on the second screen";
    turn();
    EXPECT_EQ(footer->displayRow(second)->data().label, "ON");
    const QImage display = screen->grabWindow(0).toImage();
    EXPECT_TRUE(display.save(shotPath("sidebar-display.png")));

    // The sound server's sinks, read when the footer came on screen, in the monitor picker.
    QTRY_VERIFY(footer->devicesRead());
    QTest::mouseClick(footer->audioMonitorRow(), Qt::LeftButton);
    auto* tip = static_cast<ui::AudioMonitorTipView*>(footer->audioTip());
    ASSERT_TRUE(tip);
    QStringList choices;
    for (int i = 0; i < tip->picker()->count(); ++i) choices << tip->picker()->itemText(i);
    EXPECT_EQ(choices.value(0), "System Default");
    EXPECT_TRUE(choices.contains(QString::fromLatin1(test::PulseServer::sinkDescription))) << choices.join(", ").toStdString();
    EXPECT_GE(choices.size(), 3);
    QTest::qWait(100);  // let the X server draw (a screenshot, not a check)
    const QImage shot = w.screen()->grabWindow(0).toImage();
    EXPECT_TRUE(shot.save(shotPath("sidebar-window.png")));
    tip->close();

    // Off again: the window goes.
    QTest::mouseClick(footer->displayRow(second), Qt::LeftButton);
    EXPECT_TRUE(app->openDisplayIDs().empty());
    EXPECT_TRUE(spin([&] { return !blue(centre()); })) << "the second screen is bare again";
    ::unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace ombry::ui_test
