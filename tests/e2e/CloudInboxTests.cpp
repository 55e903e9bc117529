// Uploads arriving from the internet inbox, end to end: the application state with uploads on, the real
// client against the loopback fake service, the real ingest with its probe and thumbnail, on the virtual
// clock.
#include "../App/AppStateFixture.hpp"
#include "Engine/Cloud/FakeInbox.hpp"

using namespace ombry;
using namespace ombry::app_test;

namespace {

class CloudInboxShowTest : public AppStateTest {
protected:
    test::FakeInbox service;
    void idle() {
        ASSERT_TRUE(q.waitUntil([this] {
            return app->cloudRequestsInFlight() == 0 && !app->cloudSyncing() && app->intake().probesInFlight() == 0;
        }, 60.0)) << "the pull did not end";
    }
};

TEST_F(CloudInboxShowTest, UploadsLandInTheirPlaylistWithThumbnailsAndRefusalsAreDeleted) {
    const std::string clip = test::readFile(video("blue"));
    service.addItem({.key = "up-1", .size = std::int64_t(clip.size()), .filename = "Walk In.MP4", .title = "Walk-in loop",
                     .playlist = "From the foyer", .content = clip});
    service.addItem({.key = "up-2", .size = 12, .filename = "running order.docx", .content = "not a movie!"});
    make();
    AppSettings s = app->settings();
    s.cloudUploadEnabled = true;
    s.cloudServiceURL = service.origin() + "/";
    s.cloudInboxId = service.inboxId;
    s.cloudAppSecret = service.appSecret;
    s.cloudUploadPassword = "amber-otter-1234";
    app->setSettings(s);
    app->start();
    q.runPending();
    idle();
    q.advance(Library::coalesceSeconds + 0.05);
    idle();

    // The clip: probed, thumbnailed, named after its title, in the playlist the uploader chose.
    ASSERT_EQ(app->library.media().size(), 1u);
    const MediaItem m = app->library.media()[0];
    EXPECT_EQ(m.name, "Walk-in loop");
    EXPECT_EQ(m.origin, MediaOrigin::cloud);
    EXPECT_EQ(m.kind, MediaKind::video);
    EXPECT_EQ(fs::path(m.path).parent_path(), Store::mediaDir());
    EXPECT_EQ(test::readFile(m.path), clip);
    EXPECT_EQ(m.probed, true);
    EXPECT_TRUE(m.thumbAt);
    EXPECT_TRUE(fs::exists(Store::thumbnailDir() / (m.id + ".jpg")));
    ASSERT_EQ(app->library.groups().size(), 1u);
    EXPECT_EQ(app->library.groups()[0].name, "From the foyer");
    EXPECT_EQ(app->library.groups()[0].mediaIds, std::vector<std::string>{m.id});
    ASSERT_TRUE(m.contentHash);
    EXPECT_EQ(app->mediaRegistry().entries.at(*m.contentHash).origin, MediaOrigin::cloud);
    // The document: refused, never downloaded, deleted on the service like the clip.
    EXPECT_EQ(service.count("GET", "/app/file"), 1u);
    EXPECT_EQ(service.count("DELETE", "/app/file"), 2u);
    EXPECT_TRUE(service.itemKeys().empty());
    ASSERT_TRUE(app->cloudStatus());
    EXPECT_EQ(app->cloudStatus()->pulled, 1);
    EXPECT_EQ(app->cloudStatus()->error, "running order.docx: unsupported file type");
    EXPECT_TRUE(fs::is_empty(Store::mediaIncomingDir()));
    EXPECT_TRUE(app->cloudDownloads().empty());
    // The storage pane sees the new file as used, of cloud origin.
    const auto files = app->downloadedMediaFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].currentItemIds, std::vector<std::string>{m.id});
    EXPECT_EQ(files[0].origin, MediaOrigin::cloud);

    // The next pull finds nothing new and downloads nothing.
    const auto waits = service.count("GET", "/app/wait");
    q.advance(AppState::cloudPollSpacing);
    idle();
    EXPECT_EQ(service.count("GET", "/app/wait"), waits + 1);
    EXPECT_EQ(service.count("GET", "/app/file"), 1u);
    EXPECT_EQ(app->library.media().size(), 1u);
    EXPECT_EQ(app->cloudStatus()->pulled, 0);
    EXPECT_EQ(app->cloudStatus()->error, std::nullopt);
    // The playlist names went to the service with the password when the loop began, and again once the
    // upload had made its playlist.
    q.advance(AppState::cloudPushDelay);
    idle();
    const auto configs = service.requests("POST", "/app/config");
    ASSERT_GE(configs.size(), 2u);
    EXPECT_EQ(Json::parse(configs.front().body), (Json{{"password", "amber-otter-1234"}, {"playlists", Json::array()}}));
    EXPECT_EQ(Json::parse(configs.back().body), (Json{{"playlists", {"From the foyer"}}}));
}

}  // namespace
