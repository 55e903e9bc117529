// The board's sections with a search, as computed on every keystroke in the search field: 1000 probed clips
// in 20 playlists (the goal is well under 2 ms per call). Names mix ASCII with accented ones so that both
// ways of folding are measured.
#include <benchmark/benchmark.h>

#include "App/Board.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Uuid.hpp"

using namespace ombry;

namespace {

void fill(Library& library, int clips, int playlists, bool accented) {
    std::vector<MediaItem> media;
    std::vector<Group> groups(static_cast<std::size_t>(playlists));
    for (int g = 0; g < playlists; ++g) {
        groups[std::size_t(g)].id = makeUuid();
        groups[std::size_t(g)].name = "Playlist " + std::to_string(g);
        groups[std::size_t(g)].color = "#5f6670";
    }
    for (int i = 0; i < clips; ++i) {
        MediaItem m;
        m.id = makeUuid();
        m.kind = MediaKind::video;
        m.name = (accented && i % 4 == 0 ? "Caf\u00E9 Sc\u00E8ne " : "Opening Scene ") + std::to_string(i) + ".mov";
        m.path = "/media/show/" + m.name;
        m.duration = 12.5;
        m.width = 1920;
        m.height = 1080;
        m.fps = 29.97;
        m.order = i;
        groups[std::size_t(i % playlists)].mediaIds.push_back(m.id);
        media.push_back(std::move(m));
    }
    library.setMedia(std::move(media));
    library.setGroups(std::move(groups));
}

void run(benchmark::State& state, bool accented, const std::string& search) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    Library library;
    fill(library, 1000, 20, accented);
    const std::set<SidebarItem> all{SidebarItem::allPlaylists()};
    std::size_t shown = 0;
    for (auto _ : state) {
        auto sections = board::boardSections(library, all, search);
        shown = board::visibleIds(sections).size();
        benchmark::DoNotOptimize(sections);
    }
    state.counters["shown"] = double(shown);
}

void BM_BoardSectionsSearchAscii(benchmark::State& state) { run(state, false, "scene 1"); }
void BM_BoardSectionsSearchAccented(benchmark::State& state) { run(state, true, "sc\u00C8ne"); }
void BM_BoardSectionsNoSearch(benchmark::State& state) { run(state, true, ""); }

}  // namespace

BENCHMARK(BM_BoardSectionsSearchAscii)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BoardSectionsSearchAccented)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BoardSectionsNoSearch)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
