#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media {

// Pixel layouts a player delivers. 8-bit planes throughout; alpha is straight (not premultiplied).
enum class PixelLayout {
    yuv420p,   // Y, U, V (U and V at half width and height)
    yuva420p,  // Y, U, V, A (A at full size)
    bgra,      // one interleaved plane, B G R A bytes
};

enum class ColorMatrix { bt601, bt709, bt2020 };
enum class ColorRange { limited, full };

struct VideoPlane {
    const uint8_t* data = nullptr;
    int stride = 0;  // bytes per row
    int width = 0;   // in samples
    int height = 0;
};

// One decoded picture ready for upload. Frames come from a fixed pool per player: holding one keeps its
// slot busy, so consumers hold at most a couple at a time and never copy the struct's storage.
struct VideoFrame {
    PixelLayout layout = PixelLayout::yuv420p;
    int width = 0;
    int height = 0;
    int planeCount = 0;
    std::array<VideoPlane, 4> planes{};
    ColorMatrix matrix = ColorMatrix::bt709;
    ColorRange range = ColorRange::limited;
    VideoOrientation orientation = VideoOrientation::up;
    bool hasAlpha = false;
    double time = 0;      // presentation time on the item's own timeline, seconds
    uint64_t serial = 0;  // grows with every frame a player delivers; equal serial, same picture

    std::vector<uint8_t> storage;  // the pool slot's pixel memory
};

}  // namespace ombry::media
