#include "Render/Audio/AudioTapNode.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "Engine/Model/Issues.hpp"
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

// Magnitude of a sample as its bit pattern: non-negative floats order like their bits, so the peak search
// runs on integers, which vectorise without fast-math. NaN orders above infinity and is capped to it.
inline uint32_t magnitudeBits(float v) { return std::bit_cast<uint32_t>(v) & 0x7fffffffu; }

// Contiguous runs are taken eight at a time with a fixed inner count, which the compiler turns into vector
// operations even at -O2.
constexpr int lanes = 8;

inline float maxMagnitude(const float* p, int n, int stride) {
    uint32_t m = 0;
    int i = 0;
    if (stride == 1) {
        uint32_t lane[lanes] = {};
        for (; i + lanes <= n; i += lanes)
            for (int k = 0; k < lanes; ++k) lane[k] = std::max(lane[k], magnitudeBits(p[i + k]));
        for (int k = 0; k < lanes; ++k) m = std::max(m, lane[k]);
    }
    for (; i < n; ++i) m = std::max(m, magnitudeBits(p[size_t(i) * stride]));
    return std::bit_cast<float>(std::min(m, 0x7f800000u));
}

inline void scale(float* p, int n, int stride, float g) {
    if (g == 1.0f) return;
    int i = 0;
    if (stride == 1)
        for (; i + lanes <= n; i += lanes)
            for (int k = 0; k < lanes; ++k) p[i + k] *= g;
    for (; i < n; ++i) p[size_t(i) * stride] *= g;
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

void AudioTapNode::feedBus(float l, float r, BusWrite& out) {
    resampleAcc_ += resampleRatio_;
    while (resampleAcc_ >= 1) {
        resampleAcc_ -= 1;
        const float f = float(1 - resampleAcc_);
        if (out.space > 0) {  // a full ring drops the frame
            const size_t slot = size_t(out.writeIdx % TapAudioRing::capacity);
            out.ring->left[slot] = lastNdiL_ + (l - lastNdiL_) * f;
            out.ring->right[slot] = lastNdiR_ + (r - lastNdiR_) * f;
            ++out.writeIdx;
            --out.space;
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
    // The free space is read once per block: the bus only ever adds to it, so the block never overwrites
    // unread frames; the frames written are published together at the end.
    BusWrite bus;
    if (feed) {
        bus.ring = busRing_.get();
        bus.writeIdx = bus.ring->writeIdx.load(std::memory_order_relaxed);
        bus.space = TapAudioRing::capacity - (bus.writeIdx - bus.ring->readIdx.load(std::memory_order_acquire));
    }

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
            if (feed) feedBus(float(l), float(r), bus);
        }
        if (feed) bus.ring->writeIdx.store(bus.writeIdx, std::memory_order_release);
    }
    if (channels == 1) peakRight = peakLeft;
    peakL.raise(peakLeft);
    peakR.raise(peakRight);
    processCount.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace ombry
