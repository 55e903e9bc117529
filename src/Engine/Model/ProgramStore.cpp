#include "Engine/Model/ProgramStore.hpp"

#include <algorithm>
#include <cmath>

#include "Platform/Clock.hpp"
#include "Platform/Uuid.hpp"

namespace ombry {
namespace {

// A gain limited to 0...1; a value that is not a number is silence.
double unitGain(double v) {
    if (std::isnan(v)) return 0;
    return std::clamp(v, 0.0, 1.0);
}

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0; }

}  // namespace

ProgramStore::ProgramStore(StageConfig stage) { state_.stage = std::move(stage); }

void ProgramStore::commit(ProgramState next) {
    next.rev = state_.rev + 1;
    state_ = std::move(next);
    if (onChange) onChange(state_);
}

ActiveCue ProgramStore::trigger(const MediaItem& item, const TriggerOptions& options) {
    const LayerId layer =
        options.layer.value_or(item.layer.value_or(item.kind == MediaKind::audio ? LayerId::audio : LayerId::media));
    const bool playing = options.playing.value_or(item.kind != MediaKind::image);
    const bool loop = options.loop.value_or(false);

    ActiveCue cue;
    cue.cueId = makeUuid();
    cue.mediaId = item.id;
    cue.kind = item.kind;
    cue.src = "/media/" + item.id;
    cue.playing = playing;
    cue.loop = loop;
    cue.volume = unitGain(options.volume.value_or(1.0));
    cue.endAction = options.endAction.value_or(loop ? EndAction::loop : EndAction::hold);
    cue.transition.type = options.transitionType.value_or(item.transitionType.value_or(TransitionType::crossfade));
    cue.transition.durationMs = std::max<std::int64_t>(options.durationMs.value_or(600), 0);
    cue.fillMode = options.fillMode ? options.fillMode : item.fillMode;
    cue.trimStart = item.trimStart;
    cue.trimEnd = item.trimEnd;

    transports_.erase(layer);
    anchors_[layer] = TransportAnchor{0, transportNow(), false, finiteOrZero(item.duration.value_or(0))};
    activatedAt_[layer] = appClock().wallMs();

    ProgramState next = state_;
    next.layers[layer].active = cue;
    commit(std::move(next));
    return cue;
}

void ProgramStore::clearLayer(LayerId layer) {
    if (!state_.layers[layer].active) return;
    transports_.erase(layer);
    anchors_.erase(layer);
    activatedAt_.erase(layer);
    ProgramState next = state_;
    next.layers[layer].active.reset();
    commit(std::move(next));
}

void ProgramStore::clearAll() {
    transports_.clear();
    anchors_.clear();
    activatedAt_.clear();
    ProgramState next = state_;
    next.layers = Layers{};
    commit(std::move(next));
}

void ProgramStore::setBlack(bool on) {
    if (state_.black == on) return;
    ProgramState next = state_;
    next.black = on;
    commit(std::move(next));
}

void ProgramStore::setLayerVolume(LayerId layer, double volume) {
    const auto& active = state_.layers[layer].active;
    const double gain = unitGain(volume);
    if (!active || active->volume == gain) return;
    ProgramState next = state_;
    next.layers[layer].active->volume = gain;
    commit(std::move(next));
}

void ProgramStore::setMasterVolume(double gain) {
    const double limited = unitGain(gain);
    if (state_.masterVolume == limited) return;
    ProgramState next = state_;
    next.masterVolume = limited;
    commit(std::move(next));
}

void ProgramStore::setActiveFillMode(const std::string& mediaId, std::optional<FillMode> mode) {
    ProgramState next = state_;
    bool changed = false;
    for (LayerId id : allCases<LayerId>()) {
        auto& active = next.layers[id].active;
        if (!active || active->mediaId != mediaId || active->fillMode == mode) continue;
        active->fillMode = mode;
        changed = true;
    }
    if (changed) commit(std::move(next));
}

void ProgramStore::setLayerPlaying(LayerId layer, bool playing) {
    const auto& active = state_.layers[layer].active;
    if (!active || active->playing == playing) return;
    ProgramState next = state_;
    next.layers[layer].active->playing = playing;
    commit(std::move(next));
}

void ProgramStore::setStage(const std::function<void(StageConfig&)>& change) {
    StageConfig stage = state_.stage;
    if (change) change(stage);
    stage.width = std::clamp<std::int64_t>(stage.width, 16, 8192);
    stage.height = std::clamp<std::int64_t>(stage.height, 16, 8192);
    stage.fps = std::clamp<std::int64_t>(stage.fps, 1, 240);
    if (stage.background == "#000000") stage.background = "transparent";
    if (stage == state_.stage) return;
    ProgramState next = state_;
    next.stage = std::move(stage);
    commit(std::move(next));
}

void ProgramStore::recordStatus(const TransportStatus& reported) {
    const auto& active = state_.layers[reported.layer].active;
    if (!active || active->cueId != reported.cueId) return;  // a late report of a replaced cue

    // A player may report NaN or infinity (an unknown duration); the clock works on finite seconds.
    TransportStatus status = reported;
    status.currentTime = finiteOrZero(status.currentTime);
    status.duration = finiteOrZero(status.duration);
    transports_[status.layer] = status;

    const double now = transportNow();
    auto it = anchors_.find(status.layer);
    bool kept = false;
    if (it != anchors_.end() && it->second.playing && status.playing) {
        const double predicted = it->second.time + (now - it->second.at);
        if (std::abs(status.currentTime - predicted) < 0.4) {
            it->second = TransportAnchor{predicted, now, true, status.duration};
            kept = true;
        }
    }
    if (!kept) {
        anchors_[status.layer] = TransportAnchor{status.currentTime, now, status.playing, status.duration};
        ++clockEpoch_;
        if (onClockEpoch) onClockEpoch(clockEpoch_);
    }
    if (status.ended) setLayerPlaying(status.layer, false);
}

bool ProgramStore::isLive() const {
    if (state_.black) return false;
    for (LayerId id : allCases<LayerId>())
        if (state_.layers[id].active) return true;
    return false;
}

std::set<LayerId> ProgramStore::liveLayers() const {
    std::set<LayerId> live;
    for (LayerId id : allCases<LayerId>())
        if (state_.layers[id].active) live.insert(id);
    return live;
}

}  // namespace ombry
