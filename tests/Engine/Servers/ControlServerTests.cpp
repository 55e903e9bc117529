// The remote-control server over loopback sockets: the port search and stop on virtual time, clients and
// their roles, the pushes and the transport throttle, routes and the password, uploads, and advertising
// through a fake DNS-SD advertiser.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <deque>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "Engine/Servers/ControlServer.hpp"
#include "Engine/Model/JsonCoding.hpp"
#include "NetTestSupport.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Log.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;
using test::RawClient;
using Status = ControlServer::AdvertiseStatus;

std::string request(const std::string& path, const std::string& method = "GET", const std::string& extra = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n";
}

// Waits for `done` under the lock, bounded by the failure guard.
template <class Pred>
bool waitFor(std::mutex& mutex, std::condition_variable& cv, Pred done) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::duration<double>(test::netWait), done);
}

// Holds a loopback port so that nothing else can bind it.
struct PortHolder {
    int fd = -1;
    explicit PortHolder(std::uint16_t port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) release();
    }
    ~PortHolder() { release(); }
    void release() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// Records registrations; replies are given by the test.
class FakeAdvertiser final : public dnssd::Advertiser {
public:
    struct Call {
        dnssd::ServiceSpec service;
        Reply reply;
    };
    Result registerService(const dnssd::ServiceSpec& service, Reply reply) override {
        std::lock_guard lock(mutex);
        calls.push_back({service, std::move(reply)});
        changed.notify_all();
        if (syncError) return {nullptr, syncError};
        return {std::make_unique<dnssd::Registration>(), 0};
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
    bool countIs(std::size_t n) { return waitFor(mutex, changed, [&] { return calls.size() == n; }); }
    Call last() {
        std::lock_guard lock(mutex);
        return calls.back();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Call> calls;
    int syncError = 0;  // set before a registration to fail it at once
};

class ControlServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test::tempDir("ctl");
        incoming = root / "incoming";
        test::writeFile(root / "upload.html", "<!doctype html><title>upload</title>");
        uploadPageFile = root / "upload.html";
        test::writeFile(root / "thumbs" / "a b.jpg", "0123456789");
    }
    void TearDown() override {
        if (server) server->stop();
    }

    std::shared_ptr<ControlServer> make(bool withHooks = true) {
        ControlServer::Options options;
        options.bindAddress = "127.0.0.1";
        options.loop = &loop;
        options.timers = &timers;
        options.advertiser = advertiser;
        options.serviceName = "Stage";
        options.uploadPage = uploadPageFile;
        options.incomingDir = incoming;
        options.fileWork = fileWork;
        options.fileOps = fileOps;
        options.stateHopSeconds = stateHopSeconds;
        auto s = ControlServer::create(options);
        s->onClientsChanged = [this](int remotes, int companions) {
            std::lock_guard lock(mutex);
            counts.emplace_back(remotes, companions);
            changed.notify_all();
        };
        s->onAdvertiseStatus = [this](Status status) {
            std::lock_guard lock(mutex);
            statuses.push_back(status);
            changed.notify_all();
        };
        if (!withHooks) return s;
        s->perform = [this](ControlCommand command, std::function<void(ControlResult)> reply) {
            std::lock_guard lock(mutex);
            commands.push_back(command);
            changed.notify_all();
            if (deferReplies)
                deferred.push_back(std::move(reply));
            else
                reply(nextResult);
        };
        s->snapshot = [this](std::function<void(std::optional<ControlSnapshot>)> reply) {
            std::unique_lock lock(mutex);
            ++stateAsks;
            changed.notify_all();
            if (deferState) return stateReplies.push_back(std::move(reply));
            const auto answer = fresh;
            lock.unlock();
            reply(answer);
        };
        s->uploadPlaylists = [](std::function<void(std::vector<UploadPlaylistInfo>)> reply) {
            reply({{"p1", "Walk-in"}, {"p2", "Show"}});
        };
        s->ingestUpload = [this](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
            std::lock_guard lock(mutex);
            ingests.push_back(request);
            changed.notify_all();
            reply(ingestResult);
        };
        return s;
    }

    ControlServer::StartResult startOn(std::uint16_t preferred) {
        std::promise<ControlServer::StartResult> started;
        server->start(preferred, [&](ControlServer::StartResult r) { started.set_value(std::move(r)); });
        return started.get_future().get();
    }
    void startServer(bool withHooks = true) {
        server = make(withHooks);
        auto result = startOn(0);
        ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
        port = static_cast<std::uint16_t>(std::get<ServerInfo>(result).port);
    }
    // Runs after everything queued on the server's strand so far (configuration, pushes).
    void sync() {
        RawClient c(port);
        ASSERT_TRUE(c.send(request("/")));
        ASSERT_TRUE(c.readReply());
    }

    std::optional<test::HttpReply> get(const std::string& path, const std::string& method = "GET",
                                       const std::string& extra = "") {
        RawClient c(port);
        if (!c.send(request(path, method, extra))) return std::nullopt;
        return c.readReply(method == "HEAD");
    }

    bool countsAre(int remotes, int companions) {
        return waitFor(mutex, changed, [&] {
            return !counts.empty() && counts.back() == std::pair{remotes, companions};
        });
    }
    std::size_t commandCount() {
        std::lock_guard lock(mutex);
        return commands.size();
    }
    bool timerArmed(std::size_t n) {
        for (int i = 0; i < 2000 && timers.armed() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return timers.armed() >= n;
    }

    // A WebSocket client that upgraded (with `query`) and said hello as `role`.
    RawClient client(const std::string& role, const std::string& query = "") {
        RawClient c(port);
        EXPECT_TRUE(c.upgrade("/" + query));
        EXPECT_TRUE(c.sendFrame(1, R"({"type":"hello","role":")" + role + R"("})"));
        return c;
    }

    net::ManualNetTimers timers;
    net::NetLoop loop;
    std::shared_ptr<FakeAdvertiser> advertiser = std::make_shared<FakeAdvertiser>();
    fs::path root, incoming;
    std::shared_ptr<ControlServer> server;
    std::uint16_t port = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, int>> counts;
    std::vector<Status> statuses;
    std::vector<ControlCommand> commands;
    std::vector<std::function<void(ControlResult)>> deferred;
    std::vector<UploadIngestRequest> ingests;
    bool deferReplies = false;
    ControlResult nextResult = ControlResult::ok();
    std::optional<ControlSnapshot> fresh;
    double stateHopSeconds = 0;  // the virtual clock stands still: no spacing unless a test asks
    int stateAsks = 0;
    bool deferState = false;
    std::vector<std::function<void(std::optional<ControlSnapshot>)>> stateReplies;
    std::function<void(std::function<void()>)> fileWork;  // null: the server's own thread
    std::function<void(std::function<void()>)> fileOps;   // null: the file threads
    fs::path uploadPageFile;
    UploadIngestResult ingestResult = UploadIngestResult{true, "clip-1", "Clip", {}};
};

ControlSnapshot snapshotRev(std::int64_t rev) {
    ControlSnapshot s;
    s.rev = rev;
    return s;
}

// MARK: port search and stop

TEST_F(ControlServerTest, TakenPortMovesToTheNextAfterFourTriesAboutHalfASecondApart) {
    const std::uint16_t taken = test::freePortPair();
    PortHolder holder(taken);
    ASSERT_GE(holder.fd, 0);
    server = make();
    std::promise<ControlServer::StartResult> started;
    auto result = started.get_future();
    server->start(taken, [&](ControlServer::StartResult r) { started.set_value(std::move(r)); });
    // Three retries 0.15 s apart on the taken port, then the next one at once.
    for (int retry = 0; retry < 3; ++retry) {
        ASSERT_TRUE(timerArmed(1)) << retry;
        EXPECT_EQ(result.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout) << retry;
        timers.advance(0.15);
    }
    ASSERT_EQ(result.wait_for(std::chrono::duration<double>(test::netWait)), std::future_status::ready);
    auto r = result.get();
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(r));
    const auto& info = std::get<ServerInfo>(r);
    EXPECT_EQ(info.port, taken + 1);
    for (const auto& url : info.urls) EXPECT_TRUE(url.ends_with(":" + std::to_string(taken + 1) + "/")) << url;
    port = static_cast<std::uint16_t>(taken + 1);
    EXPECT_EQ(get("/")->status(), 200);
}

TEST_F(ControlServerTest, StopWhileRetryingCancelsTheStartAndBindsNothingLater) {
    const std::uint16_t taken = test::freePortPair();
    PortHolder holder(taken);
    ASSERT_GE(holder.fd, 0);
    server = make();
    std::promise<ControlServer::StartResult> started;
    auto result = started.get_future();
    server->start(taken, [&](ControlServer::StartResult r) { started.set_value(std::move(r)); });
    ASSERT_TRUE(timerArmed(1));
    server->stop();
    ASSERT_EQ(result.wait_for(std::chrono::duration<double>(test::netWait)), std::future_status::ready);
    auto r = result.get();
    ASSERT_TRUE(std::holds_alternative<ControlServer::StartError>(r));
    EXPECT_EQ(std::get<ControlServer::StartError>(r), ControlServer::StartError::cancelled);
    // The port is free now: a retry that still ran would bind it.
    holder.release();
    timers.advance(1.0);
    RawClient probe;
    for (std::uint16_t p : {taken, static_cast<std::uint16_t>(taken + 1)}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(p);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << p;
        ::close(fd);
    }
}

// MARK: clients, pushes and the heartbeat

TEST_F(ControlServerTest, ClientsGetTheLastSnapshotAndCountOnceTheySayHello) {
    startServer();
    server->push(snapshotRev(7));
    sync();
    RawClient c(port);
    ASSERT_TRUE(c.upgrade());
    auto first = c.readText();
    ASSERT_TRUE(first);
    EXPECT_EQ(Json::parse(*first).at("rev"), 7);
    ASSERT_TRUE(countsAre(0, 0));  // upgraded, not counted before its hello
    ASSERT_TRUE(c.sendFrame(1, R"({"type":"hello","role":"controller"})"));
    auto again = c.readText();  // the state once more after the hello
    ASSERT_TRUE(again);
    EXPECT_EQ(Json::parse(*again).at("rev"), 7);
    EXPECT_TRUE(countsAre(1, 0));
    RawClient companion = client("companion");
    EXPECT_TRUE(countsAre(1, 1));
    RawClient odd = client("x");
    ASSERT_TRUE(odd.sendFrame(1, R"({"type":"hello","role":7})"));  // a role that is not text: a remote
    EXPECT_TRUE(countsAre(2, 1));
    ASSERT_TRUE(odd.sendFrame(1, "not json"));
    ASSERT_TRUE(odd.sendFrame(1, R"({"type":"play"})"));
    EXPECT_TRUE(odd.readText());  // ignored ones send nothing; the next hello still answers
    companion.close();
    EXPECT_TRUE(countsAre(2, 0));
    server->stop();
    EXPECT_TRUE(countsAre(0, 0));
    EXPECT_TRUE(c.closedWithin());
}

// A browser told nothing sees 1006 (abnormal closure): a server that stops says it is going away.
TEST_F(ControlServerTest, StopSendsEachWebSocketACloseFrameGoingAwayAndClosesPlainConnections) {
    startServer();
    server->push(snapshotRev(3));
    sync();
    RawClient answering = client("remote"), silent = client("companion");
    ASSERT_TRUE(answering.readText());
    ASSERT_TRUE(silent.readText());
    RawClient plain(port);
    ASSERT_TRUE(plain.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(plain.readReply());
    server->stop();
    for (RawClient* c : {&answering, &silent}) {
        std::optional<RawClient::Frame> frame;
        do frame = c->readFrame();
        while (frame && frame->opcode == 1);  // a push already on its way
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->opcode, 8);
        ASSERT_GE(frame->payload.size(), 2u);
        EXPECT_EQ((std::uint8_t(frame->payload[0]) << 8) | std::uint8_t(frame->payload[1]), 1001);
    }
    ASSERT_TRUE(answering.sendFrame(8, std::string("\x03\xE9", 2)));
    EXPECT_TRUE(answering.closedWithin());
    EXPECT_TRUE(plain.closedWithin());
    EXPECT_TRUE(plain.buffered().empty());
    // The one that never answers is closed when the closing handshake times out.
    EXPECT_TRUE(silent.closedWithin(10));
}

// The owner may go away once stop() has returned: a remote still closing reports to it no more.
TEST_F(ControlServerTest, StopIsTheLastReport) {
    startServer();
    RawClient remote = client("remote");
    ASSERT_TRUE(countsAre(1, 0));
    server->stop();
    std::size_t atStop = 0;
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(counts.back(), (std::pair{0, 0}));
        atStop = counts.size();
    }
    // The remote answers the close frame, and the server closes the connection after that handshake.
    std::optional<RawClient::Frame> frame;
    do frame = remote.readFrame();
    while (frame && frame->opcode != 8);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(remote.sendFrame(8, std::string("\x03\xE9", 2)));
    ASSERT_TRUE(remote.closedWithin());
    remote.close();  // the server's side closes once the client's has
    // A report would follow at once.
    std::unique_lock lock(mutex);
    EXPECT_FALSE(changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return counts.size() > atStop; }));
}

TEST_F(ControlServerTest, PushSendsEverySnapshotToEveryUpgradedClient) {
    startServer();
    RawClient a = client("remote"), b = client("companion");
    ASSERT_TRUE(countsAre(1, 1));
    server->push(snapshotRev(1));
    server->push(snapshotRev(2));
    for (RawClient* c : {&a, &b}) {
        for (int rev : {1, 2}) {
            auto text = c->readText();
            ASSERT_TRUE(text);
            EXPECT_EQ(Json::parse(*text).at("rev"), rev);
        }
    }
    // A snapshot that cannot be written is dropped; the last good one still serves /api/state.
    ControlSnapshot bad = snapshotRev(3);
    bad.masterVolumeDB = std::nan("");
    server->push(bad);
    server->push(snapshotRev(4));
    auto next = a.readText();
    ASSERT_TRUE(next);
    EXPECT_EQ(Json::parse(*next).at("rev"), 4);
}

TEST_F(ControlServerTest, TransportTicksAreThrottledToOneASecondButChangesGoAtOnce) {
    startServer();
    RawClient c = client("remote");
    ASSERT_TRUE(countsAre(1, 0));
    struct Tick {
        double currentTime;
        bool playing;
    };
    // 0.25 s apart: advancing play, then a 2 s seek, then a pause.
    const std::vector<Tick> ticks{{0, true},    {0.25, true}, {0.5, true},  {0.75, true},
                                  {1.0, true},  {1.25, true}, {3.5, true},  {3.75, false},
                                  {3.75, false}, {3.75, false}};
    std::vector<std::pair<double, bool>> sent;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        ControlTransportMessage m;
        m.currentTime = ticks[i].currentTime;
        m.duration = 10;
        m.playing = ticks[i].playing;
        server->pushTransport(m);
        server->push(snapshotRev(std::int64_t(i)));  // a marker behind the tick
        for (;;) {
            auto text = c.readText();
            ASSERT_TRUE(text);
            const Json j = Json::parse(*text);
            if (j.at("type") == "state") {
                ASSERT_EQ(j.at("rev"), std::int64_t(i));
                break;
            }
            sent.emplace_back(j.at("currentTime").get<double>(), j.at("playing").get<bool>());
        }
        timers.advance(0.25);
    }
    const std::vector<std::pair<double, bool>> expected{{0, true}, {1.0, true}, {3.5, true}, {3.75, false}};
    EXPECT_EQ(sent, expected);
}

TEST_F(ControlServerTest, HeartbeatDropsAClientThatStopsAnsweringPings) {
    startServer();
    RawClient answering = client("remote");
    RawClient silent = client("remote");
    ASSERT_TRUE(countsAre(2, 0));
    server->push(snapshotRev(1));
    ASSERT_TRUE(answering.readText());
    ASSERT_TRUE(silent.readFrame());
    for (int tick = 0; tick < 2; ++tick) {
        timers.advance(15);
        auto ping = answering.readFrame();
        ASSERT_TRUE(ping);
        ASSERT_EQ(ping->opcode, 9);
        ASSERT_TRUE(answering.sendFrame(10, ping->payload));
        ASSERT_TRUE(answering.sendFrame(1, R"({"type":"hello"})"));
        ASSERT_TRUE(answering.readText());  // the reply to the hello: the pong before it was read
        if (tick == 0) {
            auto silentPing = silent.readFrame();
            ASSERT_TRUE(silentPing);
            EXPECT_EQ(silentPing->opcode, 9);
        }
    }
    EXPECT_TRUE(silent.closedWithin());
    EXPECT_TRUE(countsAre(1, 0));
    EXPECT_TRUE(answering.connected());
}

TEST_F(ControlServerTest, RemoteThatNeverReadsIsClosedWhileTheOthersKeepTheirPushes) {
    startServer();
    ControlSnapshot big = snapshotRev(1);
    big.host = std::string(4096, 'h');
    server->push(big);
    RawClient reader = client("remote");
    ASSERT_TRUE(countsAre(1, 0));
    ASSERT_TRUE(reader.readText());
    RawClient slow = RawClient::slowReader(port);
    ASSERT_TRUE(slow.upgrade());
    // Hellos without end, never reading; the companion hello last says, by its count, they were read.
    std::string flood;
    for (int i = 0; i < 5000; ++i) flood += test::maskedFrame(1, R"({"type":"hello","role":"remote"})");
    flood += test::maskedFrame(1, R"({"type":"hello","role":"companion"})");
    ASSERT_TRUE(slow.send(flood));
    ASSERT_TRUE(countsAre(1, 1));
    for (std::int64_t rev = 2; rev <= 4; ++rev) {
        big.rev = rev;
        server->push(big);
        // Its hello and its upgrade may both have been answered with the first.
        std::int64_t got = 0;
        while (got < rev) {
            auto text = reader.readText();
            ASSERT_TRUE(text) << rev;
            got = Json::parse(*text).at("rev").get<std::int64_t>();
        }
        EXPECT_EQ(got, rev);
    }
    // Pong frames sent unasked keep the slow remote alive for the heartbeat; not taking its pushes does not.
    // Each hello behind a pong changes its role, and the count that follows says the pong was read.
    for (int tick = 0; tick < 3; ++tick) {
        timers.advance(15);
        auto ping = reader.readFrame();
        ASSERT_TRUE(ping);
        ASSERT_EQ(ping->opcode, 9);
        ASSERT_TRUE(reader.sendFrame(10, ping->payload));
        const bool remote = tick % 2 == 0;
        ASSERT_TRUE(slow.send(test::maskedFrame(10, "") +
                              test::maskedFrame(1, remote ? R"({"type":"hello","role":"remote"})"
                                                          : R"({"type":"hello","role":"companion"})")));
        ASSERT_TRUE(remote ? countsAre(2, 0) : countsAre(1, 1)) << tick;
        ASSERT_TRUE(reader.sendFrame(1, R"({"type":"hello"})"));
        ASSERT_TRUE(reader.readText());  // the answer to the hello: the pong before it was read
    }
    // A minute after its write began.
    timers.advance(15);
    EXPECT_TRUE(slow.closedWithin(5));
    EXPECT_TRUE(countsAre(1, 0));
    big.rev = 5;
    server->push(big);
    auto text = reader.readText();
    ASSERT_TRUE(text);
    EXPECT_EQ(Json::parse(*text).at("rev"), 5);
}

// MARK: routes and the password

TEST_F(ControlServerTest, PasswordGateTakesTheLastKOrTheHeaderAfterNormalisation) {
    startServer();
    // Trimmed of Unicode white space (a no-break space, a line separator as pasted); é precomposed.
    server->configureControl("\xC2\xA0 s\xC3\xA9same \n\xE2\x80\xA8");
    sync();
    struct Case {
        std::string target, extra;
        int status;
    };
    const std::vector<Case> cases{
        {"/api/state", "", 401},
        {"/api/state?k=s%C3%A9same", "", 200},
        {"/api/state?k=se%CC%81same", "", 200},  // e + combining acute: the same text after NFC
        {"/api/state", "X-Control-Password: s\xC3\xA9same\r\n", 200},
        {"/api/state?k=wrong&k=s%C3%A9same", "", 200},
        {"/api/state?k=s%C3%A9same&k", "", 401},
        {"/api/state?k=s%C3%A9sam", "", 401},
        {"/api/state?k=s%C3%A9same", "X-Control-Password: wrong\r\n", 200},
        {"/api/state?k=wrong", "X-Control-Password: s\xC3\xA9same\r\n", 200},  // the header after the query
        {"/api/clips", "X-Control-Password: wrong\r\n", 401},
        {"/nothing", "", 401},
        {"/", "", 200},
    };
    for (const auto& c : cases) {
        auto reply = get(c.target, "GET", c.extra);
        ASSERT_TRUE(reply) << c.target;
        EXPECT_EQ(reply->status(), c.status) << c.target << " " << c.extra;
        if (c.status == 401) {
            EXPECT_EQ(reply->body, R"({"ok":false,"error":"control password required"})");
            EXPECT_EQ(reply->body.size(), 48u);
            EXPECT_EQ(reply->header("access-control-allow-origin"), "*");
            EXPECT_EQ(reply->header("cache-control"), "no-cache");
        }
    }
    auto unknown = get("/nothing?k=s%C3%A9same");
    EXPECT_EQ(unknown->status(), 404);
    EXPECT_EQ(Json::parse(unknown->body), Json::parse(R"({"ok":false,"error":"unknown route /nothing"})"));
    // The upload routes ask for the upload token, never the password.
    EXPECT_EQ(get("/upload")->body, "Upload link invalid, or uploads are disabled in Ombry's settings.\n");
    EXPECT_EQ(Json::parse(get("/api/upload/meta")->body).at("error"), "bad or missing token");
    // Only blanks: no password at all.
    server->configureControl(" \t ");
    sync();
    EXPECT_EQ(get("/api/state")->status(), 200);
}

TEST_F(ControlServerTest, FixedTextsAreExactBytes) {
    startServer();
    auto root = get("/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->body, "Ombry control API \xE2\x80\x94 see /api/state\n");
    EXPECT_EQ(root->body.size(), 37u);
    EXPECT_EQ(root->header("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(root->header("access-control-allow-origin"), "*");
    EXPECT_EQ(root->header("cache-control"), "");
    auto page = get("/upload");
    EXPECT_EQ(page->status(), 401);
    EXPECT_EQ(page->body.size(), 66u);
    EXPECT_EQ(page->header("access-control-allow-origin"), "");

    server->configureControl("pw");
    sync();
    RawClient ws(port);
    ASSERT_TRUE(ws.send("GET /?k=no HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
    auto refused = ws.readReply();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status(), 401);
    EXPECT_EQ(refused->body, "control password required\n");
    EXPECT_EQ(refused->body.size(), 26u);
    RawClient admitted(port);
    EXPECT_TRUE(admitted.upgrade("/?k=pw"));
}

TEST_F(ControlServerTest, OptionsAnswersWithoutRunningTheCommand) {
    startServer();
    server->configureControl("pw");
    sync();
    auto pre = get("/api/transport/play", "OPTIONS");
    ASSERT_TRUE(pre);
    EXPECT_EQ(pre->status(), 204);
    EXPECT_EQ(pre->header("access-control-allow-methods"), "GET, POST, OPTIONS");
    EXPECT_EQ(pre->header("access-control-allow-origin"), "*");
    EXPECT_EQ(pre->header("content-length"), "0");
    EXPECT_EQ(pre->header("access-control-allow-headers"), "");
    EXPECT_EQ(commandCount(), 0u);
    // The same path as a POST runs (so the count above would have seen a run).
    EXPECT_EQ(get("/api/transport/play?k=pw", "POST", "Content-Length: 0\r\n")->status(), 200);
    EXPECT_EQ(commandCount(), 1u);
}

TEST_F(ControlServerTest, CommandResultsBecomeStatusesAndBodies) {
    startServer();
    struct Case {
        ControlResult result;
        int status;
        std::string body;
    };
    const std::vector<Case> cases{
        {ControlResult::ok(), 200, R"({"ok":true})"},
        {ControlResult::notFound("no clip x"), 404, R"({"ok":false,"error":"no clip x"})"},
        {ControlResult::badRequest("bad"), 400, R"({"ok":false,"error":"bad"})"},
        {ControlResult::refused("That clip is offline."), 409, R"({"ok":false,"error":"That clip is offline."})"},
    };
    for (const auto& c : cases) {
        nextResult = c.result;
        auto reply = get("/api/transport/pause");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status(), c.status) << c.body;
        EXPECT_EQ(Json::parse(reply->body), Json::parse(c.body));
        EXPECT_EQ(reply->header("content-type"), "application/json; charset=utf-8");
    }
    std::lock_guard lock(mutex);
    ASSERT_EQ(commands.size(), cases.size());
    EXPECT_EQ(commands[0], ControlCommand(control::Pause{}));
}

TEST_F(ControlServerTest, WithoutHooksCommandsAreNotWiredAndStateIsTheLastPush) {
    startServer(false);
    auto command = get("/api/transport/play");
    EXPECT_EQ(command->status(), 400);
    EXPECT_EQ(Json::parse(command->body).at("error"), "control not wired");
    EXPECT_EQ(get("/api/state")->body, "{}");
    EXPECT_EQ(get("/api/clips")->body, R"({"clips":[]})");
    ControlSnapshot s = snapshotRev(5);
    s.clips.push_back({});
    s.clips.back().id = "c1";
    server->push(s);
    sync();
    EXPECT_EQ(Json::parse(get("/api/state")->body).at("rev"), 5);
    EXPECT_EQ(Json::parse(get("/api/clips")->body).at("clips").at(0).at("id"), "c1");
}

TEST_F(ControlServerTest, StateAsksTheApplicationFirst) {
    startServer();
    server->push(snapshotRev(5));
    sync();
    EXPECT_EQ(Json::parse(get("/api/state")->body).at("rev"), 5);  // the hook had nothing
    fresh = snapshotRev(9);
    EXPECT_EQ(Json::parse(get("/api/state")->body).at("rev"), 9);
}

TEST_F(ControlServerTest, RequestsWhileTheHookIsAskedShareItsAnswerAndItIsAskedOncePerFrame) {
    stateHopSeconds = 1.0 / 60;
    startServer();
    deferState = true;
    std::vector<RawClient> waiting;
    for (int i = 0; i < 8; ++i) {
        waiting.emplace_back(port);
        ASSERT_TRUE(waiting.back().send(request("/api/state")));
    }
    sync();  // accepted after the eight, so read after their requests
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(stateAsks, 1);
        ASSERT_EQ(stateReplies.size(), 1u);
    }
    stateReplies.front()(snapshotRev(9));
    for (auto& c : waiting) {
        const auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(Json::parse(reply->body).at("rev"), 9);
    }

    // The next request within the same frame waits for the frame to pass before the hook is asked again.
    RawClient late(port);
    ASSERT_TRUE(late.send(request("/api/state")));
    ASSERT_TRUE(timerArmed(2));  // the heartbeat and the hop
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(stateAsks, 1);
    }
    timers.advance(1.0 / 60);
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return stateAsks == 2; }));
    stateReplies.back()(std::nullopt);  // nothing: the last push, here none
    const auto reply = late.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "{}");
}

TEST_F(ControlServerTest, ALiveSnapshotAnswersTheStateWithoutTheHookItsTimesMovingOn) {
    ManualClock clock(100);
    setAppClock(&clock);
    struct Restore {
        ~Restore() { setAppClock(nullptr); }
    } restore;
    startServer();
    ControlSnapshot built = snapshotRev(3);
    built.layers.media = ControlLayer{"m1", "Intro", MediaKind::video, true, 1, 1.7e12, 0, 12.5};
    built.transport = ControlTransport{LayerId::media, 0, 12.5, true};
    const auto live = LiveSnapshot::make(built, {{LayerId::media, TransportAnchor{2, 100, true, 12.5}}});
    server->push(live);
    RawClient remote = client("remote");
    for (int greeting = 0; greeting < 2; ++greeting) {  // on its upgrade, and after its hello
        const auto text = remote.readText();
        ASSERT_TRUE(text);
        EXPECT_EQ(Json::parse(*text).at("transport").at("currentTime"), 2);
    }
    sync();

    EXPECT_EQ(get("/api/state")->body, live->text(100));
    clock.advance(1.5);
    const Json later = Json::parse(get("/api/state")->body);
    EXPECT_EQ(later.at("transport").at("currentTime"), 3.5);
    EXPECT_EQ(later.at("layers").at("media").at("currentTime"), 3.5);
    EXPECT_EQ(later.at("rev"), 3);

    // Re-anchored (paused at 9 s): served from then on, and not sent to the remotes.
    server->updatePlayheads(live->withAnchors({{LayerId::media, TransportAnchor{9, 101.5, false, 12.5}}}));
    sync();
    clock.advance(3);
    EXPECT_EQ(Json::parse(get("/api/state")->body).at("transport"),
              Json::parse(R"({"layer":"media","currentTime":9,"duration":12.5,"playing":false})"));
    EXPECT_EQ(Json::parse(get("/api/clips")->body), Json::parse(R"({"clips":[]})"));
    server->push(snapshotRev(4));
    const auto next = remote.readText();
    ASSERT_TRUE(next);
    EXPECT_EQ(Json::parse(*next).at("rev"), 4) << "the new anchors went to the remote";
    std::lock_guard lock(mutex);
    EXPECT_EQ(stateAsks, 0);
}

TEST_F(ControlServerTest, ACommandStillRunsAfterItsConnectionClosed) {
    startServer();
    deferReplies = true;
    {
        RawClient c(port);
        ASSERT_TRUE(c.send(request("/api/transport/play")));
    }  // closed at once
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return commands.size() == 1; }));
    std::function<void(ControlResult)> reply;
    {
        std::lock_guard lock(mutex);
        reply = deferred.front();
    }
    reply(ControlResult::ok());  // to a connection that has gone: dropped
    deferReplies = false;
    EXPECT_EQ(get("/api/transport/play")->status(), 200);
}

TEST_F(ControlServerTest, ThumbnailsByDecodedIdWithRanges) {
    startServer();
    server->updateThumbIndex({{"a b", (root / "thumbs" / "a b.jpg").string()}, {"gone", (root / "nope.jpg").string()}});
    sync();
    auto whole = get("/api/thumb/a%20b");
    EXPECT_EQ(whole->status(), 200);
    EXPECT_EQ(whole->body, "0123456789");
    auto part = get("/api/thumb/a%2520b", "GET", "Range: bytes=2-4\r\n");  // decoded once more
    EXPECT_EQ(part->status(), 206);
    EXPECT_EQ(part->body, "234");
    auto gone = get("/api/thumb/gone");
    EXPECT_EQ(gone->status(), 404);
    EXPECT_EQ(Json::parse(gone->body).at("error"), "no thumbnail for gone");
}

TEST_F(ControlServerTest, PasswordChangeDropsAdmittedClients) {
    startServer();
    server->configureControl("old");
    sync();
    RawClient admitted = client("remote", "?k=old");
    ASSERT_TRUE(countsAre(1, 0));
    server->configureControl("old");  // the same password: nothing happens
    sync();
    EXPECT_TRUE(admitted.sendFrame(1, R"({"type":"hello"})"));
    EXPECT_TRUE(countsAre(1, 0));
    server->configureControl("new");
    EXPECT_TRUE(admitted.closedWithin());
    EXPECT_TRUE(countsAre(0, 0));
    RawClient again = client("remote", "?k=new");
    EXPECT_TRUE(countsAre(1, 0));
}

// MARK: uploads

class ControlUploadTest : public ControlServerTest {
protected:
    void SetUp() override {
        ControlServerTest::SetUp();
        startServer();
        server->configureUpload(true, "tok");
        sync();
    }
    std::string upload(const std::string& query, std::int64_t length, const std::string& extra = "") {
        return "POST /api/upload/file?" + query + " HTTP/1.1\r\nHost: x\r\n" +
               (length >= 0 ? "Content-Length: " + std::to_string(length) + "\r\n" : std::string()) + extra + "\r\n";
    }
    std::vector<fs::path> incomingFiles() {
        std::vector<fs::path> files;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(incoming, ec)) files.push_back(e.path());
        return files;
    }
    // Waits for the incoming folder to be emptied (the file is deleted on another thread).
    bool incomingEmptied() {
        for (int i = 0; i < 2000; ++i) {
            if (incomingFiles().empty()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Restarts the server with its file work held until the test runs it (a slow disk).
    void holdFileWork() {
        fileWork = [this](std::function<void()> job) {
            std::lock_guard lock(mutex);
            held.push_back(std::move(job));
            changed.notify_all();
        };
        server->stop();
        startServer();
        server->configureUpload(true, "tok");
        sync();
    }
    // Runs the oldest held job once there is one.
    bool runHeld() {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex);
            if (!changed.wait_for(lock, std::chrono::duration<double>(test::netWait), [&] { return !held.empty(); }))
                return false;
            job = std::move(held.front());
            held.pop_front();
        }
        job();
        return true;
    }
    std::size_t heldCount() {
        std::lock_guard lock(mutex);
        return held.size();
    }
    // Restarts the server with the file work that requests wait for held until the test runs it.
    void holdFileOps() {
        fileOps = [this](std::function<void()> job) {
            std::lock_guard lock(mutex);
            heldOps.push_back(std::move(job));
            changed.notify_all();
        };
        server->stop();
        startServer();
        server->configureUpload(true, "tok");
        sync();
    }
    std::deque<std::function<void()>> held, heldOps;
};

TEST_F(ControlUploadTest, AnUploadLandsInTheIncomingFolderAndIsHandedOver) {
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=clip.MP4&title=%20%20&playlist=%20p1%20&newPlaylist=New", 10) +
                       "0123456789"));
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 200);
    EXPECT_EQ(Json::parse(reply->body), Json::parse(R"({"ok":true,"id":"clip-1","name":"Clip"})"));
    std::lock_guard lock(mutex);
    ASSERT_EQ(ingests.size(), 1u);
    const auto& r = ingests[0];
    const fs::path temp(r.tempPath);
    EXPECT_EQ(temp.parent_path(), incoming);
    EXPECT_EQ(temp.extension(), ".MP4");
    EXPECT_EQ(test::readFile(temp), "0123456789");
    EXPECT_EQ(r.originalFilename, "clip.MP4");
    EXPECT_EQ(r.displayName, std::nullopt);
    EXPECT_EQ(r.playlistId, "p1");
    EXPECT_EQ(r.newPlaylistName, "New");
    EXPECT_EQ(r.origin, MediaOrigin::upload);
    // The connection stays open after a reply that follows the body.
    ASSERT_TRUE(c.send(request("/")));
    EXPECT_EQ(c.readReply()->status(), 200);
}

TEST_F(ControlUploadTest, RefusalsBeforeTheBodyCloseTheConnection) {
    struct Case {
        std::string head;
        int status;
        std::string error;
    };
    const std::vector<Case> cases{
        {upload("k=bad&filename=a.mp4", 10), 401, "bad or missing token"},
        {upload("filename=a.mp4", 10, "X-Upload-Token: bad\r\n"), 401, "bad or missing token"},
        {upload("k=bad&filename=a.mp4", 0), 401, "bad or missing token"},  // the token before the length
        {upload("k=tok&filename=a.mp4", -1), 411, "Content-Length required"},
        {upload("k=tok&filename=a.mp4", 0), 411, "Content-Length required"},
        {upload("k=tok&filename=a.mp4", 17179869185), 413, "file exceeds 16 GB limit"},
        {upload("k=tok&filename=notes.txt", 10), 415, "unsupported file type: notes.txt"},
        {upload("k=tok", 10), 415, "unsupported file type: upload"},
        // Escapes that are not UTF-8, with a body too large to buffer and a small one.
        {upload("k=tok&filename=caf%E9.png", 100000), 400, "upload address not valid: its escapes must be UTF-8 text"},
        {upload("k=%FF&filename=a.png", 10), 400, "upload address not valid: its escapes must be UTF-8 text"},
    };
    for (const auto& c : cases) {
        RawClient client(port);
        ASSERT_TRUE(client.send(c.head));
        auto reply = client.readReply();
        ASSERT_TRUE(reply) << c.head;
        EXPECT_EQ(reply->status(), c.status) << c.head;
        EXPECT_EQ(Json::parse(reply->body), Json::parse(R"({"ok":false,"error":")" + c.error + R"("})")) << c.head;
        EXPECT_EQ(reply->header("access-control-allow-origin"), "*");
        EXPECT_TRUE(client.closedWithin()) << c.head;
    }
    // Exactly 16 GiB is accepted: the body is awaited (a refusal would have come at once).
    RawClient big(port);
    ASSERT_TRUE(big.send(upload("filename=a.mp4", 17179869184, "X-Upload-Token: tok\r\n") + "abc"));
    bool streaming = false;
    for (int i = 0; i < 2000 && !streaming; ++i) {
        streaming = incomingFiles().size() == 1;
        if (!streaming) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(streaming);
    big.close();
    EXPECT_TRUE(ingests.empty());
}

TEST_F(ControlUploadTest, TargetThatIsNotUtf8IsAnsweredWithoutItsQuery) {
    for (const std::string target : {"/api/upload/file?k=tok&filename=caf%E9.png", "/api/nothing?k=tok%FF"}) {
        RawClient c(port);
        ASSERT_TRUE(c.send(request(target)));
        auto reply = c.readReply();
        ASSERT_TRUE(reply) << target;
        EXPECT_EQ(reply->status(), 404);
        EXPECT_EQ(Json::parse(reply->body).at("error"), "unknown route " + target.substr(0, target.find('?')));
        EXPECT_EQ(reply->body.find("tok"), std::string::npos) << reply->body;
    }
}

TEST_F(ControlUploadTest, RefusedSenderStillReadsTheReplyWhileSendingItsBody) {
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=bad&filename=a.mp4", 4 << 20)));
    c.send(std::string(256 * 1024, 'x'));
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 401);
}

TEST_F(ControlUploadTest, DisconnectMidBodyDeletesTheTemporaryFile) {
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=a.wav", 1000) + std::string(500, 'x')));
    auto exists = [&] {
        for (int i = 0; i < 2000; ++i) {
            auto files = incomingFiles();
            if (files.size() == 1 && fs::file_size(files[0]) == 500) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };
    ASSERT_TRUE(exists());
    c.close();
    EXPECT_TRUE(incomingEmptied());
    std::lock_guard lock(mutex);
    EXPECT_TRUE(ingests.empty());
}

TEST_F(ControlUploadTest, FailuresAfterTheBodyAre500) {
    ingestResult = UploadIngestResult::failed("That file is damaged.");
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=a.png", 3) + "abc"));
    auto refused = c.readReply();
    EXPECT_EQ(refused->status(), 500);
    EXPECT_EQ(Json::parse(refused->body).at("error"), "That file is damaged.");

    // The incoming folder cannot be made: nothing is written.
    server->stop();
    fs::remove_all(incoming);
    test::writeFile(incoming, "a file where the folder should be");
    startServer(false);
    server->configureUpload(true, "tok");
    sync();
    RawClient d(port);
    ASSERT_TRUE(d.send(upload("k=tok&filename=a.png", 3) + "abc"));
    auto disk = d.readReply();
    EXPECT_EQ(disk->status(), 500);
    EXPECT_EQ(Json::parse(disk->body).at("error"), "cannot write to disk");
}

TEST_F(ControlUploadTest, TheFileIsSyncedAwayFromTheNetworkThreadBeforeItIsHandedOn) {
    // Syncing a large file takes seconds on a slow disk: meanwhile other requests are answered.
    holdFileWork();
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=a.mov", 10) + "0123456789"));
    ASSERT_TRUE(runHeld());  // the body's one piece
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return held.size() == 1; }));
    EXPECT_EQ(get("/")->status(), 200);
    EXPECT_TRUE(c.quietFor(0.05));
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(ingests.empty());
    }
    ASSERT_TRUE(runHeld());
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 200);
    std::lock_guard lock(mutex);
    ASSERT_EQ(ingests.size(), 1u);
    EXPECT_EQ(test::readFile(ingests[0].tempPath), "0123456789");
}

TEST_F(ControlUploadTest, FileWorkARequestWaitsForHoldsNoOtherRequest) {
    // Making an upload's file and the upload page's first read wait for the disk: while they do, other
    // requests are answered.
    holdFileOps();
    RawClient up(port), page(port);
    ASSERT_TRUE(up.send(upload("k=tok&filename=a.mov", 3, "Expect: 100-continue\r\n")));
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return heldOps.size() == 1; }));
    ASSERT_TRUE(page.send(request("/upload?k=tok")));
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return heldOps.size() == 2; }));
    RawClient again(port);
    ASSERT_TRUE(again.send(request("/upload?k=tok")));
    EXPECT_EQ(get("/")->status(), 200);
    EXPECT_TRUE(up.quietFor(0.05));  // no leave to send before the file is there
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard lock(mutex);
        jobs.swap(heldOps);
    }
    for (auto& job : jobs) job();
    ASSERT_TRUE(up.readUntil("HTTP/1.1 100 Continue\r\n\r\n"));
    up.take(up.buffered().size());
    ASSERT_TRUE(up.send("abc"));
    auto uploaded = up.readReply();
    ASSERT_TRUE(uploaded);
    EXPECT_EQ(uploaded->status(), 200);
    for (RawClient* c : {&page, &again}) {
        auto shown = c->readReply();
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->body, "<!doctype html><title>upload</title>");
    }
    std::lock_guard lock(mutex);
    EXPECT_TRUE(heldOps.empty()) << "the page is read once";
}

// A disk that never answers at all: an upload page that is a FIFO without a writer.
TEST_F(ControlUploadTest, APageThatCannotBeReadHoldsNoOtherRequest) {
    uploadPageFile = root / "page.fifo";
    ASSERT_EQ(::mkfifo(uploadPageFile.c_str(), 0600), 0);
    server->stop();
    startServer();
    server->configureUpload(true, "tok");
    sync();
    RawClient page(port);
    ASSERT_TRUE(page.send(request("/upload?k=tok")));
    ASSERT_TRUE(page.quietFor(0.05));
    const auto other = get("/");
    // The reader's open waits for a writer: give it one, whatever happened above.
    std::ofstream(uploadPageFile) << "<p>late</p>";
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status(), 200);
    auto shown = page.readReply();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->body, "<p>late</p>");
}

TEST_F(ControlUploadTest, AnUploadFinishedAsTheServerStopsIsNotHandedOn) {
    holdFileWork();
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=a.mov", 10) + "0123456789"));
    ASSERT_TRUE(runHeld());  // the body's one piece
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return held.size() == 1; }));  // syncing it
    server->stop();
    ASSERT_TRUE(runHeld());
    EXPECT_TRUE(incomingEmptied());
    server.reset();  // waits for the network thread
    std::lock_guard lock(mutex);
    EXPECT_TRUE(ingests.empty());
}

TEST_F(ControlUploadTest, BodyIsWrittenOnTheFileThreadOnePieceAtATime) {
    // A disk slower than the network blocks its writes: they must not hold up the other connections, and
    // the body must wait in the sender's socket rather than in memory.
    holdFileWork();
    std::string body(1024 * 1024 + 99, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = char(i * 7 % 251);
    RawClient c(port);
    std::thread sender([&] { c.send(upload("k=tok&filename=a.mov", std::int64_t(body.size())) + body); });
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return held.size() == 1; }));
    EXPECT_EQ(get("/")->status(), 200);
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex);
            // The next piece is read only once this one is written.
            EXPECT_FALSE(changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return held.size() > 1; }));
            if (!changed.wait_for(lock, std::chrono::duration<double>(test::netWait),
                                  [&] { return !held.empty() || !ingests.empty(); }) ||
                held.empty())
                break;
            job = std::move(held.front());
            held.pop_front();
        }
        job();
    }
    sender.join();
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 200);
    std::lock_guard lock(mutex);
    ASSERT_EQ(ingests.size(), 1u);
    EXPECT_EQ(test::readFile(ingests[0].tempPath), body);
}

TEST_F(ControlUploadTest, ClientGoneWhileAPieceIsWrittenDeletesTheFileAfterTheWrite) {
    holdFileWork();
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=a.wav", 1000) + std::string(500, 'x')));
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return held.size() == 1; }));
    c.close();
    // The write ends, then the connection finds its client gone and the file is deleted.
    while (!incomingFiles().empty() && runHeld()) {
    }
    EXPECT_TRUE(incomingFiles().empty());
    EXPECT_EQ(heldCount(), 0u);
    // A stop while a piece is being written: the file is deleted after the write, nothing is handed on.
    RawClient d(port);
    ASSERT_TRUE(d.send(upload("k=tok&filename=a.wav", 1000) + std::string(500, 'y')));
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return held.size() == 1; }));
    server->stop();
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return held.size() == 2; }));
    ASSERT_TRUE(runHeld());
    const auto files = incomingFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(fs::file_size(files[0]), 0u);  // written, not cut off by the stop
    ASSERT_TRUE(runHeld());
    EXPECT_TRUE(incomingFiles().empty());
    std::lock_guard lock(mutex);
    EXPECT_TRUE(ingests.empty());
    EXPECT_TRUE(held.empty());
}

TEST_F(ControlUploadTest, FileThatCannotBeWrittenClosesTheConnectionAndIsDeleted) {
    // Files over 100 bytes cannot grow (EFBIG), as on a full disk.
    struct FileSizeLimit {
        rlimit old{};
        void (*oldHandler)(int) = nullptr;
        FileSizeLimit() {
            ::getrlimit(RLIMIT_FSIZE, &old);
            oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = old;
            small.rlim_cur = 100;
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        ~FileSizeLimit() {
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldHandler);
        }
    };
    RawClient c(port);
    {
        FileSizeLimit limit;
        ASSERT_TRUE(c.send(upload("k=tok&filename=a.wav", 1000) + std::string(1000, 'x')));
        EXPECT_TRUE(c.closedWithin());
        EXPECT_TRUE(incomingEmptied());
    }
    std::lock_guard lock(mutex);
    EXPECT_TRUE(ingests.empty());
}

TEST_F(ControlUploadTest, WithoutAnIngestHookTheFileIsDeleted) {
    server->stop();
    startServer(false);
    server->configureUpload(true, "tok");
    sync();
    RawClient c(port);
    ASSERT_TRUE(c.send(upload("k=tok&filename=a.png", 3) + "abc"));
    auto reply = c.readReply();
    EXPECT_EQ(reply->status(), 500);
    EXPECT_EQ(Json::parse(reply->body).at("error"), "upload not wired");
    EXPECT_TRUE(incomingFiles().empty());
}

TEST_F(ControlUploadTest, PageAndMetaNeedTheTokenAndUploadsEnabled) {
    auto page = get("/upload?k=tok");
    EXPECT_EQ(page->status(), 200);
    EXPECT_EQ(page->body, "<!doctype html><title>upload</title>");
    EXPECT_EQ(page->header("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->header("cache-control"), "no-cache");
    auto meta = get("/api/upload/meta", "GET", "X-Upload-Token: tok\r\n");
    EXPECT_EQ(meta->status(), 200);
    EXPECT_EQ(Json::parse(meta->body), Json::parse(R"({"playlists":[{"id":"p1","name":"Walk-in"},{"id":"p2","name":"Show"}],
        "maxBytes":17179869184,"extensions":{"video":["m4v","mkv","mov","mp4","ogv","webm"],
        "image":["avif","bmp","gif","jpeg","jpg","png","svg","webp"],"audio":["aac","flac","m4a","mp3","oga","ogg","wav"]}})"));
    // A GET of the upload endpoint is an ordinary route.
    auto notUpload = get("/api/upload/file?k=tok");
    EXPECT_EQ(notUpload->status(), 404);
    EXPECT_EQ(Json::parse(notUpload->body).at("error"), "unknown route /api/upload/file");
    server->configureUpload(false, "tok");
    sync();
    EXPECT_EQ(get("/upload?k=tok")->status(), 401);
    EXPECT_EQ(get("/api/upload/meta?k=tok")->status(), 401);
    server->configureUpload(true, "");
    sync();
    EXPECT_EQ(get("/upload?k=")->status(), 401);
}

// MARK: advertising

TEST_F(ControlServerTest, AdvertisingReportsStartingThenTheConfirmedName) {
    startServer();
    ASSERT_TRUE(advertiser->countIs(1));
    auto call = advertiser->last();
    EXPECT_EQ(call.service.name, "Stage");
    EXPECT_EQ(call.service.type, "_ombry._tcp");
    EXPECT_EQ(call.service.port, port);
    EXPECT_TRUE(call.service.txt.empty());
    call.reply(0, "Stage (2)");  // a collision resolved by the daemon
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return statuses.size() == 2; }));
    EXPECT_EQ(statuses[0], (Status{Status::Kind::starting, {}, 0}));
    EXPECT_EQ(statuses[1], (Status{Status::Kind::registered, "Stage (2)", 0}));
}

// The service is withdrawn at once and registered again only after the pause, so that caches which saw its
// goodbye take the new announcement for a new service.
TEST_F(ControlServerTest, APasswordAddsTheTxtEntryOnlyWhenItsPresenceChanges) {
    startServer();
    ASSERT_TRUE(advertiser->countIs(1));
    advertiser->last().reply(0, "Stage");
    server->configureControl("pw");
    sync();
    EXPECT_EQ(advertiser->count(), 1u);
    timers.advance(1.9);
    EXPECT_EQ(advertiser->count(), 1u);
    timers.advance(0.1);
    ASSERT_TRUE(advertiser->countIs(2));
    EXPECT_EQ(advertiser->last().service.txt, std::vector<std::string>{"auth=1"});
    advertiser->last().reply(0, "Stage");
    server->configureControl("other");
    server->configureControl("third");
    sync();
    timers.advance(2);
    EXPECT_EQ(advertiser->count(), 2u);
    server->configureControl(std::nullopt);
    sync();
    timers.advance(2);
    ASSERT_TRUE(advertiser->countIs(3));
    EXPECT_TRUE(advertiser->last().service.txt.empty());
    advertiser->last().reply(0, "Stage");
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return statuses.size() == 6; }));
    std::lock_guard lock(mutex);
    const Status starting{Status::Kind::starting, {}, 0}, registered{Status::Kind::registered, "Stage", 0};
    EXPECT_EQ(statuses, (std::vector<Status>{starting, registered, starting, registered, starting, registered}));
}

TEST_F(ControlServerTest, FailuresAreLoggedOncePerCodeAndRetriedByTheHeartbeat) {
    CapturingLogSink log;
    ScopedLogSink scoped(log);
    advertiser->syncError = -26;  // no daemon
    startServer();
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return statuses.size() == 2; }));
    EXPECT_EQ(statuses[1], (Status{Status::Kind::failed, {}, -26}));
    timers.advance(15);  // no registration: tried again
    ASSERT_TRUE(advertiser->countIs(2));
    advertiser->syncError = 0;
    timers.advance(15);
    ASSERT_TRUE(advertiser->countIs(3));
    advertiser->last().reply(-7, "Stage");  // a later failure with another code
    {
        std::lock_guard lock(advertiser->mutex);
        advertiser->calls[1].reply(0, "old");  // a reply for a withdrawn registration is ignored
    }
    timers.advance(15);
    ASSERT_TRUE(advertiser->countIs(4));
    advertiser->last().reply(0, "Stage");
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return statuses.size() == 4; }));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(statuses[2], (Status{Status::Kind::failed, {}, -7}));
        EXPECT_EQ(statuses[3], (Status{Status::Kind::registered, "Stage", 0}));
    }
    int lines = 0;
    for (const auto& r : log.records())
        if (r.message.find("Bonjour registration failed") != std::string::npos) ++lines;
    EXPECT_EQ(lines, 2);  // -26 once although it came twice, then -7
    EXPECT_TRUE(log.contains("Bonjour registration failed (-26)"));
    // After a stop and a new start, starting is reported again.
    server->stop();
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(startOn(0)));
    ASSERT_TRUE(waitFor(mutex, changed, [&] { return statuses.size() == 5; }));
    EXPECT_EQ(statuses[4], (Status{Status::Kind::starting, {}, 0}));
}

TEST(ControlServerSecrets, NormalisedConstantTimeComparison) {
    EXPECT_TRUE(ControlServer::secretsMatch("caf\xC3\xA9", "cafe\xCC\x81"));
    EXPECT_FALSE(ControlServer::secretsMatch("cafe", "caf\xC3\xA9"));
    EXPECT_FALSE(ControlServer::secretsMatch("abc", "abcd"));
    EXPECT_FALSE(ControlServer::secretsMatch("abcd", "abc"));
    EXPECT_FALSE(ControlServer::secretsMatch("", "a"));
    EXPECT_TRUE(ControlServer::secretsMatch("", ""));
}

TEST(ControlServerQuery, LaterItemsWinAndBareNamesRemove) {
    using Q = std::map<std::string, std::string>;
    EXPECT_EQ(ControlServer::queryDict("/a?k=1&k=2"), (Q{{"k", "2"}}));
    EXPECT_EQ(ControlServer::queryDict("/a?k=1&k"), Q{});
    EXPECT_EQ(ControlServer::queryDict("/a?k=a+b%20c&x="), (Q{{"k", "a+b c"}, {"x", ""}}));
    EXPECT_EQ(ControlServer::queryDict("/a"), Q{});
    EXPECT_EQ(ControlServer::queryDict("/a b?k=1"), Q{});  // not a URI reference
}

}  // namespace
}  // namespace ombry
