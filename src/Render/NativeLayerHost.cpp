#include "Render/NativeLayerHost.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "Platform/Clock.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Platform/Media/MediaAsset.hpp"
#include "Platform/Media/StillDecoder.hpp"
#include "Render/AssetWarmer.hpp"
#include "Render/Audio/AudioTapNode.hpp"
#include "Render/Audio/MeterEngine.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry {

namespace {

constexpr double kLoadTimeout = 8.0;
constexpr double kReadyTimeout = 2.0;
constexpr double kReportInterval = 0.25;
constexpr int kShortestRampMs = 14;

double hostNow() { return appClock().monotonic(); }

double finiteTime(double t) { return std::isfinite(t) && t > 0 ? t : 0; }

int wholeMs(double seconds) { return static_cast<int>(std::lround(seconds * 1000.0)); }

int clampMs(int64_t ms) { return static_cast<int>(std::clamp<int64_t>(ms, 0, 24 * 3600 * 1000)); }

const char* orientationName(StageOrientation o) {
    static const char* names[] = {"up",         "right",         "down",         "left",
                                  "upMirrored", "rightMirrored", "downMirrored", "leftMirrored"};
    return names[static_cast<int>(o)];
}

RenderError loadError(const media::MediaFailure& failure) {
    using Code = media::MediaFailure::Code;
    switch (failure.code) {
        case Code::missing: return {IssueCode::mediaMissing, "media file unavailable"};
        case Code::timeout: return {IssueCode::mediaTimeout, "media load timed out"};
        default: return {IssueCode::mediaFormat, failure.message.empty() ? "format not playable" : failure.message};
    }
}

void metric(const std::string& text) { Diag::metric("REN", text); }

}  // namespace

// ---------------------------------------------------------------------------------------------- SlotMedia

void SlotMedia::pullFrame(StageCompositor& compositor, double hostTime) {
    if (!videoOutput || !player) return;
    auto frame = player->latestFrame(hostTime);
    if (!frame) return;
    if (frame.get() == lastFrame_ && frame->serial == lastSerial_) return;
    if (!loggedFrameSize) {
        loggedFrameSize = true;
        const int ms = playIssuedAt == 0 ? -1 : static_cast<int>((hostTime - playIssuedAt) * 1000.0);
        metric("frame1 " + std::to_string(frame->width) + "\u00d7" + std::to_string(frame->height) + " at " +
               std::to_string(ms) + "ms" + logLabel);
    }
    // A frame the GPU could not take now (busy or refused) is tried again on the next pull: a paused
    // clip gets no newer one, and would otherwise never show.
    auto made = compositor.makeVideoTexture(*frame);
    if (!made) return;
    lastFrame_ = frame.get();
    lastSerial_ = frame->serial;
    texture = std::move(made);
    ++framesDelivered;
}

// ------------------------------------------------------------------------------------------------- Host

NativeLayerHost::NativeLayerHost(LayerId id, StageCompositor& compositor, MeterEngine* meterEngine,
                                 bool monitorAudible, std::shared_ptr<ProgramAudioBus> audioBus,
                                 std::shared_ptr<media::AudioOutput> audioOutput)
    : id(id),
      compositor_(compositor),
      monitorAudible_(monitorAudible),
      meterEngine_(meterEngine),
      audioBus_(std::move(audioBus)),
      audioOutput_(std::move(audioOutput)),
      stills_(std::make_unique<media::StillLoader>()) {}

NativeLayerHost::~NativeLayerHost() {
    for (auto& slot : slots_)
        if (slot.media) dispose(*slot.media);
    if (prepared_) dispose(*prepared_);
}

void NativeLayerHost::sleepMs(int ms, std::function<void()> done) {
    if (ms <= 0)
        mainQueue().post(std::move(done));
    else
        mainQueue().postAfter(ms / 1000.0, std::move(done));
}

std::string NativeLayerHost::issueSubject(const std::string& mediaId) const {
    // The file's name; the media id when no file is known for it.
    const std::optional<std::string> path = resolvePath ? resolvePath(mediaId) : std::nullopt;
    return path && !path->empty() ? std::filesystem::path(*path).filename().string() : mediaId;
}

double NativeLayerHost::cueGain(const ActiveCue& cue) const { return std::clamp(cue.volume * master_, 0.0, 1.0); }

// ---------------------------------------------------------------------------------- media control (shared)

NativeLayerHost::Slot* NativeLayerHost::liveSlot() {
    if (reportingCueId_)
        for (auto& slot : slots_)
            if (slot.media && slot.media->cueId == *reportingCueId_) return &slot;
    return &slots_[size_t(activeIndex_)];
}

void NativeLayerHost::setMaster(double master) {
    master_ = master;
    Slot* slot = liveSlot();
    if (slot->cue && slot->media && slot->media->tap) slot->media->tap->setCueGain(cueGain(*slot->cue), 0.01);
}

void NativeLayerHost::setMonitorAudible(bool audible) {
    monitorAudible_ = audible;
    for (auto& slot : slots_)
        if (slot.media) followMonitor(*slot.media);
    if (prepared_) followMonitor(*prepared_);
}

void NativeLayerHost::followMonitor(SlotMedia& media) const {
    // The audio thread ramps toward the target by itself.
    if (media.tap) media.tap->monitorGainTarget.store(monitorAudible_ ? 1.0 : 0.0);
}

void NativeLayerHost::play(SlotMedia& media) {
    if (!media.player) return;
    if (media.ended) {
        media.ended = false;
        media.endingFired = false;
        media.player->seek(media.trimStart);
    }
    media.playIssuedAt = hostNow();
    if (media.tap) media.tap->playIssuedAt.store(media.playIssuedAt);
    media.player->play();
    report(media, false);
}

void NativeLayerHost::report(SlotMedia& media, bool ended) {
    if (!reportingCueId_ || *reportingCueId_ != media.cueId || !media.player || !onStatus) return;
    TransportStatus status;
    status.layer = id;
    status.cueId = media.cueId;
    status.mediaId = media.mediaId;
    status.currentTime = finiteTime(media.player->currentTime());
    // A file that does not give its length reports 0 until the player has found its end.
    status.duration = media.duration > 0 ? media.duration : finiteTime(media.player->duration());
    status.playing = media.player->rate() > 0 && !media.ended;
    status.ended = ended;
    onStatus(status);
}

void NativeLayerHost::dispose(SlotMedia& media) {
    if (media.disposed) return;
    media.disposed = true;
    if (media.player) {
        livePlayers_ = std::max(0, livePlayers_ - 1);
        metric("players=" + std::to_string(livePlayers_));
        if (media.timeObserver) media.player->removeObserver(*media.timeObserver);
        media.timeObserver.reset();
        for (auto observer : media.boundaryObservers) media.player->removeObserver(observer);
        media.boundaryObservers.clear();
        media.player->onEndOfItem = nullptr;
        media.endObserver = false;
    }
    if (media.tap && meterEngine_) meterEngine_->unregisterTap(media.tap.get());
    if (media.player) {
        media.player->pause();
        media.player.reset();
    }
    media.texture.reset();
}

void NativeLayerHost::attachReporting(SlotMedia& media) {
    if (!media.player || media.kind == MediaKind::image) return;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    SlotMedia* raw = &media;
    // The observer dies with the player, which the media owns: the raw pointer cannot outlive it.
    media.timeObserver = media.player->addPeriodicObserver(kReportInterval, [host, raw](double) {
        if (auto self = host.lock())
            if (!raw->disposed) self->report(*raw, false);
    });
}

void NativeLayerHost::applyLoop(SlotMedia& media) {
    if (!media.player) return;
    // The player loops by itself without a gap; otherwise it stops on the last frame.
    media.player->setActionAtEnd(media.loop ? media::ActionAtEnd::loop : media::ActionAtEnd::pause);
    media.player->setLoopStart(media.trimStart);
}

void NativeLayerHost::reachedEnd(SlotMedia& media) {
    if (media.ended || !media.player) return;
    if (!media.loop) {
        media.player->pause();
        media.ended = true;
        report(media, true);
        return;
    }
    // Looping: the player is already back at the start trim; the next pass may warn of its end again.
    media.endingFired = false;
}

// ------------------------------------------------------------------------------------------ cue chain

void NativeLayerHost::apply(std::optional<ActiveCue> cue) {
    ++applySeq_;
    // Each state describes the whole layer, so the ones queued behind a slow take collapse to the newest:
    // the layer ends where it would have, and a stuck take cannot pile up work.
    if (inRun_) queue_.clear();
    queue_.push_back(std::move(cue));
    if (running_) return;
    running_ = true;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    mainQueue().post([host] {
        if (auto self = host.lock()) self->runNext();
    });
}

void NativeLayerHost::runNext() {
    if (queue_.empty()) {
        running_ = false;
        return;
    }
    auto cue = std::move(queue_.front());
    queue_.pop_front();
    inRun_ = true;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    run(std::move(cue), [host] {
        if (auto self = host.lock()) self->inRun_ = false;
        mainQueue().post([host] {
            if (auto self = host.lock()) self->runNext();
        });
    });
}

void NativeLayerHost::run(std::optional<ActiveCue> cue, Done done) {
    if (!cue) {
        if (!current_) return done();
        return clear(current_->transition, std::move(done));
    }
    if (current_ && current_->cueId == cue->cueId) {
        current_ = cue;
        slots_[size_t(activeIndex_)].fillMode = cue->fillMode.value_or(FillMode::fit);
        slots_[size_t(activeIndex_)].cue = cue;
        syncProps(*cue);
        return done();
    }
    swapTo(std::move(*cue), std::move(done));
}

void NativeLayerHost::syncProps(const ActiveCue& cue) {
    auto& media = slots_[size_t(activeIndex_)].media;
    if (!media || media->kind == MediaKind::image || !media->player) return;
    media->loop = cue.loop;
    applyLoop(*media);
    if (media->tap) media->tap->setCueGain(cueGain(cue), 0.01);
    if (!cue.playing && media->player->rate() > 0) {
        media->player->pause();
        report(*media, false);
    } else if (cue.playing && media->player->rate() == 0 && !media->ended) {
        play(*media);
    }
}

void NativeLayerHost::swapTo(ActiveCue cue, Done done) {
    const int token = ++loadToken_;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    takePrepared(cue, [host, cue, token, done](std::shared_ptr<SlotMedia> media) {
        auto self = host.lock();
        if (!self) return;
        if (media) return self->swapLoaded(cue, token, std::move(media), done);
        self->build(cue.mediaId, cue.kind, cue.trimStart, cue.trimEnd, false,
                    [host, cue, token, done](RenderResult<std::shared_ptr<SlotMedia>> result) {
                        auto self = host.lock();
                        if (!self) return;
                        if (!result.ok()) {
                            const auto& error = result.error();
                            Issue::log(error.code, self->issueSubject(cue.mediaId), error.message);
                            if (self->onError) self->onError(cue.cueId, error.code);
                            return done();
                        }
                        self->swapLoaded(cue, token, std::move(result.value()), done);
                    });
    });
}

void NativeLayerHost::swapLoaded(ActiveCue cue, int token, std::shared_ptr<SlotMedia> media, Done done) {
    attach(*media, cue);
    if (token != loadToken_) {
        dispose(*media);
        return done();
    }
    const int in = 1 - activeIndex_;
    Slot& incoming = slots_[size_t(in)];
    Slot& outgoing = slots_[size_t(activeIndex_)];
    incoming.visual = SlotVisual::rest();
    incoming.media = media;
    incoming.cue = cue;
    incoming.fillMode = cue.fillMode.value_or(FillMode::fit);
    reportingCueId_ = cue.cueId;
    attachReporting(*media);
    if (onLoaded) onLoaded(cue.cueId);

    bool hasCover = false;
    if (!outgoing.media) {
        if (id == LayerId::background) {
            // A first take on the background rises out of black, not out of transparency.
            incoming.visual.coverOpacity = Tween{1, 1, 0, 0};
            hasCover = true;
        } else {
            incoming.visual.opacity = Tween{0, 0, 0, 0};
        }
    } else {
        outgoing.visual.zPosition = 1;
    }
    takeInFlight_ = true;

    if (media->kind != MediaKind::image) {
        media->loop = cue.loop;
        applyLoop(*media);
        if (cue.playing) play(*media);
    }
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    auto next = [host, cue, in, hasCover, done] {
        if (auto self = host.lock()) self->afterPlaying(cue, in, hasCover, done);
    };
    if (cue.playing)
        waitUntilPlaying(media, std::move(next));
    else
        next();
}

void NativeLayerHost::afterPlaying(ActiveCue cue, int in, bool hasCover, Done done) {
    Slot& incoming = slots_[size_t(in)];
    Slot& outgoing = slots_[size_t(1 - in)];
    const auto& t = cue.transition;
    const bool timed = t.durationMs > 0 && t.type != TransitionType::cut;
    const double ramp = timed ? double(t.durationMs) / 1000.0 : kShortestRampMs / 1000.0;
    if (incoming.media && incoming.media->tap) incoming.media->tap->setCueGain(cueGain(cue), ramp);
    if (outgoing.media && outgoing.media->tap) outgoing.media->tap->setCueGain(0, ramp);

    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    reveal(t, incoming, outgoing, hasCover, [host, cue, in, done] {
        auto self = host.lock();
        if (!self) return;
        const auto& t = cue.transition;
        const int waited = t.type != TransitionType::cut ? clampMs(t.durationMs) : 0;
        const int needed = t.durationMs > 0 && t.type != TransitionType::cut ? clampMs(t.durationMs) : kShortestRampMs;
        // Hold the outgoing sound until its ramp has reached silence, so cuts do not click.
        sleepMs(needed - waited, [host, cue, in, done] {
            auto self = host.lock();
            if (!self) return;
            Slot& incoming = self->slots_[size_t(in)];
            Slot& outgoing = self->slots_[size_t(1 - in)];
            self->takeInFlight_ = false;
            incoming.visual = SlotVisual::rest();
            self->activeIndex_ = in;
            self->current_ = cue;
            if (outgoing.media) self->dispose(*outgoing.media);
            outgoing.media.reset();
            outgoing.cue.reset();
            outgoing.visual = SlotVisual::idle();
            done();
        });
    });
}

void NativeLayerHost::waitUntilPlaying(std::shared_ptr<SlotMedia> media, Done done) {
    if (!media->player || media->kind == MediaKind::image) return done();
    auto wait = std::make_shared<PlayWait>();
    wait->start = hostNow();
    wait->t0 = media->player->currentTime();
    pollPlaying(std::move(media), std::move(wait), std::move(done));
}

void NativeLayerHost::pollPlaying(std::shared_ptr<SlotMedia> media, std::shared_ptr<PlayWait> wait, Done done) {
    if (media->disposed || !media->player) return done();
    auto& player = *media->player;
    const double now = hostNow();
    media->pullFrame(compositor_, now);
    bool running = false;
    if (player.readiness() == media::Readiness::ready) {
        if (player.rate() == 0 && !media->ended) {
            media->playIssuedAt = now;
            if (media->tap) media->tap->playIssuedAt.store(now);
            player.play();
            report(*media, false);
        }
        const double threshold = std::isfinite(wait->t0) ? wait->t0 + 0.001 : 0.001;
        const double t = player.currentTime();
        if (t > threshold && wait->clockMs < 0) wait->clockMs = (now - wait->start) * 1000.0;
        // A video runs once its picture is on the GPU: the load prerolled it and uploaded its first frame,
        // and its clock starts with play, so waiting for further frames would only delay the take.
        running = media->kind == MediaKind::video ? media->texture != nullptr : (t > threshold && player.rate() > 0);
    }
    if (running) {
        metric("playing after " + std::to_string(wholeMs(now - wait->start)) + "ms clock=" +
               std::to_string(static_cast<int>(wait->clockMs)) + "ms polls=" + std::to_string(wait->polls) +
               media->logLabel);
        return done();
    }
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    sleepMs(8, [host, media, wait, done] {
        auto self = host.lock();
        if (!self) return;
        if (hostNow() - wait->start >= 0.5) {
            metric("waitUntilPlaying gave up after 500ms rate=" +
                   std::to_string(media->player ? media->player->rate() : 0.0) +
                   " frames=" + std::to_string(media->framesDelivered) +
                   " clock=" + std::to_string(static_cast<int>(wait->clockMs)) +
                   "ms polls=" + std::to_string(wait->polls) + media->logLabel);
            return done();
        }
        ++wait->polls;
        self->pollPlaying(media, wait, done);
    });
}

void NativeLayerHost::clear(TransitionSpec transition, Done done) {
    ++loadToken_;
    reportingCueId_.reset();
    const int64_t seq = applySeq_;
    Slot& slot = slots_[size_t(activeIndex_)];
    const int d = clampMs(transition.durationMs);
    const int hold = d >= 15 ? d : kShortestRampMs;
    const bool cut = transition.type == TransitionType::cut;
    if (slot.media && slot.media->tap) slot.media->tap->setCueGain(0, cut ? 0.014 : hold / 1000.0);
    const double now = hostNow();
    auto& v = slot.visual;
    switch (transition.type) {
        case TransitionType::zoom:
            v.opacity = Tween{1, 0, now, d};
            v.scale = Tween{1, 0.94f, now, d};
            break;
        case TransitionType::slide:
            v.translationX = Tween{0, -float(stageSize_.width), now, d};
            break;
        default:
            v.opacity = Tween{v.opacity.value(now), 0, now, cut ? 0 : d};
            break;
    }
    clearWait(cut ? kShortestRampMs : hold, seq, std::move(done));
}

void NativeLayerHost::clearWait(int remainingMs, int64_t seq, Done done) {
    // A newer program state stops the wait; the slot stays as it is for the next cue to start from.
    if (applySeq_ != seq) return done();
    if (remainingMs <= 0) {
        Slot& slot = slots_[size_t(activeIndex_)];
        if (slot.media) dispose(*slot.media);
        slot.media.reset();
        slot.cue.reset();
        slot.visual = SlotVisual::idle();
        current_.reset();
        return done();
    }
    const int step = std::min(16, remainingMs);
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    sleepMs(step, [host, remainingMs, step, seq, done] {
        if (auto self = host.lock()) self->clearWait(remainingMs - step, seq, done);
    });
}

// ------------------------------------------------------------------------------------------ transitions

void NativeLayerHost::reveal(const TransitionSpec& transition, Slot& incoming, Slot& outgoing, bool hasCover,
                             Done done) {
    const double now = hostNow();
    const int d = clampMs(transition.durationMs);
    const float w = float(stageSize_.width);
    const bool outgoingMedia = bool(outgoing.media);
    auto& in = incoming.visual;
    auto& out = outgoing.visual;
    const Tween opaque{1, 1, 0, 0};
    switch (transition.type) {
        case TransitionType::cut:
            in.opacity = opaque;
            if (hasCover)
                in.coverOpacity = Tween{0, 0, 0, 0};
            else if (outgoingMedia)
                out.opacity = Tween{0, 0, 0, 0};
            break;
        case TransitionType::fade:
        case TransitionType::crossfade:
            if (hasCover)
                in.coverOpacity = Tween{1, 0, now, d};
            else if (!outgoingMedia)
                in.opacity = Tween{0, 1, now, d};
            else
                out.opacity = Tween{out.opacity.value(now), 0, now, d};
            break;
        case TransitionType::slide:
            if (hasCover) in.coverOpacity = Tween{0, 0, 0, 0};
            in.opacity = opaque;
            in.zPosition = 1;
            in.translationX = Tween{w, 0, now, d};
            if (outgoingMedia) {
                out.zPosition = 0;
                out.translationX = Tween{0, -w, now, d};
            }
            break;
        case TransitionType::zoom:
            if (hasCover) in.coverOpacity = Tween{0, 0, 0, 0};
            in.opacity = opaque;
            in.zPosition = 1;
            in.scale = Tween{1.12f, 1.0f, now, d};
            if (outgoingMedia) {
                out.zPosition = 0;
                out.opacity = Tween{1, 0, now, d};
                out.scale = Tween{1.0f, 0.94f, now, d};
            }
            break;
    }
    if (transition.type == TransitionType::cut) return done();
    sleepMs(d, std::move(done));
}

void NativeLayerHost::collectDraws(std::vector<StageDraw>& draws, double now) {
    for (auto& slot : slots_)
        if (slot.media) slot.media->pullFrame(compositor_, now);
    // A preload whose first picture the GPU could not take yet gets it now, still ahead of its take.
    if (prepared_ && !prepared_->texture) prepared_->pullFrame(compositor_, now);
    const StageSize stage = stageSize_;
    const int first = slots_[1].visual.zPosition < slots_[0].visual.zPosition ? 1 : 0;
    for (int i : {first, 1 - first}) {
        const Slot& slot = slots_[size_t(i)];
        const float o = slot.visual.opacity.value(now);
        const StageQuad::Transform transform{slot.visual.translationX.value(now), slot.visual.scale.value(now)};
        if (o > 0 && slot.media && slot.media->texture) {
            const auto& texture = slot.media->texture;
            const StageRect rect = placedRect(texture->presentedSize(), stage, slot.fillMode == FillMode::fill);
            draws.push_back(StageDraw::textured(texture, StageQuad::rect(rect, transform, stage), o));
        }
        if (slot.visual.coverOpacity) {
            const float c = o * slot.visual.coverOpacity->value(now);
            if (c > 0)
                draws.push_back(StageDraw::solid(
                    {0, 0, 0}, StageQuad::rect({0, 0, stage.width, stage.height}, transform, stage), c));
        }
    }
}

void NativeLayerHost::setStageSize(StageSize size) {
    stageSize_ = size;
    for (auto& slot : slots_)
        if (slot.media && slot.media->player)
            slot.media->player->setPreferredMaximumSize(int(size.width), int(size.height));
    discardPrepared();
}

// ---------------------------------------------------------------------------------------------- loading

void NativeLayerHost::build(const std::string& mediaId, MediaKind kind, std::optional<double> trimStart,
                            std::optional<double> trimEnd, bool preparing, Built built) {
    ++loadsStarted_;
    ++loadsInFlight_;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    Built done = [host, built = std::move(built)](RenderResult<std::shared_ptr<SlotMedia>> result) {
        if (auto self = host.lock()) {
            --self->loadsInFlight_;
            // The tap was made with the value of when the load began; the monitor may have been switched since.
            if (result.ok() && result.value()) self->followMonitor(*result.value());
        }
        built(std::move(result));
    };
    auto fail = [done](RenderError error) { mainQueue().post([done, error] { done(error); }); };
    std::optional<std::string> path = resolvePath ? resolvePath(mediaId) : std::nullopt;
    std::error_code ec;
    if (!path || path->empty() || !std::filesystem::is_regular_file(*path, ec))
        return fail({IssueCode::mediaMissing, "media file unavailable"});
    const std::string label =
        Diag::mediaNamesInLog() ? " file=" + std::filesystem::path(*path).filename().string() : std::string();

    if (kind == MediaKind::image) {
        const double minHeight = stageSize_.height;
        const media::StillSize needed{int(stageSize_.width), int(stageSize_.height)};
        stills_->load(*path, needed, [host, done, mediaId, label, minHeight](media::StillResult result) {
            auto self = host.lock();
            if (!self) return;
            const RenderError unreadable{IssueCode::imageUnreadable, "image failed to load"};
            StillImage pixels;
            if (auto* still = std::get_if<StillImage>(&result)) {
                pixels = std::move(*still);
            } else if (auto* vector = std::get_if<std::shared_ptr<const ScalableImage>>(&result)) {
                // A vector picture is drawn at least as tall as the stage.
                auto raster = StageCompositor::rasterize(**vector, minHeight);
                if (!raster.ok()) return done(unreadable);
                pixels = std::move(raster.value());
            } else {
                return done(unreadable);
            }
            auto texture = self->compositor_.makeImageTexture(std::move(pixels));
            if (!texture.ok()) {
                // The GPU refusing one picture is that clip's problem, not the renderer failing.
                RenderError error = texture.error();
                if (error.code == IssueCode::rendererFailed) error.code = IssueCode::mediaFormat;
                return done(error);
            }
            auto media = std::make_shared<SlotMedia>();
            media->kind = MediaKind::image;
            media->mediaId = mediaId;
            media->logLabel = label;
            media->texture = std::move(texture.value());
            done(std::move(media));
        });
        return;
    }

    std::shared_ptr<media::MediaAsset> asset = preparing ? nullptr : AssetWarmer::take(*path);
    if (!asset) asset = media::MediaAsset::open(*path);
    const double start = PreparedMediaKey::normalisedTrim(trimStart);
    const double end = PreparedMediaKey::normalisedTrim(trimEnd);
    withTimeout<media::AssetInfo>(
        kLoadTimeout,
        [asset](std::function<void(RenderResult<media::AssetInfo>)> resolve) {
            // The deadline is ours; the asset's own one only guards against a load that never ends.
            asset->load(kLoadTimeout * 4, [resolve](const media::MediaAsset::LoadResult& r) {
                if (r.first)
                    resolve(*r.first);
                else
                    resolve(loadError(r.second.value_or(media::MediaFailure{})));
            });
        },
        [host, asset, kind, mediaId, start, end, preparing, label, done](RenderResult<media::AssetInfo> info) {
            auto self = host.lock();
            if (!self) return;
            if (!info.ok()) {
                if (info.error().code == IssueCode::mediaTimeout) asset->cancel();
                return done(info.error());
            }
            if (!info->playable) return done(RenderError{IssueCode::mediaFormat, "format not playable"});
            self->buildPlayer(asset, info.value(), kind, mediaId, start, end, preparing, label, done);
        });
}

void NativeLayerHost::buildPlayer(std::shared_ptr<media::MediaAsset> asset, const media::AssetInfo& info,
                                  MediaKind kind, const std::string& mediaId, double trimStart, double trimEnd,
                                  bool preparing, std::string logLabel, Built done) {
    media::PlayerOptions options;
    options.forwardEndTime = trimEnd;
    options.maxWidth = int(stageSize_.width);
    options.maxHeight = int(stageSize_.height);
    options.video = kind == MediaKind::video && info.hasVideo;
    std::string pool = "source";
    if (options.video)
        if (auto size = media::fittedDeliverySize(info.width, info.height, stageSize_.width, stageSize_.height)) {
            options.outputWidth = size->width;
            options.outputHeight = size->height;
            pool = std::to_string(size->width) + "x" + std::to_string(size->height);
        }
    std::shared_ptr<AudioTapNode> tap;
    if (info.hasAudio) {
        tap = std::make_shared<AudioTapNode>(monitorAudible_, audioBus_);
        options.processor = AudioTapNode::makeAudioMix(tap);
        if (!options.processor) tap.reset();
    }
    options.output = audioOutput_;

    auto media = std::make_shared<SlotMedia>();
    media->kind = kind;
    media->mediaId = mediaId;
    media->logLabel = std::move(logLabel);
    media->player = std::make_unique<media::MediaPlayer>(std::move(asset), options);
    media->player->setMuted(true);
    media->videoOutput = options.video;
    media->tap = std::move(tap);
    media->orientation = options.video ? info.orientation : StageOrientation::up;
    media->duration = std::isfinite(info.duration) && info.duration > 0 ? info.duration : 0;
    // With no known length the end trim is the best known end of the playable range.
    if (trimEnd > 0 && (media->duration == 0 || trimEnd < media->duration)) media->duration = trimEnd;
    media->trimStart = trimStart;
    ++livePlayers_;
    metric("players=" + std::to_string(livePlayers_));

    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    const double readyFrom = hostNow();
    media->player->whenReady(kReadyTimeout, [host, media, readyFrom, preparing, pool, done](media::Readiness ready) {
        auto self = host.lock();
        if (!self || !media->player) return;
        // A player that failed after the file opened would go on air showing nothing: fail the load,
        // so the previous clip stays and the failure is reported.
        if (ready == media::Readiness::failed) {
            const RenderError error = loadError(media->player->failure().value_or(media::MediaFailure{}));
            // Not from inside the player's own callback.
            mainQueue().post([host, media] {
                if (auto owner = host.lock()) owner->dispose(*media);
            });
            return done(error);
        }
        const int readyMs = wholeMs(hostNow() - readyFrom);
        auto finish = [host, media, readyMs, preparing, pool, done](bool rolled, int rollMs) {
            auto self = host.lock();
            if (!self || !media->player) return;
            // The first picture goes to the GPU now, so that the take can show it in its first frame.
            if (media->videoOutput) media->pullFrame(self->compositor_, hostNow());
            metric(std::string(preparing ? "prepare" : "load") + " ready=" + std::to_string(readyMs) +
                   "ms preroll=" + (rolled ? "true" : "false") + "/" + std::to_string(rollMs) +
                   "ms trim=" + (media->trimStart > 0 ? "true" : "false") +
                   " audio=" + (media->tap ? "true" : "false") + " pool=" + pool +
                   " turn=" + orientationName(media->orientation) + media->logLabel);
            done(media);
        };
        // A seek or preroll that never completes must not hold the layer: like the readiness wait each
        // has a deadline, and missing it fails the load as timed out.
        auto step = [host, media, done](StartStep which, std::function<void(bool)> next) {
            withTimeout<bool>(
                kReadyTimeout,
                [host, media, which](std::function<void(RenderResult<bool>)> resolve) {
                    auto self = host.lock();
                    if (!self || !media->player || (self->stallStart && self->stallStart(which))) return;
                    auto completed = [resolve](bool finished) { resolve(finished); };
                    if (which == StartStep::seek)
                        media->player->seek(media->trimStart, completed);
                    else
                        media->player->preroll(completed);
                },
                [host, media, done, next](RenderResult<bool> result) {
                    auto self = host.lock();
                    if (!self || !media->player) return;
                    if (result.ok()) return next(result.value());
                    self->dispose(*media);
                    done(result.error());
                });
        };
        auto preroll = [media, finish, step](bool) {
            if (!media->player) return;
            if (!media->videoOutput) return finish(false, 0);
            const double from = hostNow();
            step(StartStep::preroll, [finish, from](bool rolled) { finish(rolled, wholeMs(hostNow() - from)); });
        };
        if (media->trimStart > 0)
            step(StartStep::seek, preroll);
        else
            preroll(true);
    });
}

void NativeLayerHost::attach(SlotMedia& media, const ActiveCue& cue) {
    media.cueId = cue.cueId;
    media.loop = cue.loop;
    media.framesDelivered = 0;
    if (media.kind == MediaKind::image || !media.player) return;
    applyLoop(media);
    media.player->setMuted(false);
    if (media.tap && meterEngine_) meterEngine_->registerTap(media.tap);

    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    SlotMedia* raw = &media;  // observers die with the player, which the media owns
    auto ended = [host, raw] {
        if (auto self = host.lock())
            if (!raw->disposed) self->reachedEnd(*raw);
    };
    media.player->onEndOfItem = ended;
    media.endObserver = true;
    if (PreparedMediaKey::normalisedTrim(cue.trimEnd) > 0 && media.trimStart < media.duration)
        media.boundaryObservers.push_back(media.player->addBoundaryObserver({media.duration}, ended));
    const auto& t = cue.transition;
    if (!cue.loop && t.type != TransitionType::cut && t.durationMs > 0) {
        const double at = media.duration - double(t.durationMs) / 1000.0;
        if (media.trimStart < at)
            media.boundaryObservers.push_back(media.player->addBoundaryObserver({at}, [host, raw] {
                auto self = host.lock();
                if (!self || raw->disposed || raw->endingFired) return;
                raw->endingFired = true;
                if (self->onEnding) self->onEnding(raw->cueId);
            }));
    }
}

// -------------------------------------------------------------------------------------------- preparing

void NativeLayerHost::discardPrepared() {
    ++prepareToken_;
    takeWantsPrepared_ = false;
    preparedKey_.reset();
    preparing_.reset();
    if (prepared_) dispose(*prepared_);
    prepared_.reset();
}

void NativeLayerHost::finishTask(const std::shared_ptr<PrepareTask>& task) {
    task->finished = true;
    auto waiters = std::move(task->waiters);
    for (auto& waiter : waiters) waiter();
}

void NativeLayerHost::prepare(const std::string& mediaId, MediaKind kind, std::optional<double> trimStart,
                              std::optional<double> trimEnd) {
    if (kind == MediaKind::image) return discardPrepared();
    auto key = PreparedMediaKey::make(mediaId, kind, trimStart, trimEnd);
    if (preparedKey_ == key) return;
    discardPrepared();
    const int token = ++prepareToken_;
    takeWantsPrepared_ = false;
    preparedKey_ = key;
    preparing_ = std::make_shared<PrepareTask>();
    auto task = preparing_;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    mainQueue().post([host, token, task] {
        if (auto self = host.lock())
            self->prepareStep(token, task, 0);
        else
            finishTask(task);
    });
}

void NativeLayerHost::prepareStep(int token, std::shared_ptr<PrepareTask> task, int initialSteps) {
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    if (token != prepareToken_) return finishTask(task);
    // A short grace period lets a take that follows the selection at once use this load; a take in
    // flight keeps the decoders to itself.
    if (!takeWantsPrepared_ && initialSteps < 6)
        return sleepMs(10, [host, token, task, initialSteps] {
            if (auto self = host.lock())
                self->prepareStep(token, task, initialSteps + 1);
            else
                finishTask(task);
        });
    if (takeInFlight_)
        return sleepMs(16, [host, token, task] {
            if (auto self = host.lock())
                self->prepareStep(token, task, 6);
            else
                finishTask(task);
        });
    const auto key = *preparedKey_;
    build(key.mediaId, key.kind, key.trimStart, key.trimEnd, true,
          [host, token, task](RenderResult<std::shared_ptr<SlotMedia>> result) {
              auto self = host.lock();
              if (!self) return finishTask(task);
              if (!result.ok()) {
                  if (token == self->prepareToken_) self->preparedKey_.reset();
              } else if (token == self->prepareToken_) {
                  self->prepared_ = std::move(result.value());
              } else {
                  self->dispose(*result.value());
              }
              finishTask(task);
          });
}

void NativeLayerHost::takePrepared(const ActiveCue& cue, std::function<void(std::shared_ptr<SlotMedia>)> done) {
    const auto key = PreparedMediaKey::make(cue.mediaId, cue.kind, cue.trimStart, cue.trimEnd);
    if (!preparedKey_ || *preparedKey_ != key) return done(nullptr);
    takeWantsPrepared_ = true;
    std::weak_ptr<NativeLayerHost> host = weak_from_this();
    auto finish = [host, key, done] {
        auto self = host.lock();
        if (!self) return;
        self->takeWantsPrepared_ = false;
        if (self->preparedKey_ == key && self->prepared_) {
            ++self->prepareToken_;
            self->preparedKey_.reset();
            self->preparing_.reset();
            auto media = std::move(self->prepared_);
            self->prepared_.reset();
            return done(std::move(media));
        }
        done(nullptr);
    };
    if (preparing_ && !preparing_->finished)
        preparing_->waiters.push_back(std::move(finish));
    else
        finish();
}

// -------------------------------------------------------------------------------------------- transport

void NativeLayerHost::applyTransport(const std::string& action, std::optional<double> time) {
    auto media = liveSlot()->media;
    if (!media || media->kind == MediaKind::image || !media->player) return;
    if (action == "play") {
        play(*media);
    } else if (action == "pause") {
        media->player->pause();
        report(*media, false);
    } else if (action == "seek") {
        // A time that is not a number (or infinite) would put the player nowhere: ignored.
        if (!time || !std::isfinite(*time)) return;
        media->ended = false;
        media->endingFired = false;
        std::weak_ptr<NativeLayerHost> host = weak_from_this();
        std::weak_ptr<SlotMedia> weakMedia = media;
        media->player->seek(std::max(*time, 0.0), [host, weakMedia](bool) {
            auto self = host.lock();
            auto m = weakMedia.lock();
            if (self && m && !m->disposed) self->report(*m, false);
        });
    }
}

}  // namespace ombry
