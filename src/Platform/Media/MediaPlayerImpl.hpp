// Private to the player: the state its threads share and the pieces each one runs. Split by thread:
// MediaPlayerDemux.cpp (file and packet queues), MediaPlayerVideo.cpp (video decode and scaling),
// MediaPlayerAudio.cpp (audio decode and the output callback), MediaPlayerEvents.cpp (main-thread
// notices and observers), MediaPlayerTimeline.cpp (the clock, rate and seeks), MediaPlayer.cpp (the API).
#pragma once
#include "Platform/Media/MediaPlayer.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <pthread.h>

#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "Platform/MainQueue.hpp"
#include "Platform/Media/FFmpegSupport.hpp"

namespace ombry::media::detail {

inline constexpr int kRingFrames = 4;     // decoded frames waiting to be shown
inline constexpr int kPoolFrames = 8;     // ring + the one on show + consumers' copies + the one being written
inline constexpr int kBlockFrames = 1024; // audio block size at the file's rate
inline constexpr int kBlocks = 64;        // about 1.4 s at 48 kHz
inline constexpr int kMaxChannels = 8;
inline constexpr double kEps = 1e-4;
inline constexpr size_t kMaxQueueBytes = 32u << 20;
inline constexpr double kResyncSeconds = 0.04;

inline void nameThread(const char* name) { pthread_setname_np(pthread_self(), name); }

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
    bool fileEnd = false;  // with pkt null: the pass ended at the end of the file, not at the end trim
};

// The player's clock. Written on the main thread only. The output's audio thread reads it wait-free from
// a triple buffer; any other thread reads it through a seqlock, retrying while a write is under way.
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
    // Any thread but the audio thread.
    State read() const;
    // The output's audio thread (one reader at a time): never waits, never retries.
    const State& readOnAudioThread();
    // Main thread. `midway` runs with the write half done (tests hold a write open with it).
    template <class Midway = void (*)()>
    void write(const State& st, Midway&& midway = [] {}) {
        // Seqlock: the odd count is ordered before the fields by the release fence; a reader whose
        // acquire fence follows a field it read sees the count change.
        const uint64_t s = seq_.load(std::memory_order_relaxed);
        seq_.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        anchorHost_.store(st.anchorHost, std::memory_order_relaxed);
        anchorMedia_.store(st.anchorMedia, std::memory_order_relaxed);
        rate_.store(st.rate, std::memory_order_relaxed);
        State& back = slots_[back_];
        back.anchorHost = st.anchorHost;
        back.anchorMedia = st.anchorMedia;
        midway();
        back = st;
        frozen_.store(st.frozen, std::memory_order_relaxed);
        loop_.store(st.loop, std::memory_order_relaxed);
        loopStart_.store(st.loopStart, std::memory_order_relaxed);
        end_.store(st.end, std::memory_order_relaxed);
        seq_.store(s + 2, std::memory_order_release);
        // Triple buffer: the filled slot becomes the fresh middle one; the old middle one is the next to fill.
        back_ = uint8_t(middle_.exchange(uint8_t(back_ | kFresh), std::memory_order_acq_rel) & kIndex);
    }

private:
    static constexpr uint8_t kIndex = 3, kFresh = 4;
    std::array<State, 3> slots_{};
    std::atomic<uint8_t> middle_{1};  // index of the middle slot, and kFresh when published since last taken
    uint8_t back_ = 0;                // main thread's
    uint8_t front_ = 2;               // audio thread's
    std::atomic<uint64_t> seq_{0};
    std::atomic<double> anchorHost_{0}, anchorMedia_{0}, rate_{0}, loopStart_{0}, end_{0};
    std::atomic<bool> frozen_{true}, loop_{false};
};

}  // namespace ombry::media::detail

namespace ombry::media {

struct MediaPlayer::Impl : AudioSource, std::enable_shared_from_this<MediaPlayer::Impl> {
    using Timeline = detail::Timeline;
    using AudioBuf = detail::AudioBuf;
    using PacketEntry = detail::PacketEntry;
    static constexpr int kPoolFrames = detail::kPoolFrames;
    static constexpr int kBlocks = detail::kBlocks;

    // ---- fixed at creation ----
    std::shared_ptr<MediaAsset> asset;
    std::string path;
    PlayerOptions opt;
    std::shared_ptr<AudioOutput> output;
    std::shared_ptr<AudioProcessor> processor;
    Timeline timeline;
    // Set by stop(): a file read or seek that would block the demux thread ends at once.
    std::atomic<bool> stopping{false};
    IoInterrupt io{&stopping};

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
    double endTime = 0;  // 0 while unknown: no end trim and a file that does not give its length
    double duration = 0;  // 0 until known: from the container, or once a pass reaches the file's end
    double videoFileEnd = -1, audioFileEnd = -1;  // where each stream's last pass to the file's end ended
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
    bool noTimestamps = false;  // a raw stream: times are counted from its start, seeks go to the start
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
    // Made by the demux thread for a file with sound, before the audio threads start: a take of a
    // clip does not clear megabytes on the frame loop's thread.
    std::vector<AudioBuf> blocks;
    detail::SpscIndexQueue<kBlocks> readyBlocks, freeBlocks;
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

    Impl(std::shared_ptr<MediaAsset> a, PlayerOptions o);
    ~Impl() override;

    // MediaPlayer.cpp
    double rangeEnd();
    void start();
    // Teardown: stop() on the main thread returns at once; join() on the reaper's thread waits for the
    // decode threads and takes the player off the output.
    void stop();
    void join();

    // MediaPlayerDemux.cpp: demux thread
    void fail(MediaFailure f);
    bool open();
    double packetTime(const AVPacket* p) const;
    void seekFile(double t);
    void pushEnd(uint64_t g, double offset, double target, bool fileEnd);
    bool learnFileEnd(bool video, double passEnd);
    void passEnded(bool video, uint64_t decoderGen, bool fileEnd, double passEnd);
    void demuxMain();
    bool popEntry(std::deque<PacketEntry>& q, PacketEntry& out, uint64_t& decoderGen);
    static int sendPacket(AVCodecContext* dec, const AVPacket* pkt);

    // MediaPlayerVideo.cpp: video thread
    struct Scaler {
        SwsContext* ctx = nullptr;
        int srcFmt = -1, srcW = 0, srcH = 0, dstW = 0, dstH = 0;
        VideoPixelFormat format = VideoPixelFormat::yuv420p;
        bool full = false;
        ~Scaler() { sws_freeContext(ctx); }
    };
    static VideoPixelFormat formatFor(AVPixelFormat f);
    void outputSize(int srcW, int srcH, int& w, int& h);
    bool convert(const AVFrame* src, VideoFrame& dst, Scaler& sc);
    void pruneRing(double c);
    std::shared_ptr<VideoFrame> freeSlot();
    bool deliverVideo(const AVFrame* f, double t, uint64_t g, Scaler& sc);
    void videoMain();

    // MediaPlayerAudio.cpp: audio decode thread
    SwrContext* makeResampler(int& skip);
    bool acquireBlock(int& idx, uint64_t g);
    void audioMain();
    // MediaPlayerAudio.cpp: the output's audio thread
    void releaseFront();
    AudioBuf* front(uint64_t g);
    void dropBefore(double c, uint64_t g);
    void resetFifo();
    void pushSilence(int frames);
    void renderAdd(float* out, int frames, double startTime) override;

    // MediaPlayerEvents.cpp: main thread
    void postProgress(bool force = false);
    bool genReady(bool forPreroll);
    void onProgress();
    static double nextOccurrence(const Timeline::State& tl, double t, double after);
    double nextBoundary(const Timeline::State& tl, double after) const;
    void reschedule();
    void onEvents();
    void restartPeriodic();
    void stopPeriodic();
    void startPeriodic(ObserverId id);

    // MediaPlayerTimeline.cpp: main thread
    double nowContinuous() const;
    double startHost(double rate) const;
    void setRate(double r);
    void seek(double t, std::function<void(bool)> done);
};

}  // namespace ombry::media
