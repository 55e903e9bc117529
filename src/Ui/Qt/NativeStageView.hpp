#pragma once
// epoxy before any Qt header that pulls in the system GL header.
#include <epoxy/gl.h>

#include <QOpenGLWidget>

#include <memory>

#include "Render/NativeStageView.hpp"
#include "Render/StageViewTarget.hpp"

namespace ombry {
class NativeStageRenderer;
}

namespace ombry::ui {

// A widget that shows the composed stage, letterboxed, with corners rounded by `cornerRadius` points
// (transparent corners and bars when above 0). It registers with the renderer when made and leaves its
// table when destroyed; the renderer presents into it on every frame while it can be seen. The renderer
// must outlive the view.
class NativeStageView : public QOpenGLWidget {
public:
    NativeStageView(NativeStageRenderer& renderer, double cornerRadius, QWidget* parent = nullptr);
    ~NativeStageView() override;

    double cornerRadius() const { return cornerRadius_; }
    // From the view's current size and scale (sizes of hidden views change without events).
    StageDrawable drawable() const;
    uint64_t framesShown() const { return shown_; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    bool event(QEvent* event) override;

private:
    class Target;
    void updateDrawable() const;

    NativeStageRenderer& renderer_;
    double cornerRadius_;
    std::shared_ptr<Target> target_;
    StagePresentRing ring_;
    mutable StageDrawable drawable_;
    unsigned readFramebuffer_ = 0;
    uint64_t lastSerial_ = 0;
    uint64_t shown_ = 0;
};

// The program preview of the main window: the stage with corners rounded by 9 points.
class ProgramPreviewNative : public QWidget {
public:
    static constexpr double cornerRadius = 9;
    explicit ProgramPreviewNative(NativeStageRenderer& renderer, QWidget* parent = nullptr);
    NativeStageView* view() const { return view_; }

private:
    NativeStageView* view_;
};

}  // namespace ombry::ui
