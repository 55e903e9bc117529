#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/Gpu/Orientation.hpp"

namespace ombry {

// Pixel layouts a decoder may hand over; all 8 bits per sample.
enum class VideoPixelFormat {
    yuv420p,   // planes Y, U, V; chroma halved both ways (rounded up)
    nv12,      // planes Y, UV interleaved (U first); chroma halved both ways
    yuva420p,  // planes Y, U, V, A; A at full size, straight (not premultiplied) alpha, full range
    bgra,      // one plane B, G, R, A per pixel, straight alpha
};

enum class VideoColorMatrix { bt601, bt709, bt2020 };
enum class VideoColorRange { limited, full };  // limited: Y 16-235, chroma 16-240

// One decoded picture, as a decoder thread fills it and the main thread uploads it. The planes may point
// into `storage` (filled by allocate(), reused across frames without allocating once it is large enough)
// or into external memory that `keepAlive` holds (for instance a reference to the decoder's own frame).
// After StageCompositor::makeVideoTexture returns, the frame's memory is no longer needed.
struct VideoFrame {
    int width = 0;
    int height = 0;
    VideoPixelFormat format = VideoPixelFormat::yuv420p;
    VideoColorMatrix matrix = VideoColorMatrix::bt709;
    VideoColorRange range = VideoColorRange::limited;
    StageOrientation orientation = StageOrientation::up;
    double time = 0;      // seconds on the item's timeline
    uint64_t serial = 0;  // a producer that reuses frames numbers each new picture, so a consumer can tell
                          // a new picture from the one it already uploaded (time repeats when a clip loops)

    std::array<const uint8_t*, 4> data{};  // plane starts, in the order of the format's comment
    std::array<int, 4> stride{};           // bytes per row of each plane

    std::vector<uint8_t> storage;
    std::shared_ptr<const void> keepAlive;

    // Lays the planes out in `storage` for this size and format, each row padded to a multiple of
    // `rowAlignment` bytes (1: tightly; a decoder's vector code may want 64), and with an alignment above
    // 1 the first plane starting on such an address and kPixelTailPadding bytes after the last; allocates only
    // when the storage is smaller than needed. Drops any external memory.
    void allocate(int width, int height, VideoPixelFormat format, int rowAlignment = 1);
    // Writable start of plane i (only meaningful after allocate()).
    uint8_t* plane(int i) { return const_cast<uint8_t*>(data[static_cast<size_t>(i)]); }

    // Size, format and planes are consistent (non-null planes, strides at least a row).
    bool valid() const;

    static int planeCount(VideoPixelFormat format);
    // Samples per row and rows of plane i for a picture of w by h.
    static int planeWidth(VideoPixelFormat format, int plane, int w);
    static int planeHeight(VideoPixelFormat format, int plane, int h);
    // Bytes per sample of plane i (2 for the UV plane of nv12, 4 for bgra).
    static int bytesPerSample(VideoPixelFormat format, int plane);
};

}  // namespace ombry
