#pragma once
// The stage renderer fixture shared by the renderer and layer-host tests: real decoding of generated clips,
// real GL on the headless context, the virtual clock for every timer (real waits only for decoder threads).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "Engine/Model/ProgramStore.hpp"
#include "GlTestSupport.hpp"
#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/AssetWarmer.hpp"
#include "Render/NativeLayerHost.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "support/TestEnv.hpp"

namespace ombry::stage_test {

using test::Rgba;

constexpr int W = 64, H = 36;

inline std::filesystem::path fixture(const std::string& name, const std::string& args) {
    static std::mutex mutex;
    static std::filesystem::path dir = test::tempDir("layer-fixtures");
    std::lock_guard lock(mutex);
    const auto out = dir / name;
    if (std::filesystem::exists(out)) return out;
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out.string() + "'";
    if (std::system(cmd.c_str()) != 0) return {};
    return out;
}

// A clip of one colour, 30 fps H.264, optionally with a tone.
inline std::filesystem::path colourClip(const std::string& colour, double seconds = 2.0, bool audio = false) {
    const std::string d = std::to_string(seconds);
    std::string args = "-f lavfi -i color=c=" + colour + ":s=64x36:r=30:d=" + d;
    if (audio) args += " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + d;
    args += " -c:v libx264 -pix_fmt yuv420p -g 15";
    if (audio) args += " -c:a aac -shortest";
    return fixture(colour + "-" + d + (audio ? "-a" : "") + ".mp4", args);
}

inline std::filesystem::path stillImage(const std::string& colour) {
    return fixture(colour + ".png", "-f lavfi -i color=c=" + colour + ":s=64x36 -frames:v 1");
}

inline const Rgba kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kLime{0, 255, 0, 255}, kClear{0, 0, 0, 0};

// Video through limited-range YUV comes back within a few steps of the source colour.
inline ::testing::AssertionResult looksLike(Rgba actual, Rgba expected, int tolerance = 14) {
    return test::near(actual, expected, tolerance);
}

// The headless context with a switch that makes the driver refuse it, as a lost or exhausted GPU does.
class RefusableContext : public GpuContext {
public:
    explicit RefusableContext(GpuContext& real) : real_(real) {}
    bool refuse = false;
    bool makeCurrent() override { return !refuse && real_.makeCurrent(); }
    void doneCurrent() override { real_.doneCurrent(); }
    std::string renderer() const override { return real_.renderer(); }

private:
    GpuContext& real_;
};

class StageRendererTest : public test::GlTest {
protected:
    ManualQueue q;
    std::unique_ptr<ScopedMainQueue> scope;
    std::shared_ptr<media::AudioOutput> out;
    std::unique_ptr<RefusableContext> gl;
    std::unique_ptr<NativeStageRenderer> r;
    ProgramStore store{StageConfig{W, H, 60, "transparent"}};
    std::map<std::string, std::string> paths;
    std::vector<TransportStatus> statuses;
    std::vector<std::tuple<LayerId, std::string, IssueCode>> errors;
    std::vector<std::pair<LayerId, std::string>> endings;

    void SetUp() override {
        GlTest::SetUp();
        scope = std::make_unique<ScopedMainQueue>(q);
        out = makeOutput();
        gl = std::make_unique<RefusableContext>(*context());
        r = NativeStageRenderer::create(*gl, nullptr, {.frameClock = nullptr, .audioOutput = out});
        ASSERT_TRUE(r);
        r->resolvePath = [this](const std::string& id) -> std::optional<std::string> {
            auto it = paths.find(id);
            return it == paths.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        r->onStatus = [this](const TransportStatus& s) { statuses.push_back(s); };
        r->onError = [this](LayerId l, const std::string& cue, IssueCode c) { errors.emplace_back(l, cue, c); };
        r->onEnding = [this](LayerId l, const std::string& cue) { endings.emplace_back(l, cue); };
        store.onChange = [this](const ProgramState& s) { r->apply(s); };
        r->apply(store.state());
    }
    // The sound output every player shares: a null one that only pump() renders.
    virtual std::shared_ptr<media::AudioOutput> makeOutput() { return media::AudioOutput::createNull(false); }
    void TearDown() override {
        // A load still on its way holds a player whose threads post to this queue: let it land first.
        EXPECT_TRUE(q.waitUntil([this] { return settled(); }, 20.0)) << "real threads still busy at the end";
        r.reset();
        q.runPending();
        scope.reset();
        GlTest::TearDown();
    }

    MediaItem item(const std::string& id, const std::filesystem::path& path, MediaKind kind = MediaKind::video) {
        paths[id] = path.string();
        MediaItem m;
        m.id = id;
        m.kind = kind;
        m.name = id;
        m.path = path.string();
        return m;
    }
    ActiveCue take(const MediaItem& m, TransitionType type = TransitionType::cut, int64_t ms = 0,
                   TriggerOptions options = {}) {
        options.transitionType = type;
        options.durationMs = ms;
        return store.trigger(m, options);
    }

    // The real threads have delivered what the next frame of virtual time needs: no load is on its way,
    // the warmed file has been probed, and every clip that has pictures still to come has one decoded
    // ahead. Moving the clock before that would run the clips and timeouts ahead of decoders slowed
    // down by a loaded machine.
    bool settled() {
        if (!r) return true;
        if (auto warmed = AssetWarmer::warmed(); warmed && warmed->readiness() == media::Readiness::unknown)
            return false;
        for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio}) {
            const auto* h = r->host(l);
            if (!h) continue;
            if (h->loadsInFlight() > stalledInFlight()) return false;
            for (const auto* media : {h->slot(0).media.get(), h->slot(1).media.get(), h->prepared().get()}) {
                if (!media || media->disposed || !media->videoOutput || !media->player) continue;
                const auto& player = *media->player;
                if (player.readiness() != media::Readiness::ready) continue;
                // A file that does not give its length has pictures to come until the player has found its end.
                const double end = media->duration > 0 ? media->duration : player.duration();
                const bool picturesToCome = end <= 0 || player.currentTime() < end - 0.1;
                if (picturesToCome && player.bufferedFrames() == 0) return false;
            }
        }
        return true;
    }
    // Loads held by the stallStart seam that have not timed out yet: nothing real is on its way for them.
    int stalledLoads = 0;
    int stalledInFlight() const {
        const auto timedOut = std::count_if(errors.begin(), errors.end(), [](const auto& e) {
            return std::get<2>(e) == IssueCode::mediaTimeout;
        });
        return stalledLoads - int(timedOut);
    }
    // Runs what the real threads post until settled(); a generous real-time budget for a loaded machine,
    // which only a hung thread exhausts.
    bool settle() {
        const bool ok = q.waitUntil([this] { return settled(); }, 20.0);
        EXPECT_TRUE(ok) << "the media threads did not catch up within 20 s";
        return ok;
    }

    // One stage frame: the decoders catch up in real time, virtual time moves a frame, then a tick.
    bool frame(double dt = 1.0 / 60) {
        if (!settle()) return false;
        q.advance(dt);
        out->pump();
        r->tick(appClock().monotonic());
        return true;
    }
    // Frames of `dt` until `pred` holds, at most `seconds` of virtual time.
    bool until(const std::function<bool()>& pred, double seconds = 4.0, double dt = 1.0 / 60) {
        const double end = appClock().monotonic() + seconds;
        while (!pred()) {
            if (appClock().monotonic() > end || !frame(dt)) return false;
        }
        return true;
    }
    // Frames for `seconds` of virtual time.
    void runFor(double seconds) { until([] { return false; }, seconds); }
    NativeLayerHost& host(LayerId l = LayerId::media) { return *r->host(l); }
    bool onAir(const ActiveCue& cue, LayerId l = LayerId::media) {
        return host(l).current() && host(l).current()->cueId == cue.cueId && host(l).idle();
    }
    // The clip of `cue` is on air, reports its playhead, plays and shows `colour` in the next frame.
    void expectPlaying(const ActiveCue& cue, Rgba colour, LayerId l = LayerId::media) {
        ASSERT_TRUE(host(l).current());
        EXPECT_EQ(host(l).current()->cueId, cue.cueId);
        EXPECT_EQ(host(l).reportingCueId(), cue.cueId);
        ASSERT_TRUE(frame());
        EXPECT_TRUE(looksLike(centre(), colour));
        EXPECT_GT(host(l).slot(host(l).activeIndex()).media->player->rate(), 0);
    }
    Rgba centre() { return test::readTarget(r->compositor().target()).at(W / 2, H / 2); }
    Rgba pixel(int x, int y) { return test::readTarget(r->compositor().target()).at(x, y); }
    const NativeLayerHost::Slot& incomingSlot(LayerId l = LayerId::media) {
        return host(l).slot(1 - host(l).activeIndex());
    }
    // Waits for the reveal of a take to begin (the swap has set up its tweens); its start time.
    double revealStart(LayerId l = LayerId::media) {
        double start = -1;
        EXPECT_TRUE(until([&] {
            const auto& in = incomingSlot(l);
            if (!in.media) return false;
            for (const auto& t : {in.visual.opacity, in.visual.translationX, in.visual.scale,
                                  host(l).slot(host(l).activeIndex()).visual.opacity})
                if (t.durationMs > 0) start = t.start;
            return start > 0;
        }));
        return start;
    }
};


}  // namespace ombry::stage_test
