#pragma once
// Beside the program preview: the stereo program meter, the master fader and the master level in dB.
// The meter repaints from the state's meter events at most once per ticker interval.
#include <QSlider>
#include <QWidget>

#include "Ui/Bridge/RefreshGate.hpp"

class QLabel;

namespace ombry::ui {

// Two bars (left at x 0, right at x 8), each 5 wide: the red-yellow-green gradient with the unlit part
// darkened from the top.
class MeterBars final : public QWidget {
public:
    MeterBars(AppState& state, QWidget* parent = nullptr);
    // The levels last drawn.
    double left() const { return l_; }
    double right() const { return r_; }
    void sync();
    int repaints() const { return repaints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppState& state_;
    double l_ = 0, r_ = 0;
    int repaints_ = 0;
};

// The vertical master fader: a groove with a white cap moved up by travel × fraction. To accessibility it is
// a slider over -60...+6 dB in tenths; a change made that way is reported as `adjusted`.
class FaderTrack final : public QSlider {
    Q_OBJECT
public:
    static constexpr int capWidth = 16, capHeight = 9;
    explicit FaderTrack(QWidget* parent = nullptr);
    void setFraction(double fraction);
    double fraction() const { return fraction_; }
    // The cap's rectangle for the current fraction.
    QRectF capRect() const;
    QSize sizeHint() const override { return {capWidth, 80}; }
    QSize minimumSizeHint() const override { return {capWidth, 30}; }

signals:
    void changedByPointer(double fraction);
    void adjusted(double db);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void fromPointer(double y);
    double fraction_ = 0;
    bool dragging_ = false;
};

class AudioMeter final : public QWidget {
public:
    static constexpr int meterIntervalMs = 33;
    AudioMeter(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);
    MeterBars* bars() const { return bars_; }
    FaderTrack* fader() const { return fader_; }
    QLabel* level() const { return level_; }

private:
    void refreshVolume();

    AppState& state_;
    MeterBars* bars_ = nullptr;
    FaderTrack* fader_ = nullptr;
    QLabel* level_ = nullptr;
};

}  // namespace ombry::ui
