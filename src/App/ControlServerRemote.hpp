#pragma once
// The remote-control server as the application state holds it: the state's hooks and pushes go through to
// the server, which is started, stopped and configured from the settings.
#include <memory>

#include "App/Remotes.hpp"
#include "Engine/ControlServer.hpp"

namespace ombry {

class ControlServerRemote final : public ControlServerLink {
public:
    explicit ControlServerRemote(ControlServer::Options options);
    ~ControlServerRemote() override;  // stops the server

    void push(const ControlSnapshot& snapshot) override { server_->push(snapshot); }
    void pushTransport(const ControlTransportMessage& message) override { server_->pushTransport(message); }
    void updateThumbIndex(MediaIndex index) override { server_->updateThumbIndex(std::move(index)); }

    void start(std::uint16_t port, std::function<void(ControlServer::StartResult)> done) {
        server_->start(port, std::move(done));
    }
    void stop() { server_->stop(); }
    void configure(std::optional<std::string> password, bool uploadEnabled, std::optional<std::string> uploadToken) {
        server_->configureControl(std::move(password));
        server_->configureUpload(uploadEnabled, std::move(uploadToken));
    }

    ControlServer& server() { return *server_; }

private:
    std::shared_ptr<ControlServer> server_;
};

}  // namespace ombry
