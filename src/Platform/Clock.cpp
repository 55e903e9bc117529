#include "Platform/Clock.hpp"

#include <time.h>

namespace ombry {
namespace {
double readClock(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
// Never destroyed: threads that end after main() returns (a torn-down player's audio pacing) still read the
// clock while the process's statics go.
Clock& systemClock() {
    static SystemClock* clock = new SystemClock;
    return *clock;
}
std::atomic<Clock*> current{nullptr};  // nullptr: the system clock
}  // namespace

double SystemClock::monotonic() const { return readClock(CLOCK_MONOTONIC); }
double SystemClock::wallMs() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}
double SystemClock::boottime() const { return readClock(CLOCK_BOOTTIME); }

ManualClock::ManualClock(double monotonicStart, double wallStartMs)
    : mono_(monotonicStart), boot_(monotonicStart), wall_(wallStartMs) {}

void ManualClock::advance(double seconds) {
    mono_.store(mono_.load() + seconds);
    suspend(seconds);
}

void ManualClock::suspend(double seconds) {
    boot_.store(boot_.load() + seconds);
    wall_.store(wall_.load() + seconds * 1000.0);
}

Clock& appClock() {
    Clock* c = current.load();
    return c ? *c : systemClock();
}
void setAppClock(Clock* c) { current.store(c); }

}  // namespace ombry
