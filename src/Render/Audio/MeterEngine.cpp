#include "Render/Audio/MeterEngine.hpp"

#include <algorithm>
#include <cmath>

#include "Platform/Clock.hpp"
#include "Render/Audio/AudioTapNode.hpp"

namespace ombry {
namespace {

constexpr double attackTau = 0.012;
constexpr double releaseTau = 0.12;
constexpr double holdSeconds = 0.9;
constexpr double holdFallPerSecond = 0.55;
constexpr double staleAfter = 0.25;  // a tap that stopped processing keeps its last peak this long
constexpr double gate = 0.004;

double mediaNow() { return appClock().monotonic(); }

void smooth(double& s, double target, double dt) {
    const double tau = target > s ? attackTau : releaseTau;
    s += (target - s) * (1 - std::exp(-dt / tau));
}

void holdPeak(double& hold, double& holdAt, double bar, double now, double dt) {
    if (bar >= hold) {
        hold = bar;
        holdAt = now;
    } else if (now - holdAt >= holdSeconds) {
        hold = std::max(hold - holdFallPerSecond * dt, bar);
    }
}

double gated(double v) { return v < gate ? 0 : v; }

}  // namespace

MeterEngine::MeterEngine() = default;

MeterEngine::~MeterEngine() { timer_.cancel(); }

double MeterEngine::level(double peak) {
    if (!(peak > 0)) return 0;
    const double db = 20 * std::log10(peak);
    if (db <= -60) return 0;
    return std::min((db + 60) / 60, 1.0);
}

void MeterEngine::registerTap(std::shared_ptr<AudioTapNode> tap) {
    if (!tap) return;
    const AudioTapNode* key = tap.get();
    taps_[key] = Entry{std::move(tap), TapState{0, 0, 0, mediaNow()}};
    startIfNeeded();
}

void MeterEngine::unregisterTap(const AudioTapNode* tap) { taps_.erase(tap); }

void MeterEngine::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    if (!on) {
        stopTimer();
        return;
    }
    for (auto& [key, entry] : taps_) {
        entry.tap->peakL.exchange(0);
        entry.tap->peakR.exchange(0);
    }
    startIfNeeded();
}

void MeterEngine::startIfNeeded() {
    if (!enabled_ || timerOn_) return;
    timerOn_ = true;
    lastFrame_ = mediaNow();
    schedule();
}

void MeterEngine::schedule() {
    const uint64_t generation = ++timerGeneration_;
    timer_ = mainQueue().postAfter(interval, [this, generation] {
        tick();
        // Unless the tick stopped the timer, or a callback restarted it (which scheduled its own).
        if (timerOn_ && generation == timerGeneration_) schedule();
    });
}

void MeterEngine::stopTimer() {
    timerOn_ = false;
    timer_.cancel();
}

void MeterEngine::tick() {
    const double now = mediaNow();
    const double dt = lastFrame_ > 0 ? std::min(now - lastFrame_, 0.1) : 1.0 / 60;
    lastFrame_ = now;

    double pL = 0, pR = 0;
    for (auto& [key, entry] : taps_) {
        TapState& st = entry.state;
        const uint64_t count = entry.tap->processCount.load(std::memory_order_relaxed);
        double l, r;
        if (count != st.lastCount) {
            l = entry.tap->peakL.exchange(0);
            r = entry.tap->peakR.exchange(0);
            st.lastCount = count;
            st.freshAt = now;
        } else if (now - st.freshAt <= staleAfter) {
            l = st.heldL;
            r = st.heldR;
        } else {
            l = r = 0;
        }
        st.heldL = l;
        st.heldR = r;
        pL = std::max(pL, l);
        pR = std::max(pR, r);
    }

    smooth(smoothL_, level(pL), dt);
    smooth(smoothR_, level(pR), dt);
    holdPeak(holdL_, holdAtL_, smoothL_, now, dt);
    holdPeak(holdR_, holdAtR_, smoothR_, now, dt);

    const MeterLevels out{gated(smoothL_), gated(smoothR_), gated(holdL_), gated(holdR_)};
    const bool moved = std::abs(out.l - sent_.l) > gate || std::abs(out.r - sent_.r) > gate ||
                       std::abs(out.pl - sent_.pl) > gate || std::abs(out.pr - sent_.pr) > gate;
    if (moved) {
        sent_ = out;
        if (onLevels) onLevels(out);
    }

    if (taps_.empty() && out.l == 0 && out.r == 0 && out.pl == 0 && out.pr == 0) {
        if (sent_.l != 0 || sent_.r != 0 || sent_.pl != 0 || sent_.pr != 0) {
            sent_ = MeterLevels{};
            if (onLevels) onLevels(sent_);
        }
        stopTimer();
    }
}

}  // namespace ombry
