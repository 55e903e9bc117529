#pragma once
#include <array>

#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/StillImage.hpp"
#include "Platform/Gpu/VideoFrame.hpp"

namespace ombry {

// How a shader turns the planes into premultiplied colour.
enum class GpuSampling {
    rgbaPremultiplied,  // one RGBA plane, already premultiplied (stills)
    rgbaStraight,       // one RGBA plane with straight alpha (bgra video)
    yuv,                // Y, U, V planes
    yuva,               // Y, U, V, A planes
    nv12,               // Y and interleaved UV planes
};

// Column-major 3x3 matrix and offset: rgb = matrix * (yuv - offset), samples normalised to 0..1.
struct YuvToRgb {
    std::array<float, 9> matrix{};
    std::array<float, 3> offset{};
};
YuvToRgb yuvToRgb(VideoColorMatrix matrix, VideoColorRange range);

// Where one video plane lies in the buffer of its picture: its first texel and its size in texels.
struct GpuPlaneLayout {
    int first = 0;
    int width = 0;
    int height = 0;
};

// The GPU planes of one picture. A still is one RGBA texture. A video picture's planes lie one after the
// other in one buffer that the shader reads through a buffer texture: the decoder's rows are copied
// straight into it, and since nothing but the shader reads the buffer, writing it never makes the driver
// wait for earlier draws (writing a texture that a queued draw samples does).
class GpuFrameTextures {
public:
    GpuFrameTextures() = default;
    // Planes for video of this format and size, contents undefined; empty on failure.
    static GpuFrameTextures forVideo(VideoPixelFormat format, int width, int height);
    // One RGBA plane holding the still's pixels as they are (straight alpha is marked, not converted).
    static GpuFrameTextures fromStill(const StillImage& image);

    explicit operator bool() const { return planeCount_ > 0; }
    bool fits(VideoPixelFormat format, int width, int height) const {
        return isVideo_ && format_ == format && width_ == width && height_ == height;
    }
    // Copies a frame of the same format and size into the planes; false when it does not fit or GL failed.
    // The caller makes sure no queued GPU work still reads them: the buffer is written unsynchronised.
    bool upload(const VideoFrame& frame);

    int width() const { return width_; }
    int height() const { return height_; }
    int planeCount() const { return planeCount_; }
    // A still's texture (GL_TEXTURE_2D).
    GLuint plane(int i) const { return planes_[static_cast<size_t>(i)].get(); }
    // Video: the planes in one buffer texture (GL_TEXTURE_BUFFER), one byte per texel (four for bgra).
    bool buffered() const { return isVideo_; }
    GLuint bufferTexture() const { return bufferTexture_.get(); }
    const std::array<GpuPlaneLayout, 4>& layout() const { return layout_; }
    GpuSampling sampling() const { return sampling_; }
    VideoColorMatrix matrix() const { return matrix_; }
    VideoColorRange range() const { return range_; }

private:
    std::array<GlTexture, 4> planes_;
    GlBuffer buffer_;
    GlTexture bufferTexture_;
    std::array<GpuPlaneLayout, 4> layout_{};
    size_t bufferSize_ = 0;
    int planeCount_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool isVideo_ = false;
    VideoPixelFormat format_ = VideoPixelFormat::yuv420p;
    VideoColorMatrix matrix_ = VideoColorMatrix::bt709;
    VideoColorRange range_ = VideoColorRange::limited;
    GpuSampling sampling_ = GpuSampling::rgbaPremultiplied;
};

}  // namespace ombry
