#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>


#include "Platform/Clock.hpp"
#include "support/Processes.hpp"

using namespace ombry;

namespace {
double read(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
}  // namespace

// Playhead anchors and timers use the uptime clock, which must never follow the wall clock.
TEST(SystemClock, UptimeIsTheMonotonicClockAndStampsAreTheWallClock) {
    ASSERT_NE(dynamic_cast<const SystemClock*>(&appClock()), nullptr);
    const Clock& clock = appClock();
    const double monoBefore = read(CLOCK_MONOTONIC), wallBefore = read(CLOCK_REALTIME) * 1000.0;
    const double mono = clock.monotonic(), wall = clock.wallMs(), boot = clock.boottime();
    const double monoAfter = read(CLOCK_MONOTONIC), wallAfter = read(CLOCK_REALTIME) * 1000.0;
    EXPECT_GE(mono, monoBefore);
    EXPECT_LE(mono, monoAfter);
    EXPECT_GE(wall, wallBefore);
    EXPECT_LE(wall, wallAfter);
    EXPECT_GE(boot, mono);  // counts suspend too
}

// In a time namespace whose monotonic and boot clocks are moved by different amounts, the uptime clock
// moves with CLOCK_MONOTONIC only: it is not the boot clock nor the wall clock, and a changed wall clock
// cannot move it. (The system clock itself is never changed.)
TEST(SystemClock, UptimeFollowsOnlyTheMonotonicClockInAShiftedTimeNamespace) {
    // Read here: a new namespace leaves the clocks of the process that made it as they were.
    const double hostMono = read(CLOCK_MONOTONIC), hostBoot = read(CLOCK_BOOTTIME);
    const int status = test::runInTimeNamespace("monotonic 100000 0\nboottime 300000 0\n", [&] {
        const double mono = appClock().monotonic(), boot = appClock().boottime();
        // Shifted by 100000 s (within a minute of the host's reading), not by 300000 s.
        const bool monoOk = mono - hostMono > 100000 - 1 && mono - hostMono < 100000 + 60;
        const bool bootOk = boot - hostBoot > 300000 - 1 && boot - hostBoot < 300000 + 60;
        return monoOk && bootOk ? 0 : 1;
    });
    if (status == 77) GTEST_SKIP() << "no time namespaces here";
    EXPECT_EQ(status, 0);
}
