#include "Ui/Qt/NativeStageView.hpp"

#include <QVBoxLayout>
#include <QWindow>

#include <epoxy/gl.h>

#include "Render/NativeStageRenderer.hpp"

namespace ombry::ui {

class NativeStageView::Target final : public StageViewTarget {
public:
    explicit Target(NativeStageView& v) : view_(v) {}
    bool presentable() const override {
        // In a shown window, with a drawable, and not fully covered or minimised.
        const QWidget* top = view_.window();
        const QWindow* handle = top ? top->windowHandle() : nullptr;
        if (!handle || !handle->isExposed() || !view_.isVisible() || view_.visibleRegion().isEmpty()) return false;
        const StageDrawable d = view_.drawable();
        return d.width > 0 && d.height > 0;
    }
    void present(StageCompositor& compositor) override {
        if (view_.ring_.publish(compositor, view_.drawable_, view_.cornerRadius_)) view_.update();
    }
    double cornerRadius() const override { return view_.cornerRadius_; }

private:
    NativeStageView& view_;
};

NativeStageView::NativeStageView(NativeStageRenderer& renderer, double cornerRadius, QWidget* parent)
    : QOpenGLWidget(parent), renderer_(renderer), cornerRadius_(cornerRadius), target_(std::make_shared<Target>(*this)) {
    if (cornerRadius_ > 0) {
        // The corners and bars the compositor leaves transparent show what lies behind the view.
        setAttribute(Qt::WA_AlwaysStackOnTop);
        setAttribute(Qt::WA_TranslucentBackground);
    }
    updateDrawable();
    renderer_.addView(target_);
}

NativeStageView::~NativeStageView() {
    renderer_.removeView(target_.get());
    if (readFramebuffer_) {
        makeCurrent();
        glDeleteFramebuffers(1, &readFramebuffer_);
        doneCurrent();
    }
    // The ring's targets belong to the compositor's context.
    renderer_.compositor().context().makeCurrent();
}

StageDrawable NativeStageView::drawable() const {
    updateDrawable();
    return drawable_;
}

void NativeStageView::updateDrawable() const {
    const QWidget* top = window();
    const bool inWindow = top && top->windowHandle();
    drawable_ = stageDrawableSize(width(), height(), inWindow ? std::optional<double>(devicePixelRatioF()) : std::nullopt,
                                  drawable_);
}

bool NativeStageView::event(QEvent* e) {
    const bool handled = QOpenGLWidget::event(e);
    switch (e->type()) {
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::ScreenChangeInternal: updateDrawable(); break;
    default: break;
    }
    return handled;
}

void NativeStageView::initializeGL() { glGenFramebuffers(1, &readFramebuffer_); }

void NativeStageView::resizeGL(int, int) { updateDrawable(); }

void NativeStageView::paintGL() {
    const GLuint target = defaultFramebufferObject();
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, cornerRadius_ > 0 ? 0 : 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const StagePresentRing::Frame frame = ring_.acquire();
    if (!frame.texture) return;
    const int w = int(std::lround(width() * devicePixelRatioF())), h = int(std::lround(height() * devicePixelRatioF()));
    ring_.copy(frame, readFramebuffer_, w, h);
    if (frame.serial != lastSerial_) {
        lastSerial_ = frame.serial;
        ++shown_;
    }
}

ProgramPreviewNative::ProgramPreviewNative(NativeStageRenderer& renderer, QWidget* parent)
    : QWidget(parent), view_(new NativeStageView(renderer, cornerRadius, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
}

}  // namespace ombry::ui
