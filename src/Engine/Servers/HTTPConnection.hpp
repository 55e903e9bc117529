#pragma once
// One accepted TCP connection of an HTTP server: requests parsed by Boost.Beast under our limits and
// watchdogs, bodies buffered, streamed into a sink or refused, replies written in request order, files
// served with byte ranges, and after an upgrade a WebSocket carrying text messages.
//
// Threads: everything runs on the owning server's strand. The reply and send operations may be called from
// any thread (they hop to the strand); the fields marked "strand only" may not.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/NetLoop.hpp"

namespace ombry {

// Request header names lower-cased; a repeated name keeps its last value.
using HTTPHeaders = std::map<std::string, std::string>;
// Response header lines in the order written.
using HTTPResponseHeaders = std::vector<std::pair<std::string, std::string>>;

struct HTTPRequest {
    std::string method;  // as sent
    std::string path;    // the request target as sent, query included, not percent-decoded
    HTTPHeaders headers;
    std::string body;  // empty unless buffered

    // The value of a header (name lower-case), or nullptr.
    const std::string* header(const std::string& name) const;
};

// Where a streamed request body goes, piece by piece, in order.
class HTTPBodySink {
public:
    virtual ~HTTPBodySink() = default;
    // Throws to refuse the body: the connection is then closed and the sink cancelled.
    virtual void write(std::string_view chunk) = 0;
    // The connection's way in: stores the piece, then calls `done` once, on any thread, with false to refuse
    // the body. Nothing more is read until then, and `chunk` stays valid until then. By default write() here.
    virtual void writeThen(std::string_view chunk, std::function<void(bool ok)> done) {
        bool ok = true;
        try {
            write(chunk);
        } catch (...) {
            ok = false;
        }
        done(ok);
    }
    // After the last byte.
    virtual void finish() = 0;
    // The connection ended before the last byte; a piece may still be being written.
    virtual void cancel() = 0;
};

// The delegate's verdict on a request before its body is read.
struct BodyDisposition {
    enum class Kind { buffer, handled, stream };
    Kind kind = Kind::buffer;
    std::shared_ptr<HTTPBodySink> sink;  // with stream

    static BodyDisposition buffer() { return {}; }
    // The delegate has answered (as a rule with sendHTTPClosing) or will answer, or will decide later with
    // ClientConn::streamBody; nothing more is read until then.
    static BodyDisposition handled() { return {Kind::handled, nullptr}; }
    // The body goes to the sink; the sink's owner sends the reply once it is finished.
    static BodyDisposition stream(std::shared_ptr<HTTPBodySink> sink) { return {Kind::stream, std::move(sink)}; }
};

class ClientConn;

// The server that owns connections. Called on the server's strand; held weakly by its connections.
class ClientConnDelegate {
public:
    virtual ~ClientConnDelegate() = default;
    // A complete request. Answer it exactly once (reply, sendNotFound, serveFile or sendHTTPClosing), now or
    // later: the next request on the connection is not read before.
    virtual void route(HTTPRequest request, const std::shared_ptr<ClientConn>& conn) = 0;
    // One complete WebSocket message.
    virtual void handleFrame(std::string message, const std::shared_ptr<ClientConn>& conn) = 0;
    // The connection has ended: drop it from the table.
    virtual void remove(ClientConn& conn) = 0;
    // The WebSocket handshake has just been answered.
    virtual void upgraded(const std::shared_ptr<ClientConn>& /*conn*/) {}
    // May this request become a WebSocket.
    virtual bool authorizeUpgrade(const std::string& /*path*/, const HTTPHeaders& /*headers*/) { return true; }
    // What to do with the body; asked for every request, also those without a body.
    virtual BodyDisposition disposition(const HTTPRequest& /*request*/, std::int64_t /*contentLength*/,
                                        const std::shared_ptr<ClientConn>& /*conn*/) {
        return BodyDisposition::buffer();
    }
};

// The limits and watchdog times of a connection. Tests shorten nothing: the watchdogs run on NetTimers.
struct ConnLimits {
    std::size_t maxHeadBytes = 32 * 1024;      // a larger head closes the connection
    std::uint64_t maxBodyBytes = 64 * 1024;    // largest buffered body
    std::size_t chunkSize = 256 * 1024;        // largest piece of a file or a streamed body
    std::size_t maxMessageBytes = 1024 * 1024;  // largest WebSocket message
    double requestSeconds = 60;                // to complete a request (head and buffered body)
    double sinkCheckSeconds = 15;              // streamed body watchdog period
    double sinkIdleSeconds = 60;               // streamed body idle limit
    double lingerSeconds = 2;                  // input discarded after a closing reply
    // What one connection may have waiting to be sent; more closes it (one message alone always goes).
    std::size_t maxQueuedBytes = 8 * 1024 * 1024;
    std::size_t maxQueuedMessages = 256;
    // A write that the client does not take within this long closes the connection.
    double writeStallSeconds = 60;
};

// What a WebSocket message is to a client that reads slowly: one of a kind that describes the whole
// current state makes an older one of the same kind, still waiting, worthless.
enum class MessageKind : std::uint8_t {
    event,      // every one is delivered
    state,      // the newest replaces a waiting one
    transport,  // the newest replaces a waiting one
};

// Most connections one server keeps open at once; the next is closed at once.
inline constexpr std::size_t maxConnectionsPerServer = 256;

class ClientConn : public std::enable_shared_from_this<ClientConn> {
public:
    static std::shared_ptr<ClientConn> create(net::tcp::socket socket, std::weak_ptr<ClientConnDelegate> delegate,
                                              net::Strand strand, net::NetTimers& timers, ConnLimits limits = {});
    ~ClientConn();
    ClientConn(const ClientConn&) = delete;
    ClientConn& operator=(const ClientConn&) = delete;

    // Starts reading requests.
    void start();

    // Replies to the current request (any thread). The connection stays open; the next request is read once
    // the reply has been written.
    void reply(std::string response);
    // The same with bytes that other replies share.
    void reply(std::shared_ptr<const std::string> response);
    // Writes one response, then shuts down sending, discards what the client still sends for up to 2 s
    // (so it reads the reply instead of a reset) and closes.
    void sendHTTPClosing(const std::string& status, const HTTPResponseHeaders& headers, const std::string& body);
    // "404 Not Found" without a body; the connection stays open.
    void sendNotFound();
    // Answers with a file: 200, or 206 for a range parseRange accepts; HEAD gets the head only. A file that
    // cannot be opened or is not a regular file gets `notFoundReply` (whole response bytes), by default
    // sendNotFound(). Opened without blocking and read with pread on a file thread, one piece in flight.
    void serveFile(std::string path, std::optional<std::string> range, std::string method,
                   std::optional<std::string> notFoundReply = std::nullopt);

    // WebSocket text message (any thread); nothing before the upgrade. Broadcasts share one payload. A
    // message of kind state or transport takes the place of a waiting one of its kind (it goes last).
    void sendText(std::shared_ptr<const std::string> payload, MessageKind kind = MessageKind::event);
    void sendText(std::string payload, MessageKind kind = MessageKind::event) {
        sendText(std::make_shared<const std::string>(std::move(payload)), kind);
    }

    // After a `handled` disposition, the delegate's later verdict (any thread): the body goes to the sink,
    // as with `stream`. A connection that has ended meanwhile cancels the sink.
    void streamBody(std::shared_ptr<HTTPBodySink> sink);

    // Ends the connection (any thread): closes the socket and runs finish().
    void close();
    // Ends it for a server that stops (any thread): a WebSocket is sent a close frame, 1001 "going away",
    // first; other connections close at once.
    void goAway();

    // Strand only: the connection no longer reaches its server (no request, message or removal), whatever
    // it still does while it closes.
    void detach();

    // Strand only. One heartbeat tick: an upgraded connection that answered the last ping is pinged again;
    // one that did not is closed (returns false). Other connections are left alone.
    bool heartbeat();

    // Strand only: a label the server sets after the WebSocket hello.
    std::string role = "unknown";
    // Strand only: set by every pong (frame or the server's pong message), cleared by each heartbeat ping.
    bool isAlive = true;
    // Strand only: true once the WebSocket handshake is being answered; text sent from then on follows the 101.
    bool upgraded() const;
    // Strand only: bytes and messages waiting to be sent, the one being written included.
    std::size_t queuedBytes() const;
    std::size_t queuedMessages() const;

    // The bytes of one response: status line ("200 OK"), the given headers, a blank line, the body.
    // Adds no header of its own.
    static std::string httpResponse(const std::string& status, const HTTPResponseHeaders& headers,
                                    std::string_view body);
    // The MIME type for a file path by its extension (any case); "application/octet-stream" otherwise.
    static std::string contentType(std::string_view path);
    // One byte range of a "range" header value on a file of `size` bytes: first and last byte, inclusive.
    static std::optional<std::pair<std::int64_t, std::int64_t>> parseRange(std::string_view value, std::int64_t size);

    struct Io;

private:
    ClientConn() = default;
    std::unique_ptr<Io> io_;
    friend struct Io;
};

// A server's open connections, keyed by identity.
using ConnTable = std::map<const ClientConn*, std::shared_ptr<ClientConn>>;
// Takes an accepted socket into the table and starts it; closes it instead when the server is not accepting
// or already holds maxConnectionsPerServer.
void adoptConnection(net::tcp::socket socket, bool accepting, ConnTable& conns,
                     std::weak_ptr<ClientConnDelegate> delegate, const net::Strand& strand, net::NetTimers& timers,
                     ConnLimits limits = {});
// One heartbeat tick for every connection of the table (those that did not answer remove themselves).
void heartbeatAll(const ConnTable& conns);
// A server's stop: closes the listener and sends every connection away (goAway), leaving both empty. The
// connections are detached first: one still closing reports nothing to the server afterwards.
void closeListenerAndConnections(std::shared_ptr<net::tcp::acceptor>& listener, ConnTable& conns);

// Accepts connections until the acceptor is closed and hands each to `adopt` on the acceptor's strand.
// An accept error other than a closed acceptor (e.g. out of descriptors) pauses accepting briefly.
void acceptLoop(std::shared_ptr<net::tcp::acceptor> acceptor, std::function<void(net::tcp::socket)> adopt);

// Runs `job` on the threads that open and read the files the servers send: a slow disk, a FIFO or a hung
// network share holds one of them, never the network thread.
void onFileThread(std::function<void()> job);

// Parses a decimal integer: optional sign, digits only, no overflow.
std::optional<std::int64_t> parseDecimal(std::string_view text);

}  // namespace ombry
