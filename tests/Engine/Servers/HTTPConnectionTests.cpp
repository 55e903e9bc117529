// The connection layer over real loopback sockets: request heads and bodies, body dispositions, replies in
// request order, files with ranges, the limits and watchdogs, WebSocket framing and handshake.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "Engine/Servers/HTTPConnection.hpp"
#include "Platform/MainQueue.hpp"
#include "NetTestSupport.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

using test::maskedFrame;
using test::RawClient;

// Records what happened on the server's strand; the test thread waits on it.
struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<HTTPRequest> requests;
    std::vector<std::string> messages;
    int removed = 0;

    template <class F>
    void update(F&& f) {
        {
            std::lock_guard lock(mutex);
            f();
        }
        changed.notify_all();
    }
    template <class P>
    bool waitFor(P&& pred, double seconds = test::netWait) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds), pred);
    }
};

class TestServer final : public ClientConnDelegate, public std::enable_shared_from_this<TestServer> {
public:
    TestServer(net::NetLoop& loop, net::NetTimers& timers) : loop_(loop), timers_(timers), strand_(loop.makeStrand()) {}

    void start() {
        net::runOn(loop_, strand_, [this] {
            listener_ = std::make_shared<net::tcp::acceptor>(net::openListener(strand_, "127.0.0.1", 0));
            port = listener_->local_endpoint().port();
            acceptLoop(listener_, [weak = weak_from_this()](net::tcp::socket s) {
                auto self = weak.lock();
                if (!self) return;
                auto conn = ClientConn::create(std::move(s), self, self->strand_, self->timers_, self->limits);
                self->conns_[conn.get()] = conn;
                conn->start();
            });
        });
    }
    void stop() {
        net::runOn(loop_, strand_, [this] {
            listener_->close();
            auto conns = std::move(conns_);
            for (auto& [k, c] : conns) c->close();
        });
    }
    void onStrand(const std::function<void()>& fn) { net::runOn(loop_, strand_, fn); }

    void route(HTTPRequest request, const std::shared_ptr<ClientConn>& conn) override {
        events.update([&] { events.requests.push_back(request); });
        if (onRoute) return onRoute(request, conn);
        conn->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", std::to_string(request.path.size())}},
                                             request.path));
    }
    void handleFrame(std::string message, const std::shared_ptr<ClientConn>& conn) override {
        if (onFrame) onFrame(message, conn);
        events.update([&] { events.messages.push_back(message); });
    }
    void remove(ClientConn& conn) override {
        conns_.erase(&conn);
        events.update([&] { ++events.removed; });
    }
    bool authorizeUpgrade(const std::string& path, const HTTPHeaders&) override { return path != "/refused"; }
    BodyDisposition disposition(const HTTPRequest& request, std::int64_t contentLength,
                                const std::shared_ptr<ClientConn>& conn) override {
        return onDisposition ? onDisposition(request, contentLength, conn) : BodyDisposition::buffer();
    }

    std::uint16_t port = 0;
    ConnLimits limits;
    Events events;
    std::function<void(const HTTPRequest&, const std::shared_ptr<ClientConn>&)> onRoute;
    std::function<void(const std::string&, const std::shared_ptr<ClientConn>&)> onFrame;
    std::function<BodyDisposition(const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>&)> onDisposition;

private:
    net::NetLoop& loop_;
    net::NetTimers& timers_;
    net::Strand strand_;
    std::shared_ptr<net::tcp::acceptor> listener_;
    std::map<const ClientConn*, std::shared_ptr<ClientConn>> conns_;
};

class ConnTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_shared<TestServer>(loop, timers);
        server->start();
    }
    void TearDown() override { server->stop(); }

    std::string get(const std::string& path, const std::string& extra = "") {
        return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
    }
    int requestCount() {
        std::lock_guard lock(server->events.mutex);
        return static_cast<int>(server->events.requests.size());
    }
    HTTPRequest request(std::size_t i) {
        std::lock_guard lock(server->events.mutex);
        return server->events.requests.at(i);
    }
    // Waits until `n` timers are armed: the connections have got that far.
    bool armedTimers(std::size_t n) {
        for (int i = 0; i < 1000; ++i) {
            if (timers.armed() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool waitRemoved(int n) {
        return server->events.waitFor([&] { return server->events.removed >= n; });
    }

    // The timers outlive the loop, which may still hold connections when the fixture ends.
    net::ManualNetTimers timers;
    net::NetLoop loop;
    std::shared_ptr<TestServer> server;
};

std::filesystem::path writeBytes(const std::string& name, std::size_t size) {
    static auto dir = test::tempDir("files");
    const auto path = dir / name;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>('a' + i % 26));
    return path;
}

std::string pattern(std::size_t from, std::size_t to) {
    std::string s;
    for (std::size_t i = from; i <= to; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

// --- pure helpers ---

TEST(ParseRange, RangesOnAThousandByteFile) {
    struct Case {
        const char* value;
        std::optional<std::pair<std::int64_t, std::int64_t>> expected;
    };
    const Case cases[] = {
        {"bytes=0-", std::pair<std::int64_t, std::int64_t>{0, 999}},
        {"bytes=-100", std::pair<std::int64_t, std::int64_t>{900, 999}},
        {"bytes=-2000", std::pair<std::int64_t, std::int64_t>{0, 999}},
        {"bytes=10-20000", std::pair<std::int64_t, std::int64_t>{10, 999}},
        {"bytes=10-19", std::pair<std::int64_t, std::int64_t>{10, 19}},
        {"bytes= 5 - 6 ", std::pair<std::int64_t, std::int64_t>{5, 6}},
        {"bytes=500-400", std::nullopt},
        {"bytes=1000-", std::nullopt},
        {"bytes=-0", std::nullopt},
        {"bytes=-", std::nullopt},
        {"bytes=abc-", std::nullopt},
        {"Bytes=0-1", std::nullopt},
        {" bytes=0-1", std::nullopt},
        {"bytes=5", std::nullopt},
        // A list is read as one range with an unreadable end: the whole file from its first start.
        {"bytes=0-99,200-299", std::pair<std::int64_t, std::int64_t>{0, 999}},
        {"bytes=0-abc", std::pair<std::int64_t, std::int64_t>{0, 999}},
    };
    for (const auto& c : cases) EXPECT_EQ(ClientConn::parseRange(c.value, 1000), c.expected) << c.value;
    EXPECT_EQ(ClientConn::parseRange("bytes=-5", 0), std::nullopt);
    EXPECT_EQ(ClientConn::parseRange("bytes=0-", 0), std::nullopt);
}

TEST(ParseDecimal, SignsDigitsAndOverflow) {
    EXPECT_EQ(parseDecimal("42"), 42);
    EXPECT_EQ(parseDecimal("+7"), 7);
    EXPECT_EQ(parseDecimal("-3"), -3);
    EXPECT_EQ(parseDecimal("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseDecimal("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "1x", " 1", "9223372036854775808", "1.5"}) EXPECT_EQ(parseDecimal(bad), std::nullopt) << bad;
}

TEST(ContentType, TableByLowerCasedExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/index.HTML", "text/html; charset=utf-8"}, {"x.htm", "text/html; charset=utf-8"},
        {"app.mjs", "text/javascript; charset=utf-8"}, {"s.css", "text/css; charset=utf-8"},
        {"d.json", "application/json; charset=utf-8"}, {"clip.MOV", "video/mp4"},
        {"c.m4v", "video/mp4"},                         {"c.webm", "video/webm"},
        {"c.mkv", "video/x-matroska"},                  {"i.jpeg", "image/jpeg"},
        {"i.svg", "image/svg+xml"},                     {"i.avif", "image/avif"},
        {"s.mp3", "audio/mpeg"},                        {"s.m4a", "audio/mp4"},
        {"s.oga", "audio/ogg"},                         {"s.flac", "audio/flac"},
        {"notes.txt", "application/octet-stream"},      {"/dir.png/noext", "application/octet-stream"},
    };
    for (const auto& [path, type] : cases) EXPECT_EQ(ClientConn::contentType(path), type) << path;
}

TEST(HttpResponse, StatusHeadersBodyAndNothingElse) {
    EXPECT_EQ(ClientConn::httpResponse("204 No Content", {{"A", "1"}, {"B", "two"}}, ""),
              "HTTP/1.1 204 No Content\r\nA: 1\r\nB: two\r\n\r\n");
    EXPECT_EQ(ClientConn::httpResponse("200 OK", {}, "hi"), "HTTP/1.1 200 OK\r\n\r\nhi");
}

// --- requests ---

TEST_F(ConnTest, HeadAndBodySplitAcrossReadsAreParsedOnce) {
    RawClient c(server->port);
    const std::string body = "0123456789";
    ASSERT_TRUE(c.send("POST /split HTTP/1.1\r\nHo"));
    EXPECT_TRUE(c.quietFor(0.05));
    ASSERT_TRUE(c.send("st: x\r\nContent-LENGTH: 10\r\nX-Dup: first\r\nx-dup:  last \t\r\n\r\n0123"));
    EXPECT_TRUE(c.quietFor(0.05));
    EXPECT_EQ(requestCount(), 0);
    ASSERT_TRUE(c.send("456789"));
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "/split");
    ASSERT_EQ(requestCount(), 1);
    const auto r = request(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.headers.at("content-length"), "10");
    EXPECT_EQ(r.headers.at("x-dup"), "last");
    EXPECT_EQ(r.headers.at("host"), "x");
}

TEST_F(ConnTest, BufferedBodyOf64KiBPassesOneByteMoreClosesWithoutReply) {
    {
        RawClient c(server->port);
        ASSERT_TRUE(c.send("POST /ok HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + std::string(65536, 'x')));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status(), 200);
        EXPECT_EQ(request(0).body.size(), 65536u);
    }
    RawClient c(server->port);
    ASSERT_TRUE(c.send("POST /big HTTP/1.1\r\nContent-Length: 65537\r\n\r\n"));
    EXPECT_TRUE(c.closedWithin());
    EXPECT_EQ(c.buffered(), "");
    EXPECT_EQ(requestCount(), 1);
}

TEST_F(ConnTest, ChunkedBodyOverTheLimitClosesToo) {
    RawClient c(server->port);
    std::string chunk(40000, 'y');
    char size[16];
    std::snprintf(size, sizeof size, "%zx", chunk.size());
    ASSERT_TRUE(c.send("POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) + "\r\n" + chunk +
                       "\r\n" + size + "\r\n" + chunk + "\r\n0\r\n\r\n"));
    EXPECT_TRUE(c.closedWithin());
    EXPECT_EQ(requestCount(), 0);
}

TEST_F(ConnTest, ConnectionIsKeptUnlessTheClientAsksToClose) {
    struct Case {
        std::string request;
        bool kept;
    };
    const Case cases[] = {
        {"GET /a HTTP/1.1\r\n\r\n", true},
        {"GET /a HTTP/1.1\r\nConnection: close\r\n\r\n", false},
        {"GET /a HTTP/1.0\r\n\r\n", false},
        {"GET /a HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true},
    };
    for (const auto& k : cases) {
        RawClient c(server->port);
        ASSERT_TRUE(c.send(k.request + get("/second")));
        auto reply = c.readReply();
        ASSERT_TRUE(reply) << k.request;
        EXPECT_EQ(reply->body, "/a");
        if (k.kept) {
            EXPECT_EQ(c.readReply()->body, "/second") << k.request;
        } else {
            EXPECT_TRUE(c.closedWithin()) << k.request;
            EXPECT_EQ(c.buffered(), "");
            EXPECT_FALSE(c.wasReset());
        }
    }
}

TEST_F(ConnTest, HeadOver32KiBClosesJustUnderIsServed) {
    {
        RawClient c(server->port);
        const std::string head = get("/small", "X-Pad: " + std::string(32 * 1024 - 100, 'p') + "\r\n");
        ASSERT_LT(head.size(), 32u * 1024);
        ASSERT_TRUE(c.send(head));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status(), 200);
    }
    RawClient c(server->port);
    c.send(get("/big", "X-Pad: " + std::string(33 * 1024, 'p') + "\r\n"));
    EXPECT_TRUE(c.closedWithin());
    EXPECT_EQ(c.buffered(), "");
    EXPECT_EQ(requestCount(), 1);
}

TEST_F(ConnTest, MalformedHeadsCloseWithoutReply) {
    for (const std::string& head : {std::string("GARBAGE\r\n\r\n"), std::string("GET /\xff\xfe HTTP/1.1\r\n\r\n"),
                                   get("/", "X-Bad: \xC3\x28\r\n")}) {
        RawClient c(server->port);
        c.send(head);
        EXPECT_TRUE(c.closedWithin());
        EXPECT_EQ(c.buffered(), "") << head;
    }
    EXPECT_EQ(requestCount(), 0);
}

TEST_F(ConnTest, RequestNotCompletedIn60SecondsIsClosed) {
    RawClient idle(server->port);
    RawClient partial(server->port);
    RawClient served(server->port);
    ASSERT_TRUE(served.send(get("/a")));
    ASSERT_TRUE(served.readReply());
    ASSERT_TRUE(partial.send("POST /slow HTTP/1.1\r\nContent-Length: 10\r\n\r\n01234"));
    ASSERT_TRUE(partial.quietFor(0.05));
    ASSERT_TRUE(armedTimers(3));  // every connection is reading its request
    timers.advance(59);
    EXPECT_TRUE(idle.quietFor(0.05));
    EXPECT_TRUE(partial.quietFor(0.05));
    timers.advance(2);
    EXPECT_TRUE(idle.closedWithin());
    EXPECT_TRUE(partial.closedWithin());
    EXPECT_TRUE(served.closedWithin());  // 60 s without a further request
    EXPECT_EQ(requestCount(), 1);
}

TEST_F(ConnTest, PipelinedRequestsAreAnsweredInOrderWhenTheFirstReplyComesLater) {
    std::shared_ptr<ClientConn> held;
    std::mutex heldMutex;
    server->onRoute = [&](const HTTPRequest& r, const std::shared_ptr<ClientConn>& conn) {
        if (r.path == "/slow") {
            std::lock_guard lock(heldMutex);
            held = conn;  // answered later, from another thread
            return;
        }
        conn->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", std::to_string(r.path.size())}}, r.path));
    };
    RawClient c(server->port);
    ASSERT_TRUE(c.send(get("/slow") + get("/fast") + get("/last")));
    ASSERT_TRUE(server->events.waitFor([&] { return !server->events.requests.empty(); }));
    EXPECT_TRUE(c.quietFor(0.1));
    std::thread([&] {
        std::lock_guard lock(heldMutex);
        held->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", "5"}}, "/slow"));
    }).join();
    for (const char* expected : {"/slow", "/fast", "/last"}) {
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->body, expected);
    }
}

TEST_F(ConnTest, RepliesMadeOnTheMainQueueKeepTheRequestOrder) {
    // The servers' pattern for work on the model: hop to the main queue holding the connection weakly,
    // reply from there; the reply goes back to the strand.
    ManualQueue main;
    server->onRoute = [&](const HTTPRequest& r, const std::shared_ptr<ClientConn>& conn) {
        std::weak_ptr<ClientConn> weak = conn;
        main.post([weak, path = r.path] {
            if (auto c = weak.lock())
                c->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", std::to_string(path.size())}}, path));
        });
    };
    RawClient c(server->port);
    ASSERT_TRUE(c.send(get("/one") + get("/two") + get("/three")));
    for (const char* expected : {"/one", "/two", "/three"}) {
        // Replies already read along with an earlier one wait in the client's buffer.
        ASSERT_TRUE(main.waitUntil([&] { return !c.buffered().empty() || !c.quietFor(0); })) << expected;
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->body, expected);
    }
}

TEST_F(ConnTest, HalfClosedClientStillReceivesPendingRepliesAndFileStreams) {
    const auto big = writeBytes("big.bin", 3 * 256 * 1024 + 17);
    server->onRoute = [&](const HTTPRequest& r, const std::shared_ptr<ClientConn>& conn) {
        if (r.path == "/file") return conn->serveFile(big.string(), std::nullopt, r.method);
        conn->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", "2"}}, "ok"));
    };
    RawClient c(server->port);
    ASSERT_TRUE(c.send(get("/file") + get("/other")));
    c.shutdownWrite();
    auto file = c.readReply();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->body.size(), 3u * 256 * 1024 + 17);
    EXPECT_EQ(file->body, pattern(0, 3 * 256 * 1024 + 16));
    auto other = c.readReply();
    ASSERT_TRUE(other);
    EXPECT_EQ(other->body, "ok");
    EXPECT_TRUE(c.closedWithin());
    EXPECT_FALSE(c.wasReset());
}

// --- files ---

class FileTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        server->onRoute = [this](const HTTPRequest& r, const std::shared_ptr<ClientConn>& conn) {
            const std::string* range = r.header("range");
            conn->serveFile(file.string(), range ? std::optional<std::string>(*range) : std::nullopt, r.method);
        };
    }
    std::filesystem::path file = writeBytes("thousand.mp4", 1000);
};

TEST_F(FileTest, RangeTableOnAThousandByteFile) {
    struct Case {
        const char* range;
        int status;
        std::int64_t first, last;
    };
    const Case cases[] = {
        {"bytes=0-", 206, 0, 999},    {"bytes=-100", 206, 900, 999},       {"bytes=-2000", 206, 0, 999},
        {"bytes=10-20000", 206, 10, 999}, {"bytes=500-400", 200, 0, 999}, {"bytes=1000-", 200, 0, 999},
        {"bytes=0-99,200-299", 206, 0, 999}, {nullptr, 200, 0, 999},
    };
    RawClient c(server->port);  // one kept-open connection for all of them
    for (const auto& k : cases) {
        ASSERT_TRUE(c.send(get("/f", k.range ? std::string("Range: ") + k.range + "\r\n" : "")));
        auto reply = c.readReply();
        ASSERT_TRUE(reply) << (k.range ? k.range : "none");
        EXPECT_EQ(reply->status(), k.status) << k.range;
        EXPECT_EQ(reply->header("content-length"), std::to_string(k.last - k.first + 1));
        EXPECT_EQ(reply->body, pattern(k.first, k.last));
        EXPECT_EQ(reply->header("content-type"), "video/mp4");
        EXPECT_EQ(reply->header("accept-ranges"), "bytes");
        EXPECT_EQ(reply->header("access-control-allow-origin"), "*");
        EXPECT_EQ(reply->header("cache-control"), "no-cache");
        if (k.status == 206)
            EXPECT_EQ(reply->header("content-range"),
                      "bytes " + std::to_string(k.first) + "-" + std::to_string(k.last) + "/1000");
        else
            EXPECT_EQ(reply->headers.count("content-range"), 0u);
    }
}

TEST_F(FileTest, HeadHasTheHeadOfGetAndNoBody) {
    RawClient c(server->port);
    ASSERT_TRUE(c.send("HEAD /f HTTP/1.1\r\nRange: bytes=-100\r\n\r\n" + get("/f")));
    auto head = c.readReply(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status(), 206);
    EXPECT_EQ(head->header("content-length"), "100");
    // The very next bytes are the second reply: the HEAD sent no body.
    auto second = c.readReply();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(second->body.size(), 1000u);
}

TEST_F(FileTest, EmptyFileIs200WithLengthZeroWithOrWithoutRange) {
    file = writeBytes("empty.png", 0);
    RawClient c(server->port);
    for (const char* extra : {"", "Range: bytes=0-\r\n", "Range: bytes=-5\r\n"}) {
        ASSERT_TRUE(c.send(get("/e", extra)));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status(), 200) << extra;
        EXPECT_EQ(reply->header("content-length"), "0");
        EXPECT_EQ(reply->header("content-type"), "image/png");
    }
    ASSERT_TRUE(c.send(get("/again")));
    EXPECT_EQ(c.readReply()->status(), 200);
}

TEST_F(FileTest, MissingFileOrFolderIs404AndTheConnectionStays) {
    RawClient c(server->port);
    for (const auto& path : {std::filesystem::path("/nonexistent/file"), file.parent_path()}) {
        file = path;
        ASSERT_TRUE(c.send(get("/x")));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 404 Not Found");
        EXPECT_EQ(reply->header("content-length"), "0");
        EXPECT_EQ(reply->header("access-control-allow-origin"), "*");
    }
}

// The largest send buffer the kernel grows a socket to (net.ipv4.tcp_wmem's last value).
std::size_t largestSendBuffer() {
    std::ifstream in("/proc/sys/net/ipv4/tcp_wmem");
    std::size_t least = 0, initial = 0, largest = 0;
    in >> least >> initial >> largest;
    return largest > 0 ? largest : 4u << 20;
}

TEST_F(FileTest, FileThatEndsEarlyWhileStreamingClosesTheConnection) {
    constexpr std::size_t piece = 256 * 1024, cut = piece + 10;
    // Larger than all the server can read ahead of a client that takes nothing: its send buffer at the
    // largest, the client's few kilobytes and a piece being read. So the cut below always comes while the
    // reply is still streaming, however the threads are scheduled.
    const std::size_t size = largestSendBuffer() + 4 * piece + (2u << 20);
    file = writeBytes("shrinking.mp4", size);
    RawClient c = RawClient::slowReader(server->port);
    ASSERT_TRUE(c.send(get("/f") + get("/next")));
    auto head = c.readReply(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->header("content-length"), std::to_string(size));
    std::filesystem::resize_file(file, cut);
    EXPECT_TRUE(c.closedWithin());
    // The file's bytes up to where the server found it ending (the cut, or further where a read overtook
    // it), and nothing after them, not even the next reply, which the client would take for the rest of
    // this one.
    const std::string& body = c.buffered();
    ASSERT_GE(body.size(), cut);
    ASSERT_LT(body.size(), size);
    EXPECT_TRUE(body == pattern(0, body.size() - 1)) << body.size();
    EXPECT_EQ(requestCount(), 1);
}

TEST_F(FileTest, FifoOrDeviceIs404AtOnceAndHoldsUpNoOtherRequest) {
    const auto fifo = test::tempDir("fifo") / "pipe.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should an open wait for a writer, this lets it go at the end (a FIFO opened for both ends never waits).
    struct Release {
        std::filesystem::path path;
        ~Release() {
            const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    } release{fifo};
    RawClient c(server->port);
    for (const auto& path : {fifo, std::filesystem::path("/dev/zero")}) {
        file = path;
        ASSERT_TRUE(c.send(get("/x")));
        auto reply = c.readReply(false, 5);
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 404 Not Found");
    }
    file = writeBytes("after.mp4", 10);
    RawClient other(server->port);
    ASSERT_TRUE(other.send(get("/y")));
    auto served = other.readReply(false, 5);
    ASSERT_TRUE(served);
    EXPECT_EQ(served->body, pattern(0, 9));
}

TEST_F(FileTest, LargeFileIsStreamedWholeAndInOrder) {
    file = writeBytes("large.webm", 5 * 1024 * 1024 + 3);
    RawClient c(server->port);
    ASSERT_TRUE(c.send(get("/f", "Range: bytes=1000-\r\n")));
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body.size(), 5u * 1024 * 1024 + 3 - 1000);
    EXPECT_EQ(reply->body, pattern(1000, 5 * 1024 * 1024 + 2));
}

// --- streamed bodies and refusals ---

struct TestSink final : HTTPBodySink {
    Events& events;
    std::string received;
    int pieces = 0;
    bool finished = false, cancelled = false;
    std::size_t failAfter = SIZE_MAX;
    explicit TestSink(Events& e) : events(e) {}
    void write(std::string_view chunk) override {
        events.update([&] {
            received.append(chunk);
            ++pieces;
        });
        if (received.size() > failAfter) throw std::runtime_error("disk full");
    }
    void finish() override { events.update([&] { finished = true; }); }
    void cancel() override { events.update([&] { cancelled = true; }); }
};

TEST_F(ConnTest, StreamedBodyReachesTheSinkInOrderAndItsOwnerReplies) {
    auto sink = std::make_shared<TestSink>(server->events);
    std::weak_ptr<ClientConn> uploader;
    server->onDisposition = [&](const HTTPRequest& r, std::int64_t length, const std::shared_ptr<ClientConn>& conn) {
        if (r.path != "/upload") return BodyDisposition::buffer();
        EXPECT_EQ(length, 1'000'003);
        uploader = conn;
        return BodyDisposition::stream(sink);
    };
    RawClient c(server->port);
    const std::string body = pattern(0, 1'000'002);
    ASSERT_TRUE(c.send("POST /upload HTTP/1.1\r\nContent-Length: 1000003\r\n\r\n" + body.substr(0, 300000)));
    ASSERT_TRUE(server->events.waitFor([&] { return sink->received.size() == 300000; }));
    timers.advance(45);  // slow but not idle for 60 s
    ASSERT_TRUE(c.send(body.substr(300000) + get("/after")));
    ASSERT_TRUE(server->events.waitFor([&] { return sink->finished; }));
    EXPECT_EQ(sink->received, body);
    EXPECT_FALSE(sink->cancelled);
    // The next request waits for the upload's reply.
    EXPECT_TRUE(c.quietFor(0.05));
    EXPECT_EQ(requestCount(), 0);
    uploader.lock()->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", "4"}}, "done"));
    EXPECT_EQ(c.readReply()->body, "done");
    EXPECT_EQ(c.readReply()->body, "/after");
}

TEST_F(ConnTest, ExpectContinueGetsLeaveToSendOrTheFinalRefusal) {
    auto sink = std::make_shared<TestSink>(server->events);
    server->onDisposition = [&](const HTTPRequest& r, std::int64_t, const std::shared_ptr<ClientConn>& conn) {
        if (r.path == "/upload") return BodyDisposition::stream(sink);
        if (r.path == "/refused") {
            conn->sendHTTPClosing("401 Unauthorized", {{"Content-Length", "0"}}, "");
            return BodyDisposition::handled();
        }
        return BodyDisposition::buffer();
    };
    const std::string cont = "HTTP/1.1 100 Continue\r\n\r\n";
    {
        // Buffered and streamed bodies: the interim answer first, and the body only after it.
        RawClient c(server->port);
        ASSERT_TRUE(c.send("POST /buffered HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 5\r\n\r\n"));
        ASSERT_TRUE(c.readAtLeast(cont.size()));
        EXPECT_EQ(c.take(cont.size()), cont);
        ASSERT_TRUE(c.send("hello"));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(request(0).body, "hello");
        ASSERT_TRUE(c.send("POST /upload HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\n"));
        ASSERT_TRUE(c.readAtLeast(cont.size()));
        EXPECT_EQ(c.take(cont.size()), cont);
        ASSERT_TRUE(c.send("abc"));
        ASSERT_TRUE(server->events.waitFor([&] { return sink->finished; }));
        EXPECT_EQ(sink->received, "abc");
    }
    {
        // Refused: the final status and nothing before it.
        RawClient c(server->port);
        ASSERT_TRUE(c.send("POST /refused HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n"));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 401 Unauthorized");
    }
    {
        // Without a body, and from an HTTP/1.0 client, there is nothing to wait for.
        RawClient c(server->port);
        ASSERT_TRUE(c.send("GET /plain HTTP/1.1\r\nExpect: 100-continue\r\n\r\n"
                           "POST /old HTTP/1.0\r\nConnection: keep-alive\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\nhi"));
        auto first = c.readReply();
        ASSERT_TRUE(first);
        EXPECT_EQ(first->statusLine, "HTTP/1.1 200 OK");
        auto second = c.readReply();
        ASSERT_TRUE(second);
        EXPECT_EQ(second->statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(second->body, "/old");
    }
}

TEST_F(ConnTest, LargeStreamedBodyIsReadManyKilobytesAtATime) {
    // After a small head the read buffer is small; reading 4 MiB through it took 8192 system calls.
    auto sink = std::make_shared<TestSink>(server->events);
    server->onDisposition = [&](const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>&) {
        return BodyDisposition::stream(sink);
    };
    RawClient c(server->port);
    const std::string body = pattern(0, 4 * 1024 * 1024 - 1);
    ASSERT_TRUE(c.send("POST /u HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
    ASSERT_TRUE(server->events.waitFor([&] { return sink->finished; }));
    std::lock_guard lock(server->events.mutex);
    EXPECT_EQ(sink->received, body);
    EXPECT_LT(sink->pieces, 512) << "pieces of " << body.size() / std::size_t(sink->pieces) << " bytes on average";
}

TEST_F(ConnTest, SinkThatThrowsOrStallsClosesAndIsCancelled) {
    std::vector<std::shared_ptr<TestSink>> sinks;
    server->onDisposition = [&](const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>&) {
        auto sink = std::make_shared<TestSink>(server->events);
        server->events.update([&] {
            if (sinks.empty()) sink->failAfter = 10;
            sinks.push_back(sink);
        });
        return BodyDisposition::stream(sink);
    };
    RawClient throwing(server->port);
    ASSERT_TRUE(throwing.send("POST /u HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'z')));
    EXPECT_TRUE(throwing.closedWithin());
    ASSERT_TRUE(server->events.waitFor([&] { return sinks[0]->cancelled; }));

    RawClient stalling(server->port);
    ASSERT_TRUE(stalling.send("POST /u HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + std::string(5, 'z')));
    ASSERT_TRUE(server->events.waitFor([&] { return sinks.size() == 2 && sinks[1]->received.size() == 5; }));
    timers.advance(60);
    EXPECT_TRUE(stalling.quietFor(0.05));
    timers.advance(15);
    EXPECT_TRUE(stalling.closedWithin());
    ASSERT_TRUE(server->events.waitFor([&] { return sinks[1]->cancelled; }));
    EXPECT_FALSE(sinks[1]->finished);
}

TEST_F(ConnTest, PeerLeavingMidBodyCancelsTheSink) {
    auto sink = std::make_shared<TestSink>(server->events);
    server->onDisposition = [&](const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>&) {
        return BodyDisposition::stream(sink);
    };
    {
        RawClient c(server->port);
        ASSERT_TRUE(c.send("POST /u HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + std::string(20, 'z')));
        ASSERT_TRUE(server->events.waitFor([&] { return sink->received.size() == 20; }));
    }
    ASSERT_TRUE(server->events.waitFor([&] { return sink->cancelled; }));
    EXPECT_FALSE(sink->finished);
}

// A sink whose writes wait for the test: each piece is stored (read from the connection's buffer) only when
// released, the way a slow disk answers late.
struct HeldSink final : HTTPBodySink {
    Events& events;
    std::deque<std::pair<std::string_view, std::function<void(bool)>>> held;
    std::size_t mostHeld = 0;
    std::string received;
    bool finished = false, cancelled = false;
    explicit HeldSink(Events& e) : events(e) {}
    void write(std::string_view) override { ADD_FAILURE() << "the connection writes through writeThen"; }
    void writeThen(std::string_view chunk, std::function<void(bool)> done) override {
        events.update([&] {
            held.emplace_back(chunk, std::move(done));
            mostHeld = std::max(mostHeld, held.size());
        });
    }
    // Stores (when ok) and answers the oldest held piece; false when none is held.
    bool release(bool ok = true) {
        std::function<void(bool)> done;
        {
            std::lock_guard lock(events.mutex);
            if (held.empty()) return false;
            if (ok) received.append(held.front().first);
            done = std::move(held.front().second);
            held.pop_front();
        }
        done(ok);
        return true;
    }
    void finish() override { events.update([&] { finished = true; }); }
    void cancel() override { events.update([&] { cancelled = true; }); }
};

TEST_F(ConnTest, PieceBeingWrittenHoldsItsUploadButNotTheNetworkThread) {
    auto sink = std::make_shared<HeldSink>(server->events);
    server->onDisposition = [&](const HTTPRequest& r, std::int64_t, const std::shared_ptr<ClientConn>&) {
        return r.path == "/u" ? BodyDisposition::stream(sink) : BodyDisposition::buffer();
    };
    RawClient up(server->port);
    const std::string body = pattern(0, 4 * 1024 * 1024 - 1);
    std::thread sender([&] {
        up.send("POST /u HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    EXPECT_TRUE(server->events.waitFor([&] { return sink->held.size() == 1; }));
    // The disk, not the sender, is slow: the idle watchdog leaves the upload alone.
    timers.advance(75);
    RawClient other(server->port);
    ASSERT_TRUE(other.send(get("/other")));
    auto reply = other.readReply();
    EXPECT_TRUE(reply && reply->body == "/other");
    // No second piece goes to the sink while this one is being written.
    EXPECT_FALSE(server->events.waitFor([&] { return sink->held.size() > 1; }, 0.05));
    while (server->events.waitFor([&] { return !sink->held.empty() || sink->finished; }) && sink->release()) {
    }
    sender.join();
    std::lock_guard lock(server->events.mutex);
    EXPECT_TRUE(sink->finished);
    EXPECT_FALSE(sink->cancelled);
    EXPECT_EQ(sink->mostHeld, 1u);
    EXPECT_TRUE(sink->received == body) << sink->received.size() << " of " << body.size() << " bytes";
    EXPECT_EQ(server->events.removed, 0);
}

TEST_F(ConnTest, PieceAnsweredAfterItsConnectionEndedIsStillWholeAndChangesNothing) {
    struct Case {
        const char* name;
        bool closeMidWrite;  // else the sink refuses the piece
    };
    for (const Case& k : {Case{"closed", true}, Case{"refused", false}}) {
        auto sink = std::make_shared<HeldSink>(server->events);
        std::weak_ptr<ClientConn> uploader;
        server->onDisposition = [&](const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>& conn) {
            uploader = conn;
            return BodyDisposition::stream(sink);
        };
        const int removedBefore = server->events.removed;
        RawClient c(server->port);
        ASSERT_TRUE(c.send("POST /u HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + std::string(20, 'z')));
        ASSERT_TRUE(server->events.waitFor([&] { return sink->held.size() == 1; })) << k.name;
        if (k.closeMidWrite) {
            uploader.lock()->close();
            // Cancelled at once: the sink orders its own cleanup after the write in flight.
            ASSERT_TRUE(server->events.waitFor([&] { return sink->cancelled; })) << k.name;
            ASSERT_TRUE(waitRemoved(removedBefore + 1)) << k.name;
            EXPECT_TRUE(c.closedWithin()) << k.name;
            // The piece's buffer outlives the connection until the sink is done with it.
            EXPECT_TRUE(sink->release());
        } else {
            EXPECT_TRUE(sink->release(false));
            EXPECT_TRUE(c.closedWithin()) << k.name;
            ASSERT_TRUE(server->events.waitFor([&] { return sink->cancelled; })) << k.name;
        }
        server->onStrand([] {});  // the answer has come back to the strand
        std::lock_guard lock(server->events.mutex);
        EXPECT_EQ(sink->received, k.closeMidWrite ? std::string(20, 'z') : std::string()) << k.name;
        EXPECT_TRUE(sink->held.empty()) << k.name;
        EXPECT_FALSE(sink->finished) << k.name;
    }
}

TEST_F(ConnTest, RefusalBeforeTheBodyIsReceivedByAClientStillSending) {
    const std::string refusal = R"({"ok":false,"error":"file exceeds 16 GB limit"})";
    server->onDisposition = [&](const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>& conn) {
        conn->sendHTTPClosing("413 Payload Too Large",
                              {{"Content-Type", "application/json; charset=utf-8"},
                               {"Content-Length", std::to_string(refusal.size())}},
                              refusal);
        return BodyDisposition::handled();
    };
    RawClient c(server->port);
    // Far more than the socket buffers hold: without draining, closing would reset the connection.
    std::thread sender([&] { c.send("POST /api/upload/file HTTP/1.1\r\nContent-Length: 8000000\r\n\r\n" +
                                    std::string(8000000, 'b')); });
    sender.join();
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 413);
    EXPECT_EQ(reply->body, refusal);
    // Sending is shut down at once; input is discarded for up to 2 s, then the connection closes.
    EXPECT_TRUE(c.closedWithin());
    EXPECT_FALSE(c.wasReset());
    ASSERT_TRUE(c.send(std::string(100000, 'b')));
    EXPECT_FALSE(server->events.waitFor([&] { return server->events.removed > 0; }, 0.05));
    timers.advance(2.1);
    EXPECT_TRUE(waitRemoved(1));
    EXPECT_EQ(requestCount(), 0);
}

TEST_F(ConnTest, RefusalEndsAtOnceWhenTheClientCloses) {
    server->onDisposition = [&](const HTTPRequest&, std::int64_t, const std::shared_ptr<ClientConn>& conn) {
        conn->sendHTTPClosing("401 Unauthorized", {{"Content-Length", "0"}}, "");
        return BodyDisposition::handled();
    };
    RawClient c(server->port);
    ASSERT_TRUE(c.send("POST /u HTTP/1.1\r\nContent-Length: 10\r\n\r\n"));
    ASSERT_TRUE(c.readReply());
    c.shutdownWrite();
    EXPECT_TRUE(c.closedWithin());
    EXPECT_TRUE(waitRemoved(1));
}

// --- WebSocket ---

TEST_F(ConnTest, HandshakeAnswersWithTheRfcAcceptKeyAndNothingElse) {
    const std::string upgrade = "GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                "Origin: http://example.com\r\nSec-WebSocket-Version: 13\r\n";
    // A client that also waits for leave to send gets the 101 alone: it has no body to send.
    for (const std::string extra : {"", "Expect: 100-continue\r\n"}) {
        RawClient c(server->port);
        ASSERT_TRUE(c.send(upgrade + extra + "\r\n"));
        ASSERT_TRUE(c.readUntil("\r\n\r\n")) << extra;
        EXPECT_EQ(c.take(c.buffered().find("\r\n\r\n") + 4),
                  "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n")
            << extra;
        // Frames go on after it.
        ASSERT_TRUE(c.sendFrame(9, "hb"));
        auto pong = c.readFrame();
        ASSERT_TRUE(pong);
        EXPECT_EQ(pong->opcode, 10);
        EXPECT_EQ(pong->payload, "hb");
    }
    EXPECT_EQ(requestCount(), 0);  // an upgrade is not routed
}

TEST_F(ConnTest, RefusedUpgradeGets401TextAndCloses) {
    RawClient c(server->port);
    ASSERT_TRUE(c.send("GET /refused HTTP/1.1\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
    EXPECT_TRUE(c.closedWithin());
    EXPECT_EQ(c.buffered(),
              "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 26\r\n\r\n"
              "control password required\n");
}

TEST_F(ConnTest, RfcExampleFramesMaskedFragmentedAndPing) {
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    // A single-frame masked text message (RFC 6455 section 5.7).
    ASSERT_TRUE(c.send(std::string("\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58", 11)));
    ASSERT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 1; }));
    EXPECT_EQ(server->events.messages[0], "Hello");
    // A fragmented message with a ping between its frames; the ping is answered with its payload.
    ASSERT_TRUE(c.send(maskedFrame(1, "Hel", false) + maskedFrame(9, "Hello") + maskedFrame(0, "lo", true)));
    auto pong = c.readFrame();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->opcode, 10);
    EXPECT_EQ(pong->payload, "Hello");
    ASSERT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 2; }));
    EXPECT_EQ(server->events.messages[1], "Hello");
}

TEST_F(ConnTest, ServerFramesAreSingleUnmaskedTextFramesWithTheShortestLength) {
    std::shared_ptr<ClientConn> conn;
    server->onFrame = [&](const std::string&, const std::shared_ptr<ClientConn>& c) { conn = c; };
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    ASSERT_TRUE(c.sendFrame(1, "hi"));
    ASSERT_TRUE(server->events.waitFor([&] { return !server->events.messages.empty(); }));
    server->onStrand([&] {
        conn->sendText("Hello");
        conn->sendText(std::string(125, 'a'));
        conn->sendText(std::string(256, 'b'));
        conn->sendText(std::string(65536, 'c'));
    });
    ASSERT_TRUE(c.readAtLeast(7 + 127 + 260 + 65546));
    EXPECT_EQ(c.take(7), std::string("\x81\x05Hello", 7));
    EXPECT_EQ(c.take(2), std::string("\x81\x7d", 2));
    c.take(125);
    EXPECT_EQ(c.take(4), std::string("\x81\x7e\x01\x00", 4));
    c.take(256);
    EXPECT_EQ(c.take(10), std::string("\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10));
}

TEST_F(ConnTest, UnmaskedClientFrameClosesTheConnection) {
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    ASSERT_TRUE(c.send(std::string("\x81\x05Hello", 7)));
    EXPECT_TRUE(c.closedWithin());
    EXPECT_TRUE(server->events.messages.empty());
}

TEST_F(ConnTest, CloseFrameIsAnsweredThenTheConnectionEnds) {
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    ASSERT_TRUE(c.sendFrame(8, std::string("\x03\xe8", 2)));
    auto close = c.readFrame();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, 8);
    c.shutdownWrite();
    EXPECT_TRUE(c.closedWithin());
    EXPECT_TRUE(waitRemoved(1));
}

TEST_F(ConnTest, MessageOverOneMiBClosesExactlyOneMiBPasses) {
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    ASSERT_TRUE(c.sendFrame(2, std::string(1024 * 1024, 'm')));
    ASSERT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 1; }));
    EXPECT_EQ(server->events.messages[0].size(), 1024u * 1024);
    // Over the limit across fragments as well.
    ASSERT_TRUE(c.sendFrame(2, std::string(1024 * 1024, 'm'), false));
    ASSERT_TRUE(c.sendFrame(0, "!", true));
    auto close = c.readFrame();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, 8);
    EXPECT_EQ(close->payload.substr(0, 2), std::string("\x03\xf1", 2));  // 1009: message too big
    EXPECT_TRUE(c.closedWithin());
    EXPECT_EQ(server->events.messages.size(), 1u);
}

TEST_F(ConnTest, HeartbeatPingsAndClosesAConnectionThatDidNotAnswer) {
    std::shared_ptr<ClientConn> conn;
    server->onFrame = [&](const std::string&, const std::shared_ptr<ClientConn>& c) { conn = c; };
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    ASSERT_TRUE(c.sendFrame(1, "hello"));
    ASSERT_TRUE(server->events.waitFor([&] { return !server->events.messages.empty(); }));
    bool kept = false;
    server->onStrand([&] { kept = conn->heartbeat(); });
    EXPECT_TRUE(kept);
    auto ping = c.readFrame();
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->opcode, 9);
    ASSERT_TRUE(c.sendFrame(10, ""));  // pong
    ASSERT_TRUE(c.sendFrame(1, "after pong"));
    ASSERT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 2; }));
    server->onStrand([&] { kept = conn->heartbeat(); });
    EXPECT_TRUE(kept);
    ASSERT_EQ(c.readFrame()->opcode, 9);
    server->onStrand([&] { kept = conn->heartbeat(); });  // no pong since
    EXPECT_FALSE(kept);
    EXPECT_TRUE(c.closedWithin());
}

// --- what a connection may hold for a client that does not read ---

// Upgraded clients in the order their first message came, each kept by the server's strand.
struct Upgraded {
    std::mutex mutex;
    std::vector<std::shared_ptr<ClientConn>> conns;
    void add(const std::shared_ptr<ClientConn>& c) {
        std::lock_guard lock(mutex);
        if (std::find(conns.begin(), conns.end(), c) == conns.end()) conns.push_back(c);
    }
    std::shared_ptr<ClientConn> at(std::size_t i) {
        std::lock_guard lock(mutex);
        return conns.at(i);
    }
};

TEST_F(ConnTest, ClientThatDoesNotReadIsClosedWhenItsQueueIsFullOthersGetEveryMessage) {
    Upgraded up;
    server->onFrame = [&](const std::string&, const std::shared_ptr<ClientConn>& c) { up.add(c); };
    RawClient reader(server->port);
    ASSERT_TRUE(reader.upgrade());
    ASSERT_TRUE(reader.sendFrame(1, "first"));
    ASSERT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 1; }));
    RawClient slow = RawClient::slowReader(server->port);
    ASSERT_TRUE(slow.upgrade());
    ASSERT_TRUE(slow.sendFrame(1, "second"));
    ASSERT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 2; }));
    auto readerConn = up.at(0), slowConn = up.at(1);

    // Pushes come in bursts, as a show changes; the reader takes each burst before the next.
    const auto payload = std::make_shared<const std::string>(16 * 1024, 'p');
    std::size_t mostQueued = 0;
    bool slowOpen = true;
    for (int burst = 0; burst < 20; ++burst) {
        server->onStrand([&] {
            for (int i = 0; i < 50; ++i) {
                readerConn->sendText(payload);
                slowConn->sendText(payload);
            }
            mostQueued = std::max(mostQueued, slowConn->queuedBytes());
        });
        for (int i = 0; i < 50; ++i) {
            auto text = reader.readText();
            ASSERT_TRUE(text) << "burst " << burst;
            ASSERT_EQ(text->size(), payload->size());
        }
        server->onStrand([&] { slowOpen = server->events.removed == 0; });
    }
    EXPECT_FALSE(slowOpen);
    EXPECT_LE(mostQueued, ConnLimits{}.maxQueuedBytes);
    EXPECT_LE(mostQueued, ConnLimits{}.maxQueuedMessages * payload->size());
    EXPECT_TRUE(slow.closedWithin());
    EXPECT_EQ(server->events.removed, 1);
    reader.sendFrame(1, "still here");
    EXPECT_TRUE(server->events.waitFor([&] { return server->events.messages.size() == 3; }));
}

TEST_F(ConnTest, NewestStateTakesThePlaceOfAWaitingOneOtherKindsStay) {
    Upgraded up;
    server->onFrame = [&](const std::string&, const std::shared_ptr<ClientConn>& c) { up.add(c); };
    RawClient c(server->port);
    ASSERT_TRUE(c.upgrade());
    ASSERT_TRUE(c.sendFrame(1, "hello"));
    ASSERT_TRUE(server->events.waitFor([&] { return !server->events.messages.empty(); }));
    auto conn = up.at(0);
    std::size_t waiting = 0;
    // All sent in one turn of the strand: the first is being written, the rest wait behind it.
    server->onStrand([&] {
        for (int i = 0; i < 5000; ++i) {
            conn->sendText("state " + std::to_string(i), MessageKind::state);
            conn->sendText("transport " + std::to_string(i), MessageKind::transport);
        }
        conn->sendText("event a");
        conn->sendText("state last", MessageKind::state);
        conn->sendText("event b");
        waiting = conn->queuedMessages();
    });
    EXPECT_EQ(waiting, 5u);
    const std::vector<std::string> expected{"state 0", "transport 4999", "event a", "state last", "event b"};
    for (const auto& text : expected) {
        auto got = c.readText();
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, text);
    }
    EXPECT_TRUE(c.quietFor(0.05));
}

TEST_F(ConnTest, WriteTheClientDoesNotTakeWithinAMinuteClosesTheConnection) {
    Upgraded up;
    server->onFrame = [&](const std::string&, const std::shared_ptr<ClientConn>& c) { up.add(c); };
    RawClient slow = RawClient::slowReader(server->port);
    ASSERT_TRUE(slow.upgrade());
    ASSERT_TRUE(slow.sendFrame(1, "hello"));
    ASSERT_TRUE(server->events.waitFor([&] { return !server->events.messages.empty(); }));
    auto conn = up.at(0);
    // More than the socket buffers of both ends hold; one message alone is never refused.
    server->onStrand([&] { conn->sendText(std::string(16 * 1024 * 1024, 's')); });
    timers.advance(59);
    int removed = -1;
    server->onStrand([&] { removed = server->events.removed; });
    EXPECT_EQ(removed, 0);
    timers.advance(2);
    EXPECT_TRUE(waitRemoved(1));
    EXPECT_TRUE(slow.closedWithin());
}

TEST_F(ConnTest, TextBeforeTheUpgradeSendsNothing) {
    std::shared_ptr<ClientConn> conn;
    server->onRoute = [&](const HTTPRequest&, const std::shared_ptr<ClientConn>& c) {
        conn = c;
        c->sendText("early");
        c->reply(ClientConn::httpResponse("200 OK", {{"Content-Length", "0"}}, ""));
    };
    RawClient c(server->port);
    ASSERT_TRUE(c.send(get("/")));
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(c.quietFor(0.05));
    EXPECT_EQ(c.buffered(), "");
}

}  // namespace
}  // namespace ombry
