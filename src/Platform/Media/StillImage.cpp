#include "Platform/Media/StillImage.hpp"

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}
#include <librsvg/rsvg.h>
#include <pthread.h>

#include <algorithm>
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

// Applies an EXIF orientation so the picture stands upright.
StillImage orient(StillImage img, int o) {
    if (o <= 1) return img;
    const bool swap = o >= 5;
    StillImage out;
    out.width = swap ? img.height : img.width;
    out.height = swap ? img.width : img.height;
    out.rgba.resize(img.rgba.size());
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
            std::memcpy(&out.rgba[(size_t(y) * out.width + x) * 4], &img.rgba[(size_t(sy) * W + sx) * 4], 4);
        }
    return out;
}

StillResult decodeSvg(const std::string& path, int minHeight) {
    GError* err = nullptr;
    RsvgHandle* h = rsvg_handle_new_from_file(path.c_str(), &err);
    if (!h) {
        if (err) g_error_free(err);
        return unreadable();
    }
    gdouble w = 0, hgt = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(h, &w, &hgt) || w < 1 || hgt < 1) {
        RsvgRectangle ink{}, logical{};
        if (rsvg_handle_get_geometry_for_element(h, nullptr, &ink, &logical, nullptr)) {
            w = logical.width;
            hgt = logical.height;
        }
    }
    if (w < 1 || hgt < 1) {
        g_object_unref(h);
        return unreadable();
    }
    const double scale = minHeight > 0 && hgt < minHeight ? minHeight / hgt : 1.0;
    const int W = int(std::lround(w * scale)), H = int(std::lround(hgt * scale));
    if (W > kMaxStillSide || H > kMaxStillSide || W < 1 || H < 1) {
        g_object_unref(h);
        return unreadable();
    }
    cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
    cairo_t* cr = cairo_create(surf);
    RsvgRectangle vp{0, 0, double(W), double(H)};
    const bool ok = rsvg_handle_render_document(h, cr, &vp, &err);
    if (err) g_error_free(err);
    cairo_destroy(cr);
    cairo_surface_flush(surf);
    StillImage img;
    if (ok) {
        img.width = W;
        img.height = H;
        img.rgba.resize(size_t(W) * H * 4);
        const uint8_t* src = cairo_image_surface_get_data(surf);
        const int stride = cairo_image_surface_get_stride(surf);
        // Cairo's ARGB32 is premultiplied, native-endian 32-bit: convert to premultiplied RGBA bytes.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint32_t px;
                std::memcpy(&px, src + size_t(y) * stride + size_t(x) * 4, 4);
                uint8_t* d = &img.rgba[(size_t(y) * W + x) * 4];
                d[0] = uint8_t(px >> 16);
                d[1] = uint8_t(px >> 8);
                d[2] = uint8_t(px);
                d[3] = uint8_t(px >> 24);
            }
    }
    cairo_surface_destroy(surf);
    g_object_unref(h);
    if (!ok) return unreadable();
    return img;
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
    StillImage img;
    img.width = frame->width;
    img.height = frame->height;
    img.rgba.resize(size_t(img.width) * img.height * 4);
    SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), img.width, img.height,
                                     AV_PIX_FMT_RGBA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws) return unreadable();
    uint8_t* dst[4] = {img.rgba.data(), nullptr, nullptr, nullptr};
    int stride[4] = {img.width * 4, 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
    sws_freeContext(sws);
    premultiply(img.rgba);
    if (st->codecpar->codec_id == AV_CODEC_ID_MJPEG) return orient(std::move(img), exifOrientation(path));
    return img;
}

}  // namespace

StillResult decodeStill(const std::string& path, int minHeight) {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) return MediaFailure{MediaFailure::Code::missing, "media file unavailable"};
    if (looksLikeSvg(path)) return decodeSvg(path, minHeight);
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
            auto result = std::make_shared<StillResult>(decodeStill(job.path, job.minHeight));
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

TaskHandle StillLoader::load(const std::string& path, int minHeight, std::function<void(StillResult)> done) {
    TaskHandle handle(std::make_shared<std::atomic<bool>>(false));
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back({path, minHeight, std::move(done), handle});
    }
    shared_->wake.notify_all();
    return handle;
}

}  // namespace ombry::media
