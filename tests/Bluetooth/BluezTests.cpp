// The BlueZ backend across a real D-Bus boundary: a private bus, a stand-in for BlueZ that takes the
// registrations and then plays the phone. No radio is involved anywhere.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Engine/Servers/BLEControlServer.hpp"
#include "Platform/Bluetooth/BluezPeripheral.hpp"
#include "support/PrivateBus.hpp"

namespace ombry {
namespace {

using nlohmann::json;
constexpr const char* kTestIface = "com.dovel.Ombry.Test.FakeBluez";

// Polls a condition that another process makes true; the bound only guards against a hang.
template <class F>
bool eventually(F pred, double seconds = 20.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

ControlSnapshot snapshotOf(int clips, const std::function<std::string(int)>& idOf) {
    ControlSnapshot snapshot;
    for (int i = 1; i <= clips; ++i) {
        ControlClip c;
        c.index = i;
        c.id = idOf(i);
        c.name = "Clip " + c.id;
        snapshot.clips.push_back(c);
    }
    return snapshot;
}

// What the server reports, recorded from its queue's thread.
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bt::BluetoothState> states;
    std::vector<int> clients;
    std::vector<ControlCommand> commands;

    template <class F>
    bool waitUntil(F pred, double seconds = 20.0) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return pred(); });
    }
};

class BluezBackend : public ::testing::Test {
protected:
    void startFake(std::vector<std::string> flags = {}) {
        std::vector<std::string> argv{"/usr/bin/python3", OMBRY_FAKE_BLUEZ, bus.address()};
        argv.insert(argv.end(), flags.begin(), flags.end());
        fake = std::make_unique<test::Child>(argv);
        ASSERT_EQ(fake->readLine(), "ready");
        client = sdbus::createSessionBusConnectionWithAddress(bus.address());
        bluez = sdbus::createProxy(*client, "org.bluez", "/");
    }

    void makeServer(std::string address) {
        ioThread = std::thread([this] { ioc.run(); });
        server = BLEControlServer::create(ioc.get_executor(), bt::bluezPeripheralFactory(std::move(address)), "Stage Left");
        server->onStateChange = [this](bt::BluetoothState s) {
            std::lock_guard lock(reports.mutex);
            reports.states.push_back(s);
            reports.changed.notify_all();
        };
        server->onClientsChanged = [this](int n) {
            std::lock_guard lock(reports.mutex);
            reports.clients.push_back(n);
            reports.changed.notify_all();
        };
        server->perform = [this](ControlCommand command, std::function<void(ControlResult)> done) {
            {
                std::lock_guard lock(reports.mutex);
                reports.commands.push_back(std::move(command));
                reports.changed.notify_all();
            }
            done(ControlResult::ok());
        };
    }

    void TearDown() override {
        server.reset();  // the last reference may sit in a queued task: the queue ends below
        work.reset();
        if (ioThread.joinable()) ioThread.join();
    }

    json application() {
        std::string text;
        bluez->callMethod("Application").onInterface(kTestIface).storeResultsTo(text);
        return json::parse(text);
    }
    bool registered() {
        const json app = application();
        return app["registrations"].get<int>() > 0 && !app["ads"].empty();
    }
    uint8_t write(const std::string& uuid, const std::string& text) {
        uint8_t att = 0xFF;
        bluez->callMethod("Write").onInterface(kTestIface).withArguments(uuid, std::vector<uint8_t>(text.begin(), text.end())).storeResultsTo(att);
        return att;
    }
    std::vector<sdbus::Struct<uint8_t, bool, std::vector<uint8_t>>> messages(const std::string& uuid) {
        std::vector<sdbus::Struct<uint8_t, bool, std::vector<uint8_t>>> out;
        bluez->callMethod("Messages").onInterface(kTestIface).withArguments(uuid).storeResultsTo(out);
        return out;
    }
    // The stand-in, the server on it, and the service published and advertised.
    void startPublished() {
        startFake();
        makeServer(bus.address());
        server->start();
        ASSERT_TRUE(eventually([&] { return registered(); }));
    }
    // The phone subscribes to the state; BlueZ tells the server.
    void subscribeState(const char* method, std::optional<uint16_t> mtu) {
        if (mtu) {
            uint16_t got = 0;
            bluez->callMethod(method).onInterface(kTestIface).withArguments(std::string(ble::stateCharUuid), *mtu).storeResultsTo(got);
            EXPECT_EQ(got, *mtu);
        } else {
            bluez->callMethod(method).onInterface(kTestIface).withArguments(std::string(ble::stateCharUuid));
        }
        ASSERT_TRUE(reports.waitUntil([&] { return !reports.clients.empty() && reports.clients.back() == 1; }));
    }
    void unsubscribeState() {
        bluez->callMethod("Unsubscribe").onInterface(kTestIface).withArguments(std::string(ble::stateCharUuid));
        ASSERT_TRUE(reports.waitUntil([&] { return reports.clients.back() == 0; }));
    }
    // The one message the phone rebuilt on the state characteristic: compressed flag and text.
    std::pair<bool, std::string> receivedState(double seconds = 20) {
        EXPECT_TRUE(eventually([&] { return !messages(ble::stateCharUuid).empty(); }, seconds));
        const auto got = messages(ble::stateCharUuid);
        EXPECT_EQ(got.size(), 1u);
        if (got.empty()) return {};
        const auto& payload = got[0].get<2>();
        return {got[0].get<1>(), std::string(payload.begin(), payload.end())};
    }
    std::vector<std::vector<uint8_t>> stateChunks() {
        std::vector<std::vector<uint8_t>> chunks;
        bluez->callMethod("Chunks").onInterface(kTestIface).withArguments(std::string(ble::stateCharUuid)).storeResultsTo(chunks);
        return chunks;
    }

    test::PrivateBus bus;
    std::unique_ptr<test::Child> fake;
    std::unique_ptr<sdbus::IConnection> client;
    std::unique_ptr<sdbus::IProxy> bluez;
    boost::asio::io_context ioc;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work{ioc.get_executor()};
    std::thread ioThread;
    std::shared_ptr<BLEControlServer> server;
    Reports reports;
};

TEST_F(BluezBackend, RegistersTheServiceAndTheAdvertisement) {
    startFake();
    makeServer(bus.address());
    server->configureControl(std::string("pw"));
    server->start();
    ASSERT_TRUE(eventually([&] { return registered(); }));

    const json app = application();
    std::map<std::string, json> byPath;
    std::vector<std::string> charOrder;
    for (const auto& o : app["objects"]) {
        // BlueZ takes a characteristic only after its service.
        if (o["interfaces"].contains("org.bluez.GattService1")) {
            EXPECT_TRUE(charOrder.empty()) << "service listed first";
        }
        byPath[o["path"]] = o["interfaces"];
        if (o["interfaces"].contains("org.bluez.GattCharacteristic1")) charOrder.push_back(o["interfaces"]["org.bluez.GattCharacteristic1"]["UUID"]);
    }
    std::string servicePath;
    for (const auto& [path, ifaces] : byPath)
        if (ifaces.contains("org.bluez.GattService1")) {
            EXPECT_TRUE(servicePath.empty()) << "one service";
            servicePath = path;
            EXPECT_EQ(ifaces["org.bluez.GattService1"]["UUID"], "7B3C0001-9E7D-4C22-8A4B-1F5E30D6C9AA");
            EXPECT_EQ(ifaces["org.bluez.GattService1"]["Primary"], true);
        }
    ASSERT_FALSE(servicePath.empty());
    std::map<std::string, json> chars;
    for (const auto& [path, ifaces] : byPath)
        if (ifaces.contains("org.bluez.GattCharacteristic1")) {
            const json& c = ifaces["org.bluez.GattCharacteristic1"];
            EXPECT_EQ(c["Service"], servicePath);
            chars[c["UUID"]] = c;
        }
    ASSERT_EQ(chars.size(), 3u);
    EXPECT_EQ(charOrder, (std::vector<std::string>{ble::commandCharUuid, ble::stateCharUuid, ble::thumbCharUuid}))
        << "the service lists command, state, thumbnail";
    EXPECT_EQ(chars["7B3C0002-9E7D-4C22-8A4B-1F5E30D6C9AA"]["Flags"], json::array({"write"}));
    EXPECT_EQ(chars["7B3C0003-9E7D-4C22-8A4B-1F5E30D6C9AA"]["Flags"], json::array({"notify"}));
    EXPECT_EQ(chars["7B3C0004-9E7D-4C22-8A4B-1F5E30D6C9AA"]["Flags"], json::array({"notify"}));
    EXPECT_TRUE(chars["7B3C0003-9E7D-4C22-8A4B-1F5E30D6C9AA"].contains("NotifyAcquired")) << "offers AcquireNotify";
    EXPECT_FALSE(chars["7B3C0002-9E7D-4C22-8A4B-1F5E30D6C9AA"].contains("NotifyAcquired"));

    ASSERT_EQ(app["ads"].size(), 1u);
    const json& ad = app["ads"][0];
    EXPECT_EQ(ad["Type"], "peripheral");
    EXPECT_EQ(ad["ServiceUUIDs"], json::array({"7B3C0001-9E7D-4C22-8A4B-1F5E30D6C9AA", "7B3C"}));
    EXPECT_EQ(ad["LocalName"], "Stage Left");

    // Clearing the password re-advertises without the marker.
    server->configureControl(std::nullopt);
    ASSERT_TRUE(eventually([&] {
        const json a = application()["ads"];
        return a.size() == 1 && a[0]["ServiceUUIDs"].size() == 1;
    }));

    server->stop();
    ASSERT_TRUE(eventually([&] { return application()["ads"].empty() && application()["objects"].empty(); }));
}

TEST_F(BluezBackend, PhoneWritesACommandAndRebuildsACompressedSnapshot) {
    startPublished();
    subscribeState("Subscribe", 185);
    const ControlSnapshot snapshot = snapshotOf(300, [](int i) { return "clip-" + std::to_string(i); });
    server->push(snapshot);

    EXPECT_EQ(write(ble::commandCharUuid, "/api/clip/next"), 0x00);
    ASSERT_TRUE(reports.waitUntil([&] { return !reports.commands.empty(); }));
    {
        std::lock_guard lock(reports.mutex);
        EXPECT_EQ(reports.commands, std::vector<ControlCommand>{control::NextClip{}});
    }

    const auto [compressed, text] = receivedState();
    EXPECT_TRUE(compressed);
    EXPECT_EQ(text, wireText(snapshot));
    const auto chunks = stateChunks();
    ASSERT_GT(chunks.size(), 1u);
    for (const auto& c : chunks) EXPECT_LE(c.size(), 182u) << "MTU 185 less 3";

    // Writes that carry no UTF-8 text are refused with ATT "unlikely error".
    EXPECT_EQ(write(ble::commandCharUuid, "/api/\xFF"), 0x0E);
    EXPECT_EQ(write(ble::commandCharUuid, ""), 0x0E);

    // The phone goes away: BlueZ closes the link.
    unsubscribeState();
}

TEST_F(BluezBackend, ALinkThatFillsUpTakesTheRestOnceItDrains) {
    startPublished();
    subscribeState("Subscribe", 23);
    // Thousands of 20-byte notifications: far more than the socket holds at once.
    uint64_t x = 88172645463325252ull;
    const ControlSnapshot snapshot = snapshotOf(1500, [&](int) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        return std::to_string(x);
    });
    server->push(snapshot);
    EXPECT_EQ(receivedState(60).second, wireText(snapshot)) << "no chunk lost or repeated";
    EXPECT_GT(stateChunks().size(), 1000u);
}

TEST_F(BluezBackend, WithoutAcquireNotifyValuesGoOutAsPropertyChanges) {
    startPublished();
    subscribeState("SubscribeByValue", std::nullopt);
    const ControlSnapshot snapshot = snapshotOf(40, [](int i) { return "clip-" + std::to_string(i); });
    server->push(snapshot);
    EXPECT_EQ(receivedState().second, wireText(snapshot));
    const auto chunks = stateChunks();
    ASSERT_GT(chunks.size(), 1u);
    for (const auto& c : chunks) EXPECT_LE(c.size(), 20u) << "no MTU known: the smallest";
    unsubscribeState();
}

TEST_F(BluezBackend, StateFollowsTheAdaptersPower) {
    startFake({"--powered-off"});
    makeServer(bus.address());
    server->start();
    ASSERT_TRUE(reports.waitUntil([&] { return !reports.states.empty(); }));
    {
        std::lock_guard lock(reports.mutex);
        EXPECT_EQ(reports.states.front(), bt::BluetoothState::poweredOff);
    }
    EXPECT_EQ(application()["registrations"], 0) << "nothing published while the adapter is off";

    bluez->callMethod("SetPowered").onInterface(kTestIface).withArguments(true);
    ASSERT_TRUE(reports.waitUntil([&] { return reports.states.back() == bt::BluetoothState::poweredOn; }));
    ASSERT_TRUE(eventually([&] { return registered(); })) << "published by itself once powered";
}

TEST_F(BluezBackend, AnAdapterPluggedInLaterIsTakenUp) {
    startFake({"--no-adapter"});
    makeServer(bus.address());
    server->start();
    ASSERT_TRUE(reports.waitUntil([&] { return !reports.states.empty(); }));
    ASSERT_TRUE(reports.waitUntil([&] { return reports.states.back() == bt::BluetoothState::unsupported; }));
    bluez->callMethod("AddAdapter").onInterface(kTestIface);
    ASSERT_TRUE(reports.waitUntil([&] { return reports.states.back() == bt::BluetoothState::poweredOn; }));
    EXPECT_TRUE(eventually([&] { return registered(); }));
}

TEST_F(BluezBackend, ARestartedBluezGetsTheServiceAgain) {
    startPublished();
    subscribeState("Subscribe", 185);
    // bluetoothd goes away and comes back: everything registered with it is gone.
    fake.reset();
    ASSERT_TRUE(reports.waitUntil([&] { return reports.states.back() == bt::BluetoothState::resetting; }));
    ASSERT_TRUE(reports.waitUntil([&] { return reports.clients.back() == 0; }));
    startFake();
    ASSERT_TRUE(reports.waitUntil([&] { return reports.states.back() == bt::BluetoothState::poweredOn; }));
    EXPECT_TRUE(eventually([&] { return registered(); })) << "published and advertised again by itself";
}

TEST_F(BluezBackend, WithoutAnAdapterOrABusItIsUnsupportedAndTheRestRunsOn) {
    for (bool noBus : {false, true}) {
        SCOPED_TRACE(noBus ? "no bus" : "no adapter");
        if (!noBus) startFake({"--no-adapter"});
        Reports local;
        boost::asio::io_context q;
        auto s = BLEControlServer::create(q.get_executor(),
                                          bt::bluezPeripheralFactory(noBus ? "unix:path=/nonexistent/bus" : bus.address()), std::nullopt);
        s->onStateChange = [&](bt::BluetoothState st) { local.states.push_back(st); };
        s->start();
        s->push(ControlSnapshot{});
        // The state report comes from the backend's thread through the queue.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (local.states.empty() && std::chrono::steady_clock::now() < deadline) {
            q.restart();
            q.run_one_for(std::chrono::milliseconds(50));
        }
        ASSERT_EQ(local.states, std::vector<bt::BluetoothState>{bt::BluetoothState::unsupported});
        s->stop();
        q.restart();
        q.poll();
        fake.reset();
    }
}

}  // namespace
}  // namespace ombry
