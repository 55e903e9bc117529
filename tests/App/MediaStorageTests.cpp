// The media-storage accounting over real files in the support folder: managed files and their users,
// referenced files, deleting a managed file, and the space used.
#include "AppStateFixture.hpp"
#include "Platform/Uuid.hpp"

namespace ombry::app_test {
namespace {

class MediaStorageTest : public AppStateTest {
protected:
    void SetUp() override {
        AppStateTest::SetUp();
        for (const auto& dir : {Store::mediaDir(), Store::thumbnailDir()})
            for (const auto& e : fs::directory_iterator(dir))
                if (e.path() != Store::mediaIncomingDir()) fs::remove_all(e.path());
    }
    // A file of that many bytes in the media folder.
    static fs::path managed(const std::string& name, std::size_t bytes = 10) {
        const fs::path p = Store::mediaDir() / name;
        test::writeFile(p, std::string(bytes, 'x'));
        return p;
    }
    // A real clip copied into the media folder.
    static fs::path managedClip(const std::string& name) {
        const fs::path p = Store::mediaDir() / name;
        fs::copy_file(video(), p, fs::copy_options::overwrite_existing);
        return p;
    }
    // Another project's document using these paths, remembered as recent.
    static RecentEntry otherProject(const std::string& name, const std::vector<fs::path>& paths) {
        ProjectDoc doc = ProjectDoc::make(name);
        for (const auto& p : paths) {
            MediaItem m;
            m.id = makeUuid();
            m.kind = MediaKind::video;
            m.name = p.filename().string();
            m.path = p.string();
            doc.media.push_back(m);
        }
        const fs::path file = test::tempDir("projects") / (name + ".ombry");
        test::writeFile(file, encodeJson(doc).dump());
        return {doc.id, name, file.string(), 1};
    }
    static void remember(const std::vector<RecentEntry>& entries) {
        RecentsStore r;
        r.recents = entries;
        r.save();
    }
    const DownloadedMediaFile* find(const std::vector<DownloadedMediaFile>& files, const std::string& name) {
        for (const auto& f : files)
            if (f.filename == name) return &f;
        return nullptr;
    }
};

TEST_F(MediaStorageTest, ManagedFilesListTheirUsersHereInOtherProjectsAndInSavedPlaylists) {
    const fs::path shared = managedClip("shared.mp4");
    const fs::path alone = managed("alone.mp4");
    const auto beta = otherProject("beta", {shared, Store::mediaDir() / "." / "alone.mp4"});
    const auto alpha = otherProject("Alpha", {shared, "/elsewhere/shared.mp4"});
    const auto gone = otherProject("Gone", {shared});
    const auto broken = otherProject("Broken", {shared});
    remember({beta, alpha, gone, broken});
    make();
    fs::remove(gone.path);
    test::writeFile(broken.path, "{ not a project");
    // Two clips of the open project use the shared file; a saved playlist holds one of them.
    const MediaItem one = add(shared.string());
    const MediaItem two = add(shared.string());
    const Group g = playlist({one.id});
    app->savedPlaylists().saveGroupToLibrary(g.id);

    const auto files = app->downloadedMediaFiles();
    ASSERT_EQ(files.size(), 2u);
    const auto* s = find(files, "shared.mp4");
    ASSERT_TRUE(s);
    std::vector<std::string> inLibraryOrder;
    for (const auto& m : app->library.media())
        if (m.id == one.id || m.id == two.id) inLibraryOrder.push_back(m.id);
    EXPECT_EQ(s->currentItemIds, inLibraryOrder);
    EXPECT_EQ(s->otherProjects, (std::vector<std::string>{"Alpha", "Saved Playlists", "beta"}));
    EXPECT_EQ(s->url, shared);
    EXPECT_EQ(s->size, std::int64_t(fs::file_size(shared)));
    const auto* a = find(files, "alone.mp4");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->currentItemIds.empty());
    EXPECT_EQ(a->otherProjects, std::vector<std::string>{"beta"});

    // The open project is never among the others, even when it is a recent project itself; the one left
    // now is.
    app->projects().openProject(beta.path);
    const auto asBeta = app->downloadedMediaFiles();
    ASSERT_TRUE(find(asBeta, "alone.mp4"));
    EXPECT_EQ(find(asBeta, "alone.mp4")->currentItemIds.size(), 1u);
    EXPECT_EQ(find(asBeta, "shared.mp4")->otherProjects,
              (std::vector<std::string>{"Alpha", "Saved Playlists", "Untitled"}));
    // Another project's document rewritten since the last listing is read again: a listing right after
    // shows what it names now.
    {
        const auto again = otherProject("Alpha", {"/elsewhere/shared.mp4"});
        fs::rename(again.path, alpha.path);
    }
    EXPECT_EQ(find(app->downloadedMediaFiles(), "shared.mp4")->otherProjects,
              (std::vector<std::string>{"Saved Playlists", "Untitled"}));
}

TEST_F(MediaStorageTest, OnlyMediaFilesDirectlyInTheFolderAreListedUsedFirstThenLargestFirst) {
    managed("small.mp4", 10);
    managed("large.MOV", 1000);
    managed("middle.png", 500);
    for (const char* skipped : {"half.mp4.tmp", "clip.tmp", "small.mp4.obingest.json", "notes.txt", ".hidden.mp4", "noext"})
        managed(skipped, 5000);
    fs::create_directories(Store::mediaDir() / "folder.mp4");
    managed("folder.mp4/inside.mp4", 5000);
    const fs::path used = managedClip("used.mp4");
    make();
    add(used.string());
    std::vector<std::string> names;
    for (const auto& f : app->downloadedMediaFiles()) names.push_back(f.filename);
    EXPECT_EQ(names, (std::vector<std::string>{"used.mp4", "large.MOV", "middle.png", "small.mp4"}));
}

TEST_F(MediaStorageTest, OriginComesFromTheClipElseFromTheRegistry) {
    const fs::path used = managedClip("used.mp4");
    managed("cloud.mp4");
    managed("unknown.mp4");
    MediaRegistry reg;
    reg.entries["h1"] = {"h1", "cloud.mp4", 10, MediaOrigin::cloud, 1};
    reg.entries["h2"] = {"h2", "used.mp4", 10, MediaOrigin::lan, 1};
    reg.save();
    make();
    const MediaItem m = add(used.string());
    app->library.setMeta(m.id, [](MediaItem& x) { x.origin = MediaOrigin::upload; });
    const auto files = app->downloadedMediaFiles();
    EXPECT_EQ(find(files, "used.mp4")->origin, MediaOrigin::upload);
    EXPECT_EQ(find(files, "cloud.mp4")->origin, MediaOrigin::cloud);
    EXPECT_EQ(find(files, "unknown.mp4")->origin, std::nullopt);
}

TEST_F(MediaStorageTest, DeletingAUsedFileRemovesItsClipsFileAndEntryAndTombstonesTheHash) {
    const fs::path used = managedClip("used.mp4");
    const fs::path unused = managed("unused.mp4");
    MediaRegistry reg;
    reg.entries["aaa"] = {"aaa", "used.mp4", 10, MediaOrigin::cloud, 1};
    reg.entries["bbb"] = {"bbb", "unused.mp4", 10, MediaOrigin::cloud, 1};
    reg.save();
    make();
    const MediaItem first = add(used.string());
    const MediaItem second = add(used.string());
    const MediaItem other = add(video("green"));
    app->library.setMeta(second.id, [](MediaItem& x) { x.contentHash = "aaa"; });
    const Group g = playlist({first.id, second.id, other.id});
    ASSERT_TRUE(app->trigger(*app->library.item(first.id), false));

    app->deleteDownloadedFile(*find(app->downloadedMediaFiles(), "used.mp4"));
    EXPECT_FALSE(fs::exists(used));
    EXPECT_FALSE(app->library.item(first.id));
    EXPECT_FALSE(app->library.item(second.id));
    EXPECT_TRUE(app->library.item(other.id));
    EXPECT_EQ(app->library.groups()[0].mediaIds, std::vector<std::string>{other.id});
    EXPECT_FALSE(onAir()) << "the deleted clip was still on air";
    EXPECT_EQ(MediaRegistry::load().entries.count("aaa"), 0u);
    EXPECT_EQ(app->mediaTombstones().hashes, std::set<std::string>{"aaa"});
    EXPECT_EQ(MediaTombstones::load().hashes, std::set<std::string>{"aaa"});
    // The project document was stored without them.
    const auto doc = Store::readDoc<ProjectDoc>(*app->library.documentURL()).value;
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->media.size(), 1u);

    // A record naming a file elsewhere deletes nothing.
    const fs::path outside = test::tempDir("outside") / "keep.mp4";
    test::writeFile(outside, "x");
    for (const fs::path& url : {outside, Store::mediaDir() / ".." / "keep.mp4", Store::mediaDir() / "sub" / "unused.mp4"})
        app->deleteDownloadedFile({url, "unused.mp4", 1, std::nullopt, {}, {}});
    app->deleteDownloadedFile({outside, "keep.mp4", 1, std::nullopt, {}, {}});
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(unused));
    EXPECT_EQ(MediaRegistry::load().entries.count("bbb"), 1u);

    // An unused file: gone with its entry, and nothing tombstoned.
    app->deleteDownloadedFile(*find(app->downloadedMediaFiles(), "unused.mp4"));
    EXPECT_FALSE(fs::exists(unused));
    EXPECT_TRUE(MediaRegistry::load().entries.empty());
    EXPECT_EQ(MediaTombstones::load().hashes, std::set<std::string>{"aaa"});
    EXPECT_TRUE(app->downloadedMediaFiles().empty());
}

TEST_F(MediaStorageTest, StorageCountsTopLevelFilesAndThumbnailsButNotTheIncomingFolder) {
    managed("a.mp4", 100);
    managed(".hidden", 20);
    managed("notes.txt", 3);
    managed("sub/deep.mp4", 1000);
    test::writeFile(Store::mediaIncomingDir() / "partial.mp4", std::string(5000, 'x'));
    test::writeFile(Store::thumbnailDir() / "one.jpg", std::string(7, 'x'));
    test::writeFile(Store::thumbnailDir() / ".two.jpg", std::string(11, 'x'));
    make();
    EXPECT_EQ(app->managedStorageBytes(), 100 + 20 + 3 + 7 + 11);
    EXPECT_EQ(AppState::directorySize(Store::mediaDir(), {"a.mp4", ".incoming"}), 23);
    EXPECT_EQ(AppState::directorySize(Store::mediaDir() / "missing", {}), 0);
    fs::remove(Store::mediaIncomingDir() / "partial.mp4");
}

TEST_F(MediaStorageTest, ReferencedFilesAreTheOtherClipsByNameCaseAside) {
    make();
    const fs::path managedPath = managedClip("inside.mp4");
    add(managedPath.string());
    struct Want {
        const char* name;
        bool missing;
    };
    std::map<std::string, MediaItem> byName;
    for (const char* name : {"beta", "Alpha", "alpha 2", "Charlie", "same", "Same"}) {
        const fs::path p = test::tempDir("ref") / (std::string(name) + ".mp4");
        fs::copy_file(video(), p);
        MediaItem m = add(p.string());
        app->library.setMeta(m.id, [&](MediaItem& x) { x.name = name; });
        byName[name] = m;
    }
    const MediaItem gone = addMissing();
    app->library.setMeta(gone.id, [](MediaItem& x) { x.name = "delta"; });
    const auto files = app->referencedMediaFiles();
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.name);
    // Equal names keep library order.
    std::vector<std::string> sameOrder;
    for (const auto& m : app->library.media())
        if (m.name == "same" || m.name == "Same") sameOrder.push_back(m.name);
    std::vector<std::string> want{"Alpha", "alpha 2", "beta", "Charlie", "delta"};
    want.insert(want.end(), sameOrder.begin(), sameOrder.end());
    EXPECT_EQ(names, want);
    for (const auto& f : files) {
        if (f.name == "delta") {
            EXPECT_EQ(f.size, 0);
            EXPECT_TRUE(f.offline);
            EXPECT_EQ(f.itemId, gone.id);
        } else {
            EXPECT_EQ(f.size, std::int64_t(fs::file_size(video())));
            EXPECT_FALSE(f.offline);
        }
    }
}

}  // namespace
}  // namespace ombry::app_test
