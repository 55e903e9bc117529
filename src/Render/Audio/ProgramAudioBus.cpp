#include "Render/Audio/ProgramAudioBus.hpp"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include "Platform/ThreadPriority.hpp"
#include "Render/Audio/AudioTapNode.hpp"

namespace ombry {

// SteadyBusClock

namespace {
using SteadyDuration = std::chrono::steady_clock::duration;

double steadySeconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}
}  // namespace

double SteadyBusClock::now() { return steadySeconds(std::chrono::steady_clock::now()); }

void SteadyBusClock::sleepUntil(double due, const std::atomic<bool>& running) {
    // steady_clock is CLOCK_MONOTONIC: waiting for an absolute deadline keeps the pacing free of drift.
    const std::chrono::steady_clock::time_point deadline{
        std::chrono::duration_cast<SteadyDuration>(std::chrono::duration<double>(due))};
    std::unique_lock lock(mutex_);
    cv_.wait_until(lock, deadline, [&] { return !running.load(std::memory_order_relaxed); });
}

void SteadyBusClock::wake() {
    std::lock_guard lock(mutex_);
    cv_.notify_all();
}

// BusMixer

BusMixer::BusMixer()
    : mix_(2 * ProgramAudioBus::blockFrames, 0.0f),
      out_(2 * ProgramAudioBus::blockFrames, 0.0f),
      delayL_(ProgramAudioBus::delayLineFrames, 0.0f),
      delayR_(ProgramAudioBus::delayLineFrames, 0.0f) {}

const float* BusMixer::pass(const std::vector<std::shared_ptr<TapAudioRing>>& rings, int64_t delayFrames) {
    constexpr int64_t block = ProgramAudioBus::blockFrames;
    constexpr int64_t lineFrames = ProgramAudioBus::delayLineFrames;
    std::fill(mix_.begin(), mix_.end(), 0.0f);
    for (const auto& ring : rings) {
        const int64_t r = ring->readIdx.load(std::memory_order_relaxed);
        const int64_t w = ring->writeIdx.load(std::memory_order_acquire);
        const int64_t n = std::min(w - r, block);
        for (int64_t i = 0; i < n; ++i) {
            const size_t slot = size_t((r + i) % TapAudioRing::capacity);
            mix_[size_t(i)] += ring->left[slot];
            mix_[size_t(block + i)] += ring->right[slot];
        }
        ring->readIdx.store(r + n, std::memory_order_release);
    }
    for (int64_t i = 0; i < block; ++i) {
        const size_t at = size_t((writePos_ + i) % lineFrames);
        delayL_[at] = mix_[size_t(i)];
        delayR_[at] = mix_[size_t(block + i)];
    }
    const int64_t d = std::clamp<int64_t>(delayFrames, 0, ProgramAudioBus::maxDelayFrames);
    for (int64_t i = 0; i < block; ++i) {
        const int64_t s = writePos_ - d + i;
        out_[size_t(i)] = s < 0 ? 0.0f : delayL_[size_t(s % lineFrames)];
        out_[size_t(block + i)] = s < 0 ? 0.0f : delayR_[size_t(s % lineFrames)];
    }
    writePos_ += block;
    return out_.data();
}

// ProgramAudioBus

ProgramAudioBus::ProgramAudioBus(std::shared_ptr<BusClock> clock)
    : running_(std::make_shared<std::atomic<bool>>(false)), clock_(std::move(clock)) {}

ProgramAudioBus::~ProgramAudioBus() { stop(); }

int64_t ProgramAudioBus::delayFramesForMs(double ms) {
    if (std::isnan(ms)) ms = 0;
    return int64_t(std::min(std::max(ms, 0.0), 500.0) * 48);
}

void ProgramAudioBus::setSink(std::shared_ptr<NDIAudioSink> sink) {
    bool hasSink;
    {
        std::lock_guard lock(lock_);
        sink_ = std::move(sink);
        hasSink = bool(sink_);
    }
    if (hasSink) {
        if (!thread_.joinable()) start();
    } else {
        stop();
    }
}

void ProgramAudioBus::start() {
    running_->store(true, std::memory_order_relaxed);
    activeLoops_.fetch_add(1);
    thread_ = std::thread([this, running = running_, clock = clock_] {
        run(*running, *clock);
        activeLoops_.fetch_sub(1);
    });
}

void ProgramAudioBus::stop() {
    running_->store(false, std::memory_order_relaxed);
    if (!thread_.joinable()) return;
    clock_->wake();
    // Called from the bus thread itself (a sink dropping itself): it ends after this pass on its own.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

void ProgramAudioBus::addRing(const void* tap, std::shared_ptr<TapAudioRing> ring) {
    std::lock_guard lock(lock_);
    rings_[tap] = std::move(ring);
}

void ProgramAudioBus::removeRing(const void* tap) {
    std::lock_guard lock(lock_);
    rings_.erase(tap);
}

size_t ProgramAudioBus::ringCount() const {
    std::lock_guard lock(lock_);
    return rings_.size();
}

std::thread::id ProgramAudioBus::threadId() const { return thread_.get_id(); }

void ProgramAudioBus::run(const std::atomic<bool>& running, BusClock& clock) {
    pthread_setname_np(pthread_self(), "ndi-audio-bus");
    platform::raiseThreadPriority(platform::ThreadRole::audio);
    BusMixer mixer;
    std::vector<std::shared_ptr<TapAudioRing>> rings;
    rings.reserve(64);
    std::shared_ptr<NDIAudioSink> sink;
    double due = clock.now();
    do {
        {
            std::lock_guard lock(lock_);
            rings.clear();
            for (const auto& entry : rings_) rings.push_back(entry.second);
            sink = sink_;
        }
        const float* out = mixer.pass(rings, delayFrames.load(std::memory_order_relaxed));
        due += period;
        if (sink) sink->sendAudio(out);
        // Drop the references before sleeping: a ring or sink let go of meanwhile is freed on time.
        rings.clear();
        sink.reset();
        if (!running.load(std::memory_order_relaxed)) break;
        const double now = clock.now();
        if (now < due)
            clock.sleepUntil(due, running);
        else
            due = now;  // a late pass resynchronises rather than catching up with a burst
    } while (running.load(std::memory_order_relaxed));
}

}  // namespace ombry
