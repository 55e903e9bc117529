#include "Render/Audio/AudioTapNode.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "Engine/Issues.hpp"
#include "Platform/Clock.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry {

// AtomicDouble

AtomicDouble::AtomicDouble(double v) : bits(std::bit_cast<uint64_t>(v)) {}

double AtomicDouble::load() const { return std::bit_cast<double>(bits.load(std::memory_order_relaxed)); }

void AtomicDouble::store(double v) { bits.store(std::bit_cast<uint64_t>(v), std::memory_order_relaxed); }

double AtomicDouble::exchange(double v) {
    return std::bit_cast<double>(bits.exchange(std::bit_cast<uint64_t>(v), std::memory_order_relaxed));
}

void AtomicDouble::raise(double x) {
    uint64_t current = bits.load(std::memory_order_relaxed);
    while (x > std::bit_cast<double>(current)) {
        if (bits.compare_exchange_weak(current, std::bit_cast<uint64_t>(x), std::memory_order_relaxed)) return;
    }
}

// TapAudioRing

TapAudioRing::TapAudioRing() : left(capacity, 0.0f), right(capacity, 0.0f) {}

// AudioTapNode

namespace {

constexpr double busRate = 48000;
constexpr double monitorRampSeconds = 0.02;

// One step of a linear ramp that never passes its target. Lands exactly on the target when the remaining
// distance is within rounding of the step, so a ramp of n steps ends on the target after exactly n frames.
inline void stepTowards(double& value, double target, double step) {
    if (value == target || step == 0) return;
    const double next = value + step;
    const double slack = std::abs(step) * 1e-6;
    if (step > 0 ? next >= target - slack : next <= target + slack)
        value = target;
    else
        value = next;
}

// Largest magnitude of n samples `stride` apart. Four lanes so the compiler can keep them in registers.
inline float maxMagnitude(const float* p, int n, int stride) {
    float m0 = 0, m1 = 0, m2 = 0, m3 = 0;
    int i = 0;
    if (stride == 1) {
        for (; i + 4 <= n; i += 4) {
            m0 = std::max(m0, std::abs(p[i]));
            m1 = std::max(m1, std::abs(p[i + 1]));
            m2 = std::max(m2, std::abs(p[i + 2]));
            m3 = std::max(m3, std::abs(p[i + 3]));
        }
    }
    for (; i < n; ++i) m0 = std::max(m0, std::abs(p[size_t(i) * stride]));
    return std::max(std::max(m0, m1), std::max(m2, m3));
}

inline void scale(float* p, int n, int stride, float g) {
    if (g == 1.0f) return;
    if (stride == 1) {
        for (int i = 0; i < n; ++i) p[i] *= g;
    } else {
        for (int i = 0; i < n; ++i) p[size_t(i) * stride] *= g;
    }
}

}  // namespace

AudioTapNode::AudioTapNode(bool monitorAudible, const std::shared_ptr<ProgramAudioBus>& bus)
    : monitorGainTarget(monitorAudible ? 1.0 : 0.0), monitorGain_(monitorAudible ? 1.0 : 0.0) {
    if (bus) {
        busRing_ = std::make_shared<TapAudioRing>();
        bus_ = bus;
        busRunning_ = bus->runningFlag();
        bus->addRing(this, busRing_);
    }
}

AudioTapNode::~AudioTapNode() {
    if (auto bus = bus_.lock()) bus->removeRing(this);
}

void AudioTapNode::setCueGain(double gain, double rampSeconds) {
    cueGainRamp.store(std::max(std::isnan(rampSeconds) ? 0.0 : rampSeconds, 0.001));
    cueGainTarget.store(std::isnan(gain) ? 0.0 : std::clamp(gain, 0.0, 1.0));
    cueGainGeneration.fetch_add(1, std::memory_order_relaxed);
}

std::shared_ptr<media::AudioProcessor> AudioTapNode::makeAudioMix(const std::shared_ptr<AudioTapNode>& node) {
    return node;
}

void AudioTapNode::prepare(const media::AudioFormat& format) {
    const double issued = playIssuedAt.load();
    if (issued > 0) {
        const auto ms = static_cast<long long>((appClock().monotonic() - issued) * 1000.0);
        Diag::metric("REN", "tap prepared " + std::to_string(ms) + "ms after play");
    }
    sampleRate_ = format.sampleRate > 0 ? format.sampleRate : 44100;
    cueStep_ = 0;
    cueGainSeen_ = cueGainGeneration.load(std::memory_order_relaxed) - 1;
    isFloat32_ = format.isFloat32;
    resampleRatio_ = busRate / sampleRate_;
    resampleAcc_ = 0;
    lastNdiL_ = lastNdiR_ = 0;
}

void AudioTapNode::feedBus(float l, float r) {
    TapAudioRing& ring = *busRing_;
    resampleAcc_ += resampleRatio_;
    while (resampleAcc_ >= 1) {
        resampleAcc_ -= 1;
        const float f = float(1 - resampleAcc_);
        const int64_t w = ring.writeIdx.load(std::memory_order_relaxed);
        if (w - ring.readIdx.load(std::memory_order_acquire) < TapAudioRing::capacity) {
            const size_t slot = size_t(w % TapAudioRing::capacity);
            ring.left[slot] = lastNdiL_ + (l - lastNdiL_) * f;
            ring.right[slot] = lastNdiR_ + (r - lastNdiR_) * f;
            ring.writeIdx.store(w + 1, std::memory_order_release);
        }
    }
    lastNdiL_ = l;
    lastNdiR_ = r;
}

void AudioTapNode::process(media::AudioBlock& block) {
    if (block.frames < 1 || !isFloat32_) return;
    if (block.channels < 1 || !block.planes || !block.planes[0]) return;
    const int frames = block.frames;
    const int channels = block.channels;
    const bool interleaved = block.interleaved && channels > 1;
    if (!interleaved)
        for (int c = 1; c < channels; ++c)
            if (!block.planes[c]) return;
    const int stride = interleaved ? channels : 1;
    auto channel = [&](int c) { return interleaved ? block.planes[0] + c : block.planes[c]; };

    const double cueTarget = cueGainTarget.load();
    const double monitorTarget = monitorGainTarget.load();
    const uint64_t generation = cueGainGeneration.load(std::memory_order_relaxed);
    if (generation != cueGainSeen_) {
        cueGainSeen_ = generation;
        cueStep_ = (cueTarget - cueGain_) / std::max(sampleRate_ * cueGainRamp.load(), 1.0);
    }
    double monitorStep = 0;
    if (monitorGain_ != monitorTarget)
        monitorStep = (monitorTarget > monitorGain_ ? 1.0 : -1.0) / std::max(sampleRate_ * monitorRampSeconds, 1.0);
    const bool feed = busRing_ && busRunning_->load(std::memory_order_relaxed);

    double peakLeft = 0, peakRight = 0;
    if (cueGain_ == cueTarget && monitorGain_ == monitorTarget && !feed) {
        const float gain = float(cueGain_ * monitorGain_);
        for (int c = 0; c < channels; ++c) {
            float* p = channel(c);
            if (c < 2) {
                const double peak = cueGain_ * maxMagnitude(p, frames, stride);
                (c == 0 ? peakLeft : peakRight) = peak;
            }
            scale(p, frames, stride, gain);
        }
    } else {
        for (int i = 0; i < frames; ++i) {
            stepTowards(cueGain_, cueTarget, cueStep_);
            stepTowards(monitorGain_, monitorTarget, monitorStep);
            double l = 0, r = 0;
            for (int c = 0; c < channels; ++c) {
                float& sample = channel(c)[size_t(i) * stride];
                const double s = cueGain_ * sample;
                sample = float(monitorGain_ * s);
                if (c == 0) {
                    l = s;
                    peakLeft = std::max(peakLeft, std::abs(s));
                } else if (c == 1) {
                    r = s;
                    peakRight = std::max(peakRight, std::abs(s));
                }
            }
            if (channels == 1) r = l;
            if (feed) feedBus(float(l), float(r));
        }
    }
    if (channels == 1) peakRight = peakLeft;
    peakL.raise(peakLeft);
    peakR.raise(peakRight);
    processCount.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace ombry
