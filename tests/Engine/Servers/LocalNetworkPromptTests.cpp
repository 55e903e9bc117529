// The prompt's latch: its own test program, because the latch holds for the whole process.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "Engine/Servers/LocalNetworkPrompt.hpp"

namespace ombry {
namespace {

TEST(LocalNetworkPrompt, CallsFromManyThreadsAtOnceSendOnce) {
    std::mutex mutex;
    std::condition_variable sent;
    int sends = 0;
    LocalNetworkPrompt::setSender([&] {
        std::lock_guard lock(mutex);
        ++sends;
        sent.notify_all();
    });
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i)
        callers.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            LocalNetworkPrompt::trigger();
        });
    go = true;
    for (auto& t : callers) t.join();
    LocalNetworkPrompt::trigger();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(sent.wait_for(lock, std::chrono::seconds(10), [&] { return sends > 0; }));
    // Each trigger above has returned, so a second send would already be on its way.
    EXPECT_FALSE(sent.wait_for(lock, std::chrono::milliseconds(200), [&] { return sends > 1; }));
    EXPECT_EQ(sends, 1);
}

}  // namespace
}  // namespace ombry
