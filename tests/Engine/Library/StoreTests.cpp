#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <random>
#include <thread>

#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Paths.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;
using nlohmann::json;


namespace {

struct StoreTest : ::testing::Test {
    ManualQueue q;
    ScopedMainQueue scope{q};
    void SetUp() override { IssueLog::shared().clear(); }
    std::vector<Issue> saveIssues() {
        std::vector<Issue> out;
        for (const auto& i : IssueLog::shared().recent())
            if (i.code == IssueCode::projectSaveFailed) out.push_back(i);
        return out;
    }
};

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST_F(StoreTest, FoldersLiveUnderTheDataHome) {
    const fs::path root = paths::dataHome() / "Ombry";
    EXPECT_EQ(Store::dir(), root);
    EXPECT_EQ(Store::thumbnailDir(), root / "thumbnails");
    EXPECT_EQ(Store::mediaDir(), root / "Media");
    EXPECT_EQ(Store::mediaIncomingDir(), root / "Media" / ".incoming");
    EXPECT_EQ(Store::projectsDir(), root / "Projects");
    for (const auto* p : {&Store::thumbnailDir(), &Store::mediaIncomingDir(), &Store::projectsDir()})
        EXPECT_TRUE(fs::is_directory(*p)) << *p;
}

TEST_F(StoreTest, WritesPrettyJsonIntoNewFoldersAndReplacesWhole) {
    const fs::path target = test::tempDir("store") / "a" / "b" / "doc.json";
    Store::saveDoc(json{{"name", "first"}, {"list", {1, 2, 3}}}, target);
    ASSERT_TRUE(fs::exists(target));
    const std::string text = test::readFile(target);
    EXPECT_GT(std::count(text.begin(), text.end(), '\n'), 3) << text;
    EXPECT_EQ(json::parse(text)["name"], "first");

    Store::saveDoc(json{{"other", true}}, target);
    EXPECT_EQ(json::parse(test::readFile(target)), (json{{"other", true}}));
    EXPECT_EQ(listing(target.parent_path()), std::vector<std::string>{"doc.json"});
}

TEST_F(StoreTest, FailedWriteKeepsTheOldFileAndCountsOneIssueUntilAGoodWrite) {
    const fs::path folder = test::tempDir("store");
    const fs::path target = folder / "projects.json";
    Store::saveDoc(json{{"v", 1}}, target);
    // A folder squatting on the staging name makes the write fail without touching the target.
    fs::create_directories(folder / "projects.json.tmp" / "x");

    Store::saveDoc(json{{"v", 2}}, target);
    q.runPending();
    ASSERT_EQ(saveIssues().size(), 1u);
    EXPECT_EQ(saveIssues()[0].subject, "projects.json");
    EXPECT_EQ(json::parse(test::readFile(target))["v"], 1);

    Store::saveDoc(json{{"v", 3}}, target);
    q.runPending();
    ASSERT_EQ(saveIssues().size(), 1u);
    EXPECT_EQ(saveIssues()[0].count, 2);

    fs::remove_all(folder / "projects.json.tmp");
    Store::saveDoc(json{{"v", 4}}, target);
    q.runPending();
    EXPECT_TRUE(saveIssues().empty());
    EXPECT_EQ(json::parse(test::readFile(target))["v"], 4);
    EXPECT_EQ(listing(folder), std::vector<std::string>{"projects.json"});
}

TEST_F(StoreTest, ReplaceFailureRemovesTheStagingFile) {
    const fs::path folder = test::tempDir("store");
    fs::create_directories(folder / "doc.json" / "inside");  // rename over a non-empty folder fails
    Store::saveDoc(json{{"v", 1}}, folder / "doc.json");
    q.runPending();
    EXPECT_EQ(saveIssues().size(), 1u);
    EXPECT_EQ(listing(folder), std::vector<std::string>{"doc.json"});
    EXPECT_TRUE(fs::is_directory(folder / "doc.json"));
}

TEST_F(StoreTest, NonFiniteNumbersAreNotWritten) {
    const fs::path folder = test::tempDir("store");
    for (double bad : {NAN, INFINITY}) {
        Store::saveDoc(json{{"items", {{{"duration", bad}}}}}, folder / "bad.json");
        q.runPending();
    }
    EXPECT_TRUE(fs::is_empty(folder));
    ASSERT_EQ(saveIssues().size(), 1u);
    EXPECT_EQ(saveIssues()[0].subject, "bad.json");
}

TEST_F(StoreTest, UnreadableSideDocumentIsMovedAsideNotReplaced) {
    const fs::path folder = test::tempDir("store");
    const fs::path file = folder / "savedPlaylists.json";
    q.clock().setWallMs(1700000000123.0);
    struct Case {
        std::string text;
        bool aside;
    };
    for (const Case& c : {Case{"{ not json", true}, Case{"[1, 2]", true}, Case{"{\"n\": 5}", false}}) {
        test::writeFile(file, c.text);
        auto read = Store::loadDoc<int>(file, [](const json& j) { return j.at("n").get<int>(); });
        if (c.aside) {
            EXPECT_FALSE(read) << c.text;
            EXPECT_FALSE(fs::exists(file));
            EXPECT_EQ(test::readFile(folder / "savedPlaylists.json.unreadable-1700000000123"), c.text);
            fs::remove(folder / "savedPlaylists.json.unreadable-1700000000123");
        } else {
            EXPECT_EQ(read, 5);
            EXPECT_TRUE(fs::exists(file));
        }
    }
    EXPECT_FALSE(Store::loadDoc<int>(folder / "missing.json", [](const json& j) { return j.get<int>(); }));
    EXPECT_EQ(listing(folder), std::vector<std::string>{"savedPlaylists.json"});
}

TEST(StoreNames, SafeFileNames) {
    for (std::string ok : {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "a b", ".hidden", "x..y"})
        EXPECT_TRUE(Store::isSafeFileName(ok)) << ok;
    for (std::string bad : {std::string(), std::string("."), std::string(".."), std::string("../x"),
                            std::string("a/b"), std::string("/etc"), std::string("a\0b", 3)})
        EXPECT_FALSE(Store::isSafeFileName(bad)) << bad;
}

// A writer killed at any moment leaves the document as its old or its new version, never a mix.
TEST(StoreCrashSafety, KilledWriterNeverLeavesAPartialDocument) {
    const fs::path target = test::tempDir("crash") / "doc.json";
    auto makeDoc = [](long version) {
        // Large enough that a write spans several system calls and pages.
        return json{{"version", version}, {"payload", std::string(64 * 1024, char('a' + version % 26))}};
    };
    auto readVersion = [&]() -> long {
        json j = json::parse(test::readFile(target));  // throws on a partial file
        long v = j.at("version").get<long>();
        EXPECT_EQ(j.at("payload").get<std::string>(), std::string(64 * 1024, char('a' + v % 26)));
        return v;
    };
    Store::saveJson(makeDoc(0), target);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> delayUs(0, 3000);
    long last = 0;
    for (int round = 0; round < 100; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            for (long v = last + 1;; ++v) {
                Store::saveJson(makeDoc(v), target);
                if (v == last + 1) (void)!::write(ready[1], "x", 1);  // one version is in place
            }
        }
        ::close(ready[1]);
        // Wait until the writer has finished one version, then kill it somewhere in the following ones.
        pollfd pfd{ready[0], POLLIN, 0};
        ASSERT_EQ(::poll(&pfd, 1, 10000), 1) << "round " << round;
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        long now = 0;
        ASSERT_NO_THROW(now = readVersion()) << "round " << round;
        ASSERT_GT(now, last) << "round " << round;
        last = now;
    }
}
