#include "Render/FrameClock.hpp"

#include <algorithm>
#include <cmath>

#include "Platform/Clock.hpp"

namespace ombry {

TimerFrameClock::TimerFrameClock(double rate) : rate_(rate > 0 && std::isfinite(rate) ? rate : 60.0) {}

TimerFrameClock::~TimerFrameClock() { stop(); }

void TimerFrameClock::start(std::function<void(double now)> tick) {
    stop();
    tick_ = std::move(tick);
    origin_ = appClock().monotonic();
    frame_ = 0;
    schedule();
}

void TimerFrameClock::stop() {
    timer_.cancel();
    timer_ = {};
    tick_ = nullptr;
}

void TimerFrameClock::schedule() {
    const double now = appClock().monotonic();
    const double period = 1.0 / rate_;
    ++frame_;
    // Behind by more than a frame (a long stall): continue from the next slot after now.
    const long long behind = static_cast<long long>(std::floor((now - origin_) / period));
    if (behind >= frame_) frame_ = behind + 1;
    const double due = origin_ + double(frame_) * period;
    timer_ = mainQueue().postAfter(std::max(0.0, due - now), [this] {
        if (!tick_) return;
        auto tick = tick_;
        schedule();
        tick(appClock().monotonic());
    });
}

}  // namespace ombry
