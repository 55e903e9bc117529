#include "Ui/Program/ProgramTimecode.hpp"

#include <QPainter>

#include <cmath>

#include "Ui/Bridge/Ticker.hpp"
#include "Ui/Program/ProgramPanelRules.hpp"

namespace ombry::ui {

namespace {
QFont timecodeFont() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setPixelSize(13);
    return f;
}
}  // namespace

void drawOverVideo(QPainter& p, const QRectF& rect, int flags, const QString& text, const QColor& color) {
    // The wide soft shadow: eight samples on a ring, the tight one: a cross one point down.
    constexpr int ring = 8;
    p.setPen(QColor::fromRgbF(0, 0, 0, 0.45f / 3));
    for (int i = 0; i < ring; ++i) {
        const double a = i * 2 * M_PI / ring;
        p.drawText(rect.translated(3 * std::cos(a), 3 * std::sin(a)), flags, text);
    }
    p.setPen(QColor::fromRgbF(0, 0, 0, 0.8f / 2));
    for (QPointF d : {QPointF(0, 1), QPointF(-0.5, 1), QPointF(0.5, 1), QPointF(0, 1.5)})
        p.drawText(rect.translated(d), flags, text);
    p.setPen(color);
    p.drawText(rect, flags, text);
}

ProgramTimecode::ProgramTimecode(AppState& state, StateSignals& stateSignals, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("programTimecode"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(timecodeFont());
    auto* gate = new RefreshGate(this, [this] { sync(); });
    gate->watch(stateSignals, {Aspect::program, Aspect::clockEpoch});
    connect(&stateSignals.ticker(), &Ticker::tick, this, [this] {
        if (shown() && panel::rolling(state_.program.state())) sync();
    });
    sync();
}

void ProgramTimecode::sync() {
    const auto layer = panel::primaryLayer(state_.program.state());
    const double t = layer ? std::get<0>(state_.transportProgress(*layer)) : 0.0;
    const QString text = QString::fromStdString(state_.timecode(panel::shownTime(std::nullopt, t, 0)));
    if (text == text_) return;
    text_ = text;
    ++updates_;
    if (changed_) changed_();
    else update();
}

bool ProgramTimecode::shown() const {
    if (!changed_) return isVisible();
    return parentWidget() && parentWidget()->isVisible();
}

void ProgramTimecode::drawInPicture(std::function<void()> changed) {
    changed_ = std::move(changed);
    hide();
}

QSize ProgramTimecode::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(QStringLiteral("00:00:00:00")) + 8, fm.height() + 8};
}

void ProgramTimecode::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintAt(p, QPoint(0, 0));
}

void ProgramTimecode::paintAt(QPainter& p, QPoint origin) const {
    p.save();
    p.setFont(font());
    p.setRenderHint(QPainter::TextAntialiasing);
    drawOverVideo(p, QRectF(QRect(origin, sizeHint())).adjusted(4, 4, -4, -4), Qt::AlignLeft | Qt::AlignVCenter,
                  text_, QColor::fromRgbF(1, 1, 1, 0.75f));
    p.restore();
}

}  // namespace ombry::ui
