#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <boost/asio/io_context.hpp>

#include <filesystem>
#include <fstream>

#include "../Media/ExifFixture.hpp"
#include "BleReceiver.hpp"
#include "Engine/Servers/BLEControlServer.hpp"
#include "FakePeripheral.hpp"
#include "Platform/Log.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

using test::BleMessage;
using test::FakeRadio;

ControlSnapshot snapshotOf(int clips, int64_t rev = 1) {
    ControlSnapshot s;
    s.rev = rev;
    for (int i = 1; i <= clips; ++i) {
        ControlClip c;
        c.index = i;
        c.id = "clip-" + std::to_string(i);
        c.name = "Opening titles";
        s.clips.push_back(c);
    }
    return s;
}

ControlTransportMessage tickAt(double t) {
    ControlTransportMessage m;
    m.currentTime = t;
    m.duration = 9;
    m.playing = true;
    return m;
}

const ControlSnapshot kSnapshot = snapshotOf(3);

class BleServer : public ::testing::Test {
protected:
    void SetUp() override { server = makeServer("Stage Left"); }

    std::shared_ptr<BLEControlServer> makeServer(std::optional<std::string> host) {
        auto s = BLEControlServer::create(ioc.get_executor(), test::fakeFactory(radio), std::move(host), clock);
        s->onClientsChanged = [this](int n) { clientCounts.push_back(n); };
        s->onStateChange = [this](bt::BluetoothState st) { states.push_back(st); };
        return s;
    }
    // Runs everything queued on the server's queue.
    void run() {
        ioc.restart();
        ioc.poll();
    }
    void startUp() {
        server->start();
        run();
    }
    std::vector<BleMessage> messagesOn(const std::string& chr) {
        test::BleReceiver rx;
        return rx.takeAll(radio->sentOn(chr));
    }

    boost::asio::io_context ioc;
    ManualClock clock;
    std::shared_ptr<FakeRadio> radio = std::make_shared<FakeRadio>();
    std::shared_ptr<BLEControlServer> server;
    std::vector<int> clientCounts;
    std::vector<bt::BluetoothState> states;
    CapturingLogSink log;
    ScopedLogSink logScope{log};
};

TEST_F(BleServer, PublishesTheServiceAndAdvertisesTheHost) {
    EXPECT_EQ(radio->peripheralsMade, 0) << "no radio until started";
    startUp();
    ASSERT_EQ(radio->services.size(), 1u);
    const auto& service = radio->services[0];
    EXPECT_EQ(service.uuid, "7B3C0001-9E7D-4C22-8A4B-1F5E30D6C9AA");
    ASSERT_EQ(service.characteristics.size(), 3u);
    const struct {
        const char* uuid;
        bool write, notify;
    } want[] = {{"7B3C0002-9E7D-4C22-8A4B-1F5E30D6C9AA", true, false},
                {"7B3C0003-9E7D-4C22-8A4B-1F5E30D6C9AA", false, true},
                {"7B3C0004-9E7D-4C22-8A4B-1F5E30D6C9AA", false, true}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(service.characteristics[i].uuid, want[i].uuid);
        EXPECT_EQ(service.characteristics[i].write, want[i].write);
        EXPECT_EQ(service.characteristics[i].notify, want[i].notify);
    }
    ASSERT_TRUE(radio->advertising);
    EXPECT_EQ(radio->advertising->serviceUuids, std::vector<std::string>{"7B3C0001-9E7D-4C22-8A4B-1F5E30D6C9AA"});
    EXPECT_EQ(radio->advertising->localName, "Stage Left");
    EXPECT_TRUE(log.contains("control advertising as Stage Left"));
    EXPECT_EQ(states, std::vector<bt::BluetoothState>{bt::BluetoothState::poweredOn});

    auto nameless = makeServer(std::nullopt);
    auto radio2 = radio;
    nameless->start();
    run();
    EXPECT_EQ(radio2->advertising->localName, "Ombry");
}

TEST_F(BleServer, PasswordMarkerFollowsThePasswordsPresenceOnly) {
    startUp();
    const int starts = radio->advertisingStarts;
    server->configureControl(std::string("  secret\n"));
    run();
    EXPECT_EQ(radio->advertising->serviceUuids, (std::vector<std::string>{ble::serviceUuid, "7B3C"}));
    EXPECT_EQ(radio->advertisingStarts, starts + 1);

    server->configureControl(std::string("another"));
    run();
    EXPECT_EQ(radio->advertisingStarts, starts + 1) << "one password to another leaves advertising alone";

    server->configureControl(std::string(" \t\r\n"));
    run();
    EXPECT_EQ(radio->advertising->serviceUuids, std::vector<std::string>{ble::serviceUuid});
    EXPECT_EQ(radio->advertisingStarts, starts + 2);

    server->configureControl(std::nullopt);
    run();
    EXPECT_EQ(radio->advertisingStarts, starts + 2) << "none to none changes nothing";
}

TEST_F(BleServer, PasswordSetBeforeStartIsAdvertisedAtOnce) {
    server->configureControl(std::string("pw"));
    startUp();
    EXPECT_EQ(radio->advertising->serviceUuids, (std::vector<std::string>{ble::serviceUuid, "7B3C"}));
    EXPECT_EQ(radio->advertisingStarts, 1);
}

TEST(BleAuthorization, ByTheQueryK) {
    const std::optional<std::string> pw = "Secret";
    const struct {
        const char* path;
        std::optional<std::string> password;
        bool allowed;
    } cases[] = {
        {"/api/clip/next", std::nullopt, true},
        {"not even a url", std::nullopt, true},
        {"/api/clip/next", pw, false},
        {"/api/clip/next?k=Secret", pw, true},
        {"/api/volume/step?by=2&k=Secret", pw, true},
        {"/api/clip/next?x=1&k=wrong&k=Secret", pw, true},
        {"/api/clip/next?k=secret", pw, false},
        {"/api/clip/next?k=SECRET", pw, false},
        {"/api/clip/next?k=Sec%72et", pw, true},
        {"/api/clip/next?k", pw, false},
        {"/api/clip/next?k=", pw, false},
        {"/api/clip/next?K=Secret", pw, false},
        {"/api/clip/next?", pw, false},
        {"/api/clip next?k=Secret", pw, false},
        {"/api/clip/next?k=Secret%zz", pw, false},
        {"/api/clip/next#k=Secret", pw, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(BLEControlServer::authorized(c.path, c.password), c.allowed);
    }
}

ControlCommand commandOf(const std::string& path) { return *ControlCommand::parse(path); }

TEST_F(BleServer, WritesRunCommandsAndAnswerTheFirstRequest) {
    std::vector<ControlCommand> performed;
    server->perform = [&](ControlCommand command, std::function<void(ControlResult)> done) {
        performed.push_back(command);
        done(std::holds_alternative<control::TriggerId>(command.value) ? ControlResult::notFound("no clip with id x")
                                                                       : ControlResult::ok());
    };
    startUp();

    auto ids = radio->write({"/api/clip/next", "/api/trigger/id/x?t=1", "/api/nope"}, ble::commandCharUuid);
    run();
    EXPECT_EQ(performed, (std::vector<ControlCommand>{commandOf("/api/clip/next"), commandOf("/api/trigger/id/x")}));
    ASSERT_EQ(radio->responses.size(), 1u);
    EXPECT_EQ(radio->responses[0], std::make_pair(ids[0], bt::AttResult::success));
    EXPECT_TRUE(log.contains(R"(command /api/trigger/id/x -> notFound("no clip with id x"))"));
    EXPECT_TRUE(log.contains("unknown route /api/nope"));

    // Second request not UTF-8: the first is handled, the error goes to the first request.
    performed.clear();
    ids = radio->write({"/api/transport/play", std::string("/api/\xC3\x28"), "/api/clip/prev"}, ble::commandCharUuid);
    run();
    EXPECT_EQ(performed, std::vector<ControlCommand>{commandOf("/api/transport/play")});
    ASSERT_EQ(radio->responses.size(), 2u);
    EXPECT_EQ(radio->responses[1], std::make_pair(ids[0], bt::AttResult::unlikelyError));
    EXPECT_EQ(uint8_t(radio->responses[1].second), 0x0E);

    performed.clear();
    ids = radio->write({std::nullopt}, ble::commandCharUuid);
    run();
    EXPECT_TRUE(performed.empty());
    EXPECT_EQ(radio->responses.back(), std::make_pair(ids[0], bt::AttResult::unlikelyError));

    radio->write({}, ble::commandCharUuid);
    run();
    EXPECT_EQ(radio->responses.size(), 3u) << "an empty write is ignored";
}

TEST_F(BleServer, WithoutAHookACommandIsLoggedAsNotWired) {
    startUp();
    radio->write({"/api/clip/next?x=1"}, ble::commandCharUuid);
    run();
    EXPECT_TRUE(log.contains(R"(command /api/clip/next -> badRequest("control not wired"))"));
    EXPECT_EQ(radio->responses.back().second, bt::AttResult::success);
}

TEST_F(BleServer, WrongPasswordIsRejectedOnTheStateCharacteristicAndNotRun) {
    int performed = 0;
    server->perform = [&](ControlCommand, std::function<void(ControlResult)> done) {
        ++performed;
        done(ControlResult::ok());
    };
    server->configureControl(std::string("pw"));
    startUp();
    radio->subscribe("phone", ble::stateCharUuid);
    run();
    radio->acceptBeforeRefusing = 0;  // the link is busy while both are refused
    radio->write({"/api/clip/next", "/api/clip/next?k=PW"}, ble::commandCharUuid);
    run();
    radio->linkReady();
    run();
    EXPECT_EQ(performed, 0);
    EXPECT_TRUE(log.contains("command rejected — control password required"));
    const auto messages = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(messages.size(), 1u) << "at most one rejection waits in the queue";
    EXPECT_EQ(messages[0].text(), ble::unauthorizedMessage);
    EXPECT_FALSE(messages[0].compressed);

    radio->write({"/api/clip/next?k=pw"}, ble::commandCharUuid);
    run();
    EXPECT_EQ(performed, 1);
}

TEST_F(BleServer, NewSubscriberGetsTheSnapshotOnlyWithoutAPassword) {
    server->push(kSnapshot);
    startUp();
    radio->subscribe("phone", ble::stateCharUuid);
    run();
    auto messages = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text(), wireText(kSnapshot));
    EXPECT_EQ(clientCounts.back(), 1);

    radio->sent.clear();
    server->configureControl(std::string("pw"));
    radio->subscribe("tablet", ble::stateCharUuid);
    run();
    EXPECT_TRUE(radio->sent.empty()) << "with a password a new subscriber waits for /api/state";
    EXPECT_EQ(clientCounts.back(), 2);

    radio->write({"/api/state?k=pw"}, ble::commandCharUuid);
    run();
    messages = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text(), wireText(kSnapshot));

    // Pushed snapshots reach every subscriber, password or not: the links cannot be told apart.
    radio->sent.clear();
    server->push(snapshotOf(3, 2));
    run();
    EXPECT_EQ(messagesOn(ble::stateCharUuid).size(), 1u);

    radio->unsubscribe("phone", ble::stateCharUuid);
    run();
    EXPECT_EQ(clientCounts.back(), 1);
}

TEST_F(BleServer, SnapshotsAreCompressedWhenThatHelps) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid, 20);
    const ControlSnapshot big = snapshotOf(100), empty = snapshotOf(0);
    server->push(big);
    run();
    server->push(empty);
    run();
    const auto messages = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].compressed);
    EXPECT_EQ(messages[0].text(), wireText(big));
    const std::string emptyText = wireText(empty);
    EXPECT_EQ(messages[1].compressed, BLEFrame::compress(BLEBytes(emptyText.begin(), emptyText.end())).has_value());
    EXPECT_EQ(messages[1].text(), emptyText);
    EXPECT_EQ(messages[0].seq, 0);
    EXPECT_EQ(messages[1].seq, 1);
    for (const auto& chunk : radio->sentOn(ble::stateCharUuid)) EXPECT_LE(chunk.size(), 20u);
}

TEST_F(BleServer, ALaterSnapshotReplacesOneNotStartedAndTakesItsOwnNumber) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid, 20);
    radio->subscribe("phone", ble::thumbCharUuid, 20);
    run();
    // A long thumbnail record is being sent: the link takes its first chunk and then refuses.
    radio->acceptBeforeRefusing = 1;
    radio->write({"/api/thumb/" + std::string(200, 'x')}, ble::commandCharUuid);
    run();
    server->push(snapshotOf(2, 1));
    server->push(snapshotOf(2, 2));
    run();
    EXPECT_EQ(server->outboxSize(), 2u);
    radio->linkReady();
    run();
    const auto thumbs = messagesOn(ble::thumbCharUuid);
    ASSERT_EQ(thumbs.size(), 1u);
    EXPECT_EQ(thumbs[0].payload.size(), 201u);
    const auto states = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].text(), wireText(snapshotOf(2, 2)));
    EXPECT_EQ(states[0].seq, 1) << "the number of the replaced snapshot is never sent";
    // Whole messages in queue order: every thumbnail chunk before the first state chunk.
    ASSERT_GE(radio->sent.size(), 2u);
    EXPECT_EQ(radio->sent.back().first, ble::stateCharUuid);
    EXPECT_EQ(radio->sent.front().first, ble::thumbCharUuid);
}

TEST_F(BleServer, ARefusedChunkIsResentWhenTheLinkIsReady) {
    startUp();
    radio->subscribe("phone", ble::thumbCharUuid, 20);
    run();
    const std::string id(95, 'q');  // a record of 96 bytes: six chunks, never compressed
    radio->acceptBeforeRefusing = 2;
    radio->write({"/api/thumb/" + id}, ble::commandCharUuid);
    run();
    EXPECT_EQ(radio->sent.size(), 2u);
    radio->linkReady(1);
    run();
    EXPECT_EQ(radio->sent.size(), 3u);
    radio->linkReady();
    run();
    EXPECT_EQ(radio->sent.size(), 6u);
    const auto messages = messagesOn(ble::thumbCharUuid);
    ASSERT_EQ(messages.size(), 1u) << "no chunk lost or repeated";
    EXPECT_EQ(messages[0].payload.size(), 96u);
    EXPECT_EQ(std::string(messages[0].payload.begin() + 1, messages[0].payload.end()), id);
}

TEST_F(BleServer, ChunksFitTheSmallestSubscriber) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid, 182);
    radio->subscribe("watch", ble::stateCharUuid, 20);
    server->push(snapshotOf(20));
    run();
    const auto chunks = radio->sentOn(ble::stateCharUuid);
    ASSERT_FALSE(chunks.empty());
    for (const auto& c : chunks) EXPECT_LE(c.size(), 20u);
    EXPECT_EQ(messagesOn(ble::stateCharUuid).at(0).text(), wireText(snapshotOf(20)));
}

TEST_F(BleServer, TicksAtMostOncePerSecondOnTheMonotonicClockAndOnlyToSubscribers) {
    startUp();
    const ControlTransportMessage tick = tickAt(1);
    server->pushTransport(tick);
    run();
    EXPECT_TRUE(radio->sent.empty()) << "nobody listens";

    radio->subscribe("phone", ble::stateCharUuid);
    run();
    for (int i = 0; i < 10; ++i) {
        server->pushTransport(tick);
        run();
        clock.advance(0.09);
    }
    EXPECT_EQ(messagesOn(ble::stateCharUuid).size(), 1u) << "the silent first push used no window";

    // A second later on the monotonic clock, while the wall clock was stepped back an hour.
    clock.advance(0.2);
    clock.setWallMs(clock.wallMs() - 3600e3);
    server->pushTransport(tick);
    run();
    auto messages = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text(), wireText(tick));
    EXPECT_FALSE(messages[1].compressed);

    clock.advance(0.999);
    server->pushTransport(tick);
    run();
    EXPECT_EQ(messagesOn(ble::stateCharUuid).size(), 2u);
}

TEST_F(BleServer, ATickDroppedBehindAQueuedOneStillUsesItsWindow) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid, 20);
    run();
    radio->acceptBeforeRefusing = 0;  // the link is busy: the first tick stays queued
    server->pushTransport(tickAt(1));
    run();
    clock.advance(1.5);
    server->pushTransport(tickAt(2));  // dropped behind the queued one
    run();
    radio->linkReady();
    run();
    ASSERT_EQ(messagesOn(ble::stateCharUuid).size(), 1u);
    clock.advance(0.5);
    server->pushTransport(tickAt(3));  // inside the window the dropped one opened
    run();
    const auto messages = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text(), wireText(tickAt(1)));
}

TEST_F(BleServer, AThumbnailWithNobodyOnItsCharacteristicIsDiscarded) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid);
    radio->write({"/api/thumb/abc"}, ble::commandCharUuid);
    run();
    EXPECT_TRUE(radio->sent.empty());
    EXPECT_EQ(server->outboxSize(), 0u);
}

TEST_F(BleServer, PowerLossDropsListenersAndTheServiceComesBackByItself) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid);
    run();
    ASSERT_EQ(clientCounts.back(), 1);
    radio->acceptBeforeRefusing = 0;
    server->push(kSnapshot);
    run();
    radio->setPower(bt::BluetoothState::poweredOff);
    run();
    EXPECT_EQ(clientCounts.back(), 0);
    EXPECT_EQ(server->outboxSize(), 0u);
    EXPECT_EQ(states.back(), bt::BluetoothState::poweredOff);

    radio->services.clear();  // the stack forgot the service with the power
    radio->advertising.reset();
    radio->acceptBeforeRefusing = -1;
    radio->setPower(bt::BluetoothState::poweredOn);
    run();
    EXPECT_EQ(radio->services.size(), 1u);
    EXPECT_TRUE(radio->advertising);
    EXPECT_EQ(states.back(), bt::BluetoothState::poweredOn);
    EXPECT_TRUE(radio->sent.empty()) << "the queued snapshot went with the listeners";
}

TEST_F(BleServer, StopTakesTheServiceDownAndStartBringsItBackWithTheSameRadio) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid);
    run();
    server->stop();
    run();
    EXPECT_TRUE(radio->services.empty());
    EXPECT_FALSE(radio->advertising);
    EXPECT_EQ(clientCounts.back(), 0);
    server->push(kSnapshot);
    run();
    EXPECT_TRUE(radio->sent.empty());
    server->start();
    run();
    EXPECT_EQ(radio->services.size(), 1u);
    EXPECT_TRUE(radio->advertising);
    EXPECT_EQ(radio->peripheralsMade, 1);
}

// A JPEG of w by h pixels, left half red and right half blue.
std::string jpegOf(int w, int h) {
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
            p[0] = x < w / 2 ? 255 : 0;
            p[2] = x < w / 2 ? 0 : 255;
        }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_444, 95, 0);
    std::string jpeg(reinterpret_cast<char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
};

Decoded decodeJpeg(const BLEBytes& jpeg) {
    Decoded d;
    tjhandle tj = tjInitDecompress();
    int sub = 0, space = 0;
    if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &d.width, &d.height, &sub, &space) == 0) {
        d.rgb.resize(size_t(d.width) * size_t(d.height) * 3);
        if (tjDecompress2(tj, jpeg.data(), jpeg.size(), d.rgb.data(), d.width, 0, d.height, TJPF_RGB, 0) != 0) d.width = 0;
    }
    tjDestroy(tj);
    return d;
}

class BleThumbs : public BleServer {
protected:
    void SetUp() override {
        BleServer::SetUp();
        dir = test::tempDir("thumbs");
        startUp();
        radio->subscribe("phone", ble::thumbCharUuid);
        run();
    }
    // The record the phone gets for one request: its id and JPEG bytes.
    std::pair<std::string, BLEBytes> request(const std::string& path) {
        const size_t before = messagesOn(ble::thumbCharUuid).size();
        radio->write({path}, ble::commandCharUuid);
        run();
        const auto messages = messagesOn(ble::thumbCharUuid);
        EXPECT_EQ(messages.size(), before + 1);
        if (messages.size() != before + 1) return {};
        const BLEBytes& p = messages.back().payload;
        const size_t len = p.at(0);
        return {std::string(p.begin() + 1, p.begin() + 1 + long(len)), BLEBytes(p.begin() + 1 + long(len), p.end())};
    }
    std::filesystem::path dir;
};

TEST_F(BleThumbs, SmallUprightJpegCachedByTheWholeRequestText) {
    const auto wide = dir / "wide.jpg";
    const auto turned = dir / "turned.jpg";
    test::writeFile(wide, jpegOf(400, 200));
    // Stored on its side: EXIF 6 turns it a quarter clockwise, the red left half to the top.
    test::writeFile(turned, test::withExifOrientation(jpegOf(400, 200), 6));
    server->updateThumbIndex({{"clip 1", wide.string()}, {"clip2", turned.string()}});

    auto [id, jpeg] = request("/api/thumb/clip%201?t=5");
    EXPECT_EQ(id, "clip 1");
    Decoded d = decodeJpeg(jpeg);
    EXPECT_EQ(d.width, 128);
    EXPECT_EQ(d.height, 64);
    ASSERT_GT(d.width, 0);
    EXPECT_GT(d.at(10, 32)[0], 200);  // red on the left
    EXPECT_GT(d.at(118, 32)[2], 200);  // blue on the right

    auto [id2, jpeg2] = request("/api/thumb/clip2");
    EXPECT_EQ(id2, "clip2");
    d = decodeJpeg(jpeg2);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 128);
    ASSERT_GT(d.width, 0);
    EXPECT_GT(d.at(32, 10)[0], 200);   // red on top
    EXPECT_GT(d.at(32, 118)[2], 200);  // blue below

    // The same text is served from the cache, even once the file is gone; another text is made afresh.
    std::filesystem::remove(wide);
    EXPECT_EQ(request("/api/thumb/clip%201?t=5").second, jpeg);
    auto [id3, fresh] = request("/api/thumb/clip%201?t=6");
    EXPECT_EQ(id3, "clip 1");
    EXPECT_TRUE(fresh.empty()) << "no file: a record with the id and no JPEG";
}

TEST_F(BleThumbs, SmallPicturesAreNotEnlargedAndTheQualityIsLow) {
    const auto small = dir / "small.jpg";
    test::writeFile(small, jpegOf(40, 30));
    const auto big = dir / "big.jpg";
    test::writeFile(big, jpegOf(1024, 1024));
    server->updateThumbIndex({{"s", small.string()}, {"b", big.string()}});
    Decoded d = decodeJpeg(request("/api/thumb/s").second);
    EXPECT_EQ(d.width, 40);
    EXPECT_EQ(d.height, 30);
    const BLEBytes square = request("/api/thumb/b").second;
    d = decodeJpeg(square);
    EXPECT_EQ(d.width, 128);
    EXPECT_EQ(d.height, 128);
    // Quality 0.4 of a two-colour picture stays far under what quality 0.95 of it would take.
    EXPECT_LT(square.size(), 2500u);
}

TEST_F(BleThumbs, CacheIsEmptiedOnTheMissAfter301Entries) {
    for (int i = 0; i < 301; ++i) {
        radio->write({"/api/thumb/none?i=" + std::to_string(i)}, ble::commandCharUuid);
        run();
    }
    EXPECT_EQ(server->thumbCacheSize(), 301u);
    radio->write({"/api/thumb/none?i=0"}, ble::commandCharUuid);  // a hit leaves it as it is
    run();
    EXPECT_EQ(server->thumbCacheSize(), 301u);
    radio->write({"/api/thumb/none?i=301"}, ble::commandCharUuid);
    run();
    EXPECT_EQ(server->thumbCacheSize(), 1u);
}

TEST_F(BleThumbs, IdsOver255BytesSendNothing) {
    radio->write({"/api/thumb/" + std::string(256, 'x')}, ble::commandCharUuid);
    run();
    EXPECT_TRUE(radio->sentOn(ble::thumbCharUuid).empty());
    EXPECT_EQ(request("/api/thumb/" + std::string(255, 'x')).first.size(), 255u);
}

TEST_F(BleServer, SequenceNumbersCountPerCharacteristicAndWrapAt32) {
    startUp();
    radio->subscribe("phone", ble::stateCharUuid);
    radio->subscribe("phone", ble::thumbCharUuid);
    run();
    for (int i = 0; i < 33; ++i) {
        server->push(snapshotOf(1, i));
        run();
    }
    radio->write({"/api/thumb/a"}, ble::commandCharUuid);
    run();
    const auto states = messagesOn(ble::stateCharUuid);
    ASSERT_EQ(states.size(), 33u);
    EXPECT_EQ(states[31].seq, 31);
    EXPECT_EQ(states[32].seq, 0);
    EXPECT_EQ(messagesOn(ble::thumbCharUuid).at(0).seq, 0);
}

}  // namespace
}  // namespace ombry
