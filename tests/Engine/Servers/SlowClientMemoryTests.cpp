// A WebSocket client that never reads while it asks again and again: both servers' resident memory barely
// grows, and the client is closed. Kept out of the sanitizer runs, whose shadow memory would be measured.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <string>

#include "Engine/Servers/ControlServer.hpp"
#include "Engine/Servers/OutputServer.hpp"
#include "NetTestSupport.hpp"
#include "support/PeakMemory.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

using test::maskedFrame;
using test::RawClient;

using test::PeakGrowth;

std::string repeated(const std::string& frame, int n) {
    std::string out;
    out.reserve(frame.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) out += frame;
    return out;
}

TEST(SlowClientMemory, OutputServerAnsweringHellosOfAPageThatNeverReads) {
    const auto bundle = test::tempDir("slowout");
    test::writeFile(bundle / "index.html", "x");
    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto server = OutputServer::create(bundle, options);
    // The count falls back to 0 with the preview hello behind the flood: the flood has been answered.
    std::promise<void> floodRead;
    bool counted = false, read = false;
    server->onConnections = [&](int n) {
        if (n == 1) counted = true;
        if (n == 0 && counted && !read) {
            read = true;
            floodRead.set_value();
        }
    };
    std::promise<OutputServer::StartResult> started;
    server->start(0, [&](OutputServer::StartResult r) { started.set_value(std::move(r)); });
    auto result = started.get_future().get();
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
    const auto port = static_cast<std::uint16_t>(std::get<ServerInfo>(result).port);
    ProgramState state;
    state.rev = 1;
    state.stage.background = std::string(64 * 1024, 'b');  // a state of 64 KB
    server->broadcastState(state);

    PeakGrowth growth;
    RawClient slow = RawClient::slowReader(port);
    ASSERT_TRUE(slow.upgrade());
    // 4000 hellos: a fresh 64 KB answer each, 250 MB if they piled up.
    ASSERT_TRUE(slow.send(repeated(maskedFrame(1, R"({"type":"hello","role":"output"})"), 4000) +
                          maskedFrame(1, R"({"type":"hello","role":"preview"})")));
    ASSERT_EQ(floodRead.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    // A page that reads still gets what is pushed, after the flood was read.
    RawClient reader(port);
    ASSERT_TRUE(reader.upgrade());
    state.rev = 2;
    server->broadcastState(state);
    auto text = reader.readText();
    ASSERT_TRUE(text);
    EXPECT_EQ(Json::parse(*text).at("state").at("rev"), 2);
    EXPECT_LT(growth.now(), 32 * 1024) << "peak growth in kB";
    server->stop();
}

TEST(SlowClientMemory, ControlServerPushingToARemoteThatNeverReads) {
    ControlServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto server = ControlServer::create(options);
    std::promise<ControlServer::StartResult> started;
    server->start(0, [&](ControlServer::StartResult r) { started.set_value(std::move(r)); });
    auto result = started.get_future().get();
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
    const auto port = static_cast<std::uint16_t>(std::get<ServerInfo>(result).port);

    PeakGrowth growth;
    RawClient slow = RawClient::slowReader(port);
    ASSERT_TRUE(slow.upgrade());
    ASSERT_TRUE(slow.send(repeated(maskedFrame(1, R"({"type":"hello","role":"remote"})"), 4000)));
    RawClient reader(port);
    ASSERT_TRUE(reader.upgrade());
    ASSERT_TRUE(reader.sendFrame(1, R"({"type":"hello","role":"remote"})"));
    // 1000 snapshots of 128 KB as the show changes: 128 MB if they piled up for the slow remote.
    ControlSnapshot snapshot;
    for (int rev = 1; rev <= 1000; ++rev) {
        snapshot.rev = rev;
        snapshot.host = std::string(128 * 1024, 'h');
        server->push(snapshot);
        if (rev % 100 == 0) {
            // The reader takes everything up to this push.
            for (;;) {
                auto text = reader.readText();
                ASSERT_TRUE(text) << rev;
                if (Json::parse(*text).at("rev") == rev) break;
            }
        }
    }
    EXPECT_LT(growth.now(), 32 * 1024) << "peak growth in kB";
    server->stop();
}

}  // namespace
}  // namespace ombry
