// The fake runtime's entry points, with the runtime's exported names and our own declarations of its types.
#include "FakeNdi.hpp"

#include "Platform/Ndi/NdiRuntime.hpp"

using ombry::test::FakeNdiState;
namespace ndi = ombry::ndi;

namespace {
// Instances are numbers, so that a call after destruction is counted rather than crashing.
uintptr_t nextInstance = 0;
bool alive(FakeNdiState& s, ndi::SendInstance instance) { return s.live.count(reinterpret_cast<uintptr_t>(instance)) > 0; }
}  // namespace

extern "C" {

__attribute__((visibility("default"))) FakeNdiState* fakeNdiState() {
    static FakeNdiState state;
    return &state;
}

__attribute__((visibility("default"))) bool NDIlib_initialize() {
    auto& s = *fakeNdiState();
    std::lock_guard lock(s.mutex);
    ++s.initializeCalls;
    return s.initializeSucceeds;
}

__attribute__((visibility("default"))) ndi::SendInstance NDIlib_send_create(const ndi::SendCreateSettings* settings) {
    auto& s = *fakeNdiState();
    std::lock_guard lock(s.mutex);
    if (!s.createSucceeds || !settings) return nullptr;
    s.sourceName = settings->sourceName ? settings->sourceName : "";
    s.groupsNull = settings->groups == nullptr;
    s.clockVideo = settings->clockVideo;
    s.clockAudio = settings->clockAudio;
    const uintptr_t id = ++nextInstance;
    s.live.insert(id);
    ++s.instancesAlive;
    s.changed.notify_all();
    return reinterpret_cast<ndi::SendInstance>(id);
}

__attribute__((visibility("default"))) void NDIlib_send_destroy(ndi::SendInstance instance) {
    auto& s = *fakeNdiState();
    std::lock_guard lock(s.mutex);
    if (!alive(s, instance)) {
        ++s.callsAfterDestroy;
        return;
    }
    s.live.erase(reinterpret_cast<uintptr_t>(instance));
    --s.instancesAlive;
    s.changed.notify_all();
}

__attribute__((visibility("default"))) int NDIlib_send_get_no_connections(ndi::SendInstance instance, uint32_t) {
    auto& s = *fakeNdiState();
    std::lock_guard lock(s.mutex);
    if (!alive(s, instance)) ++s.callsAfterDestroy;
    ++s.connectionPolls;
    return s.connections;
}

__attribute__((visibility("default"))) void NDIlib_send_send_video_v2(ndi::SendInstance instance,
                                                                      const ndi::VideoFrameV2* f) {
    auto& s = *fakeNdiState();
    std::unique_lock lock(s.mutex);
    if (!alive(s, instance) || !f) {
        ++s.callsAfterDestroy;
        return;
    }
    ++s.videoEntered;
    s.changed.notify_all();
    s.changed.wait(lock, [&] { return !s.holdVideo; });
    ombry::test::FakeNdiVideo v;
    v.xres = f->xres;
    v.yres = f->yres;
    v.fourCC = f->fourCC;
    v.frameRateN = f->frameRateN;
    v.frameRateD = f->frameRateD;
    v.pictureAspectRatio = f->pictureAspectRatio;
    v.frameFormat = f->frameFormat;
    v.timecode = f->timecode;
    v.lineStride = f->lineStrideBytes;
    v.metadata = f->metadata != nullptr;
    v.timestamp = f->timestamp;
    size_t bytes = 0;
    if (f->fourCC == ndi::fourCCUYVA) bytes = size_t(f->lineStrideBytes) * size_t(f->yres) + size_t(f->xres) * size_t(f->yres);
    else bytes = size_t(f->lineStrideBytes) * size_t(f->yres);
    if (f->data) v.bytes.assign(f->data, f->data + bytes);
    s.video.push_back(std::move(v));
    s.changed.notify_all();
}

__attribute__((visibility("default"))) void NDIlib_send_send_audio_v2(ndi::SendInstance instance,
                                                                      const ndi::AudioFrameV2* f) {
    auto& s = *fakeNdiState();
    std::lock_guard lock(s.mutex);
    if (!alive(s, instance) || !f) {
        ++s.callsAfterDestroy;
        return;
    }
    ombry::test::FakeNdiAudio a;
    a.sampleRate = f->sampleRate;
    a.channels = f->channels;
    a.samples = f->samples;
    a.timecode = f->timecode;
    a.channelStride = f->channelStrideBytes;
    a.metadata = f->metadata != nullptr;
    a.timestamp = f->timestamp;
    if (f->data) {
        const size_t perChannel = size_t(f->channelStrideBytes) / sizeof(float);
        for (int c = 0; c < f->channels; ++c)
            a.samplesPlanar.insert(a.samplesPlanar.end(), f->data + size_t(c) * perChannel,
                                   f->data + size_t(c) * perChannel + size_t(f->samples));
    }
    s.audio.push_back(std::move(a));
    s.changed.notify_all();
}

}  // extern "C"
