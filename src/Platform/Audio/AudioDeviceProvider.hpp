#pragma once
#include <string>
#include <vector>

namespace ombry::audio {

// One output device as the sound server lists it.
struct OutputDeviceInfo {
    std::string uid;   // the server's persistent name for it
    std::string name;  // its display name
    int channels = 0;  // output channels
};

// Lists the machine's output devices, in the server's order. Never fails: an unreachable server
// gives an empty list.
class AudioDeviceProvider {
public:
    virtual ~AudioDeviceProvider() = default;
    virtual std::vector<OutputDeviceInfo> outputDevices() = 0;
};

// The PulseAudio sinks (also served by PipeWire desktops): uid = sink name, name = sink description.
// Connects afresh on every call and gives up after `timeoutSeconds`; never spawns a server.
class PulseDeviceProvider final : public AudioDeviceProvider {
public:
    explicit PulseDeviceProvider(double timeoutSeconds = 2.0) : timeoutSeconds_(timeoutSeconds) {}
    std::vector<OutputDeviceInfo> outputDevices() override;

private:
    double timeoutSeconds_;
};

// A fixed list, for tests and machines without a sound server.
class FixedDeviceProvider final : public AudioDeviceProvider {
public:
    explicit FixedDeviceProvider(std::vector<OutputDeviceInfo> devices = {}) : devices(std::move(devices)) {}
    std::vector<OutputDeviceInfo> outputDevices() override { return devices; }
    std::vector<OutputDeviceInfo> devices;
};

// The process provider: PulseAudio unless a test installed another (nullptr restores it).
AudioDeviceProvider& audioDeviceProvider();
void setAudioDeviceProvider(AudioDeviceProvider* provider);

}  // namespace ombry::audio
