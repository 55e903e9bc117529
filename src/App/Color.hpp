#pragma once
// Display colours of the view models, free of any UI toolkit. Components are 0 to 1.

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

}  // namespace ombry
