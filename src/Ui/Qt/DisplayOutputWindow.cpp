#include "Ui/Qt/DisplayOutputWindow.hpp"

#include <QDeadlineTimer>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QScreen>

#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Platform/Clock.hpp"
#include "Platform/ThreadPriority.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Engine/Model/Issues.hpp"
#include "Render/VsyncFrameClock.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Qt/QtScreens.hpp"

namespace ombry::ui {

namespace {

// Off unless OMBRY_FRAME_LOG names a file: then one line per swap, "<monotonic seconds> <frame serial>"
// (a serial seen on the swap before is a repeated frame), for the benchmark of what reaches a display.
FILE* openFrameLog() {
    const char* path = std::getenv("OMBRY_FRAME_LOG");
    if (!path || !*path) return nullptr;
    FILE* f = std::fopen(path, "a");
    if (f) std::setvbuf(f, nullptr, _IOLBF, 0);
    return f;
}

}  // namespace

class DisplayOutputWindow::Target final : public StageViewTarget {
public:
    explicit Target(DisplayOutputWindow& w) : window_(w) {}
    bool presentable() const override {
        return window_.presenter_ && window_.exposed_.load() && window_.drawable_.width > 0;
    }
    void present(StageCompositor& compositor) override {
        if (window_.ring_->publish(compositor, window_.drawable_, 0)) {
            std::lock_guard lock(window_.mutex_);
            window_.wake_.notify_one();
        }
    }
    double cornerRadius() const override { return 0; }

private:
    DisplayOutputWindow& window_;
};

class DisplayOutputWindow::Presenter final : public QThread {
public:
    explicit Presenter(DisplayOutputWindow& w) : window_(w) { setObjectName("display-presenter"); }
    void run() override { window_.presentLoop(); }

private:
    DisplayOutputWindow& window_;
};

DisplayOutputWindow::DisplayOutputWindow(QScreen* screen, QtGpuContext& compositorContext,
                                         std::shared_ptr<VsyncSignal> vsync)
    : compositorContext_(compositorContext), vsync_(std::move(vsync)), target_(std::make_shared<Target>(*this)),
      ring_(std::make_unique<StagePresentRing>()) {
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(stageSurfaceFormat());
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setScreen(screen);
    if (screen && screen->refreshRate() >= 10) refreshPeriod_ = 1.0 / screen->refreshRate();
}

DisplayOutputWindow::~DisplayOutputWindow() {
    // Only reached with a stuck presenter when the window was deleted rather than disposed: its context,
    // ring and surface are in use until it returns.
    if (!stop()) presenter_->wait();
    presenter_.reset();
    context_.reset();
    // The ring's targets belong to the compositor's context.
    compositorContext_.makeCurrent();
    ring_.reset();
}

std::shared_ptr<StageViewTarget> DisplayOutputWindow::target() const { return target_; }

bool DisplayOutputWindow::start(const DisplayRect& frame) {
    setGeometry(frame.x, frame.y, frame.width, frame.height);
    create();
    context_ = std::make_unique<QOpenGLContext>();
    context_->setFormat(format());
    context_->setScreen(screen());
    context_->setShareContext(compositorContext_.context());
    if (!context_->create() || !context_->shareContext()) {
        context_.reset();
        return false;
    }
    showFullScreen();
    setGeometry(frame.x, frame.y, frame.width, frame.height);
    requestActivate();
    raise();
    updateDrawable();
    quit_ = false;
    presenter_ = std::make_unique<Presenter>(*this);
    context_->moveToThread(presenter_.get());
    presenter_->start();
    return true;
}

bool DisplayOutputWindow::stop() {
    if (presenter_ && !abandoned_) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        // The presenter signals only under the lock and before it is told to quit, so no blank of this
        // window follows the release and another window can take over pacing at once.
        if (vsync_) vsync_->release(this);
        if (!presenter_->wait(QDeadlineTimer(stopTimeout))) {
            abandoned_ = true;
            Diag::note("DSP", "A display window's presenter is stuck in a swap; the window is freed when it returns");
        }
    }
    if (presenter_ && presenter_->isFinished()) {
        presenter_->wait();
        presenter_.reset();
        context_.reset();
        abandoned_ = false;
    }
    hide();
    return !presenter_;
}

void DisplayOutputWindow::dispose(std::unique_ptr<DisplayOutputWindow> window) {
    if (!window || window->stop()) return;
    DisplayOutputWindow* stuck = window.release();
    QObject::connect(stuck->presenter_.get(), &QThread::finished, stuck, &QObject::deleteLater, Qt::QueuedConnection);
    // It may have returned before the connection was made; a second deleteLater is harmless.
    if (stuck->presenter_->isFinished()) stuck->deleteLater();
}

void DisplayOutputWindow::updateDrawable() {
    drawable_ = stageDrawableSize(width(), height(), devicePixelRatio(), drawable_);
    pixelWidth_ = drawable_.width;
    pixelHeight_ = drawable_.height;
}

void DisplayOutputWindow::exposeEvent(QExposeEvent*) {
    exposed_ = isExposed();
    wake_.notify_all();
}

void DisplayOutputWindow::resizeEvent(QResizeEvent*) { updateDrawable(); }

bool DisplayOutputWindow::event(QEvent* e) {
    if (e->type() == QEvent::ScreenChangeInternal || e->type() == QEvent::Show) updateDrawable();
    return QWindow::event(e);
}

void DisplayOutputWindow::presentLoop() {
    using clock = std::chrono::steady_clock;
    // A late swap is a dropped frame on the screen.
    platform::raiseThreadPriority(platform::ThreadRole::presenter);
    if (!context_->makeCurrent(this)) return;
    GLuint readFramebuffer = 0;
    glGenFramebuffers(1, &readFramebuffer);
    const auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(refreshPeriod_));
    auto lastSwap = clock::now();
    uint64_t lastSerial = 0;
    FILE* frameLog = openFrameLog();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            // Hidden or minimised: nothing to swap; the frame clock's timer paces meanwhile.
            wake_.wait_for(lock, std::chrono::milliseconds(100), [&] { return quit_ || exposed_.load(); });
            if (quit_) break;
            if (!exposed_.load()) continue;
        }
        const int ww = pixelWidth_.load(), wh = pixelHeight_.load();
        const StagePresentRing::Frame frame = ring_->acquire();
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context_->defaultFramebufferObject());
        glViewport(0, 0, ww, wh);
        glDisable(GL_SCISSOR_TEST);
        if (frame.texture && (frame.width != ww || frame.height != wh)) {
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        if (frame.texture) {
            ring_->copy(frame, readFramebuffer, ww, wh);
            if (frame.serial != lastSerial) {
                lastSerial = frame.serial;
                ++shown_;
            }
        } else {
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        if (beforeSwap_) beforeSwap_();
        context_->swapBuffers(this);
        ++swaps_;
        if (frameLog)
            std::fprintf(frameLog, "%.6f %llu\n", std::chrono::duration<double>(clock::now().time_since_epoch()).count(),
                         static_cast<unsigned long long>(frame.serial));
        // Where the swap does not wait for the vertical blank (no vsync, a virtual screen), keep the
        // screen's cadence by hand so the frame loop is not driven faster than the screen.
        auto now = clock::now();
        if (now < lastSwap + period) {
            std::this_thread::sleep_until(lastSwap + period);
            now = lastSwap + period;
        }
        lastSwap = now;
        if (vsync_) {
            std::lock_guard lock(mutex_);
            if (quit_) break;
            vsync_->vblank(this);
        }
    }
    if (frameLog) std::fclose(frameLog);
    glDeleteFramebuffers(1, &readFramebuffer);
    context_->doneCurrent();
    context_->moveToThread(qGuiApp->thread());
}

namespace {

// The manager's handle on one program window.
class QtDisplayWindow final : public DisplayWindow {
public:
    QtDisplayWindow(std::unique_ptr<DisplayOutputWindow> window, NativeStageRenderer& renderer)
        : window_(std::move(window)), renderer_(renderer) {}
    ~QtDisplayWindow() override { close(); }
    DisplayRect frame() const override {
        if (!window_) return {};
        const QRect g = window_->geometry();
        return {g.x(), g.y(), g.width(), g.height()};
    }
    void setFrame(const DisplayRect& f) override {
        if (window_) window_->setGeometry(f.x, f.y, f.width, f.height);
    }
    void close() override {
        if (!window_) return;
        renderer_.removeView(window_->target().get());
        DisplayOutputWindow::dispose(std::move(window_));
    }

private:
    std::unique_ptr<DisplayOutputWindow> window_;
    NativeStageRenderer& renderer_;
};

}  // namespace

QtDisplayWindowFactory::QtDisplayWindowFactory(NativeStageRenderer& renderer, QtGpuContext& context,
                                               QtScreenProvider& screens, std::shared_ptr<VsyncSignal> vsync)
    : renderer_(renderer), context_(context), screens_(screens), vsync_(std::move(vsync)) {}

std::unique_ptr<DisplayWindow> QtDisplayWindowFactory::create(const DisplayScreen& screen) {
    QScreen* qscreen = screen.id ? screens_.screen(*screen.id) : nullptr;
    if (!qscreen) return nullptr;
    auto window = std::make_unique<DisplayOutputWindow>(qscreen, context_, vsync_);
    if (!window->start(screen.frame)) return nullptr;
    renderer_.addView(window->target());
    return std::make_unique<QtDisplayWindow>(std::move(window), renderer_);
}

}  // namespace ombry::ui
