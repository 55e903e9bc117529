#include <cmath>
#include <cstring>

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
