#include "Platform/Ipc/DistributedNotifications.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "Platform/Ipc/IpcPaths.hpp"
#include "Platform/Ipc/MessagePort.hpp"

namespace fs = std::filesystem;

namespace ombry {

namespace {
fs::path folderFor(const fs::path& dir, const std::string& name) { return ipc::socketPath(dir, name); }
}  // namespace

void postDistributedNotification(const fs::path& dir, const DistributedNotification& note) {
    const fs::path folder = folderFor(dir, note.name);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return;
    const std::string bytes =
        nlohmann::json{{"name", note.name}, {"object", note.object}, {"userInfo", note.userInfo}}.dump();
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const fs::path p = entry.path();
        auto r = sendDatagram(fd.get(), bytes, -1, MSG_DONTWAIT, &p);
        if (r == RemoteMessagePort::SendResult::invalid) ::unlink(p.c_str());
    }
}

std::unique_ptr<NotificationObserver> NotificationObserver::create(const fs::path& dir, const std::string& name) {
    const fs::path folder = folderFor(dir, name);
    if (!ipc::makePrivateDir(folder)) return nullptr;
    static std::atomic<unsigned> counter{0};
    const fs::path path =
        folder / (std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
    sockaddr_un addr;
    socklen_t len;
    if (!ipc::toSockaddr(path, addr, len)) return nullptr;
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return nullptr;
    ::unlink(path.c_str());  // left by an earlier process with our pid
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) return nullptr;
    return std::unique_ptr<NotificationObserver>(new NotificationObserver(name, path, std::move(fd)));
}

NotificationObserver::NotificationObserver(std::string name, fs::path path, UniqueFd fd)
    : name_(std::move(name)), path_(std::move(path)), fd_(std::move(fd)) {}

NotificationObserver::~NotificationObserver() { ::unlink(path_.c_str()); }

std::optional<DistributedNotification> NotificationObserver::receive(double timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        while (auto msg = receiveDatagram(fd_.get(), false)) {
            if (msg->truncated) continue;
            auto j = nlohmann::json::parse(msg->data, nullptr, false);
            if (!j.is_object() || !j.contains("name") || !j["name"].is_string() || !j.contains("object") ||
                !j["object"].is_string())
                continue;
            DistributedNotification note;
            note.name = j["name"].get<std::string>();
            note.object = j["object"].get<std::string>();
            if (j.contains("userInfo") && j["userInfo"].is_object()) note.userInfo = j["userInfo"];
            return note;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{fd_.get(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
}

}  // namespace ombry
