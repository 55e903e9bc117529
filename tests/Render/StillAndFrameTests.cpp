#include <gtest/gtest.h>

#include "Render/StageCompositor.hpp"

using namespace ombry;

namespace {

StillImage still(StillAlpha alpha, const std::vector<uint8_t>& pixels, int w) {
    StillImage s;
    s.width = w;
    s.height = int(pixels.size() / 4 / size_t(w));
    s.stride = size_t(w) * 4;
    s.alpha = alpha;
    s.pixels.assign(pixels.begin(), pixels.end());
    return s;
}

std::vector<uint8_t> bytes(const StillImage& s) { return {s.pixels.begin(), s.pixels.end()}; }

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
    EXPECT_EQ(bytes(out), (std::vector<uint8_t>{128, 64, 0, 128, 0, 0, 0, 0, 9, 8, 7, 255}));

    for (StillAlpha kept : {StillAlpha::none, StillAlpha::premultiplied}) {
        const std::vector<uint8_t> px = {255, 128, 0, 128};
        const StillImage same = StageCompositor::premultiplied(still(kept, px, 1));
        EXPECT_EQ(same.alpha, kept);
        EXPECT_EQ(bytes(same), px);
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
    // Laid out for a scaler's vector code: aligned start, a tail after the last row.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(f.data[0]) % 64, 0u);
    EXPECT_GE(f.storage.data() + f.storage.size(), f.data[3] + 64 * 3 + kPixelTailPadding);
    for (auto [w, h] : {std::pair{1080, 1920}, {1, 1}, {33, 17}, {1921, 1081}})
        for (auto format : {VideoPixelFormat::bgra, VideoPixelFormat::yuv420p, VideoPixelFormat::nv12}) {
            VideoFrame g;
            g.allocate(w, h, format, 64);
            ASSERT_TRUE(g.valid());
            const int last = VideoFrame::planeCount(format) - 1;
            const uint8_t* end = g.data[size_t(last)] + size_t(g.stride[size_t(last)]) * size_t(VideoFrame::planeHeight(format, last, h));
            EXPECT_EQ(reinterpret_cast<uintptr_t>(g.data[0]) % 64, 0u) << w << "x" << h;
            EXPECT_GE(g.storage.data() + g.storage.size(), end + kPixelTailPadding) << w << "x" << h;
            for (int i = 0; i <= last; ++i) EXPECT_EQ(g.stride[size_t(i)] % 64, 0) << w << "x" << h << " plane " << i;
        }

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
