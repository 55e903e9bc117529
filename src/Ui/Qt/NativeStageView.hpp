#pragma once
// epoxy before any Qt header that pulls in the system GL header.
#include <epoxy/gl.h>

#include <QImage>
#include <QOpenGLContext>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "Render/NativeStageView.hpp"
#include "Render/StageViewTarget.hpp"

namespace ombry {
class GpuContext;
class NativeStageRenderer;
}

namespace ombry::ui {

// A native child window with an OpenGL surface that shows the composed stage, letterboxed, with corners
// rounded by `cornerRadius` points, and an overlay image over it. The frame loop only publishes each
// frame into the view's ring; a presenter thread with its own context (sharing the compositor's objects)
// draws the newest frame and the overlay and swaps, so the main thread never waits on a swap, and a
// window holding the view stays on the raster backing store: only the view's own area is swapped. It
// registers with the renderer when made and leaves its table when stopped or destroyed; the renderer
// presents into it while it can be seen. The renderer must outlive the view, unless the view is abandoned
// (below). Main thread, except where noted.
class NativeStageView final : public QWindow {
public:
    // How long stop() waits for the presenter before leaving it to finish on its own.
    static constexpr std::chrono::milliseconds stopTimeout{500};

    NativeStageView(NativeStageRenderer& renderer, double cornerRadius);
    // Use abandon() for a view whose stop() gave up: a presenter still running is waited for here.
    ~NativeStageView() override;

    // Leaves the renderer's table and ends the presenter, waiting for it at most stopTimeout; false when
    // it is still running (stuck in a swap), and then still draws into this window.
    bool stop();
    // For a view whose stop() gave up: takes it out of its container and parent, hidden, and frees it on
    // the main thread once the presenter has returned, so nothing it draws into goes before it.
    static void abandon(NativeStageView* view);
    // At exit, before the application goes, when no event loop will free them any more: frees every
    // abandoned view whose presenter returns within `timeout` (in all, not each). One still stuck then is
    // left to the end of the process rather than waited for. How many were left.
    static int freeAbandoned(std::chrono::milliseconds timeout);

    double cornerRadius() const { return cornerRadius_; }
    // What the renderer presents into.
    std::shared_ptr<StageViewTarget> target() const;
    // From the window's current size and scale.
    StageDrawable drawable() const { return drawable_; }
    // Drawn over the stage with premultiplied alpha, stretched to the view; transparent where the stage
    // shows. Outside the stage's rounded rectangle the frame is black unless the overlay covers it.
    void setOverlay(QImage image);
    // Asked on every frame: false while the widget holding the view is hidden or scrolled away.
    void setVisibleInOwner(std::function<bool()> visible) { visibleInOwner_ = std::move(visible); }
    uint64_t framesShown() const { return shown_.load(); }
    // Handed over by the frame loop.
    uint64_t framesPublished() const { return ring_->published(); }
    uint64_t swaps() const { return swaps_.load(); }
    uint64_t overlaysShown() const { return overlaysShown_.load(); }
    // Runs on the presenter thread right before each swap; set before the view is exposed. For tests that
    // hold a presenter in its swap.
    void setBeforeSwap(std::function<void()> hook) { beforeSwap_ = std::move(hook); }

protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    class Target;
    class Presenter;
    class Occlusion;
    void watchOcclusion();
    void updateDrawable();
    void startPresenter();
    void wake();
    void presentLoop();

    NativeStageRenderer& renderer_;
    double cornerRadius_;
    std::shared_ptr<Target> target_;
    std::unique_ptr<StagePresentRing> ring_;
    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QThread> presenter_;
    StageDrawable drawable_;
    std::function<bool()> visibleInOwner_;
    // X tells of a window hidden under others only to those that ask; Qt does not ask for this one.
    std::unique_ptr<Occlusion> occlusion_;
    bool obscured_ = false;
    std::function<void()> beforeSwap_;
    // The compositor's context, which the ring's objects belong to: an abandoned view may outlive the
    // renderer, and the Qt context tells whether the objects still exist.
    GpuContext& compositorGpu_;
    QPointer<QOpenGLContext> compositorContext_;
    bool abandoned_ = false;  // stop() gave up waiting for the presenter

    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool dirty_ = false;
    QImage overlay_;
    uint64_t overlayVersion_ = 0;
    std::atomic<bool> exposed_{false};
    std::atomic<int> pixelWidth_{0}, pixelHeight_{0};
    std::atomic<uint64_t> shown_{0}, swaps_{0}, overlaysShown_{0};
};

// The program preview of the main window: the stage with corners rounded by 9 points, in a native child
// window embedded in this widget. The corners are painted in the colour of what lies behind (the
// palette's window colour), since nothing shows through a native window; the overlay painter draws over
// the picture.
class ProgramPreviewNative : public QWidget {
public:
    static constexpr double cornerRadius = 9;
    using OverlayPainter = std::function<void(QPainter& painter, QSize size)>;

    explicit ProgramPreviewNative(NativeStageRenderer& renderer, QWidget* parent = nullptr);
    // Never waits for a stuck presenter longer than NativeStageView::stopTimeout.
    ~ProgramPreviewNative() override;
    NativeStageView* view() const { return view_; }
    QWidget* container() const { return container_; }

    void setOverlayPainter(OverlayPainter painter);
    // Paints the overlay afresh, once per event-loop turn however often it is asked for.
    void updateOverlay();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void renderOverlay();

    NativeStageView* view_;
    QWidget* container_;
    OverlayPainter painter_;
    bool overlayPending_ = false;
};

}  // namespace ombry::ui
