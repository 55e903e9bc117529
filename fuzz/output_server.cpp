// libFuzzer target: the output server in this process over loopback. Each input is what one client sends
// on one connection (pipelined requests, byte ranges, a WebSocket upgrade and frames). Nothing outside the
// page folder is served except media and thumbnails by id, and the server keeps answering.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <future>

#include "Engine/Servers/OutputServer.hpp"
#include "ServerFuzz.hpp"

using namespace ombry;

namespace {

// Raw bytes no reply could echo from a request: every text a server puts into a reply is JSON-escaped or
// UTF-8, so only the file's own bytes can carry this.
constexpr char kSecretBytes[] = "\x00\xff\xfeOMBRY\x01SECRET\x80\x00";
constexpr std::string_view kSecret{kSecretBytes, sizeof kSecretBytes - 1};

struct Served {
    net::ManualNetTimers timers;  // no heartbeat: each input runs alone
    net::NetLoop loop;
    std::shared_ptr<OutputServer> server;
    std::uint16_t port = 0;
    std::uint64_t inputs = 0;

    Served() {
        const auto root = fuzz::scratch();
        const auto bundle = root / "bundle";
        std::filesystem::create_directories(bundle / "sub");
        std::ofstream(bundle / "index.html") << "<!doctype html><title>out</title>";
        std::ofstream(bundle / "app.js") << "console.log(1)";
        std::ofstream(bundle / "sub" / "style.css") << "body{}";
        std::ofstream(root / "secret.txt").write(kSecret.data(), std::streamsize(kSecret.size()));
        std::filesystem::create_directories(root / "bundle-evil");
        std::ofstream(root / "bundle-evil" / "secret.txt").write(kSecret.data(), std::streamsize(kSecret.size()));
        std::ofstream(root / "clip.mov") << std::string(3000, 'v');
        std::ofstream(root / "thumb.jpg") << "jpegbytes";

        OutputServer::Options options;
        options.bindAddress = "127.0.0.1";
        options.loop = &loop;
        options.timers = &timers;
        server = OutputServer::create(bundle, options);
        std::promise<OutputServer::StartResult> started;
        server->start(0, [&](OutputServer::StartResult r) { started.set_value(std::move(r)); });
        const auto result = started.get_future().get();
        FUZZ_CHECK(std::holds_alternative<ServerInfo>(result));
        port = std::uint16_t(std::get<ServerInfo>(result).port);
        server->updateMediaIndex({{"clip", (root / "clip.mov").string()}, {"gone", (root / "gone.mov").string()}});
        server->updateThumbIndex({{"clip", (root / "thumb.jpg").string()}});
        ProgramState state;
        state.rev = 1;
        server->broadcastState(state);
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
    FUZZ_CHECK(e.received.find(kSecret) == std::string::npos);
    FUZZ_CHECK(e.received.empty() || e.received.starts_with("HTTP/1.1 ") || e.received.starts_with("HTTP/1.0 "));
    if (++served->inputs % 64 == 0)
        fuzz::checkStillServing(served->port, "GET /app.js HTTP/1.1\r\nHost: x\r\n\r\n", "console.log(1)");
    return 0;
}
