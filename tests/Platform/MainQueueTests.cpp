#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "Platform/MainQueue.hpp"
#include "support/Processes.hpp"

using namespace ombry;

TEST(ManualQueue, RunsTimersInDueOrderOnVirtualTime) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    std::vector<std::string> order;
    const double start = q.now();
    mainQueue().postAfter(2.0, [&] { order.push_back("b@" + std::to_string(int((q.now() - start) * 10))); });
    mainQueue().postAfter(0.4, [&] {
        order.push_back("a@" + std::to_string(int((q.now() - start) * 10 + 0.5)));
        // A timer posted from a task runs in the same advance when it falls due inside it.
        mainQueue().postAfter(0.4, [&] { order.push_back("c@" + std::to_string(int((q.now() - start) * 10 + 0.5))); });
    });
    mainQueue().post([&] { order.push_back("now"); });

    q.advance(0.3);
    EXPECT_EQ(order, (std::vector<std::string>{"now"}));
    q.advance(1.0);
    EXPECT_EQ(order, (std::vector<std::string>{"now", "a@4", "c@8"}));
    q.advance(5.0);
    EXPECT_EQ(order.back(), "b@20");
    EXPECT_NEAR(q.now() - start, 6.3, 1e-9);
}

TEST(ManualQueue, CancelledTimerNeverRuns) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    int runs = 0;
    TaskHandle h = mainQueue().postAfter(1.0, [&] { ++runs; });
    TaskHandle kept = mainQueue().postAfter(1.0, [&] { runs += 10; });
    h.cancel();
    q.advance(2.0);
    EXPECT_EQ(runs, 10);
    EXPECT_TRUE(h.cancelled());
    kept.cancel();  // after it ran: harmless
}

TEST(ManualQueue, WaitUntilRunsPostsFromOtherThreads) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    bool done = false;
    std::thread worker([] { mainQueue().post([] {}); });
    std::thread worker2([&] { mainQueue().post([&] { done = q.isMainThread(); }); });
    EXPECT_TRUE(q.waitUntil([&] { return done; }, 5.0));
    worker.join();
    worker2.join();
}

TEST(ManualQueue, InstallsItsClock) {
    ManualQueue q;
    const double before = appClock().monotonic();
    {
        ScopedMainQueue scope(q);
        EXPECT_EQ(appClock().monotonic(), q.now());
        const double wall = appClock().wallMs();
        q.advance(1.5);
        EXPECT_DOUBLE_EQ(appClock().wallMs() - wall, 1500.0);
    }
    EXPECT_GE(appClock().monotonic(), before);  // system clock again
}

// A sleep of the machine counts for boot-time timers only; those that fell due while asleep run on waking.
TEST(ManualQueue, BootTimeTimersCountTheTimeAsleep) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    std::vector<std::string> ran;
    mainQueue().postAfterBoot(10, [&] { ran.push_back("boot10"); });
    mainQueue().postAfter(10, [&] { ran.push_back("mono10"); });
    TaskHandle cancelled = mainQueue().postAfterBoot(5, [&] { ran.push_back("cancelled"); });
    mainQueue().postAfterBoot(30, [&] { ran.push_back("boot30"); });
    cancelled.cancel();
    q.advance(2);
    q.suspend(7);
    EXPECT_TRUE(ran.empty());
    q.advance(1);  // 10 s of boot time, 3 s awake
    EXPECT_EQ(ran, std::vector<std::string>{"boot10"});
    q.suspend(25);  // boot30 fell due asleep: it runs on waking
    EXPECT_EQ(ran, (std::vector<std::string>{"boot10", "boot30"}));
    q.advance(7);
    EXPECT_EQ(ran, (std::vector<std::string>{"boot10", "boot30", "mono10"}));
}

// Awake, boot-time and monotonic timers keep one order by due time.
TEST(ManualQueue, BootAndMonotonicTimersInterleaveByDueTime) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    q.suspend(100);  // the clocks no longer read alike
    std::vector<int> ran;
    for (int s : {3, 1, 5}) mainQueue().postAfterBoot(s, [&ran, s] { ran.push_back(s); });
    for (int s : {2, 4}) mainQueue().postAfter(s, [&ran, s] { ran.push_back(s); });
    q.advance(4.5);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
    q.advance(0.5);
    EXPECT_EQ(ran.back(), 5);
}

TEST(LoopQueue, RunsBootTimeTimersAndSkipsCancelledOnes) {
    LoopQueue q;
    ScopedMainQueue scope(q);
    std::vector<int> seen;
    const double start = appClock().boottime();
    TaskHandle cancelled = q.postAfterBoot(0.01, [&] { seen.push_back(0); });
    cancelled.cancel();
    // Posted from another thread first, so a slow thread start cannot push it past the later timer.
    std::thread other([&] { q.postAfterBoot(0.02, [&] { seen.push_back(1); }); });
    other.join();
    q.postAfterBoot(0.03, [&] {
        seen.push_back(2);
        q.quit();
    });
    q.run();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    EXPECT_GE(appClock().boottime() - start, 0.03 - 1e-3);
}

// In a time namespace whose boot clock runs a day ahead of its monotonic clock, a boot-time timer of 50 ms
// fires after 50 ms: it is armed on the boot clock, not on the monotonic clock with a boot-clock reading
// (that would wait a day). The loop runs in a child, since the namespace applies to children only.
TEST(LoopQueue, BootTimeTimerIsArmedOnTheBootClock) {
    const int status = test::runInTimeNamespace("boottime 86400 0\n", [] {
        ::alarm(20);  // a timer on the wrong clock ends the child here instead of a day later
        LoopQueue q;
        ScopedMainQueue scope(q);
        bool fired = false;
        q.postAfterBoot(0.05, [&] {
            fired = true;
            q.quit();
        });
        q.run();
        return fired ? 0 : 1;
    });
    if (status == 77) GTEST_SKIP() << "no time namespaces here";
    EXPECT_EQ(status, 0);
}

TEST(LoopQueue, RunsPostsAndTimersUntilQuit) {
    LoopQueue q;
    ScopedMainQueue scope(q);
    std::vector<int> seen;
    q.postAfter(0.02, [&] {
        seen.push_back(2);
        q.quit();
    });
    std::thread other([&] { q.post([&] { seen.push_back(1); }); });
    other.join();
    q.run();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(MainQueue, AfterTheQueueIsGoneLatePostsFromWorkersAreDroppedNotFatal) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    setMainQueue(nullptr);  // as at exit; the scope puts the queue back
    auto held = std::make_shared<int>(1);
    TaskHandle later;
    std::thread worker([&] {
        mainQueue().post([held] {});
        later = mainQueue().postAfter(0.1, [held] {});
    });
    worker.join();
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_TRUE(later.cancelled());
    EXPECT_FALSE(mainQueue().isMainThread());
}
