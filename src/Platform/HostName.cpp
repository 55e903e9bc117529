#include "Platform/HostName.hpp"

#include <cstdint>

#include <limits.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace ombry {
namespace {

std::optional<std::string> prettyHostName(std::chrono::milliseconds timeout) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return std::nullopt;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::optional<std::string> name;
    const char* text = nullptr;
    // A bounded call of our own: sd-bus's property helpers wait up to 25 s for a daemon that hangs.
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                                       "org.freedesktop.DBus.Properties", "Get") >= 0 &&
        sd_bus_message_append(call, "ss", "org.freedesktop.hostname1", "PrettyHostname") >= 0 &&
        sd_bus_call(bus, call, std::uint64_t(timeout.count()) * 1000, &error, &reply) >= 0 &&
        sd_bus_message_read(reply, "v", "s", &text) >= 0 && text && *text)
        name = text;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return name;
}

}  // namespace

std::optional<std::string> queryHostName(std::chrono::milliseconds timeout) {
    if (auto pretty = prettyHostName(timeout)) return pretty;
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return std::nullopt;
    return std::string(buf);
}

}  // namespace ombry
