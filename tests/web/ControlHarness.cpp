// One remote-control server on loopback, for the upload-page tests, driven by JSON lines on standard input:
//   {"op":"upload","enabled":bool,"token":"..."}     switches uploads and sets the token
//   {"op":"playlists","playlists":[{"id","name"}]}   what the server offers uploaders
//   {"op":"ingest","ok":bool,"message":"..."}        how the intake answers later uploads (default: ok)
// It prints {"port":N} (or {"error":...}) once started, and {"ingest":{...}} for every file handed to the
// intake: what the request said, and the size, SHA-256 and first bytes (hex) of the file it received. Like
// the application, an accepted file asking for a new playlist makes one ("new-1", …) that later meta replies
// offer. End of input or SIGTERM stops it.
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "Engine/Servers/ControlServer.hpp"
#include "Engine/Intake/ContentHash.hpp"
#include "HarnessLines.hpp"

using namespace ombry;

namespace {

// The intake's side of the harness: touched from the hooks' threads and the reading thread.
struct Intake {
    std::mutex mutex;
    std::vector<UploadPlaylistInfo> playlists;
    bool accept = true;
    std::string refusal;
    int made = 0;
};

std::string firstBytesHex(const std::filesystem::path& file, std::size_t n) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(n, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

Json optionalText(const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); }

}  // namespace

int main(int argc, char** argv) {
    harness::installSignals();
    auto args = harness::options(argc, argv);
    Intake intake;

    ControlServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.uploadPage = args["page"];
    options.incomingDir = args["incoming"];
    auto server = ControlServer::create(options);
    server->uploadPlaylists = [&intake](std::function<void(std::vector<UploadPlaylistInfo>)> reply) {
        std::vector<UploadPlaylistInfo> list;
        {
            std::lock_guard lock(intake.mutex);
            list = intake.playlists;
        }
        reply(std::move(list));
    };
    server->ingestUpload = [&intake](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(request.tempPath, ec);
        harness::emit({{"ingest",
                        {{"tempPath", request.tempPath},
                         {"originalFilename", request.originalFilename},
                         {"displayName", optionalText(request.displayName)},
                         {"playlistId", optionalText(request.playlistId)},
                         {"newPlaylistName", optionalText(request.newPlaylistName)},
                         {"size", ec ? Json(nullptr) : Json(size)},
                         {"sha256", optionalText(ContentHash::sha256(request.tempPath))},
                         {"head", firstBytesHex(request.tempPath, 16)}}}});
        std::filesystem::remove(request.tempPath, ec);
        UploadIngestResult result;
        {
            std::lock_guard lock(intake.mutex);
            if (!intake.accept) {
                result = UploadIngestResult::failed(intake.refusal);
            } else {
                const std::string id = "clip-" + std::to_string(++intake.made);
                if (request.newPlaylistName && !request.playlistId)
                    intake.playlists.push_back({"new-" + std::to_string(intake.made), *request.newPlaylistName});
                result = UploadIngestResult::success(id, request.displayName.value_or(request.originalFilename));
            }
        }
        reply(std::move(result));
    };

    const auto port = static_cast<std::uint16_t>(args.count("port") ? std::stoi(args["port"]) : 0);
    if (!harness::startAndAnnounce(*server, port)) return 1;

    harness::readOperations([&](const Json& j) {
        const std::string op = j.at("op");
        if (op == "upload") {
            std::optional<std::string> token;
            if (j.contains("token") && !j.at("token").is_null()) token = j.at("token").get<std::string>();
            server->configureUpload(j.at("enabled").get<bool>(), token);
        } else if (op == "playlists") {
            std::lock_guard lock(intake.mutex);
            intake.playlists.clear();
            for (const auto& p : j.at("playlists")) intake.playlists.push_back({p.at("id"), p.at("name")});
        } else if (op == "ingest") {
            std::lock_guard lock(intake.mutex);
            intake.accept = j.at("ok").get<bool>();
            intake.refusal = j.value("message", "");
        }
        // The server's strand takes a change before any request that comes after this answer.
        harness::emit({{"done", op}});
    });
    server->stop();
    return 0;
}
