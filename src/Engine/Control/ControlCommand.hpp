#pragma once
// The remote-control command language: one short path under "/api/" per command, the same for HTTP request
// targets and Bluetooth writes, and the results the executor answers with.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "Engine/Model/ControlTypes.hpp"

namespace ombry {

enum class ToggleOp { on, off, toggle };

template <>
struct RawCases<ToggleOp> {
    static constexpr std::array<std::pair<ToggleOp, std::string_view>, 3> cases{{
        {ToggleOp::on, "on"},
        {ToggleOp::off, "off"},
        {ToggleOp::toggle, "toggle"},
    }};
};

// What to do with one named layer. `seconds` belongs to the two seeks and is 0 for the other kinds.
struct TransportVerb {
    enum class Kind { seekBy, seekTo, play, pause, toggle, restart };
    Kind kind = Kind::play;
    double seconds = 0;

    static TransportVerb seekBy(double s) { return {Kind::seekBy, s}; }
    static TransportVerb seekTo(double s) { return {Kind::seekTo, s}; }
    static TransportVerb play() { return {Kind::play, 0}; }
    static TransportVerb pause() { return {Kind::pause, 0}; }
    static TransportVerb toggle() { return {Kind::toggle, 0}; }
    static TransportVerb restart() { return {Kind::restart, 0}; }

    bool operator==(const TransportVerb&) const = default;
};

// The cases of a command, each with its operands exactly as parsed (limits are the executor's).
namespace control {
struct TriggerId {  // take the clip with this media id live
    std::string id;
    bool operator==(const TriggerId&) const = default;
};
struct TriggerIndex {  // take the clip at this 1-based position of the remote clip list live
    std::int64_t index = 1;
    bool operator==(const TriggerIndex&) const = default;
};
struct SeekBy {  // the primary layer's playhead, relative to its last report
    double seconds = 0;
    bool operator==(const SeekBy&) const = default;
};
struct SeekTo {
    double seconds = 0;
    bool operator==(const SeekTo&) const = default;
};
struct TransportLayer {
    LayerId layer = LayerId::media;
    TransportVerb verb;
    bool operator==(const TransportLayer&) const = default;
};
struct Black {
    ToggleOp op = ToggleOp::toggle;
    bool operator==(const Black&) const = default;
};
struct ClearLayer {
    LayerId layer = LayerId::media;
    bool operator==(const ClearLayer&) const = default;
};
struct VolumeSetDB {
    double db = 0;
    bool operator==(const VolumeSetDB&) const = default;
};
struct VolumeStep {  // steps of 3 dB
    std::int64_t steps = 0;
    bool operator==(const VolumeStep&) const = default;
};
struct LayerVolume {  // linear gain of the cue on the layer
    LayerId layer = LayerId::media;
    double gain = 1;
    bool operator==(const LayerVolume&) const = default;
};
struct Mute {
    ToggleOp op = ToggleOp::toggle;
    bool operator==(const Mute&) const = default;
};
// The primary layer's transport, stepping through the clips, and clearing the program.
struct Play { bool operator==(const Play&) const = default; };
struct Pause { bool operator==(const Pause&) const = default; };
struct PlayPause { bool operator==(const PlayPause&) const = default; };
struct Restart { bool operator==(const Restart&) const = default; };
struct NextClip { bool operator==(const NextClip&) const = default; };
struct PrevClip { bool operator==(const PrevClip&) const = default; };
struct ClearAll { bool operator==(const ClearAll&) const = default; };
}  // namespace control

struct ControlCommand {
    using Case = std::variant<control::TriggerId, control::TriggerIndex, control::SeekBy, control::SeekTo,
                              control::TransportLayer, control::Black, control::ClearLayer, control::VolumeSetDB,
                              control::VolumeStep, control::LayerVolume, control::Mute, control::Play,
                              control::Pause, control::PlayPause, control::Restart, control::NextClip,
                              control::PrevClip, control::ClearAll>;
    Case value;

    template <class C>
        requires std::is_constructible_v<Case, C>
    ControlCommand(C c) : value(std::move(c)) {}  // NOLINT: a case is a command

    // The command of a request target (path, optional query and fragment), or nothing for any text that is
    // not a command path. Pure; callable on any thread. Numbers are read as the C library reads them in the
    // C locale and must use the whole text; numbers that are not finite are refused.
    static std::optional<ControlCommand> parse(std::string_view path);

    bool operator==(const ControlCommand&) const = default;
};

// "seekBy(-5)", "transportLayer(media, seekTo(3))": for logs and test failures.
std::string describe(const ControlCommand& command);
inline void PrintTo(const ControlCommand& c, std::ostream* os) { *os << describe(c); }

// What a command did. `message` is a sentence for every kind but ok.
struct ControlResult {
    enum class Kind {
        ok,          // carried out, or nothing to act on
        notFound,    // the clip it names does not exist
        badRequest,  // it never reached the executor
        refused,     // the playback driver refused the take (an offline clip); the sentence says why
    };
    Kind kind = Kind::ok;
    std::string message;

    static ControlResult ok() { return {Kind::ok, {}}; }
    static ControlResult notFound(std::string m) { return {Kind::notFound, std::move(m)}; }
    static ControlResult badRequest(std::string m) { return {Kind::badRequest, std::move(m)}; }
    static ControlResult refused(std::string m) { return {Kind::refused, std::move(m)}; }

    bool operator==(const ControlResult&) const = default;
};

// "notFound: no clip at index 4": for logs and test failures.
std::string describe(const ControlResult& result);
inline void PrintTo(const ControlResult& r, std::ostream* os) { *os << describe(r); }

}  // namespace ombry
