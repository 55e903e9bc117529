#pragma once
// A stand-in for the NDI runtime, built as "libndi.so.6" in a folder of its own. It sends nothing
// anywhere: it records what it is given, and the test steers its answers through fakeNdiState().
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace ombry::test {

struct FakeNdiVideo {
    int xres = 0, yres = 0;
    uint32_t fourCC = 0;
    int frameRateN = 0, frameRateD = 0;
    float pictureAspectRatio = -1;
    int frameFormat = -1;
    int64_t timecode = 0;
    int lineStride = 0;
    bool metadata = false;
    int64_t timestamp = -1;
    std::vector<uint8_t> bytes;  // the frame as the runtime would read it
};

struct FakeNdiAudio {
    int sampleRate = 0, channels = 0, samples = 0;
    int64_t timecode = 0;
    int channelStride = 0;
    bool metadata = false;
    int64_t timestamp = -1;
    std::vector<float> samplesPlanar;
};

struct FakeNdiState {
    std::mutex mutex;
    std::condition_variable changed;

    // Steering.
    bool initializeSucceeds = true;
    bool createSucceeds = true;
    int connections = 0;
    bool holdVideo = false;  // send_video blocks until cleared

    // Record.
    int initializeCalls = 0;
    std::string sourceName;
    bool groupsNull = false;
    bool clockVideo = true, clockAudio = true;
    int instancesAlive = 0;
    std::set<uintptr_t> live;
    int connectionPolls = 0;
    int videoEntered = 0;
    int callsAfterDestroy = 0;
    std::vector<FakeNdiVideo> video;
    std::vector<FakeNdiAudio> audio;

    void reset() {
        std::lock_guard lock(mutex);
        initializeSucceeds = createSucceeds = true;
        connections = 0;
        holdVideo = false;
        initializeCalls = connectionPolls = videoEntered = callsAfterDestroy = 0;
        sourceName.clear();
        groupsNull = false;
        clockVideo = clockAudio = true;
        video.clear();
        audio.clear();
    }
    template <class Pred>
    bool waitFor(Pred pred, double seconds = 10) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds), pred);
    }
};

}  // namespace ombry::test

extern "C" ombry::test::FakeNdiState* fakeNdiState();
