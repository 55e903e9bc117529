#pragma once
// The show records (media items, playlists, the legacy library document), the shared enumerations, the
// program state and the messages of the browser output pages.
//
// JSON: every record here reads with  decodeJson<R>(json)  (throws DecodeError, see JsonCoding.hpp) and
// writes with  toJson(r) / encodeJson(r)  (throws EncodeError for a non-finite number). Messages to
// output pages are written with  compactJson(toJson(message)).  Equality and hashing cover every field.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Engine/Model/ControlTypes.hpp"
#include "Engine/Model/JsonCoding.hpp"

namespace ombry {

enum class TransitionType { cut, fade, crossfade, slide, zoom };
enum class EndAction { hold, clear, loop };
enum class FillMode { fit, fill };
enum class MediaOrigin { local, upload, cloud, lan };

template <>
struct RawCases<TransitionType> {
    static constexpr std::array<std::pair<TransitionType, std::string_view>, 5> cases{{
        {TransitionType::cut, "cut"},
        {TransitionType::fade, "fade"},
        {TransitionType::crossfade, "crossfade"},
        {TransitionType::slide, "slide"},
        {TransitionType::zoom, "zoom"},
    }};
};
template <>
struct RawCases<EndAction> {
    static constexpr std::array<std::pair<EndAction, std::string_view>, 3> cases{{
        {EndAction::hold, "hold"},
        {EndAction::clear, "clear"},
        {EndAction::loop, "loop"},
    }};
};
template <>
struct RawCases<FillMode> {
    static constexpr std::array<std::pair<FillMode, std::string_view>, 2> cases{{
        {FillMode::fit, "fit"},
        {FillMode::fill, "fill"},
    }};
};
template <>
struct RawCases<MediaOrigin> {
    static constexpr std::array<std::pair<MediaOrigin, std::string_view>, 4> cases{{
        {MediaOrigin::local, "local"},
        {MediaOrigin::upload, "upload"},
        {MediaOrigin::cloud, "cloud"},
        {MediaOrigin::lan, "lan"},
    }};
};

// One clip of the library. Identity: id; equality and hashing over all fields.
struct MediaItem {
    std::string id;
    MediaKind kind = MediaKind::video;
    std::string name;
    std::string path;
    std::optional<double> duration;  // seconds
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<double> fps;
    std::optional<std::int64_t> sampleRate;
    std::optional<std::int64_t> bitDepth;
    std::optional<std::int64_t> channels;
    std::optional<bool> probed;
    std::optional<std::int64_t> probeVersion;
    double addedAt = 0;  // ms since 1970
    std::optional<TransitionType> transitionType;
    std::optional<LayerId> layer;
    std::optional<EndAction> endAction;
    std::optional<bool> loop;
    std::optional<FillMode> fillMode;
    std::optional<double> trimStart;
    std::optional<double> trimEnd;
    std::optional<double> order;
    std::optional<double> thumbAt;  // ms since 1970
    std::optional<MediaOrigin> origin;
    std::optional<std::string> contentHash;  // lower-case hex SHA-256

    bool operator==(const MediaItem&) const = default;
};

// One playlist. Identity: id; equality and hashing over all fields.
struct Group {
    std::string id;
    std::string name;
    std::vector<std::string> mediaIds;
    std::optional<std::string> color;  // "#RRGGBB"
    std::optional<std::string> icon;
    std::optional<std::string> emoji;
    std::optional<TransitionType> transitionType;
    std::optional<double> advanceSeconds;
    std::optional<bool> advanceOnEnd;
    std::optional<bool> loopPlaylist;

    bool operator==(const Group&) const = default;
};

// The legacy single-library file. No equality.
struct LibraryDoc {
    std::vector<MediaItem> media;
    std::vector<Group> groups;
};

// The format of the program picture.
struct StageConfig {
    std::int64_t width = 1920;
    std::int64_t height = 1080;
    std::int64_t fps = 60;
    std::string background = "transparent";  // or "#RRGGBB"

    bool operator==(const StageConfig&) const = default;
};

struct TransitionSpec {
    TransitionType type = TransitionType::crossfade;
    std::int64_t durationMs = 600;

    bool operator==(const TransitionSpec&) const = default;
};

// One take of a clip on one layer.
struct ActiveCue {
    std::string cueId;  // fresh for every take
    std::string mediaId;
    MediaKind kind = MediaKind::video;
    std::string src;  // "/media/<media id>"
    bool playing = false;
    bool loop = false;
    double volume = 1.0;
    EndAction endAction = EndAction::hold;
    TransitionSpec transition;
    std::optional<FillMode> fillMode;  // absent: drawn as fit
    std::optional<double> trimStart;
    std::optional<double> trimEnd;

    bool operator==(const ActiveCue&) const = default;
};

struct LayerState {
    LayerId id = LayerId::media;
    std::optional<ActiveCue> active;  // absent while the layer is empty

    bool operator==(const LayerState&) const = default;
};

// The four layers, each holding its own id.
struct Layers {
    LayerState background{LayerId::background, std::nullopt};
    LayerState media{LayerId::media, std::nullopt};
    LayerState overlay{LayerId::overlay, std::nullopt};
    LayerState audio{LayerId::audio, std::nullopt};

    LayerState& operator[](LayerId id);
    const LayerState& operator[](LayerId id) const;

    bool operator==(const Layers&) const = default;
};

// The whole program at one moment; rev rises by one with every change.
struct ProgramState {
    std::int64_t rev = 0;
    StageConfig stage;
    Layers layers;
    bool black = false;
    double masterVolume = 1.0;

    bool operator==(const ProgramState&) const = default;
};

// {"type":"state","state":{...}} to every output page. Written only.
struct StateMessage {
    ProgramState state;
};

// {"type":"transport","layer":...,"action":...,"time":...} to output pages and the layer's host. Written only.
struct TransportCommandMessage {
    LayerId layer = LayerId::media;
    std::string action;         // "play", "pause" or "seek"
    std::optional<double> time;  // seconds, with "seek" only
};

// The playback report of one layer.
struct TransportStatus {
    LayerId layer = LayerId::media;
    std::string cueId;
    std::string mediaId;
    double currentTime = 0;
    double duration = 0;
    bool playing = false;
    bool ended = false;

    // The lenient reading of a page's report: nothing for an empty object, a missing or unknown layer, or a
    // missing cueId or mediaId; other missing or mistyped fields give 0 or false. Never throws.
    static std::optional<TransportStatus> fromPage(const Json& object);
};

// The program store's clock of one layer's playhead. Never written as JSON.
struct TransportAnchor {
    double time = 0;  // playhead at the moment of anchoring, seconds
    double at = 0;    // transportNow() at that moment
    bool playing = false;
    double duration = 0;

    // The playhead at `now` (a transportNow() value), not limited to the duration.
    double playhead(double now) const { return playing ? time + (now - at) : time; }
};

// The uptime clock of playhead anchors, in seconds; never jumps with the wall clock.
double transportNow();

// Where a layer's playhead stands at `now`, as the remotes are told: limited to the duration when one is
// known, never below 0. Without an anchor: 0 s of 0 s, paused.
struct PlayheadPosition {
    double currentTime = 0;
    double duration = 0;
    bool playing = false;
};
PlayheadPosition playheadAt(const TransportAnchor* anchor, double now);

// Program audio levels, 0 to 1. Never written as JSON.
struct MeterLevels {
    double l = 0, r = 0, pl = 0, pr = 0;
};

// Addresses of a started HTTP server. Never written as JSON.
struct ServerInfo {
    std::int64_t port = 0;
    std::string outputUrl;          // "http://localhost:<port>/"
    std::vector<std::string> urls;  // outputUrl first, then one per local-network address
};

// What an output page sends, one case per message type.
namespace page {
struct Hello {
    std::string role;
};
struct Status {
    TransportStatus status;
};
struct Loaded {
    LayerId layer;
    std::string cueId;
};
struct Error {
    LayerId layer;
    std::string cueId;
    std::string message;
};
struct Pong {
    std::int64_t t = 0;
};
struct Meter {
    MeterLevels levels;
};
struct Unknown {};
}  // namespace page

using OutputMessage =
    std::variant<page::Unknown, page::Hello, page::Status, page::Loaded, page::Error, page::Pong, page::Meter>;

// Parses the bytes of one text message of an output page. Never fails: what it cannot take is Unknown.
OutputMessage parseOutputMessage(std::string_view bytes);

// JSON coding (see the header comment). Records not listed here are never written as JSON.
Json toJson(const MediaItem&);
Json toJson(const Group&);
Json toJson(const LibraryDoc&);
Json toJson(const StageConfig&);
Json toJson(const TransitionSpec&);
Json toJson(const ActiveCue&);
Json toJson(const LayerState&);
Json toJson(const Layers&);
Json toJson(const ProgramState&);
Json toJson(const TransportStatus&);
Json toJson(const StateMessage&);
Json toJson(const TransportCommandMessage&);

void fromJson(const Json&, MediaItem&);
void fromJson(const Json&, Group&);
void fromJson(const Json&, LibraryDoc&);
void fromJson(const Json&, StageConfig&);
void fromJson(const Json&, TransitionSpec&);
void fromJson(const Json&, ActiveCue&);
void fromJson(const Json&, LayerState&);
void fromJson(const Json&, Layers&);
void fromJson(const Json&, ProgramState&);
void fromJson(const Json&, TransportStatus&);

std::size_t hashValue(const MediaItem&);
std::size_t hashValue(const Group&);
std::size_t hashValue(const TransitionSpec&);

}  // namespace ombry

template <>
struct std::hash<ombry::MediaItem> {
    std::size_t operator()(const ombry::MediaItem& v) const { return ombry::hashValue(v); }
};
template <>
struct std::hash<ombry::Group> {
    std::size_t operator()(const ombry::Group& v) const { return ombry::hashValue(v); }
};
template <>
struct std::hash<ombry::TransitionSpec> {
    std::size_t operator()(const ombry::TransitionSpec& v) const { return ombry::hashValue(v); }
};
