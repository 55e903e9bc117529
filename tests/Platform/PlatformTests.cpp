#include <gtest/gtest.h>

#include <set>

#include "Platform/Defaults.hpp"
#include "Platform/Log.hpp"
#include "Platform/Paths.hpp"
#include "Platform/Uuid.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

TEST(Uuid, FreshUpperCaseIds) {
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        std::string id = makeUuid();
        EXPECT_TRUE(isUuid(id)) << id;
        EXPECT_EQ(id[14], '4');  // random (version 4)
        for (char c : id) EXPECT_FALSE(c >= 'a' && c <= 'f');
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 100u);
    for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G"})
        EXPECT_FALSE(isUuid(bad)) << bad;
}

TEST(FileDefaults, PersistsAcrossInstances) {
    fs::path file = test::tempDir("defaults") / "Ombry" / "defaults.json";
    {
        FileDefaults d(file);
        d.set("logMediaNames", true);
        d.set("tileSize", 180.0);
        d.set("lastRunVersion", "0.1.0");
        d.remove("lastRunVersion");
    }
    FileDefaults again(file);
    EXPECT_TRUE(again.boolValue("logMediaNames"));
    EXPECT_DOUBLE_EQ(again.number("tileSize"), 180.0);
    EXPECT_EQ(again.string("lastRunVersion", "none"), "none");
    // A value of another type reads as the fallback.
    EXPECT_FALSE(again.boolValue("tileSize", false));
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
}

TEST(FileDefaults, UnreadableFileIsMovedAsideNotOverwritten) {
    fs::path dir = test::tempDir("defaults-bad");
    fs::path file = dir / "defaults.json";
    test::writeFile(file, "{ not json");
    FileDefaults d(file);
    EXPECT_FALSE(d.value("anything"));
    d.set("hasSeenOnboarding", true);
    int aside = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("defaults.json.unreadable-", 0) == 0) {
            ++aside;
            EXPECT_EQ(test::readFile(e.path()), "{ not json");
        }
    EXPECT_EQ(aside, 1);
}

TEST(Log, CapturingSinkSeesLines) {
    CapturingLogSink sink;
    ScopedLogSink scope(sink);
    logLine(LogLevel::error, "MED", "MED-01 Clip is missing subject=- error=-", true);
    ASSERT_EQ(sink.records().size(), 1u);
    EXPECT_EQ(sink.records()[0].category, "MED");
    EXPECT_TRUE(sink.records()[0].isPrivate);
    EXPECT_TRUE(sink.contains("subject=-"));
}

TEST(Paths, XdgFoldersAndOsName) {
    EXPECT_EQ(paths::dataHome(), fs::path(std::getenv("XDG_DATA_HOME")));
    EXPECT_EQ(paths::configHome(), fs::path(std::getenv("XDG_CONFIG_HOME")));
    EXPECT_FALSE(paths::osDescription().empty());
}
