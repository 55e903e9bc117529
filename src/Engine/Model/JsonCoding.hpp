#pragma once
// Strict JSON coding of the show records and everything built from them.
//
// Reading: decodeJson<T>(json) / decodeJsonText<T>(text) throw DecodeError when a required field is
// missing, null or of another JSON type, or an enumeration string is unknown; the error travels up, so
// one unreadable item makes the whole list or document holding it unreadable. No default is filled in.
// Unknown keys are ignored; a missing key and null both give an absent optional.
//
// Writing: encodeJson(value) throws EncodeError when a Double is not finite; absent optionals are left out.
//
// Records take part by declaring, in namespace ombry,  Json toJson(const R&)  and
// void fromJson(const Json&, R&), built with ObjectWriter and ObjectReader below.
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "Engine/Model/ControlTypes.hpp"
#include "Engine/Model/RawEnum.hpp"

namespace ombry {

using Json = nlohmann::json;

// A value that cannot be read. what() is "<path>: <reason>", e.g. "media[3].addedAt: missing".
// Not a user-facing sentence: callers report their own.
class DecodeError : public std::runtime_error {
public:
    DecodeError(std::string path, std::string reason);
    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }
    // The same error one level further out ("addedAt" becomes "media[3].addedAt").
    DecodeError within(const std::string& segment) const;

private:
    std::string path_, reason_;
};

// A value that cannot be written (a non-finite number). what() names the field path.
class EncodeError : public std::runtime_error {
public:
    EncodeError(std::string path, std::string reason);
    const std::string& path() const { return path_; }
    EncodeError within(const std::string& segment) const;

private:
    std::string path_, reason_;
};

namespace json_detail {
template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

std::string indexSegment(std::size_t i);
[[noreturn]] void mistyped(const char* expected, const Json& j);
std::int64_t readInt(const Json& j);
double readDouble(const Json& j);
double checkedDouble(double v);
}  // namespace json_detail

// The MediaKind reader is lenient (unknown strings are videos); every other enumeration is exact.
MediaKind mediaKindFromJson(const Json& j);

template <class T>
void decodeInto(const Json& j, T& out) {
    using namespace json_detail;
    if constexpr (std::is_same_v<T, std::string>) {
        if (!j.is_string()) mistyped("a string", j);
        out = j.get_ref<const std::string&>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!j.is_boolean()) mistyped("a boolean", j);
        out = j.get<bool>();
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        out = readInt(j);
    } else if constexpr (std::is_same_v<T, double>) {
        out = readDouble(j);
    } else if constexpr (std::is_same_v<T, MediaKind>) {
        out = mediaKindFromJson(j);
    } else if constexpr (RawEnum<T>) {
        if (!j.is_string()) mistyped("a string", j);
        const auto& raw = j.get_ref<const std::string&>();
        auto value = fromRaw<T>(raw);
        if (!value) throw DecodeError("", "unknown value \"" + raw + "\"");
        out = *value;
    } else if constexpr (IsVector<T>::value) {
        if (!j.is_array()) mistyped("an array", j);
        T items;
        items.reserve(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) {
            try {
                decodeInto(j[i], items.emplace_back());
            } catch (const DecodeError& e) {
                throw e.within(indexSegment(i));
            }
        }
        out = std::move(items);
    } else {
        fromJson(j, out);  // a record, found by argument-dependent lookup
    }
}

template <class T>
T decodeJson(const Json& j) {
    T out{};
    decodeInto(j, out);
    return out;
}

// Parses text first; a parse error is a DecodeError too.
template <class T>
T decodeJsonText(std::string_view text) {
    Json j;
    try {
        j = Json::parse(text);
    } catch (const Json::exception& e) {  // syntax errors and number literals beyond a double
        throw DecodeError("", std::string("not JSON: ") + e.what());
    }
    return decodeJson<T>(j);
}

template <class T>
Json encodeJson(const T& v) {
    using namespace json_detail;
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t>) {
        return Json(v);
    } else if constexpr (std::is_same_v<T, double>) {
        return Json(checkedDouble(v));
    } else if constexpr (RawEnum<T>) {
        return Json(rawValue(v));
    } else if constexpr (IsVector<T>::value) {
        Json array = Json::array();
        for (std::size_t i = 0; i < v.size(); ++i) {
            try {
                array.push_back(encodeJson(v[i]));
            } catch (const EncodeError& e) {
                throw e.within(indexSegment(i));
            }
        }
        return array;
    } else {
        return toJson(v);  // a record, found by argument-dependent lookup
    }
}

// One line without spaces, as messages are sent. Invalid UTF-8 in strings is replaced, not thrown.
std::string compactJson(const Json& j);

// Reads the fields of one JSON object.
class ObjectReader {
public:
    // Throws DecodeError unless j is an object.
    explicit ObjectReader(const Json& j);

    template <class T>
    T required(const char* key) const {
        auto it = object_.find(key);
        if (it == object_.end()) throw DecodeError(key, "missing");
        if (it->is_null()) throw DecodeError(key, "null");
        return decodeAt<T>(key, *it);
    }

    template <class T>
    std::optional<T> optional(const char* key) const {
        auto it = object_.find(key);
        if (it == object_.end() || it->is_null()) return std::nullopt;
        return decodeAt<T>(key, *it);
    }

    template <class T>
    void required(const char* key, T& out) const {
        out = required<T>(key);
    }
    template <class T>
    void optional(const char* key, std::optional<T>& out) const {
        out = optional<T>(key);
    }

private:
    template <class T>
    static T decodeAt(const char* key, const Json& j) {
        try {
            return decodeJson<T>(j);
        } catch (const DecodeError& e) {
            throw e.within(key);
        }
    }
    const Json& object_;
};

// Builds one JSON object; absent optionals are left out.
class ObjectWriter {
public:
    template <class T>
    ObjectWriter& put(const char* key, const T& v) {
        try {
            object_[key] = encodeJson(v);
        } catch (const EncodeError& e) {
            throw e.within(key);
        }
        return *this;
    }
    template <class T>
    ObjectWriter& put(const char* key, const std::optional<T>& v) {
        if (v) put(key, *v);
        return *this;
    }
    ObjectWriter& put(const char* key, const char* literal) {
        object_[key] = literal;
        return *this;
    }
    Json done() { return std::move(object_); }

private:
    Json object_ = Json::object();
};

}  // namespace ombry
