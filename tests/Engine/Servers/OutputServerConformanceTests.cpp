// The output server as clients that are not ours see it: curl for ranges, HEAD and several requests on one
// connection, and Python's websockets library for a page receiving the state after its hello.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>

#include "Engine/Servers/OutputServer.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

class ConformanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test::tempDir("conf");
        test::writeFile(root / "bundle" / "index.html", "<!doctype html>");
        std::string bytes;
        for (int i = 0; i < 1000; ++i) bytes += static_cast<char>('a' + i % 26);
        test::writeFile(root / "clip.mp4", bytes);
        OutputServer::Options options;
        options.bindAddress = "127.0.0.1";
        options.loop = &loop;
        server = OutputServer::create(root / "bundle", options);
        server->updateMediaIndex({{"clip", (root / "clip.mp4").string()}});
        std::promise<OutputServer::StartResult> started;
        server->start(0, [&](OutputServer::StartResult r) { started.set_value(r); });
        auto result = started.get_future().get();
        ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
        base = "http://127.0.0.1:" + std::to_string(std::get<ServerInfo>(result).port);
    }
    void TearDown() override { server->stop(); }

    net::NetLoop loop;
    std::filesystem::path root;
    std::shared_ptr<OutputServer> server;
    std::string base;
};

TEST_F(ConformanceTest, CurlRangesAndHead) {
    struct Case {
        const char* range;
        const char* expected;  // "<status> <bytes downloaded>"
    };
    for (const Case& k : {Case{"0-", "206 1000"}, Case{"-100", "206 100"}, Case{"-2000", "206 1000"},
                          Case{"10-20000", "206 990"}, Case{"500-400", "200 1000"}, Case{"1000-", "200 1000"},
                          Case{"0-99,200-299", "206 1000"}}) {
        const auto out = run("curl -s --http1.1 -o /dev/null -H 'Range: bytes=" + std::string(k.range) +
                             "' -w '%{http_code} %{size_download}' " + base + "/media/clip");
        EXPECT_EQ(out, k.expected) << k.range;
    }
    const auto ranged = run("curl -s --http1.1 -r 900-909 " + base + "/media/clip");
    EXPECT_EQ(ranged, "qrstuvwxyz");
    const auto head = run("curl -s --http1.1 -I " + base + "/media/clip");
    EXPECT_NE(head.find("HTTP/1.1 200 OK"), std::string::npos) << head;
    EXPECT_NE(head.find("Content-Length: 1000"), std::string::npos) << head;
    EXPECT_NE(head.find("Accept-Ranges: bytes"), std::string::npos) << head;
}

TEST_F(ConformanceTest, CurlSendsSeveralRequestsOnOneConnection) {
    // New connections made per URL: only the first needs one.
    const auto out = run("curl -s --http1.1 -o /dev/null -o /dev/null -o /dev/null -w '%{http_code}/%{num_connects} ' " +
                         base + "/media/clip " + base + "/ " + base + "/missing");
    EXPECT_EQ(out, "200/1 200/0 404/0 ");
}

TEST_F(ConformanceTest, PythonWebSocketPageReceivesTheStateAfterItsHello) {
    ProgramState state;
    state.rev = 42;
    state.masterVolume = 0.5;
    server->broadcastState(state);
    const std::string ws = "ws" + base.substr(4) + "/";
    const std::string script =
        "import asyncio, websockets\n"
        "async def main():\n"
        "    async with websockets.connect('" + ws + "') as ws:\n"
        "        await ws.send('{\"type\":\"hello\",\"role\":\"output\"}')\n"
        "        print(await asyncio.wait_for(ws.recv(), 10))\n"
        "        pong = await ws.ping()\n"
        "        await asyncio.wait_for(pong, 10)\n"
        "        print('pong')\n"
        "asyncio.run(main())\n";
    test::writeFile(root / "page.py", script);
    const auto out = run("/usr/bin/python3 " + (root / "page.py").string() + " 2>&1");
    const auto newline = out.find('\n');
    ASSERT_NE(newline, std::string::npos) << out;
    const Json message = Json::parse(out.substr(0, newline));
    EXPECT_EQ(message.at("type"), "state");
    EXPECT_EQ(message.at("state").at("rev"), 42);
    EXPECT_EQ(message.at("state").at("masterVolume"), 0.5);
    EXPECT_EQ(out.substr(newline + 1), "pong\n");
}

}  // namespace
}  // namespace ombry
