#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ombry {

// An enumeration written as its raw string. Each such enumeration specialises RawCases with its cases in
// declaration order:  template <> struct RawCases<E> { static constexpr std::array<std::pair<E,
// std::string_view>, N> cases{...}; };
template <class E>
struct RawCases;

template <class E>
concept RawEnum = std::is_enum_v<E> && requires { RawCases<E>::cases; };

// The raw string of a case ("background").
template <RawEnum E>
std::string rawValue(E e) {
    for (const auto& [value, raw] : RawCases<E>::cases)
        if (value == e) return std::string(raw);
    return {};
}

// The case of an exact raw string (case-sensitive, no trimming); nothing for any other string.
template <RawEnum E>
std::optional<E> fromRaw(std::string_view raw) {
    for (const auto& [value, r] : RawCases<E>::cases)
        if (r == raw) return value;
    return std::nullopt;
}

// Every case in declaration order.
template <RawEnum E>
constexpr auto allCases() {
    constexpr auto& cases = RawCases<E>::cases;
    std::array<E, cases.size()> out{};
    for (std::size_t i = 0; i < cases.size(); ++i) out[i] = cases[i].first;
    return out;
}

}  // namespace ombry
