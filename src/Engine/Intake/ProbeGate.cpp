#include "Engine/Intake/ProbeGate.hpp"

#include "Platform/MainQueue.hpp"

namespace ombry {

void ProbeGate::acquire(std::function<void()> granted) {
    if (active_ < limit_) {
        ++active_;
        granted();
        return;
    }
    waiters_.push_back(std::move(granted));
}

void ProbeGate::release() {
    if (waiters_.empty()) {
        if (active_ > 0) --active_;
        return;
    }
    auto next = std::move(waiters_.back());
    waiters_.pop_back();
    // The slot passes straight on; the waiter runs as its own task, not inside the releaser's.
    mainQueue().post(std::move(next));
}

}  // namespace ombry
