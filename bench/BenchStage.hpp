#pragma once
// A stage renderer on the benchmark's headless GL context, run by a real-time loop, with the media
// items that takes resolve by id.
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "BenchGl.hpp"
#include "Engine/Model/ProgramStore.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/NativeLayerHost.hpp"
#include "Render/NativeStageRenderer.hpp"

namespace ombry::bench {

// The media layer draws `cueId`'s picture fully and nothing of the other slot: a cut has landed.
inline bool showsFully(const NativeStageRenderer& r, const std::string& cueId, double now) {
    auto* host = r.host(LayerId::media);
    for (int i = 0; i < 2; ++i) {
        const auto& slot = host->slot(i);
        if (slot.cue && slot.cue->cueId == cueId && slot.media && slot.media->texture &&
            slot.visual.opacity.value(now) == 1 && host->slot(1 - i).visual.opacity.value(now) == 0)
            return true;
    }
    return false;
}

// Runs the loop until `pred` holds (checked every millisecond).
inline void runUntil(LoopQueue& q, const std::function<bool()>& pred) {
    std::function<void()> check = [&] {
        if (pred())
            q.quit();
        else
            q.postAfter(0.001, check);
    };
    q.post(check);
    q.run();
}

struct BenchStage {
    LoopQueue q;
    ScopedMainQueue scope{q};
    std::unique_ptr<NativeStageRenderer> r;
    ProgramStore store;
    std::map<std::string, MediaItem> items;

    // `clock`: frames paced by a 60 Hz timer; without it the benchmark ticks the renderer itself.
    explicit BenchStage(bool clock, int width = 1920, int height = 1080)
        : store(StageConfig{width, height, 60, "transparent"}) {
        glContext().makeCurrent();
        RendererOptions options;
        if (clock) options.frameClock = std::make_unique<TimerFrameClock>(60);
        options.audioOutput = media::AudioOutput::createNull(true);
        r = NativeStageRenderer::create(glContext(), nullptr, std::move(options));
        r->resolvePath = [this](const std::string& id) -> std::optional<std::string> {
            auto it = items.find(id);
            return it == items.end() ? std::nullopt : std::optional<std::string>(it->second.path);
        };
        store.onChange = [this](const ProgramState& s) { r->apply(s); };
        r->apply(store.state());
    }

    void add(const std::string& id, MediaKind kind, const std::filesystem::path& path) {
        MediaItem m;
        m.id = id;
        m.name = id;
        m.kind = kind;
        m.path = path.string();
        items[id] = m;
    }

    bool showsFully(const std::string& cueId, double now) const { return bench::showsFully(*r, cueId, now); }
    void runUntil(const std::function<bool()>& pred) { bench::runUntil(q, pred); }
};

}  // namespace ombry::bench
