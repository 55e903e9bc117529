// Media intake inside the application state: an upload streamed through the connection's body sink into the
// managed folder and a playlist, probed with its thumbnail, and the thumbnail index reaching the servers;
// and the same from curl through the real remote-control server on loopback.
#include "AppStateFixture.hpp"

#include <sys/wait.h>

#include "App/ServerLinks.hpp"
#include "Engine/Intake/UploadSink.hpp"
#include "Platform/Uuid.hpp"
#include "support/Processes.hpp"

using namespace ombry;
using namespace ombry::app_test;

namespace {

std::vector<std::string> managedFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Store::mediaDir())) {
        const auto n = e.path().filename().string();
        if (!n.starts_with(".") && !MediaIngest::isSideFile(n)) names.push_back(n);
    }
    return names;
}

class IntakeWiringTest : public AppStateTest {
protected:
    void SetUp() override {
        AppStateTest::SetUp();
        for (const auto& e : fs::directory_iterator(Store::mediaDir())) fs::remove_all(e.path());
        fs::create_directories(Store::mediaIncomingDir());
    }
    // The body arrives in pieces, as the connection writes it; the sink's completion hands the file over.
    UploadIngestResult upload(const fs::path& clip, UploadIngestRequest request) {
        const std::string bytes = test::readFile(clip);
        const fs::path temp = Store::mediaIncomingDir() / (makeUuid() + ".mp4");
        request.tempPath = temp.string();
        std::optional<UploadIngestResult> result;
        auto sink = UploadSink::create(temp, [&](const fs::path&) {
            app->ingestUploadedFile(request, [&](UploadIngestResult r) { result = std::move(r); });
        });
        EXPECT_TRUE(sink);
        if (!sink) return UploadIngestResult::failed("no sink");
        for (std::size_t at = 0; at < bytes.size(); at += 64 * 1024)
            sink->write(std::string_view(bytes).substr(at, 64 * 1024));
        sink->finish();
        EXPECT_TRUE(q.waitUntil([&] { return result.has_value(); }, 60.0)) << "the ingest never answered";
        return result.value_or(UploadIngestResult::failed("no answer"));
    }
    // Probes land on the main queue; their coalesced write (and the library change after it) on the clock.
    void probed(const std::string& id) {
        ASSERT_TRUE(q.waitUntil([&] {
            const MediaItem* m = app->library.item(id);
            return m && m->probed == true && app->intake().probesInFlight() == 0;
        }, 60.0)) << "the probe never landed";
        q.advance(Library::coalesceSeconds + 0.05);
    }
};

TEST_F(IntakeWiringTest, AnUploadBecomesAProbedClipInItsPlaylistAndTheSameOneAgainAddsNoFile) {
    make();
    const Group walkIn = app->library.createGroup("Walk-in");
    EXPECT_EQ(app->uploadPlaylists(), (std::vector<UploadPlaylistInfo>{{walkIn.id, "Walk-in"}}));
    const UploadIngestRequest request{"", "show clip.mp4", "Opener", std::nullopt, "walk-IN", MediaOrigin::upload};

    const auto first = upload(video(), request);
    ASSERT_TRUE(first.ok) << first.message;
    EXPECT_EQ(first.name, "Opener");
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"show clip.mp4"}));
    probed(first.id);
    const MediaItem clip = *app->library.item(first.id);
    EXPECT_EQ(clip.name, "Opener");
    EXPECT_EQ(clip.path, (Store::mediaDir() / "show clip.mp4").string());
    EXPECT_EQ(clip.width, 64);
    EXPECT_TRUE(clip.thumbAt);
    EXPECT_TRUE(fs::exists(Store::thumbnailDir() / (first.id + ".jpg")));
    ASSERT_FALSE(server->thumbIndexes.empty());
    EXPECT_TRUE(server->thumbIndexes.back().count(first.id)) << "the library change carries the new thumbnail";
    EXPECT_TRUE(control->thumbIndexes.back().count(first.id));
    EXPECT_TRUE(ble->thumbIndexes.back().count(first.id));

    const auto second = upload(video(), request);
    ASSERT_TRUE(second.ok) << second.message;
    EXPECT_NE(second.id, first.id);
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"show clip.mp4"})) << "one file for the same content";
    EXPECT_EQ(app->library.item(second.id)->path, clip.path);
    const auto& groups = app->library.groups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].mediaIds, (std::vector<std::string>{first.id, second.id}));
    EXPECT_EQ(app->mediaRegistry().entries.size(), 1u);
    probed(second.id);
}

TEST_F(IntakeWiringTest, WithoutAnIntakeLinkTheStateProbesAndRescansItself) {
    withLinks = false;
    make();
    const MediaItem still = add(image());
    app->probeMissing();
    probed(still.id);
    EXPECT_EQ(app->library.item(still.id)->probeVersion, 2);
    EXPECT_TRUE(app->library.item(still.id)->thumbAt);
    const auto added = app->addMedia({image()}, std::nullopt, true, true);
    ASSERT_EQ(added.size(), 1u);
    probed(added[0].id);
    EXPECT_TRUE(app->library.item(added[0].id)->thumbAt) << "a clip added is probed by itself";
}

// curl's answer to one upload, read from the files it wrote.
struct CurlReply {
    int status = 0;
    std::string body;
};

class IntakeOverHttpTest : public IntakeWiringTest {
protected:
    std::uint16_t port = 0;

    void SetUp() override {
        IntakeWiringTest::SetUp();
        ControlServer::Options options;
        options.bindAddress = "127.0.0.1";
        controlLink = std::make_shared<ControlServerRemote>(std::move(options));
    }
    void startServer() {
        make();
        AppSettings settings = app->settings();
        settings.remoteControlEnabled = true;
        settings.remoteControlPort = 0;  // any free port: the test reads the one it got
        settings.remoteControlPassword = "show";
        settings.mediaUploadEnabled = true;
        settings.mediaUploadToken = "tok";
        app->setSettings(settings);
        app->start();
        ASSERT_TRUE(q.waitUntil([&] { return app->controlServerInfo().has_value(); }, 30.0)) << "no listener";
        port = app->controlServerInfo()->port;
        ASSERT_NE(port, 0);
    }
    // curl runs while the main queue goes on serving the ingest it waits for.
    CurlReply curlUpload(const fs::path& file, const std::string& query) {
        const fs::path dir = test::tempDir("curl");
        const fs::path head = dir / "head", body = dir / "body";
        const pid_t pid = test::spawnProcess(
            {"curl", "-sS", "--max-time", "120", "-D", head.string(), "-o", body.string(), "-H",
             "Content-Type: application/octet-stream", "--data-binary", "@" + file.string(),
             "http://127.0.0.1:" + std::to_string(port) + "/api/upload/file?" + query});
        EXPECT_GT(pid, 0) << "curl did not start";
        int status = 0;
        EXPECT_TRUE(q.waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 120.0)) << "curl never ended";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "curl failed";
        CurlReply reply;
        const std::string headText = test::readFile(head);
        if (headText.size() > 12) reply.status = std::atoi(headText.c_str() + 9);  // "HTTP/1.1 200 …"
        reply.body = test::readFile(body);
        return reply;
    }
};

TEST_F(IntakeOverHttpTest, AnUploadWithCurlBecomesAProbedClipAndTheSameFileAgainAddsOnlyAClip) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    const Group walkIn = app->library.createGroup("Walk-in");
    const std::string query = "k=tok&filename=show%20clip.mp4&title=Opener&playlist=" + walkIn.id;

    const CurlReply first = curlUpload(video(), query);
    ASSERT_EQ(first.status, 200) << first.body;
    const Json answer = Json::parse(first.body);
    EXPECT_EQ(answer.at("ok"), true);
    EXPECT_EQ(answer.at("name"), "Opener");
    const std::string id = answer.at("id").get<std::string>();
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"show clip.mp4"}));
    EXPECT_EQ(test::readFile(Store::mediaDir() / "show clip.mp4"), test::readFile(video())) << "every byte arrived";
    probed(id);
    const MediaItem clip = *app->library.item(id);
    EXPECT_EQ(clip.width, 64);
    EXPECT_TRUE(clip.thumbAt);
    EXPECT_TRUE(fs::exists(Store::thumbnailDir() / (id + ".jpg")));

    const CurlReply second = curlUpload(video(), query);
    ASSERT_EQ(second.status, 200) << second.body;
    const std::string secondId = Json::parse(second.body).at("id").get<std::string>();
    EXPECT_NE(secondId, id);
    EXPECT_EQ(managedFiles(), (std::vector<std::string>{"show clip.mp4"})) << "one file for the same content";
    const auto& groups = app->library.groups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].mediaIds, (std::vector<std::string>{id, secondId}));
    probed(secondId);
    // Nothing is left behind in the incoming folder.
    EXPECT_TRUE(fs::is_empty(Store::mediaIncomingDir()));

    // The control password does not open the upload: only its token does.
    const CurlReply refused = curlUpload(video(), "k=show&filename=x.mp4");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(app->library.groups()[0].mediaIds.size(), 2u);
}

}  // namespace
