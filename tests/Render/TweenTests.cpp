#include <gtest/gtest.h>

#include <cmath>

#include "Render/Tween.hpp"

using namespace ombry;

// The ease curve by dense bisection on the Bézier parameter, independent of the tween's solver.
static double referenceEase(double x) {
    auto X = [](double t) { return 3 * 0.25 * t * (1 - t) * (1 - t) + 3 * 0.25 * t * t * (1 - t) + t * t * t; };
    auto Y = [](double t) { return 3 * 0.1 * t * (1 - t) * (1 - t) + 3 * 1.0 * t * t * (1 - t) + t * t * t; };
    double lo = 0, hi = 1;
    for (int i = 0; i < 60; ++i) {
        double mid = (lo + hi) / 2;
        (X(mid) < x ? lo : hi) = mid;
    }
    return Y((lo + hi) / 2);
}

TEST(Tween, EndsAreExactAndZeroDurationIsConstant) {
    const Tween t{2.f, 7.f, 100.0, 400};
    EXPECT_EQ(t.value(99.0), 2.f);
    EXPECT_EQ(t.value(100.0), 2.f);
    EXPECT_EQ(t.value(100.4), 7.f);
    EXPECT_EQ(t.value(500.0), 7.f);
    for (int d : {0, -5}) {
        const Tween c{2.f, 7.f, 100.0, d};
        EXPECT_EQ(c.value(0.0), 7.f);
        EXPECT_EQ(c.value(100.0), 7.f);
        EXPECT_EQ(c.value(1e9), 7.f);
    }
}

TEST(Tween, FollowsTheCssEaseCurve) {
    const Tween t{0.f, 1.f, 10.0, 1000};
    EXPECT_NEAR(t.value(10.5), 0.8024, 1e-4);
    for (int i = 1; i < 100; ++i) {
        const double x = i / 100.0;
        EXPECT_NEAR(t.value(10.0 + x), referenceEase(x), 2e-5) << x;
    }
    // A falling tween mirrors the rising one.
    const Tween down{1.f, 0.f, 10.0, 500};
    EXPECT_NEAR(down.value(10.25), 1 - 0.8024, 1e-4);
}
