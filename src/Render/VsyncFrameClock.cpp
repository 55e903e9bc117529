#include "Render/VsyncFrameClock.hpp"

#include "Platform/Clock.hpp"

namespace ombry {

VsyncFrameClock::VsyncFrameClock(double refreshRate) : timer_(refreshRate) {}

VsyncFrameClock::~VsyncFrameClock() { stop(); }

void VsyncFrameClock::start(std::function<void(double now)> tick) {
    stop();
    shared_->tick = std::move(tick);
    const double fallbackAfter = 1.5 / timer_.rate();
    timer_.start([shared = shared_.get(), fallbackAfter](double now) {
        if (now - shared->lastVblank.load() < fallbackAfter || !shared->tick) return;
        ++shared->timerTicks;
        shared->tick(now);
    });
}

void VsyncFrameClock::stop() {
    timer_.stop();
    shared_->tick = nullptr;
}

void VsyncFrameClock::vblank(const void* source) {
    const void* expected = nullptr;
    if (!shared_->pacer.compare_exchange_strong(expected, source) && expected != source) return;
    shared_->lastVblank.store(appClock().monotonic());
    if (shared_->queued.exchange(true)) return;
    mainQueue().post([weak = std::weak_ptr<Shared>(shared_)] {
        auto shared = weak.lock();
        if (!shared) return;
        shared->queued.store(false);
        if (!shared->tick) return;
        ++shared->vsyncTicks;
        shared->tick(appClock().monotonic());
    });
}

void VsyncFrameClock::release(const void* source) {
    const void* expected = source;
    shared_->pacer.compare_exchange_strong(expected, nullptr);
}

}  // namespace ombry
