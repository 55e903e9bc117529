// The player's clock as its threads see it: the audio thread never waits on the main thread's writes,
// and every reader sees states whole, never half of one write and half of another.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Platform/Media/MediaPlayerImpl.hpp"

using ombry::media::detail::Timeline;

namespace {

// Write number i: every field follows from i, so a torn read shows as fields that disagree.
Timeline::State stateNumber(int i) {
    Timeline::State st;
    st.anchorHost = i;
    st.anchorMedia = 2.0 * i;
    st.rate = i % 3;
    st.frozen = i % 2 == 1;
    st.loop = i % 5 == 0;
    st.loopStart = -i;
    st.end = i + 0.5;
    return st;
}

// The write number a state came from, or -1 when its fields are not of one write.
int numberOf(const Timeline::State& st) {
    const int i = int(st.anchorHost);
    const Timeline::State want = stateNumber(i);
    const bool whole = st.anchorHost == want.anchorHost && st.anchorMedia == want.anchorMedia && st.rate == want.rate &&
                       st.frozen == want.frozen && st.loop == want.loop && st.loopStart == want.loopStart && st.end == want.end;
    return whole ? i : -1;
}

}  // namespace

TEST(PlayerClock, TheAudioThreadReadsWhileAWriteIsHalfDone) {
    Timeline tl;
    tl.write(stateNumber(1));
    std::mutex mutex;
    std::condition_variable cv;
    bool go = false, done = false;
    int seen = 0;
    std::thread audio([&] {
        {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return go; });
        }
        const int n = numberOf(tl.readOnAudioThread());
        std::lock_guard lock(mutex);
        seen = n;
        done = true;
        cv.notify_all();
    });
    bool readDuringWrite = false;
    tl.write(stateNumber(2), [&] {
        std::unique_lock lock(mutex);
        go = true;
        cv.notify_all();
        // Failure guard only: a reader that waits for the write to end never finishes within it.
        readDuringWrite = cv.wait_for(lock, std::chrono::seconds(10), [&] { return done; });
    });
    {
        std::unique_lock lock(mutex);
        go = true;
        cv.notify_all();
    }
    audio.join();
    EXPECT_TRUE(readDuringWrite) << "the audio thread waited for the main thread's write";
    EXPECT_EQ(seen, readDuringWrite ? 1 : 2);  // the state before the write, whole
    EXPECT_EQ(numberOf(tl.readOnAudioThread()), 2);
    EXPECT_EQ(numberOf(tl.read()), 2);
}

TEST(PlayerClock, ReadersSeeWholeStatesInOrderUnderConcurrentWrites) {
    Timeline tl;
    tl.write(stateNumber(0));
    constexpr int kWrites = 200000;
    std::atomic<bool> stop{false};
    std::atomic<int> audioTorn{0}, otherTorn{0}, audioBackwards{0}, otherBackwards{0}, audioReads{0}, started{0};
    auto reader = [&](bool audioThread, std::atomic<int>& torn, std::atomic<int>& backwards) {
        int last = 0;
        ++started;
        while (!stop.load(std::memory_order_relaxed)) {
            const int n = numberOf(audioThread ? tl.readOnAudioThread() : tl.read());
            if (n < 0) ++torn;
            else if (n < last) ++backwards;
            else last = n;
            if (audioThread) ++audioReads;
        }
    };
    std::thread audio(reader, true, std::ref(audioTorn), std::ref(audioBackwards));
    std::thread other(reader, false, std::ref(otherTorn), std::ref(otherBackwards));
    while (started.load() < 2) std::this_thread::yield();
    for (int i = 1; i <= kWrites; ++i) tl.write(stateNumber(i));
    // The readers go on until they have seen the last write (bounded: a failure guard only).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (numberOf(tl.read()) != kWrites && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    stop = true;
    audio.join();
    other.join();
    EXPECT_GT(audioReads.load(), 0);
    EXPECT_EQ(audioTorn.load(), 0);
    EXPECT_EQ(otherTorn.load(), 0);
    EXPECT_EQ(audioBackwards.load(), 0);
    EXPECT_EQ(otherBackwards.load(), 0);
    EXPECT_EQ(numberOf(tl.readOnAudioThread()), kWrites);
}
