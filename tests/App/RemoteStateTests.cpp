// The state that remotes read over HTTP while the show plays, through the real remote-control server on
// loopback: answered while the main thread is busy elsewhere, and byte for byte what the main thread would
// build at that moment (the virtual clock stands still while they are compared).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "../Engine/Servers/NetTestSupport.hpp"
#include "AppStateFixture.hpp"
#include "App/ServerLinks.hpp"
#include "Engine/Control/ControlSnapshot.hpp"

using namespace ombry;
using namespace ombry::app_test;

namespace {

// Clients that ask for the state again and again on kept-open connections, each remembering its last
// answer and the round in force when it sent the request.
class StateLoad {
public:
    StateLoad(std::uint16_t port, int clients) : last_(std::size_t(clients)) {
        for (int i = 0; i < clients; ++i) threads_.emplace_back([this, port, i] { run(port, std::size_t(i)); });
    }
    ~StateLoad() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    // Starts a round: from now on each client's next request belongs to it.
    void nextRound() { ++round_; }
    // Each client's first answer to a request sent in the current round (none after the wait's bound).
    std::vector<std::string> answersOfThisRound() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::duration<double>(test::netWait), [&] {
            for (const auto& l : last_)
                if (l.round < round_) return false;
            return true;
        });
        std::vector<std::string> bodies;
        for (const auto& l : last_) bodies.push_back(l.round == round_ ? l.body : "(no answer)");
        return bodies;
    }
    long replies() const { return replies_; }
    bool failed() const { return failed_; }

private:
    struct Last {
        long round = -1;
        std::string body;
    };
    void run(std::uint16_t port, std::size_t index) {
        test::RawClient client(port);
        while (!stop_) {
            const long round = round_;
            if (!client.send("GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) break;
            const auto reply = client.readReply();
            if (!reply || reply->status() != 200) break;
            ++replies_;
            std::lock_guard lock(mutex_);
            // The first answer of a round is kept: later ones may follow a change the test makes.
            if (last_[index].round != round) last_[index] = {round, reply->body};
            changed_.notify_all();
        }
        if (!stop_) failed_ = true;
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> round_{0};
    std::atomic<long> replies_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Last> last_;
    std::vector<std::thread> threads_;
};

class RemoteStateTest : public AppStateTest {
protected:
    void SetUp() override {
        AppStateTest::SetUp();
        ControlServer::Options control;
        control.bindAddress = "127.0.0.1";
        controlLink = std::make_shared<ControlServerRemote>(control);
    }
};

TEST_F(RemoteStateTest, UnderLoadTheStateNeedsNoMainThreadAndMatchesAFreshBuild) {
    make();
    std::atomic<int> hops{0};
    auto hook = controlLink->snapshot;
    controlLink->snapshot = [&hops, hook](ControlServerLink::SnapshotReply reply) {
        ++hops;
        hook(std::move(reply));
    };
    // 200 clips on one file, most of them in ten playlists.
    const std::string file = video();
    std::vector<MediaItem> media;
    std::vector<Group> groups(10);
    for (int i = 0; i < 200; ++i) {
        MediaItem m;
        m.id = "clip-" + std::to_string(i);
        m.name = "Clip \"" + std::to_string(i) + "\"";
        m.kind = i % 7 == 0 ? MediaKind::image : MediaKind::video;
        m.path = file;
        m.order = i;
        if (m.kind == MediaKind::video) m.duration = 60;
        if (i < 160) groups[std::size_t(i % 10)].mediaIds.push_back(m.id);
        media.push_back(std::move(m));
    }
    for (std::size_t g = 0; g < groups.size(); ++g) {
        groups[g].id = "group-" + std::to_string(g);
        groups[g].name = "Playlist " + std::to_string(g);
    }
    app->library.setMedia(media);
    app->library.setGroups(groups);
    AppSettings settings = app->settings();
    settings.remoteControlEnabled = true;
    settings.remoteControlPort = 0;
    app->setSettings(settings);
    app->start();
    ASSERT_TRUE(q.waitUntil([&] { return app->controlServerInfo().has_value(); }, 30.0)) << "not listening";
    ASSERT_TRUE(app->trigger(*app->library.item("clip-1"), false));
    advance(0.3);
    ASSERT_TRUE(app->program.anchors().at(LayerId::media).playing);

    StateLoad load(std::uint16_t(app->controlServerInfo()->port), 4);
    for (int round = 0; round < 5; ++round) {
        advance(0.25);  // frames composed, playback reported, while the clients keep asking
        if (round == 3) app->performControl(*ControlCommand::parse("/api/volume/set?db=-12"));
        if (round == 4) app->program.setLayerPlaying(LayerId::media, false);
        // The main thread builds the state and then runs nothing until every client has an answer.
        const std::string fresh = wireText(app->controlSnapshot());
        load.nextRound();
        for (const auto& body : load.answersOfThisRound()) {
            const auto at = std::mismatch(body.begin(), body.end(), fresh.begin(), fresh.end()).first - body.begin();
            ASSERT_EQ(body.size(), fresh.size()) << "round " << round << ": " << body.substr(0, 200);
            ASSERT_EQ(std::size_t(at), body.size()) << "round " << round << ", from byte " << at << ": "
                                                    << body.substr(std::size_t(at), 80) << " instead of "
                                                    << fresh.substr(std::size_t(at), 80);
        }
    }
    EXPECT_EQ(Json::parse(wireText(app->controlSnapshot())).at("masterVolumeDB"), -12);
    EXPECT_FALSE(load.failed());
    EXPECT_GT(load.replies(), 20);
    EXPECT_EQ(hops.load(), 0) << "a request waited for the main thread";
}

}  // namespace
