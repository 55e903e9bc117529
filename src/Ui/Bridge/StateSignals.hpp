#pragma once
// How a view plugs into the application state:
//
//     StateSignals& stateSignals = ...;                 // one per window, made over the AppState
//     gate_ = new RefreshGate(this, [this] { refresh(); });
//     gate_->watch(stateSignals, {Aspect::program, Aspect::media});
//
// `refresh()` then reads the state afresh, at most once per event-loop turn however many of those aspects
// changed, and only while the view is shown (a hidden view refreshes when it is shown again). Views keep no
// copies of records; writes go straight to the AppState's operations.
#include <QObject>

#include "App/AppState.hpp"

namespace ombry::ui {

class Ticker;

// The only QObject that subscribes to the AppState: its change events as one Qt signal with the aspect,
// always emitted on the GUI thread.
class StateSignals final : public QObject {
    Q_OBJECT
public:
    explicit StateSignals(AppState& state, QObject* parent = nullptr);
    AppState& state() const { return state_; }
    // The window's one shared ticker for playheads and timecode (Ticker.hpp), made on first use.
    Ticker& ticker();

signals:
    void changed(ombry::Aspect aspect);

private:
    AppState& state_;
    Subscription subscription_;
    Ticker* ticker_ = nullptr;
};

}  // namespace ombry::ui

Q_DECLARE_METATYPE(ombry::Aspect)
