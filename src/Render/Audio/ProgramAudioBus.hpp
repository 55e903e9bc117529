#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ombry {

class TapAudioRing;

// Receives the program sound: one block of 480 stereo frames at 48 kHz as 960 floats, the 480 left samples
// followed by the 480 right ones. Called on the bus thread.
class NDIAudioSink {
public:
    virtual ~NDIAudioSink() = default;
    virtual void sendAudio(const float* block) = 0;
};

// The clock that paces the bus thread. Tests inject one that moves only when told to.
class BusClock {
public:
    virtual ~BusClock() = default;
    // Seconds on a monotonic scale.
    virtual double now() = 0;
    // Blocks until `due` on this clock, or until `running` is clear and wake() was called.
    virtual void sleepUntil(double due, const std::atomic<bool>& running) = 0;
    // Lets a sleepUntil notice that its `running` flag was cleared. Any thread.
    virtual void wake() = 0;
};

// CLOCK_MONOTONIC with an interruptible absolute-deadline sleep.
class SteadyBusClock final : public BusClock {
public:
    double now() override;
    void sleepUntil(double due, const std::atomic<bool>& running) override;
    void wake() override;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

// The program sound for the NDI output: a thread that every 10 ms drains up to 480 frames from each tap's
// ring, sums them, delays the sum by `delayFrames` and hands it to the sink. Runs only while a sink is set.
class ProgramAudioBus {
public:
    static constexpr int blockFrames = 480;
    static constexpr int sampleRate = 48000;
    static constexpr double period = 0.01;
    static constexpr int64_t maxDelayFrames = 24000;
    static constexpr int64_t delayLineFrames = maxDelayFrames + 2 * blockFrames;

    explicit ProgramAudioBus(std::shared_ptr<BusClock> clock = std::make_shared<SteadyBusClock>());
    ~ProgramAudioBus();
    ProgramAudioBus(const ProgramAudioBus&) = delete;
    ProgramAudioBus& operator=(const ProgramAudioBus&) = delete;

    // Main thread. A sink starts the thread if none runs (a running one takes the new sink from its next
    // pass); none stops the thread and waits for it, so at most one thread ever drains the rings and the
    // old sink is not called once this returns.
    void setSink(std::shared_ptr<NDIAudioSink> sink);

    // The delay in frames at 48 kHz; read on every pass and limited there to 0...24000.
    std::atomic<int64_t> delayFrames{0};
    // Milliseconds of the settings to frames: min(max(ms, 0), 500) x 48.
    static int64_t delayFramesForMs(double ms);

    bool running() const { return running_->load(std::memory_order_relaxed); }
    // The flag taps read (relaxed) to decide whether to feed their rings; cleared when the bus goes away.
    std::shared_ptr<const std::atomic<bool>> runningFlag() const { return running_; }

    // Ring table, kept by the taps on the main thread.
    void addRing(const void* tap, std::shared_ptr<TapAudioRing> ring);
    void removeRing(const void* tap);
    size_t ringCount() const;

    // The id of the bus thread while one runs.
    std::thread::id threadId() const;
    // Bus threads inside their loop right now: never more than one.
    int activeLoops() const { return activeLoops_.load(); }

private:
    void start();
    void stop();
    void run(const std::atomic<bool>& running, BusClock& clock);

    mutable std::mutex lock_;
    std::map<const void*, std::shared_ptr<TapAudioRing>> rings_;
    std::shared_ptr<NDIAudioSink> sink_;
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> running_;
    std::shared_ptr<BusClock> clock_;
    std::atomic<int> activeLoops_{0};
};

// The bus's per-pass work, apart from its thread and clock: mixing the rings into one block and delaying it.
// Allocated once per thread start; a new one starts with a silent delay line.
class BusMixer {
public:
    BusMixer();
    // Drains up to 480 frames from each ring into the mix and returns the delayed output block (960 floats).
    const float* pass(const std::vector<std::shared_ptr<TapAudioRing>>& rings, int64_t delayFrames);

private:
    std::vector<float> mix_;
    std::vector<float> out_;
    std::vector<float> delayL_;
    std::vector<float> delayR_;
    int64_t writePos_ = 0;
};

}  // namespace ombry
