#include <gtest/gtest.h>

#include <unordered_set>

#include "Platform/Audio/AudioDeviceProvider.hpp"
#include "Render/Audio/AudioDevices.hpp"

namespace ombry {
namespace {

struct ScopedProvider {
    explicit ScopedProvider(audio::AudioDeviceProvider& p) { audio::setAudioDeviceProvider(&p); }
    ~ScopedProvider() { audio::setAudioDeviceProvider(nullptr); }
};

TEST(AudioDevices, ListsDevicesWithOutputChannelsInServerOrder) {
    audio::FixedDeviceProvider provider({
        {"alsa_output.usb-desk", "Desk Speakers", 2},
        {"no_channels", "Silent Thing", 0},
        {"", "Nameless", 2},
        {"hdmi", "", 8},
        {"alsa_output.pci-a", "Speakers", 2},
        {"alsa_output.pci-b", "Speakers", 6},
    });
    ScopedProvider scope(provider);
    const auto devices = AudioDevices::outputDevices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0], (AudioOutputDevice{"alsa_output.usb-desk", "Desk Speakers"}));
    EXPECT_EQ(devices[1].uid, "alsa_output.pci-a");
    EXPECT_EQ(devices[2].uid, "alsa_output.pci-b");
    // Same name, different uids: two different values.
    EXPECT_NE(devices[1], devices[2]);
    EXPECT_EQ(devices[1].id(), "alsa_output.pci-a");
    std::unordered_set<AudioOutputDevice> set(devices.begin(), devices.end());
    EXPECT_EQ(set.size(), 3u);

    EXPECT_TRUE(AudioDevices::exists("alsa_output.pci-b"));
    EXPECT_FALSE(AudioDevices::exists("no_channels"));
    // Unplugged: the next query no longer finds it.
    provider.devices.pop_back();
    EXPECT_FALSE(AudioDevices::exists("alsa_output.pci-b"));
}

TEST(AudioDevices, UnreachableServerGivesAnEmptyList) {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/ombry-no-server", 1);
    audio::PulseDeviceProvider provider(1.0);
    EXPECT_TRUE(provider.outputDevices().empty());
    ScopedProvider scope(provider);
    EXPECT_TRUE(AudioDevices::outputDevices().empty());
    EXPECT_FALSE(AudioDevices::exists("anything"));
    ::unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace ombry
