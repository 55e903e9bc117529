#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <thread>

#include "MediaFixtures.hpp"
#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/FrameStore.hpp"
#include "Platform/Media/MediaAsset.hpp"
#include "Platform/Media/MediaPlayer.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {

constexpr double kFrame = 1.0 / 30;

using test::PlayerRig;

AssetInfo loadInfo(ManualQueue& q, const std::filesystem::path& path, std::optional<MediaFailure>* failure = nullptr) {
    auto asset = MediaAsset::open(path);
    std::optional<MediaAsset::LoadResult> result;
    asset->load(8.0, [&](const MediaAsset::LoadResult& r) { result = r; });
    EXPECT_TRUE(q.waitUntil([&] { return result.has_value(); }));
    if (failure && result) *failure = result->second;
    return result && result->first ? *result->first : AssetInfo{};
}

}  // namespace

TEST(MediaAsset, ReportsDurationAndPlayabilityOfCommonFormats) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    struct Case {
        std::string name, args;
        bool video, audio;
        int rate;
    } cases[] = {
        {"av.mp4", "-f lavfi -i testsrc=s=64x48:r=30:d=2 -f lavfi -i sine=f=440:r=48000:d=2 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest", true, true, 48000},
        {"pcm24.wav", "-f lavfi -i sine=f=440:r=44100:d=2 -c:a pcm_s24le", false, true, 44100},
        {"tone.mp3", "-f lavfi -i sine=f=440:r=44100:d=2 -c:a libmp3lame", false, true, 44100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = test::mediaFixture(c.name, c.args);
        ASSERT_FALSE(path.empty());
        const AssetInfo info = loadInfo(q, path);
        EXPECT_TRUE(info.playable);
        EXPECT_NEAR(info.duration, 2.0, 0.1);
        EXPECT_EQ(info.hasVideo, c.video);
        EXPECT_EQ(info.hasAudio, c.audio);
        EXPECT_EQ(info.sampleRate, c.rate);
    }
}

TEST(MediaAsset, BadFilesFailCleanly) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const auto dir = test::tempDir("bad");
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919u) >> 3);
    test::writeFile(dir / "noise.mp4", noise);
    // moov at the end: cut off, the file has no index.
    const auto whole = test::mediaFixture("whole.mp4", "-f lavfi -i testsrc=s=64x48:r=30:d=2 -c:v libx264 -pix_fmt yuv420p");
    ASSERT_FALSE(whole.empty());
    const std::string bytes = test::readFile(whole);
    test::writeFile(dir / "cut.mp4", bytes.substr(0, bytes.size() / 2));

    for (auto [path, code] : {std::pair{dir / "noise.mp4", MediaFailure::Code::format},
                              std::pair{dir / "cut.mp4", MediaFailure::Code::format},
                              std::pair{dir / "gone.mp4", MediaFailure::Code::missing}}) {
        SCOPED_TRACE(path.string());
        std::optional<MediaFailure> failure;
        const AssetInfo info = loadInfo(q, path, &failure);
        EXPECT_FALSE(info.playable);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->code, code);
        EXPECT_FALSE(failure->message.empty());
    }
}

TEST(MediaAsset, TruncatedDataPlaysWhatIsThereAndEnds) {
    PlayerRig rig;
    const auto fast = test::mediaFixture("fast.mp4", "-f lavfi -i testsrc=s=64x48:r=30:d=2 -c:v libx264 -pix_fmt yuv420p -movflags +faststart");
    ASSERT_FALSE(fast.empty());
    const std::string bytes = test::readFile(fast);
    const auto cut = test::tempDir("cut") / "half.mp4";
    test::writeFile(cut, bytes.substr(0, bytes.size() / 2));
    auto p = rig.open(cut);
    ASSERT_EQ(p->readiness(), Readiness::ready);
    ASSERT_TRUE(rig.preroll(*p));
    int ends = 0;
    p->onEndOfItem = [&] { ++ends; };
    p->play();
    for (int i = 0; i < 80; ++i) {
        rig.q.advance(kFrame);
        p->latestFrame(appClock().monotonic());
    }
    EXPECT_EQ(ends, 1);
}

TEST(MediaAsset, CancelledLoadNeverAnswers) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    auto asset = MediaAsset::open(test::countingClip());
    bool called = false, later = false;
    asset->load(8.0, [&](const MediaAsset::LoadResult&) { called = true; }).cancel();
    // A load asked for after the cancelled one answers no sooner than it would have.
    asset->load(8.0, [&](const MediaAsset::LoadResult&) { later = true; });
    ASSERT_TRUE(q.waitUntil([&] { return later; }));
    q.advance(10);
    EXPECT_FALSE(called);
}

TEST(MediaPlayer, ExactSeekLandsOnTheFrameOnShowAtThatTime) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip());
    ASSERT_EQ(p->readiness(), Readiness::ready);
    EXPECT_NEAR(p->duration(), 2.0, 0.01);
    for (auto [t, n] : {std::pair{1.0, 30}, {0.51, 15}, {0.0, 0}, {1.99, 59}, {0.2, 6}, {1.7, 51}}) {
        SCOPED_TRACE(t);
        bool finished = false;
        p->seek(t, [&](bool f) { finished = f; });
        ASSERT_TRUE(rig.q.waitUntil([&] { return finished; }));
        EXPECT_EQ(rig.shown(*p), n);
        EXPECT_NEAR(p->currentTime(), t, 1e-9);
    }
}

TEST(MediaPlayer, ASupersededSeekCompletesUnfinished) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip());
    std::vector<bool> results;
    p->seek(0.5, [&](bool f) { results.push_back(f); });
    p->seek(1.5, [&](bool f) { results.push_back(f); });
    ASSERT_TRUE(rig.q.waitUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results, (std::vector<bool>{false, true}));
    EXPECT_EQ(rig.shown(*p), 45);
}

TEST(MediaPlayer, ATornDownPlayersPictureMemoryGoesToTheNextButAFrameStillHeldKeepsItsOwn) {
    PlayerRig rig;
    FrameStore& store = FrameStore::shared();
    auto first = rig.open(test::countingClip());
    ASSERT_TRUE(rig.preroll(*first));
    first->play();
    rig.q.advance(5 * kFrame);
    ASSERT_TRUE(rig.frameIs(*first, 5));
    const auto held = first->latestFrame(appClock().monotonic());
    const std::vector<uint8_t> pixels = held->storage;
    const size_t before = store.heldBytes();
    first.reset();
    ASSERT_TRUE(MediaPlayer::awaitTeardowns(10));
    const size_t handed = store.heldBytes();
    EXPECT_GT(handed, before);
    // The next player decodes into that memory; the frame a consumer kept is not part of it.
    auto second = rig.open(test::countingClip());
    ASSERT_TRUE(rig.preroll(*second));
    second->play();
    for (int n = 0; n < 10; ++n) {
        ASSERT_TRUE(rig.frameIs(*second, n));
        rig.q.advance(kFrame);
    }
    EXPECT_LT(store.heldBytes(), handed);
    EXPECT_EQ(held->storage, pixels);
    EXPECT_EQ(test::frameNumber(*held), 5);
}

TEST(FrameStore, HandsOutTheSmallestBufferThatFitsAndHoldsNoMoreThanItsLimit) {
    FrameStore store;
    const size_t mib = size_t(1) << 20;
    for (size_t n : {20, 8, 12, 30}) store.give(std::vector<uint8_t>(n * mib));
    EXPECT_EQ(store.heldBytes(), 40 * mib);  // 30 MiB more would pass the limit
    EXPECT_EQ(store.take(9 * mib).size(), 12 * mib);
    EXPECT_TRUE(store.take(21 * mib).empty());
    EXPECT_EQ(store.heldBytes(), 28 * mib);
}

TEST(MediaPlayer, PlaysEveryFrameInOrderOnTheVirtualClock) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip());
    ASSERT_TRUE(rig.preroll(*p));
    p->play();
    for (int n = 0; n < 60; ++n) {
        ASSERT_TRUE(rig.frameIs(*p, n)) << "frame " << n << " shown " << rig.shown(*p);
        rig.q.advance(kFrame);
    }
    EXPECT_EQ(p->framesDropped(), 0u);
}

TEST(MediaPlayer, EndTrimStopsPlaybackThereOnce) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip(), {.forwardEndTime = 0.5});
    EXPECT_NEAR(p->endTime(), 0.5, 1e-9);
    ASSERT_TRUE(rig.preroll(*p));
    int ends = 0;
    p->onEndOfItem = [&] { ++ends; };
    // The host also watches the trim with a boundary observer: both may fire, the end notice only once.
    int boundary = 0;
    p->addBoundaryObserver({0.5}, [&] { ++boundary; });
    p->play();
    for (int i = 0; i < 30; ++i) {
        p->latestFrame(appClock().monotonic());
        rig.q.advance(kFrame);
    }
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(boundary, 1);
    EXPECT_EQ(p->rate(), 0.0);
    EXPECT_NEAR(p->currentTime(), 0.5, 1e-9);
    EXPECT_TRUE(rig.frameIs(*p, 14)) << rig.shown(*p);
}

TEST(MediaPlayer, NoActionAtEndHoldsTheEndAndKeepsTheRate) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip(1.0));
    p->setActionAtEnd(ActionAtEnd::none);
    ASSERT_TRUE(rig.preroll(*p));
    int ends = 0;
    p->onEndOfItem = [&] { ++ends; };
    p->play();
    rig.q.advance(1.5);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(p->rate(), 1.0);
    EXPECT_NEAR(p->currentTime(), p->endTime(), 1e-9);
}

// A playlist that wraps round to the clip that just ended seeks it to the start and plays it again, after
// the whole file has been read (the end reached) or while its last frames are still to show.
TEST(MediaPlayer, ASeekToTheStartAfterTheWholeFileWasReadPlaysAgain) {
    for (double at : {1.2, 0.7}) {
        SCOPED_TRACE(at);
        PlayerRig rig;
        auto p = rig.open(test::countingClip(1.0));
        p->setActionAtEnd(ActionAtEnd::pause);
        ASSERT_TRUE(rig.preroll(*p));
        p->play();
        for (double t = 0; t < at; t += kFrame) {
            p->latestFrame(appClock().monotonic());
            rig.q.advance(kFrame);
        }
        bool sought = false;
        p->seek(0, [&](bool finished) { sought = finished; });
        p->play();
        ASSERT_TRUE(rig.q.waitUntil([&] { return sought; }, 10.0));
        for (int n = 0; n < 10; ++n) {
            ASSERT_TRUE(rig.frameIs(*p, n)) << "frame " << n << " shown " << rig.shown(*p);
            rig.q.advance(kFrame);
        }
    }
}

TEST(MediaPlayer, LoopRestartsAtTheLoopStartWithoutMissingAFrame) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip(1.0));
    ASSERT_NEAR(p->endTime(), 1.0, 1e-6);
    const test::LoopRun run = test::loopCountingClip(rig, *p);
    ASSERT_TRUE(run.everyFrame);
    EXPECT_EQ(run.ends, 0);
    EXPECT_EQ(run.passes, 3);
    EXPECT_EQ(p->framesDropped(), 0u);
    EXPECT_NEAR(p->currentTime(), 0.2, 1e-6);
}

TEST(MediaPlayer, PeriodicAndBoundaryObserversFireWhilePlaying) {
    PlayerRig rig;
    auto p = rig.open(test::countingClip());
    ASSERT_TRUE(rig.preroll(*p));
    std::vector<double> ticks;
    auto periodic = p->addPeriodicObserver(0.25, [&](double t) { ticks.push_back(t); });
    std::vector<double> crossed;
    p->addBoundaryObserver({0.5, 1.5}, [&] { crossed.push_back(p->currentTime()); });
    p->play();
    rig.q.advance(1.0);
    ASSERT_EQ(ticks.size(), 4u);
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], 0.25 * double(i + 1), 1e-6);
    ASSERT_EQ(crossed.size(), 1u);
    EXPECT_NEAR(crossed[0], 0.5, 1e-6);
    p->pause();
    rig.q.advance(1.0);
    EXPECT_EQ(ticks.size(), 4u);  // no ticks while paused
    p->removeObserver(periodic);
    p->play();
    rig.q.advance(0.6);
    EXPECT_EQ(ticks.size(), 4u);
    EXPECT_EQ(crossed.size(), 2u);
}

TEST(MediaPlayer, OutputSizeIsRespectedButNeverUpscaled) {
    PlayerRig rig;
    auto big = rig.open(test::countingClip(), {.maxWidth = 32, .maxHeight = 32});
    ASSERT_TRUE(rig.preroll(*big));
    auto f = big->latestFrame(appClock().monotonic());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 32);
    EXPECT_EQ(f->height, 24);
    auto up = rig.open(test::countingClip(), {.outputWidth = 640, .outputHeight = 480});
    ASSERT_TRUE(rig.preroll(*up));
    f = up->latestFrame(appClock().monotonic());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 64);
    EXPECT_EQ(f->height, 48);
    EXPECT_EQ(f->format, VideoPixelFormat::yuv420p);
}

TEST(MediaPlayer, AlphaSurvivesDecoding) {
    PlayerRig rig;
    const std::string src = "-f lavfi -i \"color=c=red@0.5:s=64x48:r=30:d=1,format=rgba\" ";
    struct Case {
        std::string name, args;
    } cases[] = {
        {"alpha.webm", src + "-c:v libvpx-vp9 -pix_fmt yuva420p -auto-alt-ref 0"},
        {"alpha.mov", src + "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le"},
        {"png.mov", src + "-c:v png -pix_fmt rgba"},
        {"rle.mov", src + "-c:v qtrle -pix_fmt argb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = test::mediaFixture(c.name, c.args);
        ASSERT_FALSE(path.empty());
        auto p = rig.open(path);
        ASSERT_EQ(p->readiness(), Readiness::ready);
        ASSERT_TRUE(rig.preroll(*p));
        auto f = p->latestFrame(appClock().monotonic());
        ASSERT_TRUE(f);
        EXPECT_TRUE(f->format == VideoPixelFormat::yuva420p || f->format == VideoPixelFormat::bgra);
        EXPECT_NEAR(test::centreAlpha(*f), 128, 3);
    }
}

TEST(MediaPlayer, DeliverySizeRule) {
    EXPECT_EQ(fittedDeliverySize(3840, 2160, 1920, 1080), (PixelSize{1920, 1080}));
    EXPECT_EQ(fittedDeliverySize(1000, 700, 333, 333), (PixelSize{332, 232}));
    EXPECT_EQ(fittedDeliverySize(4000, 3, 1920, 1080), (PixelSize{1920, 2}));
    EXPECT_FALSE(fittedDeliverySize(1280, 720, 1920, 1080));
    EXPECT_FALSE(fittedDeliverySize(0, 720, 1920, 1080));
}

namespace {
struct RecordingProcessor : AudioProcessor {
    AudioFormat format;
    std::atomic<int> prepared{0};
    std::atomic<long> frames{0};
    std::atomic<float> peak{0};
    std::atomic<bool> badShape{false};
    void prepare(const AudioFormat& f) override {
        format = f;
        ++prepared;
    }
    void process(AudioBlock& b) override {
        if (b.channels != format.channels || !b.interleaved || b.frames <= 0) badShape = true;
        float pk = peak;
        for (int i = 0; i < b.frames * b.channels; ++i) pk = std::max(pk, std::abs(b.planes[0][i]));
        peak = pk;
        frames += b.frames;
    }
};
}  // namespace

TEST(MediaPlayer, ProcessorSeesFloatBlocksAtTheFilesOwnRate) {
    PlayerRig rig;
    for (auto [name, args, rate] :
         {std::tuple{"p24.wav", "-f lavfi -i sine=f=440:r=44100:d=2 -c:a pcm_s24le", 44100},
          std::tuple{"m.mp3", "-f lavfi -i sine=f=440:r=32000:d=2 -c:a libmp3lame", 32000}}) {
        SCOPED_TRACE(name);
        auto proc = std::make_shared<RecordingProcessor>();
        auto p = rig.open(test::mediaFixture(name, args), {.processor = proc});
        ASSERT_EQ(p->readiness(), Readiness::ready);
        EXPECT_EQ(proc->prepared, 1);
        EXPECT_EQ(proc->format.sampleRate, rate);
        EXPECT_TRUE(proc->format.isFloat32);
        ASSERT_TRUE(rig.preroll(*p));
        p->play();
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(rig.q.waitUntil([&] { return p->bufferedAudio() > 0.12; }));
            rig.q.advance(0.05);
            rig.out->pump();
        }
        // Half a second played: that many frames at the file's rate, give or take a block.
        EXPECT_NEAR(double(proc->frames), 0.5 * rate, 1100);
        EXPECT_GT(proc->peak, 0.1f);  // lavfi's sine has an amplitude of 1/8
        EXPECT_LE(proc->peak, 1.01f);
        EXPECT_FALSE(proc->badShape);
    }
}

namespace {
// Everything a null output mixed, from its first block on (left channel).
struct MixRecording {
    std::vector<float> left;
    double start = -1;
    AudioOutput::MixObserver observer() {
        return [this](const float* mix, int frames, double startTime) {
            if (start < 0) start = startTime;
            for (int i = 0; i < frames; ++i) left.push_back(mix[size_t(i) * AudioOutput::kChannels]);
        };
    }
    size_t indexAt(double time) const { return size_t(std::llround((time - start) * AudioOutput::kRate)); }
};

// 1 s at the output's rate, so the mix carries the file's samples unchanged: 0.5 cos(2 pi 1000 t).
std::filesystem::path cosineClip() {
    return test::mediaFixture("cos48k.wav",
                              "-f lavfi -i \"aevalsrc=0.5*cos(2*PI*1000*t)|0.5*cos(2*PI*1000*t):s=48000:d=1\" -c:a pcm_f32le");
}
float cosineAt(size_t i) { return float(0.5 * std::cos(2 * M_PI * 1000 * double(i) / AudioOutput::kRate)); }

// Opens and prerolls a player on `rig`, waits until `seconds` of sound are decoded, and moves to the
// middle of one of the output's 10 ms blocks, where a start must not be rounded to the block.
std::unique_ptr<MediaPlayer> bufferedPlayer(PlayerRig& rig, const std::filesystem::path& path, double seconds,
                                            PlayerOptions opt = {}) {
    auto p = rig.open(path, std::move(opt));
    if (p->readiness() != Readiness::ready || !rig.preroll(*p) || !rig.q.waitUntil([&] { return p->bufferedAudio() > seconds; }))
        return nullptr;
    rig.q.advance(0.0125);
    rig.out->pump();
    return p;
}

// Virtual time moves on in 10 ms steps, the output rendering each.
void playFor(PlayerRig& rig, double seconds) {
    for (int i = 0; i < int(std::lround(seconds / 0.01)); ++i) {
        rig.q.advance(0.01);
        rig.out->pump();
    }
}
}  // namespace

TEST(MediaPlayer, TheFirstSamplesOfTheFileReachTheMixAtTheStartOfPlay) {
    MixRecording rec;
    PlayerRig rig;
    rig.out = AudioOutput::createNull(false, rec.observer());
    auto p = bufferedPlayer(rig, cosineClip(), 0.5);
    ASSERT_TRUE(p);
    p->play();
    const double start = appClock().monotonic();
    playFor(rig, 0.25);
    const size_t first = rec.indexAt(start);
    ASSERT_GT(first, 0u);
    ASSERT_GE(rec.left.size(), first + 9600);
    for (size_t i = 0; i < first; ++i) ASSERT_EQ(rec.left[i], 0.0f) << "sound before the start, at " << i;
    // The first 200 ms of the file, sample for sample from the start on: nothing lost, nothing early.
    for (size_t i = 0; i < 9600; ++i) ASSERT_NEAR(rec.left[first + i], cosineAt(i), 1e-4) << "at " << i;
}

TEST(MediaPlayer, AfterASeekTheResampledSoundStartsAfreshAtTheNewTime) {
    MixRecording rec;
    PlayerRig rig;
    rig.out = AudioOutput::createNull(false, rec.observer());
    const auto clip = test::mediaFixture(
        "cos44k.wav", "-f lavfi -i \"aevalsrc=0.5*cos(2*PI*1000*t)|0.5*cos(2*PI*1000*t):s=44100:d=2\" -c:a pcm_f32le");
    auto p = bufferedPlayer(rig, clip, 0.5);
    ASSERT_TRUE(p);
    // 1 kHz has whole periods at 0 and at 0.5 s: from either start the mix is 0.5 cos(2 pi 1000 t).
    // Silent from `silentFrom` (an index into the mix) until `start`, then the sound.
    auto soundStartsAt = [&](double start, size_t silentFrom) {
        const size_t first = rec.indexAt(start);
        ASSERT_GE(rec.left.size(), first + 4800);
        for (size_t i = silentFrom; i < first; ++i) ASSERT_EQ(rec.left[i], 0.0f) << "sound before the start, at " << i;
        // Resampled, past the ripple of the onset: within half a frame of the start (the wave moves by up to
        // 0.065 a frame), where the priming of the resampler or the sound before the seek would be far off.
        for (size_t i = 0; i < 16; ++i) ASSERT_NEAR(rec.left[first + i], cosineAt(i), 0.1) << "at " << i;
        for (size_t i = 16; i < 4800; ++i) ASSERT_NEAR(rec.left[first + i], cosineAt(i), 0.04) << "at " << i;
    };
    p->play();
    const double start = appClock().monotonic();
    playFor(rig, 0.3);
    soundStartsAt(start, 0);
    bool sought = false;
    double restart = 0;
    const size_t seekedAt = rec.left.size();
    p->seek(0.5, [&](bool f) {
        sought = f;
        restart = appClock().monotonic();
    });
    // The output hands the old sound's blocks back to the decoder as it runs.
    for (int i = 0; i < 200 && !sought; ++i) {
        rig.q.advance(0.01);
        rig.out->pump();
        rig.q.waitUntil([&] { return sought; }, 0.02);
    }
    ASSERT_TRUE(sought);
    ASSERT_TRUE(rig.q.waitUntil([&] { return p->bufferedAudio() > 0.5; }));
    playFor(rig, 0.3);
    soundStartsAt(restart, seekedAt);
}

TEST(MediaPlayer, AtOtherRatesTheSoundIsSilentAndBackAtRateOneItIsInStep) {
    MixRecording rec;
    PlayerRig rig;
    rig.out = AudioOutput::createNull(false, rec.observer());
    auto proc = std::make_shared<RecordingProcessor>();
    auto p = bufferedPlayer(rig, cosineClip(), 0.8, {.processor = proc});
    ASSERT_TRUE(p);
    const size_t from = rec.left.size();
    p->setRate(2.0);
    playFor(rig, 0.2);
    EXPECT_NEAR(p->currentTime(), 0.4, 1e-6);
    for (size_t i = from; i < rec.left.size(); ++i) ASSERT_EQ(rec.left[i], 0.0f) << "sound at rate 2, at " << i;
    EXPECT_EQ(proc->frames, 0);
    p->play();
    const double resumed = appClock().monotonic();
    playFor(rig, 0.15);
    // 0.4 s is a whole number of periods: from the resume on the mix is the file from 0.4 s on.
    const size_t first = rec.indexAt(resumed);
    ASSERT_GE(rec.left.size(), first + 4800);
    for (size_t i = 0; i < 4800; ++i) ASSERT_NEAR(rec.left[first + i], cosineAt(i), 1e-4) << "at " << i;
    EXPECT_GT(proc->frames, 0);
}

namespace {
// A processor whose prepare() (called on the player's demux thread while it opens the file) blocks
// until released: a decode thread stuck for as long as the test likes.
struct StuckProcessor : AudioProcessor {
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, released = false, releasedByGuard = false, unprepared = false;

    void prepare(const AudioFormat&) override {
        std::unique_lock lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return released; });
    }
    void process(AudioBlock&) override {}
    void unprepare() override {
        std::lock_guard lock(mutex);
        unprepared = true;
        cv.notify_all();
    }
    bool waitFor(bool StuckProcessor::*flag, double seconds) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return this->*flag; });
    }
    void release(bool byGuard) {
        std::lock_guard lock(mutex);
        if (!released) releasedByGuard = byGuard;
        released = true;
        cv.notify_all();
    }
};
}  // namespace

TEST(MediaPlayer, DestroyingAPlayerWhoseDecoderIsStuckReturnsAtOnceAndTheReaperJoinsItLater) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    auto proc = std::make_shared<StuckProcessor>();
    auto player = std::make_unique<MediaPlayer>(MediaAsset::open(cosineClip()),
                                                PlayerOptions{.processor = proc, .output = AudioOutput::createNull(false)});
    ASSERT_TRUE(proc->waitFor(&StuckProcessor::entered, 10.0));
    // Failure guard only: a destructor that waits for the demux thread would wait forever; let it go.
    std::thread guard([&] {
        if (!proc->waitFor(&StuckProcessor::released, 10.0)) proc->release(true);
    });
    player.reset();
    proc->release(false);
    guard.join();
    EXPECT_FALSE(proc->releasedByGuard) << "the destructor waited for the stuck decode thread";
    // The reaper takes the player off once its thread comes free: unprepare() comes after the joins.
    EXPECT_TRUE(proc->waitFor(&StuckProcessor::unprepared, 10.0));
}
