#include "Platform/Ipc/MessagePort.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Platform/Ipc/IpcPaths.hpp"

namespace fs = std::filesystem;

namespace ombry {

namespace {

UniqueFd datagramSocket() { return UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

// True when a live socket is bound at the path.
bool liveSocketAt(const fs::path& path) {
    sockaddr_un addr;
    socklen_t len;
    if (!ipc::toSockaddr(path, addr, len)) return false;
    UniqueFd probe = datagramSocket();
    return probe && ::connect(probe.get(), reinterpret_cast<sockaddr*>(&addr), len) == 0;
}

}  // namespace

std::unique_ptr<LocalMessagePort> LocalMessagePort::create(const fs::path& dir, const std::string& name) {
    if (name.empty() || !ipc::makePrivateDir(dir)) return nullptr;
    fs::path path = ipc::socketPath(dir, name);
    sockaddr_un addr;
    socklen_t len;
    if (!ipc::toSockaddr(path, addr, len)) return nullptr;
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return nullptr;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        // A socket file left by a process that died is taken over; a live one keeps its name.
        if (errno != EADDRINUSE || liveSocketAt(path)) return nullptr;
        ::unlink(path.c_str());
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) return nullptr;
    }
    return std::unique_ptr<LocalMessagePort>(new LocalMessagePort(name, path, std::move(fd)));
}

LocalMessagePort::LocalMessagePort(std::string name, fs::path path, UniqueFd fd)
    : name_(std::move(name)), path_(std::move(path)), fd_(std::move(fd)) {}

LocalMessagePort::~LocalMessagePort() { ::unlink(path_.c_str()); }

std::optional<PortMessage> LocalMessagePort::receive() { return receiveDatagram(fd_.get(), true); }

std::unique_ptr<RemoteMessagePort> RemoteMessagePort::connect(const fs::path& dir, const std::string& name,
                                                              double sendTimeoutSeconds) {
    if (name.empty()) return nullptr;
    sockaddr_un addr;
    socklen_t len;
    if (!ipc::toSockaddr(ipc::socketPath(dir, name), addr, len)) return nullptr;
    UniqueFd fd = datagramSocket();
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) return nullptr;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(sendTimeoutSeconds);
    tv.tv_usec = static_cast<suseconds_t>((sendTimeoutSeconds - double(tv.tv_sec)) * 1e6);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return std::unique_ptr<RemoteMessagePort>(new RemoteMessagePort(name, std::move(fd)));
}

RemoteMessagePort::SendResult RemoteMessagePort::send(int32_t id, const std::string& data, int attachment,
                                                      bool dontWait) {
    std::string bytes(4, '\0');
    const auto u = static_cast<uint32_t>(id);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((u >> (8 * i)) & 0xff);
    bytes += data;
    return sendDatagram(fd_.get(), bytes, attachment, dontWait ? MSG_DONTWAIT : 0);
}

RemoteMessagePort::SendResult sendDatagram(int fd, const std::string& bytes, int attachment, int flags,
                                           const fs::path* dest) {
    using R = RemoteMessagePort::SendResult;
    iovec iov{const_cast<char*>(bytes.data()), bytes.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    sockaddr_un addr;
    socklen_t len = 0;
    if (dest) {
        if (!ipc::toSockaddr(*dest, addr, len)) return R::failed;
        msg.msg_name = &addr;
        msg.msg_namelen = len;
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (attachment >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &attachment, sizeof(int));
    }
    for (;;) {
        if (::sendmsg(fd, &msg, flags | MSG_NOSIGNAL) >= 0) return R::sent;
        switch (errno) {
        case EINTR: continue;
        case ECONNREFUSED:
        case ENOTCONN:
        case ECONNRESET:
        case EPIPE:
        case ENOENT: return R::invalid;
        case EAGAIN: return R::timedOut;
        default: return R::failed;
        }
    }
}

std::optional<PortMessage> receiveDatagram(int fd, bool withHeader) {
    thread_local std::vector<char> buf(maxMessageSize + 4);
    for (;;) {
        iovec iov{buf.data(), buf.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        PortMessage out;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int received;
                std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                if (!out.attachment) out.attachment.reset(received);
                else ::close(received);
            }
        }
        size_t header = withHeader ? 4 : 0;
        if (static_cast<size_t>(n) < header) continue;  // not one of ours
        if (withHeader) {
            uint32_t u = 0;
            for (int i = 0; i < 4; ++i) u |= uint32_t(static_cast<unsigned char>(buf[i])) << (8 * i);
            out.id = static_cast<int32_t>(u);
        }
        out.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
        if (!out.truncated) out.data.assign(buf.data() + header, static_cast<size_t>(n) - header);
        return out;
    }
}

}  // namespace ombry
