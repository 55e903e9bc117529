#pragma once
// DNS Service Discovery registration of one service. The real one talks to the Avahi daemon; tests use a
// fake. Error codes are the daemon's (negative); 0 is success.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ombry::dnssd {

struct ServiceSpec {
    std::string name;  // the instance name asked for
    std::string type;  // "_ombry._tcp"
    std::uint16_t port = 0;
    std::vector<std::string> txt;  // TXT strings; none = no TXT data
};

// A live registration; destroying it withdraws the service. Destroy it off the reply's thread.
class Registration {
public:
    virtual ~Registration() = default;
};

class Advertiser {
public:
    virtual ~Advertiser() = default;
    // Called once the daemon has answered: 0 and the name it confirmed (an alternative one after a
    // collision), or an error code. Called on any thread, possibly more than once for one registration.
    using Reply = std::function<void(int error, std::string name)>;
    struct Result {
        std::unique_ptr<Registration> registration;  // null when `error` is set
        int error = 0;
    };
    // Starts a registration; a failure known at once comes back in the result rather than the reply.
    virtual Result registerService(const ServiceSpec& service, Reply reply) = 0;
};

// The Avahi daemon through avahi-client (system D-Bus).
std::unique_ptr<Advertiser> makeAvahiAdvertiser();

}  // namespace ombry::dnssd
