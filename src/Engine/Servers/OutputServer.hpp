#pragma once
// The browser output server: serves the output page folder, media and thumbnails by id (with byte ranges)
// and pushes the program state and transport commands to every page over a WebSocket. No authentication;
// CORS preflights are answered so that pages of other origins may fetch media.
//
// Threads: one strand on the network loop runs the listener, every connection, the heartbeat and the work
// of every public operation; the public operations may be called from any thread and return at once
// (stop() waits).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "Engine/Servers/HTTPConnection.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Platform/NetLoop.hpp"

namespace ombry {

class OutputServer final : public ClientConnDelegate, public std::enable_shared_from_this<OutputServer> {
public:
    // Thrown, in effect, by the start of both servers: no port could be bound after the tries.
    enum class ServerError { noPort };
    using StartResult = std::variant<ServerInfo, ServerError>;

    struct Options {
        std::string bindAddress = "::";    // dual-stack, every interface
        net::NetLoop* loop = nullptr;      // the process's network loop when null
        net::NetTimers* timers = nullptr;  // the steady clock when null
        double heartbeatSeconds = 15;
    };

    static std::shared_ptr<OutputServer> create(std::filesystem::path bundleDir, Options options);
    static std::shared_ptr<OutputServer> create(std::filesystem::path bundleDir) { return create(std::move(bundleDir), Options{}); }
    ~OutputServer() override;

    // Binds preferredPort, else the next of the 20 ports above it, each tried once; `done` runs once, on the
    // server's strand. Called once per run.
    void start(std::uint16_t preferredPort, std::function<void(StartResult)> done);
    // Closes the listener and every connection; waits for that unless called on the network thread. It
    // reports 0 pages, and nothing is reported after it has returned.
    void stop();

    // Sends the state to every page; a state with a lower revision than the last one is dropped.
    void broadcastState(ProgramState state);
    void sendTransport(TransportCommandMessage command);
    // Media id → file path, served under "/media/" and "/thumb/". Each call replaces the whole index.
    void updateMediaIndex(std::map<std::string, std::string> index);
    void updateThumbIndex(std::map<std::string, std::string> index);

    // The number of connected output pages (previews and pages without a hello not counted), after each
    // hello and each removal, on the server's strand. Set it before start().
    std::function<void(int)> onConnections;

    // Numeric IPv4 addresses of the interfaces that are up and not loopback.
    static std::vector<std::string> lanAddresses();
    // localhost first, then each LAN address, on this port.
    static ServerInfo infoFor(std::uint16_t port);

    // ClientConnDelegate
    void route(HTTPRequest request, const std::shared_ptr<ClientConn>& conn) override;
    void handleFrame(std::string message, const std::shared_ptr<ClientConn>& conn) override;
    void remove(ClientConn& conn) override;

private:
    OutputServer(std::filesystem::path bundleDir, Options options);
    ServerInfo info() const;
    void adopt(net::tcp::socket socket);
    void armHeartbeat();
    void reportConnections();
    void sendToPages(const std::function<Json()>& message, MessageKind kind);
    void stopOnStrand();
    void routeBundleFile(const std::string& path, const HTTPRequest& request, const std::shared_ptr<ClientConn>& conn);

    net::NetLoop& loop_;
    net::NetTimers& timers_;
    net::Strand strand_;
    Options options_;
    std::filesystem::path bundleDir_;

    // Strand only.
    std::shared_ptr<net::tcp::acceptor> listener_;
    std::map<const ClientConn*, std::shared_ptr<ClientConn>> conns_;
    std::unique_ptr<net::NetTimer> heartbeat_;
    std::uint16_t port_ = 7340;
    std::map<std::string, std::string> mediaIndex_;
    std::map<std::string, std::string> thumbIndex_;
    ProgramState latestState_;
    bool stopped_ = false;
};

}  // namespace ombry
