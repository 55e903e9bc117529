// libFuzzer target: the remote-control server in this process over loopback, with a control password and
// uploads switched on. Each input is what one client sends on one connection (pipelined requests and
// commands, uploads of any length and name, a WebSocket upgrade and frames). Nothing but the upload page
// and thumbnails by id is served from disk, and the server keeps answering.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <future>

#include "Engine/Servers/ControlServer.hpp"
#include "ServerFuzz.hpp"

using namespace ombry;

namespace {

// Raw bytes no reply could echo from a request: every text a server puts into a reply is JSON-escaped or
// UTF-8, so only the file's own bytes can carry this.
constexpr char kSecretBytes[] = "\x00\xff\xfeOMBRY\x01SECRET\x80\x00";
constexpr std::string_view kSecret{kSecretBytes, sizeof kSecretBytes - 1};

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

struct Served {
    // Virtual time, moved on one frame per input: the heartbeat stays far off, so each input runs alone, but
    // what the server spaces by time (asking the application for the state at most once a frame) comes due.
    net::ManualNetTimers timers;
    net::NetLoop loop;
    std::shared_ptr<ControlServer> server;
    std::uint16_t port = 0;
    std::uint64_t inputs = 0;

    Served() {
        const auto root = fuzz::scratch();
        std::filesystem::create_directories(root / "thumbs");
        std::ofstream(root / "upload.html") << "<!doctype html><title>upload</title>";
        std::ofstream(root / "thumbs" / "a b.jpg") << "0123456789";
        std::ofstream(root / "secret.txt").write(kSecret.data(), std::streamsize(kSecret.size()));

        ControlServer::Options options;
        options.bindAddress = "127.0.0.1";
        options.loop = &loop;
        options.timers = &timers;
        options.serviceName = "Stage";
        options.uploadPage = root / "upload.html";
        options.incomingDir = root / "incoming";
        server = ControlServer::create(options);
        server->perform = [](ControlCommand, std::function<void(ControlResult)> reply) { reply(ControlResult::ok()); };
        server->snapshot = [](std::function<void(std::optional<ControlSnapshot>)> reply) { reply(snapshot()); };
        server->uploadPlaylists = [](std::function<void(std::vector<UploadPlaylistInfo>)> reply) {
            reply({{"p1", "Walk-in"}, {"p2", "Show"}});
        };
        server->ingestUpload = [](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
            std::error_code ec;
            std::filesystem::remove(request.tempPath, ec);
            reply(request.originalFilename.size() % 2 ? UploadIngestResult::success("new", request.originalFilename)
                                                      : UploadIngestResult::failed("That file isn't a clip."));
        };
        std::promise<ControlServer::StartResult> started;
        server->start(0, [&](ControlServer::StartResult r) { started.set_value(std::move(r)); });
        const auto result = started.get_future().get();
        FUZZ_CHECK(std::holds_alternative<ServerInfo>(result));
        port = std::uint16_t(std::get<ServerInfo>(result).port);
        server->configureControl("pw");
        server->configureUpload(true, "tok");
        server->updateThumbIndex({{"a b", (root / "thumbs" / "a b.jpg").string()}});
        server->push(snapshot());
    }
};

Served* served = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLog();
    served = new Served;  // lives as long as the process: the loop thread serves every input
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Exchange e = fuzz::exchange(served->port, fuzz::text(data, size), 2);
    served->timers.advance(1.0 / 60);
    FUZZ_CHECK(e.received.find(kSecret) == std::string::npos);
    FUZZ_CHECK(e.received.empty() || e.received.starts_with("HTTP/1.1 ") || e.received.starts_with("HTTP/1.0 "));
    if (++served->inputs % 64 == 0)
        fuzz::checkStillServing(served->port, "GET /api/state?k=pw HTTP/1.1\r\nHost: x\r\n\r\n", "\"rev\":7");
    return 0;
}
