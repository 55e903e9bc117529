#include "Platform/Media/StillDecoder.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}
#include <librsvg/rsvg.h>
#include <pthread.h>
#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <optional>
#include <cmath>
#include <cstring>
#include <fstream>

#include "Platform/Media/FFmpegSupport.hpp"

namespace ombry::media {

namespace {

MediaFailure unreadable() { return {MediaFailure::Code::unreadable, "image failed to load"}; }

std::string lowerExtension(const std::string& path) {
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

bool looksLikeSvg(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == "svg" || ext == "svgz") return true;
    std::ifstream in(path, std::ios::binary);
    std::string head(512, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(in.gcount()));
    return head.find("<svg") != std::string::npos;
}

// EXIF orientation (1 to 8) of a JPEG's bytes, 1 when absent.
int exifOrientation(const uint8_t* d, size_t size) {
    if (size < 4 || d[0] != 0xFF || d[1] != 0xD8) return 1;
    size_t p = 2;
    while (p + 4 <= size && d[p] == 0xFF) {
        const uint8_t marker = d[p + 1];
        const size_t len = size_t(d[p + 2]) << 8 | d[p + 3];
        if (marker == 0xDA || len < 2) break;
        if (marker == 0xE1 && p + 4 + len - 2 <= size && len >= 16 && std::memcmp(&d[p + 4], "Exif\0\0", 6) == 0) {
            const uint8_t* t = &d[p + 10];
            const size_t tlen = len - 8;
            const bool le = t[0] == 'I';
            auto u16 = [&](size_t o) -> unsigned { return o + 2 > tlen ? 0 : le ? t[o] | t[o + 1] << 8 : t[o] << 8 | t[o + 1]; };
            auto u32 = [&](size_t o) -> size_t {
                return o + 4 > tlen ? tlen : le ? size_t(t[o]) | size_t(t[o + 1]) << 8 | size_t(t[o + 2]) << 16 | size_t(t[o + 3]) << 24
                                                : size_t(t[o]) << 24 | size_t(t[o + 1]) << 16 | size_t(t[o + 2]) << 8 | size_t(t[o + 3]);
            };
            const size_t ifd = u32(4);
            const unsigned count = u16(ifd);
            for (unsigned i = 0; i < count; ++i) {
                const size_t e = ifd + 2 + size_t(i) * 12;
                if (e + 12 > tlen) break;
                if (u16(e) == 0x0112) {
                    const unsigned v = u16(e + 8);
                    return v >= 1 && v <= 8 ? int(v) : 1;
                }
            }
            return 1;
        }
        p += 2 + len;
    }
    return 1;
}

std::vector<uint8_t> readHead(const std::string& path, size_t bytes) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d(bytes);
    in.read(reinterpret_cast<char*>(d.data()), std::streamsize(d.size()));
    d.resize(size_t(in.gcount()));
    return d;
}

bool looksLikeJpeg(const std::vector<uint8_t>& head) {
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? std::streamoff(in.tellg()) : 0;
    // An 8192 by 8192 JPEG at its best quality stays far below this.
    if (size <= 0 || size > (std::streamoff(1) << 30)) return {};
    std::vector<uint8_t> d(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(d.data()), size);
    d.resize(size_t(in.gcount()));
    return d;
}

struct TjHandle {
    tjhandle h = tjInitDecompress();
    ~TjHandle() {
        if (h) tjDestroy(h);
    }
    TjHandle(const TjHandle&) = delete;
    TjHandle& operator=(const TjHandle&) = delete;
    TjHandle() = default;
};

// Whether an upright picture of w × h has at least the pixels it shows when fitted into `stage`, as videos
// are delivered: one side reaching the stage's is enough, the other is then inside it.
bool coversFitted(int w, int h, StillSize stage) { return w >= stage.width || h >= stage.height; }

// Decodes a JPEG with libjpeg-turbo at the smallest of its DCT scales that still covers `needed` once
// turned upright and fitted (reduced decoding skips most of the work), leaving the turn to the GPU. Nothing when
// libjpeg-turbo cannot read it (FFmpeg then tries).
std::optional<StillImage> decodeJpeg(const std::vector<uint8_t>& data, StillSize needed, bool& oversized) {
    TjHandle tj;
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (!tj.h || data.size() > size_t(ULONG_MAX) ||
        tjDecompressHeader3(tj.h, data.data(), static_cast<unsigned long>(data.size()), &w, &h, &subsamp, &colorspace) != 0)
        return std::nullopt;
    if (w < 1 || h < 1) return std::nullopt;
    if (w > kMaxStillSide || h > kMaxStillSide) {
        oversized = true;
        return std::nullopt;
    }
    const StageOrientation orientation = exifStageOrientation(exifOrientation(data.data(), data.size()));
    const bool swap = swapsSides(orientation);
    tjscalingfactor scale{1, 1};
    const bool box = needed.width > 0 && needed.height > 0;
    for (int denom : {8, 4, 2}) {
        if (!box) break;
        const tjscalingfactor f{1, denom};
        const int sw = TJSCALED(w, f), sh = TJSCALED(h, f);
        if (coversFitted(swap ? sh : sw, swap ? sw : sh, needed)) {
            scale = f;
            break;
        }
    }
    StillImage img = StillImage::padded(TJSCALED(w, scale), TJSCALED(h, scale), StillAlpha::none, StillByteOrder::rgba);
    if (!img.valid()) return std::nullopt;
    img.orientation = orientation;
    // A damaged tail only warns: the picture decoded so far is shown, as other viewers do.
    if (tjDecompress2(tj.h, data.data(), static_cast<unsigned long>(data.size()), img.pixels.data(), img.width,
                      int(img.stride), img.height, TJPF_RGBA, 0) != 0 &&
        tjGetErrorCode(tj.h) != TJERR_WARNING)
        return std::nullopt;
    return img;
}

// Premultiplies in place, row by row; rows may be padded.
void premultiply(StillImage& img) {
    for (int y = 0; y < img.height; ++y) {
        uint8_t* p = img.pixels.data() + img.stride * size_t(y);
        for (int x = 0; x < img.width; ++x, p += 4) {
            const unsigned a = p[3];
            if (a == 255) continue;
            for (int c = 0; c < 3; ++c) p[c] = uint8_t((p[c] * a + 127) / 255);
        }
    }
}

// Cairo's ARGB32 is a native-endian word: B, G, R, A bytes only on a little-endian machine.
static_assert(std::endian::native == std::endian::little, "SVG drawing assumes B, G, R, A bytes");

// An SVG document, drawn by librsvg at whatever size it is asked for. librsvg handles are not safe to
// use from two threads at once, so drawing is serialised.
class SvgImage final : public ScalableImage {
public:
    SvgImage(RsvgHandle* handle, double w, double h) : handle_(handle), width_(w), height_(h) {}
    ~SvgImage() override { g_object_unref(handle_); }
    SvgImage(const SvgImage&) = delete;
    SvgImage& operator=(const SvgImage&) = delete;

    double width() const override { return width_; }
    double height() const override { return height_; }

    bool draw(uint8_t* pixels, int w, int h, size_t stride) const override {
        if (!pixels || w < 1 || h < 1 || stride % 4 != 0 || stride < size_t(w) * 4 || stride > size_t(INT32_MAX)) return false;
        cairo_surface_t* surf = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, w, h, int(stride));
        if (cairo_surface_status(surf) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surf);
            return false;
        }
        cairo_t* cr = cairo_create(surf);
        const RsvgRectangle viewport{0, 0, double(w), double(h)};
        GError* err = nullptr;
        bool ok = false;
        {
            std::lock_guard lock(mutex_);
            ok = rsvg_handle_render_document(handle_, cr, &viewport, &err);
        }
        if (err) g_error_free(err);
        ok = ok && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
        cairo_surface_flush(surf);
        cairo_surface_destroy(surf);
        return ok;
    }

private:
    RsvgHandle* handle_;
    double width_, height_;
    mutable std::mutex mutex_;
};

StillResult decodeSvg(const std::string& path) {
    GError* err = nullptr;
    RsvgHandle* h = rsvg_handle_new_from_file(path.c_str(), &err);
    if (err) g_error_free(err);
    if (!h) return unreadable();
    gdouble w = 0, hgt = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(h, &w, &hgt) || w < 1 || hgt < 1) {
        // Sized in percentages or not at all: the view box gives the picture's size.
        gboolean hasW = false, hasH = false, hasBox = false;
        RsvgLength lw{}, lh{};
        RsvgRectangle box{};
        rsvg_handle_get_intrinsic_dimensions(h, &hasW, &lw, &hasH, &lh, &hasBox, &box);
        w = hasBox ? box.width : 0;
        hgt = hasBox ? box.height : 0;
    }
    if (!(w >= 1) || !(hgt >= 1)) {
        g_object_unref(h);
        return unreadable();
    }
    return std::make_shared<const SvgImage>(h, w, hgt);
}

StillResult decodeRaster(const std::string& path) {
    AVCodecID codec = AV_CODEC_ID_NONE;
    const ff::FramePtr frame = ff::decodeFirstPicture(path, kMaxStillSide, &codec);
    if (!frame) return unreadable();
    const auto format = AVPixelFormat(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const bool alpha = !desc || (desc->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL));
    StillImage img = StillImage::padded(frame->width, frame->height, alpha ? StillAlpha::premultiplied : StillAlpha::none,
                                        StillByteOrder::rgba);
    if (!img.valid() ||
        !ff::scalePicture(frame.get(), AV_PIX_FMT_RGBA, img.width, img.height, img.pixels.data(), int(img.stride)))
        return unreadable();
    if (alpha) premultiply(img);
    if (codec == AV_CODEC_ID_MJPEG) {
        const auto head = readHead(path, 128 * 1024);
        img.orientation = exifStageOrientation(exifOrientation(head.data(), head.size()));
    }
    return img;
}

}  // namespace

StillResult decodeStill(const std::string& path, StillSize needed) {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) return MediaFailure{MediaFailure::Code::missing, "media file unavailable"};
    if (looksLikeJpeg(readHead(path, 3))) {
        bool oversized = false;
        if (auto img = decodeJpeg(readAll(path), needed, oversized)) return std::move(*img);
        if (oversized) return unreadable();
    }
    if (looksLikeSvg(path)) return decodeSvg(path);
    return decodeRaster(path);
}

std::optional<PixelSize> stillPixelSize(const std::string& path) {
    const auto head = readHead(path, 64 * 1024);
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (head.size() >= 24 && std::memcmp(head.data(), pngSignature, 8) == 0 && std::memcmp(&head[12], "IHDR", 4) == 0) {
        auto be32 = [&](size_t o) { return uint32_t(head[o]) << 24 | uint32_t(head[o + 1]) << 16 | uint32_t(head[o + 2]) << 8 | head[o + 3]; };
        const uint32_t w = be32(16), h = be32(20);
        if (w < 1 || h < 1 || w > INT_MAX || h > INT_MAX) return std::nullopt;
        return PixelSize{int(w), int(h)};
    }
    if (looksLikeJpeg(head)) {
        TjHandle tj;
        int w = 0, h = 0, subsamp = 0, colorspace = 0;
        if (tj.h && tjDecompressHeader3(tj.h, head.data(), static_cast<unsigned long>(head.size()), &w, &h, &subsamp,
                                        &colorspace) == 0 && w > 0 && h > 0)
            return PixelSize{w, h};
    }
    // Other formats (and a JPEG whose frame header lies further in): decoded.
    const StillResult r = decodeStill(path);
    if (const auto* img = std::get_if<StillImage>(&r)) return PixelSize{img->width, img->height};
    if (const auto* svg = std::get_if<std::shared_ptr<const ScalableImage>>(&r))
        return PixelSize{int((*svg)->width() + 0.5), int((*svg)->height() + 0.5)};
    return std::nullopt;
}

StillLoader::StillLoader() {
    thread_ = std::thread([shared = shared_] {
        pthread_setname_np(pthread_self(), "still-decode");
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return !shared->alive || !shared->jobs.empty(); });
            if (!shared->alive) return;
            Job job = std::move(shared->jobs.front());
            shared->jobs.pop_front();
            if (job.handle.cancelled()) continue;
            lock.unlock();
            auto result = std::make_shared<StillResult>(decodeStill(job.path, job.needed));
            lock.lock();
            if (!shared->alive) return;
            mainQueue().post([done = std::move(job.done), handle = job.handle, result, shared] {
                if (!handle.cancelled() && shared->alive) done(std::move(*result));
            });
        }
    });
}

StillLoader::~StillLoader() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->alive = false;
        shared_->jobs.clear();
    }
    shared_->wake.notify_all();
    thread_.join();
}

TaskHandle StillLoader::load(const std::string& path, StillSize needed, std::function<void(StillResult)> done) {
    TaskHandle handle(std::make_shared<std::atomic<bool>>(false));
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back({path, needed, std::move(done), handle});
    }
    shared_->wake.notify_all();
    return handle;
}

}  // namespace ombry::media
