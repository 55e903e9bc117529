#pragma once
// The one ticker of a window for playheads and timecode: a tick every 1/30 s while a clip plays and the
// main window is visible, one more when the program clock is re-based, and none otherwise. Runs on the main
// queue, so tests count its ticks on the virtual clock.
#include <QObject>

#include "Platform/MainQueue.hpp"
#include "Ui/Bridge/StateSignals.hpp"

namespace ombry::ui {

class Ticker final : public QObject {
    Q_OBJECT
public:
    static constexpr double interval = 1.0 / 30.0;

    explicit Ticker(StateSignals& stateSignals, QObject* parent = nullptr);
    ~Ticker() override;

    bool running() const { return running_; }
    int ticks() const { return ticks_; }

signals:
    void tick();

private:
    void sync();
    void schedule();

    AppState& state_;
    bool running_ = false;
    int ticks_ = 0;
    TaskHandle next_;
};

}  // namespace ombry::ui
