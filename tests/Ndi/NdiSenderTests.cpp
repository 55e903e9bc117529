#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "../Audio/AudioTestSupport.hpp"
#include "FakeNdiFixture.hpp"
#include "Platform/Log.hpp"
#include "Render/Audio/AudioTapNode.hpp"
#include "Render/NDIOutput.hpp"

namespace ombry {
namespace {

using test::FakeNdi;
using test::issuesWith;

class NdiSender : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.loaded()) << "fake runtime not built at " FAKE_NDI_DIR;
        IssueLog::shared().clear();
    }
    void TearDown() override { IssueLog::shared().clear(); }

    ManualQueue q;
    ScopedMainQueue scope{q};
    FakeNdi fake;
};

// A "BGRA" frame over `pixels` (w x h x 4 bytes).
NDIWireFrame bgraFrame(const std::vector<uint8_t>& pixels, int w, int h, int fps) {
    return {NDIWire::bgra, w, h, w * 4, pixels.data(), pixels.size(), fps};
}

std::vector<float> ramp(float start) {
    std::vector<float> block(2 * ProgramAudioBus::blockFrames);
    for (size_t i = 0; i < block.size(); ++i) block[i] = start + float(i) / 1000.0f;
    return block;
}

TEST_F(NdiSender, StartsTheSourceNamedAfterTheOutputAndResolvesAnEarlierFailure) {
    IssueLog::shared().report(IssueCode::ndiFailed);
    auto sender = NDISender::create("Program");
    ASSERT_TRUE(sender);
    EXPECT_EQ(sender->sourceName(), "Ombry - Program");
    {
        std::lock_guard lock(fake->mutex);
        EXPECT_EQ(fake->sourceName, "Ombry - Program");
        EXPECT_TRUE(fake->groupsNull);
        EXPECT_FALSE(fake->clockVideo);
        EXPECT_FALSE(fake->clockAudio);
        EXPECT_EQ(fake->instancesAlive, 1);
    }
    q.runPending();
    EXPECT_TRUE(issuesWith(IssueCode::ndiFailed).empty());
    auto& log = dynamic_cast<CapturingLogSink&>(logSink());
    EXPECT_TRUE(log.contains("NDI sender started"));

    sender->stop();
    sender->stop();
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->instancesAlive, 0);
    EXPECT_EQ(fake->callsAfterDestroy, 0);
}

TEST_F(NdiSender, RuntimeThatRefusesReportsOut01WithoutSubject) {
    struct Case {
        const char* what;
        bool initializes, creates;
    };
    for (const Case c : {Case{"initialise fails", false, true}, Case{"source not created", true, false}}) {
        IssueLog::shared().clear();
        {
            std::lock_guard lock(fake->mutex);
            fake->initializeSucceeds = c.initializes;
            fake->createSucceeds = c.creates;
        }
        EXPECT_FALSE(NDISender::create("Program")) << c.what;
        q.runPending();
        const auto issues = issuesWith(IssueCode::ndiFailed);
        ASSERT_EQ(issues.size(), 1u) << c.what;
        EXPECT_EQ(rawValue(issues[0].code), "OUT-01");
        EXPECT_FALSE(issues[0].subject.has_value()) << c.what;
    }
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->instancesAlive, 0);
}

TEST(NdiRuntime, MissingLibraryReportsOut01AndLeavesNoSender) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    IssueLog::shared().clear();
    if (!test::hideRuntime()) GTEST_SKIP() << "an NDI runtime is loadable in this process";
    const auto loaded = ndi::loadRuntime();
    EXPECT_FALSE(loaded.runtime);
    EXPECT_NE(loaded.error.find("libndi.so.6"), std::string::npos) << loaded.error;

    EXPECT_FALSE(NDISender::create("Program"));
    q.runPending();
    const auto issues = issuesWith(IssueCode::ndiFailed);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_FALSE(issues[0].subject.has_value());
    ::unsetenv(ndi::runtimeDirVariable);
    IssueLog::shared().clear();
}

TEST_F(NdiSender, AudioBlockGoesOutPlanarAt48kAndIsDroppedAfterStop) {
    auto sender = NDISender::create("Program");
    ASSERT_TRUE(sender);
    const auto block = ramp(0.25f);
    sender->sendAudio(block.data());
    {
        std::lock_guard lock(fake->mutex);
        ASSERT_EQ(fake->audio.size(), 1u);
        const auto& a = fake->audio[0];
        EXPECT_EQ(a.sampleRate, 48000);
        EXPECT_EQ(a.channels, 2);
        EXPECT_EQ(a.samples, 480);
        EXPECT_EQ(a.channelStride, 1920);
        EXPECT_EQ(a.timecode, INT64_MAX);
        EXPECT_FALSE(a.metadata);
        EXPECT_EQ(a.timestamp, 0);
        EXPECT_EQ(a.samplesPlanar, block);
    }
    sender->stop();
    sender->sendAudio(block.data());
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->audio.size(), 1u);
    EXPECT_EQ(fake->callsAfterDestroy, 0);
}

TEST_F(NdiSender, ProgramAudioBusBlocksReachTheRuntime) {
    auto sender = NDISender::create("Program");
    ASSERT_TRUE(sender);
    auto clock = std::make_shared<test::StepBusClock>();
    ProgramAudioBus bus(clock);
    auto ring = std::make_shared<TapAudioRing>();
    bus.addRing(ring.get(), ring);
    // One block of sound in the ring before the bus starts: its first pass sends it.
    for (int i = 0; i < ProgramAudioBus::blockFrames; ++i) {
        ring->left[size_t(i)] = 0.5f;
        ring->right[size_t(i)] = -0.5f;
    }
    ring->writeIdx.store(ProgramAudioBus::blockFrames);
    bus.setSink(sender);
    clock->step(2);
    ASSERT_TRUE(fake->waitFor([&] { return fake->audio.size() >= 3; }));
    bus.setSink(nullptr);
    sender->stop();

    std::lock_guard lock(fake->mutex);
    const auto& first = fake->audio[0].samplesPlanar;
    ASSERT_EQ(first.size(), 960u);
    EXPECT_EQ(first[0], 0.5f);
    EXPECT_EQ(first[479], 0.5f);
    EXPECT_EQ(first[480], -0.5f);
    EXPECT_EQ(first[959], -0.5f);
    EXPECT_EQ(fake->audio[1].samplesPlanar, std::vector<float>(960, 0.0f));  // the ring ran dry
}

TEST_F(NdiSender, PollsReceiversAtMostOncePerSecond) {
    auto sender = NDISender::create("Program");
    ASSERT_TRUE(sender);
    auto polls = [&] {
        std::lock_guard lock(fake->mutex);
        return fake->connectionPolls;
    };
    auto setConnections = [&](int n) {
        std::lock_guard lock(fake->mutex);
        fake->connections = n;
    };
    EXPECT_FALSE(sender->receiversConnected(1000.0));
    EXPECT_FALSE(sender->receiversConnected(1000.5));
    setConnections(2);
    EXPECT_FALSE(sender->receiversConnected(1000.99));  // the stored answer until a second has passed
    EXPECT_EQ(polls(), 1);
    EXPECT_TRUE(sender->receiversConnected(1001.0));
    EXPECT_EQ(polls(), 2);
    setConnections(0);
    EXPECT_TRUE(sender->receiversConnected(1001.9));
    EXPECT_FALSE(sender->receiversConnected(1002.0));

    sender->stop();
    setConnections(1);
    EXPECT_FALSE(sender->receiversConnected(1010.0));
    EXPECT_EQ(polls(), 3);
}

TEST_F(NdiSender, OneFrameInFlightAndALateFrameAfterStopSendsNothing) {
    auto sender = NDISender::create("Program");
    ASSERT_TRUE(sender);
    std::vector<uint8_t> pixels(4 * 2 * 4, 7);
    const NDIWireFrame frame = bgraFrame(pixels, 4, 2, 30);

    ASSERT_TRUE(sender->tryBeginFrame());
    EXPECT_FALSE(sender->tryBeginFrame());
    sender->sendVideo(frame);
    ASSERT_TRUE(sender->waitIdle());
    {
        std::lock_guard lock(fake->mutex);
        ASSERT_EQ(fake->video.size(), 1u);
        EXPECT_EQ(fake->video[0].bytes, pixels);
    }

    ASSERT_TRUE(sender->tryBeginFrame());
    sender->stop();
    sender->sendVideo(frame);
    EXPECT_FALSE(sender->frameInFlight());
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->video.size(), 1u);
    EXPECT_EQ(fake->callsAfterDestroy, 0);
}

TEST_F(NdiSender, ASendInProgressNeitherStallsTheReceiverPollNorIsCutShortByStop) {
    auto sender = NDISender::create("Program");
    ASSERT_TRUE(sender);
    std::vector<uint8_t> pixels(2 * 2 * 4, 9);
    const NDIWireFrame frame = bgraFrame(pixels, 2, 2, 60);
    auto hold = [&](bool on) {
        {
            std::lock_guard lock(fake->mutex);
            fake->holdVideo = on;
        }
        fake->changed.notify_all();
    };
    {
        std::lock_guard lock(fake->mutex);
        fake->connections = 1;
    }
    hold(true);
    ASSERT_TRUE(sender->tryBeginFrame());
    sender->sendVideo(frame);
    ASSERT_TRUE(fake->waitFor([&] { return fake->videoEntered == 1; }));
    // The runtime is busy sending: the poll keeps its last answer instead of waiting, and asks next time.
    EXPECT_FALSE(sender->receiversConnected(1000.0));
    hold(false);
    ASSERT_TRUE(sender->waitIdle());
    EXPECT_TRUE(sender->receiversConnected(1000.02));

    hold(true);
    ASSERT_TRUE(sender->tryBeginFrame());
    sender->sendVideo(frame);
    ASSERT_TRUE(fake->waitFor([&] { return fake->videoEntered == 2; }));
    std::thread stopper([&] { sender->stop(); });
    hold(false);
    stopper.join();
    EXPECT_TRUE(sender->waitIdle());
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->video.size(), 2u);
    EXPECT_EQ(fake->connectionPolls, 1);
    EXPECT_EQ(fake->instancesAlive, 0);
    EXPECT_EQ(fake->callsAfterDestroy, 0);
}

}  // namespace
}  // namespace ombry
