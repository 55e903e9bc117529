// The main queue on Qt's event loop: its boot-time timers, which Qt's own timers cannot give.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <thread>
#include <vector>

#include "Ui/Qt/QtMainQueue.hpp"

using namespace ombry;
using namespace ombry::ui;

TEST(QtMainQueue, RunsBootTimeTimersInOrderAndSkipsCancelledOnes) {
    static int argc = 1;
    static char name[] = "qt_main_queue_tests";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtMainQueue q;
    ScopedMainQueue scope(q);
    std::vector<int> seen;
    const double start = appClock().boottime();
    TaskHandle cancelled = q.postAfterBoot(0.01, [&] { seen.push_back(0); });
    cancelled.cancel();
    // Far enough behind the others that a loaded machine's late wake-ups cannot reorder them.
    q.postAfterBoot(0.5, [&] {
        seen.push_back(3);
        QCoreApplication::quit();
    });
    q.postAfterBoot(0.02, [&] {
        seen.push_back(1);
        // One armed from inside a boot-time task, due before the later one.
        q.postAfterBoot(0.005, [&] { seen.push_back(2); });
    });
    std::thread other([&] { q.postAfterBoot(0.0, [&] { seen.push_back(-1); }); });
    other.join();
    QCoreApplication::exec();
    EXPECT_EQ(seen, (std::vector<int>{-1, 1, 2, 3}));
    EXPECT_GE(appClock().boottime() - start, 0.5 - 1e-3);
}
