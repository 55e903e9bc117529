#pragma once
// WebSocket clients for the server benchmarks: blocking sockets on loopback that upgrade, say hello and
// count whole text frames as they arrive, and an epoll wait for one more frame on every client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ombry::bench {

struct WsClient {
    int fd = -1;
    std::string in;
    long frames = 0;  // whole messages

    WsClient() = default;
    WsClient(const WsClient&) = delete;
    WsClient& operator=(const WsClient&) = delete;
    ~WsClient() {
        if (fd >= 0) ::close(fd);
    }

    // Upgrades `path`, sends `hello` and reads until `repliesToWait` frames came back (they show the server
    // has the client on its list); the frame count starts again from zero.
    bool connect(std::uint16_t port, const std::string& path, const std::string& hello, long repliesToWait) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::string upgrade = "GET " + path +
                                    " HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (!sendAll(upgrade)) return false;
        while (in.find("\r\n\r\n") == std::string::npos)
            if (!readSome()) return false;
        if (in.rfind("HTTP/1.1 101", 0) != 0) return false;
        in.erase(0, in.find("\r\n\r\n") + 4);
        // A masked text frame with a zero mask: the payload goes as it is.
        std::string frame{char(0x81), char(0x80 | hello.size()), 0, 0, 0, 0};
        frame += hello;
        if (hello.size() > 125 || !sendAll(frame)) return false;
        countFrames();
        while (frames < repliesToWait) {
            if (!readAndCount()) return false;
        }
        frames = 0;
        return true;
    }
    bool sendAll(const std::string& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    bool readSome() {
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        in.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    // Reads what has come and counts it (after the handshake): payloads are skipped as they arrive, never
    // stored, so the client costs little beside the server it measures.
    bool readAndCount() {
        static thread_local char buffer[1 << 18];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        consume(buffer, static_cast<std::size_t>(n));
        return true;
    }
    // Counts the messages in what was read so far.
    void countFrames() {
        consume(in.data(), in.size());
        in.clear();
    }

private:
    std::string head;          // a frame head not yet complete
    std::uint64_t skip = 0;    // payload bytes of the current frame still to come
    bool lastOfMessage = false;

    // Counts each message whose last frame has come whole.
    void consume(const char* p, std::size_t n) {
        while (n > 0) {
            if (skip > 0) {
                const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(skip, n));
                skip -= take;
                p += take;
                n -= take;
                if (skip == 0 && lastOfMessage) ++frames;
                continue;
            }
            head.push_back(*p++);
            --n;
            const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(head[i])); };
            if (head.size() < 2) continue;
            const std::uint64_t marker = byte(1) & 0x7f;
            const std::size_t size = marker == 126 ? 4 : marker == 127 ? 10 : 2;
            if (head.size() < size) continue;
            std::uint64_t length = marker;
            if (marker == 126) length = byte(2) << 8 | byte(3);
            if (marker == 127) {
                length = 0;
                for (std::size_t i = 2; i < 10; ++i) length = length << 8 | byte(i);
            }
            lastOfMessage = (byte(0) & 0x80) != 0;
            head.clear();
            skip = length;
            if (length == 0 && lastOfMessage) ++frames;
        }
    }
};

// Reads every client until each has `target` frames; false when one of them closes or 10 s pass quietly.
inline bool awaitFrames(int epoll, std::vector<WsClient>& clients, long target) {
    std::vector<epoll_event> ready(clients.size());
    std::size_t done = 0;
    for (auto& c : clients)
        if (c.frames >= target) ++done;
    while (done < clients.size()) {
        const int n = ::epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), 10000);
        if (n <= 0) return false;
        for (int k = 0; k < n; ++k) {
            WsClient& c = clients[ready[k].data.u64];
            const long before = c.frames;
            if (!c.readAndCount()) return false;
            if (before < target && c.frames >= target) ++done;
        }
    }
    return true;
}

// An epoll set over every client, each tagged with its index.
inline int epollOver(const std::vector<WsClient>& clients) {
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = i;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, clients[i].fd, &e);
    }
    return epoll;
}

}  // namespace ombry::bench
