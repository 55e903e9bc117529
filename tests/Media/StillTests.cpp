#include <gtest/gtest.h>

#include <algorithm>

#include "MediaFixtures.hpp"
#include "Platform/Media/FFmpegSupport.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/StillDecoder.hpp"
#include "Render/StageCompositor.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {
struct Px {
    int r, g, b, a;
};
// One pixel in R, G, B, A whatever the byte order.
Px px(const StillImage& img, int x, int y) {
    const uint8_t* p = &img.pixels[img.stride * size_t(y) + size_t(x) * 4];
    if (img.order == StillByteOrder::bgra) return {p[2], p[1], p[0], p[3]};
    return {p[0], p[1], p[2], p[3]};
}

// Decodes a raster still, failing the test when it is anything else.
StillImage raster(const std::filesystem::path& path) {
    auto r = decodeStill(path);
    if (auto* f = std::get_if<MediaFailure>(&r)) ADD_FAILURE() << f->message;
    if (auto* img = std::get_if<StillImage>(&r)) return std::move(*img);
    ADD_FAILURE() << path << " did not decode to pixels";
    return {};
}

// The pixel the compositor shows at (u, v) of the upright picture (0 to 1 each way), found through the
// orientation's texture coordinates as the GPU finds it.
Px shown(const StillImage& img, double u, double v) {
    const auto tc = texCoords(img.orientation);  // top-left, top-right, bottom-left
    const double tu = tc[0].u + u * (tc[1].u - tc[0].u) + v * (tc[2].u - tc[0].u);
    const double tv = tc[0].v + u * (tc[1].v - tc[0].v) + v * (tc[2].v - tc[0].v);
    return px(img, std::min(int(tu * img.width), img.width - 1), std::min(int(tv * img.height), img.height - 1));
}

// Upright width and height.
std::pair<int, int> uprightSize(const StillImage& img) {
    return swapsSides(img.orientation) ? std::pair{img.height, img.width} : std::pair{img.width, img.height};
}

// The quadrant colours of orientedJpeg, as seen upright: red, green / blue, white.
void expectQuadrants(const StillImage& img) {
    struct Q {
        double u, v;
        int r, g, b;
    } quadrants[] = {{0.25, 0.25, 255, 0, 0}, {0.75, 0.25, 0, 255, 0}, {0.25, 0.75, 0, 0, 255}, {0.75, 0.75, 255, 255, 255}};
    for (const auto& q : quadrants) {
        const Px p = shown(img, q.u, q.v);
        EXPECT_NEAR(p.r, q.r, 40) << "at " << q.u << "," << q.v;
        EXPECT_NEAR(p.g, q.g, 40) << "at " << q.u << "," << q.v;
        EXPECT_NEAR(p.b, q.b, 40) << "at " << q.u << "," << q.v;
    }
}
}  // namespace

TEST(StillImage, DecodesCommonFormatsPremultiplied) {
    // Left half red, right half half-transparent blue.
    const std::string src =
        "-f lavfi -i \"color=c=red:s=32x16,format=rgba,geq=r='if(lt(X,16),255,0)':g=0:b='if(lt(X,16),0,255)':a='if(lt(X,16),255,128)'\" -frames:v 1 ";
    struct Case {
        std::string name, args;
        bool alpha;
        bool opaque;  // a format without alpha
    } cases[] = {
        {"s.png", src + "-pix_fmt rgba", true, false},
        {"s.jpg", src + "-pix_fmt yuvj444p", false, true},
        {"s.bmp", src + "-pix_fmt bgra", true, false},
        {"s.tiff", src + "-pix_fmt rgba", true, false},
        {"s.webp", src + "-c:v libwebp -lossless 1 -pix_fmt bgra", true, false},
        {"s.gif", src + "-pix_fmt pal8", false, false},
        {"s-rgb.png", src + "-pix_fmt rgb24", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = test::mediaFixture(c.name, c.args);
        if (path.empty()) {
            ADD_FAILURE() << "could not make " << c.name;
            continue;
        }
        const StillImage img = raster(path);
        ASSERT_TRUE(img.valid());
        EXPECT_EQ(img.width, 32);
        EXPECT_EQ(img.height, 16);
        // Opaque pictures need no multiplying.
        EXPECT_EQ(img.alpha, c.opaque ? StillAlpha::none : StillAlpha::premultiplied);
        EXPECT_NEAR(px(img, 4, 8).r, 255, 12);
        EXPECT_NEAR(px(img, 4, 8).b, 0, 12);
        if (c.alpha) {
            EXPECT_NEAR(px(img, 28, 8).a, 128, 2);
            EXPECT_NEAR(px(img, 28, 8).b, 128, 3);  // premultiplied
        }
    }
}

TEST(StillImage, JpegExifOrientationsStandUpright) {
    for (int tag = 1; tag <= 8; ++tag) {
        SCOPED_TRACE("orientation " + std::to_string(tag));
        const auto path = test::orientedJpeg(tag);
        ASSERT_FALSE(path.empty());
        const StillImage img = raster(path);
        ASSERT_TRUE(img.valid());
        EXPECT_EQ(img.orientation, exifStageOrientation(tag));
        EXPECT_EQ(uprightSize(img), std::pair(32, 16));
        expectQuadrants(img);
    }
    // Without a box the picture comes at its own size.
    EXPECT_EQ(raster(test::orientedJpeg(6)).width, 16);
    // A JPEG that libjpeg-turbo refuses is read by FFmpeg, and turned all the same.
    for (int tag : {1, 6, 7}) {
        SCOPED_TRACE("lossless, orientation " + std::to_string(tag));
        const auto path = test::orientedJpeg(tag, "32x16", true);
        ASSERT_FALSE(path.empty());
        const StillImage img = raster(path);
        ASSERT_TRUE(img.valid());
        EXPECT_EQ(img.orientation, exifStageOrientation(tag));
        EXPECT_EQ(uprightSize(img), std::pair(32, 16));
        expectQuadrants(img);
    }
}

// The box is the stage: a picture is decoded with at least the pixels it shows when fitted into it upright,
// as videos are delivered; one side reaching the stage's is enough.
TEST(StillImage, LargeJpegsDecodeAtTheSmallestScaleCoveringTheFittedStage) {
    struct Case {
        int tag;
        const char* size;  // upright
        StillSize needed;
        int width, height;  // upright
    } cases[] = {
        {1, "800x600", {0, 0}, 800, 600},        // no box: full size
        {1, "800x600", {100, 75}, 100, 75},      // an eighth covers it exactly
        {1, "800x600", {101, 76}, 200, 150},     // a pixel more on both sides: a quarter
        {1, "800x600", {101, 75}, 100, 75},      // fitted, the height bounds it: an eighth still
        {1, "800x600", {400, 301}, 400, 300},    // a half
        {1, "800x600", {401, 301}, 800, 600},    // only full size covers it
        {1, "800x600", {3000, 2000}, 800, 600},  // never enlarged
        {1, "800x600", {1920, 1080}, 800, 600},
        {6, "800x600", {100, 75}, 100, 75},      // turned: the box is measured upright
        {5, "800x600", {101, 76}, 200, 150},
        {8, "800x600", {1080, 1920}, 800, 600},
        {6, "800x600", {400, 300}, 400, 300},
        // A portrait photo on a landscape stage (a camera held upright): the height bounds it, so a half
        // does; full size was decoded when both sides of the stage were asked for.
        {6, "600x800", {480, 270}, 300, 400},
        {6, "600x800", {480, 200}, 150, 200},
        {6, "600x800", {480, 401}, 600, 800},
        {8, "600x800", {1920, 1080}, 600, 800},
        {1, "600x800", {480, 360}, 300, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tag) + " " + c.size + " into " + std::to_string(c.needed.width) + "x" +
                     std::to_string(c.needed.height));
        const auto path = test::orientedJpeg(c.tag, c.size);
        ASSERT_FALSE(path.empty());
        auto r = decodeStill(path, c.needed);
        ASSERT_TRUE(std::holds_alternative<StillImage>(r));
        const StillImage& img = std::get<StillImage>(r);
        ASSERT_TRUE(img.valid());
        EXPECT_EQ(img.orientation, exifStageOrientation(c.tag));
        EXPECT_EQ(uprightSize(img), std::pair(c.width, c.height));
        expectQuadrants(img);
    }
}

TEST(StillImage, TruncatedJpegShowsWhatArrived) {
    const auto path = test::orientedJpeg(1, "800x600");
    ASSERT_FALSE(path.empty());
    const std::string whole = test::readFile(path);
    const auto cut = test::tempDir("cut") / "cut.jpg";
    test::writeFile(cut, whole.substr(0, whole.size() * 3 / 5));
    const StillImage img = raster(cut);
    ASSERT_TRUE(img.valid());
    EXPECT_EQ(img.width, 800);
    EXPECT_EQ(img.height, 600);
    const Px topLeft = px(img, 200, 150);
    EXPECT_GT(topLeft.r, 200);
    EXPECT_LT(topLeft.g, 60);
}

// Swscale's vector code writes whole blocks: a picture converted into a buffer laid out as FFmpeg asks
// (padded rows and tail) must leave whatever follows that buffer alone, whatever its size.
TEST(StillImage, ConversionStaysInsideThePaddedBuffer) {
    // testsrc2 rounds its size to even: an odd one is cropped from RGB.
    auto odd = [](const std::string& crop, const std::string& timing = "") {
        return "testsrc2=s=1922x1082" + timing + ",format=rgb24,crop=" + crop + ":0:0";
    };
    struct Case {
        std::string name, args;
        int width, height;
    } cases[] = {
        {"portrait.mp4", "-f lavfi -i testsrc2=s=1080x1920:r=25:d=0.2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p", 1080, 1920},
        {"odd.mp4", "-f lavfi -i \"" + odd("1921:1081", ":r=25:d=0.2") + "\" -c:v libx264 -preset ultrafast -pix_fmt yuv444p", 1921, 1081},
        {"odd.mkv", "-f lavfi -i \"" + odd("1921:1081", ":r=25:d=0.2") + "\" -c:v ffv1 -pix_fmt yuv420p", 1921, 1081},
        {"one.png", "-f lavfi -i \"color=c=red:s=2x2,format=rgba,crop=1:1:0:0\" -frames:v 1 -pix_fmt rgba", 1, 1},
        {"odd.jpg", "-f lavfi -i \"" + odd("33:17") + "\" -frames:v 1 -pix_fmt yuvj420p", 33, 17},
        {"odd.gif", "-f lavfi -i \"" + odd("33:17") + "\" -frames:v 1", 33, 17},
        {"big-odd.png", "-f lavfi -i \"" + odd("1921:1081") + "\" -frames:v 1 -pix_fmt rgb24", 1921, 1081},
        {"big-odd.jpg", "-f lavfi -i \"" + odd("1921:1081") + "\" -frames:v 1 -pix_fmt yuvj420p", 1921, 1081},
    };
    constexpr size_t guard = 4096;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = test::mediaFixture(c.name, c.args);
        ASSERT_FALSE(path.empty());
        const ff::FramePtr frame = ff::decodeFirstPicture(path, kMaxStillSide);
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->width, c.width);
        ASSERT_EQ(frame->height, c.height);
        const int linesize = ff::paddedLinesize(c.width * 4);
        const size_t size = ff::paddedBufferSize(linesize, c.height);
        ASSERT_GE(size, size_t(c.width) * 4 * size_t(c.height));
        PixelBytes buffer(size + guard, 0xA5);
        ASSERT_TRUE(ff::scalePicture(frame.get(), AV_PIX_FMT_RGBA, c.width, c.height, buffer.data(), linesize));
        const size_t touched = size_t(std::count_if(buffer.begin() + std::ptrdiff_t(size), buffer.end(), [](uint8_t b) { return b != 0xA5; }));
        EXPECT_EQ(touched, 0u);
        // The last pixel was written (opaque).
        EXPECT_EQ(buffer[size_t(linesize) * size_t(c.height - 1) + size_t(c.width - 1) * 4 + 3], 255);

        // The decoder's own output of the same file.
        if (c.name.ends_with(".mp4")) continue;
        const StillImage img = raster(path);
        ASSERT_TRUE(img.valid());
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(img.height, c.height);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(img.pixels.data()) % kPixelAlignment, 0u);
    }
}

TEST(StillImage, SvgDecodesToAScalablePictureTheCompositorRasterises) {
    const auto dir = test::tempDir("svg");
    test::writeFile(dir / "a.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10">)"
                                   R"(<rect width="10" height="10" fill="#00ff00"/><rect x="10" width="10" height="10" fill="#0000ff" fill-opacity="0.5"/></svg>)");
    // No width or height: the size comes from the view box. No extension: found by its contents.
    test::writeFile(dir / "boxed", R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 40 30"><rect width="40" height="30" fill="red"/></svg>)");
    struct Case {
        std::string name;
        double minHeight;
        int width, height;
    } cases[] = {{"a.svg", 100, 200, 100}, {"a.svg", 0, 20, 10}, {"boxed", 60, 80, 60}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " at " + std::to_string(c.minHeight));
        auto r = decodeStill(dir / c.name);
        ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const ScalableImage>>(r));
        auto drawn = StageCompositor::rasterize(*std::get<std::shared_ptr<const ScalableImage>>(r), c.minHeight);
        ASSERT_TRUE(drawn.ok()) << drawn.error().message;
        const StillImage& img = drawn.value();
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(img.height, c.height);
        EXPECT_EQ(img.alpha, StillAlpha::premultiplied);
        if (c.name == "a.svg") {
            EXPECT_NEAR(px(img, c.width / 4, c.height / 2).g, 255, 2);
            EXPECT_NEAR(px(img, c.width * 3 / 4, c.height / 2).a, 128, 2);
            EXPECT_NEAR(px(img, c.width * 3 / 4, c.height / 2).b, 128, 2);  // premultiplied
        } else {
            EXPECT_NEAR(px(img, c.width / 2, c.height / 2).r, 255, 2);
        }
    }
    // A document that declares an enormous size is refused where it would be drawn, not allocated.
    test::writeFile(dir / "huge.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="100000" height="10"/>)");
    auto huge = decodeStill(dir / "huge.svg");
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const ScalableImage>>(huge));
    EXPECT_FALSE(StageCompositor::rasterize(*std::get<std::shared_ptr<const ScalableImage>>(huge), 0).ok());
}

TEST(StillImage, UnreadableAndOversizedImagesFail) {
    const auto dir = test::tempDir("badstill");
    test::writeFile(dir / "junk.png", std::string(500, 'x'));
    // A PNG header that declares 100000 x 100000 pixels: refused before anything that size is allocated.
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x01\x86\xa0\0\x01\x86\xa0\x08\x06\0\0\0", 29);
    png += std::string("\0\0\0\0", 4) + std::string(64, '\0');
    test::writeFile(dir / "huge.png", png);
    const auto wide = test::mediaFixture("wide.png", "-f lavfi -i color=c=red:s=8200x2 -frames:v 1");
    const auto wideJpeg = test::mediaFixture("wide.jpg", "-f lavfi -i color=c=red:s=8200x2 -frames:v 1 -pix_fmt yuvj420p");
    test::writeFile(dir / "broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><rect");
    test::writeFile(dir / "junk.jpg", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(500, 'x'));
    for (auto path : {dir / "junk.png", dir / "huge.png", wide, wideJpeg, dir / "junk.jpg", dir / "missing.png", dir / "broken.svg"}) {
        SCOPED_TRACE(path.string());
        auto r = decodeStill(path);
        ASSERT_TRUE(std::holds_alternative<MediaFailure>(r));
        EXPECT_FALSE(std::get<MediaFailure>(r).message.empty());
    }
    EXPECT_EQ(std::get<MediaFailure>(decodeStill(dir / "junk.png")).message, "image failed to load");
}

TEST(StillImage, LoaderDeliversOnTheMainQueue) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const auto path = test::mediaFixture("l.png", "-f lavfi -i color=c=blue:s=8x8 -frames:v 1");
    StillLoader loader;
    std::optional<StillResult> got;
    bool cancelledRan = false, laterRan = false;
    loader.load(path, {}, [&](StillResult r) { got = std::move(r); });
    loader.load(path, {}, [&](StillResult) { cancelledRan = true; }).cancel();
    // Loads are answered in order: once a later one has answered, the cancelled one would have too.
    loader.load(path, {}, [&](StillResult) { laterRan = true; });
    ASSERT_TRUE(q.waitUntil([&] { return got.has_value(); }));
    ASSERT_TRUE(std::holds_alternative<StillImage>(*got));
    EXPECT_EQ(std::get<StillImage>(*got).width, 8);
    ASSERT_TRUE(q.waitUntil([&] { return laterRan; }));
    EXPECT_FALSE(cancelledRan);
}
