#include <gtest/gtest.h>

#include "MediaFixtures.hpp"
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

// Puts an EXIF APP1 segment with the given orientation right after a JPEG's SOI marker.
std::string withExifOrientation(const std::string& jpeg, int orientation) {
    const std::string tiff = std::string("II*\0\x08\0\0\0", 8) + std::string("\x01\0", 2) +  // one entry
                             std::string("\x12\x01\x03\0\x01\0\0\0", 8) + char(orientation) + std::string("\0\0\0", 3) +
                             std::string("\0\0\0\0", 4);
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    const size_t len = body.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE1" + char(len >> 8) + char(len & 0xFF) + body + jpeg.substr(2);
}
}  // namespace

TEST(StillImage, DecodesCommonFormatsPremultiplied) {
    // Left half red, right half half-transparent blue.
    const std::string src =
        "-f lavfi -i \"color=c=red:s=32x16,format=rgba,geq=r='if(lt(X,16),255,0)':g=0:b='if(lt(X,16),0,255)':a='if(lt(X,16),255,128)'\" -frames:v 1 ";
    struct Case {
        std::string name, args;
        bool alpha;
    } cases[] = {
        {"s.png", src + "-pix_fmt rgba", true},
        {"s.jpg", src + "-pix_fmt yuvj444p", false},
        {"s.bmp", src + "-pix_fmt bgra", true},
        {"s.tiff", src + "-pix_fmt rgba", true},
        {"s.webp", src + "-c:v libwebp -lossless 1 -pix_fmt bgra", true},
        {"s.gif", src + "-pix_fmt pal8", false},
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
        EXPECT_EQ(img.alpha, StillAlpha::premultiplied);
        EXPECT_NEAR(px(img, 4, 8).r, 255, 12);
        EXPECT_NEAR(px(img, 4, 8).b, 0, 12);
        if (c.alpha) {
            EXPECT_NEAR(px(img, 28, 8).a, 128, 2);
            EXPECT_NEAR(px(img, 28, 8).b, 128, 3);  // premultiplied
        }
    }
}

TEST(StillImage, JpegExifOrientationIsApplied) {
    // 32x16, left red, right blue; orientation 6 means the picture must turn a quarter clockwise.
    const auto path = test::mediaFixture("o.jpg", "-f lavfi -i \"color=c=red:s=32x16,geq=r='if(lt(X,16),255,0)':g=0:b='if(lt(X,16),0,255)'\" -frames:v 1 -pix_fmt yuvj444p");
    ASSERT_FALSE(path.empty());
    const auto turned = test::tempDir("exif") / "turned.jpg";
    test::writeFile(turned, withExifOrientation(test::readFile(path), 6));
    const StillImage img = raster(turned);
    ASSERT_TRUE(img.valid());
    EXPECT_EQ(img.width, 16);
    EXPECT_EQ(img.height, 32);
    EXPECT_EQ(img.stride, 16u * 4);
    EXPECT_GT(px(img, 8, 4).r, 200);  // the left (red) side is now on top
    EXPECT_GT(px(img, 8, 28).b, 200);
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
    test::writeFile(dir / "broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><rect");
    for (auto path : {dir / "junk.png", dir / "huge.png", wide, dir / "missing.png", dir / "broken.svg"}) {
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
    bool cancelledRan = false;
    loader.load(path, [&](StillResult r) { got = std::move(r); });
    loader.load(path, [&](StillResult) { cancelledRan = true; }).cancel();
    ASSERT_TRUE(q.waitUntil([&] { return got.has_value(); }));
    ASSERT_TRUE(std::holds_alternative<StillImage>(*got));
    EXPECT_EQ(std::get<StillImage>(*got).width, 8);
    q.waitUntil([] { return false; }, 0.2);
    EXPECT_FALSE(cancelledRan);
}
