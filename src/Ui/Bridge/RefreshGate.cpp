#include "Ui/Bridge/RefreshGate.hpp"

#include <QEvent>

namespace ombry::ui {

int RefreshGate::defaultIntervalMs = 0;

RefreshGate::RefreshGate(QWidget* view, std::function<void()> refresh, int intervalMs)
    : QObject(view), view_(view), refresh_(std::move(refresh)) {
    timer_.setSingleShot(true);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &RefreshGate::fire);
    if (view) view->installEventFilter(this);
}

void RefreshGate::watch(StateSignals& stateSignals, std::initializer_list<Aspect> aspects) {
    std::uint64_t mask = 0;
    for (Aspect a : aspects) mask |= std::uint64_t(1) << unsigned(a);
    connect(&stateSignals, &StateSignals::changed, this, [this, mask](Aspect a) {
        if (mask & (std::uint64_t(1) << unsigned(a))) poke();
    });
}

void RefreshGate::poke() {
    if (!timer_.isActive()) timer_.start();
}

void RefreshGate::flush() {
    timer_.stop();
    fire();
}

void RefreshGate::fire() {
    if (!view_ || !view_->isVisible()) {
        stale_ = true;
        return;
    }
    stale_ = false;
    ++refreshes_;
    refresh_();
}

bool RefreshGate::eventFilter(QObject* watched, QEvent* event) {
    // Show arrives before the view counts as visible to its parent: refresh on the next turn.
    if (watched == view_ && event->type() == QEvent::Show && stale_) poke();
    return QObject::eventFilter(watched, event);
}

}  // namespace ombry::ui
