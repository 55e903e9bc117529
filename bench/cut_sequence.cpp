// Cuts on the media layer in real time, through the stage renderer on the headless GL context: still to
// video, video to still, video to video, still to still, each held long enough to catch a late stall.
// Reports the worst tick, the ticks over the 60 fps budget and over twice the budget, the frames lost
// (intervals the frame loop missed), and how many of the slow ticks the texture uploads account for.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "Engine/Model/ProgramStore.hpp"
#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/NativeLayerHost.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Render/NativeStageView.hpp"
#include "BenchStage.hpp"

using namespace ombry;

namespace {

constexpr double kFrame = 1.0 / 60;
constexpr double kHold = 1.5;  // seconds on air before the next cut

std::filesystem::path fixture(const std::string& name, const std::string& args) {
    const auto dir = std::filesystem::temp_directory_path() / "ombry-bench-cuts";
    std::filesystem::create_directories(dir);
    const auto out = dir / name;
    if (!std::filesystem::exists(out))
        std::system(("ffmpeg -nostdin -loglevel error -y " + args + " '" + out.string() + "'").c_str());
    return out;
}

std::string size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

std::filesystem::path video(int w, int h, const std::string& colour) {
    return fixture("v-" + colour + "-" + size(w, h) + ".mp4",
                   "-f lavfi -i testsrc2=s=" + size(w, h) + ":r=30:d=8 -vf \"drawbox=c=" + colour +
                       ":t=fill:w=iw/4:h=ih/4\" -c:v libx264 -preset veryfast -g 30 -pix_fmt yuv420p");
}

std::filesystem::path still(int w, int h, const std::string& colour) {
    return fixture("s-" + colour + "-" + size(w, h) + ".png",
                   "-f lavfi -i testsrc=s=" + size(w, h) + " -vf \"drawbox=c=" + colour +
                       ":t=fill:w=iw/3:h=ih/3\" -frames:v 1");
}

// What a display window does each frame: presents the stage into a target of its own, fenced and flushed.
class HeadlessView final : public StageViewTarget {
public:
    HeadlessView(int w, int h) : drawable_{w, h, 1} {}
    bool presentable() const override { return true; }
    void present(StageCompositor& compositor) override { ring_.publish(compositor, drawable_, 0); }
    double cornerRadius() const override { return 0; }

private:
    StageDrawable drawable_;
    StagePresentRing ring_;
};

struct Cut {
    const char* kind;
    std::string id;
};

void BM_CutSequence(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    bench::BenchStage s(false, w, h);  // the benchmark ticks the renderer itself
    auto& q = s.q;
    auto& r = s.r;
    auto& store = s.store;
    auto& items = s.items;
    s.add("v1", MediaKind::video, video(w, h, "red"));
    s.add("v2", MediaKind::video, video(w, h, "blue"));
    s.add("s1", MediaKind::image, still(w, h, "green"));
    s.add("s2", MediaKind::image, still(w, h, "yellow"));
    auto view = std::make_shared<HeadlessView>(w, h);
    r->addView(view);

    // Every kind of cut, the still-to-video one also after the layer was cleared.
    const std::vector<Cut> cuts = {{"start", "s1"},        {"still>video", "v1"}, {"video>video", "v2"},
                                   {"video>still", "s2"},  {"still>still", "s1"}, {"still>video", "v2"},
                                   {"video>video", "v1"},  {"video>still", "s1"}, {"clear", ""},
                                   {"cleared>video", "v2"}, {"video>still", "s2"}};
    struct Figures {
        double worst = 0;
        int overBudget = 0, overTwice = 0, uploadBound = 0, lost = 0, ticks = 0;
    };
    std::map<std::string, Figures> byCut;
    Figures all;
    double worstUpload = 0;

    for (auto _ : state) {
        for (const Cut& cut : cuts) {
            if (cut.id.empty())
                store.clearLayer(LayerId::media);
            else
                store.trigger(items[cut.id], {.layer = LayerId::media, .loop = true,
                                              .transitionType = TransitionType::cut});
            Figures& f = byCut[cut.kind];
            const double start = appClock().monotonic();
            double due = start;
            std::function<void()> pace = [&] {
                const double now = appClock().monotonic();
                // A tick that overran skips the intervals it ate, as a display link would.
                const int missed = int((now - due) / kFrame);
                f.lost += missed, all.lost += missed;
                due += kFrame * (missed + 1);
                const double uploadsBefore = r->compositor().uploadSeconds();
                const auto t0 = std::chrono::steady_clock::now();
                r->tick(now);
                const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                const double uploads = r->compositor().uploadSeconds() - uploadsBefore;
                worstUpload = std::max(worstUpload, uploads);
                for (Figures* x : {&f, &all}) {
                    ++x->ticks;
                    x->worst = std::max(x->worst, spent);
                    if (spent > kFrame) {
                        ++x->overBudget;
                        if (uploads > spent / 2) ++x->uploadBound;
                    }
                    if (spent > 2 * kFrame) ++x->overTwice;
                }
                if (now - start >= kHold)
                    q.quit();
                else
                    q.postAfter(std::max(0.0, due - appClock().monotonic()), pace);
            };
            q.post(pace);
            q.run();
        }
    }
    for (const auto& [kind, f] : byCut) {
        state.counters[kind + "_worst_ms"] = f.worst * 1000;
        state.counters[kind + "_over2x"] = f.overTwice;
    }
    state.counters["worst_ms"] = all.worst * 1000;
    state.counters["over_budget"] = all.overBudget;
    state.counters["over_2x"] = all.overTwice;
    state.counters["upload_bound"] = all.uploadBound;
    state.counters["lost_frames"] = all.lost;
    state.counters["ticks"] = all.ticks;
    state.counters["worst_upload_ms"] = worstUpload * 1000;
    state.counters["uploads_skipped"] = double(r->compositor().uploadsSkipped());
    state.counters["frames_dropped"] = double(r->compositor().framesDropped());
    r->removeView(view.get());
    r.reset();
}
BENCHMARK(BM_CutSequence)->Args({1920, 1080})->Args({640, 360})->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
