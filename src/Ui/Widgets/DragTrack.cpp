#include "Ui/Widgets/DragTrack.hpp"

#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace ombry::ui {

namespace track {
namespace {
double clamp01(double v) { return v >= 0 ? std::min(v, 1.0) : 0.0; }
}  // namespace
double usable(double width) { return std::max(1.0, width - 2 * inset); }
double x(double fraction, double width) { return inset + usable(width) * clamp01(fraction); }
double fractionAt(double x, double width) { return clamp01((x - inset) / usable(width)); }
}  // namespace track

DragTrack::DragTrack(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, steps);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(trackHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // A change from outside the pointer (accessibility) is the one that reaches valueChanged unblocked.
    connect(this, &QSlider::valueChanged, this, [this](int v) {
        fraction_ = double(v) / steps;
        update();
        emit adjusted(fraction_);
    });
}

void DragTrack::showValue(double fraction) {
    const QSignalBlocker block(this);
    setValue(int(std::lround(std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0) * steps)));
}

void DragTrack::setFraction(double fraction) {
    if (fraction == fraction_) return;
    fraction_ = std::isfinite(fraction) ? fraction : 0;
    showValue(fraction_);
    update();
}

double DragTrack::fractionAt(double x) const { return track::fractionAt(x, width()); }

void DragTrack::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    dragging_ = true;
    const double f = fractionAt(event->position().x());
    setFraction(f);
    emit dragged(f);
}

void DragTrack::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return event->ignore();
    const double f = fractionAt(event->position().x());
    setFraction(f);
    emit dragged(f);
}

void DragTrack::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return event->ignore();
    dragging_ = false;
    const double f = fractionAt(event->position().x());
    setFraction(f);
    if (commits_)
        emit committed(f);
    else
        emit dragged(f);
}

void DragTrack::wheelEvent(QWheelEvent* event) { event->ignore(); }

void DragTrack::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double w = width(), mid = height() / 2.0, usable = track::usable(w);
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.18f));
    p.drawRoundedRect(QRectF(track::inset, mid - 1.5, usable, 3), 1.5, 1.5);
    const double x = track::x(fraction_, w);
    if (x > track::inset) {
        p.setBrush(QColor::fromRgbF(1, 1, 1, 0.55f));
        p.drawRoundedRect(QRectF(track::inset, mid - 1.5, x - track::inset, 3), 1.5, 1.5);
    }
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(x, mid), 5, 5);
}

}  // namespace ombry::ui
