#pragma once
// Loopback clients for the server tests: a raw TCP client that sends exact bytes and reads exact bytes, and
// WebSocket framing for it. Every wait is bounded (a failure guard only).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ombry::test {

// Generous bound for waiting on events that should happen promptly.
inline constexpr double netWait = 10.0;

struct HttpReply {
    std::string statusLine;               // "HTTP/1.1 200 OK"
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
    int status() const;
    std::string header(const std::string& name) const;
};

class RawClient {
public:
    RawClient() = default;
    explicit RawClient(std::uint16_t port, const char* host = "127.0.0.1") { connect(port, host); }
    ~RawClient();
    RawClient(RawClient&& o) noexcept;
    RawClient& operator=(RawClient&&) = delete;

    void connect(std::uint16_t port, const char* host = "127.0.0.1");
    // A client whose receive buffer is a few kilobytes, set before it connects: a server writing to it
    // that it does not read fills the connection's buffers at once.
    static RawClient slowReader(std::uint16_t port);
    bool connected() const { return fd_ >= 0; }
    void close();
    // Sends everything; false when the peer has gone.
    bool send(const std::string& bytes);
    void shutdownWrite();
    // Reads until `n` bytes are buffered; false on end of stream, error or timeout.
    bool readAtLeast(std::size_t n, double seconds = netWait);
    // Reads until `needle` is buffered.
    bool readUntil(const std::string& needle, double seconds = netWait);
    // Takes `n` bytes off the front of what was read.
    std::string take(std::size_t n);
    // One response: head, and a body of Content-Length bytes unless `headOnly`.
    std::optional<HttpReply> readReply(bool headOnly = false, double seconds = netWait);
    // True once the peer has closed (end of stream or reset) within `seconds`; bytes read meanwhile are kept.
    bool closedWithin(double seconds = netWait);
    // True when nothing arrives and the connection stays open for `seconds` (a short look; fails if it closes).
    bool quietFor(double seconds);
    // Whether the last close was a reset rather than an orderly end.
    bool wasReset() const { return reset_; }
    std::string& buffered() { return in_; }

    // WebSocket, client side: the upgrade request, then masked frames out and unmasked frames in.
    bool upgrade(const std::string& path = "/", const std::string& key = "dGhlIHNhbXBsZSBub25jZQ==");
    bool sendFrame(std::uint8_t opcode, const std::string& payload, bool fin = true);
    struct Frame {
        std::uint8_t opcode = 0;
        bool fin = false;
        std::string payload;
    };
    // The next whole frame from the server.
    std::optional<Frame> readFrame(double seconds = netWait);
    // The next text message's payload, skipping pings (answered when `answerPings`).
    std::optional<std::string> readText(double seconds = netWait, bool answerPings = true);

private:
    int fd_ = -1;
    std::string in_;
    bool reset_ = false;
    // Reads once with a deadline; 1 = bytes, 0 = end of stream, -1 = timeout or error.
    int readSome(double seconds);
    void connect(std::uint16_t port, const char* host, int receiveBuffer);
};

// A masked client frame with a fixed mask (RFC 6455 section 5.7's key).
std::string maskedFrame(std::uint8_t opcode, const std::string& payload, bool fin = true);

// A loopback port free at the time of the call, and one whose next port is also free.
std::uint16_t freePort();
std::uint16_t freePortPair();

}  // namespace ombry::test
