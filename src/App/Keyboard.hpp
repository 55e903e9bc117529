#pragma once
// The keys the main window runs a show with, independent of any UI toolkit: the window's event filter maps
// its toolkit's keys onto these and hands them to AppState::handleKey.
#include <cstdint>
#include <optional>

namespace ombry {

// Only keys that the key tables can use have a value; the window drops every other key (so shift-1, which
// types "!", never arrives as a digit).
enum class Key : std::uint8_t {
    left, right, up, down, home, pageUp, pageDown, space, escape,
    digit0, digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9,
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z,
};

// Modifier flags held with a key. Ctrl is the shortcut modifier; shift never changes what a key does.
enum KeyModifier : unsigned {
    keyShift = 1u << 0,
    keyCtrl = 1u << 1,
    keyAlt = 1u << 2,
    keyMeta = 1u << 3,
};

constexpr Key digitKey(int digit) { return Key(int(Key::digit0) + digit); }
constexpr Key letterKey(char lower) { return Key(int(Key::a) + (lower - 'a')); }

// The character a digit or letter key types without modifiers, in lower case; none for the other keys.
constexpr std::optional<char> keyCharacter(Key key) {
    if (key >= Key::digit0 && key <= Key::digit9) return char('0' + (int(key) - int(Key::digit0)));
    if (key >= Key::a && key <= Key::z) return char('a' + (int(key) - int(Key::a)));
    return std::nullopt;
}

}  // namespace ombry
