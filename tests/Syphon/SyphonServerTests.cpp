#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <thread>

#include "Engine/Model/Issues.hpp"
#include "Platform/Ipc/ApplicationName.hpp"
#include "Platform/Ipc/DistributedNotifications.hpp"
#include "Platform/Ipc/MessagePort.hpp"
#include "Platform/Log.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Uuid.hpp"
#include "Syphon/SyphonOutput.hpp"
#include "Syphon/SyphonServer.hpp"
#include "Syphon/SyphonServerConnectionManager.hpp"
#include "SyphonTestClient.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using test::eventually;
using test::SyphonTestClient;
using Msgs = std::vector<SyphonTestClient::Message>;
namespace msg = syphon_message;

namespace {

class SyphonServerTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", test::tempDir("rt").c_str(), 1); }

    // A registered client, once the server has taken it in.
    std::unique_ptr<SyphonTestClient> connect(SyphonServer& server, bool info = true, bool frames = true) {
        auto client = std::make_unique<SyphonTestClient>();
        EXPECT_TRUE(client->registerWith(server.uuid(), info, frames));
        if (info) {
            EXPECT_TRUE(eventually([&] { return server.hasClients(); }));
        }
        return client;
    }
};

// A w×h RGBA picture whose pixels differ: (x + seed, y, x + y, 255).
struct Picture {
    int width, height;
    std::vector<uint8_t> rgba;
    Picture(int w, int h, int seed = 0) : width(w), height(h), rgba(size_t(w) * h * 4) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = &rgba[(size_t(y) * w + x) * 4];
                p[0] = uint8_t(x + seed), p[1] = uint8_t(y), p[2] = uint8_t(x + y), p[3] = 255;
            }
    }
    SyphonFrame frame() const { return {rgba.data(), width, height, width * 4, SyphonPixelFormat::rgba8}; }
    SyphonRegion whole() const { return {0, 0, width, height}; }
};

// Checks that the client's surface holds the picture (converted to BGRA), in the row order it states.
void expectHolds(SyphonTestClient& client, const Picture& pic) {
    auto s = client.surface();
    ASSERT_TRUE(s);
    ASSERT_EQ(s->width(), pic.width);
    ASSERT_EQ(s->height(), pic.height);
    const auto bytes = client.pixels();
    ASSERT_EQ(bytes.size(), size_t(s->bytesPerRow()) * s->height());
    for (int y = 0; y < pic.height; ++y) {
        const int row = (s->flags() & SharedSurface::flagBottomUp) ? pic.height - 1 - y : y;
        for (int x = 0; x < pic.width; ++x) {
            const uint8_t* got = &bytes[size_t(row) * s->bytesPerRow() + size_t(x) * 4];
            const uint8_t* want = &pic.rgba[(size_t(y) * pic.width + x) * 4];
            ASSERT_EQ((std::array<uint8_t, 4>{got[0], got[1], got[2], got[3]}),
                      (std::array<uint8_t, 4>{want[2], want[1], want[0], want[3]}))
                << "pixel " << x << "," << y;
        }
    }
}

std::optional<uint32_t> lastSurfaceId(const Msgs& messages) {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it)
        if (it->type == msg::surfaceChanged && it->payload) return it->payload->get<uint32_t>();
    return std::nullopt;
}

}  // namespace

TEST_F(SyphonServerTest, ClientDiscoversRegistersAndReadsTheFramePixels) {
    auto announces = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::announce);
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    EXPECT_EQ(server->uuid().rfind("info.v002.Syphon.", 0), 0u);

    // A starting server announces itself with its description.
    auto note = announces->receive(5);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->object, server->uuid());
    const auto expected = nlohmann::json::parse(R"({
        "SyphonServerDescriptionDictionaryVersionKey": 0,
        "SyphonServerDescriptionNameKey": "Program",
        "SyphonServerDescriptionAppNameKey": "syphon_server_tests",
        "SyphonServerDescriptionSurfacesKey": [{"SyphonSurfaceType": "SyphonSurfaceTypeIOSurface"}]})");
    auto description = note->userInfo;
    EXPECT_EQ(description.value(syphon_key::uuidKey, ""), server->uuid());
    description.erase(syphon_key::uuidKey);
    EXPECT_EQ(description, expected);

    // A client that comes later asks for the announcements, then registers under the UUID it learnt.
    auto found = SyphonTestClient::discover("Program");
    ASSERT_TRUE(found);
    SyphonTestClient client;
    ASSERT_TRUE(client.registerWith((*found)[syphon_key::uuidKey]));
    ASSERT_TRUE(eventually([&] { return server->hasClients(); }));

    // A region larger than the picture is cut to it.
    Picture picture(5, 3);
    server->publishFrame(picture.frame(), {0, 0, 50, 50}, true);
    ASSERT_TRUE(client.waitForCount(msg::newFrame, 1));
    const Msgs got = client.messages();
    ASSERT_EQ(got.front().type, msg::surfaceChanged);  // the surface before its first frame
    EXPECT_TRUE(got.front().withDescriptor);
    ASSERT_TRUE(client.surface());
    EXPECT_EQ(client.surface()->id(), lastSurfaceId(got));
    EXPECT_TRUE(client.surface()->flags() & SharedSurface::flagBottomUp);
    expectHolds(client, picture);
    EXPECT_EQ(server->newFrameImage()->id(), client.surface()->id());

    // A cut-out region, not flipped: surface (x, y) holds picture (x + 1, y + 1).
    Picture big(4, 4, 1);
    server->publishFrame(big.frame(), {1, 1, 2, 2}, false);
    ASSERT_TRUE(client.waitForCount(msg::newFrame, 2));
    ASSERT_TRUE(eventually([&] { return client.surface() && client.surface()->width() == 2; }));
    auto s = client.surface();
    auto bytes = client.pixels();
    ASSERT_FALSE(s->flags() & SharedSurface::flagBottomUp);
    auto at = [&](int x, int y) {
        const uint8_t* p = &bytes[size_t(y) * s->bytesPerRow() + size_t(x) * 4];
        return std::array<int, 3>{p[2], p[1], p[0]};  // R, G, B
    };
    EXPECT_EQ(at(0, 0), (std::array<int, 3>{2, 1, 2}));
    EXPECT_EQ(at(1, 0), (std::array<int, 3>{3, 1, 3}));
    EXPECT_EQ(at(0, 1), (std::array<int, 3>{2, 2, 3}));
}

TEST_F(SyphonServerTest, LateClientGetsTheSurfaceAndAFrameNoticeAtOnce) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    Picture picture(3, 2);
    server->publishFrame(picture.frame(), picture.whole(), true);

    auto client = connect(*server);
    ASSERT_TRUE(client->waitForCount(msg::newFrame, 1));
    EXPECT_EQ(client->messages().front().type, msg::surfaceChanged);
    expectHolds(*client, picture);

    // Frames only, no info: a notice but no surface.
    auto framesOnly = connect(*server, false, true);
    ASSERT_TRUE(framesOnly->waitForCount(msg::newFrame, 1));
    EXPECT_EQ(framesOnly->count(msg::surfaceChanged), 0);
}

TEST_F(SyphonServerTest, DescriptionNamesTheRunningApplication) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    // Without a display name, the process name (the announcement above checks the same).
    EXPECT_EQ(server->serverDescription()[syphon_key::appNameKey], "syphon_server_tests");
    setApplicationDisplayName("Ombry Show");
    EXPECT_EQ(server->serverDescription()[syphon_key::appNameKey], "Ombry Show");
    setApplicationDisplayName("");
    EXPECT_EQ(server->serverDescription()[syphon_key::appNameKey], "syphon_server_tests");
}

TEST_F(SyphonServerTest, NewFrameSizeMakesANewSurfaceSentBeforeTheFrameNotice) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    Picture small(4, 4), large(8, 2, 3);
    // A surface before the clients come, so each one's registration is answered with the surface and a
    // notice: once both arrived the client is in both tables and no message is still on its way to it.
    server->publishFrame(small.frame(), small.whole(), true);
    auto a = connect(*server);
    auto b = connect(*server);
    for (auto* client : {a.get(), b.get()}) {
        ASSERT_TRUE(client->waitForCount(msg::surfaceChanged, 1));
        ASSERT_TRUE(client->waitForCount(msg::newFrame, 1));
    }
    const uint32_t first = *lastSurfaceId(a->messages());

    // Each frame waits for the one before, or the notices would (rightly) coalesce.
    server->publishFrame(small.frame(), small.whole(), true);
    ASSERT_TRUE(a->waitForCount(msg::newFrame, 2));
    ASSERT_TRUE(b->waitForCount(msg::newFrame, 2));
    EXPECT_EQ(a->count(msg::surfaceChanged), 1);  // same size, same surface
    EXPECT_EQ(b->count(msg::surfaceChanged), 1);

    server->publishFrame(large.frame(), large.whole(), true);
    for (auto* client : {a.get(), b.get()}) {
        ASSERT_TRUE(client->waitForCount(msg::newFrame, 3));
        const Msgs got = client->messages();
        ASSERT_EQ(countOf(got, msg::surfaceChanged), 2);
        EXPECT_NE(*lastSurfaceId(got), first);
        EXPECT_EQ(got[got.size() - 2].type, msg::surfaceChanged);
        EXPECT_EQ(got.back().type, msg::newFrame);
        expectHolds(*client, large);
    }
}

TEST_F(SyphonServerTest, StopRetiresClientsAndTheAnnouncement) {
    auto retires = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::retire);
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    std::mutex m;
    std::vector<bool> changes;
    server->onHasClientsChange = [&](bool v) {
        std::lock_guard l(m);
        changes.push_back(v);
    };
    auto info = connect(*server, true, false);
    auto frames = connect(*server, false, true);
    server->stop();
    EXPECT_FALSE(server->hasClients());
    {
        std::lock_guard l(m);
        EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    }
    ASSERT_TRUE(info->waitForCount(msg::serverRetiring, 1));
    auto note = retires->receive(5);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->object, server->uuid());
    EXPECT_EQ(note->userInfo[syphon_key::uuidKey], server->uuid());
    // Nobody answers on the server's port any more, and publishing is harmless.
    EXPECT_FALSE(SyphonMessageSender::create(server->uuid(), SyphonMessagingProtocolCFMessage));
    Picture picture(2, 2);
    server->publishFrame(picture.frame(), picture.whole(), true);
    EXPECT_FALSE(server->newFrameImage());
    EXPECT_EQ(frames->count(msg::serverRetiring), 0);  // retirement goes to info clients
}

TEST_F(SyphonServerTest, PrivateServerIsNotAnnouncedButTakesClientsThatKnowIt) {
    auto announces = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::announce);
    auto retires = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::retire);
    auto server = SyphonServer::create("Hidden", {{"SyphonServerOptionIsPrivate", true}});
    ASSERT_TRUE(server);
    EXPECT_FALSE(server->broadcasts());
    EXPECT_FALSE(SyphonTestClient::discover("Hidden", 0.3));
    auto client = connect(*server);
    Picture picture(2, 3);
    server->publishFrame(picture.frame(), picture.whole(), true);
    ASSERT_TRUE(client->waitForCount(msg::newFrame, 1));
    expectHolds(*client, picture);
    server->stop();
    EXPECT_FALSE(announces->receive(0.1));
    EXPECT_FALSE(retires->receive(0.1));
}

TEST_F(SyphonServerTest, NameChangeReachesInfoClientsAndIsAnnounced) {
    auto updates = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::update);
    auto server = SyphonServer::create("");
    ASSERT_TRUE(server);
    auto client = connect(*server);
    server->setName("Program");
    ASSERT_TRUE(client->waitForCount(msg::serverNameChanged, 1));
    EXPECT_EQ(*client->messages().back().payload, "Program");
    auto note = updates->receive(5);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->userInfo[syphon_key::nameKey], "Program");
}

TEST_F(SyphonServerTest, ManyClientsEachGetTheFrame) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    std::vector<std::unique_ptr<SyphonTestClient>> clients;
    for (int i = 0; i < 12; ++i) clients.push_back(connect(*server));
    Picture picture(16, 9);
    server->publishFrame(picture.frame(), picture.whole(), true);
    for (auto& c : clients) {
        ASSERT_TRUE(c->waitForCount(msg::newFrame, 1));
        expectHolds(*c, picture);
    }
}

TEST_F(SyphonServerTest, ClientThatLeavesGetsNoMoreFrames) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    auto leaving = connect(*server);
    leaving->unregister();
    ASSERT_TRUE(eventually([&] { return !server->hasClients(); }));
    auto staying = connect(*server);
    Picture picture(2, 2);
    for (int i = 1; i <= 3; ++i) {
        server->publishFrame(picture.frame(), picture.whole(), true);
        ASSERT_TRUE(staying->waitForCount(msg::newFrame, i));
    }
    // Each client's delivery runs on its own channel: a frame sent to the leaving one would arrive
    // within this window after the staying one has had three.
    EXPECT_FALSE(leaving->waitForCount(msg::newFrame, 1, 1.0));
}

TEST_F(SyphonServerTest, VanishedClientIsDroppedAndStuckClientGetsOnlyTheNewestMessages) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    auto healthy = connect(*server);

    // A client that quit without saying so is dropped on the next delivery.
    {
        auto vanished = connect(*server);
    }
    Picture picture(4, 4);
    server->publishFrame(picture.frame(), picture.whole(), true);
    ASSERT_TRUE(healthy->waitForCount(msg::newFrame, 1));

    // A client that stopped reading: its socket queue is full, so the delivery to it waits.
    const std::string stuckName = "stuck." + makeUuid();
    auto stuck = LocalMessagePort::create(syphonPortDirectory(), stuckName);
    ASSERT_TRUE(stuck);
    auto filler = RemoteMessagePort::connect(syphonPortDirectory(), stuckName);
    int filled = 0;
    while (filler->send(99, "", -1, true) == RemoteMessagePort::SendResult::sent) ++filled;
    ASSERT_GT(filled, 0);
    auto toServer = SyphonMessageSender::create(server->uuid(), SyphonMessagingProtocolCFMessage);
    toServer->send(nlohmann::json(stuckName), msg::addInfoClient);
    toServer->send(nlohmann::json(stuckName), msg::addFrameClient);

    // Frames of changing size: a new surface and a notice each; the healthy client keeps up meanwhile.
    uint32_t lastId = 0;
    for (int i = 1; i <= 30; ++i) {
        Picture p(2 + i % 3, 2, i);
        server->publishFrame(p.frame(), p.whole(), true);
        ASSERT_TRUE(healthy->waitForCount(msg::newFrame, 1 + i)) << i;
        lastId = server->newFrameImage()->id();
    }
    EXPECT_EQ(*lastSurfaceId(healthy->messages()), lastId);

    // Once it reads again, it gets at most the one message that was in flight and the newest of each type.
    std::vector<PortMessage> got;
    ASSERT_TRUE(eventually([&] {
        while (auto m = stuck->receive())
            if (m->id != 99) got.push_back(std::move(*m));
        return !got.empty() && got.back().id == msg::newFrame && got.size() >= 2 &&
               got[got.size() - 2].id == msg::surfaceChanged && got[got.size() - 2].data == std::to_string(lastId);
    })) << got.size();
    int notices = 0, surfaces = 0;
    for (auto& m : got) {
        notices += m.id == msg::newFrame;
        surfaces += m.id == msg::surfaceChanged;
    }
    EXPECT_LE(notices, 2);
    EXPECT_LE(surfaces, 2);
    EXPECT_TRUE(got[got.size() - 2].attachment);
}

TEST_F(SyphonServerTest, LastVanishedClientLeavesNoClients) {
    auto server = SyphonServer::create("Program");
    ASSERT_TRUE(server);
    connect(*server).reset();
    ASSERT_TRUE(server->hasClients());
    Picture picture(2, 2);
    server->publishFrame(picture.frame(), picture.whole(), true);
    EXPECT_TRUE(eventually([&] { return !server->hasClients(); }));
}

TEST_F(SyphonServerTest, ExitWithoutStopPostsTheExitFormOfRetire) {
    auto retires = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::retire);
    ASSERT_TRUE(retires);
    EXPECT_EXIT(
        {
            auto server = SyphonServer::create("Forgotten");
            auto priv = SyphonServer::create("Private", {{"SyphonServerOptionIsPrivate", true}});
            std::exit(server && priv ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    auto note = retires->receive(5);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->object, "SyphonServerDescriptionUUIDKey");
    ASSERT_EQ(note->userInfo.size(), 1u);
    EXPECT_EQ(note->userInfo[syphon_key::uuidKey].get<std::string>().rfind("info.v002.Syphon.", 0), 0u);
    EXPECT_FALSE(retires->receive(0.1));  // nothing for the private one
}

TEST_F(SyphonServerTest, ManagerReleasedWhileRunningStopsAndLogs) {
    CapturingLogSink log;
    ScopedLogSink scope(log);
    const std::string uuid = "info.v002.Syphon." + makeUuid();
    auto manager = SyphonServerConnectionManager::create(uuid);
    ASSERT_TRUE(manager->start());
    SyphonTestClient client;
    ASSERT_TRUE(client.registerWith(uuid, true, false));
    ASSERT_TRUE(eventually([&] { return manager->hasClients(); }));
    manager.reset();
    // The last reference may be dropped by a task that was just finishing on the manager's queue.
    EXPECT_TRUE(eventually([&] { return log.contains("SyphonServerConnectionManager released while running"); }));
    ASSERT_TRUE(client.waitForCount(msg::serverRetiring, 1));
    EXPECT_FALSE(SyphonMessageSender::create(uuid, SyphonMessagingProtocolCFMessage));

    // Released after stop: nothing to say.
    log.clear();
    auto stopped = SyphonServerConnectionManager::create(uuid);
    ASSERT_TRUE(stopped->start());
    stopped->stop();
    stopped.reset();
    EXPECT_FALSE(log.contains("released while running"));
}

TEST_F(SyphonServerTest, OutputReportsAndResolvesItsIssue) {
    ManualQueue q;
    ScopedMainQueue mainScope(q);
    CapturingLogSink log;
    ScopedLogSink logScope(log);
    IssueLog::shared().clear();
    auto hasIssue = [] {
        for (const auto& issue : IssueLog::shared().recent())
            if (issue.code == IssueCode::syphonFailed && !issue.subject) return true;
        return false;
    };
    const std::string good = std::getenv("XDG_RUNTIME_DIR");
    ::setenv("XDG_RUNTIME_DIR", "/dev/null/no-such-folder", 1);
    Picture picture(3, 3);
    {
        SyphonOutput output("Program");
        EXPECT_FALSE(output.server());
        EXPECT_TRUE(hasIssue());
        EXPECT_EQ(rawValue(IssueCode::syphonFailed), "OUT-02");
        output.publish(picture.frame());  // ignored
    }
    ::setenv("XDG_RUNTIME_DIR", good.c_str(), 1);
    std::function<void(const SyphonFrame&)> consumer;
    {
        SyphonOutput output("Program");
        ASSERT_TRUE(output.server());
        EXPECT_FALSE(hasIssue());
        EXPECT_TRUE(log.contains("Syphon server started as Program"));
        EXPECT_STREQ(SyphonOutput::consumerKey, "syphon");
        auto client = connect(*output.server());
        consumer = output.consumer();
        consumer(picture.frame());
        ASSERT_TRUE(client->waitForCount(msg::newFrame, 1));
        expectHolds(*client, picture);
        EXPECT_TRUE(client->surface()->flags() & SharedSurface::flagBottomUp);
    }
    consumer(picture.frame());  // after the output is gone: nothing happens
}
