#include <gtest/gtest.h>

#include "Render/StageCompositor.hpp"

using namespace ombry;

namespace {

StillImage still(StillAlpha alpha, std::vector<uint8_t> pixels, int w) {
    StillImage s;
    s.width = w;
    s.height = int(pixels.size() / 4 / size_t(w));
    s.stride = size_t(w) * 4;
    s.alpha = alpha;
    s.pixels = std::move(pixels);
    return s;
}

// Fills with one colour and records the sizes it was asked for.
class FakeVector final : public ScalableImage {
public:
    FakeVector(double w, double h, bool succeeds = true) : w_(w), h_(h), succeeds_(succeeds) {}
    double width() const override { return w_; }
    double height() const override { return h_; }
    bool draw(uint8_t* pixels, int w, int h, size_t stride) const override {
        ++draws;
        drawnW = w;
        drawnH = h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = pixels + stride * size_t(y) + size_t(x) * 4;
                p[0] = 10, p[1] = 20, p[2] = 30, p[3] = 255;
            }
        return succeeds_;
    }
    mutable int draws = 0;
    mutable int drawnW = 0, drawnH = 0;

private:
    double w_, h_;
    bool succeeds_;
};

}  // namespace

TEST(Premultiplied, StraightAlphaIsMultipliedOthersStayAsTheyAre) {
    const StillImage out = StageCompositor::premultiplied(
        still(StillAlpha::straight, {255, 128, 0, 128, 200, 100, 50, 0, 9, 8, 7, 255}, 3));
    EXPECT_EQ(out.alpha, StillAlpha::premultiplied);
    EXPECT_EQ(out.pixels, (std::vector<uint8_t>{128, 64, 0, 128, 0, 0, 0, 0, 9, 8, 7, 255}));

    for (StillAlpha kept : {StillAlpha::none, StillAlpha::premultiplied}) {
        const std::vector<uint8_t> px = {255, 128, 0, 128};
        const StillImage same = StageCompositor::premultiplied(still(kept, px, 1));
        EXPECT_EQ(same.alpha, kept);
        EXPECT_EQ(same.pixels, px);
    }
}

TEST(Rasterize, ScalesShortImagesUpToTheMinimumHeight) {
    FakeVector small(100, 50);
    auto up = StageCompositor::rasterize(small, 1080);
    ASSERT_TRUE(up.ok());
    EXPECT_EQ(up->height, 1080);
    EXPECT_EQ(up->width, 2160);
    EXPECT_EQ(up->alpha, StillAlpha::premultiplied);
    EXPECT_EQ(up->order, StillByteOrder::bgra);
    EXPECT_EQ(up->pixels[3], 255);

    FakeVector tall(1500.7, 2000);
    auto kept = StageCompositor::rasterize(tall, 1080);
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept->width, 1500);
    EXPECT_EQ(kept->height, 2000);
}

TEST(Rasterize, RefusesSizesBeyondTheCapWithoutDrawing) {
    struct Case {
        double w, h, minHeight;
    } cases[] = {
        {8193, 100, 0},       // too wide as declared
        {100, 1e12, 0},       // absurd declared height
        {4000, 50, 1080},     // too wide once scaled up to the minimum height
        {1.0 / 0.0, 10, 0},   // infinite
    };
    for (const auto& c : cases) {
        FakeVector image(c.w, c.h);
        auto r = StageCompositor::rasterize(image, c.minHeight);
        ASSERT_FALSE(r.ok()) << c.w << "x" << c.h;
        EXPECT_EQ(r.error().code, IssueCode::imageUnreadable);
        EXPECT_EQ(image.draws, 0);
    }
    for (auto [w, h] : {std::pair{8192.0, 10.0}, {10.0, 8192.9}}) {
        FakeVector edge(w, h);
        EXPECT_TRUE(StageCompositor::rasterize(edge, 0).ok()) << w << "x" << h;
    }
}

TEST(Rasterize, EmptyOrFailedDrawingIsUnreadable) {
    for (auto [w, h] : {std::pair{0.0, 10.0}, {10.0, 0.0}, {-5.0, 10.0}, {0.0 / 0.0, 10.0}, {0.4, 10.0}}) {
        FakeVector image(w, h);
        auto r = StageCompositor::rasterize(image, 0);
        ASSERT_FALSE(r.ok()) << w << "x" << h;
        EXPECT_EQ(r.error().code, IssueCode::imageUnreadable);
    }
    FakeVector broken(10, 10, false);
    auto r = StageCompositor::rasterize(broken, 0);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, IssueCode::imageUnreadable);
}

TEST(VideoFrame, AllocateLaysOutPlanesAndReusesStorage) {
    VideoFrame f;
    f.allocate(5, 3, VideoPixelFormat::yuv420p);
    ASSERT_TRUE(f.valid());
    EXPECT_EQ(f.stride[0], 5);
    EXPECT_EQ(f.stride[1], 3);  // chroma rounds up
    EXPECT_EQ(f.data[1] - f.data[0], 15);
    EXPECT_EQ(f.data[2] - f.data[1], 3 * 2);
    const uint8_t* before = f.storage.data();
    f.allocate(5, 3, VideoPixelFormat::nv12);  // smaller need: no new allocation
    EXPECT_EQ(f.storage.data(), before);
    EXPECT_EQ(f.stride[1], 6);  // interleaved UV
    f.allocate(4, 2, VideoPixelFormat::yuva420p);
    EXPECT_EQ(f.storage.data(), before);
    EXPECT_EQ(f.stride[3], 4);
    EXPECT_TRUE(f.valid());
    f.allocate(5, 3, VideoPixelFormat::yuva420p, 64);  // padded rows, every plane starting on a padded row
    ASSERT_TRUE(f.valid());
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(f.stride[i], 64) << i;
    EXPECT_EQ(f.data[1] - f.data[0], 64 * 3);
    EXPECT_EQ(f.data[2] - f.data[1], 64 * 2);
    EXPECT_EQ(f.data[3] - f.data[2], 64 * 2);
    EXPECT_GE(f.storage.data() + f.storage.size(), f.data[3] + 64 * 3);

    VideoFrame broken = {};
    broken.width = 4;
    broken.height = 2;
    broken.format = VideoPixelFormat::bgra;
    EXPECT_FALSE(broken.valid());  // no plane
    uint8_t px[32] = {};
    broken.data[0] = px;
    broken.stride[0] = 12;  // shorter than a row
    EXPECT_FALSE(broken.valid());
    broken.stride[0] = 16;
    EXPECT_TRUE(broken.valid());
}
