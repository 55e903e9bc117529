#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/MainQueue.hpp"

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
