#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <chrono>
#include <functional>

#include "Platform/Clock.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Render/VsyncFrameClock.hpp"
#include "Ui/DisplayOutputWindow.hpp"
#include "Ui/NativeStageView.hpp"
#include "Ui/QtGpu.hpp"
#include "Ui/QtMainQueue.hpp"
#include "Ui/QtScreens.hpp"
#include "XvfbServer.hpp"

namespace ombry::ui {
namespace {

struct Color {
    int r, g, b, a;
};

::testing::AssertionResult near(QRgb px, Color want, int tolerance = 3) {
    const Color got{qRed(px), qGreen(px), qBlue(px), qAlpha(px)};
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance && std::abs(got.a - want.a) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << ", " << got.a
                                         << "), want (" << want.r << ", " << want.g << ", " << want.b << ", "
                                         << want.a << ")";
}

constexpr Color stageBlue{30, 144, 255, 255};  // "#1E90FF"
constexpr Color black{0, 0, 0, 255};
constexpr Color clear{0, 0, 0, 0};

// One application, GL context and renderer per test process; the frame loop is driven by each test.
class DisplayUiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        xvfb = new test::XvfbServer();
        ASSERT_TRUE(xvfb->running()) << xvfb->error();
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        prepareApplicationGl();
        static int argc = 1;
        static char name[] = "display_ui_tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        queue = new QtMainQueue();
        setMainQueue(queue);
        auto made = QtGpuContext::create();
        ASSERT_TRUE(made.context) << made.error;
        context = static_cast<QtGpuContext*>(made.context.release());
        renderer = NativeStageRenderer::create(*context, nullptr, {.frameClock = nullptr,
                                                                   .audioOutput = media::AudioOutput::createNull(false)})
                       .release();
        ASSERT_TRUE(renderer);
    }
    static void TearDownTestSuite() {
        delete renderer;
        delete context;
        setMainQueue(nullptr);
        delete queue;
        delete app;
        delete xvfb;
    }

    void SetUp() override {
        ASSERT_TRUE(renderer);
        setStage(960, 720);  // 4:3, so a 16:9 screen shows black bars left and right
    }

    void setStage(int64_t w, int64_t h) {
        ProgramState state;
        state.rev = ++rev;
        state.stage = {w, h, 60, "#1E90FF"};
        renderer->apply(state);
    }

    // Runs the event loop and the frame loop until `done` holds or five seconds pass.
    static bool spin(const std::function<bool()>& done, bool tick = true) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (tick) renderer->tick(appClock().monotonic());
            if (done()) return true;
        }
        return false;
    }

    static inline test::XvfbServer* xvfb = nullptr;
    static inline QApplication* app = nullptr;
    static inline QtMainQueue* queue = nullptr;
    static inline QtGpuContext* context = nullptr;
    static inline NativeStageRenderer* renderer = nullptr;
    static inline int64_t rev = 0;
};

TEST_F(DisplayUiTest, ProgramWindowOnTheSecondScreenShowsTheComposedStage) {
    QtScreenProvider screens;
    DisplayOutputManager manager(screens);
    auto listed = manager.displays();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(listed[0].isPrimary);
    EXPECT_EQ(listed[1].width, 1280);
    EXPECT_EQ(listed[1].height, 720);
    const DisplayId second = listed[1].id;

    manager.setWindowFactory(std::make_unique<QtDisplayWindowFactory>(*renderer, *context, screens, nullptr));
    manager.open(second);
    ASSERT_TRUE(manager.isOpen(second));
    QScreen* screen = screens.screen(second);
    ASSERT_TRUE(screen);

    auto center = [&] { return screen->grabWindow(0).toImage().pixel(640, 360); };
    ASSERT_TRUE(spin([&] { return near(center(), stageBlue); })) << near(center(), stageBlue).message();
    const QImage shot = screen->grabWindow(0).toImage();
    ASSERT_EQ(shot.size(), QSize(1280, 720));
    // The 960 by 720 stage fills the height; 160 pixels of black on each side.
    EXPECT_TRUE(near(shot.pixel(165, 10), stageBlue));
    EXPECT_TRUE(near(shot.pixel(1114, 710), stageBlue));
    EXPECT_TRUE(near(shot.pixel(150, 360), black));
    EXPECT_TRUE(near(shot.pixel(1130, 360), black));
    // The first screen is not covered.
    EXPECT_FALSE(near(screens.screen(listed[0].id)->grabWindow(0).toImage().pixel(960, 540), stageBlue, 20));

    // Closed: the window goes and the renderer no longer presents into it.
    manager.close(second);
    EXPECT_FALSE(manager.isOpen(second));
    EXPECT_TRUE(spin([&] { return !near(center(), stageBlue, 20); }));
}

TEST_F(DisplayUiTest, DisplayWindowPacesTheFrameLoopFromItsSwaps) {
    QtScreenProvider screens;
    DisplayOutputManager manager(screens);
    auto clock = std::make_unique<VsyncFrameClock>(60);
    VsyncFrameClock* pacing = clock.get();
    renderer->setFrameClock(std::move(clock));
    manager.setWindowFactory(std::make_unique<QtDisplayWindowFactory>(*renderer, *context, screens, pacing));
    const DisplayId second = manager.displays().at(1).id;
    manager.open(second);
    const uint64_t composed = renderer->framesComposed();
    EXPECT_TRUE(spin([&] { return pacing->vsyncTicks() >= 10 && renderer->framesComposed() >= composed + 10; },
                     false));
    manager.close(second);
    // Without a window the timer takes over.
    const uint64_t timed = pacing->timerTicks();
    EXPECT_TRUE(spin([&] { return pacing->timerTicks() >= timed + 5; }, false));
    renderer->setFrameClock(nullptr);
}

TEST_F(DisplayUiTest, PreviewShowsTheStageWithRoundedTransparentCorners) {
    setStage(1920, 1080);
    QWidget top;
    top.resize(400, 225);
    auto* preview = new ProgramPreviewNative(*renderer, &top);
    preview->resize(400, 225);
    NativeStageView* view = preview->view();
    EXPECT_EQ(view->cornerRadius(), 9);
    top.show();
    ASSERT_TRUE(spin([&] { return view->framesShown() >= 1; }));
    EXPECT_EQ(view->drawable(), (StageDrawable{400, 225, 1}));

    const QImage image = view->grabFramebuffer().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(400, 225));
    EXPECT_TRUE(near(image.pixel(200, 112), stageBlue));
    EXPECT_TRUE(near(image.pixel(0, 112), stageBlue));  // the edges are straight
    EXPECT_TRUE(near(image.pixel(200, 0), stageBlue));
    for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {399, 0}, {0, 224}, {398, 223}})
        EXPECT_TRUE(near(image.pixel(x, y), clear)) << x << ", " << y;
    EXPECT_TRUE(near(image.pixel(9, 9), stageBlue, 40));
}

TEST_F(DisplayUiTest, ViewOutsideAWindowSizesItsDrawableAtScaleTwoAndKeepsItWhenEmpty) {
    NativeStageView view(*renderer, 0);
    view.resize(400, 225);
    EXPECT_EQ(view.drawable(), (StageDrawable{800, 450, 2}));
    view.resize(0, 225);
    EXPECT_EQ(view.drawable(), (StageDrawable{800, 450, 2}));
}

}  // namespace
}  // namespace ombry::ui
