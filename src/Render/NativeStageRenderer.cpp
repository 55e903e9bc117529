#include "Render/NativeStageRenderer.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "Platform/Clock.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"
#include "Render/NativeLayerHost.hpp"

namespace ombry {

namespace {
constexpr std::array<LayerId, 4> kLayers = {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio};
constexpr std::array<LayerId, 3> kVisualLayers = {LayerId::background, LayerId::media, LayerId::overlay};
constexpr int kBlackFadeMs = 250;
}  // namespace

std::unique_ptr<NativeStageRenderer> NativeStageRenderer::create(GpuContext& context, MeterEngine* meterEngine,
                                                                 RendererOptions options,
                                                                 std::unique_ptr<StageProgramBuild> programs) {
    auto compositor = StageCompositor::create(context, std::move(programs));
    if (!compositor.ok()) {
        Issue::log(IssueCode::rendererFailed, std::nullopt, compositor.error().message);
        return nullptr;
    }
    std::unique_ptr<NativeStageRenderer> r(new NativeStageRenderer());
    r->compositor_ = std::move(compositor.value());
    r->audioBus_ = std::make_shared<ProgramAudioBus>();
    r->audioOutput_ = options.audioOutput ? options.audioOutput : media::AudioOutput::create();
    r->draws_.reserve(7);

    NativeStageRenderer* self = r.get();
    std::weak_ptr<bool> alive = r->alive_;
    for (LayerId layer : kLayers) {
        auto host = std::make_shared<NativeLayerHost>(layer, *r->compositor_, meterEngine, r->monitorAudible_,
                                                      r->audioBus_, r->audioOutput_);
        // The hosts die with the renderer; the flag covers a callback running during its destruction.
        host->resolvePath = [self, alive](const std::string& id) -> std::optional<std::string> {
            if (alive.expired() || !self->resolvePath) return std::nullopt;
            return self->resolvePath(id);
        };
        host->onStatus = [self, alive](const TransportStatus& status) {
            if (!alive.expired() && self->onStatus) self->onStatus(status);
        };
        host->onError = [self, alive, layer](const std::string& cueId, IssueCode code) {
            if (!alive.expired() && self->onError) self->onError(layer, cueId, code);
        };
        host->onEnding = [self, alive, layer](const std::string& cueId) {
            if (!alive.expired() && self->onEnding) self->onEnding(layer, cueId);
        };
        host->onLoaded = [self, alive, layer](const std::string& cueId) {
            if (!alive.expired() && self->onLoaded) self->onLoaded(layer, cueId);
        };
        r->hosts_[layer] = std::move(host);
    }
    r->applyStageGeometry();
    r->setFrameClock(std::move(options.frameClock));
    return r;
}

NativeStageRenderer::~NativeStageRenderer() {
    if (frameClock_) frameClock_->stop();
    alive_.reset();
    hosts_.clear();
}

bool NativeStageRenderer::awaitPrograms() {
    const auto error = compositor_->awaitPrograms();
    if (error && !programsFailureLogged_) {
        programsFailureLogged_ = true;
        Issue::log(IssueCode::rendererFailed, std::nullopt, error->message);
    }
    return !error;
}

NativeLayerHost* NativeStageRenderer::host(LayerId layer) const {
    auto it = hosts_.find(layer);
    return it == hosts_.end() ? nullptr : it->second.get();
}

void NativeStageRenderer::setFrameClock(std::unique_ptr<FrameClock> clock) {
    if (frameClock_) frameClock_->stop();
    frameClock_ = std::move(clock);
    if (frameClock_) frameClock_->start([this](double now) { tick(now); });
}

std::array<float, 4> NativeStageRenderer::cssColor(const std::string& css) {
    if (css.size() != 7 || css[0] != '#') return {0, 0, 0, 0};
    for (size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(css[i]))) return {0, 0, 0, 0};
    const unsigned long value = std::strtoul(css.c_str() + 1, nullptr, 16);
    if (value == 0) return {0, 0, 0, 0};
    return {float((value >> 16) & 0xff) / 255.0f, float((value >> 8) & 0xff) / 255.0f, float(value & 0xff) / 255.0f,
            1.0f};
}

void NativeStageRenderer::apply(const ProgramState& state) {
    if (state.rev < lastRev_) return;
    lastRev_ = state.rev;
    setStage(state.stage);
    for (LayerId layer : kLayers) {
        auto* h = host(layer);
        if (!h) continue;
        if (h->master() != state.masterVolume) h->setMaster(state.masterVolume);
        h->apply(state.layers[layer].active);
    }
    setBlack(state.black);
}

void NativeStageRenderer::setStage(const StageConfig& stage) {
    const bool sizeChanged = stage.width != stage_.width || stage.height != stage_.height;
    const bool backgroundChanged = stage.background != stage_.background;
    stage_ = stage;
    if (sizeChanged) applyStageGeometry();
    if (sizeChanged || backgroundChanged) background_ = cssColor(stage.background);
}

void NativeStageRenderer::applyStageGeometry() {
    const StageSize size{double(stage_.width), double(stage_.height)};
    compositor_->setStageSize(size);
    for (auto& [layer, h] : hosts_) h->setStageSize(size);
}

void NativeStageRenderer::setBlack(bool on) {
    const float target = on ? 1.0f : 0.0f;
    const double now = appClock().monotonic();
    const float from = blackOpacity_.value(now);
    if (from == target) return;
    // From where the fade stands, so a quick on-off reverses smoothly.
    blackOpacity_ = Tween{from, target, now, kBlackFadeMs};
}

void NativeStageRenderer::setCompositeConsumer(const std::string& key, std::optional<CompositeConsumer> body) {
    std::erase_if(compositeConsumers_, [&](const auto& entry) { return entry.first == key; });
    if (body && *body) compositeConsumers_.emplace_back(key, std::move(*body));
}

void NativeStageRenderer::setMonitorDevice(std::optional<std::string> deviceUid) {
    // One monitor stream mixes every player, so moving it moves the playing and the prepared clips at once.
    for (auto& [layer, h] : hosts_) h->setMonitorDevice(deviceUid);
    if (audioOutput_) audioOutput_->setDevice(std::move(deviceUid));
}

void NativeStageRenderer::setMonitorAudible(bool audible) {
    if (audible == monitorAudible_) return;
    monitorAudible_ = audible;
    for (auto& [layer, h] : hosts_) h->setMonitorAudible(audible);
}

void NativeStageRenderer::prepare(LayerId layer, const std::string& mediaId, MediaKind kind,
                                  std::optional<double> trimStart, std::optional<double> trimEnd) {
    for (auto& [other, h] : hosts_)
        if (other != layer) h->discardPrepared();
    if (auto* h = host(layer)) h->prepare(mediaId, kind, trimStart, trimEnd);
}

void NativeStageRenderer::applyTransport(LayerId layer, const std::string& action, std::optional<double> time) {
    if (auto* h = host(layer)) h->applyTransport(action, time);
}

void NativeStageRenderer::addView(const std::weak_ptr<StageViewTarget>& view) {
    auto strong = view.lock();
    if (!strong) return;
    for (const auto& v : views_)
        if (v.lock() == strong) return;
    views_.push_back(view);
}

void NativeStageRenderer::removeView(const StageViewTarget* view) {
    std::erase_if(views_, [&](const auto& v) {
        auto strong = v.lock();
        return !strong || strong.get() == view;
    });
}

void NativeStageRenderer::tick(double now) {
    const double fps = double(std::max<int64_t>(1, stage_.fps));
    // The clock may run faster than the stage (a 120 Hz screen); compose at the stage rate only.
    if (now - lastComposite_ < 1.0 / fps - 0.001) return;
    lastComposite_ = now;

    draws_.clear();
    for (LayerId layer : kVisualLayers)
        if (auto* h = host(layer)) h->collectDraws(draws_, now);
    const float black = blackOpacity_.value(now);
    if (black > 0) {
        const StageSize size = compositor_->stageSize();
        draws_.push_back(StageDraw::solid({0, 0, 0}, StageQuad::rect({0, 0, size.width, size.height}, {}, size), black));
    }
    const bool rendered = compositor_->render(draws_, background_);
    draws_.clear();  // keeps the capacity; lets go of the frame's textures
    if (!rendered) return;
    ++framesComposed_;

    // By index: a consumer may add or remove consumers while it runs.
    for (size_t i = 0; i < compositeConsumers_.size(); ++i) {
        auto body = compositeConsumers_[i].second;
        body(compositor_->target(), int(fps));
    }
    for (size_t i = 0; i < views_.size();) {
        auto view = views_[i].lock();
        if (!view) {
            views_.erase(views_.begin() + std::ptrdiff_t(i));
            continue;
        }
        if (view->presentable()) view->present(*compositor_);
        ++i;
    }
    compositor_->flushTextureCache();
}

}  // namespace ombry
