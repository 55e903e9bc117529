// libFuzzer target: the remote-control server in this process over loopback, with a control password and
// uploads switched on. Each input is what one client sends on one connection (pipelined requests and
// commands, uploads of any length and name, a WebSocket upgrade and frames). Nothing but the upload page
// and thumbnails by id is served from disk, and the server keeps answering.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "Engine/Servers/ControlServer.hpp"
#include "ServerFuzz.hpp"

using namespace ombry;

namespace {

ControlSnapshot snapshot() {
    ControlSnapshot s;
    s.rev = 7;
    s.host = "Stage";
    for (int i = 1; i <= 3; ++i) {
        ControlClip c;
        c.index = i;
        c.id = "a b";
        c.name = "Clip " + std::to_string(i);
        s.clips.push_back(c);
    }
    return s;
}

struct Served : fuzz::InProcessServer<ControlServer> {
    Served() {
        // A frame per input: what the server spaces by time (asking the application for the state at most
        // once a frame) comes due.
        secondsPerInput = 1.0 / 60;
        healthRequest = "GET /api/state?k=pw HTTP/1.1\r\nHost: x\r\n\r\n";
        healthExpect = "\"rev\":7";
        const auto root = fuzz::scratch();
        std::filesystem::create_directories(root / "thumbs");
        std::ofstream(root / "upload.html") << "<!doctype html><title>upload</title>";
        std::ofstream(root / "thumbs" / "a b.jpg") << "0123456789";
        fuzz::writeSecret(root / "secret.txt");

        auto o = options();
        o.serviceName = "Stage";
        o.uploadPage = root / "upload.html";
        o.incomingDir = root / "incoming";
        auto created = ControlServer::create(o);
        created->perform = [](ControlCommand, std::function<void(ControlResult)> reply) { reply(ControlResult::ok()); };
        created->snapshot = [](std::function<void(std::optional<ControlSnapshot>)> reply) { reply(snapshot()); };
        created->uploadPlaylists = [](std::function<void(std::vector<UploadPlaylistInfo>)> reply) {
            reply({{"p1", "Walk-in"}, {"p2", "Show"}});
        };
        created->ingestUpload = [](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
            std::error_code ec;
            std::filesystem::remove(request.tempPath, ec);
            reply(request.originalFilename.size() % 2 ? UploadIngestResult::success("new", request.originalFilename)
                                                      : UploadIngestResult::failed("That file isn't a clip."));
        };
        start(std::move(created));
        server->configureControl("pw");
        server->configureUpload(true, "tok");
        server->updateThumbIndex({{"a b", (root / "thumbs" / "a b.jpg").string()}});
        server->push(snapshot());
    }
};

}  // namespace

OMBRY_SERVER_FUZZ_TARGET(Served)
