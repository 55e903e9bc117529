#include "Platform/Media/MediaTypes.hpp"

#include <algorithm>
#include <cmath>

namespace ombry::media {

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
