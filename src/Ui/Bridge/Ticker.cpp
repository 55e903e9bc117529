#include "Ui/Bridge/Ticker.hpp"

namespace ombry::ui {

namespace {
bool anyPlaying(const ProgramState& s) {
    for (LayerId l : {LayerId::media, LayerId::audio, LayerId::overlay, LayerId::background})
        if (const auto& cue = s.layers[l].active; cue && cue->playing) return true;
    return false;
}
}  // namespace

Ticker::Ticker(StateSignals& stateSignals, QObject* parent) : QObject(parent), state_(stateSignals.state()) {
    connect(&stateSignals, &StateSignals::changed, this, [this](Aspect a) {
        if (a == Aspect::program || a == Aspect::uiVisible) sync();
        if (a == Aspect::clockEpoch) {
            // A re-based playhead redraws once even while nothing plays.
            ++ticks_;
            emit tick();
        }
    });
    sync();
}

Ticker::~Ticker() { next_.cancel(); }

void Ticker::sync() {
    const bool run = state_.uiVisible() && anyPlaying(state_.program.state());
    if (run == running_) return;
    running_ = run;
    if (run)
        schedule();
    else
        next_.cancel();
}

void Ticker::schedule() {
    next_ = mainQueue().postAfter(interval, [this] {
        if (!running_) return;
        ++ticks_;
        emit tick();
        if (running_) schedule();
    });
}

}  // namespace ombry::ui
