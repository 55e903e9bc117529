#include "Platform/Media/MediaProbe.hpp"

extern "C" {
#include <libavutil/imgutils.h>
}
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <variant>

#include "Platform/Media/FFmpegSupport.hpp"
#include "Platform/Media/StillDecoder.hpp"

namespace fs = std::filesystem;

namespace ombry::media::probe {
namespace {

// An opened file with the read deadline its I/O layer watches (declared first, so it outlives the input).
struct Input {
    std::unique_ptr<IoInterrupt> interrupt = std::make_unique<IoInterrupt>();
    ff::FormatPtr fmt;
    explicit Input(const fs::path& file) {
        interrupt->setDeadline(kOpenSeconds);
        MediaFailure failure;
        fmt = ff::openInput(file.string(), interrupt.get(), failure);
    }
    explicit operator bool() const { return bool(fmt); }
    int firstPicture() const {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (ff::isPictureStream(fmt->streams[i])) return int(i);
        return -1;
    }
    int firstSound() const {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (ff::isSoundStream(fmt->streams[i])) return int(i);
        return -1;
    }
};

bool decodable(const AVStream* st) { return ff::decoderFor(st) != nullptr; }

// A packed RGBA or BGRA picture seen as a frame, for the scaler.
AVFrame frameOver(const uint8_t* pixels, int w, int h, size_t stride, AVPixelFormat format) {
    AVFrame f{};
    f.data[0] = const_cast<uint8_t*>(pixels);
    f.linesize[0] = int(stride);
    f.width = w;
    f.height = h;
    f.format = format;
    return f;
}

// The displayed size that fits `side`, never larger than the picture itself.
std::pair<int, int> fitted(double w, double h, int side) {
    const double scale = std::min(1.0, side / std::max(w, h));
    return {std::max(1, int(std::lround(w * scale))), std::max(1, int(std::lround(h * scale)))};
}

// Scales a decoded picture to thumbnail size and turns it upright (`o` says how it must be turned).
// `sampleAspect` is the shape of one stored pixel: a 1440 by 1080 HDV picture with pixels of 4:3 is shown
// 1920 by 1080, and so is its thumbnail.
std::optional<StillImage> thumbFromFrame(const AVFrame* f, StageOrientation o, int side = kThumbSide,
                                         AVRational sampleAspect = {1, 1}) {
    if (!f || f->width < 1 || f->height < 1) return std::nullopt;
    const bool swap = swapsSides(o);
    double shown = f->width;
    if (sampleAspect.num > 0 && sampleAspect.den > 0) {
        const double wide = f->width * av_q2d(sampleAspect);
        if (std::isfinite(wide) && wide >= 1) shown = wide;
    }
    const auto [tw, th] = fitted(swap ? f->height : shown, swap ? shown : f->height, side);
    const int sw = swap ? th : tw, sh = swap ? tw : th;
    StillImage stored = StillImage::padded(sw, sh, StillAlpha::none, StillByteOrder::rgba);
    if (!stored.valid() || !ff::scalePicture(f, AV_PIX_FMT_RGBA, sw, sh, stored.pixels.data(), int(stored.stride)))
        return std::nullopt;
    if (o == StageOrientation::up) return stored;
    // The renderer's own corner mapping: each upright pixel samples the stored picture where the quad would.
    StillImage upright = StillImage::packed(tw, th, StillAlpha::none, StillByteOrder::rgba);
    const auto tc = texCoords(o);  // top-left, top-right, bottom-left, bottom-right
    for (int y = 0; y < th; ++y) {
        const float fy = (float(y) + 0.5f) / float(th);
        for (int x = 0; x < tw; ++x) {
            const float fx = (float(x) + 0.5f) / float(tw);
            const float u = tc[0].u + (tc[1].u - tc[0].u) * fx + (tc[2].u - tc[0].u) * fy;
            const float v = tc[0].v + (tc[1].v - tc[0].v) * fx + (tc[2].v - tc[0].v) * fy;
            const int sx = std::clamp(int(u * float(sw)), 0, sw - 1), sy = std::clamp(int(v * float(sh)), 0, sh - 1);
            std::memcpy(&upright.pixels[size_t(y) * upright.stride + size_t(x) * 4],
                        &stored.pixels[size_t(sy) * stored.stride + size_t(sx) * 4], 4);
        }
    }
    return upright;
}

double frameTime(const AVFrame* f, const AVStream* st) {
    const int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    return ts == AV_NOPTS_VALUE ? 0.0 : ff::seconds(ts - start, st->time_base);
}

// The frame shown at `at` seconds (the first frame for 0); nothing when the clip ends before it.
std::optional<StillImage> frameAt(const fs::path& file, double at) {
    Input in(file);
    if (!in) return std::nullopt;
    const int idx = in.firstPicture();
    if (idx < 0) return std::nullopt;
    const AVStream* st = in.fmt->streams[idx];
    MediaFailure failure;
    ff::CodecPtr dec = ff::openDecoder(st, 1, failure);
    if (!dec) return std::nullopt;
    if (at > 0) {
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        const int64_t ts = start + av_rescale_q(int64_t(at * AV_TIME_BASE), AV_TIME_BASE_Q, st->time_base);
        av_seek_frame(in.fmt.get(), idx, ts, AVSEEK_FLAG_BACKWARD);
    }
    const AVRational rate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    const double halfFrame = rate.num > 0 ? 0.5 * av_q2d(av_inv_q(rate)) : 0.02;
    ff::PacketPtr pkt(av_packet_alloc());
    ff::FramePtr frame(av_frame_alloc());
    bool flushing = false;
    for (int packets = 0; packets < 4096;) {
        int r = avcodec_receive_frame(dec.get(), frame.get());
        if (r >= 0) {
            if (at <= 0 || frameTime(frame.get(), st) >= at - halfFrame)
                return thumbFromFrame(frame.get(), ff::streamOrientation(st), kThumbSide,
                                      av_guess_sample_aspect_ratio(in.fmt.get(), const_cast<AVStream*>(st), frame.get()));
            av_frame_unref(frame.get());
            continue;
        }
        if (r != AVERROR(EAGAIN) || flushing) return std::nullopt;
        r = av_read_frame(in.fmt.get(), pkt.get());
        if (r < 0) {
            flushing = true;
            avcodec_send_packet(dec.get(), nullptr);
            continue;
        }
        if (pkt->stream_index == idx) {
            ++packets;
            avcodec_send_packet(dec.get(), pkt.get());
        }
        av_packet_unref(pkt.get());
    }
    return std::nullopt;
}

// Start-of-frame size of a JPEG, read from its markers.
std::optional<std::pair<int, int>> jpegSize(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    auto byte = [&]() -> int { const int c = in.get(); return c == EOF ? -1 : c; };
    if (byte() != 0xFF || byte() != 0xD8) return std::nullopt;
    for (;;) {
        int c = byte();
        while (c == 0xFF) c = byte();
        if (c < 0) return std::nullopt;
        const int hi = byte(), lo = byte();
        if (hi < 0 || lo < 0) return std::nullopt;
        const int length = hi << 8 | lo;
        if (c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC) {
            byte();  // precision
            const int h = byte() << 8 | byte();
            const int w = byte() << 8 | byte();
            if (!in || w < 1 || h < 1) return std::nullopt;
            return std::pair{w, h};
        }
        if (c == 0xD9 || c == 0xDA || length < 2) return std::nullopt;
        in.seekg(length - 2, std::ios::cur);
    }
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

std::string lowerExtension(const fs::path& file) {
    std::string ext = file.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

bool hasMagic(const fs::path& file, const std::vector<std::string>& magics) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    char head[16];
    in.read(head, sizeof head);
    const auto got = size_t(in.gcount());
    for (const auto& m : magics)
        if (!m.empty() && got >= m.size() && std::memcmp(head, m.data(), m.size()) == 0) return true;
    return false;
}

bool validatesImage(const fs::path& file, bool svg) {
    if (svg) {
        const StillResult r = decodeStill(file.string());
        return std::holds_alternative<std::shared_ptr<const ScalableImage>>(r);
    }
    Input in(file);
    if (!in) return false;
    const int idx = in.firstPicture();
    return idx >= 0 && decodable(in.fmt->streams[idx]);
}

bool validatesAv(const fs::path& file, bool wantVideo) {
    Input in(file);
    if (!in) return false;
    const int idx = wantVideo ? in.firstPicture() : in.firstSound();
    return idx >= 0 && decodable(in.fmt->streams[idx]);
}

ProbedMeta imageMetadata(const fs::path& file) {
    ProbedMeta meta;
    const std::string ext = lowerExtension(file);
    if (ext == "svg") {
        const StillResult r = decodeStill(file.string());
        if (const auto* svg = std::get_if<std::shared_ptr<const ScalableImage>>(&r)) {
            const double w = std::round((*svg)->width()), h = std::round((*svg)->height());
            if (w >= 1 && h >= 1 && w <= INT_MAX && h <= INT_MAX) {
                meta.width = int(w);
                meta.height = int(h);
            }
        }
        return meta;
    }
    if (ext == "jpg" || ext == "jpeg")
        if (auto size = jpegSize(file)) {
            meta.width = size->first;
            meta.height = size->second;
            return meta;
        }
    Input in(file);
    if (!in) return meta;
    const int idx = in.firstPicture();
    if (idx < 0) return meta;
    const AVCodecParameters* par = in.fmt->streams[idx]->codecpar;
    if (par->width > 0 && par->height > 0) {
        meta.width = par->width;
        meta.height = par->height;
    }
    return meta;
}

ProbedMeta avMetadata(const fs::path& file) {
    ProbedMeta meta;
    Input in(file);
    if (!in) return meta;
    if (in.fmt->duration != AV_NOPTS_VALUE && in.fmt->duration > 0) {
        const double d = in.fmt->duration / double(AV_TIME_BASE);
        if (std::isfinite(d) && d > 0) meta.duration = d;
    }
    if (const int v = in.firstPicture(); v >= 0) {
        const AVStream* st = in.fmt->streams[v];
        int w = std::abs(st->codecpar->width), h = std::abs(st->codecpar->height);
        if (swapsSides(ff::streamOrientation(st))) std::swap(w, h);
        // A stream that does not say its size has none (not 0×0).
        if (w > 0 && h > 0) {
            meta.width = w;
            meta.height = h;
        }
        // The average rate, whole: 23.976 shows as 24, 29.97 as 30. Where it is unknown (0/0 for Ogg Theora)
        // the stream's base rate.
        const AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                                        : st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) meta.fps = std::round(av_q2d(rate));
        // Under half a frame a second (a slide show) there is no whole rate to show.
        if (meta.fps && !(*meta.fps >= 1)) meta.fps.reset();
    }
    if (const int a = in.firstSound(); a >= 0) {
        const AVCodecParameters* par = in.fmt->streams[a]->codecpar;
        if (par->sample_rate > 0) meta.sampleRate = par->sample_rate;
        if (par->ch_layout.nb_channels > 0) meta.channels = par->ch_layout.nb_channels;
        // Only uncompressed sound has a bit depth of its own.
        if (par->codec_id >= AV_CODEC_ID_PCM_S16LE && par->codec_id < AV_CODEC_ID_ADPCM_IMA_QT)
            if (const int bits = av_get_bits_per_sample(par->codec_id); bits > 0) meta.bitDepth = bits;
    }
    return meta;
}

std::optional<std::uint32_t> videoCodec(const fs::path& file) {
    Input in(file);
    if (!in) return std::nullopt;
    const int v = in.firstPicture();
    if (v < 0) return std::nullopt;
    const AVCodecParameters* par = in.fmt->streams[v]->codecpar;
    const uint32_t tag = par->codec_tag;
    auto printable = [](uint32_t c) { return c >= 0x20 && c < 0x7F; };
    if (tag && printable(tag & 0xFF) && printable(tag >> 8 & 0xFF) && printable(tag >> 16 & 0xFF) && printable(tag >> 24))
        return (tag & 0xFF) << 24 | (tag >> 8 & 0xFF) << 16 | (tag >> 16 & 0xFF) << 8 | tag >> 24;
    // Containers without sample-entry codes (Matroska, WebM, Ogg): the code an MP4 would carry.
    auto code = [](const char* s) { return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]); };
    switch (par->codec_id) {
        case AV_CODEC_ID_H264: return code("avc1");
        case AV_CODEC_ID_HEVC: return code("hvc1");
        case AV_CODEC_ID_VP8: return code("vp08");
        case AV_CODEC_ID_VP9: return code("vp09");
        case AV_CODEC_ID_AV1: return code("av01");
        case AV_CODEC_ID_THEORA: return code("theo");
        case AV_CODEC_ID_MPEG4: return code("mp4v");
        case AV_CODEC_ID_PRORES: return code("apcn");
        default: return std::nullopt;
    }
}

std::optional<StillImage> videoFrame(const fs::path& file) {
    if (auto at1 = frameAt(file, 1.0)) return at1;
    return frameAt(file, 0.0);
}

std::optional<StillImage> imageThumb(const fs::path& file, int maxSide) {
    const StillResult r = decodeStill(file.string(), StillSize{maxSide, maxSide});
    if (const auto* img = std::get_if<StillImage>(&r)) {
        const AVFrame f = frameOver(img->pixels.data(), img->width, img->height, img->stride,
                                    img->order == StillByteOrder::bgra ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA);
        return thumbFromFrame(&f, img->orientation, maxSide);
    }
    if (const auto* svg = std::get_if<std::shared_ptr<const ScalableImage>>(&r)) {
        const auto [w, h] = fitted((*svg)->width(), (*svg)->height(), maxSide);
        StillImage drawn = StillImage::packed(w, h, StillAlpha::premultiplied, StillByteOrder::bgra);
        if (!(*svg)->draw(drawn.pixels.data(), w, h, drawn.stride)) return std::nullopt;
        StillImage padded = StillImage::padded(w, h, StillAlpha::premultiplied, StillByteOrder::bgra);
        if (!padded.valid()) return std::nullopt;
        for (int y = 0; y < h; ++y)
            std::memcpy(&padded.pixels[size_t(y) * padded.stride], &drawn.pixels[size_t(y) * drawn.stride], drawn.stride);
        const AVFrame f = frameOver(padded.pixels.data(), w, h, padded.stride, AV_PIX_FMT_BGRA);
        return thumbFromFrame(&f, StageOrientation::up, maxSide);
    }
    return std::nullopt;
}

std::optional<StillImage> audioArtwork(const fs::path& file) {
    Input in(file);
    if (!in) return std::nullopt;
    for (unsigned i = 0; i < in.fmt->nb_streams; ++i) {
        const AVStream* st = in.fmt->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0) continue;
        MediaFailure failure;
        ff::CodecPtr dec = ff::openDecoder(st, 1, failure);
        if (!dec) return std::nullopt;
        ff::FramePtr frame(av_frame_alloc());
        if (avcodec_send_packet(dec.get(), &st->attached_pic) < 0) return std::nullopt;
        avcodec_send_packet(dec.get(), nullptr);
        if (avcodec_receive_frame(dec.get(), frame.get()) < 0) return std::nullopt;
        return thumbFromFrame(frame.get(), StageOrientation::up);
    }
    return std::nullopt;
}

std::vector<uint8_t> jpegBytes(const StillImage& image, int quality) {
    if (!image.valid()) return {};
    tjhandle tj = tjInitCompress();
    if (!tj) return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int pixelFormat = image.order == StillByteOrder::bgra ? TJPF_BGRX : TJPF_RGBX;
    const bool encoded = tjCompress2(tj, image.pixels.data(), image.width, int(image.stride), image.height, pixelFormat,
                                     &jpeg, &size, TJSAMP_420, std::clamp(quality, 1, 100), TJFLAG_ACCURATEDCT) == 0;
    tjDestroy(tj);
    std::vector<uint8_t> bytes;
    if (encoded && jpeg) bytes.assign(jpeg, jpeg + size);
    if (jpeg) tjFree(jpeg);
    return bytes;
}

bool writeJPEG(const StillImage& image, const fs::path& target) {
    const std::vector<uint8_t> jpeg = jpegBytes(image, 80);
    if (jpeg.empty()) return false;
    // Unique beside the target, so two writes for one id never share a half-written file.
    const fs::path temp = target.string() + "." + std::to_string(::getpid()) + "-" + std::to_string(tempCounter++) + ".tmp";
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    out.close();
    std::error_code ec;
    const bool ok = out && (fs::rename(temp, target, ec), !ec);
    if (!ok) fs::remove(temp, ec);
    return ok;
}

}  // namespace ombry::media::probe
