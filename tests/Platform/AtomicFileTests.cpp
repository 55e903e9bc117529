#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/AtomicFile.hpp"
#include "Platform/Clock.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {
struct FrozenWallClock : ::testing::Test {
    ManualClock clock{1000.0, 1700000000123.0};
    void SetUp() override { setAppClock(&clock); }
    void TearDown() override { setAppClock(nullptr); }
};
}  // namespace

// Several unreadable versions of one document set aside within one millisecond each keep their own copy.
TEST_F(FrozenWallClock, MoveAsideNeverReplacesAnEarlierCopy) {
    const fs::path folder = test::tempDir("aside");
    const fs::path file = folder / "settings.json";
    const std::string stamp = "settings.json.unreadable-1700000000123";
    std::vector<std::string> names;
    for (const char* text : {"first", "second", "third"}) {
        test::writeFile(file, text);
        std::string error;
        auto aside = files::moveAside(file, error);
        ASSERT_TRUE(aside) << error;
        EXPECT_EQ(aside->parent_path(), folder);
        EXPECT_EQ(test::readFile(*aside), text);
        names.push_back(aside->filename().string());
    }
    EXPECT_EQ(names, (std::vector<std::string>{stamp, stamp + "-2", stamp + "-3"}));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(test::readFile(folder / stamp), "first");
    EXPECT_EQ(test::readFile(folder / (stamp + "-2")), "second");

    clock.advance(0.001);  // a later millisecond starts again without a number
    test::writeFile(file, "fourth");
    std::string error;
    EXPECT_EQ(files::moveAside(file, error), folder / "settings.json.unreadable-1700000000124");

    EXPECT_FALSE(files::moveAside(folder / "missing.json", error));
    EXPECT_FALSE(error.empty());
}
