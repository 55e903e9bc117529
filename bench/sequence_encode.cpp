// A 250-frame 1080p transparent PNG sequence encoded into the VP9-with-alpha WebM, beside the ffmpeg
// command line with the same encoder options in the same run (goal: at least 0.9 times its frames per
// second), and the error of each movie's alpha edge against the source frames.
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "Engine/Intake/SequenceImport.hpp"
#include "Platform/Media/DeckPages.hpp"
#include "Platform/Media/FFmpegSupport.hpp"
#include "MoviePictures.hpp"
#include "Platform/Media/SequenceEncoder.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 250, kFps = 25;

const fs::path& dir() {
    static const auto d = [] {
        auto p = fs::temp_directory_path() / "ombry-bench-sequence";
        fs::create_directories(p / "frames");
        return p;
    }();
    return d;
}

std::string frameName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "f_%04d.png", i + 1);
    return name;
}

// Transparent artwork: a moving disc with an anti-aliased rim, a gradient and stripes inside, and a
// half-transparent band. Straight alpha, as a renderer writes it.
StillImage artwork(int i) {
    StillImage img = StillImage::packed(kWidth, kHeight, StillAlpha::straight, StillByteOrder::rgba);
    const double cx = 960 + 500 * std::sin(i / 20.0), cy = 540 + 200 * std::cos(i / 15.0), radius = 350;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = img.pixels.data() + img.stride * size_t(y);
        for (int x = 0; x < kWidth; ++x, p += 4) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            const double cover = std::clamp(radius - d + 0.5, 0.0, 1.0);
            if (cover > 0) {
                const bool stripe = (x + i * 3) / 24 % 2 == 0;
                p[0] = uint8_t(x * 255 / kWidth);
                p[1] = uint8_t(stripe ? 40 : 200);
                p[2] = uint8_t(y * 255 / kHeight);
                p[3] = uint8_t(std::lround(cover * 255));
            } else if (y > 860 && y < 980) {
                p[0] = 30, p[1] = 60, p[2] = 230, p[3] = 96;
            }
        }
    }
    return img;
}

std::vector<std::string> frames() {
    static const auto list = [] {
        std::vector<std::string> out;
        for (int i = 0; i < kFrames; ++i) {
            const fs::path p = dir() / "frames" / frameName(i);
            if (!fs::exists(p) && !media::writePng(artwork(i), p.string())) std::abort();
            out.push_back(p.string());
        }
        return out;
    }();
    return list;
}

std::string ffmpegCommand(const fs::path& out) {
    std::string cmd = "ffmpeg -nostdin -v error -y -framerate " + std::to_string(kFps) + " -i '" +
                      (dir() / "frames" / "f_%04d.png").string() + "' -c:v libvpx-vp9 -pix_fmt yuva420p -threads " +
                      std::to_string(media::sequenceEncoderThreads());
    for (const auto& [key, value] : media::sequenceEncoderOptions(kWidth, kFps)) cmd += " -" + key + " " + value;
    return cmd + " '" + out.string() + "'";
}

// Over the source's anti-aliased pixels (alpha 1 to 254): mean absolute error of alpha and of the
// premultiplied colour, in levels of 255; and the mean alpha error over the whole picture.
struct EdgeError {
    double alpha = 0, colour = 0, alphaAll = 0;
};

EdgeError edgeError(const fs::path& movie) {
    EdgeError e;
    StillImage rgba = StillImage::padded(kWidth, kHeight, StillAlpha::straight, StillByteOrder::rgba);
    double alphaSum = 0, colourSum = 0, allSum = 0;
    int64_t edgePixels = 0, allPixels = 0;
    int index = 0;
    const bool read = test::forEachPicture(movie, [&](const AVFrame& frame, AVRational) {
        if (frame.format != AV_PIX_FMT_YUVA420P) return;
        SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUVA420P, kWidth, kHeight, AV_PIX_FMT_RGBA,
                                         SWS_POINT, nullptr, nullptr, nullptr);
        const int cs = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
        sws_setColorspaceDetails(sws, sws_getCoefficients(cs), 0, sws_getCoefficients(SWS_CS_ITU709), 1, 0, 1 << 16, 1 << 16);
        uint8_t* planes[4] = {rgba.pixels.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {int(rgba.stride), 0, 0, 0};
        sws_scale(sws, frame.data, frame.linesize, 0, kHeight, planes, strides);
        sws_freeContext(sws);
        const StillImage src = artwork(index++);
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t* s = src.pixels.data() + src.stride * size_t(y);
            const uint8_t* d = rgba.pixels.data() + rgba.stride * size_t(y);
            for (int x = 0; x < kWidth * 4; x += 4) {
                const int sa = s[x + 3], da = d[x + 3];
                allSum += std::abs(sa - da);
                ++allPixels;
                if (sa == 0 || sa == 255) continue;
                alphaSum += std::abs(sa - da);
                for (int c = 0; c < 3; ++c) colourSum += std::abs(s[x + c] * sa - d[x + c] * da) / 255.0 / 3;
                ++edgePixels;
            }
        }
    });
    if (!read) return {-1, -1, -1};
    if (index != kFrames || edgePixels == 0) return {-1, -1, -1};
    e.alpha = alphaSum / double(edgePixels);
    e.colour = colourSum / double(edgePixels);
    e.alphaAll = allSum / double(allPixels);
    return e;
}

void report(benchmark::State& state, const fs::path& movie, double seconds) {
    state.counters["fps"] = kFrames / seconds;
    const EdgeError e = edgeError(movie);
    state.counters["edge_alpha_err"] = e.alpha;
    state.counters["edge_colour_err"] = e.colour;
    state.counters["alpha_err_all"] = e.alphaAll;
    state.counters["MB"] = double(fs::file_size(movie)) / 1e6;
}

void BM_SequenceEncode1080p(benchmark::State& state) {
    const auto list = frames();
    fs::path movie;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto r = SequenceImport::transcode(list, "ours", dir(), kFps);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
        if (!std::holds_alternative<fs::path>(r)) return state.SkipWithError(std::get<SequenceImport::Failure>(r).description().c_str());
        movie = std::get<fs::path>(r);
    }
    report(state, movie, seconds);
}

void BM_FfmpegCliEncode1080p(benchmark::State& state) {
    frames();
    const fs::path movie = dir() / "ffmpeg.webm";
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(ffmpegCommand(movie).c_str()) != 0) return state.SkipWithError("ffmpeg failed");
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
    }
    report(state, movie, seconds);
}

// --benchmark_enable_random_interleaving=true alternates the repetitions, so both see the same load.
BENCHMARK(BM_FfmpegCliEncode1080p)->UseManualTime()->Iterations(1)->Repetitions(2)->Unit(benchmark::kSecond);
BENCHMARK(BM_SequenceEncode1080p)->UseManualTime()->Iterations(1)->Repetitions(2)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("encoder options:%s\n", [] {
        std::string s;
        for (const auto& [k, v] : media::sequenceEncoderOptions(kWidth, kFps)) s += " -" + k + " " + v;
        return s + " -threads " + std::to_string(media::sequenceEncoderThreads());
    }().c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
