#pragma once
// epoxy before any Qt header that pulls in the system GL header.
#include <epoxy/gl.h>

#include <QOpenGLContext>
#include <QThread>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "Render/DisplayOutputs.hpp"
#include "Render/NativeStageView.hpp"
#include "Render/StageViewTarget.hpp"

namespace ombry {
class NativeStageRenderer;
class VsyncSignal;
}

namespace ombry::ui {

class QtGpuContext;
class QtScreenProvider;

// A borderless, always-on-top window covering one screen and showing the program. The frame loop only
// publishes each composed frame into the window's ring; a presenter thread with its own context (sharing
// the compositor's objects) copies the newest frame into the window and swaps, one swap per vertical
// blank, so a blocking swap or a slow screen never holds up the main thread. After each swap the
// presenter signals the frame clock.
class DisplayOutputWindow final : public QWindow {
public:
    // How long stop() waits for the presenter before leaving it to finish on its own.
    static constexpr std::chrono::milliseconds stopTimeout{500};

    // `compositorContext` must outlive the window; `vsync` may be null.
    DisplayOutputWindow(QScreen* screen, QtGpuContext& compositorContext, std::shared_ptr<VsyncSignal> vsync);
    // Use dispose() for a window that presented: a presenter stuck in a swap is waited for here.
    ~DisplayOutputWindow() override;

    // Shows the window over `frame` and starts presenting; false when its context cannot be made.
    bool start(const DisplayRect& frame);
    // Stops presenting and hides the window. Waits for the presenter at most stopTimeout; false when it
    // is still stuck (in a swap on a screen that went away), and then still runs on this window.
    bool stop();
    // Stops and frees the window; one whose presenter is stuck is freed on the main thread once the
    // presenter returns, so the main thread never waits on a screen.
    static void dispose(std::unique_ptr<DisplayOutputWindow> window);

    // What the renderer presents into: held strongly here, weakly by the renderer.
    std::shared_ptr<StageViewTarget> target() const;
    StageDrawable drawable() const { return drawable_; }
    uint64_t framesShown() const { return shown_.load(); }
    uint64_t swaps() const { return swaps_.load(); }

    // Runs on the presenter thread right before each swap; set before start(). For tests that hold a
    // presenter in its swap.
    void setBeforeSwap(std::function<void()> hook) { beforeSwap_ = std::move(hook); }

protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    class Target;
    class Presenter;
    void updateDrawable();
    void presentLoop();
    void presenterEnded();

    QtGpuContext& compositorContext_;
    std::shared_ptr<VsyncSignal> vsync_;
    std::shared_ptr<Target> target_;
    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QThread> presenter_;
    std::unique_ptr<StagePresentRing> ring_;
    StageDrawable drawable_;
    double refreshPeriod_ = 1.0 / 60;
    std::function<void()> beforeSwap_;
    bool abandoned_ = false;  // main thread: stop() gave up waiting; dispose() frees it when the presenter ends
    bool disposeWhenEnded_ = false;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::atomic<bool> exposed_{false};
    std::atomic<int> pixelWidth_{0}, pixelHeight_{0};
    std::atomic<uint64_t> shown_{0}, swaps_{0};
};

// Program windows for the display output manager: each registers its view with the renderer when it opens
// and leaves it when it closes.
class QtDisplayWindowFactory final : public DisplayWindowFactory {
public:
    // The renderer, context and screens must outlive the factory. `vsync` may be null; the windows pace
    // the frame loop when the renderer's clock is a VsyncFrameClock on the same signal.
    QtDisplayWindowFactory(NativeStageRenderer& renderer, QtGpuContext& context, QtScreenProvider& screens,
                           std::shared_ptr<VsyncSignal> vsync);
    std::unique_ptr<DisplayWindow> create(const DisplayScreen& screen) override;

private:
    NativeStageRenderer& renderer_;
    QtGpuContext& context_;
    QtScreenProvider& screens_;
    std::shared_ptr<VsyncSignal> vsync_;
};

}  // namespace ombry::ui
