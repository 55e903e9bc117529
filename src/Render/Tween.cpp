#include "Render/Tween.hpp"

#include <cmath>

namespace ombry {

float Tween::value(double now) const {
    if (durationMs < 1) return to;
    const double p = (now - start) / (durationMs / 1000.0);
    if (p <= 0) return from;
    if (p >= 1) return to;
    const float e = static_cast<float>(cssEase(p));
    return from + (to - from) * e;
}

// cubic-bezier(0.25, 0.1, 0.25, 1.0): solve X(t) = x by Newton, falling back to bisection, then Y(t).
double Tween::cssEase(double x) {
    constexpr double tolerance = 1e-6;
    auto X = [](double t) { return t * (t * (t - 0.75) + 0.75); };
    auto dX = [](double t) { return t * (3 * t - 1.5) + 0.75; };
    auto Y = [](double t) { return t * (t * (-1.7 * t + 2.4) + 0.3); };
    double t = x;
    for (int i = 0; i < 8; ++i) {
        const double err = X(t) - x;
        if (std::fabs(err) < tolerance) return Y(t);
        const double slope = dX(t);
        if (std::fabs(slope) < tolerance) break;
        t -= err / slope;
    }
    double low = 0, high = 1;
    t = x;
    do {
        if (X(t) < x)
            low = t;
        else
            high = t;
        t = (low + high) / 2;
    } while (high - low > tolerance);
    return Y(t);
}

}  // namespace ombry
