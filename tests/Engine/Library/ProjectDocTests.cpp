#include <gtest/gtest.h>

#include "Engine/Library/ProjectDoc.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using nlohmann::json;

TEST(ProjectDoc, ReadsStrictlyExceptForTheStage) {
    json doc = json::parse(R"({"schemaVersion": 7, "id": "P", "name": "Show", "savedAt": 5,
        "media": [{"id": "A", "kind": "video", "name": "a.mov", "path": "/a.mov", "addedAt": 1}],
        "groups": [{"id": "G", "name": "One", "mediaIds": ["A"]}]})");
    ProjectDoc d = decodeJson<ProjectDoc>(doc);
    EXPECT_EQ(d.schemaVersion, 7);
    EXPECT_FALSE(d.stage);
    EXPECT_EQ(d.media.at(0).path, "/a.mov");
    EXPECT_FALSE(toJson(d).contains("stage"));
    EXPECT_EQ(decodeJson<ProjectDoc>(toJson(d)), d);

    d.stage = StageConfig{1280, 720, 30, "#000000"};
    EXPECT_EQ(decodeJson<ProjectDoc>(toJson(d)).stage, d.stage);

    for (const char* key : {"schemaVersion", "id", "name", "media", "groups", "savedAt"}) {
        json missing = doc;
        missing.erase(key);
        EXPECT_THROW(decodeJson<ProjectDoc>(missing), DecodeError) << key;
    }
    json badItem = doc;
    badItem["media"][0].erase("addedAt");
    EXPECT_THROW(decodeJson<ProjectDoc>(badItem), DecodeError);
}

TEST(RecentsStore, RememberKeepsTenUniqueNewestFirst) {
    RecentsStore s;
    s.remember({"A", "a", "/p/a.ombry", 1});
    EXPECT_EQ(s.lastOpenPath, "/p/a.ombry");
    s.remember({"B", "b", "/p/b.ombry", 2});
    s.remember({"A", "a2", "/p/a.ombry", 3});  // same project again: moves to the front
    ASSERT_EQ(s.recents.size(), 2u);
    EXPECT_EQ(s.recents[0], (RecentEntry{"A", "a2", "/p/a.ombry", 3}));
    s.remember({"C", "c", "/p/b.ombry", 4});  // another project stored where B was
    ASSERT_EQ(s.recents.size(), 2u);
    EXPECT_EQ(s.recents[0].id, "C");
    EXPECT_EQ(s.recents[1].id, "A");

    for (int i = 0; i < 12; ++i) s.remember({"N" + std::to_string(i), "n", "/n/" + std::to_string(i), 10.0 + i});
    ASSERT_EQ(s.recents.size(), RecentsStore::limit);
    EXPECT_EQ(s.recents.front().id, "N11");
    EXPECT_EQ(s.recents.back().id, "N2");
    EXPECT_EQ(decodeJson<RecentsStore>(toJson(s)), s);
}

TEST(RecentsStore, LoadDropsProjectsWhoseFilesAreGone) {
    const auto folder = test::tempDir("recents");
    test::writeFile(folder / "kept.ombry", "{}");
    RecentsStore s;
    s.remember({"G", "gone", (folder / "gone.ombry").string(), 1});
    s.remember({"K", "kept", (folder / "kept.ombry").string(), 2});
    s.remember({"G2", "gone2", (folder / "gone2.ombry").string(), 3});
    s.save();
    RecentsStore loaded = RecentsStore::load();
    ASSERT_EQ(loaded.recents.size(), 1u);
    EXPECT_EQ(loaded.recents[0].id, "K");
    EXPECT_FALSE(loaded.lastOpenPath);
}
