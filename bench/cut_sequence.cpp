// Cuts on the media layer in real time, through the stage renderer on the headless GL context: still to
// video, video to still, video to video, still to still, each held long enough to catch a late stall.
// Reports the worst tick, the ticks over the 60 fps budget and over twice the budget, the frames lost
// (intervals the frame loop missed), and how many of the slow ticks the texture uploads account for.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

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

// One tick as the frame loop saw it: when it began, how long since the one before (nothing for the
// first after a cut), the intervals the loop missed before it, and how long the tick itself took.
struct Tick {
    double at = 0;
    std::optional<double> gap;
    int missed = 0;
    double spent = 0;
    double cpu = 0;      // of `spent`, time the main thread ran (the rest it waited or was descheduled)
    double uploads = 0;  // of `spent`, turning frames and stills into textures
};

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Ticks the renderer in real time at 60 Hz for `hold` seconds, as a display link would: a tick that
// overran skips the intervals it ate. `each` sees every tick.
void runPaced(bench::BenchStage& s, double hold, const std::function<void(const Tick&)>& each) {
    const double start = appClock().monotonic();
    double due = start;
    std::optional<double> last;
    std::function<void()> pace = [&] {
        Tick t;
        t.at = appClock().monotonic();
        if (last) t.gap = t.at - *last;
        last = t.at;
        t.missed = std::max(0, int((t.at - due) / kFrame));
        due += kFrame * (t.missed + 1);
        const double uploadsBefore = s.r->compositor().uploadSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const double cpu0 = threadCpuSeconds();
        s.r->tick(t.at);
        t.cpu = threadCpuSeconds() - cpu0;
        t.spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        t.uploads = s.r->compositor().uploadSeconds() - uploadsBefore;
        each(t);
        if (t.at - start >= hold)
            s.q.quit();
        else
            s.q.postAfter(std::max(0.0, due - appClock().monotonic()), pace);
    };
    s.q.post(pace);
    s.q.run();
}

void BM_CutSequence(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    bench::BenchStage s(false, w, h);  // the benchmark ticks the renderer itself
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
            runPaced(s, kHold, [&](const Tick& t) {
                worstUpload = std::max(worstUpload, t.uploads);
                for (Figures* x : {&f, &all}) {
                    x->lost += t.missed;
                    ++x->ticks;
                    x->worst = std::max(x->worst, t.spent);
                    if (t.spent > kFrame) {
                        ++x->overBudget;
                        if (t.uploads > t.spent / 2) ++x->uploadBound;
                    }
                    if (t.spent > 2 * kFrame) ++x->overTwice;
                }
            });
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

// Many cuts in a row, still to video and video to video (each followed by a cut back to a still), held
// 2 s after a still>video cut (a long stall once came 1.9 s after one) and 0.5 s otherwise. Everything the
// main thread runs between frames counts: the figures are the intervals between frame starts, beside the
// ticks themselves. Arguments: stage width, height and the number of counted cuts.
void BM_RepeatedCuts(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const int counted = int(state.range(2));
    bench::BenchStage s(false, w, h);
    auto& r = s.r;
    s.add("v1", MediaKind::video, video(w, h, "red"));
    s.add("v2", MediaKind::video, video(w, h, "blue"));
    s.add("s1", MediaKind::image, still(w, h, "green"));
    s.add("s2", MediaKind::image, still(w, h, "yellow"));
    auto view = std::make_shared<HeadlessView>(w, h);
    r->addView(view);

    std::vector<double> intervals, ticks, cpus;
    std::map<std::string, double> worstAfter;  // worst interval by the kind of the last cut
    double worstGap = 0, worstAt = 0;           // the worst interval, seconds after its cut
    double worstTick = 0, worstTickAt = 0, worstTickCpu = 0;  // the worst tick, seconds after its cut
    std::string worstKind, worstTickKind;
    for (auto _ : state) {
        // still>video, video>video, video>still, … : two counted cuts in every three.
        const char* order[] = {"v1", "v2", "s1", "v2", "v1", "s2"};
        int done = 0;
        std::string previous = "s1";
        s.store.trigger(s.items["s1"], {.layer = LayerId::media, .loop = true, .transitionType = TransitionType::cut});
        for (int i = 0; done < counted; ++i) {
            const std::string id = order[i % 6];
            const bool fromStill = previous[0] == 's', toStill = id[0] == 's';
            const std::string kind = toStill ? "video>still" : fromStill ? "still>video" : "video>video";
            if (!toStill) ++done;
            previous = id;
            s.store.trigger(s.items[id], {.layer = LayerId::media, .loop = true, .transitionType = TransitionType::cut});
            const double cutAt = appClock().monotonic();
            runPaced(s, kind == "still>video" ? 2.0 : 0.5, [&](const Tick& t) {
                ticks.push_back(t.spent);
                cpus.push_back(t.cpu);
                if (t.spent > worstTick) {
                    worstTick = t.spent;
                    worstTickCpu = t.cpu;
                    worstTickAt = t.at - cutAt;
                    worstTickKind = kind;
                }
                if (!t.gap) return;
                intervals.push_back(*t.gap);
                worstAfter[kind] = std::max(worstAfter[kind], *t.gap);
                if (*t.gap > worstGap) {
                    worstGap = *t.gap;
                    worstAt = t.at - cutAt;
                    worstKind = kind;
                }
            });
        }
    }
    auto at = [](std::vector<double> v, double p) {
        if (v.empty()) return 0.0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))] * 1000;
    };
    state.counters["worst_interval_ms"] = at(intervals, 1.0);
    state.counters["p99_interval_ms"] = at(intervals, 0.99);
    state.counters["worst_tick_ms"] = at(ticks, 1.0);
    state.counters["p99_tick_ms"] = at(ticks, 0.99);
    state.counters["worst_tick_cpu_ms"] = worstTickCpu * 1000;  // what the worst tick ran itself
    state.counters["p99_tick_cpu_ms"] = at(cpus, 0.99);
    state.counters["max_tick_cpu_ms"] = at(cpus, 1.0);
    state.counters["worst_s_after_cut"] = worstAt;
    for (const auto& [kind, worst] : worstAfter) state.counters[kind + "_worst_interval_ms"] = worst * 1000;
    state.counters["over_2_intervals"] =
        double(std::count_if(intervals.begin(), intervals.end(), [](double g) { return g > 2 * kFrame; }));
    std::printf("worst interval %.3f s after a %s cut; worst tick %.3f s after a %s cut\n", worstAt,
                worstKind.c_str(), worstTickAt, worstTickKind.c_str());
    r->removeView(view.get());
    r.reset();
}
BENCHMARK(BM_RepeatedCuts)->Args({1280, 720, 200})->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
