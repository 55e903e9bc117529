// One output server on loopback, driven by JSON lines on standard input, for the browser-page tests:
//   {"op":"media","index":{id:path}}  {"op":"state","state":{...}}  {"op":"transport","message":{...}}
// It prints {"port":N} (or {"error":...}) once started and {"outputs":N} on every connection-count report.
// End of input or SIGTERM stops it.
#include <csignal>
#include <cstdio>
#include <future>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include "Engine/JsonCoding.hpp"
#include "Engine/OutputServer.hpp"
#include "Engine/Protocol.hpp"

using namespace ombry;

namespace {

std::mutex outMutex;

void emit(const Json& j) {
    std::lock_guard lock(outMutex);
    std::cout << j.dump() << std::endl;
}

LayerId layerNamed(const std::string& name) {
    if (auto id = fromRaw<LayerId>(name)) return *id;
    throw std::runtime_error("no layer " + name);
}

}  // namespace

int main(int argc, char** argv) {
    std::string bundle;
    int port = 7340;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--bundle") bundle = argv[i + 1];
        if (key == "--port") port = std::stoi(argv[i + 1]);
    }
    // SIGTERM ends the read below; the server is stopped on the way out.
    std::signal(SIGTERM, [](int) { ::close(0); });
    std::signal(SIGPIPE, SIG_IGN);

    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto server = OutputServer::create(bundle, options);
    server->onConnections = [](int n) { emit({{"outputs", n}}); };
    std::promise<OutputServer::StartResult> started;
    server->start(static_cast<std::uint16_t>(port), [&](OutputServer::StartResult r) { started.set_value(std::move(r)); });
    const auto result = started.get_future().get();
    if (const auto* info = std::get_if<ServerInfo>(&result)) {
        emit({{"port", info->port}});
    } else {
        emit({{"error", "no port"}});
        return 1;
    }

    std::string line;
    while (std::getline(std::cin, line)) {
        try {
            const Json j = Json::parse(line);
            const std::string op = j.at("op");
            if (op == "media") {
                server->updateMediaIndex(j.at("index").get<std::map<std::string, std::string>>());
            } else if (op == "state") {
                server->broadcastState(decodeJson<ProgramState>(j.at("state")));
            } else if (op == "transport") {
                const Json& m = j.at("message");
                TransportCommandMessage command;
                command.layer = layerNamed(m.at("layer"));
                command.action = m.at("action");
                if (m.contains("time")) command.time = m.at("time").get<double>();
                server->sendTransport(command);
            }
        } catch (const std::exception& e) {
            std::cerr << "harness: " << e.what() << "\n";
        }
    }
    server->stop();
    return 0;
}
