#pragma once
// The small JSON client of the feedback web service: one POST per call under a base address, the reply's
// envelope read back. Blocking, on the caller's thread (the application state runs it on a worker); the
// client is an immutable value usable from any thread.
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "Engine/Model/JsonCoding.hpp"

namespace ombry {

// The service's reply object; other members are ignored.
struct Envelope {
    bool ok = false;
    std::optional<std::string> error;
    bool operator==(const Envelope&) const = default;
};
void fromJson(const Json& j, Envelope& e);

// An HTTP outcome other than success.
struct ServiceError {
    enum class Kind { http, rateLimited, badResponse };
    Kind kind = Kind::badResponse;
    int status = 0;  // http only

    static ServiceError http(int status) { return {Kind::http, status}; }
    static ServiceError of(Kind kind) { return {kind, 0}; }
    std::string description() const;
    bool operator==(const ServiceError&) const = default;
};

// The transport's own failure (no connection, the time limit, cancelled), passed on as it is.
struct TransportError {
    std::string text;
    bool timedOut = false;
    bool operator==(const TransportError&) const = default;
};

using ServiceResult = std::variant<Envelope, ServiceError, TransportError>;

struct ServiceClient {
    std::string baseURL;
    // The longest a whole request may take, in seconds; tests shorten it.
    double transferLimit = 15;
    // The longest reply body read; a longer one is unreadable.
    static constexpr std::size_t maxReplyBytes = 1u << 20;

    // A client for the typed address (normalised as the inbox address is), or nothing when it is not
    // usable: the address must be https, or http to a loopback host.
    static std::optional<ServiceClient> make(const std::string& service);
    // Whether the host is this machine ("localhost", 127.0.0.0/8, ::1).
    static bool isLoopbackHost(const std::string& host);

    // True when the request should end as cancelled; asked often while it runs, on its thread.
    using Cancelled = std::function<bool()>;
    // POSTs the object as compact JSON to the path appended after the base address's own path.
    ServiceResult post(const std::string& path, const Json& body, const Cancelled& cancelled = {}) const;
    std::string urlFor(const std::string& path) const;
};

}  // namespace ombry
