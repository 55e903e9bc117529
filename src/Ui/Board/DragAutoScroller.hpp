#pragma once
// Scrolls the board by itself while the left button is held near its top or bottom edge (a marquee or a
// drag over the sections). Ticks every 1/60 s on the GUI thread; stops at the first tick without the
// button. Speeds: board_rules::scrollVelocity.
#include <QObject>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>

#include <functional>

namespace ombry::ui {

class PointerState;

class DragAutoScroller final : public QObject {
    Q_OBJECT
public:
    explicit DragAutoScroller(PointerState& pointer, QObject* parent = nullptr);

    // The scroll view it drives; none makes ticks do nothing.
    QPointer<QScrollArea> probe;
    // Called with the distance actually scrolled (positive toward the end).
    std::function<void(double)> onScroll;

    void begin();
    void stop();
    bool running() const { return timer_.isActive(); }
    // One tick.
    void step();

private:
    PointerState& pointer_;
    QTimer timer_;
    double carry_ = 0;  // the fraction of a pixel not scrolled yet
};

}  // namespace ombry::ui
