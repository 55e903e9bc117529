#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "Platform/MainQueue.hpp"
#include "Render/VsyncFrameClock.hpp"

namespace ombry {
namespace {

class VsyncFrameClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock.start([this](double now) { ticks.push_back(now); });
    }
    // `n` vertical blanks of `source` one screen period apart, each followed by the main queue running.
    void blanks(const void* source, int n) {
        for (int i = 0; i < n; ++i) {
            queue.advance(1.0 / 60);
            clock.signal()->vblank(source);
            queue.runPending();
        }
    }

    ManualQueue queue;
    ScopedMainQueue scope{queue};
    VsyncFrameClock clock{60};
    std::vector<double> ticks;
    int windowA = 0, windowB = 0;
};

TEST_F(VsyncFrameClockTest, WithoutAWindowTheTimerTicksAtTheRefreshRate) {
    queue.advance(1.0);
    EXPECT_NEAR(double(ticks.size()), 60, 1);
    EXPECT_EQ(clock.vsyncTicks(), 0u);
}

TEST_F(VsyncFrameClockTest, TheFirstWindowToSignalPacesAndTheTimerStaysQuiet) {
    blanks(&windowA, 30);
    const auto timed = clock.timerTicks();
    blanks(&windowA, 60);
    EXPECT_EQ(clock.timerTicks(), timed);
    EXPECT_EQ(clock.vsyncTicks(), 90u);

    // Another window's blanks are ignored while the first one paces.
    clock.signal()->vblank(&windowB);
    queue.runPending();
    EXPECT_EQ(clock.vsyncTicks(), 90u);

    // Released: the other window takes over at its next blank.
    clock.signal()->release(&windowA);
    blanks(&windowB, 3);
    EXPECT_EQ(clock.vsyncTicks(), 93u);
}

TEST_F(VsyncFrameClockTest, BlanksArrivingFasterThanTheMainThreadRunsGiveOneTick) {
    std::thread presenter([&] {
        for (int i = 0; i < 5; ++i) clock.signal()->vblank(&windowA);
    });
    presenter.join();
    queue.runPending();
    EXPECT_EQ(clock.vsyncTicks(), 1u);
}

TEST_F(VsyncFrameClockTest, TheTimerTakesOverWithinAFrameAndAHalfWhenBlanksStop) {
    blanks(&windowA, 10);
    const auto before = ticks.size();
    queue.advance(1.5 / 60 + 1.0 / 60);
    EXPECT_GE(ticks.size(), before + 1);
    queue.advance(1.0);
    EXPECT_NEAR(double(clock.timerTicks()), 60, 3);
}

TEST_F(VsyncFrameClockTest, StoppedClockTicksNoMore) {
    clock.stop();
    clock.signal()->vblank(&windowA);
    queue.advance(1.0);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(VsyncFrameClockTest, WindowsSignalOnIntoAClockThatReplacesTheOldOne) {
    std::shared_ptr<VsyncSignal> signal = clock.signal();
    auto old = std::make_unique<VsyncFrameClock>(60, signal);
    int oldTicks = 0;
    old->start([&](double) { ++oldTicks; });
    signal->vblank(&windowA);
    // The renderer swaps its clock while that blank waits on the main queue.
    old.reset();
    clock.stop();
    VsyncFrameClock replacement(60, signal);
    std::vector<double> newTicks;
    replacement.start([&](double now) { newTicks.push_back(now); });
    queue.runPending();
    EXPECT_EQ(oldTicks, 0);
    EXPECT_EQ(replacement.vsyncTicks(), 1u);

    // The window that paced goes on pacing the new clock, and its timer stays quiet.
    for (int i = 0; i < 30; ++i) {
        queue.advance(1.0 / 60);
        signal->vblank(&windowA);
        queue.runPending();
    }
    EXPECT_EQ(replacement.vsyncTicks(), 31u);
    EXPECT_EQ(replacement.timerTicks(), 0u);
    EXPECT_EQ(newTicks.size(), 31u);
}

TEST_F(VsyncFrameClockTest, BlanksIntoASignalWithoutAClockDoNothing) {
    auto signal = VsyncSignal::create();
    {
        VsyncFrameClock gone(60, signal);
        gone.start([](double) { FAIL() << "a destroyed clock ticked"; });
        signal->vblank(&windowA);
    }
    signal->vblank(&windowA);
    queue.runPending();
    signal->release(&windowA);
}

}  // namespace
}  // namespace ombry
