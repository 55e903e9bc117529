#pragma once
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ombry::media {

// Something that adds its sound to the output mix. Called on the output's audio thread; adds
// `frames` frames of interleaved stereo float at AudioOutput::kRate into `out`, for the sound that is
// heard from output time `startTime` on. Takes no locks and does not allocate.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual void renderAdd(float* out, int frames, double startTime) = 0;
};

// The monitor output: ONE stream that mixes every player created with it, to a chosen PulseAudio
// sink (uid = sink name) or the default one. Without a sound server it is a null output that consumes
// sound at the pace of appClock(), so players keep time and their audio processors still run.
// Output time (now()) is the audio clock: with a live stream it follows the samples the device has
// played, mapped onto appClock().monotonic() seconds; on the null output it is appClock() itself.
class AudioOutput {
public:
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;

    // Connects to the sound server (PULSE_SERVER or the default); falls back to the null output.
    static std::shared_ptr<AudioOutput> create(std::optional<std::string> deviceUid = std::nullopt);
    // Sees each block the null output mixed (tests listen to the mix with it).
    using MixObserver = std::function<void(const float* mix, int frames, double startTime)>;
    // paced: a thread ("audio-null") renders every few milliseconds; otherwise only pump() renders (tests).
    static std::shared_ptr<AudioOutput> createNull(bool paced = true, MixObserver onMix = {});

    virtual ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    virtual bool isLive() const = 0;
    // Moves the stream to another device (nullopt: the system default). No effect on the null output.
    virtual void setDevice(std::optional<std::string> deviceUid) = 0;
    virtual std::optional<std::string> device() const = 0;
    // Output time in seconds, comparable with appClock().monotonic(). Never past renderHead() on a live
    // stream: what was not rendered yet cannot have been heard.
    virtual double now() const = 0;
    // Output time of the next sample the output will ask its sources for: sound started now is heard
    // from there on at the earliest (the stream's buffered latency).
    double renderHead() const { return renderHead_.load(std::memory_order_relaxed); }
    // Null output: renders everything due up to appClock() now. Live output: nothing.
    virtual void pump() {}

    // Sources are added and removed from any non-audio thread; removeSource returns once the audio
    // thread no longer uses the source.
    bool addSource(AudioSource* source);
    void removeSource(AudioSource* source);

protected:
    AudioOutput() = default;
    // Mixes all sources into `out` (zeroed first), in blocks of at most kMaxBlock frames. One thread at a
    // time: the epoch counts one mix at a time.
    void mix(float* out, int frames, double startTime);
    static constexpr int kMaxBlock = 2048;
    std::atomic<double> renderHead_{0};

private:
    static constexpr int kMaxSources = 64;
    std::array<std::atomic<AudioSource*>, kMaxSources> sources_{};
    std::atomic<uint64_t> epoch_{0};  // odd while mix() runs
};

}  // namespace ombry::media
