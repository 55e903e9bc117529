#pragma once
// The client side of the server targets: one loopback connection per input that sends the input's bytes,
// closes its sending side and reads whatever comes back until the server closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.hpp"

namespace ombry::fuzz {

struct Exchange {
    std::string received;
    bool closedByServer = false;  // false: still open at the deadline
};

inline int connectLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Sends `bytes` (the peer may close before taking them all), then reads until the server closes or
// `seconds` pass.
inline Exchange exchange(std::uint16_t port, std::string_view bytes, double seconds) {
    Exchange out;
    const int fd = connectLoopback(port);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += std::size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            out.closedByServer = true;
            break;
        }
        out.received.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return out;
}

// A plain request still gets its answer: the server has not stopped serving.
inline void checkStillServing(std::uint16_t port, const std::string& request, std::string_view expect) {
    const Exchange e = exchange(port, request, 10);
    if (e.received.find(expect) == std::string::npos) {
        std::fprintf(stderr, "fuzz: the server stopped answering (got %zu bytes)\n", e.received.size());
        std::abort();
    }
}

}  // namespace ombry::fuzz
