#include "Platform/Media/StillDecoder.hpp"

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}
#include <librsvg/rsvg.h>
#include <pthread.h>

#include <algorithm>
#include <bit>
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

// EXIF orientation (1 to 8) of a JPEG file, 1 when absent.
int exifOrientation(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d(128 * 1024);
    in.read(reinterpret_cast<char*>(d.data()), std::streamsize(d.size()));
    d.resize(size_t(in.gcount()));
    if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) return 1;
    size_t p = 2;
    while (p + 4 <= d.size() && d[p] == 0xFF) {
        const uint8_t marker = d[p + 1];
        const size_t len = size_t(d[p + 2]) << 8 | d[p + 3];
        if (marker == 0xDA || len < 2) break;
        if (marker == 0xE1 && p + 4 + len - 2 <= d.size() && len >= 16 && std::memcmp(&d[p + 4], "Exif\0\0", 6) == 0) {
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

void premultiply(std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const unsigned a = rgba[i + 3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c) rgba[i + size_t(c)] = uint8_t((rgba[i + size_t(c)] * a + 127) / 255);
    }
}

StillImage packedRgba(int w, int h) { return StillImage::packed(w, h, StillAlpha::premultiplied, StillByteOrder::rgba); }

// Applies an EXIF orientation so the picture stands upright.
StillImage orient(StillImage img, int o) {
    if (o <= 1) return img;
    const bool swap = o >= 5;
    StillImage out = packedRgba(swap ? img.height : img.width, swap ? img.width : img.height);
    const int W = img.width, H = img.height;
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sx = x, sy = y;
            switch (o) {
            case 2: sx = W - 1 - x; break;
            case 3: sx = W - 1 - x; sy = H - 1 - y; break;
            case 4: sy = H - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = H - 1 - x; break;
            case 7: sx = W - 1 - y; sy = H - 1 - x; break;
            case 8: sx = W - 1 - y; sy = x; break;
            }
            std::memcpy(&out.pixels[out.stride * size_t(y) + size_t(x) * 4], &img.pixels[img.stride * size_t(sy) + size_t(sx) * 4], 4);
        }
    return out;
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
    ff::quietLibraries();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return unreadable();
    ff::FormatPtr fmt(raw);
    int idx = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            idx = int(i);
            break;
        }
    if (idx < 0) return unreadable();
    const AVStream* st = fmt->streams[idx];
    // A header may declare anything; refuse oversized pictures before the decoder allocates them.
    if (st->codecpar->width > kMaxStillSide || st->codecpar->height > kMaxStillSide) return unreadable();
    const AVCodec* codec = ff::decoderFor(st);
    if (!codec) return unreadable();
    ff::CodecPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0) return unreadable();
    dec->max_pixels = int64_t(kMaxStillSide) * kMaxStillSide;
    dec->thread_count = 1;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return unreadable();
    ff::PacketPtr pkt(av_packet_alloc());
    ff::FramePtr frame(av_frame_alloc());
    bool got = false;
    for (int reads = 0; !got && reads < 64;) {
        const int r = av_read_frame(fmt.get(), pkt.get());
        if (r >= 0 && pkt->stream_index != idx) {
            av_packet_unref(pkt.get());
            continue;
        }
        ++reads;
        avcodec_send_packet(dec.get(), r >= 0 ? pkt.get() : nullptr);
        av_packet_unref(pkt.get());
        got = avcodec_receive_frame(dec.get(), frame.get()) >= 0;
        if (r < 0) break;
    }
    if (!got || frame->width < 1 || frame->height < 1 || frame->width > kMaxStillSide || frame->height > kMaxStillSide)
        return unreadable();
    StillImage img = packedRgba(frame->width, frame->height);
    SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), img.width, img.height,
                                     AV_PIX_FMT_RGBA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws) return unreadable();
    uint8_t* dst[4] = {img.pixels.data(), nullptr, nullptr, nullptr};
    int stride[4] = {int(img.stride), 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
    sws_freeContext(sws);
    premultiply(img.pixels);
    if (st->codecpar->codec_id == AV_CODEC_ID_MJPEG) return orient(std::move(img), exifOrientation(path));
    return img;
}

}  // namespace

StillResult decodeStill(const std::string& path) {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) return MediaFailure{MediaFailure::Code::missing, "media file unavailable"};
    if (looksLikeSvg(path)) return decodeSvg(path);
    return decodeRaster(path);
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
            auto result = std::make_shared<StillResult>(decodeStill(job.path));
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

TaskHandle StillLoader::load(const std::string& path, std::function<void(StillResult)> done) {
    TaskHandle handle(std::make_shared<std::atomic<bool>>(false));
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back({path, std::move(done), handle});
    }
    shared_->wake.notify_all();
    return handle;
}

}  // namespace ombry::media
