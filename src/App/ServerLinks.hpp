#pragma once
// The real servers behind the links the application state holds: the browser output server, the
// remote-control server and the Bluetooth remote. Each adapter owns its server, forwards the state's pushes
// to it and its events to the link's callbacks, and stops it when destroyed; after that nothing reaches the
// link's callbacks any more.
#include <memory>
#include <optional>
#include <string>

#include "App/AppState.hpp"
#include "App/Remotes.hpp"
#include "Engine/Servers/BLEControlServer.hpp"
#include "Engine/Servers/ControlServer.hpp"
#include "Engine/Servers/OutputServer.hpp"
#include "Platform/NetLoop.hpp"

namespace ombry {

class OutputServerRemote final : public OutputServerLink {
public:
    OutputServerRemote(std::filesystem::path bundleDir, OutputServer::Options options);
    ~OutputServerRemote() override;  // stops the server

    void broadcastState(const ProgramState& state) override { server_->broadcastState(state); }
    void sendTransport(const TransportCommandMessage& message) override { server_->sendTransport(message); }
    void updateMediaIndex(MediaIndex index) override { server_->updateMediaIndex(std::move(index)); }
    void updateThumbIndex(MediaIndex index) override { server_->updateThumbIndex(std::move(index)); }
    void start(std::uint16_t preferredPort, ServerStartDone done) override;

    OutputServer& server() { return *server_; }

private:
    std::shared_ptr<OutputServer> server_;
};

class ControlServerRemote final : public ControlServerLink {
public:
    explicit ControlServerRemote(ControlServer::Options options);
    ~ControlServerRemote() override;  // stops the server

    void push(const std::shared_ptr<const LiveSnapshot>& snapshot) override { server_->push(snapshot); }
    void updatePlayheads(const std::shared_ptr<const LiveSnapshot>& snapshot) override {
        server_->updatePlayheads(snapshot);
    }
    void pushTransport(const ControlTransportMessage& message) override { server_->pushTransport(message); }
    void updateThumbIndex(MediaIndex index) override { server_->updateThumbIndex(std::move(index)); }

    void start(std::uint16_t preferredPort, ServerStartDone done) override;
    void stop() override { server_->stop(); }
    void configureControl(const std::string& password) override { server_->configureControl(password); }
    void configureUpload(bool enabled, const std::optional<std::string>& token) override {
        server_->configureUpload(enabled, token);
    }

    ControlServer& server() { return *server_; }

private:
    std::shared_ptr<ControlServer> server_;
};

class BluetoothRemote final : public BluetoothRemoteLink {
public:
    // The server's queue is a strand of `loop`; `hostName` is advertised.
    BluetoothRemote(net::NetLoop& loop, bt::PeripheralFactory factory, std::optional<std::string> hostName);
    ~BluetoothRemote() override;  // stops advertising

    void push(const std::shared_ptr<const LiveSnapshot>& snapshot) override { server_->push(snapshot); }
    void updatePlayheads(const std::shared_ptr<const LiveSnapshot>& snapshot) override {
        server_->updatePlayheads(snapshot);
    }
    void pushTransport(const ControlTransportMessage& message) override { server_->pushTransport(message); }
    void updateThumbIndex(MediaIndex index) override { server_->updateThumbIndex(std::move(index)); }

    void start() override { server_->start(); }
    void stop() override { server_->stop(); }
    void configureControl(const std::string& password) override { server_->configureControl(password); }

    BLEControlServer& server() { return *server_; }

private:
    net::NetLoop& loop_;
    net::Strand strand_;
    std::shared_ptr<BLEControlServer> server_;
};

// The servers of a running application, each on its default port range: the output server over the shipped
// output page folder, the remote-control server advertised through the Avahi daemon, and the Bluetooth
// remote on BlueZ, all on the process's network loop.
struct ServerLinkOptions {
    std::string bindAddress = "::";
    // Null: no DNS-SD advertising.
    std::shared_ptr<dnssd::Advertiser> advertiser;
    // Null: no Bluetooth remote.
    bt::PeripheralFactory peripherals;
    std::optional<std::string> hostName;
};
void addServerLinks(AppEnvironment& env, ServerLinkOptions options);

}  // namespace ombry
