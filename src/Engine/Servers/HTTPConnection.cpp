#include "Engine/Servers/HTTPConnection.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <limits>
#include <thread>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "Engine/Model/TextBytes.hpp"
#include "Platform/WorkerPool.hpp"

namespace ombry {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using net::ErrorCode;
using net::tcp;

const std::string* HTTPRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? nullptr : &it->second;
}

std::optional<std::int64_t> parseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulated as a negative number so that the most negative value fits.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == lowest) return std::nullopt;
    return -value;
}

namespace {

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Files up to this size go out with their head in one write.
constexpr std::int64_t smallFileBytes = 64 * 1024;

// Reads up to n bytes at a 64-bit offset; fewer only at the end of the file. -1 on an error.
std::int64_t readAt(int fd, char* data, std::size_t n, std::int64_t offset) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, data + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

struct FileDescriptor {
    int fd = -1;
    FileDescriptor() = default;
    explicit FileDescriptor(int f) : fd(f) {}
    FileDescriptor(FileDescriptor&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& o) noexcept {
        reset();
        fd = std::exchange(o.fd, -1);
        return *this;
    }
    ~FileDescriptor() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// The threads that open and read the files the servers send, shared by every connection.
WorkerPool& fileReaders() {
    static WorkerPool pool(2, "ombry-files");
    return pool;
}

// The head of Beast's handshake response as it goes out: a 101 as the exact text of three headers (Beast
// adds its "Server" after any decorator), a refusal without its "Server" line. `end` is where the blank line
// begins.
std::string handshakeHead(const std::string& bytes, std::size_t end) {
    std::string out, accept;
    std::size_t at = 0;
    while (at <= end) {
        const std::size_t eol = bytes.find("\r\n", at);
        const std::string_view line = std::string_view(bytes).substr(at, eol - at);
        const std::size_t colon = line.find(':');
        const std::string name = lowered(line.substr(0, colon));
        if (name == "sec-websocket-accept" && colon != std::string_view::npos)
            accept = std::string(trimSpaces(line.substr(colon + 1)));
        if (name != "server") out.append(bytes, at, eol + 2 - at);
        at = eol + 2;
    }
    out.append(bytes, at, std::string::npos);
    if (bytes.starts_with("HTTP/1.1 101 ") && !accept.empty())
        return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Accept: " + accept + "\r\n\r\n";
    return out;
}

// The socket under a WebSocket: the first response head written through it is the handshake's, which goes
// out as handshakeHead makes it. Everything after goes straight through.
class HandshakeSocket {
public:
    using executor_type = tcp::socket::executor_type;
    using next_layer_type = tcp::socket;

    explicit HandshakeSocket(tcp::socket socket) : socket_(std::move(socket)) {}
    executor_type get_executor() noexcept { return socket_.get_executor(); }
    tcp::socket& next_layer() { return socket_; }
    const tcp::socket& next_layer() const { return socket_; }

    template <class Buffers, class Handler>
    void async_read_some(const Buffers& buffers, Handler&& handler) {
        socket_.async_read_some(buffers, std::forward<Handler>(handler));
    }

    template <class Buffers, class Handler>
    void async_write_some(const Buffers& buffers, Handler&& handler) {
        if (!filtering_) return socket_.async_write_some(buffers, std::forward<Handler>(handler));
        const std::size_t n = asio::buffer_size(buffers);
        const std::size_t before = head_.size();
        head_.resize(before + n);
        asio::buffer_copy(asio::buffer(head_.data() + before, n), buffers);
        const std::size_t end = head_.find("\r\n\r\n");
        if (end == std::string::npos) {
            // Taken: it goes out with the rest of the head.
            asio::post(socket_.get_executor(),
                       [h = std::forward<Handler>(handler), n]() mutable { h(ErrorCode{}, n); });
            return;
        }
        filtering_ = false;
        auto out = std::make_shared<const std::string>(handshakeHead(head_, end));
        head_ = {};
        asio::async_write(socket_, asio::buffer(*out),
                          [out, h = std::forward<Handler>(handler), n](ErrorCode ec, std::size_t) mutable {
                              h(ec, ec ? 0 : n);
                          });
    }

private:
    tcp::socket socket_;
    bool filtering_ = true;
    std::string head_;
};

template <class Handler>
void async_teardown(beast::role_type role, HandshakeSocket& socket, Handler&& handler) {
    websocket::async_teardown(role, socket.next_layer(), std::forward<Handler>(handler));
}

// A file opened for a reply: its head, and its body when it is small, or the descriptor to stream it from.
struct OpenedFile {
    bool found = false;
    bool shortRead = false;  // the file ended before its size: the reply is cut and the connection closed
    std::string response;
    std::shared_ptr<FileDescriptor> fd;
    std::int64_t offset = 0;
    std::int64_t remaining = 0;  // body bytes still to stream after `response`
};

// On a file thread. O_NONBLOCK: opening a FIFO without a writer or a device returns at once; fstat then
// refuses anything that is not a regular file.
OpenedFile openFile(const std::string& path, const std::optional<std::string>& range, const std::string& method) {
    OpenedFile out;
    auto fd = std::make_shared<FileDescriptor>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (fd->fd < 0 || ::fstat(fd->fd, &st) != 0 || !S_ISREG(st.st_mode)) return out;
    // Reads of a regular file wait for the disk whatever the flag; without it a read never returns EAGAIN.
    const int flags = ::fcntl(fd->fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd->fd, F_SETFL, flags & ~O_NONBLOCK);
    out.found = true;
    const std::int64_t size = st.st_size;
    std::string status = "200 OK";
    std::int64_t start = 0, end = size - 1;
    bool partial = false;
    if (range) {
        if (auto r = ClientConn::parseRange(*range, size)) {
            status = "206 Partial Content";
            partial = true;
            start = r->first;
            end = r->second;
        }
    }
    const std::int64_t length = std::max<std::int64_t>(end - start + 1, 0);
    HTTPResponseHeaders headers{{"Content-Type", ClientConn::contentType(path)},
                                {"Accept-Ranges", "bytes"},
                                {"Content-Length", std::to_string(length)},
                                {"Access-Control-Allow-Origin", "*"},
                                {"Cache-Control", "no-cache"}};
    if (partial)
        headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(end) + "/" +
                                                  std::to_string(size));
    out.response = ClientConn::httpResponse(status, headers, {});
    if (method == "HEAD" || length < 1) return out;
    if (length <= smallFileBytes) {
        // Head and body in one write.
        const std::size_t headSize = out.response.size();
        out.response.resize(headSize + static_cast<std::size_t>(length));
        const std::int64_t got = readAt(fd->fd, out.response.data() + headSize, static_cast<std::size_t>(length), start);
        if (got < length) {
            out.response.resize(headSize + static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
            out.shortRead = true;
        }
        return out;
    }
    out.offset = start;
    out.remaining = length;
    out.fd = std::move(fd);
    return out;
}

}  // namespace

struct ClientConn::Io {
    using HeadParser = http::request_parser<http::empty_body>;
    using BodyParser = http::request_parser<http::string_body>;
    using SinkParser = http::request_parser<http::buffer_body>;
    using WebSocket = websocket::stream<HandshakeSocket>;

    struct Outgoing {
        std::shared_ptr<const std::string> bytes;
        std::function<void()> done;  // after a successful write
        bool frame = false;          // a WebSocket text message rather than raw bytes
        MessageKind kind = MessageKind::event;
    };

    ClientConn& owner;
    tcp::socket socket;
    std::optional<WebSocket> ws;
    std::weak_ptr<ClientConnDelegate> delegate;
    net::Strand strand;
    net::NetTimers& timers;
    ConnLimits limits;

    beast::flat_buffer buffer;  // received bytes not yet consumed
    std::optional<HeadParser> head;
    std::optional<BodyParser> body;
    std::optional<SinkParser> sinkParser;
    std::shared_ptr<HTTPBodySink> sink;
    std::shared_ptr<std::string> sinkPiece;  // shared with the sink until its write is done
    std::shared_ptr<std::string> sinkSpare;  // the other of the two pieces
    bool sinkWriting = false;
    bool sinkReading = false;
    std::optional<std::size_t> sinkReady;  // bytes of sinkPiece read while the piece before is still written
    double lastSinkActivity = 0;

    std::unique_ptr<net::NetTimer> requestTimer;  // the request must complete in time
    double requestDeadline = 0;                   // 0 while no request is being read
    bool requestTimerArmed = false;
    std::unique_ptr<net::NetTimer> sinkTimer;     // a streamed body must keep coming
    std::unique_ptr<net::NetTimer> lingerTimer;   // after a closing reply

    std::deque<Outgoing> writes;
    std::size_t queuedBytes = 0;  // of `writes`
    bool writing = false;         // the front of `writes` is being written
    double writeStarted = 0;      // when the write in flight began; 0 when none
    bool stallTimerArmed = false;
    bool overflowed = false;      // more was queued than the limits allow: closing
    std::unique_ptr<net::NetTimer> stallTimer;  // a client must take what is written
    bool awaitingReply = false;  // a request was handed on; the next one waits for its reply
    bool keepAlive = true;       // the client did not ask to close after this request
    bool continueWanted = false;  // the client waits for "100 Continue" before sending its body
    bool upgrading = false;  // the 101 is on its way: messages queue behind it
    bool upgraded = false;
    bool pinging = false;
    bool closing = false;  // a closing reply was sent; input is discarded
    bool closed = false;
    bool goingAway = false;  // the close frame is sent or on its way: nothing more is written
    bool finished = false;

    std::shared_ptr<FileDescriptor> file;  // shared with a read in flight on a file thread
    std::int64_t fileOffset = 0;
    std::int64_t fileRemaining = 0;
    std::shared_ptr<std::string> filePiece;

    http::request<http::string_body> upgradeRequest;
    beast::flat_buffer wsBuffer;
    std::string discard;

    Io(ClientConn& o, tcp::socket s, std::weak_ptr<ClientConnDelegate> d, net::Strand st, net::NetTimers& t,
       ConnLimits l)
        : owner(o), socket(std::move(s)), delegate(std::move(d)), strand(std::move(st)), timers(t), limits(l) {
        requestTimer = timers.make(strand);
        sinkTimer = timers.make(strand);
        lingerTimer = timers.make(strand);
        stallTimer = timers.make(strand);
    }

    std::shared_ptr<ClientConn> self() { return owner.shared_from_this(); }
    tcp::socket& lowest() { return ws ? ws->next_layer().next_layer() : socket; }

    template <class F>
    void onStrand(F&& f) {
        asio::dispatch(strand, [self = self(), f = std::forward<F>(f)]() mutable { f(); });
    }

    // --- reading requests ---

    void readHead() {
        if (closed || closing || upgraded) return;
        head.emplace();
        head->header_limit(static_cast<std::uint32_t>(limits.maxHeadBytes));
        head->body_limit(boost::none);  // the body's own limit is applied once its disposition is known
        startRequestWatchdog();
        http::async_read_header(socket, buffer, *head, [self = self()](ErrorCode ec, std::size_t) {
            self->io_->onHead(ec);
        });
    }

    // The timer is armed once and moved on lazily, not re-armed for every request of a busy connection.
    void startRequestWatchdog() {
        requestDeadline = timers.now() + limits.requestSeconds;
        if (!requestTimerArmed) armRequestTimer(limits.requestSeconds);
    }
    void armRequestTimer(double seconds) {
        requestTimerArmed = true;
        std::weak_ptr<ClientConn> weak = self();
        requestTimer->arm(seconds, [weak] {
            auto c = weak.lock();
            if (!c) return;
            auto& io = *c->io_;
            io.requestTimerArmed = false;
            if (io.requestDeadline == 0) return;
            const double left = io.requestDeadline - io.timers.now();
            if (left <= 0) return io.closeNow();
            io.armRequestTimer(left);
        });
    }
    void stopRequestWatchdog() { requestDeadline = 0; }

    void onHead(ErrorCode ec) {
        if (closed) return;
        if (closing) return discardInput(ec);
        if (ec) return closeNow();  // the peer closed, a malformed or oversized head, a read error

        HTTPRequest request;
        const auto& message = head->get();
        request.method = std::string(message.method_string());
        request.path = std::string(message.target());
        bool utf8 = isUtf8(request.path);
        for (const auto& field : message) {
            const auto value = trimSpaces(field.value());
            utf8 = utf8 && isUtf8(value);
            request.headers.insert_or_assign(lowered(field.name_string()), std::string(value));
        }
        if (!utf8) return closeNow();
        keepAlive = head->keep_alive();
        const std::string* expect = request.header("expect");
        continueWanted = message.version() >= 11 && expect && lowered(*expect) == "100-continue";

        std::int64_t contentLength = 0;
        if (auto n = head->content_length())
            contentLength = *n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                                ? std::numeric_limits<std::int64_t>::max()
                                : static_cast<std::int64_t>(*n);

        auto d = delegate.lock();
        if (!d) return closeNow();
        const BodyDisposition disposition = d->disposition(request, contentLength, self());
        if (closed) return;
        switch (disposition.kind) {
            case BodyDisposition::Kind::handled:
                stopRequestWatchdog();
                awaitingReply = true;
                return;
            case BodyDisposition::Kind::stream:
                stopRequestWatchdog();
                sendContinue();
                return startSink(disposition.sink);
            case BodyDisposition::Kind::buffer:
                break;
        }
        if (head->content_length() && *head->content_length() > limits.maxBodyBytes) return closeNow();
        body.emplace(std::move(*head));
        head.reset();
        body->body_limit(limits.maxBodyBytes);  // also bounds a chunked body
        if (body->is_done()) return onRequest(std::move(request));
        sendContinue();
        http::async_read(socket, buffer, *body,
                         [self = self(), request = std::move(request)](ErrorCode ec, std::size_t) mutable {
                             auto& io = *self->io_;
                             if (io.closed) return;
                             if (io.closing) return io.discardInput(ec);
                             if (ec) return io.closeNow();
                             io.onRequest(std::move(request));
                         });
    }

    // A client that waits for leave to send its body gets it once the head is accepted (a refusal is the
    // final status instead, sent by the delegate).
    void sendContinue() {
        if (!std::exchange(continueWanted, false)) return;
        enqueue({std::make_shared<const std::string>("HTTP/1.1 100 Continue\r\n\r\n"), nullptr, false});
    }

    void onRequest(HTTPRequest request) {
        stopRequestWatchdog();
        request.body = std::move(body->get().body());
        auto d = delegate.lock();
        if (!d) return closeNow();
        const std::string* upgrade = request.header("upgrade");
        if (upgrade && lowered(*upgrade) == "websocket" && request.header("sec-websocket-key")) {
            if (!d->authorizeUpgrade(request.path, request.headers)) {
                awaitingReply = true;
                owner.sendHTTPClosing("401 Unauthorized",
                                      {{"Content-Type", "text/plain; charset=utf-8"}, {"Content-Length", "26"}},
                                      "control password required\n");
                return;
            }
            return acceptWebSocket(body->release());
        }
        body.reset();
        awaitingReply = true;
        d->route(std::move(request), self());
    }

    // The reply to the current request has been written: read the next one.
    void replyDone() {
        if (!awaitingReply) return;
        if (!keepAlive) return linger();  // "Connection: close", or HTTP/1.0 without keep-alive
        awaitingReply = false;
        readHead();
    }

    // --- streamed bodies ---

    // The delegate's later verdict on a request it took as `handled`.
    void streamBodyLater(std::shared_ptr<HTTPBodySink> s) {
        if (closed || closing || goingAway || !awaitingReply || !head) {
            if (s) s->cancel();
            return;
        }
        awaitingReply = false;
        sendContinue();
        startSink(std::move(s));
    }

    void startSink(std::shared_ptr<HTTPBodySink> s) {
        sink = std::move(s);
        if (!sink) return closeNow();
        sinkParser.emplace(std::move(*head));
        head.reset();
        sinkParser->body_limit(boost::none);
        // Beast reads into the free room of the buffer, which after a small head is a few hundred bytes: a
        // large body would come in that many bytes per system call.
        buffer.reserve(limits.chunkSize);
        lastSinkActivity = timers.now();
        armSinkWatchdog();
        readSinkPiece();
    }

    void armSinkWatchdog() {
        std::weak_ptr<ClientConn> weak = self();
        sinkTimer->arm(limits.sinkCheckSeconds, [weak] {
            auto c = weak.lock();
            if (!c) return;
            auto& io = *c->io_;
            if (!io.sink) return;
            // While a piece is being written nothing is read: a slow disk is not an idle sender.
            if (!io.sinkWriting && io.timers.now() - io.lastSinkActivity > io.limits.sinkIdleSeconds)
                return io.closeNow();
            io.armSinkWatchdog();
        });
    }

    void readSinkPiece() {
        if (sinkReading) return;
        if (sinkParser->is_done()) {
            if (!sinkWriting) finishSink();  // else once the last piece is stored
            return;
        }
        if (!sinkPiece || sinkPiece.use_count() > 1) {
            // Being written: read into the other piece, whose write has ended (it answered before this one
            // was handed over).
            std::swap(sinkPiece, sinkSpare);
            if (!sinkPiece || sinkPiece.use_count() > 1) sinkPiece = std::make_shared<std::string>();
        }
        sinkPiece->resize(limits.chunkSize);
        sinkParser->get().body().data = sinkPiece->data();
        sinkParser->get().body().size = sinkPiece->size();
        sinkReading = true;
        http::async_read_some(socket, buffer, *sinkParser, [self = self()](ErrorCode ec, std::size_t) {
            auto& io = *self->io_;
            io.sinkReading = false;
            if (io.closed) return;
            if (io.closing) return io.discardInput(ec == http::error::need_buffer ? ErrorCode{} : ec);
            if (ec == http::error::need_buffer) ec = {};
            if (ec) return io.closeNow();  // ended before the last byte: finish() cancels the sink
            const std::size_t n = io.sinkPiece->size() - io.sinkParser->get().body().size;
            if (n == 0) return io.readSinkPiece();
            io.lastSinkActivity = io.timers.now();
            if (io.sinkWriting) {
                io.sinkReady = n;  // written after the one before; nothing more is read meanwhile
                return;
            }
            io.writeSinkPiece(n);
        });
    }

    // One piece is written while the next is read, and no third is read before the first is stored: an upload
    // to a slow disk holds two pieces at most, and a fast disk is not kept waiting for the network. A sink
    // that answers within the call goes on at once; a later answer, from the thread that wrote, comes back
    // through the strand to a connection that may have closed meanwhile.
    void writeSinkPiece(std::size_t n) {
        struct Answer {
            std::thread::id caller = std::this_thread::get_id();
            bool inCall = true;  // caller's thread only
            std::optional<bool> ok;
        };
        auto answer = std::make_shared<Answer>();
        auto piece = sinkPiece;  // outlives the connection while the sink still writes from it
        sinkWriting = true;
        sink->writeThen(std::string_view(piece->data(), n),
                        [weak = std::weak_ptr<ClientConn>(self()), strand = strand, piece, answer](bool ok) mutable {
                            piece.reset();  // written: the next read may reuse it
                            if (std::this_thread::get_id() == answer->caller && answer->inCall) {
                                answer->ok = ok;
                                return;
                            }
                            asio::post(strand, [weak, ok] {
                                auto c = weak.lock();
                                if (!c || c->io_->closed) return;
                                auto& io = *c->io_;
                                io.lastSinkActivity = io.timers.now();  // a slow disk is not an idle sender
                                io.sinkWritten(ok);
                            });
                        });
        answer->inCall = false;
        if (answer->ok) return sinkWritten(*answer->ok);
        readSinkPiece();
    }

    void sinkWritten(bool ok) {
        sinkWriting = false;
        if (!ok) return closeNow();
        if (sinkReady) {
            const std::size_t n = *sinkReady;
            sinkReady.reset();
            return writeSinkPiece(n);
        }
        readSinkPiece();
    }

    void finishSink() {
        sinkTimer->cancel();
        sinkParser.reset();
        sinkPiece.reset();
        sinkSpare.reset();
        sinkReady.reset();
        buffer.shrink_to_fit();  // an idle kept-open connection holds no upload-sized buffer
        auto s = std::move(sink);
        sink.reset();
        // The sink's owner sends the reply; the next request waits for it.
        awaitingReply = true;
        s->finish();
    }

    // --- writing ---

    void enqueue(Outgoing out) {
        if (closed || overflowed || goingAway) return;
        if (out.frame && out.kind != MessageKind::event) {
            // The one in flight cannot be taken back; a waiting one of the kind is replaced by this.
            for (auto it = writes.begin() + (writing ? 1 : 0); it != writes.end(); ++it) {
                if (!it->frame || it->kind != out.kind) continue;
                queuedBytes -= it->bytes->size();
                writes.erase(it);
                break;
            }
        }
        const std::size_t size = out.bytes->size();
        if (!writes.empty() &&
            (writes.size() >= limits.maxQueuedMessages || queuedBytes + size > limits.maxQueuedBytes)) {
            // A client that does not keep up with what it is sent would otherwise grow this without end. Closed
            // on the strand's next turn: the server may be walking its table, sending to each connection.
            overflowed = true;
            writes.erase(writes.begin() + (writing ? 1 : 0), writes.end());
            queuedBytes = writes.empty() ? 0 : writes.front().bytes->size();
            asio::post(strand, [self = self()] { self->io_->closeNow(); });
            return;
        }
        queuedBytes += size;
        writes.push_back(std::move(out));
        if (!writing) writeNext();
    }

    // Armed once and moved on lazily, like the request watchdog, rather than for every write.
    void armStallTimer(double seconds) {
        stallTimerArmed = true;
        std::weak_ptr<ClientConn> weak = self();
        stallTimer->arm(seconds, [weak] {
            auto c = weak.lock();
            if (!c) return;
            auto& io = *c->io_;
            io.stallTimerArmed = false;
            if (io.closed || io.writeStarted == 0) return;
            const double left = io.writeStarted + io.limits.writeStallSeconds - io.timers.now();
            if (left <= 0) return io.closeNow();
            io.armStallTimer(left);
        });
    }

    void writeNext() {
        if (closed || goingAway || writes.empty() || (ws && !upgraded)) {
            writing = false;
            return;
        }
        writing = true;
        writeStarted = timers.now();
        if (!stallTimerArmed) armStallTimer(limits.writeStallSeconds);
        auto handler = [self = self()](ErrorCode ec, std::size_t) {
            auto& io = *self->io_;
            io.writing = false;
            io.writeStarted = 0;
            if (io.closed || io.writes.empty()) return;
            Outgoing done = std::move(io.writes.front());
            io.writes.pop_front();
            io.queuedBytes -= done.bytes->size();
            if (ec) return io.closeNow();
            done.bytes.reset();  // lets a file piece's buffer be reused
            if (done.done) done.done();
            if (!io.writing) io.writeNext();
        };
        const Outgoing& front = writes.front();
        if (front.frame)
            ws->async_write(asio::buffer(*front.bytes), std::move(handler));
        else
            asio::async_write(lowest(), asio::buffer(*front.bytes), std::move(handler));
    }

    void writeReply(std::string bytes, std::function<void()> done) {
        writeReply(std::make_shared<const std::string>(std::move(bytes)), std::move(done));
    }
    void writeReply(std::shared_ptr<const std::string> bytes, std::function<void()> done) {
        if (upgraded || ws) return;  // a stray reply after the upgrade request
        enqueue({std::move(bytes), std::move(done), false});
    }

    // --- files ---

    // Opening and reading run on the file threads: a FIFO, a device or a hung network share at a clip's path
    // would otherwise hold every connection of the network thread. Nothing touches the file here.
    void serveFile(std::string path, std::optional<std::string> range, std::string method,
                   std::optional<std::string> notFoundReply) {
        if (upgraded || ws) return;
        fileReaders().submit([weak = std::weak_ptr<ClientConn>(self()), strand = strand,
                              path = std::move(path), range = std::move(range), method = std::move(method),
                              notFoundReply = std::move(notFoundReply)]() mutable {
            auto opened = std::make_shared<OpenedFile>(openFile(path, range, method));
            if (!opened->found && notFoundReply) opened->response = std::move(*notFoundReply);
            asio::post(strand, [weak, opened] {
                auto c = weak.lock();
                if (c && !c->io_->closed) c->io_->fileOpened(std::move(*opened));
            });
        });
    }

    void fileOpened(OpenedFile opened) {
        if (!opened.found) {
            if (opened.response.empty()) return notFound();
            return writeReply(std::move(opened.response), [this] { replyDone(); });
        }
        if (opened.shortRead) return writeReply(std::move(opened.response), [this] { closeNow(); });
        if (opened.remaining < 1) return writeReply(std::move(opened.response), [this] { replyDone(); });
        file = std::move(opened.fd);
        fileOffset = opened.offset;
        fileRemaining = opened.remaining;
        writeReply(std::move(opened.response), [this] { streamFilePiece(); });
    }

    void streamFilePiece() {
        if (fileRemaining < 1) {
            file.reset();
            return replyDone();
        }
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(fileRemaining, limits.chunkSize));
        if (!filePiece || filePiece.use_count() > 1) filePiece = std::make_shared<std::string>();
        fileReaders().submit([weak = std::weak_ptr<ClientConn>(self()), strand = strand, fd = file, piece = filePiece,
                              want, offset = fileOffset] {
            piece->resize(want);
            const std::int64_t got = readAt(fd->fd, piece->data(), want, offset);
            asio::post(strand, [weak, got] {
                auto c = weak.lock();
                if (c && !c->io_->closed) c->io_->filePieceRead(got);
            });
        });
    }

    void filePieceRead(std::int64_t got) {
        if (!file) return;
        if (got <= 0) {
            // The reply is already shorter than its Content-Length: the next one would be read as its rest.
            file.reset();
            return closeNow();
        }
        filePiece->resize(static_cast<std::size_t>(got));
        fileOffset += got;
        fileRemaining -= got;
        enqueue({filePiece, [this] { streamFilePiece(); }, false});
    }

    void notFound() {
        writeReply(ClientConn::httpResponse("404 Not Found",
                                            {{"Content-Length", "0"}, {"Access-Control-Allow-Origin", "*"}}, {}),
                   [this] { replyDone(); });
    }

    // --- closing ---

    void sendClosing(std::string bytes) {
        if (ws) return;
        enqueue({std::make_shared<const std::string>(std::move(bytes)), [this] { linger(); }, false});
    }

    void linger() {
        if (closed || closing) return;
        closing = true;
        stopRequestWatchdog();
        std::weak_ptr<ClientConn> weak = self();
        lingerTimer->arm(limits.lingerSeconds, [weak] {
            if (auto c = weak.lock()) c->io_->closeNow();
        });
        ErrorCode ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
        // Without a reply awaited a read is pending; it goes on discarding when it completes.
        if (awaitingReply) discardInput({});
    }

    void discardInput(ErrorCode ec) {
        if (closed) return;
        if (ec) return closeNow();
        buffer.consume(buffer.size());
        discard.resize(16 * 1024);
        socket.async_read_some(asio::buffer(discard), [self = self()](ErrorCode e, std::size_t) {
            self->io_->discardInput(e);
        });
    }

    void closeNow() {
        if (closed) return;
        closed = true;
        ErrorCode ignored;
        lowest().close(ignored);
        file.reset();
        finish();
    }

    // The end of the connection; harmless when run again.
    void finish() {
        if (finished) return;
        finished = true;
        stopRequestWatchdog();
        requestTimer->cancel();
        sinkTimer->cancel();
        lingerTimer->cancel();
        stallTimer->cancel();
        // A closed socket sends nothing more: what waited is let go at once, all but a write in flight,
        // whose buffer its operation may still hold.
        writes.erase(writes.begin() + (writing && !writes.empty() ? 1 : 0), writes.end());
        queuedBytes = writes.empty() ? 0 : writes.front().bytes->size();
        if (auto s = std::move(sink)) {
            sink.reset();
            s->cancel();
        }
        if (auto d = delegate.lock()) d->remove(owner);
    }

    // --- WebSocket ---

    void acceptWebSocket(http::request<http::string_body> request) {
        body.reset();
        ws.emplace(std::move(socket));
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = std::chrono::seconds(5);  // also bounds the closing handshake
        timeout.idle_timeout = websocket::stream_base::none();
        timeout.keep_alive_pings = false;
        ws->set_option(timeout);
        ws->read_message_max(limits.maxMessageBytes);
        ws->auto_fragment(false);
        ws->text(true);
        std::weak_ptr<ClientConn> weak = self();
        ws->control_callback([weak](websocket::frame_type kind, beast::string_view) {
            if (kind != websocket::frame_type::pong) return;
            if (auto c = weak.lock()) c->isAlive = true;
        });
        // Bytes behind the upgrade request were sent before the client saw the 101: they are dropped.
        buffer.consume(buffer.size());
        upgradeRequest = std::move(request);
        // A "100 Continue" before the 101 tells the client nothing.
        upgradeRequest.erase(http::field::expect);
        upgrading = true;
        ws->async_accept(upgradeRequest, [self = self()](ErrorCode ec) {
            auto& io = *self->io_;
            if (io.closed) return;
            if (ec) return io.closeNow();
            io.upgraded = true;
            self->isAlive = true;
            if (!io.writing) io.writeNext();
            if (auto d = io.delegate.lock()) d->upgraded(self);
            io.readMessage();
        });
    }

    void readMessage() {
        if (closed) return;
        ws->async_read(wsBuffer, [self = self()](ErrorCode ec, std::size_t) {
            auto& io = *self->io_;
            if (io.closed) return;
            if (ec) return io.closeNow();  // a close frame (answered), an oversized message, an error
            std::string message = beast::buffers_to_string(io.wsBuffer.data());
            io.wsBuffer.consume(io.wsBuffer.size());
            if (auto d = io.delegate.lock()) d->handleFrame(std::move(message), self);
            io.readMessage();
        });
    }

    // A stopping server: an upgraded connection gets a close frame (1001, going away) after the message
    // being written, and closes when the client answers it or the closing handshake times out (5 s).
    // Anything else closes at once.
    void goAway() {
        if (closed || goingAway) return;
        if (!upgraded) return closeNow();
        goingAway = true;
        ws->async_close(websocket::close_reason(websocket::close_code::going_away), [self = self()](ErrorCode) {
            self->io_->closeNow();
        });
    }

    void ping() {
        if (pinging || goingAway) return;
        pinging = true;
        ws->async_ping({}, [self = self()](ErrorCode ec) {
            auto& io = *self->io_;
            io.pinging = false;
            if (ec) io.closeNow();
        });
    }
};

std::shared_ptr<ClientConn> ClientConn::create(tcp::socket socket, std::weak_ptr<ClientConnDelegate> delegate,
                                               net::Strand strand, net::NetTimers& timers, ConnLimits limits) {
    std::shared_ptr<ClientConn> conn(new ClientConn());
    conn->io_ = std::make_unique<Io>(*conn, std::move(socket), std::move(delegate), std::move(strand), timers, limits);
    return conn;
}

ClientConn::~ClientConn() = default;

void ClientConn::start() {
    io_->onStrand([this] { io_->readHead(); });
}

void ClientConn::reply(std::string response) {
    io_->onStrand([this, response = std::move(response)]() mutable {
        io_->writeReply(std::move(response), [this] { io_->replyDone(); });
    });
}

void ClientConn::reply(std::shared_ptr<const std::string> response) {
    io_->onStrand([this, response = std::move(response)]() mutable {
        io_->writeReply(std::move(response), [this] { io_->replyDone(); });
    });
}

void ClientConn::sendHTTPClosing(const std::string& status, const HTTPResponseHeaders& headers,
                                 const std::string& body) {
    io_->onStrand([this, bytes = httpResponse(status, headers, body)]() mutable { io_->sendClosing(std::move(bytes)); });
}

void ClientConn::sendNotFound() {
    io_->onStrand([this] { io_->notFound(); });
}

void ClientConn::serveFile(std::string path, std::optional<std::string> range, std::string method,
                          std::optional<std::string> notFoundReply) {
    io_->onStrand([this, path = std::move(path), range = std::move(range), method = std::move(method),
                   notFoundReply = std::move(notFoundReply)]() mutable {
        io_->serveFile(std::move(path), std::move(range), std::move(method), std::move(notFoundReply));
    });
}

void ClientConn::sendText(std::shared_ptr<const std::string> payload, MessageKind kind) {
    io_->onStrand([this, payload = std::move(payload), kind]() mutable {
        if (!io_->upgrading) return;
        io_->enqueue({std::move(payload), nullptr, true, kind});
    });
}

void ClientConn::streamBody(std::shared_ptr<HTTPBodySink> sink) {
    io_->onStrand([this, sink = std::move(sink)]() mutable { io_->streamBodyLater(std::move(sink)); });
}

void ClientConn::detach() { io_->delegate.reset(); }

void ClientConn::close() {
    io_->onStrand([this] { io_->closeNow(); });
}

void ClientConn::goAway() {
    io_->onStrand([this] { io_->goAway(); });
}

bool ClientConn::heartbeat() {
    if (!io_->upgraded || io_->closed) return true;
    if (isAlive) {
        isAlive = false;
        io_->ping();
        return true;
    }
    io_->closeNow();
    return false;
}

bool ClientConn::upgraded() const { return io_->upgrading; }

std::size_t ClientConn::queuedBytes() const { return io_->queuedBytes; }

std::size_t ClientConn::queuedMessages() const { return io_->writes.size(); }

std::string ClientConn::httpResponse(const std::string& status, const HTTPResponseHeaders& headers,
                                     std::string_view body) {
    std::string out;
    std::size_t size = 11 + status.size() + 2 + body.size();
    for (const auto& [name, value] : headers) size += name.size() + value.size() + 4;
    out.reserve(size);
    out += "HTTP/1.1 ";
    out += status;
    out += "\r\n";
    for (const auto& [name, value] : headers) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    out += "\r\n";
    out += body;
    return out;
}

std::string ClientConn::contentType(std::string_view path) {
    static const std::map<std::string, std::string, std::less<>> table{
        {"html", "text/html; charset=utf-8"},
        {"htm", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"},
        {"mjs", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},
        {"json", "application/json; charset=utf-8"},
        {"mp4", "video/mp4"},
        {"m4v", "video/mp4"},
        {"mov", "video/mp4"},
        {"webm", "video/webm"},
        {"mkv", "video/x-matroska"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"avif", "image/avif"},
        {"bmp", "image/bmp"},
        {"svg", "image/svg+xml"},
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"aac", "audio/aac"},
        {"wav", "audio/wav"},
        {"flac", "audio/flac"},
        {"ogg", "audio/ogg"},
        {"oga", "audio/ogg"},
    };
    const auto slash = path.find_last_of('/');
    const auto name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return "application/octet-stream";
    auto it = table.find(lowered(name.substr(dot + 1)));
    return it == table.end() ? "application/octet-stream" : it->second;
}

std::optional<std::pair<std::int64_t, std::int64_t>> ClientConn::parseRange(std::string_view value,
                                                                            std::int64_t size) {
    constexpr std::string_view prefix = "bytes=";
    if (value.substr(0, prefix.size()) != prefix) return std::nullopt;
    const auto rest = value.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto first = trimSpaces(rest.substr(0, dash));
    const auto second = trimSpaces(rest.substr(dash + 1));
    if (first.empty() && second.empty()) return std::nullopt;
    if (first.empty()) {
        const auto n = parseDecimal(second);
        if (!n || *n <= 0 || size <= 0) return std::nullopt;
        return std::make_pair(std::max<std::int64_t>(size - *n, 0), size - 1);
    }
    const auto start = parseDecimal(first);
    if (!start || *start >= size) return std::nullopt;
    std::int64_t end = size - 1;
    if (auto last = parseDecimal(second)) end = std::min(*last, size - 1);
    if (end < *start) return std::nullopt;
    return std::make_pair(*start, end);
}

void acceptLoop(std::shared_ptr<tcp::acceptor> acceptor, std::function<void(tcp::socket)> adopt) {
    auto executor = acceptor->get_executor();
    acceptor->async_accept(executor, [acceptor, adopt = std::move(adopt)](ErrorCode ec, tcp::socket socket) mutable {
        if (!acceptor->is_open() || ec == asio::error::operation_aborted) return;
        if (!ec) {
            adopt(std::move(socket));
            return acceptLoop(std::move(acceptor), std::move(adopt));
        }
        // Out of descriptors or a similar passing failure: try again shortly instead of spinning.
        auto pause = std::make_shared<asio::steady_timer>(acceptor->get_executor(), std::chrono::milliseconds(50));
        pause->async_wait([pause, acceptor, adopt = std::move(adopt)](ErrorCode) mutable {
            if (acceptor->is_open()) acceptLoop(std::move(acceptor), std::move(adopt));
        });
    });
}

void adoptConnection(net::tcp::socket socket, bool accepting, ConnTable& conns,
                     std::weak_ptr<ClientConnDelegate> delegate, const net::Strand& strand, net::NetTimers& timers,
                     ConnLimits limits) {
    net::ErrorCode ignored;
    if (!accepting || conns.size() >= maxConnectionsPerServer) {
        socket.close(ignored);
        return;
    }
    socket.set_option(net::tcp::no_delay(true), ignored);
    auto conn = ClientConn::create(std::move(socket), std::move(delegate), strand, timers, limits);
    conns.emplace(conn.get(), conn);
    conn->start();
}

void heartbeatAll(const ConnTable& conns) {
    std::vector<std::shared_ptr<ClientConn>> copy;
    for (const auto& [key, conn] : conns) copy.push_back(conn);
    for (auto& conn : copy) conn->heartbeat();
}

void closeListenerAndConnections(std::shared_ptr<net::tcp::acceptor>& listener, ConnTable& conns) {
    if (listener) {
        net::ErrorCode ignored;
        listener->close(ignored);
        listener.reset();
    }
    // Each close may call back into the table (remove): close from a copy.
    auto closing = std::move(conns);
    conns.clear();
    for (auto& [key, conn] : closing) {
        conn->detach();
        conn->goAway();
    }
}

void onFileThread(std::function<void()> job) { fileReaders().submit(std::move(job)); }

}  // namespace ombry
