#include "Ui/Widgets/Switch.hpp"

#include <QPainter>
#include <QPainterPath>

namespace ombry::ui {

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Switch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal r = track.height() / 2;
    QColor on = palette().color(QPalette::Highlight), off(255, 255, 255, 40);
    if (!isEnabled()) {
        on.setAlphaF(0.4f);
        off.setAlpha(20);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? on : off);
    p.drawRoundedRect(track, r, r);
    const qreal d = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - d : track.left() + 2;
    p.setBrush(isEnabled() ? QColor(Qt::white) : QColor(200, 200, 200));
    p.drawEllipse(QRectF(x, track.top() + 2, d, d));
}

}  // namespace ombry::ui
