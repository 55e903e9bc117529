#include "Platform/Media/MediaPlayer.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <pthread.h>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "Platform/Log.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/FFmpegSupport.hpp"

namespace ombry::media {

namespace {

constexpr int kRingFrames = 4;     // decoded frames waiting to be shown
constexpr int kPoolFrames = 8;     // ring + the one on show + consumers' copies + the one being written
constexpr int kBlockFrames = 1024; // audio block size at the file's rate
constexpr int kBlocks = 64;        // about 1.4 s at 48 kHz
constexpr int kMaxChannels = 8;
constexpr double kEps = 1e-4;
constexpr size_t kMaxQueueBytes = 32u << 20;
constexpr double kResyncSeconds = 0.04;
constexpr double kMonoToStereo[2] = {1.0, 1.0};

void nameThread(const char* name) { pthread_setname_np(pthread_self(), name); }

// Single-producer, single-consumer queue of small integers.
template <size_t N>
class SpscIndexQueue {
public:
    bool push(int v) {
        const size_t t = tail_.load(std::memory_order_relaxed);
        if (t - head_.load(std::memory_order_acquire) >= N) return false;
        buf_[t % N] = v;
        tail_.store(t + 1, std::memory_order_release);
        return true;
    }
    bool peek(int& v) const {
        const size_t h = head_.load(std::memory_order_relaxed);
        if (h == tail_.load(std::memory_order_acquire)) return false;
        v = buf_[h % N];
        return true;
    }
    void pop() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
    size_t size() const { return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire); }

private:
    std::array<int, N> buf_{};
    std::atomic<size_t> head_{0};
    std::atomic<size_t> tail_{0};
};

struct AudioBuf {
    std::array<float, size_t(kBlockFrames) * kMaxChannels> data{};
    int frames = 0;
    int readPos = 0;  // frames already used (audio thread)
    bool processed = false;
    double pts = 0;  // continuous time of frame 0
    uint64_t gen = 0;
    // Decoder -> audio thread: a fresh resampler for the generation this block starts, and how many of
    // its first output frames to drop. Audio thread -> decoder: the resampler it replaced, to free.
    SwrContext* resampler = nullptr;
    int resamplerSkip = 0;
};

struct PacketEntry {
    AVPacket* pkt = nullptr;  // null: end of a pass, drain the decoder
    uint64_t gen = 0;
    double offset = 0;  // added to the pass's timestamps (loops)
    double target = 0;  // the pass starts here: earlier pictures and samples are not shown
};

// Shared by all threads. Written on the main thread only, read anywhere (seqlock).
class Timeline {
public:
    struct State {
        double anchorHost = 0;
        double anchorMedia = 0;
        double rate = 0;
        bool frozen = true;
        bool loop = false;
        double loopStart = 0;
        double end = 0;

        double continuousAt(double host) const {
            double c = anchorMedia;
            if (!frozen && rate != 0) c += std::max(host - anchorHost, 0.0) * rate;  // an anchor may lie ahead: the start of sound
            if (!loop) c = std::min(c, end);
            return std::max(c, 0.0);
        }
        double wrap(double c) const {
            if (loop && end > loopStart && c >= end) {
                const double len = end - loopStart;
                const double r = std::fmod(c - loopStart, len);
                return loopStart + (len - r < 1e-6 ? 0.0 : r);
            }
            return c;
        }
        bool moving() const { return !frozen && rate != 0; }
    };
    State read() const {
        for (;;) {
            const uint64_t s = seq_.load(std::memory_order_acquire);
            if (s & 1) continue;
            State st;
            st.anchorHost = anchorHost_.load(std::memory_order_relaxed);
            st.anchorMedia = anchorMedia_.load(std::memory_order_relaxed);
            st.rate = rate_.load(std::memory_order_relaxed);
            st.frozen = frozen_.load(std::memory_order_relaxed);
            st.loop = loop_.load(std::memory_order_relaxed);
            st.loopStart = loopStart_.load(std::memory_order_relaxed);
            st.end = end_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq_.load(std::memory_order_relaxed) == s) return st;
        }
    }
    void write(const State& st) {
        seq_.fetch_add(1, std::memory_order_acq_rel);
        anchorHost_.store(st.anchorHost, std::memory_order_relaxed);
        anchorMedia_.store(st.anchorMedia, std::memory_order_relaxed);
        rate_.store(st.rate, std::memory_order_relaxed);
        frozen_.store(st.frozen, std::memory_order_relaxed);
        loop_.store(st.loop, std::memory_order_relaxed);
        loopStart_.store(st.loopStart, std::memory_order_relaxed);
        end_.store(st.end, std::memory_order_relaxed);
        seq_.fetch_add(1, std::memory_order_release);
    }

private:
    std::atomic<uint64_t> seq_{0};
    std::atomic<double> anchorHost_{0}, anchorMedia_{0}, rate_{0}, loopStart_{0}, end_{0};
    std::atomic<bool> frozen_{true}, loop_{false};
};

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

}  // namespace

struct MediaPlayer::Impl : AudioSource, std::enable_shared_from_this<MediaPlayer::Impl> {
    // ---- fixed at creation ----
    std::shared_ptr<MediaAsset> asset;
    std::string path;
    PlayerOptions opt;
    std::shared_ptr<AudioOutput> output;
    std::shared_ptr<AudioProcessor> processor;
    Timeline timeline;

    // ---- guarded by m ----
    mutable std::mutex m;
    std::condition_variable cv;
    bool quit = false;
    Readiness ready = Readiness::unknown;
    std::optional<MediaFailure> failure;
    uint64_t gen = 1;  // raised by every seek; work of older generations is thrown away
    double seekTarget = 0;
    uint64_t demuxGen = 0;
    std::deque<PacketEntry> vq, aq;
    size_t queuedBytes = 0;
    bool loopOn = false;
    double loopStart = 0;
    double endTime = 0;
    // video
    std::array<std::shared_ptr<VideoFrame>, kPoolFrames> pool;
    std::deque<std::shared_ptr<VideoFrame>> ring;
    std::shared_ptr<VideoFrame> current;
    uint64_t currentGen = 0;
    bool currentShown = false;
    uint64_t serial = 0;
    int reqOutW = 0, reqOutH = 0, maxW = 0, maxH = 0;
    // progress of the current generation
    bool videoFirst = false, audioFirst = false, videoEof = false, audioEof = false;
    bool progressPosted = false;

    // ---- stream facts, written by the demux thread before `ready` ----
    ff::FormatPtr fmt;
    int vIdx = -1, aIdx = -1;
    ff::CodecPtr vDec, aDec;
    double startTime = 0;
    double duration = 0;
    double frameDuration = 1.0 / 30;
    StageOrientation orientation = StageOrientation::up;
    int natW = 0, natH = 0;
    int sampleRate = 0, channels = 0;
    AVChannelLayout outLayout{};

    std::atomic<uint64_t> dropped{0}, decoded{0};
    std::atomic<bool> mutedFlag{false};
    std::atomic<uint64_t> audioGen{1};
    std::atomic<bool> audioLive{false};

    // ---- audio blocks: decoder -> audio thread ----
    std::array<AudioBuf, kBlocks> blocks;
    SpscIndexQueue<kBlocks> readyBlocks, freeBlocks;
    // audio thread only
    SwrContext* swr48 = nullptr;
    int swr48Skip = 0;  // output frames of the priming still to drop
    std::vector<float> fifo;
    int fifoStart = 0, fifoEnd = 0;
    double fifoHeadPts = 0;
    bool fifoValid = false;
    uint64_t renderGen = 0;

    std::thread demuxThread, videoThread, audioThread;

    // ---- main thread only ----
    MediaPlayer* owner = nullptr;
    ActionAtEnd action = ActionAtEnd::pause;
    struct PendingSeek {
        uint64_t gen;
        std::function<void(bool)> done;
    };
    std::vector<PendingSeek> seeks;
    std::vector<PendingSeek> prerolls;
    struct Periodic {
        double interval;
        std::function<void(double)> fn;
        TaskHandle timer;
    };
    struct Boundary {
        std::vector<double> times;
        std::function<void()> fn;
    };
    std::map<ObserverId, Periodic> periodic;
    std::map<ObserverId, Boundary> boundaries;
    ObserverId nextObserver = 1;
    TaskHandle eventTimer;
    double lastEval = 0;
    bool endedPass = false;
    struct ReadyWaiter {
        std::function<void(Readiness)> done;
        TaskHandle timer;
    };
    std::vector<std::shared_ptr<ReadyWaiter>> readyWaiters;

    Impl(std::shared_ptr<MediaAsset> a, PlayerOptions o)
        : asset(std::move(a)), path(asset->path()), opt(std::move(o)), output(opt.output), processor(opt.processor) {
        if (!output) output = AudioOutput::createNull(true);
        for (int i = 0; i < kBlocks; ++i) freeBlocks.push(i);
        reqOutW = opt.outputWidth;
        reqOutH = opt.outputHeight;
        maxW = opt.maxWidth;
        maxH = opt.maxHeight;
        fifo.resize(size_t(16384) * AudioOutput::kChannels);
        for (auto& p : pool) p = std::make_shared<VideoFrame>();
    }

    ~Impl() override {
        if (swr48) swr_free(&swr48);
        for (auto& b : blocks) swr_free(&b.resampler);
        av_channel_layout_uninit(&outLayout);
        for (auto& e : vq) av_packet_free(&e.pkt);
        for (auto& e : aq) av_packet_free(&e.pkt);
    }

    // End of the playable range for the clock; unbounded until the file is open.
    double rangeEnd() {
        std::lock_guard lock(m);
        return ready == Readiness::ready ? endTime : std::numeric_limits<double>::infinity();
    }

    void start() {
        demuxThread = std::thread([this] { demuxMain(); });
    }

    void shutdown() {
        {
            std::lock_guard lock(m);
            quit = true;
        }
        cv.notify_all();
        if (demuxThread.joinable()) demuxThread.join();
        if (audioLive) output->removeSource(this);
        if (videoThread.joinable()) videoThread.join();
        if (audioThread.joinable()) audioThread.join();
        if (processor && aIdx >= 0) processor->unprepare();
        eventTimer.cancel();
        for (auto& [id, p] : periodic) p.timer.cancel();
        for (auto& w : readyWaiters) w->timer.cancel();
    }

    // ---------------------------------------------------------------- demux thread

    void fail(MediaFailure f) {
        {
            std::lock_guard lock(m);
            ready = Readiness::failed;
            failure = std::move(f);
            videoEof = audioEof = true;
        }
        postProgress(true);
    }

    bool open() {
        MediaFailure f;
        fmt = ff::openInput(path, nullptr, f);
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

    // The resampler to the output's rate and stereo, made off the audio thread and primed with silence,
    // so that converting a block there allocates nothing. `skip`: the primed silence still inside it,
    // in output frames, to drop so that the first sample comes out on time.
    SwrContext* makeResampler(int& skip) {
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

    double packetTime(const AVPacket* p) const {
        const AVStream* st = fmt->streams[p->stream_index];
        const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (ts == AV_NOPTS_VALUE) return -1;
        return ts * av_q2d(st->time_base) - startTime;
    }

    void seekFile(double t) {
        const int64_t ts = int64_t((t + startTime) * AV_TIME_BASE);
        if (av_seek_frame(fmt.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0) av_seek_frame(fmt.get(), -1, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    }

    void pushEnd(uint64_t g, double offset, double target) {
        if (vIdx >= 0) vq.push_back({nullptr, g, offset, target});
        if (aIdx >= 0) aq.push_back({nullptr, g, offset, target});
        cv.notify_all();
    }

    void demuxMain() {
        nameThread("media-demux");
        if (!open()) return;
        postProgress(true);
        if (vIdx >= 0) videoThread = std::thread([this] { videoMain(); });
        if (aIdx >= 0) {
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
                pushEnd(g, offset, passTarget);
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
                pushEnd(g, offset, passTarget);
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
    bool popEntry(std::deque<PacketEntry>& q, PacketEntry& out, uint64_t& decoderGen) {
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
    static int sendPacket(AVCodecContext* dec, const AVPacket* pkt) {
        int r = avcodec_send_packet(dec, pkt);
        for (int tries = 0; !pkt && r < 0 && r != AVERROR_EOF && tries < 4; ++tries) r = avcodec_send_packet(dec, nullptr);
        return r;
    }

    // ---------------------------------------------------------------- video thread

    struct Scaler {
        SwsContext* ctx = nullptr;
        int srcFmt = -1, srcW = 0, srcH = 0, dstW = 0, dstH = 0;
        VideoPixelFormat format = VideoPixelFormat::yuv420p;
        bool full = false;
        ~Scaler() { sws_freeContext(ctx); }
    };

    // Alpha goes out as yuva420p or BGRA (straight); RGB and palette pictures as BGRA; the rest as yuv420p.
    static VideoPixelFormat formatFor(AVPixelFormat f) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
        if (!d) return VideoPixelFormat::bgra;
        if (d->flags & AV_PIX_FMT_FLAG_ALPHA) return f == AV_PIX_FMT_YUVA420P ? VideoPixelFormat::yuva420p : VideoPixelFormat::bgra;
        if (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) return VideoPixelFormat::bgra;
        return VideoPixelFormat::yuv420p;
    }

    void outputSize(int srcW, int srcH, int& w, int& h) {
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
    bool convert(const AVFrame* src, VideoFrame& dst, Scaler& sc) {
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
        // Padded rows: swscale's vector code reads and writes past packed ones (an nv12 source of odd width
        // crashes it).
        dst.allocate(w, h, format, 64);
        if (!dst.valid()) return false;
        uint8_t* planes[4] = {dst.plane(0), dst.plane(1), dst.plane(2), dst.plane(3)};
        sws_scale(sc.ctx, src->data, src->linesize, 0, src->height, planes, dst.stride.data());
        dst.matrix = matrix;
        dst.range = format == VideoPixelFormat::bgra || full ? VideoColorRange::full : VideoColorRange::limited;
        dst.orientation = orientation;
        return true;
    }

    // Drops frames whose successor is already due; called under m.
    void pruneRing(double c) {
        while (ring.size() >= 2 && ring[1]->time <= c + kEps) {
            ring.pop_front();
            dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::shared_ptr<VideoFrame> freeSlot() {
        for (auto& p : pool)
            if (p.use_count() == 1) return p;
        return nullptr;
    }

    // Converts and queues one decoded frame at continuous time t; false when the generation moved on.
    bool deliverVideo(const AVFrame* f, double t, uint64_t g, Scaler& sc) {
        decoded.fetch_add(1, std::memory_order_relaxed);
        const Timeline::State tl = timeline.read();
        // A clip that cannot keep up skips pictures whose time has passed rather than falling behind.
        {
            std::lock_guard lock(m);
            if (g != gen) return false;
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

    void videoMain() {
        nameThread("media-video");
        Scaler sc;
        ff::FramePtr frame(av_frame_alloc()), pending(av_frame_alloc());
        bool hasPending = false;
        double pendingT = 0;
        uint64_t decGen = 0, g = 0;
        double offset = 0, target = 0, end = 0;
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
                const double pt = ts == AV_NOPTS_VALUE ? 0 : ts * av_q2d(st->time_base) - startTime;
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
                std::unique_lock lock(m);
                if (decGen == gen && !loopOn) {
                    videoEof = true;
                    lock.unlock();
                    postProgress();
                }
            }
        }
    }

    // ---------------------------------------------------------------- audio decode thread

    bool acquireBlock(int& idx, uint64_t g) {
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

    void audioMain() {
        nameThread("media-audio");
        SwrContext* swr = nullptr;
        ff::FramePtr frame(av_frame_alloc());
        std::vector<float> conv;
        const AVStream* st = fmt->streams[aIdx];
        uint64_t decGen = 0, g = 0;
        double offset = 0, target = 0, end = 0;
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
                double pt = ts == AV_NOPTS_VALUE ? -1 : ts * av_q2d(st->time_base) - startTime;
                const int maxOut = swr_get_out_samples(swr, frame->nb_samples);
                conv.resize(size_t(std::max(maxOut, 0)) * size_t(channels));
                uint8_t* outp[1] = {reinterpret_cast<uint8_t*>(conv.data())};
                int n = swr_convert(swr, outp, maxOut, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                av_frame_unref(frame.get());
                if (n <= 0) continue;
                if (pt < 0) pt = 0;
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
                std::unique_lock lock(m);
                if (decGen == gen && !loopOn) {
                    audioEof = true;
                    lock.unlock();
                    postProgress();
                }
            }
        }
        if (swr) swr_free(&swr);
        swr_free(&fresh);
    }

    // ---------------------------------------------------------------- audio thread (output)

    void releaseFront() {
        int idx;
        if (readyBlocks.peek(idx)) {
            readyBlocks.pop();
            freeBlocks.push(idx);
        }
    }

    AudioBuf* front(uint64_t g) {
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

    void dropBefore(double c, uint64_t g) {
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
    void resetFifo() {
        fifoStart = fifoEnd = 0;
        fifoValid = false;
    }

    void pushSilence(int frames) {
        frames = std::min(frames, int(fifo.size() / 2) - fifoEnd);
        if (frames <= 0) return;
        std::memset(fifo.data() + size_t(fifoEnd) * 2, 0, sizeof(float) * size_t(frames) * 2);
        fifoEnd += frames;
    }

    void renderAdd(float* out, int frames, double startTime) override {
        const uint64_t g = audioGen.load(std::memory_order_acquire);
        if (g != renderGen) {
            renderGen = g;
            resetFifo();
        }
        front(g);  // returns stale blocks to the decoder even while paused
        const Timeline::State tl = timeline.read();
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

    // ---------------------------------------------------------------- main thread

    void postProgress(bool force = false) {
        {
            std::lock_guard lock(m);
            if (progressPosted && !force) return;
            progressPosted = true;
        }
        std::weak_ptr<Impl> weak = weak_from_this();
        mainQueue().post([weak] {
            if (auto self = weak.lock()) self->onProgress();
        });
    }

    bool genReady(bool forPreroll) {
        // under m
        if (ready == Readiness::failed) return true;
        if (ready != Readiness::ready) return false;
        const bool v = vIdx < 0 || videoEof || (forPreroll ? int(ring.size()) >= 2 || (videoFirst && videoEof) : videoFirst);
        const bool a = vIdx >= 0 || aIdx < 0 || audioEof || audioFirst;
        return v && a;
    }

    void onProgress() {
        if (!owner) return;
        bool seekDone, prerollDone;
        Readiness r;
        {
            std::lock_guard lock(m);
            progressPosted = false;
            seekDone = genReady(false);
            prerollDone = genReady(true);
            r = ready;
        }
        if (r == Readiness::ready) {
            Timeline::State tl = timeline.read();
            const double end = rangeEnd();
            if (tl.end != end) {
                tl.end = end;
                timeline.write(tl);
            }
        }
        if (r != Readiness::unknown) {
            auto waiters = std::move(readyWaiters);
            readyWaiters.clear();
            for (auto& w : waiters) {
                w->timer.cancel();
                if (w->done) w->done(r);
            }
        }
        if (seekDone) {
            Timeline::State tl = timeline.read();
            if (tl.frozen) {
                tl.frozen = false;
                tl.anchorHost = startHost(tl.rate);
                timeline.write(tl);
                lastEval = tl.anchorMedia;
                reschedule();
                restartPeriodic();
            }
            auto done = std::move(seeks);
            seeks.clear();
            for (auto& s : done)
                if (s.done) s.done(true);
        }
        if (prerollDone) {
            auto done = std::move(prerolls);
            prerolls.clear();
            for (auto& s : done)
                if (s.done) s.done(true);
        }
    }

    double nowContinuous() const { return timeline.read().continuousAt(output->now()); }

    // Next time (continuous) strictly after `after` at which playback passes `t`: every pass of a loop.
    static double nextOccurrence(const Timeline::State& tl, double t, double after) {
        const double len = tl.end - tl.loopStart;
        double occ = t;
        if (occ <= after && tl.loop && len > 0 && t >= tl.loopStart && t < tl.end)
            occ = t + std::ceil((after - t) / len + 1e-12) * len;
        if (occ <= after || (!tl.loop && occ > tl.end + kEps)) return std::numeric_limits<double>::infinity();
        return occ;
    }

    double nextBoundary(const Timeline::State& tl, double after) const {
        double best = std::numeric_limits<double>::infinity();
        for (auto& [id, b] : boundaries)
            for (double t : b.times) best = std::min(best, nextOccurrence(tl, t, after));
        return best;
    }

    void reschedule() {
        eventTimer.cancel();
        const Timeline::State tl = timeline.read();
        if (!tl.moving() || tl.rate < 0) return;
        const double c = tl.continuousAt(output->now());
        double next = nextBoundary(tl, lastEval);
        if (!tl.loop && !endedPass) next = std::min(next, tl.end);
        if (!std::isfinite(next)) return;
        const double dt = std::max((next - c) / tl.rate, 0.0);
        std::weak_ptr<Impl> weak = weak_from_this();
        eventTimer = mainQueue().postAfter(dt, [weak] {
            if (auto self = weak.lock()) self->onEvents();
        });
    }

    void onEvents() {
        if (!owner) return;
        Timeline::State tl = timeline.read();
        const double c = tl.continuousAt(output->now());
        const double from = lastEval;
        // Boundaries within the tolerance below fire now: never again for this pass, or the timer spins.
        lastEval = std::max(lastEval, c + 1e-9);
        std::vector<std::function<void()>> fire;
        for (auto& [id, b] : boundaries)
            for (double t : b.times)
                if (nextOccurrence(tl, t, from) <= c + 1e-9) {
                    fire.push_back(b.fn);
                    break;
                }
        bool ended = false;
        if (!tl.loop && !endedPass && c >= tl.end - 1e-9) {
            endedPass = true;
            ended = true;
            if (action == ActionAtEnd::pause) {
                tl.anchorMedia = tl.end;
                tl.anchorHost = output->now();
                tl.rate = 0;
                timeline.write(tl);
                stopPeriodic();
            }
        }
        for (auto& f : fire)
            if (f) f();
        if (!owner) return;
        if (ended && owner->onEndOfItem) owner->onEndOfItem();
        if (owner) reschedule();
    }

    void restartPeriodic() {
        for (auto& [id, p] : periodic) startPeriodic(id);
    }
    void stopPeriodic() {
        for (auto& [id, p] : periodic) p.timer.cancel();
    }
    void startPeriodic(ObserverId id) {
        auto it = periodic.find(id);
        if (it == periodic.end()) return;
        it->second.timer.cancel();
        if (!timeline.read().moving()) return;
        std::weak_ptr<Impl> weak = weak_from_this();
        it->second.timer = mainQueue().postAfter(it->second.interval, [weak, id] {
            auto self = weak.lock();
            if (!self || !self->owner) return;
            auto p = self->periodic.find(id);
            if (p == self->periodic.end()) return;
            auto fn = p->second.fn;
            self->startPeriodic(id);
            if (fn) fn(self->timeline.read().wrap(self->nowContinuous()));
        });
    }

    // Where a clock that starts moving now is anchored: with sound, at the first sample still to be
    // rendered, so that the start of the sound is not lost in the output's buffer.
    double startHost(double rate) const {
        const double now = output->now();
        return rate != 0 && aIdx >= 0 ? std::max(now, output->renderHead()) : now;
    }

    // Re-anchors the clock at the current time with a new rate.
    void setRate(double r) {
        Timeline::State tl = timeline.read();
        const double host = output->now();
        tl.anchorMedia = tl.continuousAt(host);
        tl.anchorHost = tl.moving() ? host : startHost(r);
        tl.rate = r;
        timeline.write(tl);
        lastEval = tl.anchorMedia;
        reschedule();
        if (tl.moving()) restartPeriodic();
        else stopPeriodic();
        std::lock_guard lock(m);
        cv.notify_all();
    }

    void seek(double t, std::function<void(bool)> done) {
        t = std::max(t, 0.0);
        std::vector<PendingSeek> superseded = std::move(seeks);
        seeks.clear();
        // The new position must be visible before the new generation: the decode threads prune the
        // ring against the timeline, and the old position would throw the new frames away.
        Timeline::State tl = timeline.read();
        tl.anchorMedia = t;
        tl.anchorHost = output->now();
        tl.frozen = true;
        timeline.write(tl);
        uint64_t g;
        {
            std::lock_guard lock(m);
            g = ++gen;
            seekTarget = t;
            for (auto* q : {&vq, &aq}) {
                for (auto& e : *q) av_packet_free(&e.pkt);
                q->clear();
            }
            queuedBytes = 0;
            ring.clear();
            videoFirst = audioFirst = false;
            videoEof = vIdx < 0 || ready == Readiness::failed;
            audioEof = aIdx < 0 || ready == Readiness::failed;
            if (ready == Readiness::unknown) videoEof = audioEof = false;
            cv.notify_all();
        }
        audioGen.store(g, std::memory_order_release);
        lastEval = t;
        endedPass = false;
        eventTimer.cancel();
        stopPeriodic();
        seeks.push_back({g, std::move(done)});
        for (auto& s : superseded)
            if (s.done) s.done(false);
        postProgress(true);
    }
};

// -------------------------------------------------------------------------------------------------------

MediaPlayer::MediaPlayer(std::shared_ptr<MediaAsset> asset, PlayerOptions options)
    : impl_(std::make_shared<Impl>(std::move(asset), std::move(options))) {
    impl_->owner = this;
    Timeline::State tl;
    tl.end = std::numeric_limits<double>::infinity();  // known once the file is open
    tl.frozen = true;  // until the first frames are decoded
    tl.anchorHost = impl_->output->now();
    impl_->timeline.write(tl);
    impl_->start();
}

MediaPlayer::~MediaPlayer() {
    impl_->owner = nullptr;
    impl_->shutdown();
}

Readiness MediaPlayer::readiness() const {
    std::lock_guard lock(impl_->m);
    return impl_->ready;
}

std::optional<MediaFailure> MediaPlayer::failure() const {
    std::lock_guard lock(impl_->m);
    return impl_->failure;
}

void MediaPlayer::whenReady(double timeoutSeconds, std::function<void(Readiness)> done) {
    const Readiness r = readiness();
    if (r != Readiness::unknown) {
        std::weak_ptr<Impl> weak = impl_;
        mainQueue().post([weak, done = std::move(done), r] {
            if (auto self = weak.lock(); self && self->owner && done) done(r);
        });
        return;
    }
    auto w = std::make_shared<Impl::ReadyWaiter>();
    w->done = std::move(done);
    std::weak_ptr<Impl> weak = impl_;
    w->timer = mainQueue().postAfter(timeoutSeconds, [weak, w] {
        auto self = weak.lock();
        if (!self || !self->owner) return;
        auto& list = self->readyWaiters;
        for (auto it = list.begin(); it != list.end(); ++it)
            if (*it == w) {
                list.erase(it);
                if (w->done) w->done(Readiness::unknown);
                return;
            }
    });
    impl_->readyWaiters.push_back(w);
}

bool MediaPlayer::hasVideo() const { return readiness() == Readiness::ready && impl_->vIdx >= 0; }
bool MediaPlayer::hasAudio() const { return readiness() == Readiness::ready && impl_->aIdx >= 0; }
double MediaPlayer::duration() const { return readiness() == Readiness::ready ? impl_->duration : 0; }
StageOrientation MediaPlayer::orientation() const {
    return readiness() == Readiness::ready ? impl_->orientation : StageOrientation::up;
}
int MediaPlayer::naturalWidth() const { return readiness() == Readiness::ready ? impl_->natW : 0; }
int MediaPlayer::naturalHeight() const { return readiness() == Readiness::ready ? impl_->natH : 0; }

double MediaPlayer::endTime() const {
    std::lock_guard lock(impl_->m);
    return impl_->ready == Readiness::ready ? impl_->endTime : impl_->opt.forwardEndTime;
}

void MediaPlayer::setRate(double rate) {
    // The end of the range is known once open; keep the clock's clamp in step.
    Timeline::State tl = impl_->timeline.read();
    const double end = impl_->rangeEnd();
    if (tl.end != end) {
        tl.end = end;
        impl_->timeline.write(tl);
    }
    impl_->setRate(rate);
}

double MediaPlayer::rate() const { return impl_->timeline.read().rate; }

double MediaPlayer::currentTime() const {
    const Timeline::State tl = impl_->timeline.read();
    return tl.wrap(tl.continuousAt(impl_->output->now()));
}

void MediaPlayer::seek(double time, std::function<void(bool)> done) {
    Timeline::State tl = impl_->timeline.read();
    tl.end = impl_->rangeEnd();
    impl_->timeline.write(tl);
    impl_->seek(time, std::move(done));
}

void MediaPlayer::preroll(std::function<void(bool)> done) {
    impl_->prerolls.push_back({0, std::move(done)});
    impl_->postProgress(true);
}

void MediaPlayer::setMuted(bool muted) { impl_->mutedFlag = muted; }
bool MediaPlayer::muted() const { return impl_->mutedFlag; }

void MediaPlayer::setActionAtEnd(ActionAtEnd action) {
    const bool wasLoop = impl_->action == ActionAtEnd::loop;
    impl_->action = action;
    const bool loop = action == ActionAtEnd::loop;
    {
        std::lock_guard lock(impl_->m);
        impl_->loopOn = loop;
        impl_->cv.notify_all();
    }
    Timeline::State tl = impl_->timeline.read();
    const double c = tl.continuousAt(impl_->output->now());
    tl.loop = loop;
    tl.end = impl_->rangeEnd();
    impl_->timeline.write(tl);
    // Leaving a loop after it wrapped: start afresh at the wrapped time, so the clock and the
    // decoded passes agree again.
    if (wasLoop && !loop && c >= tl.end) impl_->seek(tl.loopStart + std::fmod(c - tl.loopStart, std::max(tl.end - tl.loopStart, 1e-6)), {});
    impl_->reschedule();
}

ActionAtEnd MediaPlayer::actionAtEnd() const { return impl_->action; }

void MediaPlayer::setLoopStart(double time) {
    {
        std::lock_guard lock(impl_->m);
        impl_->loopStart = std::max(time, 0.0);
    }
    Timeline::State tl = impl_->timeline.read();
    tl.loopStart = std::max(time, 0.0);
    impl_->timeline.write(tl);
}

MediaPlayer::ObserverId MediaPlayer::addPeriodicObserver(double interval, std::function<void(double)> fn) {
    const ObserverId id = impl_->nextObserver++;
    impl_->periodic[id] = {std::max(interval, 0.001), std::move(fn), {}};
    impl_->startPeriodic(id);
    return id;
}

MediaPlayer::ObserverId MediaPlayer::addBoundaryObserver(std::vector<double> times, std::function<void()> fn) {
    const ObserverId id = impl_->nextObserver++;
    impl_->boundaries[id] = {std::move(times), std::move(fn)};
    impl_->reschedule();
    return id;
}

void MediaPlayer::removeObserver(ObserverId id) {
    if (auto it = impl_->periodic.find(id); it != impl_->periodic.end()) {
        it->second.timer.cancel();
        impl_->periodic.erase(it);
    }
    impl_->boundaries.erase(id);
}

void MediaPlayer::setPreferredMaximumSize(int width, int height) {
    std::lock_guard lock(impl_->m);
    impl_->maxW = width;
    impl_->maxH = height;
}

void MediaPlayer::setOutputSize(int width, int height) {
    std::lock_guard lock(impl_->m);
    impl_->reqOutW = width;
    impl_->reqOutH = height;
}

std::shared_ptr<const VideoFrame> MediaPlayer::latestFrame(double hostTime) {
    Impl& d = *impl_;
    const Timeline::State tl = d.timeline.read();
    // Host time to output time: the output's clock may run a hair apart from the host clock.
    const double c = tl.continuousAt(hostTime + (d.output->now() - appClock().monotonic()));
    std::lock_guard lock(d.m);
    const bool stale = d.currentGen != d.gen;
    while (!d.ring.empty() && (d.ring.front()->time <= c + kEps || (stale && d.currentGen != d.gen))) {
        if (d.current && !d.currentShown && d.currentGen == d.gen) d.dropped.fetch_add(1, std::memory_order_relaxed);
        d.current = std::move(d.ring.front());
        d.ring.pop_front();
        d.currentGen = d.gen;
        d.currentShown = false;
    }
    d.cv.notify_all();
    if (d.current) d.currentShown = true;
    return d.current;
}

uint64_t MediaPlayer::framesDropped() const { return impl_->dropped.load(); }
uint64_t MediaPlayer::framesDecoded() const { return impl_->decoded.load(); }

double MediaPlayer::bufferedAudio() const {
    if (impl_->sampleRate <= 0) return 0;
    return double(impl_->readyBlocks.size()) * kBlockFrames / impl_->sampleRate;
}

int MediaPlayer::bufferedFrames() const {
    std::lock_guard lock(impl_->m);
    return int(impl_->ring.size());
}

}  // namespace ombry::media
