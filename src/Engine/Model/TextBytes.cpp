#include "Engine/Model/TextBytes.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <fmt/format.h>

namespace ombry {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0 when there is none.
std::size_t sequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) n = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < n || byte(1) < lo || byte(1) > hi) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return n;
}

}  // namespace

bool isUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = sequenceLength(bytes);
        if (n == 0) return false;
        bytes.remove_prefix(n);
    }
    return true;
}

std::string showBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        std::size_t n = sequenceLength(bytes);
        if (n == 0) {
            out += fmt::format("\\x{:02X}", static_cast<unsigned char>(bytes[0]));
            n = 1;
        } else {
            out.append(bytes.substr(0, n));
        }
        bytes.remove_prefix(n);
    }
    return out;
}

std::string trimWhiteSpace(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t first = 0;
    while (first < length) {
        int32_t next = first;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        first = next;
    }
    int32_t end = length;
    while (end > first) {
        int32_t before = end;
        UChar32 c;
        U8_PREV(bytes, first, before, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = before;
    }
    return std::string(text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(end - first)));
}

}  // namespace ombry
