#include "Platform/Gpu/VideoFrame.hpp"

#include "Platform/Gpu/StillImage.hpp"

namespace ombry {

int VideoFrame::planeCount(VideoPixelFormat f) {
    switch (f) {
    case VideoPixelFormat::yuv420p: return 3;
    case VideoPixelFormat::nv12: return 2;
    case VideoPixelFormat::yuva420p: return 4;
    case VideoPixelFormat::bgra: return 1;
    }
    return 0;
}

static bool isChroma(VideoPixelFormat f, int plane) {
    if (f == VideoPixelFormat::nv12) return plane == 1;
    if (f == VideoPixelFormat::yuv420p || f == VideoPixelFormat::yuva420p) return plane == 1 || plane == 2;
    return false;
}

int VideoFrame::planeWidth(VideoPixelFormat f, int plane, int w) { return isChroma(f, plane) ? (w + 1) / 2 : w; }
int VideoFrame::planeHeight(VideoPixelFormat f, int plane, int h) { return isChroma(f, plane) ? (h + 1) / 2 : h; }

int VideoFrame::bytesPerSample(VideoPixelFormat f, int plane) {
    if (f == VideoPixelFormat::bgra) return 4;
    if (f == VideoPixelFormat::nv12 && plane == 1) return 2;
    return 1;
}

void VideoFrame::allocate(int w, int h, VideoPixelFormat f, int rowAlignment) {
    width = w;
    height = h;
    format = f;
    keepAlive.reset();
    data = {};
    stride = {};
    if (w <= 0 || h <= 0) return;
    const int align = rowAlignment > 1 ? rowAlignment : 1;
    auto rowBytes = [&](int i) { return (planeWidth(f, i, w) * bytesPerSample(f, i) + align - 1) / align * align; };
    size_t total = 0;
    const int n = planeCount(f);
    for (int i = 0; i < n; ++i) total += size_t(rowBytes(i)) * size_t(planeHeight(f, i, h));
    // Padded for a scaler: the planes start on an aligned address and a tail follows the last one, as
    // its vector code writes whole blocks past a row's end.
    const size_t slack = align > 1 ? size_t(align) - 1 + kPixelTailPadding : 0;
    if (storage.size() < total + slack) storage.resize(total + slack);
    const auto base = reinterpret_cast<uintptr_t>(storage.data());
    size_t offset = align > 1 ? (size_t(align) - base % size_t(align)) % size_t(align) : 0;
    for (int i = 0; i < n; ++i) {
        const auto s = static_cast<size_t>(i);
        stride[s] = rowBytes(i);
        data[s] = storage.data() + offset;
        offset += size_t(stride[s]) * size_t(planeHeight(f, i, h));
    }
}

bool VideoFrame::valid() const {
    if (width <= 0 || height <= 0) return false;
    const int n = planeCount(format);
    if (n == 0) return false;
    for (int i = 0; i < n; ++i) {
        const auto s = static_cast<size_t>(i);
        if (!data[s] || stride[s] < planeWidth(format, i, width) * bytesPerSample(format, i)) return false;
    }
    return true;
}

}  // namespace ombry
