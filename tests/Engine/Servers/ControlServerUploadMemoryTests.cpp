// A 1 GiB browser upload goes to disk piece by piece: the server's resident memory barely grows. The body is
// sent from a second thread out of one reused zero buffer, so the sender adds nothing either.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "Engine/Servers/ControlServer.hpp"
#include "NetTestSupport.hpp"
#include "support/PeakMemory.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

TEST(ControlServerUploadMemory, AGibibyteUploadKeepsResidentGrowthUnder64MiB) {
    const auto dir = test::tempDir("bigupload");
    ControlServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.incomingDir = dir;
    auto server = ControlServer::create(options);
    std::promise<std::uintmax_t> landed;
    server->ingestUpload = [&](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
        std::error_code ec;
        landed.set_value(std::filesystem::file_size(request.tempPath, ec));
        std::filesystem::remove(request.tempPath, ec);
        reply({true, "big", "Big", {}});
    };
    std::promise<ControlServer::StartResult> started;
    server->start(0, [&](ControlServer::StartResult r) { started.set_value(std::move(r)); });
    auto result = started.get_future().get();
    ASSERT_TRUE(std::holds_alternative<ServerInfo>(result));
    const auto port = static_cast<std::uint16_t>(std::get<ServerInfo>(result).port);
    server->configureUpload(true, "tok");

    const test::PeakGrowth growth;
    ASSERT_GT(growth.before, 0);

    constexpr std::int64_t size = std::int64_t(1) << 30;
    test::RawClient c(port);
    ASSERT_TRUE(c.send("POST /api/upload/file?k=tok&filename=big.mov HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                       std::to_string(size) + "\r\n\r\n"));
    std::thread sender([&] {
        const std::string zeros(1 << 20, '\0');
        for (std::int64_t sent = 0; sent < size; sent += std::int64_t(zeros.size()))
            if (!c.send(zeros)) return;
    });
    sender.join();
    auto reply = c.readReply(false, 120);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status(), 200);
    auto file = landed.get_future();
    ASSERT_EQ(file.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(file.get(), std::uintmax_t(size));
    EXPECT_LT(growth.now(), 64 * 1024) << "resident before " << growth.before << " kB, peak growth in kB";
    server->stop();
}

}  // namespace
}  // namespace ombry
