#include <cmath>
#include <cstring>
#include <map>
#include <optional>

#include "GlTestSupport.hpp"

using namespace ombry;
using namespace ombry::test;

namespace {

using VideoTextures = GlTest;

struct Yuv {
    int y, u, v;
};

// The forward conversion, written out independently of the shader's inverse.
Yuv encode(Rgba c, VideoColorMatrix m, VideoColorRange range) {
    const double kr = m == VideoColorMatrix::bt601 ? 0.299 : m == VideoColorMatrix::bt709 ? 0.2126 : 0.2627;
    const double kb = m == VideoColorMatrix::bt601 ? 0.114 : m == VideoColorMatrix::bt709 ? 0.0722 : 0.0593;
    const double r = c.r / 255.0, g = c.g / 255.0, b = c.b / 255.0;
    const double y = kr * r + (1 - kr - kb) * g + kb * b;
    const double cb = (b - y) / (2 * (1 - kb)), cr = (r - y) / (2 * (1 - kr));
    auto q = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
    if (range == VideoColorRange::limited) return {q(16 + 219 * y), q(128 + 224 * cb), q(128 + 224 * cr)};
    return {q(255 * y), q(128 + 255 * cb), q(128 + 255 * cr)};
}

// A uniformly coloured frame of w by h in the given layout; `padding` widens every row beyond the picture.
void fill(VideoFrame& f, int w, int h, VideoPixelFormat format, Rgba c, VideoColorMatrix m, VideoColorRange range,
          int alpha = 255) {
    f.allocate(w, h, format);
    f.matrix = m;
    f.range = range;
    const Yuv yuv = encode(c, m, range);
    for (int i = 0; i < VideoFrame::planeCount(format); ++i) {
        const int rows = VideoFrame::planeHeight(format, i, h);
        for (int y = 0; y < rows; ++y) {
            uint8_t* row = f.plane(i) + size_t(f.stride[size_t(i)]) * size_t(y);
            const int samples = VideoFrame::planeWidth(format, i, w);
            for (int x = 0; x < samples; ++x) {
                if (format == VideoPixelFormat::bgra) {
                    row[x * 4 + 0] = uint8_t(c.b), row[x * 4 + 1] = uint8_t(c.g), row[x * 4 + 2] = uint8_t(c.r);
                    row[x * 4 + 3] = uint8_t(alpha);
                } else if (format == VideoPixelFormat::nv12 && i == 1) {
                    row[x * 2 + 0] = uint8_t(yuv.u), row[x * 2 + 1] = uint8_t(yuv.v);
                } else {
                    const int values[4] = {yuv.y, yuv.u, yuv.v, alpha};
                    row[x] = uint8_t(values[i]);
                }
            }
        }
    }
}

}  // namespace

TEST_F(VideoTextures, PlanesAreConvertedInTheShader) {
    const Rgba colours[] = {{200, 60, 30, 255}, {20, 180, 90, 255}, {128, 128, 128, 255}};
    const VideoPixelFormat formats[] = {VideoPixelFormat::yuv420p, VideoPixelFormat::nv12, VideoPixelFormat::yuva420p,
                                        VideoPixelFormat::bgra};
    VideoFrame frame;
    for (Rgba c : colours)
        for (VideoColorMatrix m : {VideoColorMatrix::bt601, VideoColorMatrix::bt709, VideoColorMatrix::bt2020})
            for (VideoColorRange range : {VideoColorRange::limited, VideoColorRange::full})
                for (VideoPixelFormat format : formats) {
                    const bool withAlpha = format == VideoPixelFormat::yuva420p || format == VideoPixelFormat::bgra;
                    const int alpha = withAlpha ? 128 : 255;
                    fill(frame, 6, 4, format, c, m, range, alpha);
                    auto texture = compositor().makeVideoTexture(frame);
                    ASSERT_TRUE(texture);
                    ASSERT_TRUE(compositor().render({StageDraw::textured(texture, whole(), 1)}, {0, 0, 0, 0}));
                    const Rgba expected = {c.r * alpha / 255, c.g * alpha / 255, c.b * alpha / 255, alpha};
                    EXPECT_TRUE(near(readTarget(compositor().target()).at(4, 4), expected, 3))
                        << "format " << int(format) << " matrix " << int(m) << " range " << int(range);
                }
}

TEST_F(VideoTextures, StridedRowsAndOrientationComeFromTheFrame) {
    // Rows twice as long as the picture, the picture's left half red, right half blue.
    const int w = 4, h = 2;
    std::vector<uint8_t> memory(size_t(w) * 2 * 4 * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = memory.data() + size_t(y) * w * 2 * 4 + size_t(x) * 4;
            p[0] = x < 2 ? 0 : 255, p[2] = x < 2 ? 255 : 0, p[3] = 255;
        }
    VideoFrame frame;
    frame.width = w;
    frame.height = h;
    frame.format = VideoPixelFormat::bgra;
    frame.data[0] = memory.data();
    frame.stride[0] = w * 2 * 4;
    frame.orientation = StageOrientation::upMirrored;
    auto texture = compositor().makeVideoTexture(frame);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->orientation, StageOrientation::upMirrored);
    memory.assign(memory.size(), 0);  // the frame's memory is free once the texture is made
    ASSERT_TRUE(compositor().render({StageDraw::textured(texture, whole(), 1)}, {0, 0, 0, 0}));
    Pixels p = readTarget(compositor().target());
    EXPECT_TRUE(near(p.at(0, 3), {0, 0, 255, 255}, 0));  // mirrored: blue on the left
    EXPECT_TRUE(near(p.at(7, 3), {255, 0, 0, 255}, 0));

    VideoFrame invalid;
    EXPECT_EQ(compositor().makeVideoTexture(invalid), nullptr);
}

TEST_F(VideoTextures, PlaybackReusesPlanesInsteadOfAllocating) {
    VideoFrame frame;
    std::shared_ptr<StageTexture> shown;
    for (int i = 0; i < 50; ++i) {
        fill(frame, 16, 8, VideoPixelFormat::yuv420p, {uint8_t(i * 5), 0, 0, 255}, VideoColorMatrix::bt709,
             VideoColorRange::limited);
        auto next = compositor().makeVideoTexture(frame);
        ASSERT_TRUE(next);
        EXPECT_NE(next, shown);  // never the planes that are still on show
        shown = next;
        compositor().flushTextureCache();
    }
    EXPECT_LE(compositor().cachedVideoTextures(), 2u);

    // Another size gets planes of its own; the idle ones go after a while.
    fill(frame, 8, 8, VideoPixelFormat::nv12, {0, 0, 0, 255}, VideoColorMatrix::bt709, VideoColorRange::limited);
    shown = compositor().makeVideoTexture(frame);
    for (int i = 0; i < 200; ++i) compositor().flushTextureCache();
    EXPECT_EQ(compositor().cachedVideoTextures(), 1u);
    EXPECT_EQ(shown->width(), 8);
    shown.reset();
    for (int i = 0; i < 200; ++i) compositor().flushTextureCache();
    EXPECT_EQ(compositor().cachedVideoTextures(), 0u);

    // A stream that changes size on every frame keeps only a few idle sets around.
    for (int i = 0; i < 30; ++i) {
        fill(frame, 4 + 2 * i, 4, VideoPixelFormat::yuv420p, {0, 0, 0, 255}, VideoColorMatrix::bt709,
             VideoColorRange::limited);
        shown = compositor().makeVideoTexture(frame);
        compositor().flushTextureCache();
    }
    EXPECT_LE(compositor().cachedVideoTextures(), 9u);
}

namespace {

// Fences whose completion the test decides: fence n (1, 2, ...) has passed once `passedThrough` >= n.
struct FenceClock {
    uint64_t inserted = 0;
    uint64_t passedThrough = 0;
    int outstanding = 0;
};

class FakeProbe final : public FrameFences::Probe {
public:
    explicit FakeProbe(std::shared_ptr<FenceClock> clock) : clock_(std::move(clock)) {}
    GLsync insert() override {
        ++clock_->outstanding;
        return reinterpret_cast<GLsync>(uintptr_t(++clock_->inserted));
    }
    bool signaled(GLsync sync) override { return reinterpret_cast<uintptr_t>(sync) <= clock_->passedThrough; }
    void remove(GLsync) override { --clock_->outstanding; }

private:
    std::shared_ptr<FenceClock> clock_;
};

// A picture of four coloured quadrants (top-left, top-right, bottom-left, bottom-right); sides even, so
// every chroma sample lies inside one quadrant.
void fillQuadrants(VideoFrame& f, int w, int h, VideoPixelFormat format, const std::array<Rgba, 4>& colours) {
    f.allocate(w, h, format, 16);  // padded rows: the upload must drop the padding
    f.matrix = VideoColorMatrix::bt709;
    f.range = VideoColorRange::limited;
    auto colourAt = [&](int x, int y) { return colours[size_t((y >= h / 2) * 2 + (x >= w / 2))]; };
    for (int i = 0; i < VideoFrame::planeCount(format); ++i) {
        const bool chroma = VideoFrame::planeWidth(format, i, w) != w;
        for (int y = 0; y < VideoFrame::planeHeight(format, i, h); ++y) {
            uint8_t* row = f.plane(i) + size_t(f.stride[size_t(i)]) * size_t(y);
            for (int x = 0; x < VideoFrame::planeWidth(format, i, w); ++x) {
                const Rgba c = chroma ? colourAt(x * 2, y * 2) : colourAt(x, y);
                const Yuv yuv = encode(c, f.matrix, f.range);
                if (format == VideoPixelFormat::bgra) {
                    row[x * 4 + 0] = uint8_t(c.b), row[x * 4 + 1] = uint8_t(c.g), row[x * 4 + 2] = uint8_t(c.r);
                    row[x * 4 + 3] = 255;
                } else if (format == VideoPixelFormat::nv12 && i == 1) {
                    row[x * 2 + 0] = uint8_t(yuv.u), row[x * 2 + 1] = uint8_t(yuv.v);
                } else {
                    const int values[4] = {yuv.y, yuv.u, yuv.v, 255};
                    row[x] = uint8_t(values[i]);
                }
            }
        }
    }
}

std::array<Rgba, 4> quadrants(int i) {
    auto c = [](int v) { return Rgba{(v * 53) % 256, (v * 97 + 80) % 256, (v * 151 + 160) % 256, 255}; };
    return {c(4 * i), c(4 * i + 1), c(4 * i + 2), c(4 * i + 3)};
}

// The composed 8 by 8 stage shows the four quadrants, sampled well inside each.
::testing::AssertionResult showsQuadrants(const Pixels& p, const std::array<Rgba, 4>& colours) {
    const int at[4][2] = {{1, 1}, {6, 1}, {1, 6}, {6, 6}};
    for (size_t q = 0; q < 4; ++q)
        if (auto r = near(p.at(at[q][0], at[q][1]), colours[q], 4); !r) return r << " in quadrant " << q;
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(VideoTextures, PlanesTheGpuMayStillReadAreNeverWritten) {
    auto clock = std::make_shared<FenceClock>();
    compositor().frameFences().setProbe(std::make_unique<FakeProbe>(clock));
    VideoFrame frame;
    std::vector<std::shared_ptr<StageTexture>> shown(14);  // layers of one size; the last one drawn on top
    // Set -> the fence after the last frame that drew it (a set given back may leave its address to a new one).
    std::map<const StageTexture*, std::pair<std::weak_ptr<StageTexture>, uint64_t>> drawnUnder;
    std::array<Rgba, 4> onStage{};
    int n = 0, skipped = 0;
    // One frame of `layers` layers, with the GPU `lag` frames behind (none: it stalls where it is).
    auto frameOf = [&](size_t layers, std::optional<uint64_t> lag) {
        if (lag) clock->passedThrough = clock->inserted > *lag ? clock->inserted - *lag : 0;
        std::array<Rgba, 4> top = onStage;
        std::vector<StageDraw> draws;
        for (size_t l = 0; l < layers; ++l, ++n) {
            fillQuadrants(frame, 16, 8, VideoPixelFormat::yuv420p, quadrants(n));
            if (auto next = compositor().makeVideoTexture(frame)) {
                auto it = drawnUnder.find(next.get());
                if (it != drawnUnder.end() && it->second.first.lock() == next) {
                    EXPECT_LE(it->second.second, clock->passedThrough) << "frame " << n << " wrote planes being read";
                }
                shown[l] = next;
                if (l + 1 == layers) top = quadrants(n);
            } else {
                ++skipped;  // the layer keeps its picture
            }
            draws.push_back(StageDraw::textured(shown[l], whole(), 1));
        }
        const bool rendered = compositor().render(draws, {0, 0, 0, 0});
        if (rendered) {
            for (size_t l = 0; l < layers; ++l) drawnUnder[shown[l].get()] = {shown[l], clock->inserted};
            onStage = top;
        }
        // A dropped frame leaves the previous one on the stage.
        EXPECT_TRUE(showsQuadrants(readTarget(compositor().target()), onStage)) << "frame " << n;
        compositor().flushTextureCache();
        return rendered;
    };

    // Three layers, the GPU a frame behind: every frame is composed, and after the first frames the ring
    // has what it needs.
    size_t sets = 0;
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(frameOf(3, 1)) << i;
        if (i == 5) sets = compositor().cachedVideoTextures();
    }
    EXPECT_EQ(compositor().cachedVideoTextures(), sets);
    EXPECT_EQ(skipped, 0);
    // Fourteen layers: the sets still being read reach the bound and some layers keep their picture.
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(frameOf(14, 1)) << i;
    EXPECT_GT(skipped, 0);
    EXPECT_EQ(compositor().uploadsSkipped(), uint64_t(skipped));
    // A frame behind is as far as it may fall: when it stalls there, frames are dropped instead of queued
    // behind the others.
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(frameOf(3, std::nullopt)) << i;
    EXPECT_EQ(compositor().framesDropped(), 4u);
    // It catches up: composing resumes with the newest pictures.
    EXPECT_TRUE(frameOf(3, 0));
    EXPECT_TRUE(frameOf(3, 0));
    EXPECT_LE(clock->outstanding, int(FrameFences::capacity));
}

TEST_F(VideoTextures, PicturesStayRightAcrossRingTurnsAndSizeChanges) {
    struct Stream {
        VideoPixelFormat format;
        int w, h;
    };
    const Stream streams[] = {{VideoPixelFormat::yuv420p, 16, 8}, {VideoPixelFormat::nv12, 12, 12},
                              {VideoPixelFormat::bgra, 8, 4},     {VideoPixelFormat::yuva420p, 20, 10},
                              {VideoPixelFormat::yuv420p, 16, 8}};
    VideoFrame frame;
    std::shared_ptr<StageTexture> shown;
    int n = 0;
    for (const Stream& s : streams)
        for (int i = 0; i < 12; ++i, ++n) {
            fillQuadrants(frame, s.w, s.h, s.format, quadrants(n));
            auto next = compositor().makeVideoTexture(frame);
            ASSERT_TRUE(next) << "frame " << n;  // the readback below lets the GPU finish every frame
            shown = next;
            ASSERT_EQ(shown->width(), s.w);
            ASSERT_TRUE(compositor().render({StageDraw::textured(shown, whole(), 1)}, {0, 0, 0, 0}));
            EXPECT_TRUE(showsQuadrants(readTarget(compositor().target()), quadrants(n)))
                << "frame " << n << " format " << int(s.format) << " " << s.w << "x" << s.h;
            compositor().flushTextureCache();
        }
    EXPECT_EQ(compositor().uploadsSkipped(), 0u);
    EXPECT_LE(compositor().cachedVideoTextures(), 9u);
}

TEST(FrameFencesTest, AFullRingLetsTheNextFenceCoverTheFramesWithoutOne) {
    auto clock = std::make_shared<FenceClock>();
    FrameFences fences;
    fences.setProbe(std::make_unique<FakeProbe>(clock));
    EXPECT_TRUE(fences.passed(0));  // never drawn
    std::vector<uint64_t> frames;
    for (size_t i = 0; i < FrameFences::capacity + 3; ++i) {
        frames.push_back(fences.upcoming());
        fences.fence();
    }
    EXPECT_EQ(clock->inserted, FrameFences::capacity);
    // The frames past the capacity wait for the first fence inserted after them.
    EXPECT_EQ(frames.back(), FrameFences::capacity + 1);
    EXPECT_FALSE(fences.passed(frames.front()));
    clock->passedThrough = 2;
    EXPECT_TRUE(fences.passed(frames[0]));
    EXPECT_TRUE(fences.passed(frames[1]));
    EXPECT_FALSE(fences.passed(frames[2]));
    fences.fence();  // room again: this fence covers the frames that found none
    EXPECT_EQ(clock->inserted, FrameFences::capacity + 1);
    clock->passedThrough = FrameFences::capacity;
    EXPECT_FALSE(fences.passed(frames.back()));
    clock->passedThrough = FrameFences::capacity + 1;
    EXPECT_TRUE(fences.passed(frames.back()));
    EXPECT_EQ(clock->outstanding, 0);
}
