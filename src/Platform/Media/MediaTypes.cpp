#include "Platform/Media/MediaTypes.hpp"

#include <algorithm>
#include <chrono>
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

void IoInterrupt::setDeadline(double secondsFromNow) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const double ns = double(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) + secondsFromNow * 1e9;
    const int64_t at = ns >= 9.2e18 ? INT64_MAX : int64_t(ns);
    int64_t current = deadlineNs_.load(std::memory_order_relaxed);
    while (at < current && !deadlineNs_.compare_exchange_weak(current, at, std::memory_order_relaxed)) {
    }
}

bool IoInterrupt::expired() const {
    const int64_t deadline = deadlineNs_.load(std::memory_order_relaxed);
    if (deadline == INT64_MAX) return false;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() >= deadline;
}

}  // namespace ombry::media
