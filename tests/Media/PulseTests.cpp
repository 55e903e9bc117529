// Against a private user-mode pulseaudio with null sinks: what the player plays is what the sink's
// monitor records, and the monitor stream moving between sinks. Skipped when pulseaudio cannot start here, except in continuous integration.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>

#include "AudioTestSupport.hpp"
#include "MediaFixtures.hpp"
#include "PulseServer.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Log.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaPlayer.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {

using test::eventually;
using test::PulseServer;
using test::realtimeAllowed;

// The server for the life of a test, with PULSE_SERVER pointing at it.
struct PulseFixture {
    explicit PulseFixture(PulseServer::Options options = {}) : server(std::move(options)) {
        if (server.ok()) setenv("PULSE_SERVER", server.address().c_str(), 1);
    }
    ~PulseFixture() { unsetenv("PULSE_SERVER"); }
    PulseServer server;
};

// Records a sink's monitor as raw stereo float at 48 kHz into a file until destroyed.
class Recorder {
public:
    Recorder(const PulseServer& server, const std::string& sink) : file_(test::tempDir("rec") / "monitor.raw") {
        pid_ = fork();
        if (pid_ == 0) {
            const std::string address = server.address();
            const std::string device = sink + ".monitor";
            execlp("parec", "parec", "--server", address.c_str(), "-d", device.c_str(), "--raw", "--format=float32le",
                   "--rate=48000", "--channels=2", "--latency-msec=20", file_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Recorder() { stop(); }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    uintmax_t bytes() const {
        std::error_code ec;
        const auto n = std::filesystem::file_size(file_, ec);
        return ec ? uintmax_t(0) : n;
    }
    // Waits for the recorder to have written `n` bytes (real conditions rather than fixed sleeps, for a
    // loaded machine).
    bool waitForBytes(uintmax_t n) const {
        for (int i = 0; i < 2000 && bytes() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return bytes() >= n;
    }
    // The left channel of what was recorded so far.
    std::vector<float> left() const {
        const std::string raw = test::readFile(file_);
        std::vector<float> out;
        for (size_t i = 0; i + 8 <= raw.size(); i += 8) {
            float v;
            std::memcpy(&v, raw.data() + i, 4);
            out.push_back(v);
        }
        return out;
    }

private:
    std::filesystem::path file_;
    pid_t pid_ = -1;
};

constexpr uintmax_t kBytesPerSecond = 48000 * 8;

// A steady level on both channels, noting the scheduling of the thread that mixes it.
class LevelSource final : public AudioSource {
public:
    explicit LevelSource(float level) : level_(level) {}
    void renderAdd(float* out, int frames, double) override {
        for (int i = 0; i < frames * AudioOutput::kChannels; ++i) out[i] += level_;
        sched_param p{};
        int policy = 0;
        pthread_getschedparam(pthread_self(), &policy, &p);
        policy_.store(policy);
    }
    int policy() const { return policy_.load(); }

private:
    float level_;
    std::atomic<int> policy_{-1};
};

PulseServer::Options withSecondSink() {
    PulseServer::Options options;
    options.extraSinks = {"ombry_second"};
    return options;
}

}  // namespace

TEST(PulseOutput, WhatIsPlayedIsWhatTheSinkRecords) {
    PulseFixture pulse;
    OMBRY_REQUIRE_PULSE(pulse.server);
    const auto tone = test::mediaFixture("tone1k.wav", "-f lavfi -i sine=f=1000:r=44100:d=1.5 -af volume=4 -c:a pcm_s24le");
    ASSERT_FALSE(tone.empty());

    ManualQueue q;
    ScopedMainQueue scope(q);
    setAppClock(nullptr);  // real sound runs on the real clock
    auto out = AudioOutput::create(std::string(PulseServer::sinkName));
    ASSERT_TRUE(out->isLive());
    EXPECT_EQ(out->device(), std::optional<std::string>(PulseServer::sinkName));

    // The recorder is well under way before the tone, and has written a good stretch past its end.
    Recorder rec(pulse.server, PulseServer::sinkName);
    ASSERT_TRUE(rec.waitForBytes(kBytesPerSecond / 5));
    {
        MediaPlayer p(MediaAsset::open(tone), {.output = out});
        ASSERT_TRUE(q.waitUntil([&] { return p.readiness() == Readiness::ready; }));
        bool prerolled = false;
        p.preroll([&](bool f) { prerolled = f; });
        ASSERT_TRUE(q.waitUntil([&] { return prerolled; }));
        p.play();
        // The main queue's timers run on virtual time here: watch the real clock instead.
        EXPECT_TRUE(q.waitUntil([&] { return p.currentTime() >= p.endTime(); }, 20.0));
        EXPECT_TRUE(rec.waitForBytes(rec.bytes() + kBytesPerSecond * 3 / 10));
    }
    rec.stop();
    const std::vector<float> left = rec.left();
    // 10 ms windows: those carrying the tone give its length, frequency and level, whatever silence
    // surrounds them.
    int windows = 0, crossings = 0;
    double sumSq = 0;
    for (size_t w = 0; w + 480 <= left.size(); w += 480) {
        double e = 0;
        for (size_t i = w; i < w + 480; ++i) e += double(left[i]) * left[i];
        if (std::sqrt(e / 480) < 0.33) continue;  // whole windows of tone only
        ++windows;
        sumSq += e;
        // 480 sample pairs, the one across the next window's edge too: a window holds exactly ten
        // periods, so a crossing on its edge must count once whatever the tone's phase.
        for (size_t i = w + 1; i <= w + 480 && i < left.size(); ++i)
            if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
    }
    const double seconds = windows * 0.01;
    EXPECT_NEAR(seconds, 1.5, 0.02);
    ASSERT_GT(windows, 0);
    EXPECT_NEAR(crossings / 2.0 / seconds, 1000, 15);
    // volume=4 on lavfi's 1/8 sine: amplitude 0.5, RMS 0.354 on each side.
    EXPECT_NEAR(std::sqrt(sumSq / (windows * 480.0)), 0.354, 0.02);
}

TEST(PulseOutput, SwitchingDeviceNeverWaitsForTheServer) {
    PulseFixture pulse(withSecondSink());
    OMBRY_REQUIRE_PULSE(pulse.server);
    auto out = AudioOutput::create(std::string(PulseServer::sinkName));
    ASSERT_TRUE(out->isLive());

    // A server that does not answer (stopped here; a hung daemon or a device that takes its time in a show)
    // must not hold up the caller: the main thread.
    kill(pulse.server.pid(), SIGSTOP);
    auto switching = std::async(std::launch::async, [&] { out->setDevice(std::string("ombry_second")); });
    const bool returned = switching.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    kill(pulse.server.pid(), SIGCONT);
    EXPECT_TRUE(returned);
    switching.wait();
    // Once the server answers, the stream moves.
    EXPECT_TRUE(eventually([&] { return out->device() == std::optional<std::string>("ombry_second"); }));
}

TEST(PulseOutput, SoundFollowsTheSwitchFromTheMixingThread) {
    PulseFixture pulse(withSecondSink());
    OMBRY_REQUIRE_PULSE(pulse.server);
    auto out = AudioOutput::create(std::string(PulseServer::sinkName));
    ASSERT_TRUE(out->isLive());
    LevelSource level(0.25f);
    ASSERT_TRUE(out->addSource(&level));

    Recorder second(pulse.server, "ombry_second");
    ASSERT_TRUE(second.waitForBytes(kBytesPerSecond / 10));
    out->setDevice(std::string("ombry_second"));
    EXPECT_TRUE(eventually([&] { return out->device() == std::optional<std::string>("ombry_second"); }));
    // The level reaches the new device's monitor.
    EXPECT_TRUE(eventually([&] {
        for (float v : second.left())
            if (std::abs(v - 0.25f) < 1e-3f) return true;
        return false;
    }));

    // The mixing thread runs at real-time priority where the system allows it.
    if (realtimeAllowed()) {
        EXPECT_EQ(level.policy(), SCHED_FIFO);
    }
    out->removeSource(&level);
}

TEST(PulseOutput, FailedSwitchKeepsTheOldStreamPlaying) {
    PulseFixture pulse;
    OMBRY_REQUIRE_PULSE(pulse.server);
    CapturingLogSink log;
    ScopedLogSink logScope(log);
    auto out = AudioOutput::create(std::string(PulseServer::sinkName));
    ASSERT_TRUE(out->isLive());

    out->setDevice(std::string("ombry_no_such_sink"));
    ASSERT_TRUE(eventually([&] { return log.contains("audio device could not be opened"); }));
    EXPECT_EQ(out->device(), std::optional<std::string>(PulseServer::sinkName));
    // Still fed: the stream on the old device plays on.
    const double head = out->renderHead();
    EXPECT_TRUE(eventually([&] { return out->renderHead() > head + 0.1; }));
}
