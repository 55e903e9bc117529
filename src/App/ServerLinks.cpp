#include "App/ServerLinks.hpp"

namespace ombry {

// The link's callbacks are filled by the state after construction, before the first start, so the servers'
// callbacks read them when called.

OutputServerRemote::OutputServerRemote(std::filesystem::path bundleDir, OutputServer::Options options)
    : server_(OutputServer::create(std::move(bundleDir), options)) {
    server_->onConnections = [this](int count) {
        if (onConnections) onConnections(count);
    };
}

OutputServerRemote::~OutputServerRemote() {
    server_->stop();
    // stop() has run on the strand: no connection is left to report.
    server_->onConnections = nullptr;
}

void OutputServerRemote::start(std::uint16_t preferredPort, ServerStartDone done) {
    server_->start(preferredPort, [done = std::move(done)](OutputServer::StartResult result) {
        if (const auto* info = std::get_if<ServerInfo>(&result)) return done(*info);
        done(ServerStartFailure::noPort);
    });
}

ControlServerRemote::ControlServerRemote(ControlServer::Options options) : server_(ControlServer::create(std::move(options))) {
    server_->perform = [this](ControlCommand command, std::function<void(ControlResult)> reply) {
        if (!perform) return reply(ControlResult::badRequest("control not wired"));
        perform(std::move(command), std::move(reply));
    };
    server_->snapshot = [this](std::function<void(std::optional<ControlSnapshot>)> reply) {
        if (!snapshot) return reply(std::nullopt);
        snapshot(std::move(reply));
    };
    server_->ingestUpload = [this](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
        if (!ingestUpload) return reply(UploadIngestResult::failed("upload not wired"));
        ingestUpload(std::move(request), std::move(reply));
    };
    server_->uploadPlaylists = [this](std::function<void(std::vector<UploadPlaylistInfo>)> reply) {
        if (!uploadPlaylists) return reply({});
        uploadPlaylists(std::move(reply));
    };
    server_->onClientsChanged = [this](int remotes, int companions) {
        if (onClientsChanged) onClientsChanged(remotes, companions);
    };
    server_->onInfoChange = [this](ServerInfo info) {
        if (onInfoChange) onInfoChange(std::move(info));
    };
    server_->onAdvertiseStatus = [this](ControlServer::AdvertiseStatus status) {
        if (onAdvertiseStatus) onAdvertiseStatus(std::move(status));
    };
}

ControlServerRemote::~ControlServerRemote() {
    // After stop() no connection is left to ask the hooks; requests already handed to the application
    // answer into connections that are gone.
    server_->stop();
}

void ControlServerRemote::start(std::uint16_t preferredPort, ServerStartDone done) {
    server_->start(preferredPort, [done = std::move(done)](ControlServer::StartResult result) {
        if (const auto* info = std::get_if<ServerInfo>(&result)) return done(*info);
        done(std::get<ControlServer::StartError>(result) == ControlServer::StartError::cancelled
                 ? ServerStartFailure::cancelled
                 : ServerStartFailure::noPort);
    });
}

BluetoothRemote::BluetoothRemote(net::NetLoop& loop, bt::PeripheralFactory factory, std::optional<std::string> hostName)
    : loop_(loop), strand_(loop.makeStrand()),
      server_(BLEControlServer::create(strand_, std::move(factory), std::move(hostName))) {
    server_->perform = [this](ControlCommand command, std::function<void(ControlResult)> done) {
        if (!perform) return done(ControlResult::badRequest("control not wired"));
        perform(std::move(command), std::move(done));
    };
    server_->onClientsChanged = [this](int count) {
        if (onClientsChanged) onClientsChanged(count);
    };
    server_->onStateChange = [this](bt::BluetoothState state) {
        if (onStateChange) onStateChange(state);
    };
}

BluetoothRemote::~BluetoothRemote() {
    // The server lives on past this (its queued work holds it): cut it off from this object on its own queue
    // first, so that nothing it still runs reaches a link that is gone.
    const auto server = server_;
    net::runOn(loop_, strand_, [server] {
        server->perform = nullptr;
        server->onClientsChanged = nullptr;
        server->onStateChange = nullptr;
    });
    server->stop();
}

void addServerLinks(AppEnvironment& env, ServerLinkOptions options) {
    OutputServer::Options output;
    output.bindAddress = options.bindAddress;
    env.outputServer = std::make_shared<OutputServerRemote>(outputBundleDir(), output);
    ControlServer::Options control;
    control.bindAddress = options.bindAddress;
    control.advertiser = std::move(options.advertiser);
    control.serviceName = options.hostName.value_or("");
    env.controlServer = std::make_shared<ControlServerRemote>(std::move(control));
    if (options.peripherals)
        env.bleRemote = std::make_shared<BluetoothRemote>(net::netLoop(), std::move(options.peripherals),
                                                          std::move(options.hostName));
}

}  // namespace ombry
