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

// The GPU planes of one picture. Video planes are filled through a pixel buffer object of their own, so
// the copy from the decoder's memory is one memcpy and the transfer to the texture does not wait for
// draws of earlier frames.
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
    bool upload(const VideoFrame& frame);

    int width() const { return width_; }
    int height() const { return height_; }
    int planeCount() const { return planeCount_; }
    GLuint plane(int i) const { return planes_[static_cast<size_t>(i)].get(); }
    GpuSampling sampling() const { return sampling_; }
    VideoColorMatrix matrix() const { return matrix_; }
    VideoColorRange range() const { return range_; }

private:
    std::array<GlTexture, 4> planes_;
    GlBuffer pbo_;
    size_t pboSize_ = 0;
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
