#pragma once
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "Render/StageCompositor.hpp"

namespace ombry::test {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

// Pixels of a render target, rows in the target's own order (row 0 is GL's first row).
class Pixels {
public:
    int width = 0, height = 0;
    std::vector<uint8_t> bgra;
    Rgba at(int x, int y) const {
        const uint8_t* p = bgra.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
        return {p[2], p[1], p[0], p[3]};
    }
};
Pixels readTarget(const GpuRenderTarget& target);

::testing::AssertionResult near(Rgba actual, Rgba expected, int tolerance = 2);

// One headless context per test process, and a fresh compositor per test on a small stage.
class GlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    StageCompositor& compositor() { return *compositor_; }

    // Straight RGBA pixels, top row first.
    std::shared_ptr<StageTexture> still(int w, int h, const std::vector<Rgba>& pixels,
                                        StillAlpha alpha = StillAlpha::none);
    StageQuad whole() const;

    static GpuContext* context();
    std::unique_ptr<StageCompositor> compositor_;
};

}  // namespace ombry::test
