#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <thread>

#include "AudioTestSupport.hpp"
#include "support/ThreadScheduling.hpp"
#include "Platform/Log.hpp"
#include "Platform/ThreadPriority.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry {
namespace {

using platform::PriorityResult;
using platform::ThreadRole;
using test::realtimeAllowed;

using test::Scheduling;
const auto ofThisThread = test::schedulingOfThisThread;

// Runs `body` on a fresh thread, so whatever it does to its scheduling dies with it.
void onFreshThread(const std::function<void()>& body) { std::thread(body).join(); }

// Capabilities are per thread on Linux: this thread loses CAP_SYS_NICE, the rest of the process keeps it.
void dropSysNice() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
}

// Sets a resource limit of the process for the scope; ok() is false when the process may not.
class ScopedLimit {
public:
    ScopedLimit(int resource, rlim_t limit) : resource_(resource) {
        getrlimit(resource_, &saved_);
        const rlimit wanted{limit, std::max(limit, saved_.rlim_max)};
        ok_ = setrlimit(resource_, &wanted) == 0;
    }
    ~ScopedLimit() { setrlimit(resource_, &saved_); }
    bool ok() const { return ok_; }

private:
    int resource_;
    rlimit saved_{};
    bool ok_ = false;
};

TEST(ThreadPriority, ResultMatchesWhatTheThreadGot) {
    const bool realtime = realtimeAllowed();
    int realtimeOf[2] = {0, 0};
    for (ThreadRole role : {ThreadRole::audio, ThreadRole::presenter}) {
        PriorityResult result{};
        Scheduling after;
        onFreshThread([&] {
            result = platform::raiseThreadPriority(role);
            after = ofThisThread();
        });
        const int r = int(role);
        switch (result) {
            case PriorityResult::realtime:
                EXPECT_EQ(after.policy, SCHED_FIFO) << r;
                EXPECT_GT(after.priority, 0) << r;
                realtimeOf[r] = after.priority;
                break;
            case PriorityResult::nice:
                EXPECT_EQ(after.policy, SCHED_OTHER) << r;
                EXPECT_LT(after.nice, 0) << r;
                break;
            case PriorityResult::unchanged:
                EXPECT_EQ(after.policy, SCHED_OTHER) << r;
                break;
        }
        // Where the system allows it, the thread gets it.
        if (realtime) {
            EXPECT_EQ(result, PriorityResult::realtime) << r;
        }
    }
    // Sound outranks pictures.
    if (realtime) {
        EXPECT_GT(realtimeOf[int(ThreadRole::audio)], realtimeOf[int(ThreadRole::presenter)]);
    }
}

TEST(ThreadPriority, WithoutRealtimeFallsBackToNiceOrLeavesTheThreadAlone) {
    CapturingLogSink log;
    ScopedLogSink logScope(log);
    ScopedLimit noRealtime(RLIMIT_RTPRIO, 0);
    if (!noRealtime.ok()) GTEST_SKIP() << "this process may not change its limits";
    int ran = 0;
    struct Case {
        rlim_t niceLimit;  // 20 - the lowest nice value allowed
        PriorityResult expected;
    };
    for (const Case& c : {Case{40, PriorityResult::nice}, Case{0, PriorityResult::unchanged}}) {
        ScopedLimit niceLimit(RLIMIT_NICE, c.niceLimit);
        if (!niceLimit.ok()) continue;  // raising a hard limit takes CAP_SYS_RESOURCE
        ++ran;
        log.clear();
        PriorityResult result{};
        Scheduling before, after;
        onFreshThread([&] {
            dropSysNice();
            before = ofThisThread();
            result = platform::raiseThreadPriority(ThreadRole::audio);
            after = ofThisThread();
        });
        EXPECT_EQ(result, c.expected) << c.niceLimit;
        EXPECT_EQ(after.policy, SCHED_OTHER) << c.niceLimit;
        EXPECT_EQ(after.nice, c.expected == PriorityResult::nice ? -11 : before.nice) << c.niceLimit;
        // Never an error: at most a debug line, and only when nothing could be raised.
        const auto records = log.records();
        EXPECT_EQ(records.size(), c.expected == PriorityResult::unchanged ? 1u : 0u) << c.niceLimit;
        for (const auto& r : records) EXPECT_EQ(r.level, LogLevel::debug) << r.message;
    }
    EXPECT_GT(ran, 0);
}

// Notes the scheduling of the thread that sends it audio.
class SchedulingSink final : public NDIAudioSink {
public:
    void sendAudio(const float*) override {
        std::lock_guard lock(mutex_);
        seen_ = ofThisThread();
        ++count_;
        cv_.notify_all();
    }
    bool waitFor(int n) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= n; });
    }
    Scheduling seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    Scheduling seen_;
    int count_ = 0;
};

TEST(ThreadPriority, BusThreadRunsRaised) {
    if (!realtimeAllowed()) GTEST_SKIP() << "real-time scheduling is not allowed here";
    auto clock = std::make_shared<test::StepBusClock>();
    ProgramAudioBus bus(clock);
    auto sink = std::make_shared<SchedulingSink>();
    bus.setSink(sink);
    ASSERT_TRUE(sink->waitFor(1));
    bus.setSink(nullptr);
    const Scheduling s = sink->seen();
    EXPECT_EQ(s.policy, SCHED_FIFO);
    EXPECT_GT(s.priority, 0);
}

}  // namespace
}  // namespace ombry
