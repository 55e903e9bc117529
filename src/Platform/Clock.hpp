#pragma once
#include <atomic>

namespace ombry {

// The three clocks of the program; never mixed. Injectable so that every timer can run on virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds (CLOCK_MONOTONIC): media time, animations, pacing, playhead anchors.
    virtual double monotonic() const = 0;
    // Wall clock in milliseconds since 1970, for stored time stamps.
    virtual double wallMs() const = 0;
    // Seconds since boot, counting suspend (CLOCK_BOOTTIME).
    virtual double boottime() const = 0;
};

class SystemClock final : public Clock {
public:
    double monotonic() const override;
    double wallMs() const override;
    double boottime() const override;
};

// A clock that only moves when told to. Thread-safe reads.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double monotonicStart = 1000.0, double wallStartMs = 1.7e12);
    double monotonic() const override { return mono_.load(); }
    double wallMs() const override { return wall_.load(); }
    double boottime() const override { return boot_.load(); }
    // Time passes with the machine awake: all three clocks move.
    void advance(double seconds);
    // The machine sleeps: the boot-time and wall clocks move, the monotonic clock stands still.
    void suspend(double seconds);
    void setMonotonic(double seconds) { mono_.store(seconds); }
    void setWallMs(double ms) { wall_.store(ms); }

private:
    std::atomic<double> mono_;
    std::atomic<double> boot_;
    std::atomic<double> wall_;
};

// The process clock: the system clock unless a test installed another.
Clock& appClock();
// Installs a clock (nullptr restores the system clock). The caller keeps it alive.
void setAppClock(Clock* c);

}  // namespace ombry
