// The cloud inbox loop inside the application state, against the loopback fake service: requests run on
// real threads, every wait of the loop (back-off, spacing, the playlist push's debounce) on the virtual
// clock.
#include <regex>

#include "AppStateFixture.hpp"
#include "Engine/Cloud/FakeInbox.hpp"

namespace ombry::app_test {
namespace {

using test::FakeInbox;

class CloudLoopTest : public AppStateTest {
protected:
    FakeInbox service;
    Subscription watch;

    void TearDown() override {
        watch.reset();
        if (app) settle();
        AppStateTest::TearDown();
    }
    // Until every request handed to the workers has come back and no pull is running.
    void settle() {
        ASSERT_TRUE(q.waitUntil([this] { return app->cloudRequestsInFlight() == 0 && !app->cloudSyncing(); }, 20))
            << "cloud requests still running";
    }
    // Moves the clock in steps, letting the requests of each step come back before the next.
    void run(double seconds, double step = 0.5) {
        for (double done = 0; done < seconds - 1e-9; done += step) {
            q.advance(std::min(step, seconds - done));
            settle();
        }
    }
    void set(const std::function<void(AppSettings&)>& change) {
        AppSettings s = app->settings();
        change(s);
        app->setSettings(s);
        q.runPending();
    }
    // Started, with uploads on against the fake and the given credentials and password.
    void startOn(bool credentials = true, std::optional<std::string> password = "long-enough-1",
                 const std::function<void()>& setup = {}) {
        make();
        if (setup) setup();
        AppSettings s = app->settings();
        s.cloudUploadEnabled = true;
        s.cloudServiceURL = service.origin();
        if (credentials) {
            s.cloudInboxId = service.inboxId;
            s.cloudAppSecret = service.appSecret;
        }
        s.cloudUploadPassword = std::move(password);
        app->setSettings(s);
        app->start();
        q.runPending();
        settle();
    }
    std::size_t waits() const { return service.count("GET", "/app/wait"); }
    // A back-off counts from the moment a failure's answer reached the main queue, which a request that
    // comes back quickly can make any moment of an advance: the tests count from the status it set.
    double failedAt = 0;
    void watchFailures() {
        watch = app->observe([this](Aspect a) {
            if (a == Aspect::cloudStatus && app->cloudStatus() && app->cloudStatus()->error) failedAt = q.now();
        });
    }
    void advanceToAfterFailure(double seconds) { q.advance(failedAt + seconds - q.now()); }
    static fs::path ledger() { return Store::dir() / "cloudIngested.json"; }
    static std::set<std::string> ledgerKeys() {
        auto l = Store::readDoc<CloudLedger>(ledger()).value;
        return l ? l->ingested : std::set<std::string>{};
    }
    static FakeInbox::Item clipItem(const std::string& key, const std::string& filename, const std::string& playlist = "") {
        const std::string bytes = test::readFile(video());
        return {.key = key, .size = std::int64_t(bytes.size()), .filename = filename, .playlist = playlist, .content = bytes};
    }
};

TEST_F(CloudLoopTest, RegistersThenConfiguresThenPolls) {
    startOn(false, std::nullopt);
    // Registration stores the answer and a new password; the changed settings start a loop that has a client.
    EXPECT_EQ(app->settings().cloudInboxId, service.inboxId);
    EXPECT_EQ(app->settings().cloudAppSecret, service.appSecret);
    ASSERT_TRUE(app->settings().cloudUploadPassword);
    EXPECT_TRUE(std::regex_match(*app->settings().cloudUploadPassword, std::regex("[a-z]+-[a-z]+-[0-9]{4}")));
    const auto rs = service.requests();
    ASSERT_GE(rs.size(), 3u);
    EXPECT_EQ(rs[0].path, "/api/register");
    EXPECT_EQ(rs[1].path, "/u/inbox-1/app/config");
    EXPECT_EQ(Json::parse(rs[1].body), (Json{{"password", *app->settings().cloudUploadPassword}, {"playlists", Json::array()}}));
    EXPECT_EQ(rs[2].path, "/u/inbox-1/app/wait");
    ASSERT_TRUE(app->cloudStatus());
    EXPECT_EQ(app->cloudStatus()->error, std::nullopt);
    EXPECT_EQ(app->cloudStatus()->pulled, 0);
    EXPECT_TRUE(app->cloudQuitBeacon());
}

TEST_F(CloudLoopTest, AFailedRegistrationIsShownAndNotRetriedByItself) {
    service.setScript([](const FakeInbox::Request&) { return FakeInbox::Answer{.status = 503}; });
    startOn(false);
    ASSERT_TRUE(app->cloudStatus());
    EXPECT_EQ(app->cloudStatus()->error, "couldn't register: inbox service returned HTTP 503");
    run(120, 10);
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_TRUE(app->cloudQuitBeacon());
}

TEST_F(CloudLoopTest, WithNoAddressNothingStartsAndNothingIsSent) {
    make();
    EXPECT_EQ(app->settings().cloudServiceURL, "");
    set([](AppSettings& s) {
        s.cloudUploadEnabled = true;
        s.cloudInboxId = "i";
        s.cloudAppSecret = "s";
    });
    app->start();
    q.runPending();
    EXPECT_FALSE(app->cloudPolling());
    EXPECT_FALSE(app->cloudQuitBeacon());
    EXPECT_EQ(app->cloudRequestsInFlight(), 0);
    EXPECT_FALSE(app->cloudInbox());
    app->library.createGroup("G");
    run(5);
    EXPECT_EQ(app->cloudRequestsInFlight(), 0);
    EXPECT_FALSE(app->cloudStatus());
}

TEST_F(CloudLoopTest, FailedPollsBackOffDoublingToAMinuteAndASuccessResets) {
    std::atomic<int> failing{6};
    service.setScript([&](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
        if (r.path.ends_with("/app/wait") && failing-- > 0) return FakeInbox::Answer{.status = 500};
        return std::nullopt;
    });
    startOn(true, "long-enough-1", [this] { watchFailures(); });
    ASSERT_EQ(waits(), 1u);
    EXPECT_EQ(app->cloudStatus()->error, "inbox service returned HTTP 500");
    for (double sleep : {5.0, 10.0, 20.0, 40.0, 60.0, 60.0}) {
        SCOPED_TRACE(sleep);
        const auto before = waits();
        advanceToAfterFailure(sleep - 0.01);
        settle();
        EXPECT_EQ(waits(), before) << "polled before the back-off was over";
        q.advance(0.02);  // a little past, whatever the rounding of the clock's sum
        settle();
        EXPECT_EQ(waits(), before + 1);
    }
    // The seventh poll succeeded: polling goes on at its pace, and the next failure sleeps 5 s again.
    EXPECT_EQ(app->cloudStatus()->error, std::nullopt);
    failing = 1;
    run(1);
    const auto before = waits();
    EXPECT_EQ(app->cloudStatus()->error, "inbox service returned HTTP 500");
    advanceToAfterFailure(4.99);
    settle();
    EXPECT_EQ(waits(), before);
    q.advance(0.02);
    settle();
    EXPECT_EQ(waits(), before + 1);
}

TEST_F(CloudLoopTest, AShortPasswordIsNotSentAndSaysSo) {
    startOn(true, "7-chars");
    auto configs = service.requests("POST", "/app/config");
    ASSERT_EQ(configs.size(), 1u);
    EXPECT_EQ(Json::parse(configs[0].body), (Json{{"playlists", Json::array()}}));
    ASSERT_TRUE(app->cloudStatus());
    EXPECT_EQ(app->cloudStatus()->error, "upload password must be at least 8 characters \u2014 the page still uses the old one");
    // Polling goes on; eight characters (counted as a reader counts them) are sent.
    EXPECT_GE(waits(), 1u);
    set([](AppSettings& s) { s.cloudUploadPassword = "8-chärs!"; });
    settle();
    configs = service.requests("POST", "/app/config");
    ASSERT_EQ(configs.size(), 2u);
    EXPECT_EQ(Json::parse(configs[1].body)["password"], "8-chärs!");
}

TEST_F(CloudLoopTest, ThreeLibraryChangesGiveOneConfigureTwoSecondsAfterTheLast) {
    startOn();
    const auto configs = [&] { return service.requests("POST", "/app/config"); };
    ASSERT_EQ(configs().size(), 1u);
    const Group a = app->library.createGroup("First");
    run(0.5);
    app->library.createGroup("Second");
    run(0.5);
    Group renamed = a;
    renamed.name = "Renamed";
    app->library.updateGroup(renamed);
    run(1.5);
    EXPECT_EQ(configs().size(), 1u);
    run(0.5);
    ASSERT_EQ(configs().size(), 2u);
    EXPECT_EQ(Json::parse(configs()[1].body), (Json{{"playlists", {"Renamed", "Second"}}}));
    run(5);
    EXPECT_EQ(configs().size(), 2u);
    // With uploads off a change schedules nothing.
    set([](AppSettings& s) { s.cloudUploadEnabled = false; });
    app->library.createGroup("Third");
    run(3);
    EXPECT_EQ(configs().size(), 2u);
}

TEST_F(CloudLoopTest, ARefusedUploadIsNamedRecordedAndDeletedWithoutADownload) {
    service.addItem({.key = "doc", .size = 10, .filename = "notes.docx", .content = "0123456789"});
    startOn();
    EXPECT_EQ(service.count("GET", "/app/file"), 0u);
    EXPECT_EQ(service.count("DELETE", "/app/file"), 1u);
    EXPECT_TRUE(service.itemKeys().empty());
    ASSERT_TRUE(app->cloudStatus());
    EXPECT_EQ(app->cloudStatus()->error, "notes.docx: unsupported file type");
    EXPECT_EQ(app->cloudStatus()->pulled, 0);
    EXPECT_TRUE(ledgerKeys().empty());
    EXPECT_TRUE(app->cloudDownloads().empty());
}

TEST_F(CloudLoopTest, TheLedgerKeepsAKeyOnlyUntilTheServiceConfirmsTheDeletion) {
    service.addItem(clipItem("clip", "clip.mp4", "From phones"));
    std::atomic<int> failDeletes{1};
    service.setScript([&](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
        if (r.method == "DELETE" && failDeletes-- > 0) return FakeInbox::Answer{.status = 500};
        return std::nullopt;
    });
    std::vector<std::vector<CloudDownload>> rows;
    startOn(true, "long-enough-1", [&] {
        watch = app->observe([&](Aspect a) {
            if (a == Aspect::cloudDownloads) rows.push_back(app->cloudDownloads());
        });
    });
    // Taken in once; the failed deletion leaves the key recorded.
    ASSERT_EQ(app->library.media().size(), 1u);
    EXPECT_EQ(app->library.media()[0].origin, MediaOrigin::cloud);
    EXPECT_EQ(service.count("GET", "/app/file"), 1u);
    EXPECT_EQ(ledgerKeys(), std::set<std::string>{"clip"});
    EXPECT_EQ(app->cloudStatus()->pulled, 1);
    EXPECT_EQ(service.itemKeys(), std::vector<std::string>{"clip"});
    // The failed request backs off; the next pull only deletes, with no download and no progress row.
    const auto changes = rows.size();
    run(5);
    EXPECT_EQ(service.count("GET", "/app/file"), 1u);
    EXPECT_EQ(service.count("DELETE", "/app/file"), 2u);
    EXPECT_TRUE(service.itemKeys().empty());
    EXPECT_TRUE(ledgerKeys().empty());
    EXPECT_EQ(app->library.media().size(), 1u);
    for (std::size_t i = changes; i < rows.size(); ++i) EXPECT_TRUE(rows[i].empty());
}

TEST_F(CloudLoopTest, DownloadRowsFollowProgressAndGoWhenTheItemIsDone) {
    FakeInbox::Item item = clipItem("k", "clip.mp4", "From phones");
    item.title = "Opening";
    service.addItem(item);
    service.addItem({.key = "big", .size = AppState::cloudItemLimit + 1, .filename = "huge.mov"});
    std::vector<std::vector<CloudDownload>> rows;
    startOn(true, "long-enough-1", [&] {
        watch = app->observe([&](Aspect a) {
            if (a == Aspect::cloudDownloads) rows.push_back(app->cloudDownloads());
        });
    });
    // One row, for the item that will be downloaded, named after its title; none for the oversized one.
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.front(), (std::vector<CloudDownload>{{"k", "Opening", MediaKind::video, 0, item.size}}));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.size() == 1 && r[0].received == item.size; }));
    EXPECT_TRUE(rows.back().empty());
    EXPECT_TRUE(app->cloudDownloads().empty());
    // Taken in under its title, into the playlist the uploader named.
    ASSERT_EQ(app->library.media().size(), 1u);
    EXPECT_EQ(app->library.media()[0].name, "Opening");
    ASSERT_EQ(app->library.groups().size(), 1u);
    EXPECT_EQ(app->library.groups()[0].name, "From phones");
    EXPECT_EQ(app->library.groups()[0].mediaIds, std::vector<std::string>{app->library.media()[0].id});
    EXPECT_EQ(app->cloudStatus()->pulled, 1);
    EXPECT_EQ(app->cloudStatus()->error, "huge.mov: file is larger than this app accepts");
    EXPECT_TRUE(service.itemKeys().empty());
}

TEST_F(CloudLoopTest, SwitchingUploadsOffSendsOfflineAndClearsStatusAndBeacon) {
    startOn();
    ASSERT_TRUE(app->cloudStatus());
    ASSERT_TRUE(app->cloudQuitBeacon());
    int statusChanges = 0;
    watch = app->observe([&](Aspect a) { statusChanges += a == Aspect::cloudStatus; });
    set([](AppSettings& s) { s.cloudUploadEnabled = false; });
    settle();
    EXPECT_EQ(statusChanges, 1);
    EXPECT_EQ(service.count("POST", "/u/inbox-1/app/offline"), 1u);
    EXPECT_FALSE(app->cloudStatus());
    EXPECT_FALSE(app->cloudQuitBeacon());
    EXPECT_FALSE(app->cloudPolling());
    const auto before = service.requests().size();
    run(120, 10);
    EXPECT_EQ(service.requests().size(), before);
}

TEST_F(CloudLoopTest, TheQuitBeaconStopsTheLoopAndTellsTheService) {
    startOn();
    bool done = false;
    app->cloudQuitBeacon()([&] { done = true; });
    ASSERT_TRUE(q.waitUntil([&] { return done; }, 5));
    EXPECT_EQ(service.count("POST", "/u/inbox-1/app/offline"), 1u);
    const auto before = waits();
    run(10);
    EXPECT_EQ(waits(), before);
}

TEST_F(CloudLoopTest, ANewLoopWaitsForAPullStillRunningInsteadOfPollingAgain) {
    service.addItem(clipItem("slow", "slow.mp4"));
    make();
    std::function<void()> release;
    app->cloudIngest = [&](UploadIngestRequest r, std::function<void(UploadIngestResult)> done) {
        app->ingestUploadedFile(std::move(r), [&release, done](UploadIngestResult result) {
            release = [done, result] { done(result); };
        });
    };
    AppSettings s = app->settings();
    s.cloudUploadEnabled = true;
    s.cloudServiceURL = service.origin();
    s.cloudInboxId = service.inboxId;
    s.cloudAppSecret = service.appSecret;
    app->setSettings(s);
    app->start();
    q.runPending();
    ASSERT_TRUE(q.waitUntil([&] { return bool(release); }, 20));
    ASSERT_TRUE(app->cloudSyncing());
    // A settings change restarts the loop while the first pull is still taking its item in.
    set([](AppSettings& x) { x.cloudUploadPassword = "a-new-password"; });
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudRequestsInFlight() == 0; }, 20));
    const auto before = waits();
    for (int i = 0; i < 60; ++i) {
        q.advance(0.5);
        ASSERT_TRUE(q.waitUntil([&] { return app->cloudRequestsInFlight() == 0; }, 20));
    }
    EXPECT_LE(waits() - before, 1u) << "the new loop kept polling while the pull ran";
    release();
    settle();
    run(2);
    EXPECT_TRUE(service.itemKeys().empty());
    EXPECT_EQ(app->library.media().size(), 1u);
    EXPECT_EQ(service.count("GET", "/app/file"), 1u);
}

TEST_F(CloudLoopTest, AFailedDownloadBacksOffAndALongerBodyThanListedIsRefused) {
    service.addItem({.key = "bad", .size = 10, .filename = "a.mp4", .content = "0123456789"});
    std::atomic<bool> lie{false};
    service.setScript([&](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
        if (r.method != "GET" || !r.path.ends_with("/app/file")) return std::nullopt;
        if (lie) return FakeInbox::Answer{.announced = AppState::cloudItemLimit + 1, .stallAfterHeaders = true};
        return FakeInbox::Answer{.status = 500};
    });
    startOn(true, "long-enough-1", [this] { watchFailures(); });
    // The item stays on the service and out of the ledger; the status names no file.
    EXPECT_EQ(service.count("GET", "/app/file"), 1u);
    EXPECT_EQ(app->cloudStatus()->error, "inbox service returned HTTP 500");
    EXPECT_EQ(service.itemKeys(), std::vector<std::string>{"bad"});
    EXPECT_TRUE(ledgerKeys().empty());
    EXPECT_TRUE(app->cloudDownloads().empty());
    for (double sleep : {5.0, 10.0}) {
        const auto before = service.count("GET", "/app/file");
        advanceToAfterFailure(sleep - 0.01);
        settle();
        EXPECT_EQ(service.count("GET", "/app/file"), before) << "asked again before the back-off was over";
        q.advance(0.02);
        settle();
        EXPECT_EQ(service.count("GET", "/app/file"), before + 1);
    }
    // A download that turns out larger than the limit is a refusal: recorded, then deleted.
    lie = true;
    run(20);
    EXPECT_EQ(app->cloudStatus()->error, "a.mp4: file is larger than this app accepts");
    EXPECT_TRUE(service.itemKeys().empty());
    EXPECT_TRUE(ledgerKeys().empty());
    const auto asked = service.count("GET", "/app/file");
    run(60, 5);
    EXPECT_EQ(service.count("GET", "/app/file"), asked);
    EXPECT_TRUE(fs::is_empty(Store::mediaIncomingDir()));
}

TEST_F(CloudLoopTest, AnEmptyBatchSetsTheStatusAndLeavesTheLedgerAlone) {
    startOn();
    ASSERT_TRUE(app->cloudStatus());
    EXPECT_EQ(*app->cloudStatus(), (CloudSyncStatus{appClock().wallMs(), 0, std::nullopt}));
    EXPECT_FALSE(fs::exists(ledger()));
}

TEST_F(CloudLoopTest, TwoFailuresInOnePullShowTheSecond) {
    service.addItem({.key = "a", .size = 1, .filename = "one.docx", .content = "x"});
    service.addItem({.key = "b", .size = 1, .filename = "two.pages", .content = "x"});
    startOn();
    EXPECT_EQ(app->cloudStatus()->error, "two.pages: unsupported file type");
    EXPECT_TRUE(service.itemKeys().empty());
}

}  // namespace
}  // namespace ombry::app_test
