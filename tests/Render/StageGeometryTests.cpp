#include <gtest/gtest.h>

#include "Render/StageCompositor.hpp"

using namespace ombry;

TEST(StageOrientation, FromTrackTransform) {
    struct Case {
        double a, b, c, d;
        StageOrientation expected;
    } cases[] = {
        {1, 0, 0, 1, StageOrientation::up},
        {0, 1, -1, 0, StageOrientation::right},
        {-1, 0, 0, -1, StageOrientation::down},
        {0, -1, 1, 0, StageOrientation::left},
        {-1, 0, 0, 1, StageOrientation::upMirrored},
        {1, 0, 0, -1, StageOrientation::downMirrored},
        {0, 1, 1, 0, StageOrientation::leftMirrored},
        {0, -1, -1, 0, StageOrientation::rightMirrored},
        {0.999, 0.02, -0.02, 0.999, StageOrientation::up},  // nearly upright rounds to upright
    };
    for (const auto& c : cases)
        EXPECT_EQ(stageOrientation(c.a, c.b, c.c, c.d), c.expected) << c.a << " " << c.b << " " << c.c << " " << c.d;
}

TEST(StageQuad, RectAppliesTranslationThenScaleAboutTheCentre) {
    const StageSize stage{1920, 1080};
    const StageQuad plain = StageQuad::rect({10, 20, 100, 50}, {}, stage);
    EXPECT_EQ(plain.corners[0], (StagePoint{10, 20}));
    EXPECT_EQ(plain.corners[1], (StagePoint{110, 20}));
    EXPECT_EQ(plain.corners[2], (StagePoint{10, 70}));
    EXPECT_EQ(plain.corners[3], (StagePoint{110, 70}));

    const StageQuad moved = StageQuad::rect({0, 0, 1920, 1080}, {100, 0.5f}, stage);
    EXPECT_EQ(moved.corners[0], (StagePoint{530, 270}));
    EXPECT_EQ(moved.corners[3], (StagePoint{1490, 810}));
    const StageQuad zoomed = StageQuad::rect({0, 0, 1920, 1080}, {-1920, 1.12f}, stage);
    EXPECT_NEAR(zoomed.corners[0].x, 960 + (0 - 1920 - 960) * 1.12, 1e-2);
    EXPECT_NEAR(zoomed.corners[0].y, 540 - 540 * 1.12, 1e-3);
}

TEST(StagePlacement, FitAndFillOfAPortraitPictureOnALandscapeStage) {
    const StageRect fit = placedRect({1080, 1920}, {1920, 1080}, false);
    EXPECT_DOUBLE_EQ(fit.width, 607.5);
    EXPECT_DOUBLE_EQ(fit.height, 1080);
    EXPECT_DOUBLE_EQ(fit.x, 656.25);
    EXPECT_DOUBLE_EQ(fit.y, 0);

    const StageRect fill = placedRect({1080, 1920}, {1920, 1080}, true);
    EXPECT_DOUBLE_EQ(fill.width, 1920);
    EXPECT_NEAR(fill.height, 3413.33, 0.01);
    EXPECT_DOUBLE_EQ(fill.x, 0);
    EXPECT_NEAR(fill.y, -1166.67, 0.01);

    for (bool fill : {false, true}) {
        EXPECT_EQ(placedRect({0, 1920}, {1920, 1080}, fill), (StageRect{0, 0, 1920, 1080}));
        EXPECT_EQ(placedRect({1080, 0}, {1920, 1080}, fill), (StageRect{0, 0, 1920, 1080}));
    }
}
