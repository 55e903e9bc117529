#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/Media/AudioProcessor.hpp"

namespace ombry {

class ProgramAudioBus;

// A double shared between threads through its bit pattern; every operation is relaxed.
class AtomicDouble {
public:
    explicit AtomicDouble(double v = 0);
    double load() const;
    void store(double v);
    double exchange(double v);
    // Raises the value to at least x; never lowers it.
    void raise(double x);

private:
    std::atomic<uint64_t> bits;
};

// Single-producer (a tap's audio thread), single-consumer (the bus thread) ring of stereo frames at 48 kHz.
// Both indices only grow; frame n lives in slot n % capacity.
class TapAudioRing {
public:
    static constexpr int64_t capacity = 24000;
    TapAudioRing();

    std::vector<float> left;
    std::vector<float> right;
    std::atomic<int64_t> writeIdx{0};  // stored by the tap (release), read by the bus (acquire)
    std::atomic<int64_t> readIdx{0};   // stored by the bus (release), read by the tap (acquire)
};

// The per-clip audio tap. A player calls prepare/process on its audio thread for every decoded block; the
// tap applies the ramped cue and monitor gains in place, measures peaks after the cue gain, feeds the
// program bus with the cue-gained stereo signal at 48 kHz and counts blocks. No locks, no allocation there.
class AudioTapNode final : public media::AudioProcessor {
public:
    // With a bus, the node registers its ring with it (main thread) and feeds it while the bus runs.
    explicit AudioTapNode(bool monitorAudible, const std::shared_ptr<ProgramAudioBus>& bus = nullptr);
    ~AudioTapNode() override;
    AudioTapNode(const AudioTapNode&) = delete;
    AudioTapNode& operator=(const AudioTapNode&) = delete;

    // Main thread, at any time: the level to reach (0...1, NaN as 0) within rampSeconds (at least 1 ms).
    void setCueGain(double gain, double rampSeconds);

    // What a player is given as its audio processor to put this node on its audio track. Null for no node.
    static std::shared_ptr<media::AudioProcessor> makeAudioMix(const std::shared_ptr<AudioTapNode>& node);

    // Shared with the main thread (relaxed atomics).
    AtomicDouble cueGainTarget{0};
    AtomicDouble cueGainRamp{0.01};
    std::atomic<uint64_t> cueGainGeneration{0};
    AtomicDouble monitorGainTarget;
    AtomicDouble peakL{0};
    AtomicDouble peakR{0};
    std::atomic<uint64_t> processCount{0};
    // Media-clock time at which the host asked the player to play; 0 when unset. For a diagnostic only.
    AtomicDouble playIssuedAt{0};

    // The ring the bus drains; null when the node was made without a bus.
    const std::shared_ptr<TapAudioRing>& busRing() const { return busRing_; }

private:
    void prepare(const media::AudioFormat& format) override;
    void process(media::AudioBlock& block) override;
    struct BusWrite {
        TapAudioRing* ring = nullptr;
        int64_t writeIdx = 0;
        int64_t space = 0;
    };
    void feedBus(float l, float r, BusWrite& out);

    // Audio thread only.
    double sampleRate_ = 44100;
    bool isFloat32_ = true;
    double cueGain_ = 0;
    double monitorGain_;
    double cueStep_ = 0;
    uint64_t cueGainSeen_ = 0;
    std::shared_ptr<TapAudioRing> busRing_;
    std::weak_ptr<ProgramAudioBus> bus_;
    // The bus's running flag, kept by the node so the audio thread never has to lock the weak reference.
    std::shared_ptr<const std::atomic<bool>> busRunning_;
    double resampleRatio_ = 1.0;
    double resampleAcc_ = 0;
    float lastNdiL_ = 0;
    float lastNdiR_ = 0;
};

}  // namespace ombry
