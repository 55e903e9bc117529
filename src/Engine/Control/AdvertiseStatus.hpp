#pragma once
// Where the remote-control server's DNS-SD advertisement stands, as the application shows it.
#include <string>

namespace ombry {

struct AdvertiseStatus {
    enum class Kind { registered, failed, starting, blocked };
    Kind kind = Kind::starting;
    std::string name;  // registered
    int code = 0;      // failed
    bool operator==(const AdvertiseStatus&) const = default;
};

}  // namespace ombry
