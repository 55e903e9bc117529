#include "Engine/Control/ControlCommand.hpp"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <vector>

#include <fmt/format.h>

#include "Engine/Control/UriReference.hpp"

namespace ombry {
namespace {

// An optional sign and decimal digits only, within 64 bits; anything else (a fraction, a space, an overflow)
// is no integer.
std::optional<std::int64_t> readInteger(std::string_view s) {
    std::size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) ++i;
    if (i == s.size()) return std::nullopt;
    const std::uint64_t limit = negative ? std::uint64_t(1) << 63 : (std::uint64_t(1) << 63) - 1;
    std::uint64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        const std::uint64_t digit = std::uint64_t(s[i] - '0');
        if (v > (limit - digit) / 10) return std::nullopt;
        v = v * 10 + digit;
    }
    if (!negative) return static_cast<std::int64_t>(v);
    return v == (std::uint64_t(1) << 63) ? INT64_MIN : -static_cast<std::int64_t>(v);
}

// The C library's reading in the C locale ("+1", "1e1", "0x10" and hex fractions are numbers), the whole
// text used, no leading white space. Infinities, NaNs and overflows are refused: no command may carry a
// number that the program state could not hold.
std::optional<double> readDouble(const std::string& s) {
    if (s.empty()) return std::nullopt;
    switch (s[0]) {
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r': return std::nullopt;
        default: break;
    }
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    char* end = nullptr;
    const double v = strtod_l(s.c_str(), &end, cLocale);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::vector<std::string_view> segments(std::string_view path) {
    std::vector<std::string_view> out;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        if (slash != 0) out.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return out;
}

std::optional<TransportVerb> verbNamed(std::string_view word) {
    if (word == "play") return TransportVerb::play();
    if (word == "pause") return TransportVerb::pause();
    if (word == "toggle") return TransportVerb::toggle();
    if (word == "restart") return TransportVerb::restart();
    return std::nullopt;
}

}  // namespace

std::optional<ControlCommand> ControlCommand::parse(std::string_view path) {
    using namespace control;
    const auto ref = UriReference::parse(path);
    if (!ref) return std::nullopt;
    const std::vector<std::string_view> seg = segments(ref->path);
    // Every row names a third segment.
    if (seg.size() < 3 || seg[0] != "api") return std::nullopt;
    const std::string_view s2 = seg[1], s3 = seg[2];

    const auto number = [&](std::string_view key) -> std::optional<double> {
        const auto text = ref->value(key);
        return text ? readDouble(*text) : std::nullopt;
    };
    // "by" decides when it is a number, else "to".
    const auto seek = [&]() -> std::optional<TransportVerb> {
        if (const auto by = number("by")) return TransportVerb::seekBy(*by);
        if (const auto to = number("to")) return TransportVerb::seekTo(*to);
        return std::nullopt;
    };

    if (s2 == "trigger") {
        if (s3 == "id") {
            if (seg.size() != 4) return std::nullopt;
            // Decoded once more, so that an id holding "/" travels as %252F; "50%" stays as it is.
            auto again = percentDecode(seg[3]);
            return TriggerId{again ? std::move(*again) : std::string(seg[3])};
        }
        if (s3 == "index") {
            if (seg.size() != 4) return std::nullopt;
            const auto n = readInteger(seg[3]);
            if (!n || *n < 1) return std::nullopt;
            return TriggerIndex{*n};
        }
        return std::nullopt;
    }
    if (s2 == "transport") {
        if (s3 == "play") return Play{};
        if (s3 == "pause") return Pause{};
        if (s3 == "toggle") return PlayPause{};
        if (s3 == "restart") return Restart{};
        if (s3 == "seek") {
            const auto verb = seek();
            if (!verb) return std::nullopt;
            if (verb->kind == TransportVerb::Kind::seekBy) return SeekBy{verb->seconds};
            return SeekTo{verb->seconds};
        }
        const auto layer = fromRaw<LayerId>(s3);
        if (!layer || seg.size() < 4) return std::nullopt;
        const auto verb = seg[3] == "seek" ? seek() : verbNamed(seg[3]);
        if (!verb) return std::nullopt;
        return TransportLayer{*layer, *verb};
    }
    if (s2 == "clip") {
        if (s3 == "next") return NextClip{};
        if (s3 == "prev") return PrevClip{};
        return std::nullopt;
    }
    if (s2 == "black") {
        if (const auto op = fromRaw<ToggleOp>(s3)) return Black{*op};
        return std::nullopt;
    }
    if (s2 == "clear") {
        if (s3 == "all") return ClearAll{};
        if (const auto layer = fromRaw<LayerId>(s3)) return ClearLayer{*layer};
        return std::nullopt;
    }
    if (s2 == "volume") {
        if (s3 == "set") {
            if (const auto db = number("db")) return VolumeSetDB{*db};
            return std::nullopt;
        }
        if (s3 == "step") {
            const auto by = ref->value("by");
            const auto steps = by ? readInteger(*by) : std::nullopt;
            if (!steps) return std::nullopt;
            return VolumeStep{*steps};
        }
        if (const auto layer = fromRaw<LayerId>(s3)) {
            if (const auto v = number("v")) return LayerVolume{*layer, *v};
        }
        return std::nullopt;
    }
    if (s2 == "mute") {
        if (const auto op = fromRaw<ToggleOp>(s3)) return Mute{*op};
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {

std::string describe(const TransportVerb& v) {
    switch (v.kind) {
        case TransportVerb::Kind::seekBy: return fmt::format("seekBy({})", v.seconds);
        case TransportVerb::Kind::seekTo: return fmt::format("seekTo({})", v.seconds);
        case TransportVerb::Kind::play: return "play";
        case TransportVerb::Kind::pause: return "pause";
        case TransportVerb::Kind::toggle: return "toggle";
        case TransportVerb::Kind::restart: return "restart";
    }
    return {};
}

struct Describe {
    std::string operator()(const control::TriggerId& c) const { return fmt::format("triggerId({})", c.id); }
    std::string operator()(const control::TriggerIndex& c) const { return fmt::format("triggerIndex({})", c.index); }
    std::string operator()(const control::SeekBy& c) const { return fmt::format("seekBy({})", c.seconds); }
    std::string operator()(const control::SeekTo& c) const { return fmt::format("seekTo({})", c.seconds); }
    std::string operator()(const control::TransportLayer& c) const {
        return fmt::format("transportLayer({}, {})", rawValue(c.layer), describe(c.verb));
    }
    std::string operator()(const control::Black& c) const { return "black(" + rawValue(c.op) + ")"; }
    std::string operator()(const control::ClearLayer& c) const { return "clearLayer(" + rawValue(c.layer) + ")"; }
    std::string operator()(const control::VolumeSetDB& c) const { return fmt::format("volumeSetDB({})", c.db); }
    std::string operator()(const control::VolumeStep& c) const { return fmt::format("volumeStep({})", c.steps); }
    std::string operator()(const control::LayerVolume& c) const {
        return fmt::format("layerVolume({}, {})", rawValue(c.layer), c.gain);
    }
    std::string operator()(const control::Mute& c) const { return "mute(" + rawValue(c.op) + ")"; }
    std::string operator()(const control::Play&) const { return "play"; }
    std::string operator()(const control::Pause&) const { return "pause"; }
    std::string operator()(const control::PlayPause&) const { return "playPause"; }
    std::string operator()(const control::Restart&) const { return "restart"; }
    std::string operator()(const control::NextClip&) const { return "nextClip"; }
    std::string operator()(const control::PrevClip&) const { return "prevClip"; }
    std::string operator()(const control::ClearAll&) const { return "clearAll"; }
};

}  // namespace

std::string describe(const ControlCommand& command) { return std::visit(Describe{}, command.value); }

std::string describe(const ControlResult& result) {
    switch (result.kind) {
        case ControlResult::Kind::ok: return "ok";
        case ControlResult::Kind::notFound: return "notFound: " + result.message;
        case ControlResult::Kind::badRequest: return "badRequest: " + result.message;
        case ControlResult::Kind::refused: return "refused: " + result.message;
    }
    return {};
}

}  // namespace ombry
