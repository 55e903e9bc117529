#include "Platform/Media/MediaPlayerImpl.hpp"

#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

namespace ombry::media {

using namespace detail;

namespace {

constexpr double kMonoToStereo[2] = {1.0, 1.0};

}  // namespace

// The resampler to the output's rate and stereo, made off the audio thread and primed with silence,
// so that converting a block there allocates nothing. `skip`: the primed silence still inside it,
// in output frames, to drop so that the first sample comes out on time.
SwrContext* MediaPlayer::Impl::makeResampler(int& skip) {
    SwrContext* swr = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLT, AudioOutput::kRate, &outLayout, AV_SAMPLE_FMT_FLT, sampleRate,
                            0, nullptr) < 0 ||
        // A mono file is heard at full level on both sides, not 3 dB down.
        (channels == 1 && swr_set_matrix(swr, kMonoToStereo, 1) < 0) || swr_init(swr) < 0) {
        swr_free(&swr);
        return nullptr;
    }
    std::vector<float> silence(size_t(kBlockFrames) * size_t(channels), 0.0f);
    std::vector<float> sink(size_t(swr_get_out_samples(swr, 2 * kBlockFrames)) * AudioOutput::kChannels);
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(silence.data())};
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(sink.data())};
    const int room = int(sink.size() / AudioOutput::kChannels);
    for (int i = 0; i < 2; ++i)
        if (swr_convert(swr, out, room, in, kBlockFrames) < 0) {
            swr_free(&swr);
            return nullptr;
        }
    skip = int(swr_get_delay(swr, AudioOutput::kRate));
    return swr;
}

bool MediaPlayer::Impl::acquireBlock(int& idx, uint64_t g) {
    for (;;) {
        if (freeBlocks.peek(idx)) {
            freeBlocks.pop();
            swr_free(&blocks[size_t(idx)].resampler);  // one the audio thread replaced, or never took
            return true;
        }
        {
            std::lock_guard lock(m);
            if (quit || g != gen) return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void MediaPlayer::Impl::audioMain() {
    nameThread("media-audio");
    SwrContext* swr = nullptr;
    ff::FramePtr frame(av_frame_alloc());
    std::vector<float> conv;
    const AVStream* st = fmt->streams[aIdx];
    uint64_t decGen = 0, g = 0;
    double offset = 0, target = 0, end = 0;
    double nextPt = 0, passEnd = 0;  // where the next sound of the pass falls when it has no time; the pass's end
    int cur = -1;  // block being filled
    PacketEntry e;
    // An empty block stays with the decoder (freeBlocks has one producer: the audio thread).
    auto publish = [&] {
        if (cur < 0 || blocks[size_t(cur)].frames == 0) return;
        readyBlocks.push(cur);
        cur = -1;
        // Ready for play once the sound at the target can reach the output, not merely decoded.
        bool first = false;
        {
            std::lock_guard lock(m);
            if (decGen == gen && !audioFirst) audioFirst = first = true;
        }
        if (first) postProgress();
    };
    // Each generation starts the output's resampler afresh, without the sound from before a seek.
    SwrContext* fresh = nullptr;
    int freshSkip = 0;
    while (popEntry(aq, e, g)) {
        if (g != decGen) {
            avcodec_flush_buffers(aDec.get());
            decGen = g;
            if (cur >= 0) {
                blocks[size_t(cur)].frames = 0;
                swr_free(&blocks[size_t(cur)].resampler);
            }
            if (!fresh) fresh = makeResampler(freshSkip);
            nextPt = passEnd = 0;
        }
        offset = e.offset;
        target = e.target;
        {
            std::lock_guard lock(m);
            end = endTime;
        }
        sendPacket(aDec.get(), e.pkt);
        const bool endOfPass = !e.pkt;
        if (e.pkt) av_packet_free(&e.pkt);
        for (;;) {
            if (avcodec_receive_frame(aDec.get(), frame.get()) < 0) break;
            if (!swr) {
                if (swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLT, sampleRate, &frame->ch_layout,
                                        AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
                    swr_init(swr) < 0) {
                    av_frame_unref(frame.get());
                    continue;
                }
            }
            const int64_t ts = frame->best_effort_timestamp;
            double pt = ts == AV_NOPTS_VALUE ? nextPt : ts * av_q2d(st->time_base) - startTime;
            const int maxOut = swr_get_out_samples(swr, frame->nb_samples);
            conv.resize(size_t(std::max(maxOut, 0)) * size_t(channels));
            uint8_t* outp[1] = {reinterpret_cast<uint8_t*>(conv.data())};
            int n = swr_convert(swr, outp, maxOut, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            av_frame_unref(frame.get());
            if (n <= 0) continue;
            if (pt < 0) pt = 0;
            nextPt = pt + double(n) / sampleRate;
            passEnd = std::max(passEnd, nextPt);
            int skip = 0;
            if (pt < target) skip = std::min(n, int(std::llround((target - pt) * sampleRate)));
            if (end > 0) {
                const int keep = int(std::floor((end - pt) * sampleRate + 0.5));
                n = std::min(n, std::max(keep, 0));
            }
            if (n <= skip) continue;
            {
                std::lock_guard lock(m);
                if (decGen != gen) break;
            }
            for (int i = skip; i < n;) {
                if (cur < 0) {
                    if (!acquireBlock(cur, decGen)) {
                        cur = -1;
                        break;
                    }
                    blocks[size_t(cur)].frames = 0;
                }
                AudioBuf& b = blocks[size_t(cur)];
                if (b.frames == 0) {
                    b.readPos = 0;
                    b.processed = false;
                    b.gen = decGen;
                    b.pts = pt + offset + double(i) / sampleRate;
                    if (fresh) {
                        b.resampler = std::exchange(fresh, nullptr);
                        b.resamplerSkip = freshSkip;
                    }
                }
                const int take = std::min(n - i, kBlockFrames - b.frames);
                std::memcpy(b.data.data() + size_t(b.frames) * channels, conv.data() + size_t(i) * channels,
                            sizeof(float) * size_t(take) * channels);
                b.frames += take;
                i += take;
                if (b.frames == kBlockFrames) publish();
            }
        }
        if (endOfPass) {
            publish();
            avcodec_flush_buffers(aDec.get());
            if (swr) swr_free(&swr);
            passEnded(false, decGen, e.fileEnd, passEnd);
            nextPt = passEnd = 0;
        }
    }
    if (swr) swr_free(&swr);
    swr_free(&fresh);
}

void MediaPlayer::Impl::releaseFront() {
    int idx;
    if (readyBlocks.peek(idx)) {
        readyBlocks.pop();
        freeBlocks.push(idx);
    }
}

AudioBuf* MediaPlayer::Impl::front(uint64_t g) {
    int idx;
    while (readyBlocks.peek(idx)) {
        AudioBuf& b = blocks[size_t(idx)];
        if (b.gen == g) {
            // The first block of a generation brings its resampler; the old one goes back with it.
            if (b.resampler) {
                std::swap(swr48, b.resampler);
                swr48Skip = b.resamplerSkip;
            }
            return &b;
        }
        releaseFront();
    }
    return nullptr;
}

void MediaPlayer::Impl::dropBefore(double c, uint64_t g) {
    while (AudioBuf* b = front(g)) {
        const double endPts = b->pts + double(b->frames) / sampleRate;
        if (endPts <= c) {
            releaseFront();
            continue;
        }
        const int pos = int(std::llround((c - b->pts) * sampleRate));
        if (pos > b->readPos) b->readPos = std::min(pos, b->frames);
        break;
    }
}

// The resampler is kept: within a generation the sound is one stream, and a fresh one would
// allocate here. Its few frames of history only delay the realigned sound by a fraction of a ms.
void MediaPlayer::Impl::resetFifo() {
    fifoStart = fifoEnd = 0;
    fifoValid = false;
}

void MediaPlayer::Impl::pushSilence(int frames) {
    frames = std::min(frames, int(fifo.size() / 2) - fifoEnd);
    if (frames <= 0) return;
    std::memset(fifo.data() + size_t(fifoEnd) * 2, 0, sizeof(float) * size_t(frames) * 2);
    fifoEnd += frames;
}

void MediaPlayer::Impl::renderAdd(float* out, int frames, double startTime) {
    const uint64_t g = audioGen.load(std::memory_order_acquire);
    if (g != renderGen) {
        renderGen = g;
        resetFifo();
    }
    front(g);  // returns stale blocks to the decoder even while paused
    const Timeline::State& tl = timeline.readOnAudioThread();
    if (!tl.moving()) return;
    // The clock may start within this block or after it (play() anchors at the render head or
    // later): the sound starts there, not earlier.
    if (startTime < tl.anchorHost) {
        const int lead = int(std::llround((tl.anchorHost - startTime) * AudioOutput::kRate));
        if (lead >= frames) return;
        out += size_t(lead) * AudioOutput::kChannels;
        frames -= lead;
        startTime = tl.anchorHost;
    }
    const double c0 = tl.continuousAt(startTime);
    if (tl.rate != 1.0) {  // silent at other rates (see setRate)
        dropBefore(c0, g);
        if (fifoValid) resetFifo();
        return;
    }
    if (!tl.loop && c0 >= tl.end) return;
    if (fifoValid && std::abs(fifoHeadPts - c0) > kResyncSeconds) resetFifo();
    if (fifoStart > 0) {
        std::memmove(fifo.data(), fifo.data() + size_t(fifoStart) * 2, sizeof(float) * size_t(fifoEnd - fifoStart) * 2);
        fifoEnd -= fifoStart;
        fifoStart = 0;
    }
    if (!fifoValid) {
        dropBefore(c0, g);
        if (AudioBuf* b = front(g)) {
            const int gap = int(std::llround((b->pts + double(b->readPos) / sampleRate - c0) * AudioOutput::kRate));
            if (gap >= frames) return;  // the next sound is due in a later block
            if (gap > 0) pushSilence(gap);
        }
        fifoHeadPts = c0;
        fifoValid = true;
    }
    const int cap = int(fifo.size() / 2);
    while (fifoEnd < frames) {
        AudioBuf* b = front(g);
        if (!b) break;
        const int avail = b->frames - b->readPos;
        float* data = b->data.data() + size_t(b->readPos) * channels;
        if (!b->processed && avail > 0 && processor) {
            float* planes[1] = {data};
            AudioBlock block{avail, channels, true, planes};
            processor->process(block);
        }
        b->processed = true;
        const int room = cap - fifoEnd;
        if (swr_get_out_samples(swr48, avail) > room) break;
        uint8_t* outp[1] = {reinterpret_cast<uint8_t*>(fifo.data() + size_t(fifoEnd) * 2)};
        const uint8_t* inp[1] = {reinterpret_cast<const uint8_t*>(data)};
        int got = swr_convert(swr48, outp, room, inp, avail);
        if (got > 0 && swr48Skip > 0) {
            const int drop = std::min(got, swr48Skip);
            std::memmove(outp[0], outp[0] + sizeof(float) * size_t(drop) * 2, sizeof(float) * size_t(got - drop) * 2);
            got -= drop;
            swr48Skip -= drop;
        }
        if (got > 0) fifoEnd += got;
        releaseFront();
    }
    const int n = std::min(frames, fifoEnd);
    if (!mutedFlag.load(std::memory_order_relaxed)) {
        const float* src = fifo.data();
        for (int i = 0; i < n * 2; ++i) out[i] += src[i];
    }
    fifoStart = n;
    // An underrun plays silence; time goes on, and the next block is realigned to the clock.
    fifoHeadPts += double(frames) / AudioOutput::kRate;
    if (n < frames) {
        fifoStart = fifoEnd;
        fifoValid = false;
    }
}

}  // namespace ombry::media
