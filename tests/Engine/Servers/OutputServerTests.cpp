// The output server over loopback sockets: its routes, page roles and counts, state and transport pushes,
// the heartbeat on virtual time, the port search and the connection limit.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>

#include "Engine/Servers/OutputServer.hpp"
#include "NetTestSupport.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

using test::RawClient;

std::string get(const std::string& path, const std::string& method = "GET", const std::string& extra = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n";
}

std::int64_t revOf(const std::string& text) {
    const Json j = Json::parse(text);
    return j.at("state").at("rev").get<std::int64_t>();
}

OutputServer::StartResult startAndWait(OutputServer& server, std::uint16_t port) {
    std::promise<OutputServer::StartResult> started;
    server.start(port, [&](OutputServer::StartResult r) { started.set_value(std::move(r)); });
    return started.get_future().get();
}

class OutputServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test::tempDir("out");
        bundle = root / "bundle";
        test::writeFile(bundle / "index.html", "<!doctype html><title>out</title>");
        test::writeFile(bundle / "app.js", "console.log(1)");
        test::writeFile(bundle / "sub" / "style.css", "body{}");
        test::writeFile(root / "secret.txt", "secret");
        test::writeFile(root / "bundle-evil" / "secret.txt", "sibling");
        test::writeFile(root / "clip.mov", std::string(1000, 'v'));
        test::writeFile(root / "thumb.jpg", "jpegbytes");

        server = makeServer();
        server->onConnections = [this](int n) {
            {
                std::lock_guard lock(mutex);
                counts.push_back(n);
            }
            changed.notify_all();
        };
        auto result = startAndWait(*server, 0);
        ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
        info = std::get<ServerInfo>(result);
        port = static_cast<std::uint16_t>(info.port);
    }
    void TearDown() override {
        if (server) server->stop();
    }

    std::shared_ptr<OutputServer> makeServer() {
        OutputServer::Options options;
        options.bindAddress = "127.0.0.1";
        options.loop = &loop;
        options.timers = &timers;
        return OutputServer::create(bundle, options);
    }

    // Waits until the last reported count is n (and at least `reports` reports came).
    bool countIs(int n, std::size_t reports = 1) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(test::netWait),
                                [&] { return counts.size() >= reports && counts.back() == n; });
    }
    std::size_t reports() {
        std::lock_guard lock(mutex);
        return counts.size();
    }

    // An upgraded page that said hello with `role` and received its first state.
    RawClient page(const std::string& role, std::int64_t* firstRev = nullptr) {
        RawClient c(port);
        EXPECT_TRUE(c.upgrade());
        EXPECT_TRUE(c.sendFrame(1, R"({"type":"hello","role":")" + role + R"("})"));
        auto state = c.readText();
        EXPECT_TRUE(state);
        if (state && firstRev) *firstRev = revOf(*state);
        return c;
    }

    // The timers outlive the loop, which may still hold connections when the fixture ends.
    net::ManualNetTimers timers;
    net::NetLoop loop;
    std::filesystem::path root, bundle;
    std::shared_ptr<OutputServer> server;
    ServerInfo info;
    std::uint16_t port = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> counts;
};

TEST_F(OutputServerTest, ServerInfoNamesLocalhostFirstThenTheLanAddresses) {
    const std::string local = "http://localhost:" + std::to_string(port) + "/";
    EXPECT_EQ(info.outputUrl, local);
    ASSERT_FALSE(info.urls.empty());
    EXPECT_EQ(info.urls[0], local);
    const auto lan = OutputServer::lanAddresses();
    ASSERT_EQ(info.urls.size(), 1 + lan.size());
    for (std::size_t i = 0; i < lan.size(); ++i) {
        EXPECT_EQ(info.urls[i + 1], "http://" + lan[i] + ":" + std::to_string(port) + "/");
        in_addr addr{};
        EXPECT_EQ(inet_pton(AF_INET, lan[i].c_str(), &addr), 1) << lan[i];
        EXPECT_NE(lan[i], "127.0.0.1");
    }
}

TEST_F(OutputServerTest, BundleFilesAreServedAndConfinedToTheFolder) {
    struct Case {
        std::string path;
        int status;
        std::string body, type;
    };
    const Case cases[] = {
        {"/", 200, "<!doctype html><title>out</title>", "text/html; charset=utf-8"},
        {"/app.js?v=3", 200, "console.log(1)", "text/javascript; charset=utf-8"},
        {"//sub/style.css", 200, "body{}", "text/css; charset=utf-8"},
        {"/sub/../app.js", 200, "console.log(1)", "text/javascript; charset=utf-8"},
        {"/../secret.txt", 404, "", ""},
        {"/sub/../../secret.txt", 404, "", ""},
        {"/../bundle-evil/secret.txt", 404, "", ""},
        {"/%2e%2e/secret.txt", 404, "", ""},
        {"/missing.html", 404, "", ""},
        {"/sub", 404, "", ""},
    };
    RawClient c(port);
    for (const auto& k : cases) {
        ASSERT_TRUE(c.send(get(k.path)));
        auto reply = c.readReply();
        ASSERT_TRUE(reply) << k.path;
        EXPECT_EQ(reply->status(), k.status) << k.path;
        EXPECT_EQ(reply->body, k.body) << k.path;
        if (k.status == 200) {
            EXPECT_EQ(reply->header("content-type"), k.type);
            EXPECT_EQ(reply->header("cache-control"), "no-cache");
            EXPECT_EQ(reply->header("accept-ranges"), "bytes");
        } else {
            EXPECT_EQ(reply->header("content-length"), "0");
        }
        EXPECT_EQ(reply->header("access-control-allow-origin"), "*");
    }
}

TEST_F(OutputServerTest, MediaAndThumbnailsByIdWithRangesAndAnyMethod) {
    server->updateMediaIndex({{"clip 1", (root / "clip.mov").string()}, {"gone", (root / "nothing.mp4").string()}});
    server->updateThumbIndex({{"clip 1", (root / "thumb.jpg").string()}, {"gone", (root / "nothing.jpg").string()}});
    RawClient c(port);
    ASSERT_TRUE(c.send(get("/media/clip%201", "GET", "Range: bytes=-100\r\n")));
    auto ranged = c.readReply();
    ASSERT_TRUE(ranged);
    EXPECT_EQ(ranged->status(), 206);
    EXPECT_EQ(ranged->header("content-range"), "bytes 900-999/1000");
    EXPECT_EQ(ranged->header("content-type"), "video/mp4");
    EXPECT_EQ(ranged->body, std::string(100, 'v'));

    ASSERT_TRUE(c.send(get("/media/clip%201", "POST")));
    EXPECT_EQ(c.readReply()->body.size(), 1000u);
    ASSERT_TRUE(c.send(get("/thumb/clip%201?size=2")));
    auto thumb = c.readReply();
    EXPECT_EQ(thumb->body, "jpegbytes");
    EXPECT_EQ(thumb->header("content-type"), "image/jpeg");
    ASSERT_TRUE(c.send(get("/media/clip%201", "HEAD")));
    auto head = c.readReply(true);
    EXPECT_EQ(head->header("content-length"), "1000");

    for (const char* missing : {"/media/clip%202", "/media/gone", "/thumb/gone", "/thumb/missing", "/media"}) {
        ASSERT_TRUE(c.send(get(missing)));
        auto reply = c.readReply();
        ASSERT_TRUE(reply) << missing;
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 404 Not Found") << missing;
        EXPECT_EQ(reply->body, "");
    }
    // A new index replaces the whole old one.
    server->updateMediaIndex({{"other", (root / "clip.mov").string()}});
    ASSERT_TRUE(c.send(get("/media/clip%201")));
    EXPECT_EQ(c.readReply()->status(), 404);
}

TEST_F(OutputServerTest, OptionsAnswersThePreflightWithoutABody) {
    RawClient c(port);
    ASSERT_TRUE(c.send(get("/media/x", "OPTIONS") + get("/app.js")));
    auto reply = c.readReply(true);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->statusLine, "HTTP/1.1 204 No Content");
    EXPECT_EQ(reply->header("access-control-allow-origin"), "*");
    EXPECT_EQ(reply->header("access-control-allow-methods"), "GET, OPTIONS");
    EXPECT_EQ(reply->header("content-length"), "0");
    EXPECT_EQ(reply->headers.size(), 3u);
    EXPECT_EQ(c.readReply()->body, "console.log(1)");  // the next bytes are the next reply
}

TEST_F(OutputServerTest, OnlyOutputPagesAreCounted) {
    RawClient preview = page("preview");
    ASSERT_TRUE(countIs(0, 1));
    RawClient output = page("output");
    ASSERT_TRUE(countIs(1, 2));
    RawClient other = page("x");
    ASSERT_TRUE(countIs(2, 3));
    RawClient empty = page("");
    ASSERT_TRUE(countIs(3, 4));
    RawClient silent(port);  // upgraded, never says hello
    ASSERT_TRUE(silent.upgrade());
    output.close();
    ASSERT_TRUE(countIs(2, 5));
    preview.close();
    ASSERT_TRUE(countIs(2, 6));
}

TEST_F(OutputServerTest, PageGetsTheLatestStateRightAfterItsHelloNotBefore) {
    ProgramState s;
    s.rev = 3;
    server->broadcastState(s);
    s.rev = 7;
    s.black = true;
    server->broadcastState(s);
    RawClient c(port);
    ASSERT_TRUE(c.upgrade());
    EXPECT_TRUE(c.quietFor(0.05));
    ASSERT_TRUE(c.sendFrame(1, R"({"type":"hello","role":"output"})"));
    auto first = c.readText();
    ASSERT_TRUE(first);
    EXPECT_EQ(revOf(*first), 7);
    EXPECT_EQ(Json::parse(*first).at("type"), "state");
    EXPECT_EQ(Json::parse(*first).at("state").at("black"), true);
}

TEST_F(OutputServerTest, LowerRevisionIsDroppedEqualOneIsSentAgain) {
    std::int64_t first = -1;
    RawClient output = page("output", &first);
    EXPECT_EQ(first, 0);
    RawClient silent(port);  // pages without a hello get the pushes too
    ASSERT_TRUE(silent.upgrade());
    // Its ping's answer says the server's side of the handshake is done: a push waiting behind the 101
    // would be replaced by the next state.
    ASSERT_TRUE(silent.sendFrame(9, "sync"));
    ASSERT_EQ(silent.readFrame()->opcode, 10);
    for (std::int64_t rev : {5, 4, 5}) {
        ProgramState s;
        s.rev = rev;
        server->broadcastState(s);
    }
    server->sendTransport({LayerId::overlay, "seek", 3.5});  // marks the end
    for (RawClient* c : {&output, &silent}) {
        std::vector<std::string> texts;
        for (int i = 0; i < 3; ++i) {
            auto t = c->readText();
            ASSERT_TRUE(t);
            texts.push_back(*t);
        }
        EXPECT_EQ(revOf(texts[0]), 5);
        EXPECT_EQ(revOf(texts[1]), 5);
        EXPECT_EQ(Json::parse(texts[2]), Json::parse(R"({"type":"transport","layer":"overlay","action":"seek","time":3.5})"));
    }
}

TEST_F(OutputServerTest, PushRightAfterTheHandshakeReachesTheNewPage) {
    // The 101 reaches the client before the server has finished its side of the handshake: a push made in
    // between must still arrive. Many rounds, since the gap is short.
    for (std::int64_t rev = 1; rev <= 40; ++rev) {
        RawClient c(port);
        ASSERT_TRUE(c.upgrade());
        ProgramState s;
        s.rev = rev;
        server->broadcastState(s);
        auto text = c.readText();
        ASSERT_TRUE(text) << rev;
        EXPECT_EQ(revOf(*text), rev);
    }
}

TEST_F(OutputServerTest, StateThatCannotBeWrittenIsDroppedButStillCountsAsTheLatest) {
    RawClient output = page("output");
    ProgramState bad;
    bad.rev = 9;
    bad.masterVolume = std::nan("");
    server->broadcastState(bad);
    ProgramState older;
    older.rev = 8;
    server->broadcastState(older);
    ProgramState good;
    good.rev = 9;
    server->broadcastState(good);
    auto text = output.readText();
    ASSERT_TRUE(text);
    EXPECT_EQ(revOf(*text), 9);
    EXPECT_EQ(Json::parse(*text).at("state").at("masterVolume"), 1.0);
}

TEST_F(OutputServerTest, HeartbeatDropsAPageThatStopsAnswering) {
    RawClient answering = page("output");
    RawClient byMessage = page("output");
    RawClient silent = page("output");
    ASSERT_TRUE(countIs(3, 3));
    // Pongs are synchronised by a hello behind them: its state reply means the pong was read.
    auto answer = [](RawClient& c, bool frame) {
        auto ping = c.readFrame();
        ASSERT_TRUE(ping);
        ASSERT_EQ(ping->opcode, 9);
        ASSERT_TRUE(frame ? c.sendFrame(10, ping->payload) : c.sendFrame(1, R"({"type":"pong","t":1})"));
        ASSERT_TRUE(c.sendFrame(1, R"({"type":"hello","role":"output"})"));
        ASSERT_TRUE(c.readText());
    };
    for (int tick = 0; tick < 3; ++tick) {
        timers.advance(15);
        answer(answering, true);
        answer(byMessage, false);
        if (tick == 0) {
            auto ping = silent.readFrame();
            ASSERT_TRUE(ping);
            EXPECT_EQ(ping->opcode, 9);
        }
        if (tick == 1) {
            EXPECT_TRUE(silent.closedWithin());
            EXPECT_TRUE(countIs(2));
        }
    }
}

TEST_F(OutputServerTest, PageThatNeverReadsIsClosedWhileTheOthersKeepTheirPushes) {
    ProgramState big;
    big.stage.background = std::string(2048, 'b');
    server->broadcastState(big);
    RawClient reader = page("output");
    ASSERT_TRUE(countIs(1, 1));
    RawClient slow = RawClient::slowReader(port);
    ASSERT_TRUE(slow.upgrade());
    // Hellos without end, never reading: each asks for the whole state again. A preview hello last, whose
    // count report says the flood has been read.
    std::string flood;
    for (int i = 0; i < 5000; ++i) flood += test::maskedFrame(1, R"({"type":"hello","role":"output"})");
    flood += test::maskedFrame(1, R"({"type":"hello","role":"preview"})");
    ASSERT_TRUE(slow.send(flood));
    ASSERT_TRUE(countIs(1, 3));
    ProgramState s;
    s.rev = 1;
    server->broadcastState(s);
    auto pushed = reader.readText();
    ASSERT_TRUE(pushed);
    EXPECT_EQ(revOf(*pushed), 1);
    // Pong messages keep answering the heartbeat, but what the slow page is sent is not taken. Each hello
    // behind a pong changes the page's role, and the count that follows says the pong was read.
    std::size_t expectedReports = 3;
    for (int tick = 0; tick < 3; ++tick) {
        timers.advance(15);
        auto ping = reader.readFrame();
        ASSERT_TRUE(ping);
        ASSERT_EQ(ping->opcode, 9);
        ASSERT_TRUE(reader.sendFrame(10, ping->payload));
        ASSERT_TRUE(reader.sendFrame(1, R"({"type":"hello","role":"output"})"));
        ASSERT_TRUE(reader.readText());  // the answer to the hello: the pong before it was read
        const bool output = tick % 2 == 0;
        ASSERT_TRUE(slow.send(test::maskedFrame(1, R"({"type":"pong"})") +
                              test::maskedFrame(1, output ? R"({"type":"hello","role":"output"})"
                                                          : R"({"type":"hello","role":"preview"})")));
        ASSERT_TRUE(countIs(output ? 2 : 1, ++expectedReports)) << tick;
    }
    // A minute after its write began.
    timers.advance(15);
    EXPECT_TRUE(slow.closedWithin(5));
    s.rev = 2;
    server->broadcastState(s);
    pushed = reader.readText();
    ASSERT_TRUE(pushed);
    EXPECT_EQ(revOf(*pushed), 2);
}

TEST_F(OutputServerTest, PageThatFallsBehindOnTransportsIsClosedTheOthersGetThemAll) {
    RawClient reader = page("output");
    RawClient slow = RawClient::slowReader(port);
    ASSERT_TRUE(slow.upgrade());
    ASSERT_TRUE(slow.sendFrame(1, R"({"type":"hello","role":"output"})"));
    ASSERT_TRUE(countIs(2, 2));
    // A state larger than the socket buffers of both ends holds the slow page's first write.
    ProgramState big;
    big.rev = 1;
    big.stage.background = std::string(4 << 20, 'b');
    server->broadcastState(big);
    auto state = reader.readText();
    ASSERT_TRUE(state);
    EXPECT_EQ(revOf(*state), 1);
    // Transport commands all count; bursts of them as a show runs, each taken by the reader before the next.
    for (int burst = 0; burst < 6; ++burst) {
        for (int i = 0; i < 50; ++i) server->sendTransport({LayerId::media, "seek", double(burst * 50 + i)});
        for (int i = 0; i < 50; ++i) {
            auto text = reader.readText();
            ASSERT_TRUE(text) << burst;
            EXPECT_EQ(Json::parse(*text).at("time"), double(burst * 50 + i));
        }
    }
    EXPECT_TRUE(slow.closedWithin(5));
    EXPECT_TRUE(countIs(1));
}

TEST_F(OutputServerTest, PortTakenMovesToTheNextOne) {
    const std::uint16_t taken = test::freePortPair();
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(taken);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    auto second = makeServer();
    auto result = startAndWait(*second, taken);
    ::close(holder);
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
    const auto& moved = std::get<ServerInfo>(result);
    EXPECT_EQ(moved.port, taken + 1);
    for (const auto& url : moved.urls) EXPECT_TRUE(url.ends_with(":" + std::to_string(taken + 1) + "/")) << url;
    RawClient c(static_cast<std::uint16_t>(taken + 1));
    ASSERT_TRUE(c.send(get("/app.js")));
    EXPECT_EQ(c.readReply()->body, "console.log(1)");
    second->stop();
}

TEST_F(OutputServerTest, TwentyOnePortsTakenIsNoPort) {
    std::vector<int> holders;
    std::uint16_t base = 0;
    for (int attempt = 0; attempt < 50 && !base; ++attempt) {
        for (int fd : holders) ::close(fd);
        holders.clear();
        const auto start = static_cast<std::uint16_t>(20000 + (test::freePort() % 10000));
        bool ok = true;
        for (int i = 0; i < 21 && ok; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<std::uint16_t>(start + i));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 1) == 0;
            holders.push_back(fd);
        }
        if (ok) base = start;
    }
    ASSERT_NE(base, 0);
    auto second = makeServer();
    auto result = startAndWait(*second, base);
    for (int fd : holders) ::close(fd);
    ASSERT_TRUE(std::holds_alternative<OutputServer::ServerError>(result));
    EXPECT_EQ(std::get<OutputServer::ServerError>(result), OutputServer::ServerError::noPort);
}

TEST_F(OutputServerTest, At256ConnectionsTheNextIsClosedAtOnce) {
    std::vector<RawClient> clients;
    clients.reserve(maxConnectionsPerServer);
    for (std::size_t i = 0; i < maxConnectionsPerServer; ++i) {
        clients.emplace_back(port);
        ASSERT_TRUE(clients.back().send(get("/app.js")));
        ASSERT_TRUE(clients.back().readReply()) << i;  // accepted and served
    }
    RawClient over(port);
    EXPECT_TRUE(over.closedWithin());
    EXPECT_EQ(over.buffered(), "");
    // Once one has gone, a new connection is served again.
    const auto before = reports();
    clients.pop_back();
    ASSERT_TRUE(countIs(0, before + 1));
    RawClient next(port);
    ASSERT_TRUE(next.send(get("/app.js")));
    EXPECT_TRUE(next.readReply());
}

// The owner may go away once stop() has returned: a page still closing reports to it no more.
TEST_F(OutputServerTest, StopReportsNoPagesAndNothingAfterIt) {
    RawClient output = page("output");
    ASSERT_TRUE(countIs(1));
    server->stop();
    std::size_t atStop = 0;
    {
        std::lock_guard lock(mutex);
        ASSERT_FALSE(counts.empty());
        EXPECT_EQ(counts.back(), 0);
        atStop = counts.size();
    }
    // The page answers the close frame, and the server closes the connection after that handshake.
    std::optional<RawClient::Frame> frame;
    do frame = output.readFrame();
    while (frame && frame->opcode != 8);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(output.sendFrame(8, std::string("\x03\xE9", 2)));
    ASSERT_TRUE(output.closedWithin());
    output.close();  // the server's side closes once the client's has
    // A report would follow at once.
    std::unique_lock lock(mutex);
    EXPECT_FALSE(changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return counts.size() > atStop; }));
}

TEST_F(OutputServerTest, StopClosesEveryConnectionAndTheListener) {
    RawClient output = page("output");
    RawClient http(port);
    server->stop();
    EXPECT_TRUE(output.closedWithin());
    EXPECT_TRUE(http.closedWithin());
    RawClient late(port);
    EXPECT_FALSE(late.connected());
}

}  // namespace
}  // namespace ombry
