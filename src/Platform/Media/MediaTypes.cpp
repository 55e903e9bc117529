#include "Platform/Media/MediaTypes.hpp"

#include <cmath>
#include <numbers>

namespace ombry::media {

VideoOrientation orientationFromTransform(double a, double b, double c, double d) {
    const bool mirrored = a * d < b * c;
    if (mirrored) {
        a = -a;
        b = -b;
    }
    const double turns = std::round(std::atan2(b, a) / (std::numbers::pi / 2));
    const int q = static_cast<int>(static_cast<long long>(turns) & 3);
    return static_cast<VideoOrientation>(mirrored ? q + 4 : q);
}

std::optional<PixelSize> fittedDeliverySize(double nw, double nh, double sw, double sh) {
    if (nw < 1 || nh < 1 || sw < 1 || sh < 1) return std::nullopt;
    if (sw >= nw && sh >= nh) return std::nullopt;
    const double scale = std::min(sw / nw, sh / nh);
    auto even = [](double v) {
        long long r = std::llround(v);
        r -= r % 2;
        return static_cast<int>(std::max<long long>(r, 2));
    };
    return PixelSize{even(nw * scale), even(nh * scale)};
}

}  // namespace ombry::media
