#pragma once
// What the server targets share: a server of this process on a loopback port with its own loop and virtual
// clock, and the client side, one loopback connection per input that sends the input's bytes, closes its
// sending side and reads whatever comes back until the server closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "Engine/Model/Protocol.hpp"
#include "FuzzSupport.hpp"
#include "Platform/NetLoop.hpp"

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

// Raw bytes no reply could echo from a request: every text a server puts into a reply is JSON-escaped or
// UTF-8, so only the file's own bytes can carry them. Each target keeps such a file outside what it serves.
inline constexpr char kSecretBytes[] = "\x00\xff\xfeOMBRY\x01SECRET\x80\x00";
inline constexpr std::string_view kSecret{kSecretBytes, sizeof kSecretBytes - 1};

inline void writeSecret(const std::filesystem::path& file) {
    std::ofstream(file, std::ios::binary).write(kSecret.data(), std::streamsize(kSecret.size()));
}

// One server on an ephemeral loopback port, living as long as the process: its loop thread serves every
// input. Virtual time moves by `secondsPerInput` after each input and no other way, so that the heartbeat
// stays far off and each input runs alone.
template <class Server>
struct InProcessServer {
    net::ManualNetTimers timers;
    net::NetLoop loop;
    std::shared_ptr<Server> server;
    std::uint16_t port = 0;
    std::uint64_t inputs = 0;
    double secondsPerInput = 0;
    // Every 64th input this request is still answered with `healthExpect` in the reply.
    std::string healthRequest;
    std::string healthExpect;

    typename Server::Options options() {
        typename Server::Options o;
        o.bindAddress = "127.0.0.1";
        o.loop = &loop;
        o.timers = &timers;
        return o;
    }

    void start(std::shared_ptr<Server> created) {
        server = std::move(created);
        std::promise<typename Server::StartResult> started;
        server->start(0, [&](typename Server::StartResult r) { started.set_value(std::move(r)); });
        const auto result = started.get_future().get();
        FUZZ_CHECK(std::holds_alternative<ServerInfo>(result));
        port = std::uint16_t(std::get<ServerInfo>(result).port);
    }

    // One input on one connection: no reply carries the secret, every reply is HTTP, and the server keeps
    // answering.
    void serve(std::string_view bytes) {
        const Exchange e = exchange(port, bytes, 2);
        if (secondsPerInput > 0) timers.advance(secondsPerInput);
        FUZZ_CHECK(e.received.find(kSecret) == std::string::npos);
        FUZZ_CHECK(e.received.empty() || e.received.starts_with("HTTP/1.1 ") || e.received.starts_with("HTTP/1.0 "));
        if (++inputs % 64 == 0) checkStillServing(port, healthRequest, healthExpect);
    }
};

}  // namespace ombry::fuzz

// libFuzzer's two entry points for a target whose server is `Served` (an InProcessServer): made before the
// first input and kept for the life of the process, since its loop thread serves every input.
#define OMBRY_SERVER_FUZZ_TARGET(Served)                                                      \
    namespace {                                                                              \
    Served* served = nullptr;                                                                \
    }                                                                                        \
    extern "C" int LLVMFuzzerInitialize(int*, char***) {                                     \
        ombry::fuzz::quietLog();                                                             \
        served = new Served;                                                                 \
        return 0;                                                                            \
    }                                                                                        \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {      \
        served->serve(ombry::fuzz::text(data, size));                                        \
        return 0;                                                                            \
    }
