#pragma once
// One program layer: two presentation slots, the cue on air, loading and preloading, transport, status
// reports and the layer's draws for each frame. Main thread only. Asynchronous steps (loads, waits,
// sleeps) are continuations on the main queue holding the host weakly.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Model/Issues.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaPlayer.hpp"
#include "Render/RenderError.hpp"
#include "Render/StageCompositor.hpp"
#include "Render/Tween.hpp"

namespace ombry {

namespace media {
class StillLoader;
}
class AudioTapNode;
class MeterEngine;
class ProgramAudioBus;

// How a slot is drawn; the tweens run on the media clock.
struct SlotVisual {
    Tween opacity{0, 0, 0, 0};
    Tween translationX{0, 0, 0, 0};
    Tween scale{1, 1, 0, 0};
    int zPosition = 0;
    std::optional<Tween> coverOpacity;

    static SlotVisual idle() { return {}; }
    static SlotVisual rest() {
        SlotVisual v;
        v.opacity = {1, 1, 0, 0};
        return v;
    }
};

// What one slot plays. Exactly one place owns it at a time: the host's prepared slot, a slot, or the load
// making it. Only NativeLayerHost::dispose tears it down.
class SlotMedia {
public:
    MediaKind kind = MediaKind::video;
    std::string cueId;
    std::string mediaId;
    std::string logLabel;
    std::unique_ptr<media::MediaPlayer> player;  // none for images
    bool videoOutput = false;                     // frames are pulled from the player
    std::shared_ptr<AudioTapNode> tap;
    StageOrientation orientation = StageOrientation::up;
    double duration = 0;
    bool loop = false;
    double trimStart = 0;
    bool ended = false;
    std::optional<media::MediaPlayer::ObserverId> timeObserver;
    bool endObserver = false;
    std::vector<media::MediaPlayer::ObserverId> boundaryObservers;
    bool endingFired = false;
    std::shared_ptr<StageTexture> texture;
    bool loggedFrameSize = false;
    int framesDelivered = 0;
    double playIssuedAt = 0;
    bool disposed = false;

    // Takes the newest frame for `hostTime` into `texture` when the player has a new one.
    void pullFrame(StageCompositor& compositor, double hostTime);

private:
    const void* lastFrame_ = nullptr;
    uint64_t lastSerial_ = 0;
};

// Which loaded media fits a cue; absent and negative trims count as 0.
struct PreparedMediaKey {
    std::string mediaId;
    MediaKind kind = MediaKind::video;
    double trimStart = 0;
    double trimEnd = 0;
    bool operator==(const PreparedMediaKey&) const = default;

    static double normalisedTrim(std::optional<double> trim) { return trim && *trim > 0 ? *trim : 0; }
    static PreparedMediaKey make(const std::string& mediaId, MediaKind kind, std::optional<double> trimStart,
                                 std::optional<double> trimEnd) {
        return {mediaId, kind, normalisedTrim(trimStart), normalisedTrim(trimEnd)};
    }
};

// Runs `op(resolve)` against a deadline: `done` gets the first of the operation's result and, after
// `seconds`, RenderError(mediaTimeout, "media load timed out"). Exactly once, on the main queue.
// The operation must resolve on the main queue; a late result is dropped.
template <class T>
void withTimeout(double seconds, const std::function<void(std::function<void(RenderResult<T>)>)>& op,
                 std::function<void(RenderResult<T>)> done) {
    auto settled = std::make_shared<bool>(false);
    auto finish = std::make_shared<std::function<void(RenderResult<T>)>>(std::move(done));
    auto timer = mainQueue().postAfter(seconds, [settled, finish] {
        if (*settled) return;
        *settled = true;
        (*finish)(RenderError{IssueCode::mediaTimeout, "media load timed out"});
    });
    op([settled, finish, timer](RenderResult<T> result) {
        if (*settled) return;
        *settled = true;
        timer.cancel();
        (*finish)(std::move(result));
    });
}

class NativeLayerHost : public std::enable_shared_from_this<NativeLayerHost> {
public:
    class Slot {
    public:
        SlotVisual visual;
        std::shared_ptr<SlotMedia> media;
        std::optional<ActiveCue> cue;
        FillMode fillMode = FillMode::fit;
    };

    NativeLayerHost(LayerId id, StageCompositor& compositor, MeterEngine* meterEngine, bool monitorAudible,
                    std::shared_ptr<ProgramAudioBus> audioBus, std::shared_ptr<media::AudioOutput> audioOutput);
    ~NativeLayerHost();
    NativeLayerHost(const NativeLayerHost&) = delete;
    NativeLayerHost& operator=(const NativeLayerHost&) = delete;

    // Queues the layer's cue of a new program state behind any cue still being applied; returns at once.
    void apply(std::optional<ActiveCue> cue);
    // Sets the program's master gain; the clip on air follows within 0.01 s.
    void setMaster(double master);
    double master() const { return master_; }
    // Preloads a clip for a take that has not happened yet (images are never preloaded).
    void prepare(const std::string& mediaId, MediaKind kind, std::optional<double> trimStart,
                 std::optional<double> trimEnd);
    void discardPrepared();
    // "play", "pause", "seek" on the clip on air; anything else, or no video or audio on air, is ignored.
    void applyTransport(const std::string& action, std::optional<double> time);
    // Appends the layer's draws for media-clock time `now`.
    void collectDraws(std::vector<StageDraw>& draws, double now);
    // Stage size in pixels; a change drops the preload (it was made for the old size).
    void setStageSize(StageSize size);
    void setMonitorDevice(std::optional<std::string> uid) { monitorDeviceUID = std::move(uid); }
    // The monitor gain the layer's taps aim for: the loaded and prepared clips' follow at once, later ones
    // start with it.
    bool monitorAudible() const { return monitorAudible_; }
    void setMonitorAudible(bool audible);

    // Wired by the renderer.
    std::function<std::optional<std::string>(const std::string&)> resolvePath;
    std::function<void(const TransportStatus&)> onStatus;
    std::function<void(const std::string& cueId, IssueCode)> onError;
    std::function<void(const std::string& cueId)> onEnding;
    // A take's media (video, audio or still) has loaded and goes on air.
    std::function<void(const std::string& cueId)> onLoaded;

    // A new player's start-up steps after it is ready; each has a deadline.
    enum class StartStep { seek, preroll };
    // Test seam: returning true leaves that step of a new player pending for ever, as a stuck decoder would.
    std::function<bool(StartStep)> stallStart;

    // State, readable for the renderer and tests.
    const LayerId id;
    const std::optional<ActiveCue>& current() const { return current_; }
    const Slot& slot(int i) const { return slots_[size_t(i)]; }
    int activeIndex() const { return activeIndex_; }
    const std::optional<std::string>& reportingCueId() const { return reportingCueId_; }
    int livePlayers() const { return livePlayers_; }
    const std::shared_ptr<SlotMedia>& prepared() const { return prepared_; }
    const std::optional<PreparedMediaKey>& preparedKey() const { return preparedKey_; }
    StageSize stageSize() const { return stageSize_; }
    // Nothing queued or running in the apply chain.
    bool idle() const { return !running_ && queue_.empty(); }
    // Loads made by build(), preloads included: for tests of "no second load".
    int loadsStarted() const { return loadsStarted_; }
    // Loads whose result has not come back yet: for tests that must not move the clock past real work.
    int loadsInFlight() const { return loadsInFlight_; }
    std::optional<std::string> monitorDeviceUID;

    // Media-clock sleep on the main queue: at once (posted) for 0 ms or less.
    static void sleepMs(int ms, std::function<void()> done);

private:
    struct PrepareTask {
        bool finished = false;
        std::vector<std::function<void()>> waiters;
    };
    using Done = std::function<void()>;
    using Built = std::function<void(RenderResult<std::shared_ptr<SlotMedia>>)>;

    void runNext();
    void run(std::optional<ActiveCue> cue, Done done);
    void clear(TransitionSpec transition, Done done);
    void clearWait(int remainingMs, int64_t seq, Done done);
    void syncProps(const ActiveCue& cue);
    void swapTo(ActiveCue cue, Done done);
    void swapLoaded(ActiveCue cue, int token, std::shared_ptr<SlotMedia> media, Done done);
    struct PlayWait {
        double start = 0;
        double t0 = 0;
        int polls = 1;
        double clockMs = -1;
    };
    void waitUntilPlaying(std::shared_ptr<SlotMedia> media, Done done);
    void pollPlaying(std::shared_ptr<SlotMedia> media, std::shared_ptr<PlayWait> wait, Done done);
    void afterPlaying(ActiveCue cue, int incoming, bool hasCover, Done done);
    void reveal(const TransitionSpec& transition, Slot& incoming, Slot& outgoing, bool hasCover, Done done);

    void takePrepared(const ActiveCue& cue, std::function<void(std::shared_ptr<SlotMedia>)> done);
    void build(const std::string& mediaId, MediaKind kind, std::optional<double> trimStart,
               std::optional<double> trimEnd, bool preparing, Built done);
    void buildPlayer(std::shared_ptr<media::MediaAsset> asset, const media::AssetInfo& info, MediaKind kind,
                     const std::string& mediaId, double trimStart, double trimEnd, bool preparing,
                     std::string logLabel, Built done);
    void attach(SlotMedia& media, const ActiveCue& cue);
    void prepareStep(int token, std::shared_ptr<PrepareTask> task, int initialSteps);
    static void finishTask(const std::shared_ptr<PrepareTask>& task);

    Slot* liveSlot();
    void play(SlotMedia& media);
    void report(SlotMedia& media, bool ended);
    void dispose(SlotMedia& media);
    void attachReporting(SlotMedia& media);
    void reachedEnd(SlotMedia& media);
    void applyLoop(SlotMedia& media);
    void followMonitor(SlotMedia& media) const;
    double cueGain(const ActiveCue& cue) const;
    std::string issueSubject(const std::string& mediaId) const;

    StageCompositor& compositor_;
    std::array<Slot, 2> slots_;
    int activeIndex_ = 0;
    std::optional<ActiveCue> current_;
    int loadToken_ = 0;
    std::optional<std::string> reportingCueId_;
    double master_ = 1.0;
    bool monitorAudible_ = false;
    StageSize stageSize_{1920, 1080};
    // States not yet applied; while one is being applied, those waiting behind it collapse to the newest.
    std::deque<std::optional<ActiveCue>> queue_;
    bool inRun_ = false;
    bool running_ = false;
    int64_t applySeq_ = 0;
    std::shared_ptr<SlotMedia> prepared_;
    std::optional<PreparedMediaKey> preparedKey_;
    int prepareToken_ = 0;
    std::shared_ptr<PrepareTask> preparing_;
    bool takeWantsPrepared_ = false;
    bool takeInFlight_ = false;
    int livePlayers_ = 0;
    int loadsStarted_ = 0;
    int loadsInFlight_ = 0;
    MeterEngine* meterEngine_;
    std::shared_ptr<ProgramAudioBus> audioBus_;
    std::shared_ptr<media::AudioOutput> audioOutput_;
    std::unique_ptr<media::StillLoader> stills_;
};

}  // namespace ombry
