#include "GlTestSupport.hpp"

#include <cstdlib>

#include "Platform/Gpu/Readback.hpp"

namespace ombry::test {

GpuContext* GlTest::context() {
    static GpuContextResult made = makeHeadlessGpuContext();
    if (!made.context) ADD_FAILURE() << "no headless GL context: " << made.error;
    return made.context.get();
}

void GlTest::SetUp() {
    GpuContext* ctx = context();
    ASSERT_NE(ctx, nullptr);
    auto created = StageCompositor::create(*ctx);
    ASSERT_TRUE(created.ok()) << created.error().message;
    compositor_ = std::move(created.value());
    ASSERT_TRUE(compositor_->setStageSize({8, 8}));
}

void GlTest::TearDown() {
    compositor_.reset();
    if (context()) {
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}

std::shared_ptr<StageTexture> GlTest::still(int w, int h, const std::vector<Rgba>& pixels, StillAlpha alpha) {
    StillImage s;
    s.width = w;
    s.height = h;
    s.stride = size_t(w) * 4;
    s.alpha = alpha;
    for (const Rgba& p : pixels)
        s.pixels.insert(s.pixels.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b), uint8_t(p.a)});
    auto t = compositor_->makeImageTexture(std::move(s));
    EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.error().message);
    return t.ok() ? t.value() : nullptr;
}

StageQuad GlTest::whole() const {
    const StageSize s = compositor_->stageSize();
    return StageQuad::rect({0, 0, s.width, s.height}, {}, s);
}

Pixels readTarget(const GpuRenderTarget& target) {
    GpuReadback readback(1);
    Pixels out;
    EXPECT_TRUE(readback.request(target));
    readback.poll(
        [&](const ReadbackFrame& f) {
            out.width = f.width;
            out.height = f.height;
            out.bgra.assign(f.pixels, f.pixels + size_t(f.stride) * size_t(f.height));
        },
        true);
    return out;
}

::testing::AssertionResult near(Rgba a, Rgba e, int tol) {
    if (std::abs(a.r - e.r) <= tol && std::abs(a.g - e.g) <= tol && std::abs(a.b - e.b) <= tol &&
        std::abs(a.a - e.a) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << a.r << "," << a.g << "," << a.b << "," << a.a << ") expected ("
                                         << e.r << "," << e.g << "," << e.b << "," << e.a << ") ±" << tol;
}

}  // namespace ombry::test
