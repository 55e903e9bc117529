#pragma once
// Keeps the machine and its display awake while a show is on air.
#include <memory>
#include <string>

namespace ombry {

// One held activity: released when destroyed.
class AwakeActivity {
public:
    virtual ~AwakeActivity() = default;
};

class KeepAwake {
public:
    virtual ~KeepAwake() = default;
    // Asks every bus that offers it to keep the system and the display from idling; null when no bus took
    // the request (no bus, no logind, no screensaver service).
    virtual std::unique_ptr<AwakeActivity> begin(const std::string& reason) = 0;

    // logind's "idle:sleep" block lock over the system bus, plus the session's screensaver inhibition when a
    // session bus offers it. The buses are the ones the environment names (DBUS_SYSTEM_BUS_ADDRESS,
    // DBUS_SESSION_BUS_ADDRESS) or the standard ones.
    static std::unique_ptr<KeepAwake> system();
};

}  // namespace ombry
