#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/Audio/AudioDeviceProvider.hpp"
#include "PulseServer.hpp"
#include "Render/Audio/AudioDevices.hpp"

namespace ombry {
namespace {

TEST(PulseDevices, ListsTheNullSinkOfARealServer) {
    test::PulseServer server;
    OMBRY_REQUIRE_PULSE(server);
    ::setenv("PULSE_SERVER", server.address().c_str(), 1);

    const auto devices = AudioDevices::outputDevices();
    const AudioOutputDevice expected{test::PulseServer::sinkName, test::PulseServer::sinkDescription};
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], expected);
    EXPECT_TRUE(AudioDevices::exists(test::PulseServer::sinkName));
    EXPECT_FALSE(AudioDevices::exists("Ombry Null Output"));  // the description is not the uid
    ::unsetenv("PULSE_SERVER");
}

TEST(PulseServerVerdict, MissingServerFailsUnderCiAndIsSkippedElsewhere) {
    test::PulseServer::Options options;
    options.program = "ombry-no-such-sound-server";
    const test::PulseServer missing(options);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.why(), "");
    struct Case {
        const char* ci;
        test::PulseVerdict expected;
    };
    const char* saved = std::getenv("CI");
    const std::string savedValue = saved ? saved : "";
    for (const Case& c : {Case{"1", test::PulseVerdict::fail}, Case{"true", test::PulseVerdict::fail},
                          Case{"", test::PulseVerdict::skip}, Case{nullptr, test::PulseVerdict::skip}}) {
        if (c.ci)
            ::setenv("CI", c.ci, 1);
        else
            ::unsetenv("CI");
        EXPECT_EQ(test::pulseVerdict(missing), c.expected) << (c.ci ? c.ci : "unset");
    }
    if (saved)
        ::setenv("CI", savedValue.c_str(), 1);
    else
        ::unsetenv("CI");

    // A server that is up always runs its tests.
    const test::PulseServer up;
    if (up.ok()) {
        EXPECT_EQ(test::pulseVerdict(up), test::PulseVerdict::run);
    }
}

}  // namespace
}  // namespace ombry
