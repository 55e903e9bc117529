#include "NetTestSupport.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace ombry::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

int HttpReply::status() const {
    const auto space = statusLine.find(' ');
    return space == std::string::npos ? 0 : std::atoi(statusLine.c_str() + space + 1);
}

std::string HttpReply::header(const std::string& name) const {
    auto it = headers.find(lower(name));
    return it == headers.end() ? std::string() : it->second;
}

RawClient::~RawClient() {
    if (fd_ >= 0) ::close(fd_);
}

void RawClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

RawClient::RawClient(RawClient&& o) noexcept : fd_(o.fd_), in_(std::move(o.in_)), reset_(o.reset_) { o.fd_ = -1; }

RawClient RawClient::slowReader(std::uint16_t port) {
    RawClient c;
    c.connect(port, "127.0.0.1", 4096);
    return c;
}

void RawClient::connect(std::uint16_t port, const char* host) { connect(port, host, 0); }

void RawClient::connect(std::uint16_t port, const char* host, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &addr.sin_addr);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool RawClient::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void RawClient::shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

int RawClient::readSome(double seconds) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(seconds * 1000));
    if (r <= 0) return -1;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
        in_.append(chunk, static_cast<std::size_t>(n));
        return 1;
    }
    if (n < 0) reset_ = errno == ECONNRESET;
    return 0;
}

bool RawClient::readAtLeast(std::size_t n, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (in_.size() < n) {
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0 || readSome(left) != 1) return false;
    }
    return true;
}

bool RawClient::readUntil(const std::string& needle, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (in_.find(needle) == std::string::npos) {
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0 || readSome(left) != 1) return false;
    }
    return true;
}

std::string RawClient::take(std::size_t n) {
    std::string out = in_.substr(0, n);
    in_.erase(0, n);
    return out;
}

std::optional<HttpReply> RawClient::readReply(bool headOnly, double seconds) {
    if (!readUntil("\r\n\r\n", seconds)) return std::nullopt;
    const auto end = in_.find("\r\n\r\n");
    const std::string head = take(end + 4);
    HttpReply reply;
    std::size_t lineStart = 0;
    bool first = true;
    while (lineStart < head.size()) {
        const auto lineEnd = head.find("\r\n", lineStart);
        const std::string line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (line.empty()) break;
        if (first) {
            reply.statusLine = line;
            first = false;
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        reply.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
    }
    if (!headOnly) {
        const std::size_t length = std::strtoull(reply.header("content-length").c_str(), nullptr, 10);
        if (!readAtLeast(length, seconds)) return std::nullopt;
        reply.body = take(length);
    }
    return reply;
}

bool RawClient::closedWithin(double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left * 1000)) <= 0) return false;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            in_.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0) reset_ = errno == ECONNRESET;
        return true;
    }
}

bool RawClient::quietFor(double seconds) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(seconds * 1000)) == 0;
}

bool RawClient::upgrade(const std::string& path, const std::string& key) {
    if (!send("GET " + path +
              " HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: " +
              key + "\r\nSec-WebSocket-Version: 13\r\n\r\n"))
        return false;
    auto reply = readReply(true);
    return reply && reply->status() == 101;
}

std::string maskedFrame(std::uint8_t opcode, const std::string& payload, bool fin) {
    const unsigned char mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::string out;
    out += static_cast<char>((fin ? 0x80 : 0) | opcode);
    const std::size_t n = payload.size();
    if (n < 126) {
        out += static_cast<char>(0x80 | n);
    } else if (n < 65536) {
        out += static_cast<char>(0x80 | 126);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n & 0xff);
    } else {
        out += static_cast<char>(0x80 | 127);
        for (int i = 7; i >= 0; --i) out += static_cast<char>((static_cast<std::uint64_t>(n) >> (8 * i)) & 0xff);
    }
    out.append(reinterpret_cast<const char*>(mask), 4);
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(payload[i] ^ mask[i % 4]);
    return out;
}

bool RawClient::sendFrame(std::uint8_t opcode, const std::string& payload, bool fin) {
    return send(maskedFrame(opcode, payload, fin));
}

std::optional<RawClient::Frame> RawClient::readFrame(double seconds) {
    if (!readAtLeast(2, seconds)) return std::nullopt;
    const auto b0 = static_cast<unsigned char>(in_[0]);
    const auto b1 = static_cast<unsigned char>(in_[1]);
    std::size_t header = 2;
    std::uint64_t length = b1 & 0x7f;
    if (length == 126) {
        if (!readAtLeast(4, seconds)) return std::nullopt;
        length = (static_cast<unsigned char>(in_[2]) << 8) | static_cast<unsigned char>(in_[3]);
        header = 4;
    } else if (length == 127) {
        if (!readAtLeast(10, seconds)) return std::nullopt;
        length = 0;
        for (int i = 2; i < 10; ++i) length = (length << 8) | static_cast<unsigned char>(in_[i]);
        header = 10;
    }
    if (b1 & 0x80) throw std::runtime_error("server frames are never masked");
    if (!readAtLeast(header + length, seconds)) return std::nullopt;
    Frame f;
    f.fin = b0 & 0x80;
    f.opcode = b0 & 0x0f;
    take(header);
    f.payload = take(length);
    return f;
}

std::optional<std::string> RawClient::readText(double seconds, bool answerPings) {
    for (;;) {
        auto f = readFrame(seconds);
        if (!f) return std::nullopt;
        if (f->opcode == 9) {
            if (answerPings) sendFrame(10, f->payload);
            continue;
        }
        if (f->opcode == 1) return f->payload;
        return std::nullopt;
    }
}

namespace {
int boundSocket(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
std::uint16_t portOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}
}  // namespace

std::uint16_t freePort() {
    const int fd = boundSocket(0);
    const auto port = portOf(fd);
    ::close(fd);
    return port;
}

std::uint16_t freePortPair() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int a = boundSocket(0);
        const auto port = portOf(a);
        if (port >= 65535) {
            ::close(a);
            continue;
        }
        const int b = boundSocket(static_cast<std::uint16_t>(port + 1));
        ::close(a);
        if (b >= 0) {
            ::close(b);
            return port;
        }
    }
    throw std::runtime_error("no pair of free loopback ports");
}

}  // namespace ombry::test
