#include <gtest/gtest.h>

#include "Engine/Library/MediaRegistry.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/MainQueue.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {
struct MediaRegistryTest : ::testing::Test {
    ManualQueue q;
    ScopedMainQueue scope{q};
    void SetUp() override {
        for (auto f : {MediaRegistry::file(), MediaTombstones::file()}) fs::remove(f);
        fs::remove_all(Store::mediaDir() / "reg");
    }
};
const std::string hashA(64, 'a'), hashB(64, 'b');
}  // namespace

TEST_F(MediaRegistryTest, FirstRegistrationWinsAndLookupsNeedTheFile) {
    test::writeFile(Store::mediaDir() / "one.mp4", "12345");
    test::writeFile(Store::mediaDir() / "two.mp4", "xy");
    MediaRegistry reg;
    q.clock().setWallMs(1000);
    EXPECT_TRUE(reg.registerFile(hashA, Store::mediaDir() / "one.mp4", MediaOrigin::upload));
    EXPECT_FALSE(reg.registerFile(hashA, Store::mediaDir() / "two.mp4", MediaOrigin::cloud));
    EXPECT_EQ(reg.entries.at(hashA), (MediaRegistry::Entry{hashA, "one.mp4", 5, MediaOrigin::upload, 1000}));
    EXPECT_EQ(reg.existingFile(hashA), Store::mediaDir() / "one.mp4");
    EXPECT_EQ(reg.origin("one.mp4"), MediaOrigin::upload);
    EXPECT_EQ(reg.origin("ONE.mp4"), std::nullopt);

    fs::remove(Store::mediaDir() / "one.mp4");  // removed behind the application's back
    EXPECT_EQ(reg.existingFile(hashA), std::nullopt);
    EXPECT_EQ(reg.existingFile(hashB), std::nullopt);
}

TEST_F(MediaRegistryTest, UnsafeFileNamesNeverLeaveTheMediaFolder) {
    test::writeFile(Store::dir() / "settings.json", "{}");
    MediaRegistry reg;
    reg.entries[hashA] = {hashA, "../settings.json", 2, MediaOrigin::lan, 1};
    reg.entries[hashB] = {hashB, "..", 2, MediaOrigin::lan, 1};
    EXPECT_EQ(reg.existingFile(hashA), std::nullopt);
    EXPECT_EQ(reg.existingFile(hashB), std::nullopt);
}

TEST_F(MediaRegistryTest, RemoveByFilenameTakesEveryEntryNamingIt) {
    MediaRegistry reg;
    reg.entries[hashA] = {hashA, "clip.mov", 1, MediaOrigin::local, 1};
    reg.entries[hashB] = {hashB, "clip.mov", 1, MediaOrigin::cloud, 2};
    reg.entries["c"] = {"c", "other.mov", 1, MediaOrigin::cloud, 2};
    reg.removeByFilename("clip.mov");
    ASSERT_EQ(reg.entries.size(), 1u);
    EXPECT_TRUE(reg.entries.count("c"));
}

TEST_F(MediaRegistryTest, DocumentsRoundTripAndFallBackToEmpty) {
    MediaRegistry reg;
    reg.entries[hashA] = {hashA, "a.mp4", 1 << 20, MediaOrigin::cloud, 1.7e12};
    reg.save();
    MediaTombstones t{{hashA, hashB}};
    t.save();
    q.runPending();
    EXPECT_EQ(MediaRegistry::load(), reg);
    EXPECT_EQ(MediaTombstones::load(), t);
    auto written = json::parse(test::readFile(MediaRegistry::file()));
    EXPECT_EQ(written["entries"][hashA]["origin"], "cloud");

    fs::remove(MediaTombstones::file());
    EXPECT_TRUE(MediaTombstones::load().hashes.empty());
    test::writeFile(MediaTombstones::file(), R"({"hashes": []})");
    EXPECT_TRUE(MediaTombstones::load().hashes.empty());
    EXPECT_TRUE(fs::exists(MediaTombstones::file()));

    // An entry without "addedAt" spoils the whole document; it is kept aside, not overwritten.
    test::writeFile(MediaRegistry::file(),
                    R"({"entries": {"h": {"contentHash": "h", "filename": "f", "size": 1, "origin": "lan"}}})");
    EXPECT_TRUE(MediaRegistry::load().entries.empty());
    EXPECT_FALSE(fs::exists(MediaRegistry::file()));
    int aside = 0;
    for (const auto& e : fs::directory_iterator(Store::dir()))
        if (e.path().filename().string().starts_with("mediaRegistry.json.unreadable-")) ++aside;
    EXPECT_EQ(aside, 1);
}
