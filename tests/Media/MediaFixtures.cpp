#include "MediaFixtures.hpp"

#include <cmath>
#include <cstdlib>
#include <mutex>

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

int frameNumber(const media::VideoFrame& f) {
    const auto& p = f.planes[0];
    const int y = p.data[size_t(p.height / 2) * p.stride + p.width / 2];
    return int(std::lround(y / 4.0));
}

int centreAlpha(const media::VideoFrame& f) {
    if (f.layout == media::PixelLayout::bgra) {
        const auto& p = f.planes[0];
        return p.data[size_t(p.height / 2) * p.stride + size_t(p.width / 2) * 4 + 3];
    }
    if (f.layout == media::PixelLayout::yuva420p) {
        const auto& p = f.planes[3];
        return p.data[size_t(p.height / 2) * p.stride + p.width / 2];
    }
    return 255;
}

std::filesystem::path countingClip(double seconds) {
    const std::string s = std::to_string(int(std::lround(seconds * 1000)));
    return mediaFixture("count" + s + ".mp4",
                        "-f lavfi -i \"color=c=black:s=64x48:r=30:d=" + std::to_string(seconds) +
                            ",format=yuv420p,geq=lum='N*4':cb=128:cr=128\" -c:v libx264 -qp 0 -g 12 -bf 2 -pix_fmt yuv420p");
}

}  // namespace ombry::test
