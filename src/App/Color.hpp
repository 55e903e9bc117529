#pragma once
// Display colours of the view models, free of any UI toolkit. Components are 0 to 1.
#include <optional>
#include <string>

namespace ombry {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
    bool operator==(const Rgba&) const = default;
};

// Hue, saturation and brightness (HSV), as the views' colour pickers and gradients use them.
struct Hsb {
    double hue = 0, saturation = 0, brightness = 0, alpha = 1;
    bool operator==(const Hsb&) const = default;
    Rgba rgba() const;
};

// The tint of sections and playlists without a usable colour.
inline constexpr Rgba grayTint{0.5, 0.5, 0.5, 1};

// A playlist colour "#rrggbb" (either case) as opaque sRGB; nothing for anything else.
std::optional<Rgba> color(const std::optional<std::string>& hex);

}  // namespace ombry
