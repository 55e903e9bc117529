#include "Engine/Model/JsonCoding.hpp"

#include <limits>

namespace ombry {
namespace {
std::string joined(const std::string& outer, const std::string& inner) {
    if (inner.empty()) return outer;
    if (outer.empty()) return inner;
    if (inner.front() == '[') return outer + inner;
    return outer + "." + inner;
}
std::string describe(const std::string& path, const std::string& reason) {
    return path.empty() ? reason : path + ": " + reason;
}
}  // namespace

DecodeError::DecodeError(std::string path, std::string reason)
    : std::runtime_error(describe(path, reason)), path_(std::move(path)), reason_(std::move(reason)) {}

DecodeError DecodeError::within(const std::string& segment) const {
    return DecodeError(joined(segment, path_), reason_);
}

EncodeError::EncodeError(std::string path, std::string reason)
    : std::runtime_error(describe(path, reason)), path_(std::move(path)), reason_(std::move(reason)) {}

EncodeError EncodeError::within(const std::string& segment) const {
    return EncodeError(joined(segment, path_), reason_);
}

namespace json_detail {

std::string indexSegment(std::size_t i) { return "[" + std::to_string(i) + "]"; }

void mistyped(const char* expected, const Json& j) {
    throw DecodeError("", std::string("expected ") + expected + ", found " + j.type_name());
}

std::int64_t readInt(const Json& j) {
    if (j.is_number_unsigned()) {
        auto v = j.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw DecodeError("", "integer out of range");
        return static_cast<std::int64_t>(v);
    }
    if (j.is_number_integer()) return j.get<std::int64_t>();
    if (j.is_number_float()) {
        // "3.0" is the integer 3; a fraction or a value beyond 64 bits is not an integer.
        const double d = j.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
        throw DecodeError("", "expected an integer, found " + j.dump());
    }
    mistyped("an integer", j);
}

double readDouble(const Json& j) {
    if (!j.is_number()) mistyped("a number", j);
    const double d = j.get<double>();
    // A literal too large for a double parses as infinity; it would make the record unwritable later.
    return std::isfinite(d) ? d : 0.0;
}

double checkedDouble(double v) {
    if (!std::isfinite(v)) throw EncodeError("", "number is not finite");
    return v;
}

}  // namespace json_detail

MediaKind mediaKindFromJson(const Json& j) {
    if (!j.is_string()) json_detail::mistyped("a string", j);
    return mediaKindFromAnyString(j.get_ref<const std::string&>());
}

std::string compactJson(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

ObjectReader::ObjectReader(const Json& j) : object_(j) {
    if (!j.is_object()) json_detail::mistyped("an object", j);
}

}  // namespace ombry
