#pragma once
#include <functional>
#include <vector>

namespace ombry {

// Bounds how many media probes run at once. A caller waiting for a slot gets it from the next release;
// the newest waiter is served first, so after a large batch the items added last show their thumbnails
// first. No time-out, no cancellation. Main thread only.
class ProbeGate {
public:
    explicit ProbeGate(int limit) : limit_(limit < 1 ? 1 : limit) {}
    int limit() const { return limit_; }
    int active() const { return active_; }
    std::size_t waiting() const { return waiters_.size(); }

    // Calls `granted` at once when a slot is free, else when a release hands one over (on the main queue).
    void acquire(std::function<void()> granted);
    // Passes the slot to the newest waiter, or frees it.
    void release();

private:
    int limit_;
    int active_ = 0;
    std::vector<std::function<void()>> waiters_;  // oldest first
};

}  // namespace ombry
