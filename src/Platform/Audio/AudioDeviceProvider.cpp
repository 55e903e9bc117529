#include "Platform/Audio/AudioDeviceProvider.hpp"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "Platform/Product.hpp"

namespace ombry::audio {
namespace {

struct Listing {
    std::vector<OutputDeviceInfo> devices;
    bool done = false;
    bool requested = false;
};

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* listing = static_cast<Listing*>(userdata);
    if (eol != 0 || !info) {
        listing->done = true;
        return;
    }
    OutputDeviceInfo device;
    if (info->name) device.uid = info->name;
    if (info->description) device.name = info->description;
    device.channels = info->channel_map.channels;
    listing->devices.push_back(std::move(device));
}

struct MainloopDeleter {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextDeleter {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};

}  // namespace

std::vector<OutputDeviceInfo> PulseDeviceProvider::outputDevices() {
    std::unique_ptr<pa_mainloop, MainloopDeleter> loop(pa_mainloop_new());
    if (!loop) return {};
    std::unique_ptr<pa_context, ContextDeleter> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), product::name));
    if (!context) return {};
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return {};

    Listing listing;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds_);
    while (!listing.done) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        if (!PA_CONTEXT_IS_GOOD(state)) return {};
        if (state == PA_CONTEXT_READY && !listing.requested) {
            pa_operation* op = pa_context_get_sink_info_list(context.get(), onSink, &listing);
            if (!op) return {};
            pa_operation_unref(op);
            listing.requested = true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        if (pa_mainloop_prepare(loop.get(), int(left.count())) < 0) return {};
        if (pa_mainloop_poll(loop.get()) < 0) return {};
        if (pa_mainloop_dispatch(loop.get()) < 0) return {};
    }
    return std::move(listing.devices);
}

namespace {
std::atomic<AudioDeviceProvider*> installed{nullptr};
}

AudioDeviceProvider& audioDeviceProvider() {
    if (AudioDeviceProvider* p = installed.load()) return *p;
    static PulseDeviceProvider pulse;
    return pulse;
}

void setAudioDeviceProvider(AudioDeviceProvider* provider) { installed.store(provider); }

}  // namespace ombry::audio
