#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "Platform/Gpu/Orientation.hpp"

namespace ombry {

enum class StillAlpha {
    none,           // opaque; the alpha bytes are 255
    straight,       // colour not multiplied by alpha
    premultiplied,  // colour already multiplied by alpha
};

enum class StillByteOrder { rgba, bgra };

// Decoders' and scalers' vector code reads and writes whole blocks: pixel memory starts on a 64-byte
// boundary, and buffers handed to them have rows padded to 64 bytes and 64 bytes after the last row.
inline constexpr size_t kPixelAlignment = 64;
inline constexpr size_t kPixelTailPadding = 64;

inline constexpr size_t paddedRowBytes(size_t rowBytes) {
    return (rowBytes + kPixelAlignment - 1) / kPixelAlignment * kPixelAlignment;
}

// Aligned allocation; resize() leaves new bytes uninitialised (a decoder overwrites them anyway).
template <class T>
struct PixelAllocator {
    using value_type = T;
    PixelAllocator() = default;
    template <class U>
    PixelAllocator(const PixelAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kPixelAlignment))); }
    void deallocate(T* p, size_t) noexcept { ::operator delete(p, std::align_val_t(kPixelAlignment)); }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0)
            ::new (static_cast<void*>(p)) U;
        else
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const PixelAllocator<U>&) const noexcept { return true; }
};

using PixelBytes = std::vector<uint8_t, PixelAllocator<uint8_t>>;

// A decoded still picture, 8 bits per component, four bytes per pixel, top row first.
struct StillImage {
    int width = 0;
    int height = 0;
    size_t stride = 0;  // bytes per row, at least width * 4
    StillAlpha alpha = StillAlpha::none;
    StillByteOrder order = StillByteOrder::rgba;
    // How the pixels must be turned to stand upright (a camera's EXIF orientation); the GPU turns them.
    StageOrientation orientation = StageOrientation::up;
    PixelBytes pixels;

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

    // Laid out for a decoder or scaler to write into: padded rows and tail, contents undefined.
    static StillImage padded(int width, int height, StillAlpha alpha, StillByteOrder order) {
        StillImage image;
        if (width < 1 || height < 1) return image;
        image.width = width;
        image.height = height;
        image.stride = paddedRowBytes(size_t(width) * 4);
        image.alpha = alpha;
        image.order = order;
        image.pixels.resize(image.stride * size_t(height) + kPixelTailPadding);
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
