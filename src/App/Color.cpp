#include "App/Color.hpp"

#include <cstdint>

namespace ombry {

std::optional<Rgba> color(const std::optional<std::string>& hex) {
    // Seven characters: any non-ASCII character would fail the hex digits below, so bytes count as characters.
    if (!hex || hex->size() != 7 || (*hex)[0] != '#') return std::nullopt;
    // The integer reader takes a sign before the digits ("#+5f667", "#-00001"), so the value is signed and
    // its channels are the bits of its two's complement.
    std::size_t i = 1;
    bool negative = false;
    if ((*hex)[i] == '+' || (*hex)[i] == '-') negative = (*hex)[i++] == '-';
    std::int64_t value = 0;
    for (; i < hex->size(); ++i) {
        const char c = (*hex)[i];
        int digit = 0;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * 16 + digit;
    }
    const auto bits = static_cast<std::uint64_t>(negative ? -value : value);
    auto channel = [&](int shift) { return double((bits >> shift) & 0xff) / 255.0; };
    return Rgba{channel(16), channel(8), channel(0), 1};
}

}  // namespace ombry
