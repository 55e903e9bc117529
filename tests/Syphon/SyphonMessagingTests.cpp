#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Ipc/ThreadName.hpp"
#include "Platform/Uuid.hpp"
#include "Syphon/SyphonDispatch.hpp"
#include "Syphon/SyphonMessaging.hpp"
#include "SyphonTestClient.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace std::chrono_literals;
using test::eventually;

namespace {

// Each test gets its own session folder, so tests never see each other's ports.
class SyphonMessaging : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", test::tempDir("rt").c_str(), 1); }
};

// A latch that test threads wait on with a bound, so a fault fails the test instead of hanging it.
struct Signal {
    std::mutex m;
    std::condition_variable cv;
    int count = 0;
    void notify() {
        std::lock_guard l(m);
        ++count;
        cv.notify_all();  // under the lock: the waiter may destroy the signal as soon as it wakes
    }
    bool waitFor(int n, std::chrono::milliseconds t = 5s) {
        std::unique_lock l(m);
        return cv.wait_for(l, t, [&] { return count >= n; });
    }
};

std::vector<int32_t> drainTypes(SyphonMessageQueue& q) {
    std::vector<int32_t> types;
    SyphonQueuedMessage m;
    while (q.copyAndDequeue(m)) types.push_back(m.type);
    return types;
}

}  // namespace

TEST(SyphonMessageQueue, KeepsOnlyTheNewestMessageOfEachTypeInQueueOrder) {
    SyphonMessageQueue q;
    q.queue("\"first\"", 1);
    q.queue("2", 2);
    q.queue("\"second\"", 1);
    SyphonQueuedMessage m;
    ASSERT_TRUE(q.copyAndDequeue(m));
    EXPECT_EQ(m.type, 2);
    ASSERT_TRUE(q.copyAndDequeue(m));
    EXPECT_EQ(m.type, 1);
    EXPECT_EQ(m.data, "\"second\"");
    EXPECT_FALSE(q.copyAndDequeue(m));

    // A burst collapses, and reused members carry nothing of their past.
    for (int i = 0; i < 100; ++i) q.queue(i % 2 ? "" : "x", i % 3);
    EXPECT_EQ(drainTypes(q), (std::vector<int32_t>{1, 2, 0}));
    q.queue("", 7);
    ASSERT_TRUE(q.copyAndDequeue(m));
    EXPECT_TRUE(m.data.empty());
    EXPECT_FALSE(m.attachment);
}

TEST(SyphonPayload, DecodesOnlyAllowedKinds) {
    struct Case {
        SyphonPayload payload;
        SyphonPayloadClasses allowed;
        bool decodes;
    } cases[] = {
        {nlohmann::json("client.A"), syphonString, true},
        {nlohmann::json(42u), syphonString, false},
        {nlohmann::json(42u), syphonNumber, true},
        {nlohmann::json::array({"a", 1}), syphonArray | syphonString, false},
        {nlohmann::json::array({"a", 1}), syphonArray | syphonString | syphonNumber, true},
        {nlohmann::json{{"k", "v"}}, syphonString, false},
    };
    for (const auto& c : cases) {
        auto decoded = syphonDecodePayload(syphonEncodePayload(c.payload), c.allowed);
        EXPECT_EQ(decoded.has_value(), c.decodes) << c.payload->dump();
        if (c.decodes) {
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(*decoded, *c.payload);
        }
    }
    EXPECT_EQ(syphonEncodePayload(std::nullopt), "");
    EXPECT_FALSE(syphonDecodePayload("", ~0u));
    EXPECT_FALSE(syphonDecodePayload("{not json", ~0u));
}

TEST_F(SyphonMessaging, FactoriesRefuseOtherProtocolsMissingPortsAndTakenNames) {
    auto handler = [](const SyphonPayload&, int32_t, UniqueFd) {};
    EXPECT_FALSE(SyphonMessageReceiver::create("p", "SyphonMessagingProtocolOther", syphonString, handler));
    EXPECT_FALSE(SyphonMessageReceiver::create("p", SyphonMessagingProtocolCFMessage, syphonString, nullptr));
    EXPECT_FALSE(SyphonMessageSender::create("nobody", SyphonMessagingProtocolCFMessage));

    auto receiver = SyphonMessageReceiver::create("p", SyphonMessagingProtocolCFMessage, syphonString, handler);
    ASSERT_TRUE(receiver);
    EXPECT_FALSE(SyphonMessageReceiver::create("p", SyphonMessagingProtocolCFMessage, syphonString, handler));
    EXPECT_FALSE(SyphonMessageSender::create("p", "SyphonMessagingProtocolOther"));
    EXPECT_TRUE(SyphonMessageSender::create("p", SyphonMessagingProtocolCFMessage));
    receiver->invalidate();
    // The name is free again once its receiver is gone.
    EXPECT_TRUE(SyphonMessageReceiver::create("p", SyphonMessagingProtocolCFMessage, syphonString, handler));
}

TEST_F(SyphonMessaging, DeliversInOrderOnTheSharedReceiveQueue) {
    Signal got;
    std::mutex m;
    std::vector<std::pair<int32_t, SyphonPayload>> received;
    std::string threadName;
    auto receiver = SyphonMessageReceiver::create(
        "inbox", SyphonMessagingProtocolCFMessage, syphonString,
        [&](const SyphonPayload& payload, int32_t type, UniqueFd) {
            {
                std::lock_guard l(m);
                received.emplace_back(type, payload);
                threadName = currentThreadName();
            }
            got.notify();
        });
    ASSERT_TRUE(receiver);
    auto sender = SyphonMessageSender::create("inbox", SyphonMessagingProtocolCFMessage);
    ASSERT_TRUE(sender);
    sender->send(nlohmann::json("hello"), 5);
    ASSERT_TRUE(got.waitFor(1));
    sender->send(nlohmann::json(7), 6);  // a number is not allowed here: handed on as none
    sender->send(std::nullopt, -3);
    ASSERT_TRUE(got.waitFor(3));
    std::lock_guard l(m);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].first, 5);
    EXPECT_EQ(*received[0].second, "hello");
    EXPECT_EQ(received[1].first, 6);
    EXPECT_FALSE(received[1].second);
    EXPECT_EQ(received[2].first, -3);
    EXPECT_FALSE(received[2].second);
    EXPECT_EQ(threadName, syphonMessagingQueueLabel);
}

TEST_F(SyphonMessaging, SenderToAVanishedPortIsInvalidatedOnce) {
    auto handler = [](const SyphonPayload&, int32_t, UniqueFd) {};
    auto receiver = SyphonMessageReceiver::create("gone", SyphonMessagingProtocolCFMessage, syphonString, handler);
    Signal invalidated;
    auto sender = SyphonMessageSender::create("gone", SyphonMessagingProtocolCFMessage, [&] { invalidated.notify(); });
    ASSERT_TRUE(sender);
    EXPECT_TRUE(sender->isValid());
    receiver.reset();
    sender->send(std::nullopt, 1);
    ASSERT_TRUE(invalidated.waitFor(1));
    EXPECT_FALSE(sender->isValid());
    sender->send(std::nullopt, 1);
    sender->send(std::nullopt, 2);
    // Delivery is asynchronous with nothing to wait on: a second call would come within this window.
    EXPECT_FALSE(invalidated.waitFor(2, 1s));
}

TEST(SyphonDispatch, FiresDuringARunEachGetARun) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    Signal started, runs;
    SyphonDispatchSource* source = SyphonDispatchSourceCreate([&] {
        started.notify();
        std::unique_lock l(m);
        cv.wait_for(l, 5s, [&] { return release; });
        l.unlock();
        runs.notify();
    });
    ASSERT_TRUE(source);
    EXPECT_FALSE(SyphonDispatchSourceCreate(nullptr));
    SyphonDispatchSourceFire(source);
    ASSERT_TRUE(started.waitFor(1));
    SyphonDispatchSourceFire(source);
    SyphonDispatchSourceFire(source);
    {
        std::lock_guard l(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(runs.waitFor(3));
    // The completion runs once the last run holding the source has finished: no run can follow it.
    Signal completed;
    SyphonDispatchSourceSetCompletionBlock(source, [&] { completed.notify(); });
    SyphonDispatchSourceRelease(source);
    ASSERT_TRUE(completed.waitFor(1));
    EXPECT_EQ(runs.count, 3);
}

TEST(SyphonDispatch, CompletionRunsOnAChannelNotOnTheReleasingThread) {
    Signal done;
    std::string name;
    std::thread::id where;
    SyphonDispatchSource* source = SyphonDispatchSourceCreate([] {});
    SyphonDispatchSourceSetCompletionBlock(source, [&] {
        name = currentThreadName();
        where = std::this_thread::get_id();
        done.notify();
    });
    SyphonDispatchSourceRelease(source);
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_EQ(name, syphonDispatchThreadName);
    EXPECT_NE(where, std::this_thread::get_id());
}

TEST(SyphonDispatch, KeepsNoMoreChannelsThanSources) {
    const auto before = syphonDispatchCounts();
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    Signal started;
    std::vector<SyphonDispatchSource*> sources;
    for (int i = 0; i < 5; ++i) {
        sources.push_back(SyphonDispatchSourceCreate([&] {
            started.notify();
            std::unique_lock l(m);
            cv.wait_for(l, 5s, [&] { return release; });
        }));
        SyphonDispatchSourceFire(sources.back());
    }
    // Five sources running at once need five channels.
    ASSERT_TRUE(started.waitFor(5));
    EXPECT_GE(syphonDispatchCounts().channels, 5);
    {
        std::lock_guard l(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(eventually([&] { return syphonDispatchCounts().running == before.running; }));
    SyphonDispatchSourceRelease(sources[0]);
    SyphonDispatchSourceRelease(sources[1]);
    auto after = syphonDispatchCounts();
    EXPECT_EQ(after.sources, before.sources + 3);
    EXPECT_LE(after.channels, after.sources);
    for (int i = 2; i < 5; ++i) SyphonDispatchSourceRelease(sources[i]);
    EXPECT_LE(syphonDispatchCounts().channels, syphonDispatchCounts().sources);
}
