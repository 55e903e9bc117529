// The rotating log file: lines appended, rotation past the size, the oldest file dropped, and lines from
// many threads each whole.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "Platform/LogFile.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(LogFile, RotatesPastItsSizeAndKeepsOnlyTheNewestFiles) {
    const fs::path dir = test::tempDir("logs") / "nested" / "logs";
    {
        RotatingFileSink sink(dir, 200, 2);
        for (int i = 0; i < 20; ++i) sink.write({LogLevel::notice, "APP", "line " + std::to_string(i), false});
    }
    ASSERT_TRUE(fs::exists(dir / "ombry.log"));
    EXPECT_TRUE(fs::exists(dir / "ombry.log.1"));
    EXPECT_TRUE(fs::exists(dir / "ombry.log.2"));
    EXPECT_FALSE(fs::exists(dir / "ombry.log.3"));
    for (const char* f : {"ombry.log", "ombry.log.1", "ombry.log.2"}) EXPECT_LE(fs::file_size(dir / f), 200u) << f;
    const auto newest = lines(dir / "ombry.log");
    ASSERT_FALSE(newest.empty());
    EXPECT_NE(newest.back().find("notice [APP] line 19"), std::string::npos) << newest.back();
    const auto older = lines(dir / "ombry.log.1");
    ASSERT_FALSE(older.empty());
    EXPECT_LT(std::stoi(older.back().substr(older.back().rfind(' ') + 1)),
              std::stoi(newest.front().substr(newest.front().rfind(' ') + 1)));

    // A later process appends to the file it finds.
    const auto before = lines(dir / "ombry.log").size();
    RotatingFileSink again(dir, 1 << 20, 2);
    again.write({LogLevel::error, "NET", "after restart", false});
    EXPECT_EQ(lines(dir / "ombry.log").size(), before + 1);
}

TEST(LogFile, LinesFromManyThreadsArriveWhole) {
    const fs::path dir = test::tempDir("logs-threads");
    {
        RotatingFileSink sink(dir, 1 << 20, 2);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&sink, t] {
                for (int i = 0; i < 200; ++i)
                    sink.write({LogLevel::info, "T" + std::to_string(t), std::string(40, char('a' + t)), false});
            });
        for (auto& th : threads) th.join();
    }
    const auto all = lines(dir / "ombry.log");
    ASSERT_EQ(all.size(), 800u);
    for (const auto& l : all) {
        const char c = l.back();
        EXPECT_NE(l.find(std::string(40, c)), std::string::npos) << l;
    }
}

TEST(LogFile, AFolderThatCannotBeMadeLogsNothingAndDoesNotFail) {
    const fs::path file = test::tempDir("logs-blocked") / "a-file";
    std::ofstream(file) << "x";
    RotatingFileSink sink(file / "logs", 100, 1);
    sink.write({LogLevel::notice, "APP", "nowhere", false});
    EXPECT_FALSE(fs::exists(file / "logs"));
}

TEST(LogFile, TheFolderFollowsTheStateHome) {
    EXPECT_EQ(logsDir(), fs::path(std::getenv("XDG_STATE_HOME")) / "Ombry" / "logs");
}

}  // namespace
}  // namespace ombry
