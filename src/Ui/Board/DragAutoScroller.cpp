#include "Ui/Board/DragAutoScroller.hpp"

#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "Ui/Board/BoardRules.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"

namespace ombry::ui {

DragAutoScroller::DragAutoScroller(PointerState& pointer, QObject* parent) : QObject(parent), pointer_(pointer) {
    timer_.setInterval(1000 / 60);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &DragAutoScroller::step);
}

void DragAutoScroller::begin() {
    if (timer_.isActive()) return;
    carry_ = 0;
    timer_.start();
}

void DragAutoScroller::stop() { timer_.stop(); }

void DragAutoScroller::step() {
    if (!(pointer_.buttons() & Qt::LeftButton)) {
        stop();
        return;
    }
    QScrollArea* area = probe.data();
    if (!area || !area->window() || !area->isVisible()) return;
    QWidget* viewport = area->viewport();
    const QPointF at = viewport->mapFromGlobal(QPointF(pointer_.globalPosition()));
    const double velocity = board_rules::scrollVelocity(QRectF(viewport->rect()), at);
    if (velocity == 0) return;
    QScrollBar* bar = area->verticalScrollBar();
    carry_ += velocity / 60;
    const int want = int(std::trunc(carry_));
    if (want == 0) return;
    carry_ -= want;
    const int from = bar->value();
    bar->setValue(std::clamp(from + want, bar->minimum(), bar->maximum()));
    const int dy = bar->value() - from;
    if (dy == 0) {
        carry_ = 0;
        return;
    }
    if (onScroll) onScroll(dy);
}

}  // namespace ombry::ui
