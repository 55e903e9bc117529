#include "Platform/Memory.hpp"

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace ombry::platform {

namespace {
constexpr int kArenas = 4;
// Fixed, which also stops glibc from raising it after each large free (it would then keep frames in arenas).
constexpr int kMapFrom = 1 << 20;
}  // namespace

void boundAllocator() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("MALLOC_ARENA_MAX")) ::mallopt(M_ARENA_MAX, kArenas);
        if (!std::getenv("MALLOC_MMAP_THRESHOLD_")) ::mallopt(M_MMAP_THRESHOLD, kMapFrom);
    });
}

bool returnFreedMemory(double minInterval) {
    using Clock = std::chrono::steady_clock;
    static std::atomic<Clock::rep> last{0};
    const Clock::rep now = Clock::now().time_since_epoch().count();
    const auto gap = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minInterval)).count();
    Clock::rep before = last.load();
    if (before != 0 && now - before < gap) return false;
    if (!last.compare_exchange_strong(before, now)) return false;
    ::malloc_trim(0);
    return true;
}

}  // namespace ombry::platform
