#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <pthread.h>
#include <vector>

#include "Platform/Media/AudioProcessor.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry::test {

// Waits on the real clock until `done` holds, without a fixed sleep; false after a generous bound.
template <class F>
bool eventually(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Whether this system lets a thread into a real-time scheduling class at all; tried on a throwaway thread.
inline bool realtimeAllowed() {
    bool ok = false;
    std::thread([&] {
        sched_param p{};
        p.sched_priority = 1;
        ok = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
    }).join();
    return ok;
}

// A bus clock that lets the bus thread make one pass per step(); time moves to each pass's due time.
class StepBusClock final : public BusClock {
public:
    double now() override {
        std::lock_guard lock(mutex_);
        return t_;
    }
    void sleepUntil(double due, const std::atomic<bool>& running) override {
        std::unique_lock lock(mutex_);
        ++sleeps_;
        cv_.notify_all();
        cv_.wait(lock, [&] { return permits_ > 0 || !running.load(); });
        if (permits_ > 0) {
            --permits_;
            t_ = std::max(t_, due);
        }
    }
    void wake() override {
        std::lock_guard lock(mutex_);
        cv_.notify_all();
    }
    void step(int passes = 1) {
        std::lock_guard lock(mutex_);
        permits_ += passes;
        cv_.notify_all();
    }
    void jump(double seconds) {
        std::lock_guard lock(mutex_);
        t_ += seconds;
    }
    // Waits until the thread has gone to sleep `n` times in all.
    bool waitForSleeps(int n) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return sleeps_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    double t_ = 100.0;
    int permits_ = 0;
    int sleeps_ = 0;
};

// Keeps every block the bus sends.
class RecordingSink final : public NDIAudioSink {
public:
    void sendAudio(const float* block) override {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::lock_guard lock(mutex_);
        threadName_ = name;
        blocks_.emplace_back(block, block + 2 * ProgramAudioBus::blockFrames);
        cv_.notify_all();
    }
    bool waitFor(size_t n) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return blocks_.size() >= n; });
    }
    std::vector<std::vector<float>> blocks() {
        std::lock_guard lock(mutex_);
        return blocks_;
    }
    std::string threadName() {
        std::lock_guard lock(mutex_);
        return threadName_;
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return blocks_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::vector<float>> blocks_;
    std::string threadName_;
};

// A planar block of `channels` x `frames` samples, all `value`.
struct PlanarBlock {
    PlanarBlock(int channels, int frames, float value = 1.0f)
        : data(size_t(channels), std::vector<float>(size_t(frames), value)) {
        for (auto& c : data) ptrs.push_back(c.data());
        block.frames = frames;
        block.channels = channels;
        block.interleaved = false;
        block.planes = ptrs.data();
    }
    std::vector<std::vector<float>> data;
    std::vector<float*> ptrs;
    media::AudioBlock block;
};

}  // namespace ombry::test
