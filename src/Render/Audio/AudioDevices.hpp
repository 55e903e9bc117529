#pragma once
#include <functional>
#include <string>
#include <vector>

namespace ombry {

// An output device the operator can send the monitor sound to. `uid` is also its identity.
struct AudioOutputDevice {
    std::string uid;
    std::string name;

    const std::string& id() const { return uid; }
    bool operator==(const AudioOutputDevice&) const = default;
};

// The machine's output devices, queried afresh on every call (main thread).
namespace AudioDevices {
// Devices with at least one output channel, a uid and a name, in the sound server's order.
// Never fails: an unreachable server gives an empty list.
std::vector<AudioOutputDevice> outputDevices();
bool exists(const std::string& uid);
}  // namespace AudioDevices

}  // namespace ombry

template <>
struct std::hash<ombry::AudioOutputDevice> {
    size_t operator()(const ombry::AudioOutputDevice& d) const noexcept {
        const size_t h = std::hash<std::string>{}(d.uid);
        return h ^ (std::hash<std::string>{}(d.name) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};
