#pragma once
// epoxy before any Qt header that pulls in the system GL header.
#include <epoxy/gl.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <memory>
#include <string>

#include "Platform/Gpu/GpuContext.hpp"

namespace ombry::ui {

// GL 3.3 core, vsync, an alpha channel (the preview's corners are transparent).
QSurfaceFormat stageSurfaceFormat();

// Before the QApplication is made: the stage format becomes the default, GL on X goes through EGL, and
// all GL widgets share one group of objects, so the preview and the display windows sample the
// compositor's stage texture; a native window (the preview's) turns its ancestors native, not its siblings.
void prepareApplicationGl();

// The compositor's context: a QOpenGLContext on an offscreen surface, in the application's share group.
// Main thread only.
class QtGpuContext final : public GpuContext {
public:
    // Needs the QGuiApplication; returns the context current, or the reason it cannot be made.
    static GpuContextResult create();
    ~QtGpuContext() override;

    bool makeCurrent() override;
    void doneCurrent() override;
    std::string renderer() const override { return renderer_; }
    // Made on the GUI thread; the first thread to make it current takes it, and gives it back to no thread
    // when it is done with it.
    std::unique_ptr<GpuContext> createShared() const override;
    QOpenGLContext* context() const { return context_.get(); }

private:
    QtGpuContext() = default;
    std::unique_ptr<QOffscreenSurface> surface_;
    std::unique_ptr<QOpenGLContext> context_;
    std::string renderer_;
};

}  // namespace ombry::ui
