#pragma once
// What is on the program output: the one owner of the live ProgramState. Main thread only.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "Engine/Model/Protocol.hpp"

namespace ombry {

// Per-take overrides; an absent field falls back to the item or to a fixed default.
struct TriggerOptions {
    std::optional<LayerId> layer = std::nullopt;  // item's layer, else audio for audio, else media
    std::optional<bool> loop = std::nullopt;  // false
    std::optional<double> volume = std::nullopt;  // 1.0
    std::optional<TransitionType> transitionType = std::nullopt;  // item's, else crossfade
    std::optional<std::int64_t> durationMs = std::nullopt;  // 600
    std::optional<EndAction> endAction = std::nullopt;  // loop when looping, else hold
    std::optional<bool> playing = std::nullopt;  // false for images, else true
    std::optional<FillMode> fillMode = std::nullopt;  // item's
};

class ProgramStore final {
public:
    // Revision 0, four empty layers, not black, master volume 1. The stage is taken as given.
    explicit ProgramStore(StageConfig stage = {});

    const ProgramState& state() const { return state_; }
    // The last accepted playback report, playhead clock and take time (ms since 1970) of each layer.
    const std::map<LayerId, TransportStatus>& transports() const { return transports_; }
    const std::map<LayerId, TransportAnchor>& anchors() const { return anchors_; }
    const std::map<LayerId, double>& activatedAt() const { return activatedAt_; }
    // Raised whenever a layer's playhead clock is re-based; timelines restart their interpolation.
    std::int64_t clockEpoch() const { return clockEpoch_; }

    ActiveCue trigger(const MediaItem& item, const TriggerOptions& options = {});
    void clearLayer(LayerId layer);
    void clearAll();
    void setBlack(bool on);
    void setLayerVolume(LayerId layer, double volume);
    void setMasterVolume(double gain);
    void setActiveFillMode(const std::string& mediaId, std::optional<FillMode> mode);
    void setLayerPlaying(LayerId layer, bool playing);
    // Applies the change to a copy of the stage, limits it (16 to 8192 pixels, 1 to 240 fps, "#000000"
    // stored as "transparent") and commits when it differs.
    void setStage(const std::function<void(StageConfig&)>& change);
    void recordStatus(const TransportStatus& status);

    bool isLive() const;
    std::set<LayerId> liveLayers() const;

    // After every committed change, with the new state.
    std::function<void(const ProgramState&)> onChange;
    // The outlet for play, pause and seek of one layer; callers invoke it, the store never does.
    std::function<void(const TransportCommandMessage&)> onTransport;
    // After every change of clockEpoch, with the new value.
    std::function<void(std::int64_t)> onClockEpoch;

private:
    void commit(ProgramState next);

    ProgramState state_;
    std::map<LayerId, TransportStatus> transports_;
    std::map<LayerId, TransportAnchor> anchors_;
    std::int64_t clockEpoch_ = 0;
    std::map<LayerId, double> activatedAt_;
};

}  // namespace ombry
