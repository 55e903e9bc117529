#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombry {

enum class StillAlpha {
    none,           // opaque; the alpha bytes are 255
    straight,       // colour not multiplied by alpha
    premultiplied,  // colour already multiplied by alpha
};

enum class StillByteOrder { rgba, bgra };

// A decoded still picture, 8 bits per component, four bytes per pixel, top row first.
struct StillImage {
    int width = 0;
    int height = 0;
    size_t stride = 0;  // bytes per row, at least width * 4
    StillAlpha alpha = StillAlpha::none;
    StillByteOrder order = StillByteOrder::rgba;
    std::vector<uint8_t> pixels;

    // Rows packed (width * 4 bytes), every byte zero (transparent black).
    static StillImage packed(int width, int height, StillAlpha alpha, StillByteOrder order) {
        StillImage image;
        image.width = width;
        image.height = height;
        image.stride = size_t(width > 0 ? width : 0) * 4;
        image.alpha = alpha;
        image.order = order;
        image.pixels.assign(image.stride * size_t(height > 0 ? height : 0), 0);
        return image;
    }

    bool valid() const {
        return width > 0 && height > 0 && stride >= size_t(width) * 4 && pixels.size() >= stride * size_t(height);
    }
};

// A picture that can draw itself at any size (a vector image), measured in points.
class ScalableImage {
public:
    virtual ~ScalableImage() = default;
    virtual double width() const = 0;
    virtual double height() const = 0;
    // Draws the whole picture scaled into w by h pixels: premultiplied alpha, B, G, R, A bytes, rows of
    // `stride` bytes, the buffer cleared to transparent beforehand. False when drawing failed.
    virtual bool draw(uint8_t* pixels, int w, int h, size_t stride) const = 0;
};

}  // namespace ombry
