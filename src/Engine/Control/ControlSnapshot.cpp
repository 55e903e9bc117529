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

void write(JsonText& w, const ControlLayer& l) {
    w.begin();
    w.key("mediaId").string(l.mediaId).key("name").string(l.name).key("kind").raw(l.kind);
    w.key("playing").boolean(l.playing).key("volume").number(l.volume);
    w.optionalNumber("activatedAt", l.activatedAt).optionalNumber("currentTime", l.currentTime);
    w.optionalNumber("duration", l.duration);
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

void write(JsonText& w, const ControlTransport& t) {
    w.begin();
    writePlayhead(w, t.layer, t.currentTime, t.duration, t.playing);
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

std::string wireText(const ControlSnapshot& s) {
    JsonText w;
    w.out.reserve(256 + s.clips.size() * 200);
    w.begin().key("type").string("state");
    if (s.apiVersion) w.key("apiVersion").integer(*s.apiVersion);
    w.optionalString("host", s.host).key("rev").integer(s.rev).key("black").boolean(s.black);
    w.key("live").boolean(s.live).key("masterVolumeDB").number(s.masterVolumeDB).key("muted").boolean(s.muted);
    w.key("layers").begin();
    for (LayerId id : layerOrder) {
        w.key(RawCases<LayerId>::cases[std::size_t(id)].second);
        if (const auto& layer = s.layers[id]) write(w, *layer);
        else w.null();
    }
    w.end();
    w.key("clips");
    writeArray(w, s.clips);
    if (s.transport) write(w.key("transport"), *s.transport);
    if (s.groups) writeArray(w.key("groups"), *s.groups);
    w.end();
    return std::move(w.out);
}

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
