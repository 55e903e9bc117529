#pragma once
// The plumbing of the browser-test harness programs: options from the command line, one JSON object per
// line on standard output, operations as JSON lines on standard input until its end or SIGTERM.
#include <csignal>
#include <cstdint>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <variant>

#include <unistd.h>

#include "Engine/Model/JsonCoding.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry::harness {

// "--name value" pairs.
inline std::map<std::string, std::string> options(int argc, char** argv) {
    std::map<std::string, std::string> out;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i];
        if (key.rfind("--", 0) == 0) out[key.substr(2)] = argv[i + 1];
    }
    return out;
}

// One line out; safe from any thread.
inline void emit(const Json& j) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::cout << j.dump() << std::endl;
}

// Starts the server on `port` (0: any) and prints {"port":N}, or {"error":...} and false when it gets none.
template <class Server>
bool startAndAnnounce(Server& server, std::uint16_t port) {
    std::promise<typename Server::StartResult> started;
    server.start(port, [&](typename Server::StartResult r) { started.set_value(std::move(r)); });
    const auto result = started.get_future().get();
    if (const auto* info = std::get_if<ServerInfo>(&result)) {
        emit({{"port", info->port}});
        return true;
    }
    emit({{"error", "no port"}});
    return false;
}

// First thing in main: SIGTERM ends the reading of operations, so the server is stopped on the way out.
inline void installSignals() {
    std::signal(SIGTERM, [](int) { ::close(0); });
    std::signal(SIGPIPE, SIG_IGN);
}

// Hands each line of standard input to `handle` until the input ends; a line that is not JSON, or that
// `handle` throws on, is reported on standard error and skipped.
inline void readOperations(const std::function<void(const Json&)>& handle) {
    std::string line;
    while (std::getline(std::cin, line)) {
        try {
            handle(Json::parse(line));
        } catch (const std::exception& e) {
            std::cerr << "harness: " << e.what() << "\n";
        }
    }
}

}  // namespace ombry::harness
