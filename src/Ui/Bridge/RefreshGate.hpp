#pragma once
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <initializer_list>

#include "Ui/Bridge/StateSignals.hpp"

namespace ombry::ui {

// Coalesces any number of change signals into one refresh() per event-loop turn (or per interval). While
// its view is hidden it only marks it stale; the view refreshes once when it is shown again. Owned by the
// view it refreshes.
class RefreshGate final : public QObject {
    Q_OBJECT
public:
    // The wait after the first signal before the refresh; 0 is the next turn of the event loop.
    static int defaultIntervalMs;

    RefreshGate(QWidget* view, std::function<void()> refresh, int intervalMs = defaultIntervalMs);

    // Refreshes after any of these aspects changed.
    void watch(StateSignals& stateSignals, std::initializer_list<Aspect> aspects);
    // Asks for a refresh, as a watched signal does.
    void poke();
    // Refreshes now when anything is waiting or stale and the view is shown.
    void flush();
    bool pending() const { return timer_.isActive(); }
    bool stale() const { return stale_; }
    int refreshes() const { return refreshes_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fire();

    QPointer<QWidget> view_;
    std::function<void()> refresh_;
    QTimer timer_;
    bool stale_ = false;
    int refreshes_ = 0;
};

}  // namespace ombry::ui
