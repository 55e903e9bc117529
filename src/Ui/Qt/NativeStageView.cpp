#include "Ui/Qt/NativeStageView.hpp"

#include <QAbstractNativeEventFilter>
#include <QDeadlineTimer>
#include <QEvent>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <QtGui/qguiapplication_platform.h>

#include <epoxy/gl.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "Engine/Model/Issues.hpp"
#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/ThreadPriority.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Render/StageCompositor.hpp"
#include "Ui/Qt/QtGpu.hpp"

namespace ombry::ui {

class NativeStageView::Target final : public StageViewTarget {
public:
    explicit Target(NativeStageView& v) : view_(v) {}
    bool presentable() const override {
        // Exposed in a shown window, shown by its owner, with a drawable.
        if (!view_.presenter_ || !view_.exposed_.load() || view_.obscured_ || view_.drawable_.width < 1) return false;
        const QWindow* top = &view_;
        while (top->parent()) top = top->parent();
        if (!top->isExposed()) return false;
        return !view_.visibleInOwner_ || view_.visibleInOwner_();
    }
    void present(StageCompositor& compositor) override {
        if (view_.ring_->publish(compositor, view_.drawable_, view_.cornerRadius_)) view_.wake();
    }
    double cornerRadius() const override { return view_.cornerRadius_; }

private:
    NativeStageView& view_;
};

class NativeStageView::Presenter final : public QThread {
public:
    explicit Presenter(NativeStageView& v) : view_(v) { setObjectName("preview-presenter"); }
    void run() override { view_.presentLoop(); }

private:
    NativeStageView& view_;
};

class NativeStageView::Occlusion final : public QAbstractNativeEventFilter {
public:
    explicit Occlusion(NativeStageView& v) : view_(v) { qGuiApp->installNativeEventFilter(this); }
    ~Occlusion() override { qGuiApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* e = static_cast<const xcb_generic_event_t*>(message);
        if ((e->response_type & 0x7f) != XCB_VISIBILITY_NOTIFY) return false;
        const auto* v = static_cast<const xcb_visibility_notify_event_t*>(message);
        if (v->window == view_.winId()) view_.obscured_ = v->state == XCB_VISIBILITY_FULLY_OBSCURED;
        return false;
    }

private:
    NativeStageView& view_;
};

NativeStageView::NativeStageView(NativeStageRenderer& renderer, double cornerRadius)
    : renderer_(renderer), cornerRadius_(cornerRadius), target_(std::make_shared<Target>(*this)),
      ring_(std::make_unique<StagePresentRing>()), compositorGpu_(renderer.compositor().context()) {
    if (auto* qt = dynamic_cast<QtGpuContext*>(&compositorGpu_)) compositorContext_ = qt->context();
    setSurfaceType(QSurface::OpenGLSurface);
    // Opaque, in the depth of the window around it: X composites a child of another depth into its
    // parent off screen on every swap, and never reports it as hidden under other windows.
    QSurfaceFormat format = stageSurfaceFormat();
    format.setAlphaBufferSize(0);
    setFormat(format);
    // Read-only: clicks and focus stay with the window around it.
    setFlags(flags() | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    updateDrawable();
    renderer_.addView(target_);
}

NativeStageView::~NativeStageView() {
    if (!stop()) presenter_->wait();
    presenter_.reset();
    context_.reset();
    if (abandoned_ && !compositorContext_) {
        // The compositor's context went first, taking the ring's objects with it.
        (void)ring_.release();
        return;
    }
    // The ring's targets belong to the compositor's context.
    compositorGpu_.makeCurrent();
    ring_.reset();
}

bool NativeStageView::stop() {
    if (!abandoned_) {
        renderer_.removeView(target_.get());
        occlusion_.reset();
    }
    if (presenter_ && !abandoned_) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (!presenter_->wait(QDeadlineTimer(stopTimeout))) {
            abandoned_ = true;
            Diag::note("DSP", "The preview's presenter is stuck in a swap; the preview is freed when it returns");
        }
    }
    if (presenter_ && presenter_->isFinished()) {
        presenter_->wait();
        presenter_.reset();
        context_.reset();
    }
    return !presenter_;
}

namespace {
// Main thread: the views abandoned and not yet freed.
std::vector<QPointer<NativeStageView>>& abandonedViews() {
    static std::vector<QPointer<NativeStageView>> views;
    return views;
}
}  // namespace

int NativeStageView::freeAbandoned(std::chrono::milliseconds timeout) {
    auto& views = abandonedViews();
    std::erase_if(views, [](const auto& v) { return v.isNull(); });
    const QDeadlineTimer deadline(timeout);
    int left = 0;
    for (auto& v : views) {
        if (v->presenter_ && !v->presenter_->wait(deadline)) {
            ++left;
            continue;
        }
        // Its presenter has returned: the destructor waits for nothing (the queued deleteLater goes with it).
        delete v.data();
    }
    std::erase_if(views, [](const auto& v) { return v.isNull(); });
    return left;
}

void NativeStageView::abandon(NativeStageView* view) {
    if (!view) return;
    if (view->stop()) {
        delete view;
        return;
    }
    view->hide();
    // Its container forgets it, so the window and its surface stay while the presenter draws into them.
    view->setParent(nullptr);
    QObject::connect(view->presenter_.get(), &QThread::finished, view, &QObject::deleteLater, Qt::QueuedConnection);
    abandonedViews().emplace_back(view);
    // It may have returned before the connection was made; a second deleteLater is harmless.
    if (view->presenter_->isFinished()) view->deleteLater();
}

std::shared_ptr<StageViewTarget> NativeStageView::target() const { return target_; }

void NativeStageView::setOverlay(QImage image) {
    {
        std::lock_guard lock(mutex_);
        overlay_ = std::move(image);
        ++overlayVersion_;
        dirty_ = true;
    }
    wake_.notify_one();
}

void NativeStageView::wake() {
    {
        std::lock_guard lock(mutex_);
        dirty_ = true;
    }
    wake_.notify_one();
}

void NativeStageView::updateDrawable() {
    drawable_ = stageDrawableSize(width(), height(), devicePixelRatio(), drawable_);
    pixelWidth_ = drawable_.width;
    pixelHeight_ = drawable_.height;
}

void NativeStageView::startPresenter() {
    if (presenter_) return;
    QOpenGLContext* share = QOpenGLContext::globalShareContext();
    if (auto* qt = dynamic_cast<QtGpuContext*>(&renderer_.compositor().context())) share = qt->context();
    context_ = std::make_unique<QOpenGLContext>();
    context_->setFormat(format());
    context_->setScreen(screen());
    context_->setShareContext(share);
    if (!context_->create() || !context_->shareContext()) {
        context_.reset();
        return;
    }
    presenter_ = std::make_unique<Presenter>(*this);
    context_->moveToThread(presenter_.get());
    presenter_->start();
}

void NativeStageView::watchOcclusion() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (occlusion_ || !x11 || !x11->connection()) return;
    xcb_connection_t* c = x11->connection();
    const auto window = xcb_window_t(winId());
    auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    if (!attributes) return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    std::free(attributes);
    occlusion_ = std::make_unique<Occlusion>(*this);
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

void NativeStageView::exposeEvent(QExposeEvent*) {
    if (isExposed()) {
        watchOcclusion();
        startPresenter();
    }
    exposed_ = isExposed();
    wake();
}

void NativeStageView::resizeEvent(QResizeEvent*) {
    updateDrawable();
    wake();
}

bool NativeStageView::event(QEvent* e) {
    if (e->type() == QEvent::ScreenChangeInternal || e->type() == QEvent::Show) updateDrawable();
    return QWindow::event(e);
}

void NativeStageView::presentLoop() {
    platform::raiseThreadPriority(platform::ThreadRole::presenter);
    if (!context_->makeCurrent(this)) return;
    GLuint readFramebuffer = 0, vertexArray = 0;
    glGenFramebuffers(1, &readFramebuffer);
    glGenVertexArrays(1, &vertexArray);
    GlTexture overlayTexture;
    QSize overlaySize;
    // The overlay: premultiplied colour over the picture, the image's top row at the top.
    GlProgramResult quad =
        loadGlProgram("stageQuadVertex.glsl", "stageTexturedFragment.glsl", "#define SAMPLING_RGBA_PREMULTIPLIED 1");
    GLint corners = -1;
    if (quad.program) {
        const GLuint id = quad.program.get();
        glUseProgram(id);
        glUniform1i(glGetUniformLocation(id, "u_plane0"), 0);
        glUniform1f(glGetUniformLocation(id, "u_opacity"), 1.0f);
        corners = glGetUniformLocation(id, "u_corners");
        const float c[16] = {-1, 1, 0, 0, 1, 1, 1, 0, -1, -1, 0, 1, 1, -1, 1, 1};
        glUniform4fv(corners, 4, c);
        glUseProgram(0);
    }
    uint64_t lastSerial = 0, shownOverlay = 0;
    for (;;) {
        QImage overlay;
        bool newOverlay = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || (dirty_ && exposed_.load()); });
            if (quit_) break;
            dirty_ = false;
            if (overlayVersion_ != shownOverlay) {
                shownOverlay = overlayVersion_;
                overlay = overlay_;
                newOverlay = true;
            }
        }
        if (newOverlay) {
            if (overlay.isNull()) {
                overlayTexture.reset();
                overlaySize = {};
            } else {
                const QImage rgba = overlay.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
                if (!overlayTexture) {
                    overlayTexture = makeTexture();
                    overlaySize = {};
                }
                glBindTexture(GL_TEXTURE_2D, overlayTexture.get());
                glPixelStorei(GL_UNPACK_ROW_LENGTH, int(rgba.bytesPerLine() / 4));
                if (rgba.size() != overlaySize) {
                    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
                    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
                    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
                    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
                    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, rgba.width(), rgba.height(), 0, GL_RGBA,
                                 GL_UNSIGNED_BYTE, rgba.constBits());
                    overlaySize = rgba.size();
                } else {
                    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, rgba.width(), rgba.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                                    rgba.constBits());
                }
                glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
                glBindTexture(GL_TEXTURE_2D, 0);
            }
        }
        const int ww = pixelWidth_.load(), wh = pixelHeight_.load();
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context_->defaultFramebufferObject());
        glViewport(0, 0, ww, wh);
        glDisable(GL_SCISSOR_TEST);
        // Black under the picture: a premultiplied frame copied as it is shows as if laid over black.
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        const StagePresentRing::Frame frame = ring_->acquire();
        if (frame.texture) ring_->copy(frame, readFramebuffer, ww, wh);
        if (overlayTexture && quad.program) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            glUseProgram(quad.program.get());
            glBindVertexArray(vertexArray);
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, overlayTexture.get());
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            glBindTexture(GL_TEXTURE_2D, 0);
            glBindVertexArray(0);
            glUseProgram(0);
            glDisable(GL_BLEND);
        }
        // Opaque everywhere: a surface with alpha must not let the window behind show through.
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        if (beforeSwap_) beforeSwap_();
        context_->swapBuffers(this);
        ++swaps_;
        if (frame.texture && frame.serial != lastSerial) {
            lastSerial = frame.serial;
            ++shown_;
        }
        if (newOverlay) overlaysShown_ = shownOverlay;
    }
    overlayTexture.reset();
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteFramebuffers(1, &readFramebuffer);
    quad.program.reset();
    context_->doneCurrent();
    context_->moveToThread(qGuiApp->thread());
}

ProgramPreviewNative::ProgramPreviewNative(NativeStageRenderer& renderer, QWidget* parent)
    : QWidget(parent), view_(new NativeStageView(renderer, cornerRadius)) {
    container_ = QWidget::createWindowContainer(view_, this);
    container_->setObjectName(QStringLiteral("previewSurface"));
    container_->setAttribute(Qt::WA_TransparentForMouseEvents);
    container_->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(container_);
    view_->setVisibleInOwner([this] { return container_->isVisible() && !container_->visibleRegion().isEmpty(); });
    // A screen of another scale needs the overlay at its pixels.
    connect(view_, &QWindow::screenChanged, this, [this] { updateOverlay(); });
    updateOverlay();
}

ProgramPreviewNative::~ProgramPreviewNative() {
    if (view_->stop()) return;  // the container frees it
    NativeStageView::abandon(view_);
}

void ProgramPreviewNative::setOverlayPainter(OverlayPainter painter) {
    painter_ = std::move(painter);
    updateOverlay();
}

void ProgramPreviewNative::updateOverlay() {
    if (overlayPending_) return;
    overlayPending_ = true;
    QMetaObject::invokeMethod(this, [this] { renderOverlay(); }, Qt::QueuedConnection);
}

void ProgramPreviewNative::renderOverlay() {
    overlayPending_ = false;
    const QSize size = container_->size();
    if (size.isEmpty()) return;
    const qreal dpr = view_->devicePixelRatio();
    QImage image(QSize(int(std::lround(size.width() * dpr)), int(std::lround(size.height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The corners: what lies behind the preview, since a native window shows nothing through.
    QPainterPath outside;
    outside.addRect(QRectF(QPointF(0, 0), QSizeF(size)));
    QPainterPath inside;
    inside.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), cornerRadius, cornerRadius);
    p.fillPath(outside.subtracted(inside), palette().color(QPalette::Window));
    if (painter_) {
        p.save();
        painter_(p, size);
        p.restore();
    }
    p.end();
    view_->setOverlay(std::move(image));
}

void ProgramPreviewNative::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateOverlay();
}

void ProgramPreviewNative::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateOverlay();
}

void ProgramPreviewNative::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) updateOverlay();
}

}  // namespace ombry::ui
