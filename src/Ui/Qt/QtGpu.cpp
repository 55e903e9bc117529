#include "Ui/Qt/QtGpu.hpp"

#include <QGuiApplication>
#include <QThread>

#include <epoxy/gl.h>

namespace ombry::ui {

QSurfaceFormat stageSurfaceFormat() {
    QSurfaceFormat f;
    f.setRenderableType(QSurfaceFormat::OpenGL);
    f.setVersion(3, 3);
    f.setProfile(QSurfaceFormat::CoreProfile);
    f.setAlphaBufferSize(8);
    f.setDepthBufferSize(0);
    f.setStencilBufferSize(0);
    f.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    f.setSwapInterval(1);
    return f;
}

void prepareApplicationGl() {
    // GLX cannot share objects between contexts on different X screens, so a window on a second screen
    // could not sample the stage texture; EGL shares across the whole X display.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) qputenv("QT_XCB_GL_INTEGRATION", "xcb_egl");
    QSurfaceFormat::setDefaultFormat(stageSurfaceFormat());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The preview's native window needs native ancestors for its clipping, not native siblings: every
    // native window of the main window costs round trips to the X server on each resize and expose.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
}

GpuContextResult QtGpuContext::create() {
    GpuContextResult result;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        result.error = "no GUI application";
        return result;
    }
    std::unique_ptr<QtGpuContext> c(new QtGpuContext());
    c->context_ = std::make_unique<QOpenGLContext>();
    c->context_->setFormat(stageSurfaceFormat());
    c->context_->setShareContext(QOpenGLContext::globalShareContext());
    if (!c->context_->create()) {
        result.error = "the OpenGL context cannot be created";
        return result;
    }
    const QSurfaceFormat got = c->context_->format();
    if (got.majorVersion() * 10 + got.minorVersion() < 33) {
        result.error = "OpenGL 3.3 is not available";
        return result;
    }
    c->surface_ = std::make_unique<QOffscreenSurface>();
    c->surface_->setFormat(c->context_->format());
    c->surface_->create();
    if (!c->surface_->isValid() || !c->makeCurrent()) {
        result.error = "the OpenGL context cannot be made current";
        return result;
    }
    if (const auto* r = reinterpret_cast<const char*>(glGetString(GL_RENDERER))) c->renderer_ = r;
    result.context = std::move(c);
    return result;
}

std::unique_ptr<GpuContext> QtGpuContext::createShared() const {
    std::unique_ptr<QtGpuContext> c(new QtGpuContext());
    c->context_ = std::make_unique<QOpenGLContext>();
    c->context_->setFormat(context_->format());
    c->context_->setShareContext(context_.get());
    if (!c->context_->create() || !c->context_->shareContext()) return nullptr;
    c->surface_ = std::make_unique<QOffscreenSurface>();
    c->surface_->setFormat(c->context_->format());
    c->surface_->create();
    if (!c->surface_->isValid()) return nullptr;
    c->renderer_ = renderer_;
    // No thread until one makes it current (Qt lets a thread pull an object that has none).
    c->context_->moveToThread(nullptr);
    return c;
}

QtGpuContext::~QtGpuContext() {
    if (context_ && QOpenGLContext::currentContext() == context_.get()) context_->doneCurrent();
}

bool QtGpuContext::makeCurrent() {
    if (QOpenGLContext::currentContext() == context_.get() && context_->surface() == surface_.get()) return true;
    if (!context_->thread()) context_->moveToThread(QThread::currentThread());
    return context_->makeCurrent(surface_.get());
}

void QtGpuContext::doneCurrent() {
    if (QOpenGLContext::currentContext() == context_.get()) context_->doneCurrent();
    // A worker gives the context back to no thread, so that the next thread to make it current, or the GUI
    // thread freeing it, can take it.
    QThread* here = QThread::currentThread();
    if (context_->thread() == here && here != QCoreApplication::instance()->thread()) context_->moveToThread(nullptr);
}

}  // namespace ombry::ui
