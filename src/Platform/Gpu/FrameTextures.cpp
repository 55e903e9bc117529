#include "Platform/Gpu/FrameTextures.hpp"

#include <cstring>

namespace ombry {

YuvToRgb yuvToRgb(VideoColorMatrix matrix, VideoColorRange range) {
    const double kr = matrix == VideoColorMatrix::bt601 ? 0.299 : matrix == VideoColorMatrix::bt709 ? 0.2126 : 0.2627;
    const double kb = matrix == VideoColorMatrix::bt601 ? 0.114 : matrix == VideoColorMatrix::bt709 ? 0.0722 : 0.0593;
    const double kg = 1.0 - kr - kb;
    const bool limited = range == VideoColorRange::limited;
    const double ys = limited ? 255.0 / 219.0 : 1.0;
    const double cs = limited ? 255.0 / 224.0 : 1.0;
    // R = Y + 2(1-kr) Cr;  B = Y + 2(1-kb) Cb;  G = Y - (2 kb (1-kb) Cb + 2 kr (1-kr) Cr) / kg
    const double rv = 2 * (1 - kr), bu = 2 * (1 - kb);
    const double gu = -2 * kb * (1 - kb) / kg, gv = -2 * kr * (1 - kr) / kg;
    YuvToRgb t;
    // Columns: the weights of Y, then U, then V.
    t.matrix = {float(ys), float(ys), float(ys), 0.f, float(gu * cs), float(bu * cs), float(rv * cs), float(gv * cs),
                0.f};
    t.offset = {limited ? 16.f / 255.f : 0.f, 128.f / 255.f, 128.f / 255.f};
    return t;
}

namespace {

GpuSampling samplingOf(VideoPixelFormat f) {
    switch (f) {
    case VideoPixelFormat::yuv420p: return GpuSampling::yuv;
    case VideoPixelFormat::yuva420p: return GpuSampling::yuva;
    case VideoPixelFormat::nv12: return GpuSampling::nv12;
    case VideoPixelFormat::bgra: return GpuSampling::rgbaStraight;
    }
    return GpuSampling::yuv;
}

void setSampling() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

bool withinLimit(int w, int h) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    return w > 0 && h > 0 && w <= maxSize && h <= maxSize;
}

size_t rowBytes(VideoPixelFormat f, int plane, int width) {
    return size_t(VideoFrame::planeWidth(f, plane, width)) * size_t(VideoFrame::bytesPerSample(f, plane));
}

}  // namespace

GpuFrameTextures GpuFrameTextures::forVideo(VideoPixelFormat format, int width, int height) {
    GpuFrameTextures t;
    if (!withinLimit(width, height)) return t;
    const bool bgra = format == VideoPixelFormat::bgra;
    const int n = VideoFrame::planeCount(format);
    size_t total = 0;
    for (int i = 0; i < n; ++i) {
        // Texels of one byte, except bgra's four-byte ones; nv12's UV pairs are two texels each.
        t.layout_[size_t(i)] = {int(total / (bgra ? 4 : 1)), VideoFrame::planeWidth(format, i, width),
                                VideoFrame::planeHeight(format, i, height)};
        total += rowBytes(format, i, width) * size_t(VideoFrame::planeHeight(format, i, height));
    }
    GLint maxTexels = 0;
    glGetIntegerv(GL_MAX_TEXTURE_BUFFER_SIZE, &maxTexels);
    if (total / (bgra ? 4 : 1) > size_t(maxTexels)) return {};
    takeGlError();
    t.buffer_ = makeBuffer();
    glBindBuffer(GL_TEXTURE_BUFFER, t.buffer_.get());
    glBufferData(GL_TEXTURE_BUFFER, GLsizeiptr(total), nullptr, GL_STREAM_DRAW);
    glBindBuffer(GL_TEXTURE_BUFFER, 0);
    t.bufferTexture_ = makeTexture();
    glBindTexture(GL_TEXTURE_BUFFER, t.bufferTexture_.get());
    glTexBuffer(GL_TEXTURE_BUFFER, bgra ? GL_RGBA8 : GL_R8, t.buffer_.get());
    glBindTexture(GL_TEXTURE_BUFFER, 0);
    if (takeGlError() != GL_NO_ERROR) return {};
    t.bufferSize_ = total;
    t.planeCount_ = n;
    t.width_ = width;
    t.height_ = height;
    t.isVideo_ = true;
    t.format_ = format;
    t.sampling_ = samplingOf(format);
    return t;
}

bool GpuFrameTextures::upload(const VideoFrame& frame) {
    if (!isVideo_ || !frame.valid() || !fits(frame.format, frame.width, frame.height)) return false;
    matrix_ = frame.matrix;
    range_ = frame.range;
    glBindBuffer(GL_TEXTURE_BUFFER, buffer_.get());
    auto* dst = static_cast<uint8_t*>(
        glMapBufferRange(GL_TEXTURE_BUFFER, 0, GLsizeiptr(bufferSize_),
                         GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT | GL_MAP_UNSYNCHRONIZED_BIT));
    if (!dst) {
        glBindBuffer(GL_TEXTURE_BUFFER, 0);
        return false;
    }
    for (int i = 0; i < planeCount_; ++i) {
        const auto s = static_cast<size_t>(i);
        const size_t row = rowBytes(format_, i, width_);
        const int rows = VideoFrame::planeHeight(format_, i, height_);
        const uint8_t* src = frame.data[s];
        uint8_t* out = dst + size_t(layout_[s].first) * (format_ == VideoPixelFormat::bgra ? 4 : 1);
        if (size_t(frame.stride[s]) == row) {
            std::memcpy(out, src, row * size_t(rows));
        } else {
            for (int y = 0; y < rows; ++y) std::memcpy(out + row * size_t(y), src + size_t(frame.stride[s]) * size_t(y), row);
        }
    }
    const bool written = glUnmapBuffer(GL_TEXTURE_BUFFER) == GL_TRUE;
    glBindBuffer(GL_TEXTURE_BUFFER, 0);
    return written;
}

GpuFrameTextures GpuFrameTextures::fromStill(const StillImage& image) {
    GpuFrameTextures t;
    if (!image.valid() || image.stride % 4 != 0 || !withinLimit(image.width, image.height)) return t;
    takeGlError();
    GlTexture tex = makeTexture();
    glBindTexture(GL_TEXTURE_2D, tex.get());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(image.stride / 4));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0,
                 image.order == StillByteOrder::bgra ? GL_BGRA : GL_RGBA, GL_UNSIGNED_BYTE, image.pixels.data());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    setSampling();
    glBindTexture(GL_TEXTURE_2D, 0);
    if (takeGlError() != GL_NO_ERROR) return t;
    t.planes_[0] = std::move(tex);
    t.planeCount_ = 1;
    t.width_ = image.width;
    t.height_ = image.height;
    t.sampling_ = image.alpha == StillAlpha::straight ? GpuSampling::rgbaStraight : GpuSampling::rgbaPremultiplied;
    return t;
}

}  // namespace ombry
