#include "Ui/Widgets/Chip.hpp"

#include <QPainter>

#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {
constexpr int padX = 8, iconGap = 4, chipHeight = 20, symbolSize = 12;
}

Chip::Chip(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Chip::setSymbol(std::string name) {
    symbol_ = std::move(name);
    updateGeometry();
    update();
}

void Chip::setTint(const QColor& tint) {
    tint_ = tint;
    update();
}

QSize Chip::sizeHint() const {
    int w = 2 * padX + fontMetrics().horizontalAdvance(text());
    if (!symbol_.empty()) w += symbolSize + (text().isEmpty() ? 0 : iconGap);
    return {w, chipHeight};
}

void Chip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = tint_;
    fill.setAlphaF(isChecked() ? 0.85f : (underMouse() ? 0.16f : 0.10f));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    QColor fg = isChecked() ? QColor(Qt::white) : tint_;
    if (!isEnabled()) fg.setAlphaF(0.4f);
    qreal x = padX;
    if (!symbol_.empty()) {
        symbols::draw(p, QRectF(x, (chipHeight - symbolSize) / 2.0, symbolSize, symbolSize), symbol_, fg);
        x += symbolSize + iconGap;
    }
    p.setPen(fg);
    p.drawText(QRectF(x, 0, width() - x - padX + 1, chipHeight), Qt::AlignVCenter | Qt::AlignLeft, text());
}

}  // namespace ombry::ui
