#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "Render/FrameClock.hpp"

namespace ombry {

class VsyncFrameClock;

// The vertical blanks of the display windows' presenters, shared by the windows (any thread) and the
// frame clock that listens to them (main thread). Held by shared pointers so that neither side outlives
// the other's memory: a window presents on while the renderer swaps or drops its clock, and a clock made
// on the same signal picks up the windows that are already open.
class VsyncSignal : public std::enable_shared_from_this<VsyncSignal> {
public:
    static std::shared_ptr<VsyncSignal> create() { return std::shared_ptr<VsyncSignal>(new VsyncSignal()); }

    // Any thread: a vertical blank of `source` (a presenter). The first source to signal paces the loop
    // until it is released; the others are ignored. At most one tick waits on the main queue.
    void vblank(const void* source);
    // Any thread: `source` stops signalling (its window closed); the next source to signal paces.
    void release(const void* source);

private:
    friend class VsyncFrameClock;
    VsyncSignal() = default;

    std::atomic<const void*> pacer_{nullptr};
    std::atomic<bool> queued_{false};
    std::atomic<double> lastVblank_{-1e300};
    // Main thread only: the started clock that ticks on the blanks.
    VsyncFrameClock* listener_ = nullptr;
};

// Paces the frame loop from the vertical blank of a shown display window: its presenter signals after
// each swap, and the next frame is composed at once. While no window signals (none is open, or its
// screen stopped presenting) a precise timer at the screen's refresh rate takes over within a frame and a
// half, so the loop never waits on a screen.
class VsyncFrameClock final : public FrameClock {
public:
    explicit VsyncFrameClock(double refreshRate = 60.0, std::shared_ptr<VsyncSignal> signal = VsyncSignal::create());
    ~VsyncFrameClock() override;
    void start(std::function<void(double now)> tick) override;
    void stop() override;

    // What the windows signal into.
    const std::shared_ptr<VsyncSignal>& signal() const { return signal_; }
    double refreshRate() const { return timer_.rate(); }
    uint64_t vsyncTicks() const { return vsyncTicks_; }
    uint64_t timerTicks() const { return timerTicks_; }

private:
    friend class VsyncSignal;
    void onVblank();

    std::shared_ptr<VsyncSignal> signal_;
    TimerFrameClock timer_;
    // Main thread only.
    std::function<void(double)> tick_;
    uint64_t vsyncTicks_ = 0;
    uint64_t timerTicks_ = 0;
};

}  // namespace ombry
