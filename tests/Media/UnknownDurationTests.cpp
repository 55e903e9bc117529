// Files that do not give their length: raw elementary streams and recordings written live or through a
// pipe (no duration, no cues). They play to their real end; the duration reads 0 until that end is
// reached, then the real one.
#include <gtest/gtest.h>

#include <cstdio>

#include "MediaFixtures.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Media/MediaAsset.hpp"
#include "Platform/Media/MediaPlayer.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {

constexpr double kFrame = 1.0 / 30;
using test::PlayerRig;

// What ffprobe says of the container's duration ("N/A" when it has none).
std::string probedDuration(const std::filesystem::path& path) {
    std::string out;
    if (FILE* f = popen(("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path.string() + "'").c_str(), "r")) {
        char buf[128];
        while (fgets(buf, sizeof buf, f)) out += buf;
        pclose(f);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// 1 s, 30 fps, 64x48, frame numbers in luma (as the counting clip), lossless.
const std::string kCounting = "-f lavfi -i \"color=c=black:s=64x48:r=30:d=1,format=yuv420p,geq=lum='N*4':cb=128:cr=128\" ";

struct Kind {
    const char* name;
    std::string args;  // the file name follows
    bool audio;
};

// Piped output: the muxer cannot go back to write the length or the cues.
const Kind kVideoKinds[] = {
    {"count.h264", kCounting + "-c:v libx264 -qp 0 -g 12 -bf 2 -f h264", false},
    {"count.hevc", kCounting + "-c:v libx265 -x265-params lossless=1:log-level=error -f hevc", false},
    {"count-live.webm", kCounting + "-c:v libvpx-vp9 -lossless 1 -live 1 -f webm pipe:1 >", false},
};

std::filesystem::path fixture(const Kind& k) {
    const auto path = test::mediaFixture(k.name, k.args);
    EXPECT_FALSE(path.empty());
    EXPECT_EQ(probedDuration(path), "N/A") << "the fixture must not give its length";
    return path;
}

}  // namespace

TEST(UnknownDuration, ProbeFindsThemPlayableWithDurationZero) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    std::vector<Kind> kinds(std::begin(kVideoKinds), std::end(kVideoKinds));
    kinds.push_back({"tone-piped.webm", "-f lavfi -i sine=f=440:r=48000:d=1 -c:a libopus -f webm pipe:1 >", true});
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        const auto path = fixture(k);
        auto asset = MediaAsset::open(path);
        std::optional<MediaAsset::LoadResult> result;
        asset->load(8.0, [&](const MediaAsset::LoadResult& r) { result = r; });
        ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }));
        ASSERT_TRUE(result->first.has_value()) << (result->second ? result->second->message : "");
        EXPECT_TRUE(result->first->playable);
        EXPECT_EQ(result->first->duration, 0.0);
        EXPECT_EQ(result->first->hasAudio, k.audio);
    }
}

TEST(UnknownDuration, PlaysEveryFrameToTheRealEndThenKnowsItsDuration) {
    for (const auto& k : kVideoKinds) {
        SCOPED_TRACE(k.name);
        PlayerRig rig;
        auto p = rig.open(fixture(k));
        ASSERT_EQ(p->readiness(), Readiness::ready);
        EXPECT_EQ(p->duration(), 0.0);
        EXPECT_EQ(p->endTime(), 0.0);
        // Exact seeks work without timestamps too: a raw stream is decoded from its start and counted.
        bool sought = false;
        p->seek(0.5, [&](bool f) { sought = f; });
        ASSERT_TRUE(rig.q.waitUntil([&] { return sought; }));
        EXPECT_EQ(rig.shown(*p), 15);
        sought = false;
        p->seek(0, [&](bool f) { sought = f; });
        ASSERT_TRUE(rig.q.waitUntil([&] { return sought; }));
        ASSERT_TRUE(rig.preroll(*p));
        int ends = 0;
        p->onEndOfItem = [&] { ++ends; };
        std::vector<double> ticks;
        p->addPeriodicObserver(0.25, [&](double t) { ticks.push_back(t); });
        p->play();
        rig.q.advance(kFrame / 2);  // mid-frame: WebM's millisecond times are rounded
        for (int n = 0; n < 30; ++n) {
            ASSERT_TRUE(rig.frameIs(*p, n)) << "frame " << n << " shown " << rig.shown(*p);
            rig.q.advance(kFrame);
        }
        // Every frame has been decoded: the decoder finds the end on its own thread without further play.
        ASSERT_TRUE(rig.q.waitUntil([&] { return p->duration() > 0; })) << "the end was never found";
        for (int i = 0; i < 15 && ends == 0; ++i) rig.q.advance(kFrame);
        EXPECT_EQ(ends, 1);
        EXPECT_NEAR(p->duration(), 1.0, 0.05);
        EXPECT_EQ(p->endTime(), p->duration());
        EXPECT_EQ(p->rate(), 0.0);
        EXPECT_NEAR(p->currentTime(), p->duration(), 1e-9);
        EXPECT_EQ(rig.shown(*p), 29);
        ASSERT_GE(ticks.size(), 3u);
        for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(ticks[i], 0.25 * double(i + 1), 1e-6);
    }
}

TEST(UnknownDuration, LoopsRestartAtTheLoopStartWithoutAnEndNotice) {
    for (const auto& k : kVideoKinds) {
        SCOPED_TRACE(k.name);
        PlayerRig rig;
        auto p = rig.open(fixture(k));
        const test::LoopRun run = test::loopCountingClip(rig, *p, kFrame / 2);
        ASSERT_TRUE(run.everyFrame);
        EXPECT_EQ(run.ends, 0);
        EXPECT_EQ(run.passes, 3);
        EXPECT_NEAR(p->duration(), 1.0, 0.05);
        EXPECT_NEAR(p->currentTime(), 0.2, 0.05);  // two loops of 0.8 s after the first pass
    }
}

TEST(UnknownDuration, NoActionAtEndHoldsTheRealEndAndFilesWithSoundEndToo) {
    struct Case {
        Kind kind;
        ActionAtEnd action;
    } cases[] = {
        {kVideoKinds[0], ActionAtEnd::none},
        {{"tone-piped.webm", "-f lavfi -i sine=f=440:r=48000:d=1 -c:a libopus -f webm pipe:1 >", true}, ActionAtEnd::pause},
        {{"av-piped.webm", "-f lavfi -i testsrc=s=64x48:r=30:d=1 -f lavfi -i sine=f=440:r=48000:d=1 -c:v libvpx -c:a libopus -f webm pipe:1 >", true},
         ActionAtEnd::pause},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind.name);
        PlayerRig rig;
        auto p = rig.open(fixture(c.kind));
        ASSERT_EQ(p->readiness(), Readiness::ready);
        p->setActionAtEnd(c.action);
        ASSERT_TRUE(rig.preroll(*p));
        int ends = 0;
        p->onEndOfItem = [&] { ++ends; };
        p->play();
        for (int i = 0; i < 150 && ends == 0; ++i) {
            rig.q.waitUntil([&] { return p->duration() > 0; }, 0.01);
            rig.q.advance(0.01);
            rig.out->pump();
            p->latestFrame(appClock().monotonic());
        }
        rig.q.advance(0.5);
        EXPECT_EQ(ends, 1);
        EXPECT_NEAR(p->duration(), 1.0, 0.05);
        EXPECT_EQ(p->rate(), c.action == ActionAtEnd::none ? 1.0 : 0.0);
        EXPECT_NEAR(p->currentTime(), p->duration(), 1e-9);
    }
}
