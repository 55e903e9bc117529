#pragma once
#include <functional>

#include "Platform/MainQueue.hpp"

namespace ombry {

// What paces the program frame loop: calls `tick(now)` on the main thread at the screen's rate, with
// `now` on the media clock (appClock().monotonic()). The renderer throttles to the stage rate itself.
class FrameClock {
public:
    virtual ~FrameClock() = default;
    virtual void start(std::function<void(double now)> tick) = 0;
    virtual void stop() = 0;
};

// A precise timer on the main queue: ticks at `rate` per second, each one scheduled against the ideal
// time line (start + n / rate) so the pace does not drift with late timers. Ticks that fall behind by more
// than a frame are skipped, not bunched.
class TimerFrameClock final : public FrameClock {
public:
    explicit TimerFrameClock(double rate = 60.0);
    ~TimerFrameClock() override;
    void start(std::function<void(double now)> tick) override;
    void stop() override;
    double rate() const { return rate_; }

private:
    void schedule();

    double rate_;
    std::function<void(double)> tick_;
    TaskHandle timer_;
    double origin_ = 0;
    long long frame_ = 0;
};

}  // namespace ombry
