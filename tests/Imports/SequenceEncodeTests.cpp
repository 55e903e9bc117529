#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "Engine/Intake/SequenceImport.hpp"
#include "MediaFixtures.hpp"
#include "MoviePictures.hpp"
#include "Platform/Media/DeckPages.hpp"
#include "Platform/Media/FFmpegSupport.hpp"
#include "Platform/Media/SequenceEncoder.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::media;
namespace fs = std::filesystem;

namespace {

struct Rgba {
    int r, g, b, a;
};

// A PNG frame of straight-alpha pixels.
std::string writeFrame(const fs::path& path, int w, int h, const std::function<Rgba(int x, int y)>& pixel) {
    StillImage img = StillImage::packed(w, h, StillAlpha::straight, StillByteOrder::rgba);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba c = pixel(x, y);
            uint8_t* p = &img.pixels[img.stride * size_t(y) + size_t(x) * 4];
            p[0] = uint8_t(c.r), p[1] = uint8_t(c.g), p[2] = uint8_t(c.b), p[3] = uint8_t(c.a);
        }
    EXPECT_TRUE(writePng(img, path.string()));
    return path.string();
}

std::string solidFrame(const fs::path& path, int w, int h, Rgba c) {
    return writeFrame(path, w, h, [c](int, int) { return c; });
}

// Left third transparent, middle third half-transparent white, right third opaque orange.
Rgba thirds(int x, int w) {
    if (x < w / 3) return {0, 0, 0, 0};
    if (x < 2 * w / 3) return {255, 255, 255, 128};
    return {255, 128, 0, 255};
}

// Every picture of a movie, decoded with the decoder our player uses.
struct Decoded {
    double time;
    int width, height;
    int format;
    int alphaAt(double u, double v) const { return alpha[size_t(std::lround(v * (height - 1))) * size_t(width) + size_t(std::lround(u * (width - 1)))]; }
    std::vector<uint8_t> alpha;  // the A plane, packed
};
std::vector<Decoded> decodeAll(const fs::path& path) {
    std::vector<Decoded> out;
    test::forEachPicture(path, [&](const AVFrame& f, AVRational timeBase) {
        Decoded d{ff::seconds(f.best_effort_timestamp, timeBase), f.width, f.height, f.format, {}};
        if (f.format == AV_PIX_FMT_YUVA420P)
            for (int y = 0; y < f.height; ++y)
                d.alpha.insert(d.alpha.end(), f.data[3] + ptrdiff_t(f.linesize[3]) * y, f.data[3] + ptrdiff_t(f.linesize[3]) * y + f.width);
        out.push_back(std::move(d));
    });
    return out;
}

struct SequenceEncode : ::testing::Test {
    fs::path frames = test::tempDir("frames");
    fs::path into = test::tempDir("into");
    fs::path movie(const std::string& name) { return into / (name + ".webm"); }
};

}  // namespace

TEST(SequenceFrameConversion, ColourIsStraightAndEdgeChromaIgnoresTransparentNeighbours) {
    struct Case {
        const char* what;
        std::array<Rgba, 4> block;  // premultiplied, 2 by 2
        int y0, u, v, a0;
    };
    const Case cases[] = {
        {"opaque white", {{{255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}}}, 235, 128, 128, 255},
        {"transparent", {{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}}, 16, 128, 128, 0},
        // Half-covered white is still white: the colour goes out straight.
        {"half alpha white", {{{128, 128, 128, 128}, {128, 128, 128, 128}, {128, 128, 128, 128}, {128, 128, 128, 128}}}, 235, 128, 128, 128},
        // Red beside transparent pixels keeps red chroma instead of averaging towards grey.
        {"red edge", {{{255, 0, 0, 255}, {0, 0, 0, 0}, {255, 0, 0, 255}, {0, 0, 0, 0}}}, 63, 102, 240, 255},
        {"faint red edge", {{{26, 0, 0, 26}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}}, 63, 102, 240, 26},
    };
    for (const Case& c : cases) {
        StillImage img = StillImage::padded(2, 2, StillAlpha::premultiplied, StillByteOrder::rgba);
        for (int i = 0; i < 4; ++i) {
            uint8_t* p = &img.pixels[img.stride * size_t(i / 2) + size_t(i % 2) * 4];
            p[0] = uint8_t(c.block[size_t(i)].r), p[1] = uint8_t(c.block[size_t(i)].g), p[2] = uint8_t(c.block[size_t(i)].b),
            p[3] = uint8_t(c.block[size_t(i)].a);
        }
        uint8_t y[4], u = 0, v = 0, a[4];
        uint8_t* planes[4] = {y, &u, &v, a};
        const int strides[4] = {2, 1, 1, 2};
        premultipliedToYuva420p(img, planes, strides);
        EXPECT_NEAR(y[0], c.y0, 1) << c.what;
        EXPECT_NEAR(u, c.u, 1) << c.what;
        EXPECT_NEAR(v, c.v, 1) << c.what;
        EXPECT_EQ(a[0], c.a0) << c.what;
    }
}

TEST_F(SequenceEncode, ProgressCadence) {
    const std::string f = solidFrame(frames / "p.png", 16, 16, {10, 20, 30, 255});
    std::vector<double> calls;
    auto r = SequenceImport::transcode(std::vector<std::string>(8, f), "eight", into, 25, [&](double p) { calls.push_back(p); });
    ASSERT_TRUE(std::holds_alternative<fs::path>(r));
    EXPECT_EQ(calls, (std::vector<double>{0, 0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 1.0}));

    calls.clear();
    r = SequenceImport::transcode(std::vector<std::string>(250, f), "many", into, 25, [&](double p) { calls.push_back(p); });
    ASSERT_TRUE(std::holds_alternative<fs::path>(r));
    EXPECT_LE(calls.size(), 101u);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], 0.0);
    EXPECT_DOUBLE_EQ(calls[1], 3.0 / 250);  // frames 1 and 2 are still 0 percent
    EXPECT_EQ(calls.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
    EXPECT_EQ(decodeAll(std::get<fs::path>(r)).size(), 250u);
}

TEST_F(SequenceEncode, SizeComesFromTheFirstFrameRoundedDownToEven) {
    EXPECT_EQ(SequenceImport::pixelSize(solidFrame(frames / "odd.png", 1921, 1081, {0, 0, 0, 255})), (PixelSize{1920, 1080}));
    EXPECT_EQ(SequenceImport::pixelSize(solidFrame(frames / "thin.png", 1, 40, {0, 0, 0, 255})), std::nullopt);
    EXPECT_EQ(SequenceImport::pixelSize(solidFrame(frames / "low.png", 40, 1, {0, 0, 0, 255})), std::nullopt);
    EXPECT_EQ(SequenceImport::pixelSize((frames / "missing.png").string()), std::nullopt);
    test::writeFile(frames / "text.png", "not a picture");
    EXPECT_EQ(SequenceImport::pixelSize((frames / "text.png").string()), std::nullopt);

    // A JPEG's size comes from its header.
    EXPECT_EQ(SequenceImport::pixelSize(test::orientedJpeg(1, "34x18").string()), (PixelSize{34, 18}));

    // Later frames of another size are stretched over the whole picture.
    const auto first = writeFrame(frames / "s1.png", 33, 25, [](int x, int) { return thirds(x, 33); });
    const auto bigger = solidFrame(frames / "s2.png", 100, 80, {0, 200, 0, 255});
    auto r = SequenceImport::transcode({first, bigger}, "sizes", into, 10);
    ASSERT_TRUE(std::holds_alternative<fs::path>(r));
    const auto pictures = decodeAll(std::get<fs::path>(r));
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0].width, 32);
    EXPECT_EQ(pictures[0].height, 24);
    ASSERT_EQ(pictures[1].format, AV_PIX_FMT_YUVA420P);
    for (double u : {0.0, 1.0})
        for (double v : {0.0, 1.0}) EXPECT_GE(pictures[1].alphaAt(u, v), 250) << u << "," << v;

    const auto wide = solidFrame(frames / "w.png", 1921, 1081, {0, 0, 255, 255});
    r = SequenceImport::transcode({wide}, "wide", into, 30);
    ASSERT_TRUE(std::holds_alternative<fs::path>(r));
    const auto one = decodeAll(std::get<fs::path>(r));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].width, 1920);
    EXPECT_EQ(one[0].height, 1080);
}

TEST_F(SequenceEncode, FrameTimesFollowTheRate) {
    const std::string f = solidFrame(frames / "t.png", 16, 16, {200, 0, 0, 255});
    struct Case {
        std::int64_t fps;
        int frames;
        double lastTime;
    };
    const Case cases[] = {{0, 3, 2.0}, {-5, 3, 2.0}, {25, 51, 2.0}, {1, 2, 1.0}};
    for (const Case& c : cases) {
        auto r = SequenceImport::transcode(std::vector<std::string>(size_t(c.frames), f), "t", into, c.fps);
        ASSERT_TRUE(std::holds_alternative<fs::path>(r)) << c.fps;
        const auto pictures = decodeAll(std::get<fs::path>(r));
        ASSERT_EQ(pictures.size(), size_t(c.frames)) << c.fps;
        EXPECT_NEAR(pictures.front().time, 0.0, 1e-3) << c.fps;
        EXPECT_NEAR(pictures.back().time, c.lastTime, 1e-3) << c.fps;
    }
}

TEST_F(SequenceEncode, FailuresLeaveNoMovie) {
    const std::string good = solidFrame(frames / "g.png", 16, 16, {0, 0, 200, 255});
    test::writeFile(frames / "frame_0003.png", "this is no picture");
    const std::string bad = (frames / "frame_0003.png").string();

    // An older movie of the same name is replaced, so it is gone after a failure too.
    test::writeFile(movie("bad"), "old");
    std::vector<double> calls;
    auto r = SequenceImport::transcode({good, good, bad, good}, "bad", into, 25, [&](double p) { calls.push_back(p); });
    ASSERT_TRUE(std::holds_alternative<SequenceImport::Failure>(r));
    EXPECT_EQ(std::get<SequenceImport::Failure>(r), SequenceImport::Failure::frameUnreadable("frame_0003.png"));
    EXPECT_EQ(std::get<SequenceImport::Failure>(r).description(),
              "Frame frame_0003.png couldn't be read, so the sequence wasn't imported.");
    EXPECT_FALSE(fs::exists(movie("bad")));
    EXPECT_EQ(calls, (std::vector<double>{0, 0.25, 0.5}));  // nothing after the bad frame

    // No frames, or a first frame that is no picture: not a sequence, nothing written.
    for (const auto& list : {std::vector<std::string>{}, std::vector<std::string>{bad, good}}) {
        r = SequenceImport::transcode(list, "none", into, 25);
        ASSERT_TRUE(std::holds_alternative<SequenceImport::Failure>(r));
        EXPECT_EQ(std::get<SequenceImport::Failure>(r).kind, SequenceImport::Failure::Kind::notASequence);
        EXPECT_FALSE(fs::exists(movie("none")));
    }

    // A folder that cannot take the file: the system's own sentence.
    r = SequenceImport::transcode({good}, "x", into / "missing-folder", 25);
    ASSERT_TRUE(std::holds_alternative<SequenceImport::Failure>(r));
    EXPECT_EQ(std::get<SequenceImport::Failure>(r).kind, SequenceImport::Failure::Kind::writerFailed);
    EXPECT_FALSE(std::get<SequenceImport::Failure>(r).description().empty());

    // Stopping between frames abandons the movie.
    std::atomic<bool> stop{false};
    r = SequenceImport::transcode({good, good, good}, "stopped", into, 25, [&](double p) { stop = p > 0; }, &stop);
    ASSERT_TRUE(std::holds_alternative<SequenceImport::Failure>(r));
    EXPECT_EQ(std::get<SequenceImport::Failure>(r), SequenceImport::Failure::encodeFailed("the encoder stopped early"));
    EXPECT_FALSE(fs::exists(movie("stopped")));
}

// Content dedup takes a sequence imported twice for one file only if both encodings are the same bytes.
TEST_F(SequenceEncode, TheSameFramesGiveTheSameBytes) {
    constexpr int w = 64, h = 48;
    std::vector<std::string> list;
    for (int i = 0; i < 6; ++i)
        list.push_back(writeFrame(frames / ("same_" + std::to_string(i) + ".png"), w, h, [](int x, int) { return thirds(x, w); }));
    auto first = SequenceImport::transcode(list, "first", into, 25);
    auto second = SequenceImport::transcode(list, "second", into, 25);
    ASSERT_TRUE(std::holds_alternative<fs::path>(first));
    ASSERT_TRUE(std::holds_alternative<fs::path>(second));
    const std::string a = test::readFile(std::get<fs::path>(first)), b = test::readFile(std::get<fs::path>(second));
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << a.size() << " and " << b.size() << " bytes";
}

TEST_F(SequenceEncode, OurPlayerShowsTheAlpha) {
    constexpr int w = 96, h = 64;
    std::vector<std::string> list;
    for (int i = 0; i < 8; ++i)
        list.push_back(writeFrame(frames / ("alpha_" + std::to_string(i) + ".png"), w, h, [](int x, int) { return thirds(x, w); }));
    // An older file of the same name is replaced.
    test::writeFile(movie("alpha"), "old");
    auto r = SequenceImport::transcode(list, "alpha", into, 30);
    ASSERT_TRUE(std::holds_alternative<fs::path>(r));
    EXPECT_EQ(std::get<fs::path>(r), movie("alpha"));

    test::PlayerRig rig;
    auto player = rig.open(movie("alpha"));
    ASSERT_EQ(player->readiness(), Readiness::ready);
    ASSERT_TRUE(rig.preroll(*player));
    const auto frame = player->latestFrame(rig.q.now());
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->format, VideoPixelFormat::yuva420p);
    ASSERT_EQ(frame->width, w);
    auto sample = [&](int plane, int x, int y) { return int(frame->data[size_t(plane)][size_t(y) * size_t(frame->stride[size_t(plane)]) + size_t(x)]); };
    const int row = h / 2;
    EXPECT_LE(sample(3, w / 6, row), 2);            // transparent
    EXPECT_NEAR(sample(3, w / 2, row), 128, 3);     // half
    EXPECT_GE(sample(3, 5 * w / 6, row), 253);      // opaque
    EXPECT_NEAR(sample(0, w / 2, row), 235, 4);     // the half-covered white is white, not grey
    // Orange: BT.709 limited-range Y 141, Cb 59, Cr 189.
    EXPECT_NEAR(sample(0, 5 * w / 6, row), 141, 4);
    EXPECT_NEAR(sample(1, 5 * w / 12, row / 2), 59, 6);
    EXPECT_NEAR(sample(2, 5 * w / 12, row / 2), 189, 6);
}
