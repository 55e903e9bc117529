// The intake engine over a real library, registry and tombstones, real generated media and the virtual
// main queue; probes and hashing run on their real threads and are waited for as events.
#include <gtest/gtest.h>

#include <algorithm>

#include "Engine/Intake/ContentHash.hpp"
#include "Engine/Intake/Intake.hpp"
#include "Engine/Intake/MediaProbe.hpp"
#include "Engine/Intake/UploadSink.hpp"
#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Store.hpp"
#include "MediaFixtures.hpp"
#include "Platform/Uuid.hpp"
#include "support/PeakMemory.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

fs::path fixture(const std::string& name, const std::string& args) {
    auto p = test::mediaFixture(name, args);
    EXPECT_FALSE(p.empty()) << name;
    return p;
}
fs::path videoA() { return fixture("ia.mp4", "-f lavfi -i testsrc2=s=64x48:r=30:d=0.5 -c:v libx264 -preset ultrafast -pix_fmt yuv420p"); }
fs::path videoB() { return fixture("ib.mp4", "-f lavfi -i color=c=blue:s=64x48:r=30:d=0.5 -c:v libx264 -preset ultrafast -pix_fmt yuv420p"); }
fs::path still() { return fixture("is.png", "-f lavfi -i color=c=red:s=40x30 -frames:v 1"); }
fs::path song() { return fixture("plain.mp3", "-f lavfi -i sine=d=0.5 -c:a libmp3lame"); }

// 85 bytes of WAV whose sound is good but whose LIST chunk names a title of 1.6 GB: probing it allocated that
// much (and wrote zeros over it) before reading the few bytes that are there.
std::string wavAskingForGigabytes() {
    auto le = [](std::uint32_t v, int bytes) {
        std::string s;
        for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
        return s;
    };
    const std::string format = "fmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2);
    const std::string sound = "data" + le(16, 4) + std::string(16, '\0');
    const std::string info = "LIST" + le(0x7FFFFFF0, 4) + "INFO" + "INAM" + le(1'600'000'000, 4) + "Ombry";
    const std::string body = "WAVE" + format + sound + info;
    return "RIFF" + le(std::uint32_t(body.size()), 4) + body;
}

void clearFolder(const fs::path& dir) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) fs::remove_all(e.path(), ec);
}

// Managed files (side files and the incoming folder left out).
std::vector<std::string> managedFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Store::mediaDir())) {
        const auto n = e.path().filename().string();
        if (!n.starts_with(".") && !MediaIngest::isSideFile(n)) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> folderNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct IntakeTest : ::testing::Test {
    ManualQueue q;
    ScopedMainQueue scope{q};
    Library library;
    MediaRegistry registry;
    MediaTombstones tombstones;
    std::optional<std::string> relinkFolder;
    std::vector<std::vector<std::string>> unusable;  // each announced batch of unusable paths
    std::unique_ptr<Intake> intake;

    void SetUp() override {
        IssueLog::shared().clear();
        clearFolder(Store::mediaDir());
        fs::create_directories(Store::mediaIncomingDir());
        clearFolder(Store::mediaIncomingDir());
        clearFolder(Store::thumbnailDir());
        make();
    }
    void TearDown() override {
        settle();
        intake.reset();
        q.runPending();
    }
    void make(int limit = 2) {
        Intake::Environment env;
        env.probeLimit = limit;
        env.relinkFolder = [this] { return relinkFolder; };
        intake = std::make_unique<Intake>(library, registry, tombstones, env);
        intake->unusableFileMessage = [this](const std::vector<std::string>& paths) {
            unusable.push_back(paths);
            return std::to_string(paths.size()) + " couldn't be added";
        };
    }
    // Every probe landed and its slot given back.
    void settle() {
        ASSERT_TRUE(q.waitUntil([&] {
            return intake->probesInFlight() == 0 && intake->probeGate().active() == 0 && !intake->rescanInFlight();
        }, 60.0)) << "probes did not finish";
    }

    // A file landed in the incoming folder under a temporary name, handed to the ingest.
    UploadIngestResult upload(const fs::path& source, const std::string& filename, std::optional<std::string> displayName = {},
                              std::optional<std::string> playlistId = {}, std::optional<std::string> newPlaylist = {},
                              MediaOrigin origin = MediaOrigin::upload, fs::path* tempOut = nullptr) {
        const fs::path temp = Store::mediaIncomingDir() / (makeUuid() + fs::path(filename).extension().string());
        fs::copy_file(source, temp);
        if (tempOut) *tempOut = temp;
        return ingest({temp.string(), filename, std::move(displayName), std::move(playlistId), std::move(newPlaylist), origin});
    }
    UploadIngestResult ingest(UploadIngestRequest request) {
        std::optional<UploadIngestResult> result;
        intake->ingestUploadedFile(std::move(request), [&](UploadIngestResult r) { result = std::move(r); });
        EXPECT_TRUE(q.waitUntil([&] { return result.has_value(); }, 60.0)) << "ingest never answered";
        return result.value_or(UploadIngestResult::failed("no answer"));
    }
    const Group* group(const std::string& name) {
        for (const auto& g : library.groups())
            if (g.name == name) return &g;
        return nullptr;
    }
    void fill(std::size_t n) {
        std::vector<MediaItem> items(n);
        for (std::size_t i = 0; i < n; ++i) {
            items[i].id = "filler-" + std::to_string(i);
            items[i].path = "/nowhere/" + std::to_string(i) + ".png";
            items[i].kind = MediaKind::image;
        }
        library.setMedia(std::move(items));
    }
};

// ---- The probe gate ----

TEST(ProbeGateTest, NewestWaiterIsServedFirst) {
    ManualQueue q;
    ScopedMainQueue scope{q};
    ProbeGate gate(2);
    std::vector<std::string> ran;
    for (const char* name : {"A", "B", "C", "D", "E"}) gate.acquire([&, name] { ran.push_back(name); });
    EXPECT_EQ(ran, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(gate.active(), 2);
    EXPECT_EQ(gate.waiting(), 3u);
    for (int i = 0; i < 3; ++i) {
        gate.release();
        q.runPending();
        EXPECT_EQ(gate.active(), 2) << "the slot passes straight on";
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"A", "B", "E", "D", "C"}));
    gate.release();
    gate.release();
    EXPECT_EQ(gate.active(), 0);
    gate.release();
    EXPECT_EQ(gate.active(), 0) << "never below zero";
}

TEST_F(IntakeTest, ProbeGateHoldsItsLimitUnderABatch) {
    // Five stills selected at once with two slots: never more than two probes, all of them done.
    std::vector<std::string> paths;
    const fs::path dir = test::tempDir("batch");
    for (int i = 0; i < 5; ++i) {
        paths.push_back((dir / ("s" + std::to_string(i) + ".png")).string());
        fs::copy_file(still(), paths.back());
    }
    const auto items = intake->addMedia(paths, std::nullopt, true, true);
    ASSERT_EQ(items.size(), 5u);
    int most = 0;
    ASSERT_TRUE(q.waitUntil([&] {
        most = std::max(most, intake->probeGate().active());
        return intake->probesInFlight() == 0 && intake->probeGate().active() == 0;
    }, 60.0));
    EXPECT_LE(most, 2);
    for (const auto& m : library.media()) {
        EXPECT_EQ(m.probed, true);
        EXPECT_EQ(m.probeVersion, 2);
        EXPECT_EQ(m.width, 40);
        EXPECT_TRUE(m.thumbAt);
    }
}

// ---- Probing ----

TEST_F(IntakeTest, WithOneSlotTheFirstItemProbesThenTheRestFromTheEndBackwards) {
    make(1);
    const fs::path dir = test::tempDir("order");
    std::vector<MediaItem> items;
    for (const char* id : {"A", "B", "C", "D", "E"}) {
        MediaItem m;
        m.id = id;
        m.kind = MediaKind::image;
        m.path = (dir / (std::string(id) + ".png")).string();
        fs::copy_file(still(), m.path);
        items.push_back(m);
    }
    library.setMedia(items);
    std::vector<std::string> order;
    intake->onProbed = [&](const std::string& id) { order.push_back(id); };
    intake->probeMissing();
    ASSERT_TRUE(q.waitUntil([&] { return order.size() == 5; }, 60.0));
    EXPECT_EQ(order, (std::vector<std::string>{"A", "E", "D", "C", "B"}));
}

TEST_F(IntakeTest, ProbeMissingSkipsSettledItemsOnly) {
    const fs::path dir = test::tempDir("skip");
    struct Case {
        std::string id;
        std::optional<bool> probed;
        std::optional<std::int64_t> version;
        std::optional<double> thumbAt;
        bool thumbFile;
        bool offline;
        bool probedAgain;
    };
    const Case cases[] = {
        {"settled", true, 2, 5.0, true, false, false},
        {"thumb-deleted", true, 2, 5.0, false, false, true},
        {"no-thumb-claimed", true, 2, std::nullopt, false, false, false},
        {"old-version", true, 1, 5.0, true, false, true},
        {"no-version", true, std::nullopt, 5.0, true, false, true},
        {"never-probed", std::nullopt, std::nullopt, std::nullopt, false, false, true},
        {"offline", std::nullopt, std::nullopt, std::nullopt, false, true, false},
    };
    std::vector<MediaItem> items;
    std::set<std::string> offline;
    for (const auto& c : cases) {
        MediaItem m;
        m.id = c.id;
        m.kind = MediaKind::image;
        m.path = (dir / (c.id + ".png")).string();
        fs::copy_file(still(), m.path);
        m.probed = c.probed;
        m.probeVersion = c.version;
        m.thumbAt = c.thumbAt;
        if (c.thumbFile) test::writeFile(MediaProbe::thumbnailFile(c.id), "old");
        if (c.offline) offline.insert(c.id);
        items.push_back(m);
    }
    library.setMedia(items);
    library.setOfflineIds(offline);
    intake->probeMissing();
    settle();
    for (const auto& c : cases) {
        const MediaItem* m = library.item(c.id);
        ASSERT_TRUE(m);
        const bool again = m->thumbAt != c.thumbAt;
        EXPECT_EQ(again, c.probedAgain) << c.id;
        if (c.probedAgain) {
            EXPECT_EQ(m->probeVersion, 2) << c.id;
            EXPECT_EQ(m->width, 40) << c.id;
        }
    }
}

TEST_F(IntakeTest, ProbeKeepsEarlierValuesAndSetsNoThumbnailWithoutArtwork) {
    const fs::path dir = test::tempDir("keep");
    MediaItem m;
    m.id = "song";
    m.kind = MediaKind::audio;
    m.path = (dir / "plain.mp3").string();
    fs::copy_file(song(), m.path);
    m.fps = 25;  // a rate the sound cannot give: kept
    library.setMedia({m});
    bool done = false;
    intake->probeAndThumbnail(m, [&] { done = true; });
    ASSERT_TRUE(q.waitUntil([&] { return done; }, 60.0));
    const MediaItem* after = library.item("song");
    EXPECT_EQ(after->fps, 25);
    EXPECT_EQ(after->probed, true);
    EXPECT_EQ(after->probeVersion, 2);
    EXPECT_EQ(after->sampleRate, 44100);
    EXPECT_FALSE(after->bitDepth);
    EXPECT_FALSE(after->thumbAt);
    q.runPending();
    EXPECT_EQ(intake->probeGate().active(), 0);
    // An item removed while its probe ran is left alone.
    MediaItem gone = m;
    gone.id = "gone";
    done = false;
    intake->probeAndThumbnail(gone, [&] { done = true; });
    ASSERT_TRUE(q.waitUntil([&] { return done; }, 60.0));
    EXPECT_FALSE(library.item("gone"));
}

TEST_F(IntakeTest, OfflineRescanRunsOnceAtATimeAndRelinksOnlyFromTheFolder) {
    const fs::path dir = test::tempDir("rescan");
    MediaItem m;
    m.id = "lost";
    m.kind = MediaKind::image;
    m.name = "lost.png";
    m.path = (dir / "old" / "lost.png").string();
    library.setMedia({m});
    library.markOffline("lost");

    intake->cascadeOfflineRescan();
    EXPECT_TRUE(intake->rescanInFlight());
    intake->cascadeOfflineRescan();  // dropped, not queued
    ASSERT_TRUE(q.waitUntil([&] { return !intake->rescanInFlight(); }, 30.0));
    EXPECT_TRUE(library.offlineIds().count("lost")) << "no folder: nothing relinked";
    EXPECT_FALSE(library.item("lost")->probed);

    fs::create_directories(dir / "found");
    fs::copy_file(still(), dir / "found" / "lost.png");
    relinkFolder = (dir / "found").string();
    intake->cascadeOfflineRescan();
    EXPECT_TRUE(intake->rescanInFlight());
    ASSERT_TRUE(q.waitUntil([&] { return !intake->rescanInFlight(); }, 30.0));
    settle();
    EXPECT_FALSE(library.offlineIds().count("lost"));
    EXPECT_EQ(library.item("lost")->path, (dir / "found" / "lost.png").string());
    EXPECT_EQ(library.item("lost")->probed, true) << "a relinked clip is probed again";
}

// ---- Adding media ----

TEST_F(IntakeTest, DecksGoToTheirRouteAndFoldersOpenOneLevel) {
    const fs::path dir = test::tempDir("add");
    std::vector<std::pair<std::string, std::optional<std::string>>> decks;
    intake->routeDeck = [&](const std::string& p, const std::optional<std::string>& t) { decks.push_back({p, t}); };
    test::writeFile(dir / "talk.PDF", "%PDF");
    fs::copy_file(videoA(), dir / "one.mp4");
    fs::copy_file(videoB(), dir / "two.mov");
    auto items = intake->addMedia({(dir / "talk.PDF").string(), (dir / "one.mp4").string(), (dir / "two.mov").string()},
                                  "p1", true, true);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "one.mp4");
    EXPECT_EQ(items[1].name, "two.mov");
    ASSERT_EQ(decks.size(), 1u);
    EXPECT_EQ(decks[0], (std::pair<std::string, std::optional<std::string>>{(dir / "talk.PDF").string(), "p1"}));
    EXPECT_FALSE(intake->unsupportedFilePrompt());

    // A folder: the video goes in, the PDF inside it is not a deck but a file that couldn't be added.
    const fs::path folder = dir / "drop";
    fs::create_directories(folder / "sub");
    test::writeFile(folder / "notes.pdf", "%PDF");
    test::writeFile(folder / ".hidden.mp4", "x");
    fs::copy_file(videoA(), folder / "clip.mp4");
    decks.clear();
    items = intake->addMedia({folder.string()}, std::nullopt, true, true);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "clip.mp4");
    EXPECT_TRUE(decks.empty());
    EXPECT_EQ(intake->unsupportedFilePrompt(), "2 couldn't be added");
    ASSERT_EQ(unusable.size(), 1u);
    auto names = unusable[0];
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{(folder / "notes.pdf").string(), (folder / "sub").string()}))
        << "hidden entries are not opened; a folder inside is not added";
}

TEST_F(IntakeTest, SequencesAreQueuedAndTheirFramesLeftOut) {
    const fs::path dir = test::tempDir("seq");
    std::vector<std::string> frames;
    for (int i = 1; i <= 8; ++i) {
        frames.push_back((dir / ("shot_000" + std::to_string(i) + ".png")).string());
        fs::copy_file(still(), frames.back());
    }
    fs::copy_file(song(), dir / "music.mp3");
    std::vector<std::string> seen;
    intake->detectSequence = [&](const std::vector<std::string>& list) -> std::optional<DetectedSequence> {
        seen = list;
        return DetectedSequence{frames, "shot"};
    };
    std::vector<std::pair<DetectedSequence, std::optional<std::string>>> queued;
    intake->queueSequence = [&](DetectedSequence s, const std::optional<std::string>& t) { queued.push_back({s, t}); };
    auto all = frames;
    all.push_back((dir / "music.mp3").string());
    auto items = intake->addMedia(all, "p2", true, true);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, MediaKind::audio);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].first.frames, frames);
    EXPECT_EQ(queued[0].second, "p2");
    EXPECT_EQ(seen.size(), 9u);
    // Separate images (detection off): every frame is a clip; announcing off also skips detection.
    queued.clear();
    EXPECT_EQ(intake->addMedia(frames, "p2", true, false).size(), 8u);
    EXPECT_EQ(intake->addMedia(frames, std::nullopt, false, true).size(), 8u);
    EXPECT_TRUE(queued.empty());
}

TEST_F(IntakeTest, TheItemLimitCutsAndSays) {
    const fs::path dir = test::tempDir("limit");
    std::vector<std::string> five;
    for (int i = 0; i < 5; ++i) {
        five.push_back((dir / ("v" + std::to_string(i) + ".mp4")).string());
        fs::copy_file(videoA(), five.back());
    }
    fill(998);
    auto items = intake->addMedia(five, std::nullopt, true, true);
    EXPECT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].path, five[0]);
    EXPECT_EQ(intake->capacityAlert(), "Added 2 of 5 files \u2014 a project holds up to 1000 media items.");
    intake->clearCapacityAlert();
    EXPECT_TRUE(intake->addMedia(five, std::nullopt, true, true).empty());
    EXPECT_EQ(intake->capacityAlert(), "This project is full \u2014 a project holds up to 1000 media items.");
    EXPECT_EQ(library.media().size(), 1000u);
    library.setMedia({});
}

TEST_F(IntakeTest, AnIngestCallOfAnUnknownTypeSaysNothing) {
    const fs::path dir = test::tempDir("quiet");
    test::writeFile(dir / "readme.txt", "hi");
    EXPECT_TRUE(intake->addMedia({(dir / "readme.txt").string()}, std::nullopt, false, true).empty());
    EXPECT_FALSE(intake->unsupportedFilePrompt());
    EXPECT_TRUE(unusable.empty());
    EXPECT_TRUE(intake->addMedia({(dir / "readme.txt").string()}, std::nullopt, true, true).empty());
    EXPECT_EQ(intake->unsupportedFilePrompt(), "1 couldn't be added");
}

TEST_F(IntakeTest, ANameThatIsNotUtf8ReplacesAnUnansweredPrompt) {
    const fs::path dir = test::tempDir("bytes");
    test::writeFile(dir / "readme.txt", "hi");
    EXPECT_TRUE(intake->addMedia({(dir / "readme.txt").string()}, std::nullopt, true, true).empty());
    EXPECT_EQ(intake->unsupportedFilePrompt(), "1 couldn't be added");
    // Not answered; the next call refuses a name that is not UTF-8.
    const fs::path bad = dir / "caf\xE9.mp4";
    fs::copy_file(videoA(), bad);
    EXPECT_TRUE(intake->addMedia({bad.string()}, std::nullopt, true, true).empty());
    EXPECT_EQ(intake->unsupportedFilePrompt(), Library::refusal(bad));
    // Within one call both go into the one prompt.
    EXPECT_TRUE(intake->addMedia({(dir / "readme.txt").string(), bad.string()}, std::nullopt, true, true).empty());
    EXPECT_EQ(intake->unsupportedFilePrompt(), "1 couldn't be added " + *Library::refusal(bad));
}

// ---- Ingest ----

TEST_F(IntakeTest, SameContentTwiceIsOneFileAndTwoClips) {
    const auto first = upload(videoA(), "clip.mp4");
    ASSERT_TRUE(first.ok) << first.message;
    const auto second = upload(videoA(), "other name.mp4");
    ASSERT_TRUE(second.ok) << second.message;
    EXPECT_NE(first.id, second.id);
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"clip.mp4"}));
    EXPECT_TRUE(folderNames(Store::mediaIncomingDir()).empty()) << "the temporary files are gone";
    ASSERT_EQ(registry.entries.size(), 1u);
    const auto& entry = registry.entries.begin()->second;
    EXPECT_EQ(entry.filename, "clip.mp4");
    EXPECT_EQ(entry.origin, MediaOrigin::upload);
    EXPECT_EQ(entry.size, std::int64_t(fs::file_size(videoA())));
    EXPECT_EQ(entry.contentHash, ContentHash::sha256(videoA()));
    EXPECT_EQ(MediaRegistry::load(), registry) << "saved";
    EXPECT_EQ(library.item(first.id)->path, library.item(second.id)->path);
    EXPECT_EQ(library.item(second.id)->contentHash, entry.contentHash);
    EXPECT_EQ(library.item(second.id)->origin, MediaOrigin::upload);
    EXPECT_FALSE(fs::exists(MediaIngest::sideFile(Store::mediaDir() / "clip.mp4"))) << "removed once a clip";
    settle();
    EXPECT_EQ(library.item(first.id)->probed, true);
    EXPECT_TRUE(library.item(first.id)->thumbAt);
    EXPECT_TRUE(fs::exists(MediaProbe::thumbnailFile(first.id)));
}

TEST_F(IntakeTest, TombstonedContentIsTakenInAgainAndTheTombstoneLifted) {
    tombstones.hashes = {*ContentHash::sha256(videoB()), "other"};
    tombstones.save();
    const auto r = upload(videoB(), "back.mp4", std::nullopt, std::nullopt, std::nullopt, MediaOrigin::cloud);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"back.mp4"}));
    EXPECT_EQ(tombstones.hashes, (std::set<std::string>{"other"}));
    EXPECT_EQ(MediaTombstones::load(), tombstones);
    EXPECT_EQ(library.item(r.id)->origin, MediaOrigin::cloud);
}

TEST_F(IntakeTest, SameNameDifferentContentGetsANumber) {
    ASSERT_TRUE(upload(videoA(), "clip.mp4").ok);
    const auto r = upload(videoB(), "clip.mp4");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"clip 2.mp4", "clip.mp4"}));
    EXPECT_EQ(fs::path(library.item(r.id)->path).filename(), "clip 2.mp4");
    EXPECT_EQ(r.name, "clip 2.mp4");
}

TEST_F(IntakeTest, PlaylistByIdElseByNameElseNew) {
    const Group walkIn = library.createGroup("Walk-in");
    const Group other = library.createGroup("Other");
    library.deleteGroup(other.id);
    struct Case {
        std::optional<std::string> id, name;
        std::string expectedPlaylist;  // empty: none
    };
    const Case cases[] = {
        {walkIn.id, "Something else", "Walk-in"},
        {other.id, "WALK-IN", "Walk-in"},    // a deleted id falls through to the name, any letter case
        {std::nullopt, "Encore", "Encore"},  // created under the requested spelling
        {std::nullopt, "encore", "Encore"},  // and found again
        {std::nullopt, "", ""},
        {std::nullopt, std::nullopt, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path unique = test::tempDir("pl") / "f.png";
        // Distinct content, so that each case is its own file.
        test::writeFile(unique, test::readFile(still()) + std::string(size_t(++n), '\0'));
        const auto r = upload(unique, "f.png", std::nullopt, c.id, c.name);
        ASSERT_TRUE(r.ok) << r.message;
        std::string in;
        int memberships = 0;
        for (const auto& g : library.groups())
            if (std::count(g.mediaIds.begin(), g.mediaIds.end(), r.id)) {
                in = g.name;
                ++memberships;
            }
        EXPECT_EQ(in, c.expectedPlaylist) << n;
        EXPECT_LE(memberships, 1);
    }
    EXPECT_EQ(library.groups().size(), 2u) << "Walk-in and Encore";
}

TEST_F(IntakeTest, ResultNameIsTheDisplayNameOrElseTheFileName) {
    const auto named = upload(videoA(), "a.mp4", "Intro");
    ASSERT_TRUE(named.ok);
    EXPECT_EQ(named.name, "Intro");
    EXPECT_EQ(library.item(named.id)->name, "Intro");
    const auto blank = upload(videoB(), "b.mp4", "");
    ASSERT_TRUE(blank.ok);
    EXPECT_EQ(blank.name, "b.mp4") << "never an empty name to the sender";
    EXPECT_EQ(library.item(blank.id)->name, "b.mp4");
    // The same through a duplicate: the existing file's clip gets the name asked for.
    const auto again = upload(videoB(), "whatever.mp4", "");
    EXPECT_EQ(again.name, "b.mp4");
}

TEST_F(IntakeTest, RefusalsDeleteTheTemporaryFile) {
    struct Case {
        fs::path source;
        std::string filename;
        std::string message;
    };
    const fs::path dir = test::tempDir("refuse");
    test::writeFile(dir / "letter.docx", "PK word processor");
    test::writeFile(dir / "fake.mp4", "not a movie, only text that claims to be one");
    const Case cases[] = {
        {dir / "letter.docx", "letter.docx", "unsupported file type"},
        {dir / "fake.mp4", "fake.mp4", "file does not contain readable video data"},
        {song(), "song.png", "file does not contain readable image data"},
        {videoA(), ".mp4", "unsupported file type"},  // cleaned to "mp4": no extension
    };
    for (const auto& c : cases) {
        fs::path temp;
        const auto r = upload(c.source, c.filename, std::nullopt, std::nullopt, std::nullopt, MediaOrigin::upload, &temp);
        EXPECT_FALSE(r.ok) << c.filename;
        EXPECT_EQ(r.message, c.message) << c.filename;
        EXPECT_FALSE(fs::exists(temp)) << c.filename;
    }
    EXPECT_TRUE(managedFiles().empty());
    EXPECT_TRUE(library.media().empty());
}

// FFmpeg refuses the title's allocation and reads on without it: the sound is good, so the file is taken in,
// and probing it costs no more memory than any small file.
TEST_F(IntakeTest, AWavWhoseHeaderAsksForGigabytesIsProbedInLittleMemory) {
    const fs::path file = test::tempDir("crafted") / "title.wav";
    const std::string crafted = wavAskingForGigabytes();
    ASSERT_EQ(crafted.size(), 85u);
    test::writeFile(file, crafted);
    const test::PeakGrowth growth;
    const auto r = upload(file, "title.wav");
    EXPECT_LT(growth.now(), 256 * 1024) << "peak growth in kB";
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_EQ(managedFiles(), std::vector<std::string>{"title.wav"});
}

TEST_F(IntakeTest, AFailedMoveReportsMed05AndDeletesTheUpload) {
    // The media folder gone: the move has nowhere to go.
    const fs::path outside = test::tempDir("outside") / "u.mp4";
    fs::copy_file(videoA(), outside);
    const fs::path media = Store::mediaDir();
    const fs::path aside = media.string() + "-aside";
    fs::rename(media, aside);
    const auto r = ingest({outside.string(), "my clip.mp4", std::nullopt, std::nullopt, std::nullopt, MediaOrigin::upload});
    fs::rename(aside, media);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "MED-05 \u2014 the host couldn't store this file");
    EXPECT_FALSE(fs::exists(outside));
    ASSERT_FALSE(IssueLog::shared().recent().empty());
    const Issue& issue = IssueLog::shared().recent().front();
    EXPECT_EQ(issue.code, IssueCode::mediaStoreFailed);
    EXPECT_EQ(issue.subject, "my clip.mp4");
    EXPECT_TRUE(library.media().empty());
}

TEST_F(IntakeTest, AFullProjectLeavesTheLandedFileForTheNextStart) {
    fill(1000);
    const auto r = upload(videoA(), "late.mp4", std::nullopt, std::nullopt, "Later");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "unsupported or unreadable file");
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"late.mp4"}));
    EXPECT_EQ(MediaIngest::readManifest(Store::mediaDir() / "late.mp4"),
              (MediaIngest::Manifest{std::nullopt, std::nullopt, "Later"}));
    // The next start, with room again, finishes it.
    library.setMedia({});
    make();
    intake->scanIngestFolder();
    ASSERT_EQ(library.media().size(), 1u);
    EXPECT_EQ(library.media()[0].name, "late.mp4");
    ASSERT_TRUE(group("Later"));
    EXPECT_FALSE(fs::exists(MediaIngest::sideFile(Store::mediaDir() / "late.mp4")));
}

// ---- The start-up scan ----

TEST_F(IntakeTest, StartUpScanFinishesDeletesAndLeavesAsTheSideFilesSay) {
    const fs::path media = Store::mediaDir();
    auto land = [&](const fs::path& source, const std::string& name, std::optional<std::string> side) {
        fs::copy_file(source, media / name);
        if (side) test::writeFile(MediaIngest::sideFile(media / name), *side);
    };
    land(videoA(), "resume.mp4", R"({"displayName":"Resumed","newPlaylistName":"Scan"})");
    land(videoB(), "deleted.mp4", "{}");
    tombstones.hashes.insert(*ContentHash::sha256(videoB()));
    land(still(), "done.png", "{}");
    land(song(), "garbled.mp3", "{not json");
    const fs::path unrelated = test::tempDir("u") / "alone.png";
    test::writeFile(unrelated, test::readFile(still()) + "x");
    land(unrelated, "alone.png", std::nullopt);
    test::writeFile(media / "notes.txt.obingest.json", "{}");
    MediaItem existing;
    existing.id = "existing";
    existing.kind = MediaKind::image;
    existing.path = (media / "done.png").string();
    library.setMedia({existing});

    // Left by an earlier run in the incoming folder: old enough to go.
    const fs::path incoming = Store::mediaIncomingDir();
    test::writeFile(incoming / "half.mp4", "partial");
    fs::create_directories(incoming / "stale-dir");
    test::writeFile(incoming / ".hidden", "h");
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& n : {"half.mp4", ".hidden"}) fs::last_write_time(incoming / n, past);
    // Also what was written in the same second, moments before this run.
    test::writeFile(incoming / "moments.mp4", "partial");
    fs::last_write_time(incoming / "moments.mp4", fs::file_time_type::clock::now() - std::chrono::milliseconds(50));
    make();  // this run starts now
    // An upload that began streaming after this run started: it must survive the scan.
    std::optional<fs::path> handed;
    auto sink = UploadSink::create(incoming / "streaming.mp4", [&](const fs::path& p) { handed = p; });
    ASSERT_TRUE(sink);
    sink->write("abc");

    intake->scanIngestFolder();

    EXPECT_EQ(folderNames(incoming), (std::vector<std::string>{"streaming.mp4"}));
    sink->finish();
    EXPECT_EQ(test::readFile(*handed), "abc");

    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"alone.png", "done.png", "garbled.mp3", "resume.mp4"}));
    for (const auto& n : {"resume.mp4", "deleted.mp4", "done.png", "garbled.mp3"})
        EXPECT_FALSE(fs::exists(MediaIngest::sideFile(media / n))) << n;
    EXPECT_TRUE(fs::exists(media / "notes.txt.obingest.json")) << "not a media name: not the scan's";
    std::map<std::string, const MediaItem*> byFile;
    for (const auto& m : library.media()) byFile[fs::path(m.path).filename().string()] = &m;
    EXPECT_EQ(byFile.size(), 3u);
    ASSERT_TRUE(byFile.count("resume.mp4"));
    EXPECT_EQ(byFile["resume.mp4"]->name, "Resumed");
    EXPECT_EQ(byFile["resume.mp4"]->origin, MediaOrigin::upload);
    ASSERT_TRUE(group("Scan"));
    EXPECT_EQ(group("Scan")->mediaIds, (std::vector<std::string>{byFile["resume.mp4"]->id}));
    ASSERT_TRUE(byFile.count("garbled.mp3"));
    EXPECT_EQ(library.groups().size(), 1u) << "an unreadable side file places nowhere";
    EXPECT_FALSE(byFile.count("alone.png")) << "no side file: never touched";
    EXPECT_EQ(registry.entries.size(), 2u);
}

}  // namespace
