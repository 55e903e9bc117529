// Every stored document against a fixture written by hand from the record tables, every key present: a
// key misspelt the same way in a reader and its writer still round-trips, but fails here.
#include <gtest/gtest.h>

#include "Engine/Library/MediaRegistry.hpp"
#include "Engine/Library/ProjectDoc.hpp"
#include "Engine/Library/SavedPlaylists.hpp"
#include "Engine/Library/Settings.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

Json fixture(const std::string& name) { return Json::parse(test::readFile(fs::path(OMBRY_FIXTURES_DIR) / name)); }

// Written back, the record gives the fixture again: the same keys with the same values.
template <class T>
void expectWritesBack(const T& value, const std::string& name) {
    const Json fromFixture = fixture(name);
    const Json written = encodeJson(value);
    EXPECT_EQ(written, fromFixture) << name << "\nwritten: " << written.dump(2)
                                    << "\ndiff: " << Json::diff(fromFixture, written).dump();
}

#define EXPECT_FIELD(got, want, field) EXPECT_EQ((got).field, (want).field) << #field

void expectSameItem(const MediaItem& got, const MediaItem& want) {
    EXPECT_FIELD(got, want, id);
    EXPECT_FIELD(got, want, kind);
    EXPECT_FIELD(got, want, name);
    EXPECT_FIELD(got, want, path);
    EXPECT_FIELD(got, want, duration);
    EXPECT_FIELD(got, want, width);
    EXPECT_FIELD(got, want, height);
    EXPECT_FIELD(got, want, fps);
    EXPECT_FIELD(got, want, sampleRate);
    EXPECT_FIELD(got, want, bitDepth);
    EXPECT_FIELD(got, want, channels);
    EXPECT_FIELD(got, want, probed);
    EXPECT_FIELD(got, want, probeVersion);
    EXPECT_FIELD(got, want, addedAt);
    EXPECT_FIELD(got, want, transitionType);
    EXPECT_FIELD(got, want, layer);
    EXPECT_FIELD(got, want, endAction);
    EXPECT_FIELD(got, want, loop);
    EXPECT_FIELD(got, want, fillMode);
    EXPECT_FIELD(got, want, trimStart);
    EXPECT_FIELD(got, want, trimEnd);
    EXPECT_FIELD(got, want, order);
    EXPECT_FIELD(got, want, thumbAt);
    EXPECT_FIELD(got, want, origin);
    EXPECT_FIELD(got, want, contentHash);
    EXPECT_TRUE(got == want);  // no field left out above
}

// The one clip of both fixtures: the project's, and its copy in the saved playlist.
MediaItem openerClip() {
    return MediaItem{.id = "0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9",
                     .kind = MediaKind::video,
                     .name = "opener.mov",
                     .path = "/srv/show/opener.mov",
                     .duration = 12.5,
                     .width = 1920,
                     .height = 1080,
                     .fps = 29.97,
                     .sampleRate = 48000,
                     .bitDepth = 24,
                     .channels = 2,
                     .probed = true,
                     .probeVersion = 2,
                     .addedAt = 1700000000000.5,
                     .transitionType = TransitionType::crossfade,
                     .layer = LayerId::overlay,
                     .endAction = EndAction::loop,
                     .loop = true,
                     .fillMode = FillMode::fill,
                     .trimStart = 1.25,
                     .trimEnd = 11.75,
                     .order = -2.5,
                     .thumbAt = 1700000001000,
                     .origin = MediaOrigin::cloud,
                     .contentHash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"};
}

}  // namespace

TEST(StoredDocuments, Project) {
    const auto doc = decodeJson<ProjectDoc>(fixture("project.json"));
    EXPECT_EQ(doc.schemaVersion, 1);
    EXPECT_EQ(doc.id, "6F1C2A3B-4D5E-4F60-8172-839405A6B7C8");
    EXPECT_EQ(doc.name, "Spring Gala");
    EXPECT_EQ(doc.savedAt, 1700000002000.25);
    ASSERT_TRUE(doc.stage);
    EXPECT_EQ(doc.stage->width, 1280);
    EXPECT_EQ(doc.stage->height, 720);
    EXPECT_EQ(doc.stage->fps, 50);
    EXPECT_EQ(doc.stage->background, "#102030");

    ASSERT_EQ(doc.media.size(), 1u);
    const MediaItem item = openerClip();
    expectSameItem(doc.media[0], item);

    ASSERT_EQ(doc.groups.size(), 1u);
    const Group& g = doc.groups[0];
    EXPECT_EQ(g.id, "1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0");
    EXPECT_EQ(g.name, "Act One");
    EXPECT_EQ(g.mediaIds, std::vector<std::string>{item.id});
    EXPECT_EQ(g.color, "#7596b8");
    EXPECT_EQ(g.icon, "film");
    EXPECT_EQ(g.emoji, "\U0001F3AD");
    EXPECT_EQ(g.transitionType, TransitionType::slide);
    EXPECT_EQ(g.advanceSeconds, 8.5);
    EXPECT_EQ(g.advanceOnEnd, true);
    EXPECT_EQ(g.loopPlaylist, false);

    expectWritesBack(doc, "project.json");
}

TEST(StoredDocuments, RecentProjects) {
    const auto recents = decodeJson<RecentsStore>(fixture("projects.json"));
    ASSERT_EQ(recents.recents.size(), 1u);
    const RecentEntry& e = recents.recents[0];
    EXPECT_EQ(e.id, "6F1C2A3B-4D5E-4F60-8172-839405A6B7C8");
    EXPECT_EQ(e.name, "Spring Gala");
    EXPECT_EQ(e.path, "/srv/show/Spring Gala.ombry");
    EXPECT_EQ(e.openedAt, 1700000007000.75);
    EXPECT_EQ(recents.lastOpenPath, "/srv/show/Spring Gala.ombry");
    expectWritesBack(recents, "projects.json");
}

TEST(StoredDocuments, Settings) {
    // Every value differs from its default, so a key the reader does not find shows.
    const auto s = decodeJson<AppSettings>(fixture("settings.json"));
    EXPECT_EQ(s.allowOutputOnPrimaryDisplay, true);
    EXPECT_EQ(s.allowOutputOnControllerDisplay, true);
    EXPECT_EQ(s.audioMonitorEnabled, true);
    EXPECT_EQ(s.syphonOutputEnabled, true);
    EXPECT_EQ(s.ndiOutputEnabled, true);
    EXPECT_EQ(s.ndiAudioDelayMs, 120);
    EXPECT_EQ(s.monitorDeviceUID, "alsa_output.usb-Focusrite-00.analog-stereo");
    EXPECT_EQ(s.autoRelinkFolderPath, "/srv/show");
    EXPECT_EQ(s.remoteControlEnabled, false);
    EXPECT_EQ(s.remoteControlPort, 8123);
    EXPECT_EQ(s.bleRemoteEnabled, true);
    EXPECT_EQ(s.remoteControlPassword, "s3cret");
    EXPECT_EQ(s.mediaUploadEnabled, true);
    EXPECT_EQ(s.mediaUploadToken, "AbCdEfGhIjKlMnOpQrStU0");
    EXPECT_EQ(s.cloudUploadEnabled, true);
    EXPECT_EQ(s.cloudServiceURL, "http://127.0.0.1:9100");
    EXPECT_EQ(s.cloudInboxId, "inbox-42");
    EXPECT_EQ(s.cloudAppSecret, "app-secret");
    EXPECT_EQ(s.cloudUploadPassword, "uploader");
    EXPECT_EQ(s.customResolutions, std::vector<std::string>{"2560x1440"});
    EXPECT_EQ(s.customFrameRates, (std::vector<std::string>{"48p", "120p"}));
    EXPECT_EQ(s.serviceBaseURL, "http://127.0.0.1:9200");
    expectWritesBack(s, "settings.json");
}

TEST(StoredDocuments, SavedPlaylists) {
    const auto store = decodeJson<SavedPlaylistsStore>(fixture("savedPlaylists.json"));
    ASSERT_EQ(store.playlists.size(), 1u);
    const SavedPlaylistSnapshot& s = store.playlists[0];
    EXPECT_EQ(s.id, "2C3D4E5F-6071-4283-94A5-B6C7D8E9F001");
    EXPECT_EQ(s.name, "Walk-in");
    EXPECT_EQ(s.color, "#6fb495");
    EXPECT_EQ(s.icon, "music.note");
    EXPECT_EQ(s.emoji, "\U0001F3B5");
    EXPECT_EQ(s.savedAt, 1700000003000);

    ASSERT_EQ(s.media.size(), 1u);
    expectSameItem(s.media[0], openerClip());

    expectWritesBack(store, "savedPlaylists.json");
}

TEST(StoredDocuments, MediaRegistry) {
    const std::string hash = "60303ae22b998861bce3b28f33eec1be758a213c86c93c076dbe9f558c11c752";
    const auto reg = decodeJson<MediaRegistry>(fixture("mediaRegistry.json"));
    ASSERT_EQ(reg.entries.size(), 1u);
    ASSERT_TRUE(reg.entries.count(hash));
    const MediaRegistry::Entry& e = reg.entries.at(hash);
    EXPECT_EQ(e.contentHash, hash);
    EXPECT_EQ(e.filename, "walkin.wav");
    EXPECT_EQ(e.size, 5000000000);
    EXPECT_EQ(e.origin, MediaOrigin::lan);
    EXPECT_EQ(e.addedAt, 1700000006000.5);
    expectWritesBack(reg, "mediaRegistry.json");
}

TEST(StoredDocuments, DeletedMedia) {
    const auto tombstones = decodeJson<MediaTombstones>(fixture("deletedMedia.json"));
    EXPECT_EQ(tombstones.hashes,
              std::set<std::string>{"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"});
    expectWritesBack(tombstones, "deletedMedia.json");
}
