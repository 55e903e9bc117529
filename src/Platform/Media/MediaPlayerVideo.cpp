#include "Platform/Media/MediaPlayerImpl.hpp"
#include "Platform/Gpu/StillImage.hpp"
#include "Platform/Media/FrameStore.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <chrono>

namespace ombry::media {

using namespace detail;

namespace {

VideoColorMatrix matrixOf(const AVFrame* f) {
    switch (f->colorspace) {
    case AVCOL_SPC_BT709: return VideoColorMatrix::bt709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return VideoColorMatrix::bt2020;
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_FCC: return VideoColorMatrix::bt601;
    default: return f->height >= 720 ? VideoColorMatrix::bt709 : VideoColorMatrix::bt601;
    }
}

bool isFullRange(const AVFrame* f) {
    const auto fmt = AVPixelFormat(f->format);
    return f->color_range == AVCOL_RANGE_JPEG || fmt == AV_PIX_FMT_YUVJ420P || fmt == AV_PIX_FMT_YUVJ422P ||
           fmt == AV_PIX_FMT_YUVJ444P;
}

constexpr int kRowAlignment = 64;

// What VideoFrame::allocate lays out for this picture with rows aligned as the scaler wants them.
size_t storageBytes(int w, int h, VideoPixelFormat f) {
    size_t total = 0;
    for (int i = 0; i < VideoFrame::planeCount(f); ++i) {
        const int row = VideoFrame::planeWidth(f, i, w) * VideoFrame::bytesPerSample(f, i);
        total += size_t((row + kRowAlignment - 1) / kRowAlignment * kRowAlignment) * size_t(VideoFrame::planeHeight(f, i, h));
    }
    return total + kRowAlignment - 1 + kPixelTailPadding;
}

}  // namespace

// Alpha goes out as yuva420p or BGRA (straight); RGB and palette pictures as BGRA; the rest as yuv420p.
VideoPixelFormat MediaPlayer::Impl::formatFor(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    if (!d) return VideoPixelFormat::bgra;
    if (d->flags & AV_PIX_FMT_FLAG_ALPHA) return f == AV_PIX_FMT_YUVA420P ? VideoPixelFormat::yuva420p : VideoPixelFormat::bgra;
    if (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) return VideoPixelFormat::bgra;
    return VideoPixelFormat::yuv420p;
}

void MediaPlayer::Impl::outputSize(int srcW, int srcH, int& w, int& h) {
    std::lock_guard lock(m);
    w = srcW;
    h = srcH;
    if (reqOutW > 0 && reqOutH > 0 && reqOutW <= srcW && reqOutH <= srcH) {
        w = reqOutW;
        h = reqOutH;
    }
    if (maxW > 0 && maxH > 0)
        if (auto fit = fittedDeliverySize(w, h, maxW, maxH)) {
            w = fit->width;
            h = fit->height;
        }
}

// Converts into a pool frame; false when the frame could not be converted.
bool MediaPlayer::Impl::convert(const AVFrame* src, VideoFrame& dst, Scaler& sc) {
    const auto sfmt = AVPixelFormat(src->format);
    int w = 0, h = 0;
    outputSize(src->width, src->height, w, h);
    const VideoPixelFormat format = formatFor(sfmt);
    const bool full = isFullRange(src);
    const VideoColorMatrix matrix = matrixOf(src);
    if (!sc.ctx || sc.srcFmt != sfmt || sc.srcW != src->width || sc.srcH != src->height || sc.dstW != w || sc.dstH != h ||
        sc.format != format || sc.full != full) {
        sws_freeContext(sc.ctx);
        const AVPixelFormat dfmt = format == VideoPixelFormat::bgra      ? AV_PIX_FMT_BGRA
                                   : format == VideoPixelFormat::yuva420p ? AV_PIX_FMT_YUVA420P
                                                                          : AV_PIX_FMT_YUV420P;
        sc.ctx = sws_getContext(src->width, src->height, sfmt, w, h, dfmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!sc.ctx) return false;
        const int cs = matrix == VideoColorMatrix::bt709 ? SWS_CS_ITU709 : matrix == VideoColorMatrix::bt2020 ? SWS_CS_BT2020 : SWS_CS_ITU601;
        const int* coeffs = sws_getCoefficients(cs);
        sws_setColorspaceDetails(sc.ctx, coeffs, full ? 1 : 0, coeffs, format == VideoPixelFormat::bgra ? 1 : (full ? 1 : 0), 0,
                                 1 << 16, 1 << 16);
        sc.srcFmt = sfmt;
        sc.srcW = src->width;
        sc.srcH = src->height;
        sc.dstW = w;
        sc.dstH = h;
        sc.format = format;
        sc.full = full;
    }
    // The slot's storage grows only when a larger picture comes; steady playback allocates nothing.
    // Aligned, with padded rows and a tail: swscale's vector code reads and writes past packed ones (an
    // nv12 source of odd width crashes it).
    if (dst.storage.empty()) dst.storage = FrameStore::shared().take(storageBytes(w, h, format));
    dst.allocate(w, h, format, kRowAlignment);
    if (!dst.valid()) return false;
    uint8_t* planes[4] = {dst.plane(0), dst.plane(1), dst.plane(2), dst.plane(3)};
    sws_scale(sc.ctx, src->data, src->linesize, 0, src->height, planes, dst.stride.data());
    dst.matrix = matrix;
    dst.range = format == VideoPixelFormat::bgra || full ? VideoColorRange::full : VideoColorRange::limited;
    dst.orientation = orientation;
    return true;
}

// Drops frames whose successor is already due; called under m.
void MediaPlayer::Impl::pruneRing(double c) {
    while (ring.size() >= 2 && ring[1]->time <= c + kEps) {
        ring.pop_front();
        dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

std::shared_ptr<VideoFrame> MediaPlayer::Impl::freeSlot() {
    for (auto& p : pool)
        if (p.use_count() == 1) return p;
    return nullptr;
}

// Converts and queues one decoded frame at continuous time t; false when the generation moved on.
bool MediaPlayer::Impl::deliverVideo(const AVFrame* f, double t, uint64_t g, Scaler& sc) {
    decoded.fetch_add(1, std::memory_order_relaxed);
    const Timeline::State tl = timeline.read();
    // A clip that cannot keep up skips pictures whose time has passed rather than falling behind.
    {
        std::lock_guard lock(m);
        if (quit || g != gen) return false;
        const double c = tl.continuousAt(output->now());
        if (tl.moving() && videoFirst && t + frameDuration < c) {
            dropped.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
    }
    std::shared_ptr<VideoFrame> slot;
    std::unique_lock lock(m);
    for (;;) {
        if (quit || g != gen) return false;
        pruneRing(timeline.read().continuousAt(output->now()));
        if (int(ring.size()) < kRingFrames && (slot = freeSlot())) break;
        cv.wait_for(lock, std::chrono::milliseconds(2));
    }
    lock.unlock();
    const bool ok = convert(f, *slot, sc);
    lock.lock();
    if (!ok || g != gen) return g == gen;
    slot->time = t;
    slot->serial = ++serial;
    ring.push_back(std::move(slot));
    const bool first = !videoFirst;
    videoFirst = true;
    const bool notify = first || ring.size() == 2;
    lock.unlock();
    if (notify) postProgress();
    return true;
}

void MediaPlayer::Impl::videoMain() {
    nameThread("media-video");
    Scaler sc;
    ff::FramePtr frame(av_frame_alloc()), pending(av_frame_alloc());
    bool hasPending = false;
    double pendingT = 0;
    uint64_t decGen = 0, g = 0;
    double offset = 0, target = 0, end = 0;
    double nextPt = 0, passEnd = 0;  // where the next picture of the pass falls when it has no time; the pass's end
    const AVStream* st = fmt->streams[vIdx];
    PacketEntry e;
    auto flushPending = [&] {
        if (hasPending) {
            hasPending = false;
            deliverVideo(pending.get(), pendingT, decGen, sc);
            av_frame_unref(pending.get());
        }
    };
    while (popEntry(vq, e, g)) {
        if (g != decGen) {
            avcodec_flush_buffers(vDec.get());
            av_frame_unref(pending.get());
            hasPending = false;
            decGen = g;
            nextPt = passEnd = 0;
        }
        offset = e.offset;
        target = e.target;
        {
            std::lock_guard lock(m);
            end = endTime;
        }
        const bool endOfPass = !e.pkt;
        sendPacket(vDec.get(), e.pkt);
        if (e.pkt) av_packet_free(&e.pkt);
        for (;;) {
            const int r = avcodec_receive_frame(vDec.get(), frame.get());
            if (r < 0) break;
            const int64_t ts = frame->best_effort_timestamp;
            const double pt = ts == AV_NOPTS_VALUE ? nextPt : ts * av_q2d(st->time_base) - startTime;
            nextPt = pt + frameDuration;
            passEnd = std::max(passEnd, nextPt);
            // Past the end trim, or before the seek target: not shown. The last frame at or before the
            // target is kept until the next one shows it was the one on show at the target.
            if (end > 0 && pt >= end - kEps) {
                av_frame_unref(frame.get());
                continue;
            }
            const double t = pt + offset;
            if (pt <= target + kEps) {
                av_frame_unref(pending.get());
                av_frame_move_ref(pending.get(), frame.get());
                pendingT = t;
                hasPending = true;
                continue;
            }
            flushPending();
            if (!deliverVideo(frame.get(), t, decGen, sc)) {
                av_frame_unref(frame.get());
                break;
            }
            av_frame_unref(frame.get());
        }
        if (endOfPass) {
            // End of a pass: the decoder is drained; reset it for the next pass or a seek.
            flushPending();
            avcodec_flush_buffers(vDec.get());
            passEnded(true, decGen, e.fileEnd, passEnd);
            nextPt = passEnd = 0;
        }
    }
}

}  // namespace ombry::media
