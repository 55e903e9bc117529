#include "Render/VsyncFrameClock.hpp"

#include "Platform/Clock.hpp"

namespace ombry {

void VsyncSignal::vblank(const void* source) {
    const void* expected = nullptr;
    if (!pacer_.compare_exchange_strong(expected, source) && expected != source) return;
    lastVblank_.store(appClock().monotonic());
    if (queued_.exchange(true)) return;
    mainQueue().post([weak = weak_from_this()] {
        auto signal = weak.lock();
        if (!signal) return;
        signal->queued_.store(false);
        if (signal->listener_) signal->listener_->onVblank();
    });
}

void VsyncSignal::release(const void* source) {
    const void* expected = source;
    pacer_.compare_exchange_strong(expected, nullptr);
}

VsyncFrameClock::VsyncFrameClock(double refreshRate, std::shared_ptr<VsyncSignal> signal)
    : signal_(signal ? std::move(signal) : VsyncSignal::create()), timer_(refreshRate) {}

VsyncFrameClock::~VsyncFrameClock() { stop(); }

void VsyncFrameClock::start(std::function<void(double now)> tick) {
    stop();
    tick_ = std::move(tick);
    signal_->listener_ = this;
    const double fallbackAfter = 1.5 / timer_.rate();
    timer_.start([this, fallbackAfter](double now) {
        if (now - signal_->lastVblank_.load() < fallbackAfter || !tick_) return;
        ++timerTicks_;
        tick_(now);
    });
}

void VsyncFrameClock::stop() {
    timer_.stop();
    tick_ = nullptr;
    if (signal_->listener_ == this) signal_->listener_ = nullptr;
}

void VsyncFrameClock::onVblank() {
    if (!tick_) return;
    ++vsyncTicks_;
    tick_(appClock().monotonic());
}

}  // namespace ombry
