// The output server under load.
//   bench_output_server                      one state broadcast delivered to 200 WebSocket pages
//   bench_output_server --serve PORT FOLDER  serves FOLDER on 127.0.0.1:PORT until stdin closes (for
//                                            bench/output_server_wrk.sh, which drives it with wrk beside nginx)
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <iostream>
#include <string>
#include <vector>

#include "Engine/OutputServer.hpp"

namespace {

using namespace ombry;

std::uint16_t startServer(OutputServer& server, std::uint16_t port) {
    std::promise<OutputServer::StartResult> started;
    server.start(port, [&](OutputServer::StartResult r) { started.set_value(r); });
    auto result = started.get_future().get();
    if (!std::holds_alternative<ServerInfo>(result)) {
        std::cerr << "no port\n";
        std::exit(1);
    }
    return static_cast<std::uint16_t>(std::get<ServerInfo>(result).port);
}

// One page: a blocking socket after the upgrade, counting whole frames as they arrive.
struct Page {
    int fd = -1;
    std::string in;
    long frames = 0;

    bool connect(std::uint16_t port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::string upgrade =
            "GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (::send(fd, upgrade.data(), upgrade.size(), 0) != static_cast<ssize_t>(upgrade.size())) return false;
        while (in.find("\r\n\r\n") == std::string::npos)
            if (!readSome()) return false;
        in.erase(0, in.find("\r\n\r\n") + 4);
        // A hello: its state reply shows the server has this page on its list.
        static const unsigned char hello[] = {0x81, 0x80 | 16, 0, 0, 0, 0};
        std::string frame(reinterpret_cast<const char*>(hello), sizeof hello);
        frame += R"({"type":"hello"})";
        if (::send(fd, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size())) return false;
        while (frames < 1) {
            if (!readSome()) return false;
            countFrames();
        }
        frames = 0;
        return true;
    }
    bool readSome() {
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        in.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    void countFrames() {
        for (;;) {
            if (in.size() < 2) return;
            std::size_t header = 2, length = static_cast<unsigned char>(in[1]) & 0x7f;
            if (length == 126) {
                if (in.size() < 4) return;
                length = (static_cast<unsigned char>(in[2]) << 8) | static_cast<unsigned char>(in[3]);
                header = 4;
            } else if (length == 127) {
                return;  // states are far smaller
            }
            if (in.size() < header + length) return;
            in.erase(0, header + length);
            ++frames;
        }
    }
    ~Page() {
        if (fd >= 0) ::close(fd);
    }
};

void BroadcastTo200Pages(benchmark::State& state) {
    net::NetLoop loop;
    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.loop = &loop;
    auto server = OutputServer::create("/nonexistent", options);
    const auto port = startServer(*server, 0);
    std::vector<Page> pages(200);
    for (auto& p : pages)
        if (!p.connect(port)) state.SkipWithError("connect failed");
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = i;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, pages[i].fd, &e);
    }
    std::vector<epoll_event> ready(pages.size());

    ProgramState program;
    program.layers.media.active = ActiveCue{};
    program.layers.media.active->cueId = "5f0c7c1e-1111-4a7b-9c55-0e8b1a2b3c4d";
    program.layers.media.active->mediaId = "0d5b8f2a-2222-4c3e-8d11-7a6b5c4d3e2f";
    program.layers.media.active->src = "/media/0d5b8f2a-2222-4c3e-8d11-7a6b5c4d3e2f";
    long sent = 0;
    for (auto _ : state) {
        program.rev = 1'000'000 + sent;  // same digit count: same frame size each time
        const auto start = std::chrono::steady_clock::now();
        server->broadcastState(program);
        ++sent;
        std::size_t done = 0;
        while (done < pages.size()) {
            const int n = ::epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), 1000);
            for (int k = 0; k < n; ++k) {
                Page& page = pages[ready[k].data.u64];
                const long before = page.frames;
                page.readSome();
                page.countFrames();
                if (before < sent && page.frames >= sent) ++done;
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["pages"] = static_cast<double>(pages.size());
    ::close(epoll);
    server->stop();
}
BENCHMARK(BroadcastTo200Pages)->UseManualTime()->Unit(benchmark::kMicrosecond);

int serve(std::uint16_t port, const char* folder) {
    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto server = OutputServer::create(folder, options);
    startServer(*server, port);
    std::cout << "ready" << std::endl;
    char c;
    while (std::cin.get(c)) {
    }
    server->stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--serve") == 0)
        return serve(static_cast<std::uint16_t>(std::atoi(argv[2])), argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
