// Against a private user-mode pulseaudio with a null sink: what the player plays is what the sink's
// monitor records. Skipped when pulseaudio cannot start here.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "MediaFixtures.hpp"
#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaPlayer.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {

class PulseServer {
public:
    PulseServer() : dir_(test::tempDir("pulse")) {
        socket_ = (dir_ / "native").string();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("HOME", dir_.c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
            const std::string proto = "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1";
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                   "--log-target=stderr", "--log-level=0", "-L", "module-null-sink sink_name=ombry_test rate=48000", "-L",
                   proto.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !std::filesystem::exists(socket_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ok_ = pid_ > 0 && std::filesystem::exists(socket_);
        if (ok_) setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    }
    ~PulseServer() {
        unsetenv("PULSE_SERVER");
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool ok() const { return ok_; }
    std::string server() const { return "unix:" + socket_; }

private:
    std::filesystem::path dir_;
    std::string socket_;
    pid_t pid_ = -1;
    bool ok_ = false;
};

}  // namespace

TEST(PulseOutput, WhatIsPlayedIsWhatTheSinkRecords) {
    PulseServer pulse;
    if (!pulse.ok()) GTEST_SKIP() << "pulseaudio could not start";
    const auto tone = test::mediaFixture("tone1k.wav", "-f lavfi -i sine=f=1000:r=44100:d=1.5 -af volume=4 -c:a pcm_s24le");
    ASSERT_FALSE(tone.empty());

    ManualQueue q;
    ScopedMainQueue scope(q);
    setAppClock(nullptr);  // real sound runs on the real clock
    auto out = AudioOutput::create(std::string("ombry_test"));
    ASSERT_TRUE(out->isLive());
    EXPECT_EQ(out->device(), std::optional<std::string>("ombry_test"));

    const auto raw = test::tempDir("rec") / "monitor.raw";
    const pid_t rec = fork();
    if (rec == 0) {
        const std::string file = raw.string();
        execlp("parec", "parec", "--server", pulse.server().c_str(), "-d", "ombry_test.monitor", "--raw", "--format=float32le",
               "--rate=48000", "--channels=2", "--latency-msec=20", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Real conditions rather than fixed sleeps, for a loaded machine: the recorder is well under way
    // before the tone, and has written a good stretch past its end.
    constexpr uintmax_t kBytesPerSecond = 48000 * 8;
    auto recorded = [&] {
        std::error_code ec;
        const auto n = std::filesystem::file_size(raw, ec);
        return ec ? uintmax_t(0) : n;
    };
    auto recordedAtLeast = [&](uintmax_t bytes) {
        for (int i = 0; i < 2000 && recorded() < bytes; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return recorded() >= bytes;
    };
    ASSERT_TRUE(recordedAtLeast(kBytesPerSecond / 5));
    {
        MediaPlayer p(MediaAsset::open(tone), {.output = out});
        ASSERT_TRUE(q.waitUntil([&] { return p.readiness() == Readiness::ready; }));
        bool prerolled = false;
        p.preroll([&](bool f) { prerolled = f; });
        ASSERT_TRUE(q.waitUntil([&] { return prerolled; }));
        p.play();
        // The main queue's timers run on virtual time here: watch the real clock instead.
        EXPECT_TRUE(q.waitUntil([&] { return p.currentTime() >= p.endTime(); }, 20.0));
        EXPECT_TRUE(recordedAtLeast(recorded() + kBytesPerSecond * 3 / 10));
    }
    kill(rec, SIGTERM);
    waitpid(rec, nullptr, 0);

    const std::string bytes = test::readFile(raw);
    std::vector<float> left;
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        float v;
        std::memcpy(&v, bytes.data() + i, 4);
        left.push_back(v);
    }
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
