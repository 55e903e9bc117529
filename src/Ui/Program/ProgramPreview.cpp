#include "Ui/Program/ProgramPreview.hpp"

#include <QPainter>
#include <QPainterPath>

#include "Ui/Program/ProgramTimecode.hpp"
#include "Ui/Qt/NativeStageView.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {

using preview::Tone;

namespace {

// Badges, read-out and border, over the picture.
void drawOverlay(QPainter& p, const ProgramPreview& owner, QSize size) {
    constexpr int cornerRadius = ProgramPreview::cornerRadius;
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(theme::monoCaption());
    const QFontMetrics fm(p.font());
    const QColor dim(255, 255, 255, 128), dot(255, 255, 255, 89);

    // Layer badges, top-trailing, in the order overlay, media, background, audio.
    int x = size.width() - 6;
    const int bh = fm.height() + 4;
    for (auto it = owner.badges().rbegin(); it != owner.badges().rend(); ++it) {
        const QString tag = QString::fromStdString(it->tag);
        const int w = 4 + 4 + 3 + fm.horizontalAdvance(tag) + 4;
        x -= w;
        const QRectF r(x, 6, w, bh);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 89));
        p.drawRoundedRect(r, bh / 2.0, bh / 2.0);
        const QColor c = it->live ? ProgramPreview::layerColor(it->id) : QColor(255, 255, 255, 51);
        p.setBrush(c);
        p.drawEllipse(QRectF(r.left() + 4, r.center().y() - 2, 4, 4));
        drawOverVideo(p, QRectF(r.left() + 11, r.top(), w - 11, bh), Qt::AlignVCenter | Qt::AlignLeft, tag,
                      it->live ? ProgramPreview::layerColor(it->id) : QColor(255, 255, 255, 140));
        x -= 4;
    }

    // Source and output lines, bottom-leading, shadowed as all text over the picture; y is the baseline.
    auto drawRun = [&](int y, const std::vector<std::pair<QString, QColor>>& parts) {
        int px = 7;
        for (const auto& [text, colour] : parts) {
            const int w = fm.horizontalAdvance(text);
            drawOverVideo(p, QRectF(px, y - fm.ascent(), w + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop, text,
                          colour);
            px += w + 4;
        }
    };
    int y = size.height() - 7 - fm.descent();
    const std::string& out = owner.outputText();
    // "OUT <res> · <fps>p": never coloured.
    const QString o = QString::fromStdString(out);
    const QStringList words = o.split(' ');
    if (words.size() == 4) drawRun(y, {{words[0], dim}, {words[1], dim}, {words[2], dot}, {words[3], dim}});
    if (const auto& s = owner.source()) {
        y -= fm.height() + 2;
        std::vector<std::pair<QString, QColor>> parts{
            {QStringLiteral("SRC"), dim},
            {QStringLiteral("%1x%2").arg(s->width).arg(s->height), ProgramPreview::toneColor(s->sizeTone)}};
        if (s->fps) {
            parts.push_back({QStringLiteral("\u00B7"), dot});
            parts.push_back({QStringLiteral("%1p").arg(*s->fps), ProgramPreview::toneColor(s->rateTone)});
        }
        drawRun(y, parts);
    }

    // Hairline border inside the edge.
    p.setPen(QPen(theme::hairline(), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
}

// Over a plain picture (no GL: widget tests).
class PlainOverlay final : public QWidget {
public:
    explicit PlainOverlay(ProgramPreview& owner) : QWidget(&owner), owner_(owner) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        drawOverlay(p, owner_, size());
    }

private:
    ProgramPreview& owner_;
};

}  // namespace

QColor ProgramPreview::toneColor(Tone tone) {
    switch (tone) {
        case Tone::yellow: return theme::yellow();
        case Tone::orange: return theme::orange();
        case Tone::white: break;
    }
    return Qt::white;
}

QColor ProgramPreview::layerColor(LayerId id) {
    switch (id) {
        case LayerId::background: return theme::layerBackground();
        case LayerId::overlay: return theme::layerOverlay();
        case LayerId::audio: return theme::layerAudio();
        case LayerId::media: break;
    }
    return theme::layerMedia();
}

ProgramPreview::ProgramPreview(AppState& state, StateSignals& stateSignals, PictureFactory picture, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("programPreview"));
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setMinimumHeight(90);
    if (picture) picture_ = picture(state.previewRenderer(), this);
    if (!picture_) {
        picture_ = new QWidget(this);
        picture_->setAutoFillBackground(true);
        QPalette pal = picture_->palette();
        pal.setColor(QPalette::Window, Qt::black);
        picture_->setPalette(pal);
    }
    picture_->setObjectName(QStringLiteral("previewPicture"));
    picture_->setAccessibleName(QStringLiteral("Program preview"));
    timecode_ = new ProgramTimecode(state, stateSignals, this);
    native_ = dynamic_cast<ProgramPreviewNative*>(picture_);
    if (native_) {
        // Nothing can be drawn over a native window: the overlays are painted into the picture.
        native_->setOverlayPainter([this](QPainter& p, QSize size) {
            drawOverlay(p, *this, size);
            timecode_->paintAt(p, timecodeOrigin);
        });
        timecode_->drawInPicture([this] { native_->updateOverlay(); });
    } else {
        overlay_ = new PlainOverlay(*this);
        overlay_->setObjectName(QStringLiteral("previewOverlay"));
    }
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::program, Aspect::media});
    refresh();
}

ProgramPreview::~ProgramPreview() { reshape_.cancel(); }

void ProgramPreview::refresh() {
    const ProgramState& s = state_.program.state();
    const preview::ItemLookup lookup = [this](const std::string& id) { return state_.library.item(id); };
    source_ = preview::sourceLine(s, lookup);
    output_ = preview::outputLine(state_.resolution(), s.stage.fps);
    rolling_ = preview::transportRolling(s);
    badges_.clear();
    for (const LayerVM& vm : state_.layerVMs()) badges_.push_back({vm.tag, vm.id, vm.isLive});
    picture_->setAccessibleDescription(QString::fromStdString(preview::previewDescription(s, lookup)));
    const std::string key = std::to_string(s.stage.width) + "x" + std::to_string(s.stage.height);
    if (key != shapeKey_ && isVisible()) {
        shapeKey_ = key;
        scheduleReshape();
    }
    if (native_) native_->updateOverlay();
    else overlay_->update();
}

void ProgramPreview::scheduleReshape() {
    // A wait cut short still reshapes, at once.
    if (reshape_.valid() && !reshape_.cancelled()) {
        reshape_.cancel();
        applyAspect();
    }
    reshape_ = mainQueue().postAfter(reshapeDelay, [this] {
        reshape_ = {};
        applyAspect();
    });
}

void ProgramPreview::applyAspect() {
    const double a = preview::liveAspect(state_.program.state().stage);
    if (a == previewAspect_) return;
    previewAspect_ = a;
    updateGeometry();
    layoutPicture();
}

void ProgramPreview::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const auto& st = state_.program.state().stage;
    shapeKey_ = std::to_string(st.width) + "x" + std::to_string(st.height);
    scheduleReshape();
}

void ProgramPreview::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (reshape_.valid() && !reshape_.cancelled()) {
        reshape_.cancel();
        reshape_ = {};
        applyAspect();
    }
}

QRect ProgramPreview::pictureRect() const {
    const double a = previewAspect_ > 0 ? previewAspect_ : 16.0 / 9.0;
    int w = width(), h = int(std::lround(w / a));
    if (h > height()) {
        h = height();
        w = int(std::lround(h * a));
    }
    return QRect((width() - w) / 2, (height() - h) / 2, w, h);
}

int ProgramPreview::heightForWidth(int width) const {
    return int(std::lround(width / (previewAspect_ > 0 ? previewAspect_ : 16.0 / 9.0)));
}

QSize ProgramPreview::sizeHint() const { return {320, heightForWidth(320)}; }

void ProgramPreview::paintEvent(QPaintEvent*) {
    // The black base: where a presented frame is transparent, it shows.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(pictureRect()), cornerRadius, cornerRadius);
}

void ProgramPreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPicture();
}

void ProgramPreview::layoutPicture() {
    const QRect r = pictureRect();
    picture_->setGeometry(r);
    if (overlay_) {
        overlay_->setGeometry(r);
        overlay_->raise();
    }
    timecode_->setGeometry(QRect(r.topLeft() + timecodeOrigin, timecode_->sizeHint()));
    timecode_->raise();
}

}  // namespace ombry::ui
