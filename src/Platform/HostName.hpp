#pragma once
#include <chrono>
#include <optional>
#include <string>

namespace ombry {

// The name this computer shows people: systemd's pretty host name ("Stage Left PC") when hostnamed answers
// on the system bus within `timeout`, else the kernel's host name; nothing when neither is set. Asks every
// time; callers that want one answer per process keep it.
std::optional<std::string> queryHostName(std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

}  // namespace ombry
