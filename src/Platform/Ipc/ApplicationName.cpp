#include "Platform/Ipc/ApplicationName.hpp"

#include <errno.h>

#include <mutex>

namespace ombry {

namespace {
std::mutex nameLock;
std::string& displayName() {
    static std::string name;
    return name;
}
}  // namespace

std::string applicationName() {
    {
        std::lock_guard lock(nameLock);
        if (!displayName().empty()) return displayName();
    }
    // argv[0]'s last component: unlike /proc/self/comm it is neither cut to 15 bytes nor renamed with the
    // main thread.
    const char* process = program_invocation_short_name;
    return process ? process : "";
}

void setApplicationDisplayName(const std::string& name) {
    std::lock_guard lock(nameLock);
    displayName() = name;
}

}  // namespace ombry
