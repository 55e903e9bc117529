// One output server on loopback, driven by JSON lines on standard input, for the browser-page tests:
//   {"op":"media","index":{id:path}}  {"op":"state","state":{...}}  {"op":"transport","message":{...}}
// It prints {"port":N} (or {"error":...}) once started and {"outputs":N} on every connection-count report.
// End of input or SIGTERM stops it.
#include <string>

#include "Engine/Servers/OutputServer.hpp"
#include "Engine/Model/Protocol.hpp"
#include "HarnessLines.hpp"

using namespace ombry;

namespace {

LayerId layerNamed(const std::string& name) {
    if (auto id = fromRaw<LayerId>(name)) return *id;
    throw std::runtime_error("no layer " + name);
}

}  // namespace

int main(int argc, char** argv) {
    harness::installSignals();
    auto args = harness::options(argc, argv);
    const std::string bundle = args["bundle"];
    const int port = args.count("port") ? std::stoi(args["port"]) : 7340;

    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto server = OutputServer::create(bundle, options);
    server->onConnections = [](int n) { harness::emit({{"outputs", n}}); };
    if (!harness::startAndAnnounce(*server, static_cast<std::uint16_t>(port))) return 1;

    harness::readOperations([&](const Json& j) {
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
    });
    server->stop();
    return 0;
}
