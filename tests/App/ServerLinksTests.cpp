// The adapters between the application state's links and the real servers: how a start ends, as the state
// reads it, and the servers' events reaching the link's callbacks.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <future>
#include <thread>

#include "../Engine/Servers/NetTestSupport.hpp"
#include "App/ServerLinks.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

ServerStartResult startAndWait(auto& link, std::uint16_t port, auto&& whileWaiting) {
    std::promise<ServerStartResult> done;
    auto result = done.get_future();
    link.start(port, [&](ServerStartResult r) { done.set_value(std::move(r)); });
    whileWaiting();
    EXPECT_EQ(result.wait_for(std::chrono::duration<double>(test::netWait)), std::future_status::ready);
    return result.get();
}

TEST(ServerLinks, StartsAnswerWithTheAddressOrWhyThereIsNone) {
    const std::uint16_t port = test::freePortPair();
    // A port that stays taken: the output server moves to the next.
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor taken(io, {boost::asio::ip::address_v4::loopback(), port});

    OutputServer::Options outputOptions;
    outputOptions.bindAddress = "127.0.0.1";
    OutputServerRemote output(fs::temp_directory_path(), outputOptions);
    const auto started = startAndWait(output, port, [] {});
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(started));
    EXPECT_EQ(std::get<ServerInfo>(started).port, port + 1);

    // The control server retries a taken port on its timers: a stop meanwhile ends the start as cancelled,
    // which the state must not report as a failure to bind.
    net::ManualNetTimers timers;
    ControlServer::Options controlOptions;
    controlOptions.bindAddress = "127.0.0.1";
    controlOptions.timers = &timers;
    ControlServerRemote control(controlOptions);
    const auto cancelled = startAndWait(control, port, [&] {
        for (int i = 0; i < 2000 && timers.armed() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(timers.armed(), 1u) << "the retry was never armed";
        control.stop();
    });
    ASSERT_TRUE(std::holds_alternative<ServerStartFailure>(cancelled));
    EXPECT_EQ(std::get<ServerStartFailure>(cancelled), ServerStartFailure::cancelled);
}

TEST(ServerLinks, ControlServerEventsReachTheLinkAndStopWhenItGoes) {
    std::promise<std::pair<int, int>> clients;
    auto counted = clients.get_future();
    std::once_flag first;
    ControlServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto control = std::make_unique<ControlServerRemote>(options);
    bool askedForState = false;
    control->snapshot = [&](ControlServerLink::SnapshotReply reply) {
        askedForState = true;
        reply(std::nullopt);
    };
    control->onClientsChanged = [&](int remotes, int companions) {
        // The upgrade itself is reported before the hello names the role.
        if (remotes > 0) std::call_once(first, [&] { clients.set_value({remotes, companions}); });
    };
    const auto started = startAndWait(*control, 0, [] {});
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(started));
    const auto port = std::uint16_t(std::get<ServerInfo>(started).port);

    test::RawClient http(port);
    ASSERT_TRUE(http.send("GET /api/state HTTP/1.1\r\nHost: x\r\n\r\n"));
    const auto reply = http.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 200);
    EXPECT_TRUE(askedForState);

    test::RawClient ws(port);
    ASSERT_TRUE(ws.upgrade("/"));
    ASSERT_TRUE(ws.sendFrame(0x1, R"({"type":"hello","role":"remote"})"));
    ASSERT_EQ(counted.wait_for(std::chrono::duration<double>(test::netWait)), std::future_status::ready);
    EXPECT_EQ(counted.get(), std::make_pair(1, 0));

    // Going away stops the server: the client is dropped and the port closed.
    control.reset();
    EXPECT_TRUE(ws.closedWithin());
    test::RawClient after;
    after.connect(port);
    EXPECT_FALSE(after.connected());
}

}  // namespace
