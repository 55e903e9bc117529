#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/Audio/AudioDeviceProvider.hpp"
#include "PulseServer.hpp"
#include "Render/Audio/AudioDevices.hpp"

namespace ombry {
namespace {

TEST(PulseDevices, ListsTheNullSinkOfARealServer) {
    test::PulseServer server;
    if (!server.ok()) GTEST_SKIP() << server.why();
    ::setenv("PULSE_SERVER", server.address().c_str(), 1);

    const auto devices = AudioDevices::outputDevices();
    const AudioOutputDevice expected{test::PulseServer::sinkName, test::PulseServer::sinkDescription};
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], expected);
    EXPECT_TRUE(AudioDevices::exists(test::PulseServer::sinkName));
    EXPECT_FALSE(AudioDevices::exists("Ombry Null Output"));  // the description is not the uid
    ::unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace ombry
