#include "App/ControlServerRemote.hpp"

namespace ombry {

// The link's hooks are filled by the state after construction, before the first start, so the server's
// hooks read them when called.
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
}

ControlServerRemote::~ControlServerRemote() { server_->stop(); }

}  // namespace ombry
