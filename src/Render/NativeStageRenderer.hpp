#pragma once
// The program renderer: program state in, composed stage frames out.
//
// What the application state calls (main thread only):
//   auto r = NativeStageRenderer::create(gpuContext, &meterEngine, {.frameClock = ..., .audioOutput = ...});
//   r->resolvePath / onStatus / onError / onEnding / onLoaded     (set once, plain std::function members)
//   r->apply(state)                                      every ProgramStore change
//   r->applyTransport(layer, action, time)               every ProgramStore transport command
//   r->prepare(layer, mediaId, kind, trimStart, trimEnd) preload the next clip
//   r->setMonitorDevice(uid)
//   r->setMonitorAudible(on)
//   r->awaitPrograms()                                   before the first show, when built on a worker
// What the outputs call:
//   r->setCompositeConsumer("ndi" | "syphon", body | nullopt)
//   r->addView(weakView) / r->removeView(view)
//   r->compositor()                                      the GL context, stage size and target
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Engine/Model/Issues.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Platform/Gpu/GpuContext.hpp"
#include "Render/FrameClock.hpp"
#include "Render/StageCompositor.hpp"
#include "Render/StageViewTarget.hpp"
#include "Render/Tween.hpp"

namespace ombry {

namespace media {
class AudioOutput;
}
class MeterEngine;
class ProgramAudioBus;
class NativeLayerHost;

// Called once per composed frame, on the main thread, right after the stage was drawn, with the GL
// context current: `stage` is the compositor's target (RGBA 8-bit premultiplied, the stage's top row in
// texture row 0) and `fps` the stage frame rate. GL has no command buffer to hand over: a consumer issues
// its own GL work now (a conversion pass, an asynchronous readback) and must not block or wait on the GPU.
using CompositeConsumer = std::function<void(const GpuRenderTarget& stage, int fps)>;

struct RendererOptions {
    // Paces tick(); none means the caller ticks (tests, benchmarks). Started at creation.
    std::unique_ptr<FrameClock> frameClock;
    // The monitor output every player of the program mixes into; none makes one for the default device.
    std::shared_ptr<media::AudioOutput> audioOutput;
};

class NativeStageRenderer {
public:
    // Null when the compositor cannot be made (the failure is logged as rendererFailed); stopping the
    // application with the fatal issue is the caller's decision. `context` must outlive the renderer and
    // be current on the main thread. The meter engine (may be null) must outlive it too.
    // `programs`: the compositor's programs being built on another thread; none builds them here.
    static std::unique_ptr<NativeStageRenderer> create(GpuContext& context, MeterEngine* meterEngine,
                                                       RendererOptions options = {},
                                                       std::unique_ptr<StageProgramBuild> programs = {});
    ~NativeStageRenderer();
    // Waits for the programs given to create() (the first frame would); false, with the failure logged
    // as rendererFailed, when they could not be built: the renderer then draws nothing.
    bool awaitPrograms();
    NativeStageRenderer(const NativeStageRenderer&) = delete;
    NativeStageRenderer& operator=(const NativeStageRenderer&) = delete;

    // Takes a program state: an older revision than the last one is ignored; the same one is applied again.
    void apply(const ProgramState& state);

    // Removes every consumer under `key`, then appends `body` at the end when given.
    void setCompositeConsumer(const std::string& key, std::optional<CompositeConsumer> body);
    // The monitor output's device (nullopt: the system default); playing and prepared clips move at once.
    void setMonitorDevice(std::optional<std::string> deviceUid);
    // Whether program audio plays on the monitor device. A change reaches every host and the taps of the
    // loaded and prepared clips at once; the current value again touches nothing.
    bool monitorAudible() const { return monitorAudible_; }
    void setMonitorAudible(bool audible);
    // Preloads a clip on one layer; every other layer drops its preload.
    void prepare(LayerId layer, const std::string& mediaId, MediaKind kind, std::optional<double> trimStart,
                 std::optional<double> trimEnd);
    // "play", "pause" or "seek" (with a time in seconds) on the layer's clip on air.
    void applyTransport(LayerId layer, const std::string& action, std::optional<double> time);
    void applyTransport(const TransportCommandMessage& command) {
        applyTransport(command.layer, command.action, command.time);
    }

    // Views are held weakly; a view that goes away leaves by itself.
    void addView(const std::weak_ptr<StageViewTarget>& view);
    void removeView(const StageViewTarget* view);

    // One frame at media-clock time `now` (appClock().monotonic()): composes only when at least
    // 1/fps - 0.001 s passed since the last composed frame. Main thread; the frame clock calls it.
    void tick(double now);
    // Replaces the frame clock (null stops ticking by itself).
    void setFrameClock(std::unique_ptr<FrameClock> clock);

    // Media id to file path; nothing for an unknown id.
    std::function<std::optional<std::string>(const std::string& mediaId)> resolvePath;
    // Playhead reports of the clip on air of each layer: every 0.25 s and on every transport event.
    std::function<void(const TransportStatus&)> onStatus;
    // A clip failed to load: the layer, the failed cue's id and the issue. The previous clip stays on air.
    std::function<void(LayerId, const std::string& cueId, IssueCode)> onError;
    // A clip that does not loop is a transition's length from its end.
    std::function<void(LayerId, const std::string& cueId)> onEnding;
    // A take's clip loaded and goes on air, whatever its kind (stills send no status reports).
    std::function<void(LayerId, const std::string& cueId)> onLoaded;

    StageCompositor& compositor() { return *compositor_; }
    const StageConfig& stage() const { return stage_; }
    NativeLayerHost* host(LayerId layer) const;
    std::shared_ptr<ProgramAudioBus> audioBus() const { return audioBus_; }
    std::shared_ptr<media::AudioOutput> audioOutput() const { return audioOutput_; }
    const Tween& blackOpacity() const { return blackOpacity_; }
    std::array<float, 4> background() const { return background_; }
    int64_t lastRev() const { return lastRev_; }
    double lastComposite() const { return lastComposite_; }
    uint64_t framesComposed() const { return framesComposed_; }

    // "#RRGGBB" as opaque straight RGBA; anything else (including "#000000") is transparent.
    static std::array<float, 4> cssColor(const std::string& css);

private:
    NativeStageRenderer() = default;
    void setStage(const StageConfig& stage);
    void applyStageGeometry();
    void setBlack(bool on);

    std::unique_ptr<StageCompositor> compositor_;
    StageConfig stage_;
    std::map<LayerId, std::shared_ptr<NativeLayerHost>> hosts_;
    Tween blackOpacity_{0, 0, 0, 0};
    std::array<float, 4> background_{0, 0, 0, 0};
    int64_t lastRev_ = -1;
    bool monitorAudible_ = false;
    bool programsFailureLogged_ = false;
    std::shared_ptr<ProgramAudioBus> audioBus_;
    std::shared_ptr<media::AudioOutput> audioOutput_;
    std::unique_ptr<FrameClock> frameClock_;
    double lastComposite_ = 0;
    uint64_t framesComposed_ = 0;
    std::vector<std::weak_ptr<StageViewTarget>> views_;
    std::vector<std::pair<std::string, CompositeConsumer>> compositeConsumers_;
    std::vector<StageDraw> draws_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ombry
