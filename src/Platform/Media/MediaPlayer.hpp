#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/Gpu/VideoFrame.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Platform/Media/AudioProcessor.hpp"
#include "Platform/Media/MediaAsset.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media {

// What the player does when playback reaches the end of the item (the end trim, or the file's end).
enum class ActionAtEnd {
    pause,  // stop on the last frame; rate becomes 0; onEndOfItem
    none,   // time stays at the end, the rate is kept; onEndOfItem
    loop,   // go on at loopStart without a gap: the next pass is decoded ahead; no onEndOfItem
};

struct PlayerOptions {
    double forwardEndTime = 0;  // > 0: playback ends there (end trim), on the item's own timeline
    int maxWidth = 0;           // preferred maximum picture size; 0 = none
    int maxHeight = 0;
    int outputWidth = 0;  // size frames are delivered at; 0 = the source size. Never scaled up.
    int outputHeight = 0;
    bool video = true;    // false: audio only, no video decoding
    std::shared_ptr<AudioProcessor> processor = nullptr;  // sees every played block as float32 at the file's rate
    std::shared_ptr<AudioOutput> output = nullptr;  // the shared monitor mix; a private null output when absent
};

// Plays one media file. Created and used on the main thread; its own threads ("media-demux",
// "media-video", "media-audio") read and decode a few frames ahead into small bounded rings.
// Callbacks (completions, observers, onEndOfItem) run on the main queue. The audio processor runs on
// the output's audio thread. latestFrame() is for the frame loop (main thread) and never waits.
// Destruction never waits either: callbacks stop at once, and a process-wide reaper thread joins the
// decode threads and takes the player off its output.
class MediaPlayer {
public:
    explicit MediaPlayer(std::shared_ptr<MediaAsset> asset, PlayerOptions options = {});
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Waits at most `seconds` until every destroyed player's threads have been joined; true when they were.
    // The process's exit does this by itself (2 s at most).
    static bool awaitTeardowns(double seconds);

    // unknown until the file is open and its decoders run; failed with a reason.
    Readiness readiness() const;
    std::optional<MediaFailure> failure() const;
    // `done` runs on the main queue when readiness leaves unknown, or after `timeout` seconds.
    void whenReady(double timeoutSeconds, std::function<void(Readiness)> done);

    bool hasVideo() const;
    bool hasAudio() const;
    // The file's duration; 0 while unknown (a file that does not give its length), the real one once
    // playback has reached the file's end.
    double duration() const;
    double endTime() const;  // end of the playable range: the end trim when set and shorter; 0 while unknown
    StageOrientation orientation() const;
    int naturalWidth() const;
    int naturalHeight() const;

    void play() { setRate(1.0); }
    void pause() { setRate(0.0); }
    // At rates other than 0 and 1 the clock and the picture follow the rate but the sound is silent: the
    // processor sees no blocks (it expects sound at its own pace) and the sound whose time passes is
    // discarded, so that back at rate 1 it is heard in step with the clock.
    void setRate(double rate);
    double rate() const;
    // Seconds on the item's own timeline (after a loop, back within [loopStart, endTime)).
    double currentTime() const;

    // Exact seek: the frame on show at `time` is the last one whose presentation time is <= time.
    // `done(true)` when the picture (or sound) at the new time is decoded; `done(false)` when a later
    // seek replaced this one. While a seek is pending the clock holds, so no frame is skipped.
    void seek(double time, std::function<void(bool finished)> done = {});
    // Fills the rings at the current time so that play starts without a wait; `done(true)` then.
    void preroll(std::function<void(bool finished)> done);

    void setMuted(bool muted);
    bool muted() const;
    void setActionAtEnd(ActionAtEnd action);
    ActionAtEnd actionAtEnd() const;
    // Where a looping item restarts (the start trim); 0 by default.
    void setLoopStart(double time);

    // Called on the main queue once per pass when playback reaches the end (not for `loop`).
    std::function<void()> onEndOfItem;

    using ObserverId = uint64_t;
    // Every `interval` seconds while playing, with the current time.
    ObserverId addPeriodicObserver(double interval, std::function<void(double)> fn);
    // When playback crosses one of `times` (forward play, every pass of a loop).
    ObserverId addBoundaryObserver(std::vector<double> times, std::function<void()> fn);
    void removeObserver(ObserverId id);

    // Output size rules; take effect from the next decoded frame.
    void setPreferredMaximumSize(int width, int height);
    void setOutputSize(int width, int height);

    // The newest decoded frame whose time is at or before the media time at `hostTime`
    // (appClock().monotonic() seconds); the previous one when nothing newer is decoded; null before the
    // first frame. Never waits on a decoder. Frames come from a fixed pool: holding one keeps its slot
    // busy, so hold at most a couple (hand it to StageCompositor::makeVideoTexture and let go). A new
    // picture has a new `serial`.
    std::shared_ptr<const VideoFrame> latestFrame(double hostTime);

    // Frames decoded but never shown because the clip could not keep up, or the consumer skipped them.
    uint64_t framesDropped() const;
    uint64_t framesDecoded() const;
    // Decoded sound waiting to be played, seconds.
    double bufferedAudio() const;
    int bufferedFrames() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace ombry::media
