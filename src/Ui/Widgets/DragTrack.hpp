#pragma once
// A thin horizontal track with a round knob: the scrub track of a layer's transport and its volume track.
// Pressing anywhere moves the knob there; every drag step reports the fraction (dragged), the release the
// final one (committed, or dragged again when the owner wants no separate commit). To accessibility it is a
// slider over 0...1 in thousandths; a change made that way is reported as `adjusted`.
#include <QSlider>

namespace ombry::ui {

// The track's geometry: a 5-point inset at each end, usable = max(1, width - 10).
namespace track {
inline constexpr double inset = 5;
double usable(double width);
// The knob's centre for a fraction (clamped to 0...1): 5 + usable × f.
double x(double fraction, double width);
// The fraction under the pointer: (x - 5) / usable, clamped to 0...1.
double fractionAt(double x, double width);
}  // namespace track

class DragTrack final : public QSlider {
    Q_OBJECT
public:
    static constexpr int steps = 1000;
    static constexpr int trackHeight = 12;

    explicit DragTrack(QWidget* parent = nullptr);
    // The position drawn (values outside 0...1 are drawn clamped); reports nothing.
    void setFraction(double fraction);
    double fraction() const { return fraction_; }
    // Whether the release goes to `committed` (true) or to `dragged` (false, the default).
    void setCommits(bool commits) { commits_ = commits; }
    bool dragging() const { return dragging_; }
    QSize sizeHint() const override { return {120, trackHeight}; }
    QSize minimumSizeHint() const override { return {30, trackHeight}; }

signals:
    void dragged(double fraction);
    void committed(double fraction);
    void adjusted(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    double fractionAt(double x) const;
    void showValue(double fraction);

    double fraction_ = 0;
    bool commits_ = false;
    bool dragging_ = false;
};

}  // namespace ombry::ui
