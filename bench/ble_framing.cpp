// Cost of turning a state snapshot of 1000 clips into Bluetooth notification values: compressing it and
// cutting it into chunks (goal: under 1 ms, as it runs on every program change).
#include <benchmark/benchmark.h>

#include "Engine/Control/ControlSnapshot.hpp"
#include "Engine/Servers/ControlBLE.hpp"

namespace {

using ombry::BLEBytes;

// A snapshot of 1000 clips in 20 playlists, one of them live, as the application state builds it.
BLEBytes snapshotOf1000Clips() {
    ombry::ControlSnapshot snapshot;
    snapshot.host = "Stage Left";
    snapshot.rev = 42;
    snapshot.live = true;
    for (int i = 1; i <= 1000; ++i) {
        ombry::ControlClip c;
        c.index = i;
        c.id = "5E0A7C1B-3F2D-4B8E-9C6A-" + std::to_string(100000000000 + i);
        c.name = "Clip number " + std::to_string(i) + ".mp4";
        c.kind = i % 7 == 0 ? ombry::MediaKind::image : ombry::MediaKind::video;
        c.playlist = "Playlist " + std::to_string(i % 20);
        c.duration = 12.5 + i;
        c.live = i == 3;
        c.thumbAt = 1.7e12 + i;
        snapshot.clips.push_back(c);
    }
    for (int g = 0; g < 20; ++g) snapshot.groups->push_back({"Playlist " + std::to_string(g), "#FF8800", "star"});
    ombry::ControlLayer live;
    live.mediaId = snapshot.clips[2].id;
    live.name = snapshot.clips[2].name;
    live.playing = true;
    live.activatedAt = 1.7e12;
    live.currentTime = 3.25;
    live.duration = 15.5;
    snapshot.layers.media = live;
    snapshot.transport = ombry::ControlTransport{ombry::LayerId::media, 3.25, 15.5, true};
    const std::string text = ombry::wireText(snapshot);
    return BLEBytes(text.begin(), text.end());
}

void BM_CompressAndChunkSnapshot(benchmark::State& state) {
    const BLEBytes json = snapshotOf1000Clips();
    const int maxChunk = int(state.range(0));
    size_t chunks = 0, packedSize = 0;
    for (auto _ : state) {
        auto packed = ombry::BLEFrame::compress(json);
        packedSize = packed ? packed->size() : json.size();
        ombry::BLEMessageChunker c(packed ? std::move(*packed) : json, 5, packed ? ombry::kBLECompressed : 0);
        chunks = 0;
        while (auto chunk = c.next(maxChunk)) {
            benchmark::DoNotOptimize(chunk->data());
            ++chunks;
        }
    }
    state.counters["jsonBytes"] = double(json.size());
    state.counters["sentBytes"] = double(packedSize);
    state.counters["chunks"] = double(chunks);
}
// 20: the smallest link (ATT MTU 23); 182: a common phone MTU of 185.
BENCHMARK(BM_CompressAndChunkSnapshot)->Arg(20)->Arg(182)->Unit(benchmark::kMicrosecond);

void BM_ChunkOnly(benchmark::State& state) {
    const BLEBytes json = snapshotOf1000Clips();
    for (auto _ : state) {
        ombry::BLEMessageChunker c(json, 5, 0);
        while (auto chunk = c.next(182)) benchmark::DoNotOptimize(chunk->data());
    }
}
BENCHMARK(BM_ChunkOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
