#include "Engine/Control/ControlSnapshot.hpp"

#include <charconv>
#include <cmath>

#include "Engine/Model/TextBytes.hpp"

namespace ombry {
namespace {

constexpr LayerId layerOrder[] = {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio};

bool isAscii(std::string_view s) {
    unsigned char any = 0;
    for (char c : s) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

// Compact JSON text, appended to one string.
class JsonText {
public:
    std::string out;

    // `{`, then members through key(), then end().
    JsonText& begin() {
        out += '{';
        first_ = true;
        return *this;
    }
    template <std::size_t N>
    JsonText& key(const char (&k)[N]) {
        return key(std::string_view(k, N - 1));
    }
    JsonText& key(std::string_view k) {
        if (!first_) out += ',';
        first_ = false;
        out += '"';
        out.append(k);
        out.append("\":", 2);
        key_ = k;
        return *this;
    }
    JsonText& end() {
        out += '}';
        first_ = false;
        return *this;
    }
    JsonText& beginArray() {
        out += '[';
        first_ = true;
        return *this;
    }
    JsonText& endArray() {
        out += ']';
        first_ = false;
        return *this;
    }
    // An element of an array.
    JsonText& element() {
        if (!first_) out += ',';
        first_ = true;
        return *this;
    }

    JsonText& string(std::string_view s) {
        if (!isAscii(s) && !isUtf8(s)) {
            // As compactJson does: ill-formed bytes become U+FFFD.
            out += Json(std::string(s)).dump(-1, ' ', false, Json::error_handler_t::replace);
            return *this;
        }
        out += '"';
        std::size_t run = 0;  // plain bytes are appended in runs
        for (std::size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out.append(s.data() + run, i - run);
            run = i + 1;
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default: {
                    static constexpr char hex[] = "0123456789abcdef";
                    const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                    out.append(escaped, sizeof escaped);
                }
            }
        }
        out.append(s.data() + run, s.size() - run);
        out += '"';
        return *this;
    }
    JsonText& number(double v) {
        if (!std::isfinite(v)) throw EncodeError(std::string(key_), "number is not finite");
        char buf[32];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        return *this;
    }
    JsonText& integer(std::int64_t v) {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        return *this;
    }
    JsonText& boolean(bool v) {
        out += v ? "true" : "false";
        return *this;
    }
    JsonText& null() {
        out += "null";
        return *this;
    }
    template <RawEnum E>
    JsonText& raw(E e) {
        for (const auto& [value, text] : RawCases<E>::cases)
            if (value == e) {
                out += '"';
                out += text;
                out += '"';
            }
        return *this;
    }
    // Absent optionals are left out.
    template <std::size_t N>
    JsonText& optionalNumber(const char (&k)[N], const std::optional<double>& v) {
        if (v) key(k).number(*v);
        return *this;
    }
    template <std::size_t N>
    JsonText& optionalString(const char (&k)[N], const std::optional<std::string>& v) {
        if (v) key(k).string(*v);
        return *this;
    }

private:
    bool first_ = true;
    std::string_view key_;
};

// A place in a snapshot's text where one playhead field of a layer is written when the text is read.
enum class PlayheadField { currentTime, duration, playing };
struct Hole {
    std::size_t at;  // offset in the text
    LayerId layer;
    PlayheadField field;
};
using Holes = std::vector<Hole>;

// The value of a playhead field (null holes: the value as built), or a hole in its place.
void playheadValue(JsonText& w, Holes* holes, LayerId layer, PlayheadField field, double built) {
    if (holes) holes->push_back({w.out.size(), layer, field});
    else w.number(built);
}

void write(JsonText& w, const ControlLayer& l, LayerId id, Holes* holes) {
    w.begin();
    w.key("mediaId").string(l.mediaId).key("name").string(l.name).key("kind").raw(l.kind);
    w.key("playing").boolean(l.playing).key("volume").number(l.volume);
    w.optionalNumber("activatedAt", l.activatedAt);
    if (l.currentTime) playheadValue(w.key("currentTime"), holes, id, PlayheadField::currentTime, *l.currentTime);
    if (l.duration) playheadValue(w.key("duration"), holes, id, PlayheadField::duration, *l.duration);
    w.end();
}

void write(JsonText& w, const ControlClip& c) {
    w.begin();
    w.key("index").integer(c.index).key("id").string(c.id).key("name").string(c.name).key("kind").raw(c.kind);
    w.key("layer").raw(c.layer).optionalString("playlist", c.playlist).optionalNumber("duration", c.duration);
    w.key("live").boolean(c.live).optionalNumber("thumbAt", c.thumbAt);
    w.end();
}

// The fields a snapshot's transport and a transport tick share.
void writePlayhead(JsonText& w, LayerId layer, double currentTime, double duration, bool playing) {
    w.key("layer").raw(layer).key("currentTime").number(currentTime).key("duration").number(duration);
    w.key("playing").boolean(playing);
}

void readPlayhead(const ObjectReader& r, LayerId& layer, double& currentTime, double& duration, bool& playing) {
    r.required("layer", layer);
    r.required("currentTime", currentTime);
    r.required("duration", duration);
    r.required("playing", playing);
}

void write(JsonText& w, const ControlTransport& t, Holes* holes) {
    w.begin().key("layer").raw(t.layer);
    playheadValue(w.key("currentTime"), holes, t.layer, PlayheadField::currentTime, t.currentTime);
    playheadValue(w.key("duration"), holes, t.layer, PlayheadField::duration, t.duration);
    w.key("playing");
    if (holes) holes->push_back({w.out.size(), t.layer, PlayheadField::playing});
    else w.boolean(t.playing);
    w.end();
}

void write(JsonText& w, const ControlGroup& g) {
    w.begin().key("name").string(g.name).optionalString("color", g.color).optionalString("icon", g.icon).end();
}

template <class T>
void writeArray(JsonText& w, const std::vector<T>& items) {
    w.beginArray();
    for (const auto& item : items) {
        w.element();
        write(w, item);
    }
    w.endArray();
}

void requireType(const ObjectReader& r, const char* expected) {
    const auto type = r.required<std::string>("type");
    if (type != expected) throw DecodeError("type", "expected \"" + std::string(expected) + "\", got \"" + type + "\"");
}

}  // namespace

std::optional<ControlLayer>& ControlLayers::operator[](LayerId id) {
    switch (id) {
        case LayerId::background: return background;
        case LayerId::media: return media;
        case LayerId::overlay: return overlay;
        case LayerId::audio: return audio;
    }
    return media;
}

const std::optional<ControlLayer>& ControlLayers::operator[](LayerId id) const {
    return const_cast<ControlLayers&>(*this)[id];
}

void fromJson(const Json& j, ControlLayer& l) {
    ObjectReader r(j);
    r.required("mediaId", l.mediaId);
    r.required("name", l.name);
    r.required("kind", l.kind);
    r.required("playing", l.playing);
    r.required("volume", l.volume);
    r.optional("activatedAt", l.activatedAt);
    r.optional("currentTime", l.currentTime);
    r.optional("duration", l.duration);
}

void fromJson(const Json& j, ControlClip& c) {
    ObjectReader r(j);
    r.required("index", c.index);
    r.required("id", c.id);
    r.required("name", c.name);
    r.required("kind", c.kind);
    r.required("layer", c.layer);
    r.optional("playlist", c.playlist);
    r.optional("duration", c.duration);
    r.required("live", c.live);
    r.optional("thumbAt", c.thumbAt);
}

void fromJson(const Json& j, ControlTransport& t) {
    readPlayhead(ObjectReader(j), t.layer, t.currentTime, t.duration, t.playing);
}

void fromJson(const Json& j, ControlGroup& g) {
    ObjectReader r(j);
    r.required("name", g.name);
    r.optional("color", g.color);
    r.optional("icon", g.icon);
}

void fromJson(const Json& j, ControlLayers& layers) {
    ObjectReader r(j);  // checks that it is an object
    for (const auto& [key, value] : j.items()) {
        const auto id = fromRaw<LayerId>(key);
        if (!id) throw DecodeError(key, "not a layer");
    }
    for (LayerId id : layerOrder) layers[id] = r.optional<ControlLayer>(rawValue(id).c_str());
}

void fromJson(const Json& j, ControlSnapshot& s) {
    ObjectReader r(j);
    requireType(r, "state");
    r.optional("apiVersion", s.apiVersion);
    r.optional("host", s.host);
    r.required("rev", s.rev);
    r.required("black", s.black);
    r.required("live", s.live);
    r.required("masterVolumeDB", s.masterVolumeDB);
    r.required("muted", s.muted);
    r.required("layers", s.layers);
    r.required("clips", s.clips);
    r.optional("transport", s.transport);
    r.optional("groups", s.groups);
}

void fromJson(const Json& j, ControlTransportMessage& m) {
    ObjectReader r(j);
    requireType(r, "transport");
    readPlayhead(r, m.layer, m.currentTime, m.duration, m.playing);
}

namespace {

// The snapshot's text; with `holes`, its playhead fields are left out and their places recorded.
std::string writeSnapshot(const ControlSnapshot& s, Holes* holes) {
    JsonText w;
    w.out.reserve(256 + s.clips.size() * 200);
    w.begin().key("type").string("state");
    if (s.apiVersion) w.key("apiVersion").integer(*s.apiVersion);
    w.optionalString("host", s.host).key("rev").integer(s.rev).key("black").boolean(s.black);
    w.key("live").boolean(s.live).key("masterVolumeDB").number(s.masterVolumeDB).key("muted").boolean(s.muted);
    w.key("layers").begin();
    for (LayerId id : layerOrder) {
        w.key(RawCases<LayerId>::cases[std::size_t(id)].second);
        if (const auto& layer = s.layers[id]) write(w, *layer, id, holes);
        else w.null();
    }
    w.end();
    w.key("clips");
    writeArray(w, s.clips);
    if (s.transport) write(w.key("transport"), *s.transport, holes);
    if (s.groups) writeArray(w.key("groups"), *s.groups);
    w.end();
    return std::move(w.out);
}

void appendNumber(std::string& out, double v) {
    if (!std::isfinite(v)) v = 0;  // anchors hold finite seconds; never an invalid text
    char buf[32];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

}  // namespace

struct LiveSnapshot::Encoded {
    ControlSnapshot snapshot;
    std::string text;
    Holes holes;
};

LiveSnapshot::LiveSnapshot(std::shared_ptr<const Encoded> encoded, PlayheadAnchors anchors, bool follows)
    : encoded_(std::move(encoded)), anchors_(std::move(anchors)), follows_(follows) {}

std::shared_ptr<const LiveSnapshot> LiveSnapshot::make(ControlSnapshot snapshot, PlayheadAnchors anchors) {
    auto encoded = std::make_shared<Encoded>();
    encoded->text = writeSnapshot(snapshot, &encoded->holes);
    encoded->snapshot = std::move(snapshot);
    return std::make_shared<const LiveSnapshot>(std::move(encoded), std::move(anchors), true);
}

std::shared_ptr<const LiveSnapshot> LiveSnapshot::fixed(ControlSnapshot snapshot) {
    auto encoded = std::make_shared<Encoded>();
    encoded->text = writeSnapshot(snapshot, nullptr);
    encoded->snapshot = std::move(snapshot);
    return std::make_shared<const LiveSnapshot>(std::move(encoded), PlayheadAnchors{}, false);
}

std::shared_ptr<const LiveSnapshot> LiveSnapshot::withAnchors(PlayheadAnchors anchors) const {
    return std::make_shared<const LiveSnapshot>(encoded_, std::move(anchors), follows_);
}

const ControlSnapshot& LiveSnapshot::built() const { return encoded_->snapshot; }

bool LiveSnapshot::moving() const {
    for (const Hole& hole : encoded_->holes)
        if (auto a = anchors_.find(hole.layer); a != anchors_.end() && a->second.playing) return true;
    return false;
}

std::string LiveSnapshot::text(double now) const {
    const Encoded& e = *encoded_;
    if (e.holes.empty()) return e.text;
    std::string out;
    out.reserve(e.text.size() + e.holes.size() * 24);
    std::size_t from = 0;
    for (const Hole& hole : e.holes) {
        out.append(e.text, from, hole.at - from);
        from = hole.at;
        const auto a = anchors_.find(hole.layer);
        const PlayheadPosition p = playheadAt(a == anchors_.end() ? nullptr : &a->second, now);
        switch (hole.field) {
            case PlayheadField::currentTime: appendNumber(out, p.currentTime); break;
            case PlayheadField::duration: appendNumber(out, p.duration); break;
            case PlayheadField::playing: out += p.playing ? "true" : "false"; break;
        }
    }
    out.append(e.text, from, std::string::npos);
    return out;
}

std::string wireText(const ControlSnapshot& s) { return writeSnapshot(s, nullptr); }

std::string wireText(const ControlTransportMessage& m) {
    JsonText w;
    w.begin().key("type").string("transport");
    writePlayhead(w, m.layer, m.currentTime, m.duration, m.playing);
    w.end();
    return std::move(w.out);
}

Json toJson(const ControlSnapshot& s) { return Json::parse(wireText(s)); }
Json toJson(const ControlTransportMessage& m) { return Json::parse(wireText(m)); }

}  // namespace ombry
