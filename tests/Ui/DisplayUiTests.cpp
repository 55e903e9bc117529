#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "Platform/Clock.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Platform/Ipc/SharedSurface.hpp"
#include "Platform/ThreadPriority.hpp"
#include "Render/VsyncFrameClock.hpp"
#include "Syphon/SyphonOutput.hpp"
#include "Ui/Qt/DisplayOutputWindow.hpp"
#include "Ui/Qt/NativeStageView.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Qt/QtMainQueue.hpp"
#include "Ui/Qt/QtScreens.hpp"
#include "XvfbServer.hpp"
#include "support/ThreadScheduling.hpp"
#include "support/TestEnv.hpp"

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

    // Runs the event loop and the frame loop until `done` holds or `seconds` pass.
    static bool spin(const std::function<bool()>& done, bool tick = true, int seconds = 5) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (tick) renderer->tick(appClock().monotonic());
            if (done()) return true;
        }
        return false;
    }

    // The second screen (1280 by 720), where the program windows open.
    QScreen* secondScreen() { return screens.screen(DisplayOutputManager(screens).displays().at(1).id); }

    QtScreenProvider screens;
    static inline test::XvfbServer* xvfb = nullptr;
    static inline QApplication* app = nullptr;
    static inline QtMainQueue* queue = nullptr;
    static inline QtGpuContext* context = nullptr;
    static inline NativeStageRenderer* renderer = nullptr;
    static inline int64_t rev = 0;
};

TEST_F(DisplayUiTest, ProgramWindowOnTheSecondScreenShowsTheComposedStage) {
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

// A window made and registered by hand, as the factory does, to reach its presenter.
struct OpenWindow {
    std::unique_ptr<DisplayOutputWindow> window;
    static OpenWindow on(QScreen* screen, QtGpuContext& context, NativeStageRenderer& renderer,
                         std::shared_ptr<VsyncSignal> vsync, std::function<void()> beforeSwap = {}) {
        OpenWindow w{std::make_unique<DisplayOutputWindow>(screen, context, std::move(vsync))};
        if (beforeSwap) w.window->setBeforeSwap(std::move(beforeSwap));
        const QRect g = screen->geometry();
        if (!w.window->start({g.x(), g.y(), g.width(), g.height()})) w.window.reset();
        else renderer.addView(w.window->target());
        return w;
    }
    void close(NativeStageRenderer& renderer) {
        if (!window) return;
        renderer.removeView(window->target().get());
        DisplayOutputWindow::dispose(std::move(window));
    }
};

TEST_F(DisplayUiTest, DisplayWindowPacesTheFrameLoopFromItsSwaps) {
    DisplayOutputManager manager(screens);
    auto clock = std::make_unique<VsyncFrameClock>(60);
    VsyncFrameClock* pacing = clock.get();
    auto signal = clock->signal();
    renderer->setFrameClock(std::move(clock));
    manager.setWindowFactory(std::make_unique<QtDisplayWindowFactory>(*renderer, *context, screens, signal));
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

TEST_F(DisplayUiTest, FrameLoopTimerStaysQuietWhileAWindowPaces) {
    QScreen* screen = secondScreen();
    ASSERT_TRUE(screen);
    std::mutex m;
    std::vector<double> swapStarts;  // on the media clock, in order
    auto signal = VsyncSignal::create();
    VsyncFrameClock clock(60, signal);
    uint64_t timerSeen = 0;
    int early = 0;
    clock.start([&](double now) {
        if (clock.timerTicks() != timerSeen) {
            timerSeen = clock.timerTicks();
            // A presenter stateSignals each blank after its swap began and before the next one begins, so
            // the blank of the second-last swap begun by now had been signalled: the timer may fill in
            // only a frame and a half after it. Its ticking along with the blanks breaks that.
            std::lock_guard lock(m);
            const auto begun = std::upper_bound(swapStarts.begin(), swapStarts.end(), now);
            if (begun - swapStarts.begin() >= 2 && now - *(begun - 2) < 1.2 / 60) ++early;
        }
        renderer->tick(now);
    });
    OpenWindow open = OpenWindow::on(screen, *context, *renderer, signal, [&] {
        std::lock_guard lock(m);
        swapStarts.push_back(appClock().monotonic());
    });
    ASSERT_TRUE(open.window);
    ASSERT_TRUE(spin([&] { return clock.vsyncTicks() >= 1; }, false));
    const uint64_t blanks = clock.vsyncTicks(), composed = renderer->framesComposed();
    // Sixty swaps of software GL can take far longer than a second when every core is busy.
    EXPECT_TRUE(spin([&] { return clock.vsyncTicks() >= blanks + 60 && renderer->framesComposed() >= composed + 30; },
                     false, 60));
    EXPECT_EQ(early, 0) << "of " << clock.timerTicks() << " timer ticks, " << early
                        << " came within a frame and a half of a blank";
    open.close(*renderer);
    clock.stop();
}

using test::Scheduling;
using test::schedulingOfThisThread;

TEST_F(DisplayUiTest, PresenterRunsAtARaisedPriorityWhereTheSystemAllows) {
    // What this process may get, tried on a thread of its own.
    platform::PriorityResult allowed{};
    Scheduling wanted;
    std::thread([&] {
        allowed = platform::raiseThreadPriority(platform::ThreadRole::presenter);
        wanted = schedulingOfThisThread();
    }).join();
    if (allowed == platform::PriorityResult::unchanged) GTEST_SKIP() << "no raised priority allowed here";

    QScreen* screen = secondScreen();
    ASSERT_TRUE(screen);
    std::mutex m;
    std::optional<Scheduling> presenter;
    OpenWindow open = OpenWindow::on(screen, *context, *renderer, nullptr, [&] {
        std::lock_guard lock(m);
        if (!presenter) presenter = schedulingOfThisThread();
    });
    ASSERT_TRUE(open.window);
    ASSERT_TRUE(spin([&] {
        std::lock_guard lock(m);
        return presenter.has_value();
    }));
    open.close(*renderer);
    EXPECT_EQ(presenter->policy, wanted.policy);
    EXPECT_EQ(presenter->priority, wanted.priority);
    EXPECT_EQ(presenter->nice, wanted.nice);
    const Scheduling main = schedulingOfThisThread();
    EXPECT_TRUE(presenter->policy == SCHED_FIFO || presenter->nice < main.nice)
        << "policy " << presenter->policy << ", nice " << presenter->nice << " against " << main.nice;
}

TEST_F(DisplayUiTest, SwappingTheRenderersClockWhileAWindowPresentsMovesThePacingToTheNewClock) {
    QScreen* screen = secondScreen();
    ASSERT_TRUE(screen);
    auto signal = VsyncSignal::create();
    auto first = std::make_unique<VsyncFrameClock>(60, signal);
    VsyncFrameClock* firstClock = first.get();
    renderer->setFrameClock(std::move(first));
    OpenWindow open = OpenWindow::on(screen, *context, *renderer, signal);
    ASSERT_TRUE(open.window);
    ASSERT_TRUE(spin([&] { return firstClock->vsyncTicks() >= 5; }, false));

    // The renderer drops its clock while the presenter goes on signalling; its blanks find no clock.
    renderer->setFrameClock(nullptr);
    const uint64_t swaps = open.window->swaps();
    ASSERT_TRUE(spin([&] { return open.window->swaps() >= swaps + 10; }, false));

    // A new clock on the same signal is paced by the window already open.
    auto second = std::make_unique<VsyncFrameClock>(60, signal);
    VsyncFrameClock* secondClock = second.get();
    const uint64_t composed = renderer->framesComposed();
    renderer->setFrameClock(std::move(second));
    EXPECT_TRUE(spin([&] { return secondClock->vsyncTicks() >= 10 && renderer->framesComposed() >= composed + 10; },
                     false));
    open.close(*renderer);
    renderer->setFrameClock(nullptr);
}

// A swap that, once armed, blocks until released, as one on a screen that went away does. Its watchdog frees
// it should the code under test wait for it, so that the fault fails rather than hangs.
class StuckSwap {
public:
    ~StuckSwap() { release(); }
    std::function<void()> beforeSwap() {
        return [this] {
            std::unique_lock lock(m_);
            if (!hold_ || released_) return;
            stuck_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        };
    }
    void arm() {
        std::lock_guard lock(m_);
        hold_ = true;
    }
    bool stuck() {
        std::lock_guard lock(m_);
        return stuck_;
    }
    void startWatchdog() {
        watchdog_ = std::thread([this] {
            std::unique_lock lock(m_);
            if (changed_.wait_for(lock, std::chrono::seconds(20), [&] { return released_; })) return;
            watchdogFired_ = true;
            released_ = true;
            changed_.notify_all();
        });
    }
    // Lets the swap return; whether the watchdog had to free it.
    bool release() {
        bool fired = false;
        {
            std::lock_guard lock(m_);
            fired = watchdogFired_;
            released_ = true;
        }
        changed_.notify_all();
        if (watchdog_.joinable()) watchdog_.join();
        return fired;
    }

private:
    std::mutex m_;
    std::condition_variable changed_;
    bool hold_ = false, stuck_ = false, released_ = false, watchdogFired_ = false;
    std::thread watchdog_;
};

TEST_F(DisplayUiTest, ClosingAWindowWhosePresenterIsStuckInASwapDoesNotWaitForIt) {
    QScreen* screen = secondScreen();
    ASSERT_TRUE(screen);
    StuckSwap swap;
    auto signal = VsyncSignal::create();
    OpenWindow open = OpenWindow::on(screen, *context, *renderer, signal, swap.beforeSwap());
    ASSERT_TRUE(open.window);
    ASSERT_TRUE(spin([&] { return open.window->framesShown() >= 1; }));
    swap.arm();
    ASSERT_TRUE(spin([&] { return swap.stuck(); }, true, 10));
    swap.startWatchdog();

    QPointer<DisplayOutputWindow> window(open.window.get());
    open.close(*renderer);
    EXPECT_TRUE(window) << "the window went while its presenter was still in it";
    EXPECT_FALSE(swap.release()) << "closing waited for the stuck swap";
    // The presenter returns from its swap, ends, and the window is freed on the main thread.
    EXPECT_TRUE(spin([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }));

    // Another window paces at once: the stuck one let go of the pacing when it was closed.
    auto clock = std::make_unique<VsyncFrameClock>(60, signal);
    VsyncFrameClock* pacing = clock.get();
    renderer->setFrameClock(std::move(clock));
    OpenWindow next = OpenWindow::on(screen, *context, *renderer, signal);
    ASSERT_TRUE(next.window);
    EXPECT_TRUE(spin([&] { return pacing->vsyncTicks() >= 5; }, false));
    next.close(*renderer);
    renderer->setFrameClock(nullptr);
}

// The application's frame sharing: the stage is read on a worker whose context shares the Qt one.
TEST_F(DisplayUiTest, FrameSharingReadsTheStageThroughAContextSharedWithTheCompositor) {
    ::setenv("XDG_RUNTIME_DIR", test::tempDir("rt").c_str(), 1);
    ASSERT_TRUE(context->makeCurrent());
    SyphonOutput output("Program", context);
    ASSERT_TRUE(output.server());
    renderer->setCompositeConsumer(SyphonOutput::consumerKey,
                                   [&](const GpuRenderTarget& stage, int) { output.publish(stage); });
    EXPECT_TRUE(spin([&] { return output.framesPublished() >= 2; }));
    renderer->setCompositeConsumer(SyphonOutput::consumerKey, std::nullopt);
    output.flush();
    auto surface = output.server()->newFrameImage();
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface->width(), 960);
    EXPECT_EQ(surface->height(), 720);
    EXPECT_TRUE(surface->flags() & SharedSurface::flagBottomUp) << "read on the frame loop's thread, not a worker";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(surface->read(bytes));
    const uint8_t* p = &bytes[size_t(360) * size_t(surface->bytesPerRow()) + size_t(480) * 4];
    EXPECT_TRUE(near(qRgba(p[2], p[1], p[0], p[3]), stageBlue));
}

// The preview in a top-level window like the main window's: its picture is a native child window, so
// it is seen in a screenshot of the root window, not in the window's backing store.
struct PreviewWindow {
    static constexpr QPoint at{100, 80};
    static constexpr Color background{40, 50, 60, 255};
    static constexpr Color mark{255, 0, 255, 255};
    QWidget top;
    ProgramPreviewNative* preview = nullptr;
    explicit PreviewWindow(NativeStageRenderer& renderer, QSize size = {400, 225}) {
        top.setGeometry(QRect(at, size + QSize(20, 20)));
        QPalette pal = top.palette();
        pal.setColor(QPalette::Window, QColor(background.r, background.g, background.b));
        top.setPalette(pal);
        top.setAutoFillBackground(true);
        preview = new ProgramPreviewNative(renderer, &top);
        preview->setGeometry(QRect(QPoint(10, 10), size));
        // A mark in the top-right corner, as the layer badges sit.
        preview->setOverlayPainter([](QPainter& p, QSize s) {
            p.fillRect(QRect(s.width() - 30, 10, 20, 10), QColor(mark.r, mark.g, mark.b));
        });
    }
    NativeStageView* view() const { return preview->view(); }
    // A pixel of the picture, in its own coordinates, from the root window.
    static QRgb pixel(const QImage& shot, int x, int y) { return shot.pixel(at + QPoint(10 + x, 10 + y)); }
    static QImage shot() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }
    bool shows(QSize size) const {
        const QImage image = shot();
        return view()->overlaysShown() > 0 && near(pixel(image, size.width() / 2, size.height() / 2), stageBlue) &&
               near(pixel(image, size.width() - 20, 15), mark);
    }
};

TEST_F(DisplayUiTest, PreviewShowsTheStageAndItsOverlayInARealWindowAndStaysFittedWhenResized) {
    setStage(1920, 1080);
    PreviewWindow w(*renderer);
    EXPECT_EQ(w.view()->cornerRadius(), 9);
    w.top.show();
    ASSERT_TRUE(spin([&] { return w.shows({400, 225}); }, true, 30))
        << "the stage and the mark are not on the screen";
    EXPECT_EQ(w.view()->drawable(), (StageDrawable{400, 225, 1}));
    EXPECT_GE(w.view()->framesShown(), 1u);

    QImage shot = PreviewWindow::shot();
    shot.copy(QRect(PreviewWindow::at, w.top.size())).save(QStringLiteral(OMBRY_SHOT_DIR "/preview-window.png"));
    // Straight edges in the stage's colour; the corners outside the rounding in the colour behind.
    for (auto [x, y] : {std::pair{0, 112}, {399, 112}, {200, 0}, {200, 224}, {9, 9}, {390, 215}})
        EXPECT_TRUE(near(PreviewWindow::pixel(shot, x, y), stageBlue, 40)) << x << ", " << y;
    for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {399, 0}, {0, 224}, {398, 223}})
        EXPECT_TRUE(near(PreviewWindow::pixel(shot, x, y), PreviewWindow::background, 6)) << x << ", " << y;
    EXPECT_TRUE(near(PreviewWindow::pixel(shot, -5, 100), PreviewWindow::background));

    // Larger: the picture fills the new size, the mark stays top-right.
    w.top.resize(620, 358);
    w.preview->resize(600, 338);
    ASSERT_TRUE(spin([&] { return w.view()->drawable() == StageDrawable{600, 338, 1} && w.shows({600, 338}); }));
    ASSERT_TRUE(spin([&] {
        const QImage image = PreviewWindow::shot();
        return near(PreviewWindow::pixel(image, 598, 300), stageBlue) &&
               near(PreviewWindow::pixel(image, 300, 336), stageBlue) &&
               near(PreviewWindow::pixel(image, 599, 337), PreviewWindow::background, 6);
    }));
    EXPECT_TRUE(near(PreviewWindow::pixel(PreviewWindow::shot(), 602, 300), PreviewWindow::background));
}

// As in the main window: the preview in a scrolling column beside another column.
TEST_F(DisplayUiTest, PreviewInAScrollingColumnMakesOnlyItsAncestorsNative) {
    setStage(1920, 1080);
    QWidget top;
    top.setGeometry(QRect(PreviewWindow::at, QSize(700, 300)));
    auto* layout = new QHBoxLayout(&top);
    auto* beside = new QWidget(&top);
    auto* besideChild = new QLabel(QStringLiteral("board"), beside);
    auto* column = new QScrollArea(&top);
    column->setWidgetResizable(true);
    auto* content = new QWidget();
    auto* contentLayout = new QVBoxLayout(content);
    auto* preview = new ProgramPreviewNative(*renderer, content);
    preview->setFixedSize(320, 180);
    auto* row = new QLabel(QStringLiteral("row"), content);
    contentLayout->addWidget(preview);
    contentLayout->addWidget(row);
    column->setWidget(content);
    layout->addWidget(beside);
    layout->addWidget(column);
    top.show();
    ASSERT_TRUE(spin([&] { return preview->view()->framesShown() >= 1; }, true, 30));
    // The chain that clips the picture is native; nothing beside it is.
    for (QWidget* w : {static_cast<QWidget*>(preview), content, column->viewport()})
        EXPECT_TRUE(w->internalWinId()) << w->metaObject()->className();
    for (QWidget* w : {beside, static_cast<QWidget*>(besideChild), static_cast<QWidget*>(row)})
        EXPECT_FALSE(w->internalWinId()) << w->metaObject()->className();
}

TEST_F(DisplayUiTest, PreviewStopsPresentingWhileHiddenOrCoveredAndResumes) {
    setStage(1920, 1080);
    PreviewWindow w(*renderer);
    w.top.show();
    ASSERT_TRUE(spin([&] { return w.shows({400, 225}); }, true, 30));
    const auto target = w.view()->target();
    // Runs frames while the view is not presentable; true when none of ten composed ones was handed to it
    // (the presenter may still show the one it was handed last).
    auto presentsNothing = [&] {
        if (!spin([&] { return !target->presentable(); })) return false;
        const uint64_t published = w.view()->framesPublished(), shown = w.view()->framesShown();
        const uint64_t composed = renderer->framesComposed();
        spin([&] { return renderer->framesComposed() >= composed + 10; });
        QCoreApplication::processEvents();
        return renderer->framesComposed() >= composed + 10 && w.view()->framesPublished() == published &&
               w.view()->framesShown() <= shown + 1;
    };

    w.top.hide();
    EXPECT_TRUE(presentsNothing()) << "hidden";
    w.top.show();
    uint64_t shown = w.view()->framesShown();
    EXPECT_TRUE(spin([&] { return w.view()->framesShown() > shown + 2; })) << "shown again";

    // Another window over the whole of it.
    QWidget cover;
    cover.setGeometry(QRect(PreviewWindow::at - QPoint(20, 20), w.top.size() + QSize(40, 40)));
    cover.show();
    EXPECT_TRUE(presentsNothing()) << "covered";
    cover.hide();
    shown = w.view()->framesShown();
    EXPECT_TRUE(spin([&] { return w.view()->framesShown() > shown + 2; })) << "uncovered";
}

TEST_F(DisplayUiTest, PreviewSwapHeldOnItsPresenterNeverHoldsTheFrameLoopOrTheOverlay) {
    setStage(1920, 1080);
    std::mutex m;
    std::condition_variable cv;
    bool hold = false, held = false;
    PreviewWindow w(*renderer);
    w.view()->setBeforeSwap([&] {
        std::unique_lock lock(m);
        if (!hold) return;
        held = true;
        cv.notify_all();
        cv.wait(lock, [&] { return !hold; });
        held = false;
    });
    w.top.show();
    ASSERT_TRUE(spin([&] { return w.shows({400, 225}); }, true, 30));
    {
        std::lock_guard lock(m);
        hold = true;
    }
    ASSERT_TRUE(spin([&] {
        std::lock_guard lock(m);
        return held;
    }));
    const uint64_t shown = w.view()->framesShown(), composed = renderer->framesComposed();
    // The frame loop composes and hands frames over, the overlay is painted and resized, all while the
    // presenter sits in its swap.
    for (int i = 0; i < 5; ++i) {
        w.preview->resize(400 - i, 225);
        w.preview->updateOverlay();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(spin([&] { return renderer->framesComposed() >= composed + 20; }));
    EXPECT_EQ(w.view()->framesShown(), shown) << "the presenter did not stay in its swap";
    {
        std::lock_guard lock(m);
        hold = false;
    }
    cv.notify_all();
    EXPECT_TRUE(spin([&] { return w.view()->framesShown() > shown; }));
}


TEST_F(DisplayUiTest, DestroyingThePreviewWhosePresenterIsStuckInASwapDoesNotWaitForIt) {
    setStage(1920, 1080);
    StuckSwap swap;
    auto w = std::make_unique<PreviewWindow>(*renderer);
    w->view()->setBeforeSwap(swap.beforeSwap());
    w->top.show();
    ASSERT_TRUE(spin([&] { return w->shows({400, 225}); }, true, 30));
    swap.arm();
    ASSERT_TRUE(spin([&] { return swap.stuck(); }));
    swap.startWatchdog();

    QPointer<NativeStageView> view(w->view());
    const std::weak_ptr<StageViewTarget> target = view->target();
    w.reset();
    EXPECT_TRUE(view) << "the view went while its presenter was still in it";
    if (view) {
        EXPECT_FALSE(view->isVisible());
    }
    EXPECT_FALSE(swap.release()) << "destroying the preview waited for the stuck swap";
    // The presenter returns from its swap, ends, and the view is freed on the main thread.
    EXPECT_TRUE(spin([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return view.isNull();
    }));
    EXPECT_TRUE(target.expired());
}

TEST_F(DisplayUiTest, AtExitAnAbandonedPreviewIsFreedOnceItsSwapReturnsAndOneStillStuckIsLeftUnwaited) {
    setStage(1920, 1080);
    std::mutex m;
    std::condition_variable changed;
    bool hold = false, stuck = false, released = false;
    auto w = std::make_unique<PreviewWindow>(*renderer);
    w->view()->setBeforeSwap([&] {
        std::unique_lock lock(m);
        if (!hold || released) return;
        stuck = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    });
    w->top.show();
    ASSERT_TRUE(spin([&] { return w->shows({400, 225}); }, true, 30));
    {
        std::lock_guard lock(m);
        hold = true;
    }
    ASSERT_TRUE(spin([&] {
        std::lock_guard lock(m);
        return stuck;
    }));
    QPointer<NativeStageView> view(w->view());
    w.reset();
    ASSERT_TRUE(view) << "not abandoned";

    // The event loop has ended: nothing below runs it. Still stuck, the view is left, after the bound.
    EXPECT_EQ(NativeStageView::freeAbandoned(std::chrono::milliseconds(50)), 1);
    EXPECT_TRUE(view) << "freed while its presenter was still in the swap";
    {
        std::lock_guard lock(m);
        released = true;
    }
    changed.notify_all();
    // Its swap returns: freed.
    EXPECT_EQ(NativeStageView::freeAbandoned(std::chrono::seconds(20)), 0);
    EXPECT_TRUE(view.isNull());
    // The deleteLater it had queued went with it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace ombry::ui
