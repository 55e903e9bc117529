#include "Platform/Media/MediaPlayerImpl.hpp"

#include <chrono>

namespace ombry::media {

using namespace detail;

void MediaPlayer::Impl::fail(MediaFailure f) {
    {
        std::lock_guard lock(m);
        ready = Readiness::failed;
        failure = std::move(f);
        videoEof = audioEof = true;
    }
    postProgress(true);
}

bool MediaPlayer::Impl::open() {
    MediaFailure f;
    fmt = ff::openInput(path, &io, f);
    if (!fmt) return fail(f), false;
    if (fmt->start_time != AV_NOPTS_VALUE) startTime = fmt->start_time / double(AV_TIME_BASE);
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) duration = fmt->duration / double(AV_TIME_BASE);
    int v = opt.video ? av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
    if (v >= 0 && (fmt->streams[v]->disposition & AV_DISPOSITION_ATTACHED_PIC)) v = -1;
    const int a = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (v >= 0) {
        AVStream* st = fmt->streams[v];
        if ((vDec = ff::openDecoder(st, 0, f))) {
            vIdx = v;
            orientation = ff::streamOrientation(st);
            natW = st->codecpar->width;
            natH = st->codecpar->height;
            const AVRational fr = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
            if (fr.num > 0 && fr.den > 0) frameDuration = av_q2d(av_inv_q(fr));
        }
    }
    if (a >= 0) {
        AVStream* st = fmt->streams[a];
        if ((aDec = ff::openDecoder(st, 1, f))) {
            aIdx = a;
            sampleRate = aDec->sample_rate;
            const int ch = aDec->ch_layout.nb_channels;
            if (ch > kMaxChannels || ch < 1) av_channel_layout_default(&outLayout, 2);
            else if (aDec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&outLayout, ch);
            else av_channel_layout_copy(&outLayout, &aDec->ch_layout);
            channels = outLayout.nb_channels;
            if (sampleRate <= 0) aIdx = -1;
        }
    }
    if (vIdx < 0 && aIdx < 0) return fail({MediaFailure::Code::format, "the file has no playable video or audio"}), false;
    // A raw stream (H.264, HEVC) has no timestamps to seek or to show by.
    noTimestamps = (fmt->iformat->flags & AVFMT_NOTIMESTAMPS) ||
                   ((vIdx < 0 || fmt->streams[vIdx]->start_time == AV_NOPTS_VALUE) &&
                    (aIdx < 0 || fmt->streams[aIdx]->start_time == AV_NOPTS_VALUE));
    if (duration <= 0) {
        const AVStream* st = fmt->streams[vIdx >= 0 ? vIdx : aIdx];
        if (st->duration != AV_NOPTS_VALUE) duration = ff::seconds(st->duration, st->time_base);
    }
    if (aIdx >= 0 && !(swr48 = makeResampler(swr48Skip))) {
        aIdx = -1;
        aDec.reset();
    }
    if (aIdx >= 0 && processor)
        processor->prepare(AudioFormat{double(sampleRate), channels, true, true});
    {
        std::lock_guard lock(m);
        ready = Readiness::ready;
        if (endTime <= 0 || endTime > duration) endTime = opt.forwardEndTime > 0 && (duration <= 0 || opt.forwardEndTime < duration)
                                                              ? opt.forwardEndTime
                                                              : duration;
        if (vIdx < 0) videoEof = true;
        if (aIdx < 0) audioEof = true;
    }
    return true;
}

double MediaPlayer::Impl::packetTime(const AVPacket* p) const {
    const AVStream* st = fmt->streams[p->stream_index];
    const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (ts == AV_NOPTS_VALUE) return -1;
    return ts * av_q2d(st->time_base) - startTime;
}

void MediaPlayer::Impl::seekFile(double t) {
    // Without timestamps there is nothing to seek by: decoding starts afresh and counts up to `t`.
    if (noTimestamps) {
        av_seek_frame(fmt.get(), -1, 0, AVSEEK_FLAG_BYTE);
        return;
    }
    const int64_t ts = int64_t((t + startTime) * AV_TIME_BASE);
    if (av_seek_frame(fmt.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0) av_seek_frame(fmt.get(), -1, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
}

void MediaPlayer::Impl::pushEnd(uint64_t g, double offset, double target, bool fileEnd) {
    if (vIdx >= 0) vq.push_back({nullptr, g, offset, target, fileEnd});
    if (aIdx >= 0) aq.push_back({nullptr, g, offset, target, fileEnd});
    cv.notify_all();
}

// A file that does not give its length (a raw stream, a recording written live) plays until its
// stream ends; where each stream's last picture or sample ended is then its duration. Under m; true
// when the duration became known.
bool MediaPlayer::Impl::learnFileEnd(bool video, double passEnd) {
    double& mine = video ? videoFileEnd : audioFileEnd;
    mine = std::max(mine, passEnd);
    if (duration > 0 || (vIdx >= 0 && videoFileEnd < 0) || (aIdx >= 0 && audioFileEnd < 0)) return false;
    const double end = std::max(videoFileEnd, audioFileEnd);
    if (end <= 0) return false;
    duration = end;
    if (endTime <= 0 || endTime > end) endTime = end;
    cv.notify_all();  // a loop waits for the end before its next pass
    return true;
}

// A decoder drained the end of a pass that ended at `passEnd` (file time).
void MediaPlayer::Impl::passEnded(bool video, uint64_t decoderGen, bool fileEnd, double passEnd) {
    bool notify = false;
    {
        std::lock_guard lock(m);
        if (decoderGen != gen) return;
        notify = fileEnd && learnFileEnd(video, passEnd);
        if (!loopOn) (video ? videoEof : audioEof) = notify = true;
    }
    if (notify) postProgress();
}

void MediaPlayer::Impl::demuxMain() {
    nameThread("media-demux");
    if (!open()) return;
    {
        std::lock_guard lock(m);
        if (quit) return;  // torn down while opening: no decode threads to start
    }
    postProgress(true);
    if (vIdx >= 0) videoThread = std::thread([this] { videoMain(); });
    if (aIdx >= 0) {
        blocks.resize(kBlocks);
        fifo.resize(size_t(16384) * AudioOutput::kChannels);
        audioThread = std::thread([this] { audioMain(); });
        audioLive = output->addSource(this);
    }
    AVPacket* pkt = av_packet_alloc();
    double offset = 0, passTarget = 0;
    bool passDone = false;
    bool vPast = vIdx < 0, aPast = aIdx < 0;
    std::unique_lock lock(m);
    while (!quit) {
        if (demuxGen != gen) {
            demuxGen = gen;
            const double target = seekTarget;
            passTarget = target;
            offset = 0;
            passDone = false;
            vPast = vIdx < 0;
            aPast = aIdx < 0;
            lock.unlock();
            seekFile(target);
            lock.lock();
            continue;
        }
        if (passDone) {
            if (!loopOn || endTime <= loopStart) {
                cv.wait(lock);
                continue;
            }
            offset += endTime - loopStart;
            passDone = false;
            vPast = vIdx < 0;
            aPast = aIdx < 0;
            const double target = loopStart;
            passTarget = target;
            lock.unlock();
            seekFile(target);
            lock.lock();
            continue;
        }
        const bool enough = queuedBytes > kMaxQueueBytes ||
                            ((vIdx < 0 || vq.size() >= 24) && (aIdx < 0 || aq.size() >= 48));
        if (enough) {
            cv.wait_for(lock, std::chrono::milliseconds(20));
            continue;
        }
        const uint64_t g = demuxGen;
        const double end = endTime;
        lock.unlock();
        const int err = av_read_frame(fmt.get(), pkt);
        lock.lock();
        if (g != gen) {
            if (err >= 0) av_packet_unref(pkt);
            continue;
        }
        if (err < 0) {
            pushEnd(g, offset, passTarget, true);
            passDone = true;
            continue;
        }
        const bool isV = pkt->stream_index == vIdx, isA = pkt->stream_index == aIdx;
        if (!isV && !isA) {
            av_packet_unref(pkt);
            continue;
        }
        // Past the end trim by more than any reordering delay: this pass is over for the stream.
        if (end > 0 && packetTime(pkt) > end + 1.0) (isV ? vPast : aPast) = true;
        if (vPast && aPast) {
            av_packet_unref(pkt);
            pushEnd(g, offset, passTarget, false);
            passDone = true;
            continue;
        }
        AVPacket* copy = av_packet_alloc();
        av_packet_move_ref(copy, pkt);
        queuedBytes += size_t(copy->size);
        (isV ? vq : aq).push_back({copy, g, offset, passTarget});
        cv.notify_all();
    }
    lock.unlock();
    av_packet_free(&pkt);
}

// Pops the next entry of a queue for the current generation; false on quit.
bool MediaPlayer::Impl::popEntry(std::deque<PacketEntry>& q, PacketEntry& out, uint64_t& decoderGen) {
    std::unique_lock lock(m);
    for (;;) {
        if (quit) return false;
        while (!q.empty() && q.front().gen != gen) {
            if (q.front().pkt) queuedBytes -= size_t(q.front().pkt->size);
            av_packet_free(&q.front().pkt);
            q.pop_front();
        }
        if (!q.empty()) {
            out = q.front();
            q.pop_front();
            if (out.pkt) queuedBytes -= size_t(out.pkt->size);
            decoderGen = gen;
            cv.notify_all();
            return true;
        }
        cv.wait(lock);
    }
}

// Frame-threaded decoders report an earlier packet's error on a later call: an end-of-pass
// (null) packet is sent again so that the decoder really starts draining.
int MediaPlayer::Impl::sendPacket(AVCodecContext* dec, const AVPacket* pkt) {
    int r = avcodec_send_packet(dec, pkt);
    for (int tries = 0; !pkt && r < 0 && r != AVERROR_EOF && tries < 4; ++tries) r = avcodec_send_packet(dec, nullptr);
    return r;
}

}  // namespace ombry::media
