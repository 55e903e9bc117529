// libFuzzer target: the output server in this process over loopback. Each input is what one client sends
// on one connection (pipelined requests, byte ranges, a WebSocket upgrade and frames). Nothing outside the
// page folder is served except media and thumbnails by id, and the server keeps answering.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "Engine/Servers/OutputServer.hpp"
#include "ServerFuzz.hpp"

using namespace ombry;

namespace {

struct Served : fuzz::InProcessServer<OutputServer> {
    Served() {
        healthRequest = "GET /app.js HTTP/1.1\r\nHost: x\r\n\r\n";
        healthExpect = "console.log(1)";
        const auto root = fuzz::scratch();
        const auto bundle = root / "bundle";
        std::filesystem::create_directories(bundle / "sub");
        std::ofstream(bundle / "index.html") << "<!doctype html><title>out</title>";
        std::ofstream(bundle / "app.js") << "console.log(1)";
        std::ofstream(bundle / "sub" / "style.css") << "body{}";
        fuzz::writeSecret(root / "secret.txt");
        std::filesystem::create_directories(root / "bundle-evil");
        fuzz::writeSecret(root / "bundle-evil" / "secret.txt");
        std::ofstream(root / "clip.mov") << std::string(3000, 'v');
        std::ofstream(root / "thumb.jpg") << "jpegbytes";

        start(OutputServer::create(bundle, options()));
        server->updateMediaIndex({{"clip", (root / "clip.mov").string()}, {"gone", (root / "gone.mov").string()}});
        server->updateThumbIndex({{"clip", (root / "thumb.jpg").string()}});
        ProgramState state;
        state.rev = 1;
        server->broadcastState(state);
    }
};

}  // namespace

OMBRY_SERVER_FUZZ_TARGET(Served)
