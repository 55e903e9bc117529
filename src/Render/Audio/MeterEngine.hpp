#pragma once
#include <functional>
#include <map>
#include <memory>

#include "Engine/Model/Protocol.hpp"
#include "Platform/MainQueue.hpp"

namespace ombry {

class AudioTapNode;

// The program's stereo level meter: samples the peaks of every registered audio tap on a main-queue
// timer every 0.033 s and reports bar and peak-hold levels (0...1 over 60 dB) when they move.
// Main thread only. The timer runs only while there is something to show.
class MeterEngine {
public:
    static constexpr double interval = 0.033;

    MeterEngine();
    ~MeterEngine();
    MeterEngine(const MeterEngine&) = delete;
    MeterEngine& operator=(const MeterEngine&) = delete;

    // Called with each new value.
    std::function<void(const MeterLevels&)> onLevels;

    // A layer host attaching a slot with a tap; replaces an earlier entry for the same tap.
    void registerTap(std::shared_ptr<AudioTapNode> tap);
    // A layer host disposing of the slot. The meters then fall before the timer stops.
    void unregisterTap(const AudioTapNode* tap);

    bool enabled() const { return enabled_; }
    // Off stops the timer and leaves the last levels in place; on discards the peaks gathered meanwhile.
    void setEnabled(bool on);

    bool timerRunning() const { return timerOn_; }
    size_t tapCount() const { return taps_.size(); }

    // Bar level of a peak: 0 at -60 dBFS and below, 1 at 0 dBFS.
    static double level(double peak);

private:
    struct TapState {
        uint64_t lastCount = 0;
        double heldL = 0;
        double heldR = 0;
        double freshAt = 0;
    };
    struct Entry {
        std::shared_ptr<AudioTapNode> tap;
        TapState state;
    };

    void startIfNeeded();
    void schedule();
    void stopTimer();
    void tick();

    std::map<const AudioTapNode*, Entry> taps_;
    TaskHandle timer_;
    bool timerOn_ = false;
    uint64_t timerGeneration_ = 0;
    double smoothL_ = 0, smoothR_ = 0;
    double holdL_ = 0, holdR_ = 0;
    double holdAtL_ = 0, holdAtR_ = 0;
    double lastFrame_ = 0;
    MeterLevels sent_{-1, -1, -1, -1};
    bool enabled_ = true;
};

}  // namespace ombry
