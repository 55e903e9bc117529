#pragma once
// Starting the servers in the benchmarks, and their --serve modes for the wrk scripts.
#include <cstdint>
#include <cstdlib>
#include <future>
#include <iostream>
#include <variant>

#include "Engine/Model/Protocol.hpp"

namespace ombry::bench {

// Starts `server` on 127.0.0.1 at `port` (0: any) and returns its port; exits when no port is free.
template <class Server>
std::uint16_t startServer(Server& server, std::uint16_t port) {
    std::promise<typename Server::StartResult> started;
    server.start(port, [&](typename Server::StartResult r) { started.set_value(r); });
    auto result = started.get_future().get();
    if (!std::holds_alternative<ServerInfo>(result)) {
        std::cerr << "no port\n";
        std::exit(1);
    }
    return static_cast<std::uint16_t>(std::get<ServerInfo>(result).port);
}

// Starts `server`, says "ready" and serves until stdin closes.
template <class Server>
int serveUntilStdinCloses(Server& server, std::uint16_t port) {
    startServer(server, port);
    std::cout << "ready" << std::endl;
    char c;
    while (std::cin.get(c)) {
    }
    server.stop();
    return 0;
}

}  // namespace ombry::bench
