// A 50-page PDF deck rendered into 1080p page PNGs, beside pdftoppm writing PNGs of the same pixel size in
// the same run (goal: at least 0.8 times its pages per second).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "Engine/Intake/SlideImport.hpp"
#include "PdfFixture.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

constexpr int kPages = 50;

const fs::path& dir() {
    static const auto d = [] {
        auto p = fs::temp_directory_path() / "ombry-bench-deck";
        fs::remove_all(p);
        fs::create_directories(p / "ours");
        fs::create_directories(p / "pdftoppm");
        return p;
    }();
    return d;
}

// Slides of 960 by 540 points: a title, eight lines of text, coloured boxes and a curve.
fs::path deck() {
    static const fs::path pdf = [] {
        std::vector<test::PdfPage> pages;
        for (int i = 0; i < kPages; ++i) {
            std::string c = "0.95 0.95 0.97 rg 0 0 960 540 re f 0.1 0.3 0.7 rg 0 470 960 70 re f ";
            c += "BT /F1 40 Tf 1 1 1 rg 40 488 Td (Quarterly review, slide " + std::to_string(i + 1) + ") Tj ET ";
            for (int line = 0; line < 8; ++line)
                c += "BT /F1 22 Tf 0.1 0.1 0.1 rg 60 " + std::to_string(420 - line * 42) +
                     " Td (Point " + std::to_string(line + 1) + ": revenue, costs, people and the plan ahead) Tj ET ";
            c += "0.9 0.4 0.1 rg 700 60 200 150 re f 0.2 0.7 0.3 RG 6 w 40 40 m 300 300 500 0 900 260 c S";
            pages.push_back({960, 540, 0, c});
        }
        return test::writePdf(dir() / "deck.pdf", pages);
    }();
    return pdf;
}

StageConfig stage1080() { return StageConfig{}; }

void BM_DeckRaster1080p(benchmark::State& state) {
    const fs::path pdf = deck();
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto r = SlideImport::rasterize(pdf, "Deck", stage1080(), dir() / "ours");
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        total += s;
        if (!std::holds_alternative<std::vector<fs::path>>(r)) return state.SkipWithError("rasterize failed");
    }
    state.counters["pages_per_s"] = double(kPages) * double(state.iterations()) / total;
}

void BM_PdftoppmPng1080p(benchmark::State& state) {
    const std::string cmd = "pdftoppm -png -scale-to-x 1920 -scale-to-y 1080 '" + deck().string() + "' '" +
                            (dir() / "pdftoppm" / "page").string() + "'";
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) return state.SkipWithError("pdftoppm failed");
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        total += s;
    }
    state.counters["pages_per_s"] = double(kPages) * double(state.iterations()) / total;
}

BENCHMARK(BM_PdftoppmPng1080p)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK(BM_DeckRaster1080p)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
