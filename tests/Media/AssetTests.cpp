// Opening and probing files: the load's deadline, reads that never deliver, and the failures a user can act on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <filesystem>
#include <vector>

#include "MediaFixtures.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/FFmpegSupport.hpp"
#include "Platform/Media/MediaAsset.hpp"
#include "Platform/Media/MediaPlayer.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {

// The manual queue seen through a hook on postAfter, counting the timers that actually ran.
class HookedQueue final : public MainQueue {
public:
    explicit HookedQueue(ManualQueue& q) : q_(q) {}
    std::function<void()> beforeTimer;
    std::atomic<int> timersRun{0};

    void post(Task fn) override { q_.post(std::move(fn)); }
    TaskHandle postAfter(double seconds, Task fn) override {
        if (beforeTimer) beforeTimer();
        return q_.postAfter(seconds, [this, fn = std::move(fn)] {
            ++timersRun;
            fn();
        });
    }
    TaskHandle postAfterBoot(double seconds, Task fn) override { return q_.postAfterBoot(seconds, std::move(fn)); }
    double now() const override { return q_.now(); }
    bool isMainThread() const override { return q_.isMainThread(); }

private:
    ManualQueue& q_;
};

// A pipe with a writer that never writes: every read of it waits forever.
struct SilentPipe {
    std::filesystem::path path;
    int writer = -1;
    explicit SilentPipe(const std::string& name) : path(test::tempDir("pipe") / name) {
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        writer = ::open(path.c_str(), O_RDWR | O_CLOEXEC);  // held open, so readers wait instead of seeing the end
        EXPECT_GE(writer, 0);
    }
    ~SilentPipe() {
        if (writer >= 0) ::close(writer);
    }
};

std::optional<MediaAsset::LoadResult> loadNow(ManualQueue& q, const std::filesystem::path& path, double timeout = 8.0) {
    auto asset = MediaAsset::open(path);
    std::optional<MediaAsset::LoadResult> result;
    asset->load(timeout, [&](const MediaAsset::LoadResult& r) { result = r; });
    EXPECT_TRUE(q.waitUntil([&] { return result.has_value(); }));
    return result;
}

}  // namespace

TEST(MediaAssetLoad, AFastLoadDisarmsItsTimeout) {
    ManualQueue q;
    ScopedMainQueue clock(q);
    HookedQueue hooked(q);
    ScopedMainQueue scope(static_cast<MainQueue&>(hooked));
    const auto clip = test::countingClip();
    for (bool finishFirst : {true, false}) {
        SCOPED_TRACE(finishFirst ? "the open finishes while the timeout is being armed" : "plain");
        auto asset = MediaAsset::open(clip);
        // Lets the open finish before the load's timer is armed: the window where the load thread
        // could see the waiter before its timer exists.
        hooked.beforeTimer = [&] {
            if (finishFirst)
                while (asset->readiness() == Readiness::unknown) std::this_thread::yield();
        };
        std::optional<MediaAsset::LoadResult> result;
        asset->load(8.0, [&](const MediaAsset::LoadResult& r) { result = r; });
        ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }));
        ASSERT_TRUE(result->first.has_value());
        q.advance(10.0);
        EXPECT_EQ(hooked.timersRun, 0) << "the timeout of a finished load ran";
        hooked.beforeTimer = nullptr;
    }
}

TEST(MediaAssetLoad, ManyFastLoadsAnswerOnceEach) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const auto clip = test::countingClip();
    std::vector<std::shared_ptr<MediaAsset>> assets;
    std::vector<int> answers(16, 0);
    for (size_t i = 0; i < answers.size(); ++i) {
        assets.push_back(MediaAsset::open(clip));
        assets.back()->load(8.0, [&answers, i](const MediaAsset::LoadResult& r) { answers[i] += r.first ? 1 : 100; });
    }
    ASSERT_TRUE(q.waitUntil([&] {
        for (int a : answers)
            if (a == 0) return false;
        return true;
    }));
    q.advance(10.0);
    EXPECT_EQ(answers, std::vector<int>(answers.size(), 1));
}

// A file that never delivers (a stalled share, a pipe): the deadline on the virtual clock answers the load
// and stops the open, whose thread then returns.
TEST(MediaAssetLoad, AReadThatNeverDeliversTimesOutAndTheOpenReturns) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    SilentPipe pipe("stalled.mp4");
    auto asset = MediaAsset::open(pipe.path);
    std::optional<MediaAsset::LoadResult> result;
    asset->load(8.0, [&](const MediaAsset::LoadResult& r) { result = r; });
    q.advance(7.9);
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(asset->readiness(), Readiness::unknown);
    q.advance(0.2);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->first.has_value());
    ASSERT_TRUE(result->second.has_value());
    EXPECT_EQ(result->second->code, MediaFailure::Code::timeout);
    EXPECT_EQ(result->second->message, "media load timed out");
    ASSERT_TRUE(q.waitUntil([&] { return asset->readiness() == Readiness::failed; }, 30.0));
    EXPECT_EQ(asset->failure()->code, MediaFailure::Code::cancelled);
}

// The same stall ends by the deadline inside the read itself when the main thread's timer cannot run,
// and by cancel() with a cancellation.
TEST(MediaAssetLoad, AStalledOpenEndsAtItsDeadlineOrWhenCancelled) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    SilentPipe pipe("stalled.mov");
    {
        auto asset = MediaAsset::open(pipe.path);
        std::optional<MediaAsset::LoadResult> result;
        asset->load(0.05, [&](const MediaAsset::LoadResult& r) { result = r; });
        ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }, 30.0));  // virtual time stands still
        ASSERT_TRUE(result->second.has_value());
        EXPECT_EQ(result->second->code, MediaFailure::Code::timeout);
    }
    {
        auto asset = MediaAsset::open(pipe.path);
        asset->cancel();
        ASSERT_TRUE(q.waitUntil([&] { return asset->readiness() == Readiness::failed; }, 30.0));
        ASSERT_TRUE(asset->failure().has_value());
        EXPECT_EQ(asset->failure()->code, MediaFailure::Code::cancelled);
    }
}

// Each way a file can fail to be media gets its own sentence, under the one format code.
TEST(MediaAssetLoad, UnplayableFilesSayWhichCaseTheyAre) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const auto dir = test::tempDir("unplayable");
    const std::string empty = "the file is empty";
    const std::string incomplete = "the file is incomplete \u2014 it may still be copying";
    const std::string notMedia = "the file is not a media file";
    const std::string codec = "the file's codec is not supported";

    std::string text;
    for (int i = 0; i < 200; ++i) text += "The quick brown fox jumps over the lazy dog, line " + std::to_string(i) + "\n";
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919u) >> 3);
    // moov at the end (no faststart): the first half is what a copy still running leaves.
    const auto whole = test::mediaFixture("moov-last.mp4", "-f lavfi -i testsrc=s=320x240:r=30:d=2 -c:v libx264 -pix_fmt yuv420p");
    ASSERT_FALSE(whole.empty());
    const std::string bytes = test::readFile(whole);
    std::string unknownCodec = bytes;
    for (size_t at = unknownCodec.find("avc1"); at != std::string::npos; at = unknownCodec.find("avc1", at))
        unknownCodec.replace(at, 4, "zzzz");
    std::string srt = "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n2\n00:00:01,000 --> 00:00:02,000\nWorld\n";

    struct Case {
        std::string name, content, message;
    } cases[] = {
        {"empty.mp4", "", empty},
        {"copying.mp4", bytes.substr(0, bytes.size() / 2), incomplete},
        {"notes.mp4", text, notMedia},
        {"notes.m4v", text, notMedia},   // a raw video demuxer takes it as a picture of no size
        {"notes.txt", text, notMedia},   // a text demuxer draws it as a picture
        {"notes.flac", text, notMedia},  // a sound stream of no rate
        {"noise.mp4", noise, notMedia},
        {"captions.srt", srt, notMedia},  // subtitles only
        {"codec.mp4", unknownCodec, codec},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(dir / c.name, c.content);
        const auto result = loadNow(q, dir / c.name);
        ASSERT_TRUE(result.has_value());
        EXPECT_FALSE(result->first.has_value());
        ASSERT_TRUE(result->second.has_value());
        EXPECT_EQ(result->second->code, MediaFailure::Code::format);
        EXPECT_EQ(result->second->message, c.message);
    }
}

// A file that stops delivering after the player opened it (a share that hung mid-clip): stopping the player
// ends its demux thread's waiting read, so the owner is not held up.
TEST(MediaPlayerStop, AStopWhileTheDemuxReadWaitsReturns) {
    test::PlayerRig rig;
    SilentPipe pipe("stalls.y4m");
    // The asset's own open is stopped first, so that the player is the pipe's only reader.
    auto asset = MediaAsset::open(pipe.path);
    asset->cancel();
    ASSERT_TRUE(rig.q.waitUntil([&] { return asset->readiness() == Readiness::failed; }));
    // A third of a second of pictures, then nothing: the player opens, reads them all and waits for more.
    const auto part = test::mediaFixture("third.y4m", "-f lavfi -i testsrc=s=64x48:r=30:d=0.34 -pix_fmt yuv420p");
    ASSERT_FALSE(part.empty());
    const std::string bytes = test::readFile(part);
    ASSERT_EQ(::write(pipe.writer, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    auto player = std::make_unique<MediaPlayer>(asset, PlayerOptions{.output = rig.out});
    ASSERT_TRUE(rig.q.waitUntil([&] { return player->readiness() != Readiness::unknown; }));
    ASSERT_EQ(player->readiness(), Readiness::ready);

    // Failure guard only: a stop that hangs gets the pipe closed, so the test fails instead of hanging.
    std::promise<void> stopped;
    std::atomic<bool> hung{false};
    std::thread guard([&, done = stopped.get_future()] {
        if (done.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
            hung = true;
            ::close(pipe.writer);
            pipe.writer = -1;
        }
    });
    player.reset();
    stopped.set_value();
    guard.join();
    EXPECT_FALSE(hung) << "stopping the player waited for the stalled read";
}

// Containers whose headers describe their streams open with a short look at their first packets, not the
// seconds of analysis a raw stream may need: here the sound starts 3 s in, behind some 5 MB of pictures.
TEST(MediaAssetOpen, HeaderContainersOpenWithAShortLookAndRawStreamsStillOpen) {
    const auto late = test::mediaFixture("late-sound.mov", "-f lavfi -i testsrc2=s=1280x720:r=30:d=4 -itsoffset 3 "
                                                           "-f lavfi -i sine=r=48000:d=1 -c:v libx264 -preset ultrafast "
                                                           "-qp 0 -pix_fmt yuv420p -c:a pcm_s16le");
    const auto raw = test::mediaFixture("raw.h264", "-f lavfi -i testsrc=s=64x48:r=30:d=2 -c:v libx264 -pix_fmt yuv420p");
    ASSERT_FALSE(late.empty());
    ASSERT_FALSE(raw.empty());
    MediaFailure failure;
    auto fmt = ff::openInput(late, nullptr, failure);
    ASSERT_TRUE(fmt) << failure.message;
    EXPECT_LT(fmt->pb->bytes_read, 3 << 20);

    fmt = ff::openInput(raw, nullptr, failure);
    ASSERT_TRUE(fmt) << failure.message;
    ASSERT_EQ(fmt->nb_streams, 1u);
    EXPECT_EQ(fmt->streams[0]->codecpar->width, 64);
    EXPECT_EQ(fmt->streams[0]->codecpar->format, AV_PIX_FMT_YUV420P);
}
