#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

namespace ombry::media {

// Two doubles published together by ONE writer thread and read by any thread. The writer never waits
// (it may be a real-time audio callback); a reader retries only while a write is under way.
//
// The values are atomics stored with release and loaded with acquire: a reader that sees any value of
// a write also sees that write's odd sequence number on its second check, so a torn pair is always
// retried. That holds under the C++ memory model, not only on x86, and the race detector can follow it.
class SeqLockPair {
public:
    SeqLockPair(double first = 0, double second = 0) : first_(first), second_(second) {}

    void store(double first, double second) {
        const uint64_t s = seq_.load(std::memory_order_relaxed);  // the only writer
        seq_.store(s + 1, std::memory_order_relaxed);
        first_.store(first, std::memory_order_release);
        second_.store(second, std::memory_order_release);
        seq_.store(s + 2, std::memory_order_release);
    }

    std::pair<double, double> load() const {
        for (;;) {
            const uint64_t s = seq_.load(std::memory_order_acquire);
            if (s & 1) continue;
            const double first = first_.load(std::memory_order_acquire);
            const double second = second_.load(std::memory_order_acquire);
            if (seq_.load(std::memory_order_relaxed) == s) return {first, second};
        }
    }

private:
    std::atomic<uint64_t> seq_{0};
    std::atomic<double> first_;
    std::atomic<double> second_;
};

}  // namespace ombry::media
