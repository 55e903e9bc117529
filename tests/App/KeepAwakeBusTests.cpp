// The "A show is on air" activity against a logind stand-in (python3-dbusmock's template) on a private bus
// that this process takes as its system bus. No session bus: the screensaver part is left out.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <tuple>

#include "support/Processes.hpp"
#include "AppStateFixture.hpp"

extern char** environ;

namespace ombry::app_test {
namespace {


using Inhibitor = std::tuple<std::string, std::string, std::string, std::string>;  // what, who, why, mode

// The locks logind holds now; nothing when it cannot be asked.
std::optional<std::vector<Inhibitor>> inhibitors() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return std::nullopt;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::optional<std::vector<Inhibitor>> out;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           "ListInhibitors", &error, &reply, "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
        out.emplace();
        const char *what, *who, *why, *mode;
        uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
            out->emplace_back(what, who, why, mode);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return out;
}

// Polls the stand-in until `pred` holds; the bound only guards against a hang.
bool waitFor(const std::function<bool()>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class KeepAwakeBusTest : public AppStateTest {
protected:
    fs::path dir = test::tempDir("bus");
    pid_t daemon = -1, mock = -1;
    std::optional<std::string> session;

    void SetUp() override {
        AppStateTest::SetUp();
        if (const char* s = std::getenv("DBUS_SESSION_BUS_ADDRESS")) session = s;
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        const fs::path socket = dir / "system_bus_socket";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1);
        daemon = test::spawnProcess({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket.string()});
        ASSERT_GT(daemon, 0) << "dbus-daemon could not be started";
        ASSERT_TRUE(waitFor([&] { return fs::exists(socket); })) << "the private bus did not come up";
        mock = test::spawnProcess({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"});
        ASSERT_GT(mock, 0);
        ASSERT_TRUE(waitFor([] { return inhibitors().has_value(); })) << "the logind stand-in did not come up";
    }
    void TearDown() override {
        AppStateTest::TearDown();
        test::stopProcess(mock);
        test::stopProcess(daemon);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (session) ::setenv("DBUS_SESSION_BUS_ADDRESS", session->c_str(), 1);
    }
    AppState& makeOnBus() {
        AppEnvironment e = env();
        e.keepAwake = KeepAwake::system();
        app = std::make_unique<AppState>(std::move(e));
        app->transitionDuration = 0;
        return *app;
    }
    static bool held() {
        const auto list = inhibitors();
        return list && *list == std::vector<Inhibitor>{{"idle:sleep", "Ombry", "A show is on air", "block"}};
    }
    static bool none() {
        const auto list = inhibitors();
        return list && list->empty();
    }
};

TEST_F(KeepAwakeBusTest, TheLockIsHeldExactlyWhileALiveCueOrAnOutputIsOnAir) {
    makeOnBus();
    const MediaItem clip = add(video());
    app->start();
    q.runPending();
    EXPECT_TRUE(none());
    EXPECT_FALSE(app->awake());

    ASSERT_TRUE(app->trigger(clip, false));
    EXPECT_TRUE(app->awake());
    EXPECT_TRUE(held()) << "the lock is taken before the take returns";
    app->program.clearAll();
    EXPECT_FALSE(app->awake());
    EXPECT_TRUE(waitFor(none)) << "the lock was not released";

    server->onConnections(1);
    q.runPending();
    EXPECT_TRUE(held());
    server->onConnections(0);
    q.runPending();
    EXPECT_TRUE(waitFor(none));
}

TEST(KeepAwakeWithoutBus, NothingIsHeldAndNothingFails) {
    const auto nowhere = "unix:path=" + (test::tempDir("nobus") / "none").string();
    std::optional<std::string> session;
    if (const char* s = std::getenv("DBUS_SESSION_BUS_ADDRESS")) session = s;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", nowhere.c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", nowhere.c_str(), 1);
    EXPECT_EQ(KeepAwake::system()->begin("A show is on air"), nullptr);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (session) ::setenv("DBUS_SESSION_BUS_ADDRESS", session->c_str(), 1);
    else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace ombry::app_test
