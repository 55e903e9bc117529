#include "Platform/KeepAwake.hpp"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdlib>
#include <optional>

#include "Platform/Log.hpp"
#include "Platform/Product.hpp"

namespace ombry {
namespace {

// logind keeps the lock while we hold the file descriptor it returned; the screensaver needs the cookie
// back. Both are dropped with the activity.
class DBusActivity final : public AwakeActivity {
public:
    std::optional<sdbus::UnixFd> logindLock;
    std::unique_ptr<sdbus::IConnection> session;
    std::optional<std::uint32_t> screensaverCookie;

    ~DBusActivity() override {
        if (session && screensaverCookie) {
            try {
                auto proxy = sdbus::createProxy(*session, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver");
                proxy->callMethod("UnInhibit").onInterface("org.freedesktop.ScreenSaver").withArguments(*screensaverCookie);
            } catch (const sdbus::Error&) {
                // The session's screensaver has gone: its inhibition went with it.
            }
        }
    }
};

class DBusKeepAwake final : public KeepAwake {
public:
    std::unique_ptr<AwakeActivity> begin(const std::string& reason) override {
        auto activity = std::make_unique<DBusActivity>();
        try {
            auto bus = sdbus::createSystemBusConnection();
            auto proxy = sdbus::createProxy(*bus, "org.freedesktop.login1", "/org/freedesktop/login1");
            sdbus::UnixFd fd;
            proxy->callMethod("Inhibit")
                .onInterface("org.freedesktop.login1.Manager")
                .withArguments(std::string("idle:sleep"), std::string(product::name), reason, std::string("block"))
                .storeResultsTo(fd);
            activity->logindLock = std::move(fd);
        } catch (const sdbus::Error& e) {
            logLine(LogLevel::info, "keep-awake", "no logind lock: " + e.getName(), false);
        }
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            try {
                auto session = sdbus::createSessionBusConnection();
                auto proxy = sdbus::createProxy(*session, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver");
                std::uint32_t cookie = 0;
                proxy->callMethod("Inhibit")
                    .onInterface("org.freedesktop.ScreenSaver")
                    .withArguments(std::string(product::name), reason)
                    .storeResultsTo(cookie);
                activity->screensaverCookie = cookie;
                activity->session = std::move(session);
            } catch (const sdbus::Error&) {
                // No screensaver service in this session.
            }
        }
        if (!activity->logindLock && !activity->screensaverCookie) return nullptr;
        return activity;
    }
};

}  // namespace

std::unique_ptr<KeepAwake> KeepAwake::system() { return std::make_unique<DBusKeepAwake>(); }

}  // namespace ombry
