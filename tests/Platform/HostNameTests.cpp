// The computer's name for remotes: hostnamed's pretty name on a private system bus served by dbusmock, and
// the kernel's name when the bus or the pretty name is missing.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/Processes.hpp"
#include "Platform/HostName.hpp"
#include "support/TestEnv.hpp"

extern char** environ;

using namespace ombry;
namespace fs = std::filesystem;

namespace {


std::string kernelHostName() {
    char buf[256] = {};
    gethostname(buf, sizeof buf - 1);
    return buf;
}

bool nameOwned(const char* name) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &error, &reply, "s", name) >= 0)
        sd_bus_message_read(reply, "b", &owned);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return owned;
}

// A private bus that this process takes as its system bus, and hostnamed on it.
class HostNameTest : public ::testing::Test {
protected:
    fs::path dir = test::tempDir("bus");
    pid_t daemon = -1, mock = -1;

    void SetUp() override {
        const fs::path socket = dir / "system_bus_socket";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1);
        daemon = test::spawnProcess({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket.string()});
        ASSERT_GT(daemon, 0) << "dbus-daemon could not be started";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(socket) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(socket)) << "the private bus did not come up";
    }
    void TearDown() override {
        test::stopProcess(mock);
        test::stopProcess(daemon);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    void serveHostnamed(const std::string& prettyName) {
        mock = test::spawnProcess({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template",
                      std::string(OMBRY_TEST_DIR) + "/hostnamed_mock.py", "--parameters",
                      "{\"PrettyHostname\": \"" + prettyName + "\"}"});
        ASSERT_GT(mock, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!nameOwned("org.freedesktop.hostname1") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(nameOwned("org.freedesktop.hostname1")) << "the mock hostnamed did not come up";
    }
};

}  // namespace

TEST_F(HostNameTest, ThePrettyNameWhenHostnamedHasOne) {
    serveHostnamed("Stage Left \u2014 Booth");
    EXPECT_EQ(queryHostName(), "Stage Left \u2014 Booth");
}

TEST_F(HostNameTest, TheKernelNameWhenThePrettyNameIsEmptyOrNobodyAnswers) {
    serveHostnamed("");
    EXPECT_EQ(queryHostName(), kernelHostName());
    test::stopProcess(mock);
    mock = -1;
    EXPECT_EQ(queryHostName(), kernelHostName());  // the bus answers that the service is unknown
}

TEST(HostName, TheKernelNameWithoutASystemBus) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (test::tempDir("nobus") / "none").string()).c_str(), 1);
    EXPECT_EQ(queryHostName(), kernelHostName());
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
