#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "Render/FrameClock.hpp"

namespace ombry {

// Paces the frame loop from the vertical blank of a shown display window: its presenter signals after
// each swap, and the next frame is composed at once. While no window signals (none is open, or its
// screen stopped presenting) a precise timer at the screen's refresh rate takes over within a frame and a
// half, so the loop never waits on a screen.
class VsyncFrameClock final : public FrameClock {
public:
    explicit VsyncFrameClock(double refreshRate = 60.0);
    ~VsyncFrameClock() override;
    void start(std::function<void(double now)> tick) override;
    void stop() override;

    // Any thread: a vertical blank of `source` (a presenter). The first source to signal paces the loop
    // until it is released; the others are ignored. At most one tick waits on the main queue.
    void vblank(const void* source);
    // Any thread: `source` stops signalling (its window closed); the next source to signal paces.
    void release(const void* source);

    double refreshRate() const { return timer_.rate(); }
    uint64_t vsyncTicks() const { return shared_->vsyncTicks; }
    uint64_t timerTicks() const { return shared_->timerTicks; }

private:
    struct Shared {
        std::atomic<const void*> pacer{nullptr};
        std::atomic<bool> queued{false};
        std::atomic<double> lastVblank{-1e300};
        // Main thread only.
        std::function<void(double)> tick;
        uint64_t vsyncTicks = 0;
        uint64_t timerTicks = 0;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    TimerFrameClock timer_;
};

}  // namespace ombry
