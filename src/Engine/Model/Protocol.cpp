#include "Engine/Model/Protocol.hpp"

#include <cmath>
#include <limits>

#include "Platform/Clock.hpp"

namespace ombry {
namespace {

// Hashes fields in order; absent optionals hash differently from any present value.
class Hasher {
public:
    template <class T>
    Hasher& operator<<(const T& v) {
        mix(std::hash<T>{}(v));
        return *this;
    }
    template <class T>
    Hasher& operator<<(const std::optional<T>& v) {
        mix(v ? 1 : 0);
        if (v) *this << *v;
        return *this;
    }
    template <class T>
    Hasher& operator<<(const std::vector<T>& v) {
        mix(v.size());
        for (const auto& e : v) *this << e;
        return *this;
    }
    std::size_t value() const { return h_; }

private:
    void mix(std::size_t x) { h_ ^= x + 0x9e3779b97f4a7c15ULL + (h_ << 6) + (h_ >> 2); }
    std::size_t h_ = 0xcbf29ce484222325ULL;
};

// A number from a page: NaN, infinity and values beyond the integer range read as 0.
std::int64_t pageInteger(const Json& j) {
    if (j.is_number_unsigned()) {
        const auto u = j.get<std::uint64_t>();
        return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ? 0 : static_cast<std::int64_t>(u);
    }
    if (j.is_number_integer()) return j.get<std::int64_t>();
    if (!j.is_number()) return 0;
    const double d = j.get<double>();
    if (!std::isfinite(d) || d <= -9223372036854775808.0 || d >= 9223372036854775808.0) return 0;
    return static_cast<std::int64_t>(std::trunc(d));
}

double pageNumber(const Json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number()) return 0;
    const double d = it->get<double>();
    return std::isfinite(d) ? d : 0;
}

const Json* member(const Json& j, const char* key) {
    auto it = j.find(key);
    return it == j.end() ? nullptr : &*it;
}

std::optional<std::string> pageString(const Json& j, const char* key) {
    const Json* v = member(j, key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<LayerId> pageLayer(const Json& j) {
    auto raw = pageString(j, "layer");
    return raw ? fromRaw<LayerId>(*raw) : std::nullopt;
}

}  // namespace

LayerState& Layers::operator[](LayerId id) {
    switch (id) {
        case LayerId::background: return background;
        case LayerId::media: return media;
        case LayerId::overlay: return overlay;
        case LayerId::audio: return audio;
    }
    return media;
}

const LayerState& Layers::operator[](LayerId id) const { return const_cast<Layers&>(*this)[id]; }

double transportNow() { return appClock().monotonic(); }

PlayheadPosition playheadAt(const TransportAnchor* anchor, double now) {
    if (!anchor) return {};
    double current = anchor->playhead(now);
    if (anchor->duration > 0 && current > anchor->duration) current = anchor->duration;
    if (!(current >= 0)) current = 0;
    return {current, anchor->duration, anchor->playing};
}

// MediaItem

Json toJson(const MediaItem& m) {
    return ObjectWriter()
        .put("id", m.id)
        .put("kind", m.kind)
        .put("name", m.name)
        .put("path", m.path)
        .put("duration", m.duration)
        .put("width", m.width)
        .put("height", m.height)
        .put("fps", m.fps)
        .put("sampleRate", m.sampleRate)
        .put("bitDepth", m.bitDepth)
        .put("channels", m.channels)
        .put("probed", m.probed)
        .put("probeVersion", m.probeVersion)
        .put("addedAt", m.addedAt)
        .put("transitionType", m.transitionType)
        .put("layer", m.layer)
        .put("endAction", m.endAction)
        .put("loop", m.loop)
        .put("fillMode", m.fillMode)
        .put("trimStart", m.trimStart)
        .put("trimEnd", m.trimEnd)
        .put("order", m.order)
        .put("thumbAt", m.thumbAt)
        .put("origin", m.origin)
        .put("contentHash", m.contentHash)
        .done();
}

void fromJson(const Json& j, MediaItem& m) {
    ObjectReader r(j);
    r.required("id", m.id);
    r.required("kind", m.kind);
    r.required("name", m.name);
    r.required("path", m.path);
    r.optional("duration", m.duration);
    r.optional("width", m.width);
    r.optional("height", m.height);
    r.optional("fps", m.fps);
    r.optional("sampleRate", m.sampleRate);
    r.optional("bitDepth", m.bitDepth);
    r.optional("channels", m.channels);
    r.optional("probed", m.probed);
    r.optional("probeVersion", m.probeVersion);
    r.required("addedAt", m.addedAt);
    r.optional("transitionType", m.transitionType);
    r.optional("layer", m.layer);
    r.optional("endAction", m.endAction);
    r.optional("loop", m.loop);
    r.optional("fillMode", m.fillMode);
    r.optional("trimStart", m.trimStart);
    r.optional("trimEnd", m.trimEnd);
    r.optional("order", m.order);
    r.optional("thumbAt", m.thumbAt);
    r.optional("origin", m.origin);
    r.optional("contentHash", m.contentHash);
}

std::size_t hashValue(const MediaItem& m) {
    Hasher h;
    h << m.id << m.kind << m.name << m.path << m.duration << m.width << m.height << m.fps << m.sampleRate
      << m.bitDepth << m.channels << m.probed << m.probeVersion << m.addedAt << m.transitionType << m.layer
      << m.endAction << m.loop << m.fillMode << m.trimStart << m.trimEnd << m.order << m.thumbAt << m.origin
      << m.contentHash;
    return h.value();
}

// Group

Json toJson(const Group& g) {
    return ObjectWriter()
        .put("id", g.id)
        .put("name", g.name)
        .put("mediaIds", g.mediaIds)
        .put("color", g.color)
        .put("icon", g.icon)
        .put("emoji", g.emoji)
        .put("transitionType", g.transitionType)
        .put("advanceSeconds", g.advanceSeconds)
        .put("advanceOnEnd", g.advanceOnEnd)
        .put("loopPlaylist", g.loopPlaylist)
        .done();
}

void fromJson(const Json& j, Group& g) {
    ObjectReader r(j);
    r.required("id", g.id);
    r.required("name", g.name);
    r.required("mediaIds", g.mediaIds);
    r.optional("color", g.color);
    r.optional("icon", g.icon);
    r.optional("emoji", g.emoji);
    r.optional("transitionType", g.transitionType);
    r.optional("advanceSeconds", g.advanceSeconds);
    r.optional("advanceOnEnd", g.advanceOnEnd);
    r.optional("loopPlaylist", g.loopPlaylist);
}

std::size_t hashValue(const Group& g) {
    Hasher h;
    h << g.id << g.name << g.mediaIds << g.color << g.icon << g.emoji << g.transitionType << g.advanceSeconds
      << g.advanceOnEnd << g.loopPlaylist;
    return h.value();
}

// LibraryDoc

Json toJson(const LibraryDoc& d) { return ObjectWriter().put("media", d.media).put("groups", d.groups).done(); }

void fromJson(const Json& j, LibraryDoc& d) {
    ObjectReader r(j);
    r.required("media", d.media);
    r.required("groups", d.groups);
}

// StageConfig, TransitionSpec

Json toJson(const StageConfig& s) {
    return ObjectWriter()
        .put("width", s.width)
        .put("height", s.height)
        .put("fps", s.fps)
        .put("background", s.background)
        .done();
}

void fromJson(const Json& j, StageConfig& s) {
    ObjectReader r(j);
    r.required("width", s.width);
    r.required("height", s.height);
    r.required("fps", s.fps);
    r.required("background", s.background);
}

Json toJson(const TransitionSpec& t) { return ObjectWriter().put("type", t.type).put("durationMs", t.durationMs).done(); }

void fromJson(const Json& j, TransitionSpec& t) {
    ObjectReader r(j);
    r.required("type", t.type);
    r.required("durationMs", t.durationMs);
}

std::size_t hashValue(const TransitionSpec& t) {
    Hasher h;
    h << t.type << t.durationMs;
    return h.value();
}

// ActiveCue, LayerState, Layers, ProgramState

Json toJson(const ActiveCue& c) {
    return ObjectWriter()
        .put("cueId", c.cueId)
        .put("mediaId", c.mediaId)
        .put("kind", c.kind)
        .put("src", c.src)
        .put("playing", c.playing)
        .put("loop", c.loop)
        .put("volume", c.volume)
        .put("endAction", c.endAction)
        .put("transition", c.transition)
        .put("fillMode", c.fillMode)
        .put("trimStart", c.trimStart)
        .put("trimEnd", c.trimEnd)
        .done();
}

void fromJson(const Json& j, ActiveCue& c) {
    ObjectReader r(j);
    r.required("cueId", c.cueId);
    r.required("mediaId", c.mediaId);
    r.required("kind", c.kind);
    r.required("src", c.src);
    r.required("playing", c.playing);
    r.required("loop", c.loop);
    r.required("volume", c.volume);
    r.required("endAction", c.endAction);
    r.required("transition", c.transition);
    r.optional("fillMode", c.fillMode);
    r.optional("trimStart", c.trimStart);
    r.optional("trimEnd", c.trimEnd);
}

Json toJson(const LayerState& l) { return ObjectWriter().put("id", l.id).put("active", l.active).done(); }

void fromJson(const Json& j, LayerState& l) {
    ObjectReader r(j);
    r.required("id", l.id);
    r.optional("active", l.active);
}

Json toJson(const Layers& l) {
    return ObjectWriter()
        .put("background", l.background)
        .put("media", l.media)
        .put("overlay", l.overlay)
        .put("audio", l.audio)
        .done();
}

void fromJson(const Json& j, Layers& l) {
    ObjectReader r(j);
    for (LayerId id : allCases<LayerId>()) {
        const std::string key = rawValue(id);
        r.required(key.c_str(), l[id]);
        // Each key holds its own layer; anything else would break the four-layer invariant.
        if (l[id].id != id) throw DecodeError(key + ".id", "expected \"" + key + "\"");
    }
}

Json toJson(const ProgramState& s) {
    return ObjectWriter()
        .put("rev", s.rev)
        .put("stage", s.stage)
        .put("layers", s.layers)
        .put("black", s.black)
        .put("masterVolume", s.masterVolume)
        .done();
}

void fromJson(const Json& j, ProgramState& s) {
    ObjectReader r(j);
    r.required("rev", s.rev);
    r.required("stage", s.stage);
    r.required("layers", s.layers);
    r.required("black", s.black);
    r.required("masterVolume", s.masterVolume);
}

// Messages

Json toJson(const StateMessage& m) { return ObjectWriter().put("type", "state").put("state", m.state).done(); }

Json toJson(const TransportCommandMessage& m) {
    return ObjectWriter()
        .put("type", "transport")
        .put("layer", m.layer)
        .put("action", m.action)
        .put("time", m.time)
        .done();
}

Json toJson(const TransportStatus& s) {
    return ObjectWriter()
        .put("layer", s.layer)
        .put("cueId", s.cueId)
        .put("mediaId", s.mediaId)
        .put("currentTime", s.currentTime)
        .put("duration", s.duration)
        .put("playing", s.playing)
        .put("ended", s.ended)
        .done();
}

void fromJson(const Json& j, TransportStatus& s) {
    ObjectReader r(j);
    r.required("layer", s.layer);
    r.required("cueId", s.cueId);
    r.required("mediaId", s.mediaId);
    r.required("currentTime", s.currentTime);
    r.required("duration", s.duration);
    r.required("playing", s.playing);
    r.required("ended", s.ended);
}

std::optional<TransportStatus> TransportStatus::fromPage(const Json& j) {
    if (!j.is_object() || j.empty()) return std::nullopt;
    auto layer = pageLayer(j);
    auto cueId = pageString(j, "cueId");
    auto mediaId = pageString(j, "mediaId");
    if (!layer || !cueId || !mediaId) return std::nullopt;
    auto flag = [&](const char* key) {
        const Json* v = member(j, key);
        return v && v->is_boolean() && v->get<bool>();
    };
    return TransportStatus{*layer,         std::move(*cueId), std::move(*mediaId), pageNumber(j, "currentTime"),
                           pageNumber(j, "duration"), flag("playing"), flag("ended")};
}

OutputMessage parseOutputMessage(std::string_view bytes) {
    Json j = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded() || !j.is_object() || j.empty()) return page::Unknown{};
    auto type = pageString(j, "type");
    if (!type) return page::Unknown{};

    if (*type == "hello") return page::Hello{pageString(j, "role").value_or("output")};
    if (*type == "status") {
        const Json* status = member(j, "status");
        if (!status || !status->is_object()) return page::Unknown{};
        if (auto s = TransportStatus::fromPage(*status)) return page::Status{std::move(*s)};
        return page::Unknown{};
    }
    if (*type == "loaded" || *type == "error") {
        auto layer = pageLayer(j);
        auto cueId = pageString(j, "cueId");
        if (!layer || !cueId) return page::Unknown{};
        if (*type == "loaded") return page::Loaded{*layer, std::move(*cueId)};
        return page::Error{*layer, std::move(*cueId), pageString(j, "message").value_or("")};
    }
    if (*type == "pong") {
        const Json* t = member(j, "t");
        return page::Pong{t ? pageInteger(*t) : 0};
    }
    if (*type == "meter")
        return page::Meter{MeterLevels{pageNumber(j, "l"), pageNumber(j, "r"), pageNumber(j, "pl"), pageNumber(j, "pr")}};
    return page::Unknown{};
}

}  // namespace ombry
