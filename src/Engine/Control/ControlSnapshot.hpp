#pragma once
// What remotes see of the show: the state snapshot and the playhead tick sent between snapshots.
//
// JSON keys are the field names. Absent optionals are left out, never written as null, except the entries of
// `layers`, which are null for an empty layer. Readers (decodeJson, JsonCoding.hpp) need every required field
// and take a missing or null optional as absent.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Model/ControlTypes.hpp"
#include "Engine/Model/JsonCoding.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry {

// The cue on one layer.
struct ControlLayer {
    std::string mediaId;
    std::string name;  // the library's name of the clip, or the media id when the clip is gone
    MediaKind kind = MediaKind::video;
    bool playing = false;
    double volume = 1;
    std::optional<double> activatedAt;  // ms since 1970
    std::optional<double> currentTime;  // seconds; video and audio cues only
    std::optional<double> duration;     // seconds; video and audio cues only

    bool operator==(const ControlLayer&) const = default;
};

// One clip of the remote clip list.
struct ControlClip {
    std::int64_t index = 1;  // 1-based: the number the trigger-by-index command takes
    std::string id;
    std::string name;
    MediaKind kind = MediaKind::video;
    LayerId layer = LayerId::media;
    std::optional<std::string> playlist;  // the first playlist holding the clip
    std::optional<double> duration;
    bool live = false;
    std::optional<double> thumbAt;  // ms since 1970

    bool operator==(const ControlClip&) const = default;
};

// The playhead of the primary layer.
struct ControlTransport {
    LayerId layer = LayerId::media;
    double currentTime = 0;
    double duration = 0;
    bool playing = false;

    bool operator==(const ControlTransport&) const = default;
};

// One playlist.
struct ControlGroup {
    std::string name;
    std::optional<std::string> color;
    std::optional<std::string> icon;

    bool operator==(const ControlGroup&) const = default;
};

// The four layers; an empty one is absent.
struct ControlLayers {
    std::optional<ControlLayer> background, media, overlay, audio;

    std::optional<ControlLayer>& operator[](LayerId id);
    const std::optional<ControlLayer>& operator[](LayerId id) const;

    bool operator==(const ControlLayers&) const = default;
};

// {"type":"state", ...}: the whole state a remote shows.
struct ControlSnapshot {
    static constexpr std::int64_t currentApiVersion = 3;

    std::optional<std::int64_t> apiVersion = currentApiVersion;
    std::optional<std::string> host;
    std::int64_t rev = 0;
    bool black = false;
    bool live = false;
    double masterVolumeDB = 0;
    bool muted = false;
    ControlLayers layers;
    std::vector<ControlClip> clips;
    std::optional<ControlTransport> transport;  // absent while no layer has a cue
    std::optional<std::vector<ControlGroup>> groups = std::vector<ControlGroup>{};  // written even when empty

    bool operator==(const ControlSnapshot&) const = default;
};

// {"type":"transport", ...}: one playback report of the primary layer.
struct ControlTransportMessage {
    LayerId layer = LayerId::media;
    double currentTime = 0;
    double duration = 0;
    bool playing = false;

    bool operator==(const ControlTransportMessage&) const = default;
};

// The compact JSON text sent to remotes, written directly: the snapshot is rebuilt and sent on every change
// of a project of up to 1000 clips. Throws EncodeError for a number that is not finite.
std::string wireText(const ControlSnapshot&);
std::string wireText(const ControlTransportMessage&);
// The same as a JSON value.
Json toJson(const ControlSnapshot&);

// The program's playhead anchors by layer (ProgramStore::anchors()).
using PlayheadAnchors = std::map<LayerId, TransportAnchor>;

// A snapshot encoded once, with its playhead fields (each layer's currentTime and duration, the transport's
// currentTime, duration and playing) written from the anchors for the moment it is read: what a fresh build
// at that moment would give while nothing else has changed, without asking the main thread. Immutable, so
// threads share it without locks.
class LiveSnapshot {
public:
    // Throws EncodeError as wireText does.
    static std::shared_ptr<const LiveSnapshot> make(ControlSnapshot snapshot, PlayheadAnchors anchors);
    // A snapshot whose time fields stay as built.
    static std::shared_ptr<const LiveSnapshot> fixed(ControlSnapshot snapshot);
    // The same state with re-anchored playheads (a seek, a pause, a report of the duration); shares the text.
    std::shared_ptr<const LiveSnapshot> withAnchors(PlayheadAnchors anchors) const;

    // wireText of the snapshot at `now`, a transportNow() value.
    std::string text(double now) const;
    // As built, its time fields those of the moment of building.
    const ControlSnapshot& built() const;
    // Made with anchors: the time fields follow them.
    bool followsPlayheads() const { return follows_; }
    // The text changes with time: a time field follows a running playhead.
    bool moving() const;

    struct Encoded;
    LiveSnapshot(std::shared_ptr<const Encoded> encoded, PlayheadAnchors anchors, bool follows);

private:
    std::shared_ptr<const Encoded> encoded_;
    PlayheadAnchors anchors_;
    bool follows_ = false;
};
Json toJson(const ControlTransportMessage&);

void fromJson(const Json&, ControlLayer&);
void fromJson(const Json&, ControlClip&);
void fromJson(const Json&, ControlTransport&);
void fromJson(const Json&, ControlGroup&);
void fromJson(const Json&, ControlLayers&);
// "type" must be "state", resp. "transport".
void fromJson(const Json&, ControlSnapshot&);
void fromJson(const Json&, ControlTransportMessage&);

}  // namespace ombry
