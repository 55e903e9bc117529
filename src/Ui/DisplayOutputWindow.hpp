#pragma once
// epoxy before any Qt header that pulls in the system GL header.
#include <epoxy/gl.h>

#include <QOpenGLContext>
#include <QThread>
#include <QWindow>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Render/DisplayOutputs.hpp"
#include "Render/NativeStageView.hpp"
#include "Render/StageViewTarget.hpp"

namespace ombry {
class NativeStageRenderer;
class VsyncFrameClock;
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
    // `compositorContext` must outlive the window; `clock` may be null.
    DisplayOutputWindow(QScreen* screen, QtGpuContext& compositorContext, VsyncFrameClock* clock);
    ~DisplayOutputWindow() override;

    // Shows the window over `frame` and starts presenting; false when its context cannot be made.
    bool start(const DisplayRect& frame);
    // Stops presenting and hides the window.
    void stop();

    // What the renderer presents into: held strongly here, weakly by the renderer.
    std::shared_ptr<StageViewTarget> target() const;
    StageDrawable drawable() const { return drawable_; }
    uint64_t framesShown() const { return shown_.load(); }
    uint64_t swaps() const { return swaps_.load(); }

protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    class Target;
    class Presenter;
    void updateDrawable();
    void presentLoop();

    QtGpuContext& compositorContext_;
    VsyncFrameClock* clock_;
    std::shared_ptr<Target> target_;
    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QThread> presenter_;
    std::unique_ptr<StagePresentRing> ring_;
    StageDrawable drawable_;
    double refreshPeriod_ = 1.0 / 60;

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
    // All must outlive the factory; `clock` may be null (the frame loop is then not paced by the windows).
    QtDisplayWindowFactory(NativeStageRenderer& renderer, QtGpuContext& context, QtScreenProvider& screens,
                           VsyncFrameClock* clock);
    std::unique_ptr<DisplayWindow> create(const DisplayScreen& screen) override;

private:
    NativeStageRenderer& renderer_;
    QtGpuContext& context_;
    QtScreenProvider& screens_;
    VsyncFrameClock* clock_;
};

}  // namespace ombry::ui
