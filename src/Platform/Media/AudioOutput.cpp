#include "Platform/Media/AudioOutput.hpp"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>

#include "Platform/Clock.hpp"
#include "Platform/Log.hpp"
#include "Platform/Media/SeqLockPair.hpp"
#include "Platform/ThreadPriority.hpp"

namespace ombry::media {

AudioOutput::~AudioOutput() = default;

// Adding and removing pair with mix() through sequentially consistent operations on the slots and the
// epoch: each side stores one (a slot, the epoch) and then loads the other. Only a single total order
// rules out both sides reading the old value, which would let removeSource() return while a mix still
// renders the source. mix() itself never waits, locks or allocates.

bool AudioOutput::addSource(AudioSource* source) {
    for (auto& slot : sources_) {
        AudioSource* expected = nullptr;
        if (slot.compare_exchange_strong(expected, source, std::memory_order_seq_cst)) return true;
    }
    logLine(LogLevel::error, "AUD", "too many players on one audio output", false);
    return false;
}

void AudioOutput::removeSource(AudioSource* source) {
    bool found = false;
    for (auto& slot : sources_) {
        AudioSource* expected = source;
        if (slot.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst)) found = true;
    }
    if (!found) return;
    // A mix under way may have read the slot before it was cleared: wait for it to end. A mix that starts
    // later reads the cleared slot.
    const uint64_t e = epoch_.load(std::memory_order_seq_cst);
    if (e & 1)
        while (epoch_.load(std::memory_order_acquire) == e) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void AudioOutput::mix(float* out, int frames, double startTime) {
    std::memset(out, 0, sizeof(float) * size_t(frames) * kChannels);
    epoch_.fetch_add(1, std::memory_order_seq_cst);
    int done = 0;
    while (done < frames) {
        const int n = std::min(kMaxBlock, frames - done);
        const double t = startTime + double(done) / kRate;
        for (auto& slot : sources_)
            if (AudioSource* s = slot.load(std::memory_order_seq_cst)) s->renderAdd(out + size_t(done) * kChannels, n, t);
        done += n;
    }
    // Release: a remover that sees the mix end also sees everything the sources did in it.
    epoch_.fetch_add(1, std::memory_order_release);
}

namespace {

// ---- Null output -------------------------------------------------------------------------------------

class NullOutput final : public AudioOutput {
public:
    NullOutput(bool paced, MixObserver onMix)
        : start_(appClock().monotonic()), scratch_(size_t(kBlock) * kChannels), onMix_(std::move(onMix)) {
        if (paced) thread_ = std::thread([this] { loop(); });
    }
    ~NullOutput() override {
        {
            std::lock_guard lock(wakeMutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    bool isLive() const override { return false; }
    void setDevice(std::optional<std::string>) override {}
    std::optional<std::string> device() const override { return std::nullopt; }
    double now() const override { return appClock().monotonic(); }

    void pump() override {
        std::lock_guard lock(pumpMutex_);
        const double now = appClock().monotonic();
        const int64_t due = static_cast<int64_t>(std::floor((now - start_) * kRate));
        while (rendered_ + kBlock <= due) {
            mix(scratch_.data(), kBlock, start_ + double(rendered_) / kRate);
            if (onMix_) onMix_(scratch_.data(), kBlock, start_ + double(rendered_) / kRate);
            rendered_ += kBlock;
            renderHead_.store(start_ + double(rendered_) / kRate, std::memory_order_relaxed);
        }
    }

private:
    static constexpr int kBlock = 480;

    void loop() {
        std::unique_lock lock(wakeMutex_);
        while (!quit_) {
            lock.unlock();
            {
                // After a long stall (suspend, a debugger) skip ahead rather than churn through it.
                std::lock_guard p(pumpMutex_);
                const int64_t due = static_cast<int64_t>((appClock().monotonic() - start_) * kRate);
                if (due - rendered_ > 2 * kRate) rendered_ = due - kBlock * 4;
            }
            pump();
            lock.lock();
            wake_.wait_for(lock, std::chrono::milliseconds(5));
        }
    }

    double start_;
    int64_t rendered_ = 0;
    std::vector<float> scratch_;
    MixObserver onMix_;
    std::mutex pumpMutex_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread thread_;
};

// ---- PulseAudio output -------------------------------------------------------------------------------

class PulseOutput final : public AudioOutput {
public:
    ~PulseOutput() override {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        dropPending();
        release(stream_);
        stream_ = nullptr;
        if (ctx_) {
            pa_context_disconnect(ctx_);
            pa_context_unref(ctx_);
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    bool connect(std::optional<std::string> device) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Ombry");
        if (!ctx_) return false;
        pa_context_set_state_callback(
            ctx_, [](pa_context*, void* ud) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(ud), 0); }, loop_);
        if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        pa_threaded_mainloop_lock(loop_);
        if (pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_unlock(loop_);
            return false;
        }
        // The mainloop's thread runs the write callback that mixes every player.
        pa_threaded_mainloop_once_unlocked(
            loop_, [](pa_threaded_mainloop*, void*) { platform::raiseThreadPriority(platform::ThreadRole::audio); }, nullptr);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        bool ok = false;
        for (;;) {
            const pa_context_state_t st = pa_context_get_state(ctx_);
            if (st == PA_CONTEXT_READY) {
                ok = true;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(st) || std::chrono::steady_clock::now() > deadline) break;
            pa_threaded_mainloop_wait(loop_);
        }
        // At start-up there is no sound to keep going yet: wait for the first stream (the lock is let go
        // while waiting).
        if (ok) ok = beginStream(std::move(device));
        while (ok && pending_) pa_threaded_mainloop_wait(loop_);
        ok = ok && stream_;
        pa_threaded_mainloop_unlock(loop_);
        return ok;
    }

    bool isLive() const override { return true; }

    // Only asks for the new stream: the switch happens on Pulse's thread once the stream is ready, and
    // until then the old one plays on. Waiting here would stall the caller (the main thread) for as long
    // as the server takes, and closing the old stream first would leave the show silent if the new one
    // never comes up.
    void setDevice(std::optional<std::string> uid) override {
        pa_threaded_mainloop_lock(loop_);
        if (uid != (pending_ ? pendingDevice_ : device_)) {
            dropPending();
            // Back to the device that plays now: cancelling the switch was all there was to do.
            if (uid != device_ && !beginStream(uid)) logLine(LogLevel::error, "AUD", "audio device could not be opened", false);
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    std::optional<std::string> device() const override {
        pa_threaded_mainloop_lock(loop_);
        auto d = device_;
        pa_threaded_mainloop_unlock(loop_);
        return d;
    }

    double now() const override {
        // The last (host, device) pair sampled on the audio thread.
        const auto [host, dev] = sync_.load();
        // Until the device reports (it may take a while to start) and through a stall, the clock
        // stops at the render head rather than run ahead of the sound and jump back later: a
        // player started meanwhile anchors at the head and loses no sound.
        const double t = host == 0 ? appClock().monotonic() : dev + (appClock().monotonic() - host);
        return std::min(t, renderHead());
    }

private:
    // Creates and connects a stream to `uid` as the pending one. With the loop locked; does not wait.
    bool beginStream(std::optional<std::string> uid) {
        pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        pa_stream* stream = pa_stream_new(ctx_, "Monitor", &sampleFormat, nullptr);
        if (!stream) return false;
        pa_stream_set_state_callback(
            stream, [](pa_stream* st, void* ud) { static_cast<PulseOutput*>(ud)->pendingStateChanged(st); }, this);
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(pa_usec_to_bytes(40000, &sampleFormat));
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(pa_usec_to_bytes(10000, &sampleFormat));
        attr.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream, uid ? uid->c_str() : nullptr, &attr, flags, nullptr, nullptr) < 0) {
            release(stream);
            return false;
        }
        pending_ = stream;
        pendingDevice_ = std::move(uid);
        return true;
    }

    // Pulse's thread. A ready pending stream takes over from the playing one; a failed one is dropped
    // and the playing one carries on.
    void pendingStateChanged(pa_stream* stream) {
        if (stream != pending_) return;
        const pa_stream_state_t st = pa_stream_get_state(stream);
        if (st == PA_STREAM_READY) {
            release(stream_);
            stream_ = pending_;
            pending_ = nullptr;
            device_ = std::move(pendingDevice_);
            pendingDevice_.reset();
            // Output time goes on from what the sources already rendered, so none of them is asked for a
            // stretch twice; it starts a little ahead of the host clock, as the first samples take that
            // long to be heard. The old stream's clock pair stands until the new one reports.
            origin_ = std::max(appClock().monotonic() + 0.04, renderHead());
            written_ = 0;
            renderHead_.store(origin_, std::memory_order_relaxed);
            pa_stream_set_write_callback(
                stream_, [](pa_stream*, size_t bytes, void* ud) { static_cast<PulseOutput*>(ud)->write(bytes); }, this);
            // Its first request for sound may have come before it had a write callback.
            const size_t writable = pa_stream_writable_size(stream_);
            if (writable != size_t(-1)) write(writable);
        } else if (!PA_STREAM_IS_GOOD(st)) {
            dropPending();
            logLine(LogLevel::error, "AUD", "audio device could not be opened", false);
        }
        pa_threaded_mainloop_signal(loop_, 0);
    }

    void dropPending() {
        release(pending_);
        pending_ = nullptr;
        pendingDevice_.reset();
    }

    static void release(pa_stream* stream) {
        if (!stream) return;
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }

    // Pulse's thread: the audio thread.
    void write(size_t bytes) {
        const size_t frameBytes = sizeof(float) * kChannels;
        while (bytes >= frameBytes) {
            void* data = nullptr;
            size_t n = bytes;
            if (pa_stream_begin_write(stream_, &data, &n) < 0 || !data) return;
            const int frames = int(n / frameBytes);
            mix(static_cast<float*>(data), frames, origin_ + double(written_) / kRate);
            pa_stream_write(stream_, data, size_t(frames) * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
            written_ += frames;
            renderHead_.store(origin_ + double(written_) / kRate, std::memory_order_relaxed);
            bytes -= std::min(bytes, size_t(frames) * frameBytes);
        }
        pa_usec_t played = 0;
        if (pa_stream_get_time(stream_, &played) == 0) sync_.store(appClock().monotonic(), origin_ + double(played) / 1e6);
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* ctx_ = nullptr;
    pa_stream* stream_ = nullptr;  // the stream that plays
    std::optional<std::string> device_;
    pa_stream* pending_ = nullptr;  // a stream to another device, taking over once ready
    std::optional<std::string> pendingDevice_;
    double origin_ = 0;
    int64_t written_ = 0;
    SeqLockPair sync_;  // (host time, device time); written by the audio thread only
};

}  // namespace

std::shared_ptr<AudioOutput> AudioOutput::createNull(bool paced, MixObserver onMix) {
    return std::make_shared<NullOutput>(paced, std::move(onMix));
}

std::shared_ptr<AudioOutput> AudioOutput::create(std::optional<std::string> deviceUid) {
    auto pulse = std::make_shared<PulseOutput>();
    if (pulse->connect(deviceUid)) return pulse;
    logLine(LogLevel::notice, "AUD", "no sound server; audio is not heard on this computer", false);
    return createNull(true);
}

}  // namespace ombry::media
