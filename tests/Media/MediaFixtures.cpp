#include "MediaFixtures.hpp"

#include <cmath>
#include <cstdlib>
#include <mutex>

#include <gtest/gtest.h>

#include "ExifFixture.hpp"
#include "support/TestEnv.hpp"

namespace ombry::test {

int run(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::filesystem::path mediaFixture(const std::string& name, const std::string& args) {
    static std::mutex mutex;
    static std::filesystem::path dir = tempDir("fixtures");
    std::lock_guard lock(mutex);
    const auto out = dir / name;
    if (std::filesystem::exists(out)) return out;
    if (run("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out.string() + "'") != 0) return {};
    return out;
}

std::filesystem::path orientedJpeg(int tag, const std::string& size, bool lossless) {
    const std::string name = std::string(lossless ? "lossless-" : "quadrants-") + size + "-" + std::to_string(tag);
    const auto plain = mediaFixture(name + "-plain.jpg",
                                    "-f lavfi -i \"color=s=" + size + ",format=rgb24,geq=r='if(eq(lt(X,W/2),lt(Y,H/2)),255,0)'"
                                    ":g='if(gte(X,W/2),255,0)':b='if(gte(Y,H/2),255,0)'," + storedForExif(tag) +
                                    "\" -frames:v 1 " + (lossless ? "-c:v ljpeg -strict -1 -pix_fmt bgr24" : "-pix_fmt yuvj444p -q:v 1"));
    if (plain.empty()) return {};
    const auto tagged = plain.parent_path() / (name + ".jpg");
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (!std::filesystem::exists(tagged)) {
        const auto partial = tagged.string() + ".part";
        writeFile(partial, withExifOrientation(readFile(plain), tag));
        std::filesystem::rename(partial, tagged);
    }
    return tagged;
}

int frameNumber(const VideoFrame& f) {
    const int y = f.data[0][size_t(f.height / 2) * size_t(f.stride[0]) + size_t(f.width / 2)];
    return int(std::lround(y / 4.0));
}

int centreAlpha(const VideoFrame& f) {
    const size_t row = size_t(f.height / 2), column = size_t(f.width / 2);
    if (f.format == VideoPixelFormat::bgra) return f.data[0][row * size_t(f.stride[0]) + column * 4 + 3];
    if (f.format == VideoPixelFormat::yuva420p) return f.data[3][row * size_t(f.stride[3]) + column];
    return 255;
}

std::filesystem::path countingClip(double seconds) {
    const std::string s = std::to_string(int(std::lround(seconds * 1000)));
    return mediaFixture("count" + s + ".mp4",
                        "-f lavfi -i \"color=c=black:s=64x48:r=30:d=" + std::to_string(seconds) +
                            ",format=yuv420p,geq=lum='N*4':cb=128:cr=128\" -c:v libx264 -qp 0 -g 12 -bf 2 -pix_fmt yuv420p");
}

std::unique_ptr<media::MediaPlayer> PlayerRig::open(const std::filesystem::path& path, media::PlayerOptions opt) {
    opt.output = out;
    auto p = std::make_unique<media::MediaPlayer>(media::MediaAsset::open(path), opt);
    EXPECT_TRUE(q.waitUntil([&] { return p->readiness() != media::Readiness::unknown; }));
    return p;
}

bool PlayerRig::preroll(media::MediaPlayer& p) {
    bool done = false;
    p.preroll([&](bool f) { done = f; });
    return q.waitUntil([&] { return done; });
}

bool PlayerRig::frameIs(media::MediaPlayer& p, int n) {
    return q.waitUntil([&] {
        auto f = p.latestFrame(appClock().monotonic());
        return f && frameNumber(*f) == n;
    }, 5.0);
}

int PlayerRig::shown(media::MediaPlayer& p) {
    auto f = p.latestFrame(appClock().monotonic());
    return f ? frameNumber(*f) : -1;
}

LoopRun loopCountingClip(PlayerRig& rig, media::MediaPlayer& p, double lead) {
    LoopRun run;
    p.setActionAtEnd(media::ActionAtEnd::loop);
    p.setLoopStart(0.2);
    p.onEndOfItem = [&] { ++run.ends; };
    const auto boundary = p.addBoundaryObserver({0.5}, [&] { ++run.passes; });
    auto play = [&] {
        if (!rig.preroll(p)) return false;
        p.play();
        rig.q.advance(lead);
        std::vector<int> expected;
        for (int n = 0; n < 30; ++n) expected.push_back(n);
        for (int pass = 0; pass < 2; ++pass)
            for (int n = 6; n < 30; ++n) expected.push_back(n);
        for (int want : expected) {
            if (!rig.frameIs(p, want)) {
                ADD_FAILURE() << "wanted " << want << " shown " << rig.shown(p);
                return false;
            }
            rig.q.advance(1.0 / 30);
        }
        return true;
    };
    run.everyFrame = play();
    // The callbacks hold `run`: off before it goes.
    p.onEndOfItem = nullptr;
    p.removeObserver(boundary);
    return run;
}

}  // namespace ombry::test
