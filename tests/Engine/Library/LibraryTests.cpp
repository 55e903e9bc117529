#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Uuid.hpp"
#include "support/ShowRecords.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using test::makeGroup;
using test::makeItem;
namespace fs = std::filesystem;

namespace {

struct LibraryTest : ::testing::Test {
    ManualQueue q;
    ScopedMainQueue scope{q};
    fs::path folder = test::tempDir("lib");
    fs::path docPath = folder / "Show.ombry";
    Library lib;
    int changes = 0;

    void SetUp() override {
        IssueLog::shared().clear();
        lib.onChange = [this] { ++changes; };
    }
    std::string file(const std::string& name) {
        test::writeFile(folder / name, "x");
        return (folder / name).string();
    }
    void adopt(std::vector<MediaItem> media, std::vector<Group> groups = {}, bool fire = false) {
        ProjectDoc doc = ProjectDoc::make("Show");
        doc.media = std::move(media);
        doc.groups = std::move(groups);
        lib.adopt(doc, docPath, fire);
        fs::remove(docPath);
        changes = 0;
    }
    bool written() { return fs::exists(docPath); }
    ProjectDoc onDisk() { return decodeJsonText<ProjectDoc>(test::readFile(docPath)); }
    std::vector<double> orders() {
        std::vector<double> out;
        for (const auto& m : lib.media()) out.push_back(m.order.value_or(-999));
        return out;
    }
};

}  // namespace

TEST(LibraryKind, ByLowerCasedExtension) {
    struct Case {
        const char* path;
        std::optional<MediaKind> kind;
    };
    for (const Case& c : {Case{"/a/CLIP.MOV", MediaKind::video}, Case{"x.webm", MediaKind::video},
                          Case{"p.JPeg", MediaKind::image}, Case{"s.svg", MediaKind::image},
                          Case{"t.flac", MediaKind::audio}, Case{"notes.txt", std::nullopt},
                          Case{"README", std::nullopt}, Case{"/dir.mov/file", std::nullopt},
                          Case{".mov", std::nullopt}, Case{"a.tar.mp3", MediaKind::audio}})
        EXPECT_EQ(Library::kind(c.path), c.kind) << c.path;
}

TEST_F(LibraryTest, AddSkipsUnknownAndMissingFilesAndPutsNewItemsFirst) {
    adopt({});
    EXPECT_TRUE(lib.add({(folder / "missing.png").string(), file("b.txt")}).empty());
    EXPECT_FALSE(written());
    EXPECT_EQ(changes, 0);

    auto first = lib.add({file("a.MP4"), file("b.txt"), file("c.wav")});
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].name, "a.MP4");
    EXPECT_EQ(first[0].kind, MediaKind::video);
    EXPECT_EQ(first[1].kind, MediaKind::audio);
    EXPECT_EQ(first[0].order, -2);
    EXPECT_EQ(first[1].order, -1);
    EXPECT_TRUE(written());
    EXPECT_EQ(changes, 1);

    auto again = lib.add({first[0].path, first[1].path});  // the same files again: new items
    EXPECT_EQ(again[0].order, -4);
    EXPECT_EQ(again[1].order, -3);
    EXPECT_EQ(orders(), (std::vector<double>{-2, -1, -4, -3}));
    EXPECT_EQ(onDisk().media.size(), 4u);
}

TEST_F(LibraryTest, ReorderRemoveAndPlaylistSlots) {
    adopt({makeItem("a", file("a.mov"), 0), makeItem("b", file("b.mov"), 1)});
    lib.setGroups({makeGroup("G", {"a", "b", "a"}), makeGroup("H", {"a"})});  // shared slots, as set directly
    lib.reorder({"x", "b", "a"});
    EXPECT_EQ(orders(), (std::vector<double>{2, 1}));
    EXPECT_TRUE(written());

    fs::remove(docPath);
    lib.remove({"nope"});
    EXPECT_FALSE(written());

    test::writeFile(Store::thumbnailDir() / "a.jpg", "jpg");
    lib.markOffline("a");
    lib.remove({"a"});
    EXPECT_TRUE(written());
    EXPECT_EQ(lib.media().size(), 1u);
    EXPECT_EQ(lib.groups()[0].mediaIds, std::vector<std::string>{"b"});
    EXPECT_TRUE(lib.groups()[1].mediaIds.empty());
    EXPECT_TRUE(lib.offlineIds().empty());
    EXPECT_FALSE(fs::exists(Store::thumbnailDir() / "a.jpg"));
    EXPECT_EQ(lib.item("a"), nullptr);
}

TEST_F(LibraryTest, DuplicateSortsRightAfterAndCarriesThumbnailAndOfflineMark) {
    MediaItem withThumb = makeItem("T", file("t.png"), 3);
    withThumb.thumbAt = 42;
    adopt({withThumb, makeItem("U", (folder / "gone.mov").string())});
    test::writeFile(Store::thumbnailDir() / "T.jpg", "thumb");

    auto copy = lib.duplicate("T");
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->id, "T");
    EXPECT_EQ(copy->thumbAt, 42);
    EXPECT_EQ(test::readFile(Store::thumbnailDir() / (copy->id + ".jpg")), "thumb");
    EXPECT_EQ(changes, 1);

    auto offline = lib.duplicate("U");
    EXPECT_EQ(offline->order, 1.5);  // "U" was numbered 1 by the adopt
    EXPECT_TRUE(lib.offlineIds().count(offline->id));
    EXPECT_FALSE(lib.duplicate("nope"));
    EXPECT_EQ(lib.media().size(), 4u);
}

TEST_F(LibraryTest, UnsafeIdsNeverBecomeFileNames) {
    MediaItem evil = makeItem("../../settings", file("e.png"), 0);
    evil.thumbAt = 1;
    adopt({evil});
    test::writeFile(Store::dir() / "settings.jpg", "keep");
    auto copy = lib.duplicate("../../settings");
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->thumbAt);  // no copy was made from outside the thumbnail folder
    lib.remove({"../../settings"});
    EXPECT_TRUE(fs::exists(Store::dir() / "settings.jpg"));
}

// Linux allows any bytes in a file name; a project document is UTF-8 JSON. A Latin-1 name let in once
// made every later write of the project fail, so every later edit was lost at the next start.
TEST_F(LibraryTest, FilesNamedInBytesThatAreNotUtf8AreRefusedAtEveryWayIn) {
    const std::string latin1 = file("caf\xe9.mp4");
    const fs::path oddFolder = folder / "Sh\xf6w";
    test::writeFile(oddFolder / "clip.mov", "x");
    const std::string inOddFolder = (oddFolder / "clip.mov").string();
    const std::string nameRefused =
        "\u201Ccaf\\xE9.mp4\u201D can't be used: its name isn't valid UTF-8 text, so the project couldn't be "
        "saved with it. Rename the file, then try again.";
    const std::string folderRefused = "\u201Cclip.mov\u201D can't be used: the name of its folder \u201C" +
                                      folder.string() +
                                      "/Sh\\xF6w\u201D isn't valid UTF-8 text, so the project couldn't be saved "
                                      "with it. Rename the folder, then try again.";
    EXPECT_EQ(Library::refusal(latin1), nameRefused);
    EXPECT_EQ(Library::refusal(inOddFolder), folderRefused);
    EXPECT_EQ(Library::refusal(folder / "caf\u00e9.mp4"), std::nullopt);

    adopt({makeItem("v", file("v.mov"), 0)});
    std::vector<std::string> refused;
    EXPECT_TRUE(lib.add({latin1, inOddFolder}, &refused).empty());
    EXPECT_EQ(refused, (std::vector<std::string>{nameRefused, folderRefused}));
    EXPECT_FALSE(written());
    EXPECT_EQ(changes, 0);
    auto added = lib.add({latin1, file("ok.mp4")});  // without a list the refusal is only left out
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].name, "ok.mp4");

    std::string why;
    EXPECT_FALSE(lib.relink("v", inOddFolder, true, &why));
    EXPECT_EQ(why, folderRefused);
    EXPECT_EQ(lib.item("v")->name, "v.mov");

    MediaItem pasted = makeItem("P", latin1);
    MediaItem plain = makeItem("Q", file("q.mov"));
    refused.clear();
    Group g = lib.importGroup("Pasted", std::nullopt, std::nullopt, std::nullopt, {pasted, plain}, &refused);
    EXPECT_EQ(refused, std::vector<std::string>{nameRefused});
    ASSERT_EQ(g.mediaIds.size(), 1u);
    EXPECT_EQ(lib.item(g.mediaIds[0])->name, "q.mov");

    // Every path the library holds can be written: the document on disk has them all.
    ProjectDoc doc = onDisk();
    EXPECT_EQ(doc.media.size(), lib.media().size());
    for (const auto& m : lib.media()) EXPECT_TRUE(isUtf8(m.path)) << showBytes(m.path);
}

TEST_F(LibraryTest, AutoRelinkPassesOverCopiesItCouldNotSave) {
    const fs::path search = test::tempDir("search");
    test::writeFile(search / "Intr\xf6" / "Intro" / "a.mov", "x");  // shares more folders, but unsavable
    test::writeFile(search / "Backup" / "a.mov", "x");
    test::writeFile(search / "Only\xe9" / "b.mov", "x");
    adopt({makeItem("1", "/Volumes/Show/Intr\u00f6/Intro/a.mov", 0), makeItem("2", "/Volumes/Show/b.mov", 1)});
    std::optional<std::vector<MediaItem>> result;
    lib.autoRelink(search.string(), [&](std::vector<MediaItem> r) { result = std::move(r); });
    ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }));
    ASSERT_EQ(result->size(), 1u);
    EXPECT_EQ(lib.item("1")->path, (search / "Backup/a.mov").string());
    EXPECT_EQ(lib.item("2")->path, "/Volumes/Show/b.mov");
    EXPECT_EQ(lib.offlineIds(), std::set<std::string>{"2"});
    EXPECT_EQ(onDisk().media[0].path, (search / "Backup/a.mov").string());
}

// Defence behind the refusals: an item that got in some other way is written with U+FFFD in place of its
// bad bytes, so the project stays writable and keeps the item (its file shows as missing at the next open).
TEST_F(LibraryTest, AnItemThatCannotBeEncodedNeverMakesTheProjectUnwritable) {
    adopt({makeItem("a", file("a.mov"), 0)});
    std::vector<MediaItem> media = lib.media();
    media.push_back(makeItem("b", file("caf\xe9.mp4"), 1));
    lib.setMedia(media);
    Group g = lib.createGroup(std::string("After"));
    lib.addToGroup(g.id, "b");
    q.runPending();
    ProjectDoc doc = onDisk();
    ASSERT_EQ(doc.media.size(), 2u);
    EXPECT_EQ(doc.media[1].id, "b");
    EXPECT_EQ(doc.media[1].name, "caf\uFFFD.mp4");
    EXPECT_EQ(doc.media[1].path, (folder / "caf\uFFFD.mp4").string());
    EXPECT_EQ(doc.groups.at(0).mediaIds, std::vector<std::string>{"b"});
    for (const auto& issue : IssueLog::shared().recent()) EXPECT_NE(issue.code, IssueCode::projectSaveFailed);
    EXPECT_EQ(lib.item("b")->path, folder.string() + "/caf\xe9.mp4");  // the session keeps the real file
}

TEST(TextBytes, Utf8CheckAndReadableForm) {
    struct Case {
        std::string bytes;
        bool utf8;
        std::string shown;
    };
    for (const Case& c : {
             Case{"plain.mov", true, "plain.mov"},
             Case{"caf\u00e9 \u2014 \U0001F3AC.mov", true, "caf\u00e9 \u2014 \U0001F3AC.mov"},
             Case{"caf\xe9.mp4", false, "caf\\xE9.mp4"},
             Case{"\xc3", false, "\\xC3"},                      // cut short
             Case{"\xc0\xaf", false, "\\xC0\\xAF"},             // overlong "/"
             Case{"\xe0\x80\xaf", false, "\\xE0\\x80\\xAF"},    // overlong, three bytes
             Case{"\xed\xa0\x80", false, "\\xED\\xA0\\x80"},    // a surrogate
             Case{"\xf4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
             Case{"\xbf", false, "\\xBF"},                      // a stray continuation byte
             Case{"a\xff" "b\u00e9", false, "a\\xFFb\u00e9"},
         }) {
        EXPECT_EQ(isUtf8(c.bytes), c.utf8) << c.shown;
        EXPECT_EQ(showBytes(c.bytes), c.shown);
        EXPECT_TRUE(isUtf8(showBytes(c.bytes))) << c.shown;
    }
}

TEST_F(LibraryTest, PlaylistOperations) {
    adopt({});
    Group g = lib.createGroup(std::string("\u00A0 Intro \t"));
    EXPECT_EQ(g.name, "Intro");
    EXPECT_EQ(g.color, Library::defaultGroupColor);
    EXPECT_EQ(lib.createGroup(std::string("  ")).name, "New Playlist");
    EXPECT_EQ(lib.createGroup(std::nullopt, "#abcdef", "star").icon, "star");
    EXPECT_EQ(lib.createGroup(std::string("Two\n")).name, "Two\n");
    EXPECT_EQ(changes, 4);

    lib.addToGroup(g.id, "m1");
    fs::remove(docPath);
    lib.addToGroup(g.id, "m1");  // already there: nothing
    EXPECT_FALSE(written());
    lib.removeFromGroup(g.id, "absent");  // writes all the same
    EXPECT_TRUE(written());
    lib.addToGroup("nope", "m1");

    auto names = [&] {
        std::vector<std::string> out;
        for (const auto& x : lib.groups()) out.push_back(x.name);
        return out;
    };
    lib.moveGroups({0}, 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"New Playlist", "Intro", "New Playlist", "Two\n"}));
    lib.moveGroups({0, 3}, 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"Intro", "New Playlist", "Two\n", "New Playlist"}));

    Group renamed = lib.groups()[0];
    renamed.name = "Renamed";
    lib.updateGroup(renamed);
    EXPECT_EQ(lib.groups()[0].name, "Renamed");
    lib.deleteGroup(renamed.id);
    EXPECT_EQ(lib.groups().size(), 3u);
}

TEST_F(LibraryTest, DeletingAPlaylistKeepsItsItems) {
    adopt({makeItem("a", file("a.mov"), 0), makeItem("b", (folder / "gone.mov").string(), 1)});
    Group g = lib.createGroup(std::string("Set"));
    lib.addToGroup(g.id, "a");
    lib.addToGroup(g.id, "b");
    const std::vector<MediaItem> before = lib.media();
    changes = 0;
    fs::remove(docPath);

    lib.deleteGroup("nope");
    EXPECT_FALSE(written());
    EXPECT_EQ(changes, 0);

    lib.deleteGroup(g.id);
    EXPECT_TRUE(lib.groups().empty());
    EXPECT_EQ(lib.media(), before);
    EXPECT_EQ(lib.offlineIds(), std::set<std::string>{"b"});
    EXPECT_EQ(changes, 1);
    ProjectDoc doc = onDisk();
    EXPECT_TRUE(doc.groups.empty());
    EXPECT_EQ(doc.media, before);
}

TEST_F(LibraryTest, AdoptRepairsSharedSlotsColoursAndOrders) {
    ProjectDoc doc = ProjectDoc::make("Show");
    doc.media = {makeItem("a", file("a.mov"), 5), makeItem("b", file("b.mov"), std::nullopt, 100),
                 makeItem("c", file("c.mov"), 2), makeItem("d", (folder / "gone.mov").string(), std::nullopt, 200)};
    doc.groups = {makeGroup("P", {"a", "b"}, std::nullopt), makeGroup("Q", {"b", "a", "a", "ghost"}),
                  makeGroup("R", {}, std::nullopt)};
    lib.adopt(doc, docPath, false);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(lib.groups()[0].color, "#7596b8");
    EXPECT_EQ(lib.groups()[1].color, "#112233");
    EXPECT_EQ(lib.groups()[2].color, "#c2a064");
    EXPECT_EQ(lib.groups()[0].mediaIds, (std::vector<std::string>{"a", "b"}));
    // Q = [b, a, a, ghost] became [b', a', a'', ghost]: each copy is a real item made from its source.
    ASSERT_EQ(lib.media().size(), 7u);
    const MediaItem &bCopy = lib.media()[4], &aCopy = lib.media()[5], &aCopy2 = lib.media()[6];
    EXPECT_EQ(lib.groups()[1].mediaIds, (std::vector<std::string>{bCopy.id, aCopy.id, aCopy2.id, "ghost"}));
    EXPECT_EQ(bCopy.path, lib.item("b")->path);
    EXPECT_EQ(aCopy.path, lib.item("a")->path);
    EXPECT_EQ(aCopy2.path, lib.item("a")->path);
    std::set<std::string> ids;
    for (const auto& m : lib.media()) ids.insert(m.id);
    EXPECT_EQ(ids.size(), 7u);
    for (const auto* copy : {&bCopy, &aCopy, &aCopy2}) {
        EXPECT_TRUE(isUuid(copy->id)) << copy->id;
        EXPECT_EQ(lib.item(copy->id), copy);
    }
    EXPECT_EQ(lib.offlineIds(), std::set<std::string>{"d"});
    // Copies take their source's order + 0.5 before the renumbering, so a's two copies sort right after a;
    // b had no order, so its copy took 0.5 and sorts first. Items without an order follow, newest first.
    //                                   a  b  c  d  b' a' a''
    EXPECT_EQ(orders(), (std::vector<double>{2, 6, 1, 5, 0, 3, 4}));
    EXPECT_EQ(onDisk().groups[1].mediaIds, lib.groups()[1].mediaIds);
    EXPECT_EQ(onDisk().media, lib.media());

    // The plain example: orders [5, -, 2, -] become [1, 3, 0, 2]; numbered documents write nothing.
    ProjectDoc plain = ProjectDoc::make("Plain");
    plain.media = {makeItem("a", file("a.mov"), 5), makeItem("b", file("b.mov"), std::nullopt, 100),
                   makeItem("c", file("c.mov"), 2), makeItem("d", file("d.mov"), std::nullopt, 200)};
    fs::remove(docPath);
    lib.adopt(plain, docPath, true);
    EXPECT_EQ(orders(), (std::vector<double>{1, 3, 0, 2}));
    EXPECT_TRUE(written());
    EXPECT_EQ(changes, 1);
    fs::remove(docPath);
    lib.adopt(lib.document(), docPath, false);
    EXPECT_FALSE(written());
}

// Counts the documents that land under `name` in `folder` (each write renames a finished file into place).
struct LandedWrites {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::string name;
    LandedWrites(const fs::path& folder, std::string n) : name(std::move(n)) {
        ::inotify_add_watch(fd, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~LandedWrites() { ::close(fd); }
    int count() {
        int n = 0;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) return n;
            for (ssize_t at = 0; at < got;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                if (e->len && name == e->name) ++n;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    }
};

TEST_F(LibraryTest, AdoptOfManySharedSlotsSplitsThemAllThenWritesOnce) {
    ProjectDoc doc = ProjectDoc::make("Crafted");
    doc.media = {makeItem("a", file("a.mov"), 0)};
    // One item in 2000 slots, and a duplicate id: every repair at once.
    doc.media.push_back(makeItem("a", file("again.mov"), 1));
    doc.groups = {makeGroup("G", std::vector<std::string>(1000, "a")), makeGroup("H", std::vector<std::string>(1000, "a"))};
    LandedWrites writes(folder, docPath.filename().string());
    lib.adopt(doc, docPath, false);
    ASSERT_EQ(lib.media().size(), 2001u);
    std::set<std::string> slots;
    for (const auto& g : lib.groups())
        for (const auto& id : g.mediaIds) {
            ASSERT_TRUE(lib.item(id)) << id;
            EXPECT_EQ(lib.item(id)->path, lib.item("a")->path);
            slots.insert(id);
        }
    EXPECT_EQ(slots.size(), 2000u);
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(onDisk().media, lib.media());
    EXPECT_EQ(onDisk().groups, lib.groups());
}

TEST_F(LibraryTest, DuplicateIdsInADocumentGetFreshIdsAfterTheFirst) {
    ProjectDoc doc = ProjectDoc::make("Dup");
    doc.media = {makeItem("a", file("one.mov"), 0), makeItem("a", file("two.mov"), 1)};
    doc.groups = {makeGroup("G", {"a"})};
    EXPECT_EQ(lib.mediaIndex().size(), 0u);
    lib.adopt(doc, docPath, false);
    ASSERT_EQ(lib.media().size(), 2u);
    EXPECT_EQ(lib.media()[0].id, "a");
    EXPECT_NE(lib.media()[1].id, "a");
    EXPECT_EQ(lib.item("a")->name, "one.mov");
    EXPECT_EQ(lib.mediaIndex().size(), 2u);
    EXPECT_EQ(onDisk().media[1].id, lib.media()[1].id);
}

TEST_F(LibraryTest, ImportGroupMakesFreshItemsBeforeTheOthers) {
    adopt({makeItem("x", file("x.mov"), 0)});
    MediaItem t1 = makeItem("T1", file("t1.png"));
    t1.thumbAt = 7;
    MediaItem t2 = makeItem("T2", (folder / "lost.mov").string());
    t2.thumbAt = 8;  // its thumbnail file is missing
    test::writeFile(Store::thumbnailDir() / "T1.jpg", "t1");
    Group g = lib.importGroup("Saved", std::nullopt, "film", "🎬", {t1, t2});
    EXPECT_EQ(g.color, Library::defaultGroupColor);
    EXPECT_EQ(g.emoji, "🎬");
    ASSERT_EQ(g.mediaIds.size(), 2u);
    const MediaItem* a = lib.item(g.mediaIds[0]);
    const MediaItem* b = lib.item(g.mediaIds[1]);
    EXPECT_EQ(a->order, -2);
    EXPECT_EQ(b->order, -1);
    EXPECT_EQ(a->thumbAt, 7);
    EXPECT_FALSE(b->thumbAt);
    EXPECT_EQ(lib.offlineIds(), std::set<std::string>{b->id});
    EXPECT_EQ(lib.groups().back().id, g.id);
    EXPECT_EQ(changes, 1);
}

TEST_F(LibraryTest, ProbeResultsAreWrittenOnceAfterABurst) {
    adopt({makeItem("a", file("a.mov"), 0), makeItem("b", file("b.mov"), 1)});
    auto probe = [](double d) { return [d](MediaItem& m) { m.duration = d; }; };
    lib.setMetaCoalesced("a", probe(1));
    q.advance(0.1);
    lib.setMetaCoalesced("b", probe(2));
    q.advance(0.1);
    lib.setMetaCoalesced("a", probe(3));
    EXPECT_EQ(lib.item("a")->duration, 3);  // seen at once
    q.advance(0.39);
    EXPECT_FALSE(written());
    q.advance(0.02);
    EXPECT_TRUE(written());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(onDisk().media[0].duration, 3);

    // An edit in between writes at once and takes the burst with it.
    fs::remove(docPath);
    lib.setMetaCoalesced("b", probe(9));
    q.advance(0.2);
    lib.reorder({"b", "a"});
    EXPECT_EQ(onDisk().media[1].duration, 9);
    fs::remove(docPath);
    q.advance(1);
    EXPECT_FALSE(written());
    EXPECT_EQ(changes, 2);

    lib.setMetaCoalesced("unknown", probe(1));
    q.advance(1);
    EXPECT_FALSE(written());
}

TEST_F(LibraryTest, RelinkChecksKindAndKeepsTheClipsIdentity) {
    MediaItem m = makeItem("v", (folder / "old" / "a.mov").string(), 0);
    m.duration = 10;
    m.width = 1920;
    m.probed = true;
    m.probeVersion = 2;
    m.thumbAt = 5;
    m.contentHash = "abc";
    adopt({m});
    ASSERT_TRUE(lib.offlineIds().count("v"));
    IssueLog::shared().report(IssueCode::mediaMissing, "b.mov");

    EXPECT_FALSE(lib.relink("v", file("pic.png"), true));
    EXPECT_FALSE(lib.relink("v", (folder / "none.mov").string(), true));
    EXPECT_FALSE(lib.relink("nope", file("b.mov"), true));
    EXPECT_FALSE(written());

    EXPECT_TRUE(lib.relink("v", file("b.mov"), false));
    EXPECT_FALSE(written());
    EXPECT_EQ(changes, 0);
    const MediaItem* r = lib.item("v");
    EXPECT_EQ(r->name, "b.mov");
    EXPECT_FALSE(r->duration || r->width);
    EXPECT_EQ(r->probed, false);
    EXPECT_EQ(r->probeVersion, 2);
    EXPECT_EQ(r->thumbAt, 5);
    EXPECT_EQ(r->contentHash, "abc");
    EXPECT_TRUE(lib.offlineIds().empty());
    EXPECT_TRUE(IssueLog::shared().recent().empty());  // the clip's banner went with it
}

TEST_F(LibraryTest, RescanReplacesTheOfflineSetButNeverRevivesRemovedItems) {
    adopt({makeItem("a", file("a.mov"), 0), makeItem("b", (folder / "b.mov").string(), 1),
           makeItem("c", (folder / "c.mov").string(), 2)});
    EXPECT_EQ(lib.offlineIds(), (std::set<std::string>{"b", "c"}));
    file("b.mov");
    fs::remove(folder / "a.mov");
    std::optional<bool> result;
    lib.rescanOffline([&](bool any) { result = any; });
    lib.remove({"c"});  // while the scan runs
    ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(lib.offlineIds(), std::set<std::string>{"a"});
}

TEST_F(LibraryTest, AutoRelinkPrefersTheCandidateSharingMoreFolders) {
    const fs::path search = test::tempDir("search");
    for (auto sub : {"Backup", "Backup/Intro", "Other/Outro", ".hidden/Intro"}) {
        test::writeFile(search / sub / "a.mov", "x");
        test::writeFile(search / sub / "b.mov", "x");
    }
    adopt({makeItem("1", "/Volumes/Show/Clips/Intro/a.mov", 0), makeItem("2", "/Volumes/Show/Outro/b.mov", 1),
           makeItem("3", "/Volumes/Show/nowhere.mov", 2)});
    std::optional<std::vector<MediaItem>> result;
    lib.autoRelink(search.string(), [&](std::vector<MediaItem> r) { result = std::move(r); });
    ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }));
    ASSERT_EQ(result->size(), 2u);
    EXPECT_EQ(lib.item("1")->path, (search / "Backup/Intro/a.mov").string());
    EXPECT_EQ(lib.item("2")->path, (search / "Other/Outro/b.mov").string());
    EXPECT_EQ(lib.offlineIds(), std::set<std::string>{"3"});
    EXPECT_EQ(changes, 1);

    // Nothing to find: nothing is written.
    fs::remove(docPath);
    result.reset();
    lib.autoRelink(search.string(), [&](std::vector<MediaItem> r) { result = std::move(r); });
    ASSERT_TRUE(q.waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(result->empty());
    EXPECT_FALSE(written());
}

TEST(LibrarySearch, FindFilesSkipsHiddenEntriesFoldersAndFolderLinks) {
    const fs::path root = test::tempDir("find");
    test::writeFile(root / "x" / "clip.mov", "x");
    test::writeFile(root / ".hidden" / "clip.mov", "x");
    test::writeFile(root / "y" / ".clip.mov", "x");
    fs::create_directories(root / "z" / "clip.mov");  // a folder with the wanted name
    fs::create_directory_symlink(root, root / "loop");  // would find everything twice, or forever
    fs::create_symlink(root / "x" / "clip.mov", root / "y" / "clip.mov");
    auto found = Library::findFiles({"clip.mov", ".clip.mov", "other.mov"}, root);
    EXPECT_EQ(found, (std::map<std::string, std::vector<std::string>>{{"clip.mov", {(root / "x/clip.mov").string()}}}));
    EXPECT_TRUE(Library::findFiles({"clip.mov"}, root / "missing").empty());
}

TEST(LibrarySearch, BestMatchCountsTrailingComponents) {
    EXPECT_EQ(Library::bestMatch("/Volumes/Show/Clips/Intro/a.mov",
                                 {"/Backup/a.mov", "/Backup/Intro/a.mov", "/Other/Intro/a.mov"}),
              "/Backup/Intro/a.mov");
    EXPECT_EQ(Library::bestMatch("/x/a.mov", {"/only/a.mov"}), "/only/a.mov");
    EXPECT_EQ(Library::bestMatch("/x/INTRO/a.mov", {"/b/a.mov", "/c/intro/a.mov"}), "/b/a.mov");
}
