#include "Render/Audio/AudioDevices.hpp"

#include <algorithm>

#include "Platform/Audio/AudioDeviceProvider.hpp"

namespace ombry::AudioDevices {

std::vector<AudioOutputDevice> outputDevices() {
    std::vector<AudioOutputDevice> list;
    for (auto& info : audio::audioDeviceProvider().outputDevices()) {
        if (info.channels <= 0 || info.uid.empty() || info.name.empty()) continue;
        list.push_back({std::move(info.uid), std::move(info.name)});
    }
    return list;
}

bool exists(const std::string& uid) {
    const auto list = outputDevices();
    return std::any_of(list.begin(), list.end(), [&](const AudioOutputDevice& d) { return d.uid == uid; });
}

}  // namespace ombry::AudioDevices
