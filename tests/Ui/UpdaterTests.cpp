// The updater against a loopback feed (the real fetch on its own thread), and the launch that follows an
// update: no banner on a first launch, a banner on any change of version, "What's New" only for the notes
// of exactly that version.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBrowser>

#include "LoopbackHttp.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Shell/RootChromeView.hpp"
#include "Ui/Shell/UpdatedBanner.hpp"
#include "Ui/Shell/UpdaterController.hpp"
#include "Ui/Widgets/Popover.hpp"

namespace ombry::ui_test {
namespace {

class UpdaterTest : public UiTest {
protected:
    std::string feed = R"({"items": [
        {"version": "1.1", "notesHTML": "<h2>Ombry 1.1</h2><ul><li>Faster cuts</li></ul>"},
        {"version": "1.2", "channel": "beta", "notesHTML": "<p>Beta notes</p>"},
        {"version": "0.9"}]})";
    test::LoopbackServer server{[this](const std::string& path) {
        if (path == "/feed.json") return test::LoopbackServer::Answer{"HTTP/1.1 200 OK\r\nContent-Type: application/json", feed};
        return test::LoopbackServer::Answer{"HTTP/1.1 404 Not Found", ""};
    }};

    std::unique_ptr<ui::UpdaterController> updater(const std::string& path, const std::string& version = "1.0") {
        return std::make_unique<ui::UpdaterController>(*preferences, dialogs,
                                                       ui::UpdaterController::Config{server.origin() + path, version});
    }
    // Checks and waits for the answer of the real thread.
    void check(ui::UpdaterController& u) {
        QSignalSpy finished(&u, &ui::UpdaterController::checkFinished);
        QSignalSpy can(&u, &ui::UpdaterController::canCheckForUpdatesChanged);
        u.checkForUpdates();
        EXPECT_FALSE(u.canCheckForUpdates()) << "no second check while one runs";
        ASSERT_TRUE(finished.wait(20000));
        EXPECT_TRUE(u.canCheckForUpdates());
        ASSERT_EQ(can.size(), 2);
        EXPECT_EQ(can[0][0].toBool(), false);
        EXPECT_EQ(can[1][0].toBool(), true);
    }
    // A launch of the window's chrome running `version`.
    std::unique_ptr<ui::RootChromeView> launch(const std::string& version) {
        ctx = std::make_unique<ui::ViewContext>(context());
        auto chrome = std::make_unique<ui::RootChromeView>(*ctx, nullptr, version);
        chrome->resize(900, 200);
        chrome->show();
        turn();
        return chrome;
    }
    std::unique_ptr<ui::ViewContext> ctx;
};

TEST_F(UpdaterTest, WithoutAFeedNoCheckCanStart) {
    make();
    ui::UpdaterController u(*preferences, dialogs, {"", "1.0"});
    EXPECT_FALSE(u.canCheckForUpdates());
    u.checkForUpdates();
    turn();
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_TRUE(server.paths().empty());
}

TEST_F(UpdaterTest, ANewerVersionIsToldAndItsNotesKeptForThatVersion) {
    make();
    auto u = updater("/feed.json");
    EXPECT_TRUE(u->canCheckForUpdates());
    check(*u);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, "Ombry 1.1 is available");
    EXPECT_TRUE(dialogs.asked[0].informative.startsWith("You have 1.0."));
    EXPECT_EQ(preferences->lastUpdateNotesVersion(), "1.1");
    EXPECT_EQ(preferences->lastUpdateNotesHTML(), "<h2>Ombry 1.1</h2><ul><li>Faster cuts</li></ul>");

    // The beta channel, read at every check.
    preferences->setReceiveBetaUpdates(true);
    EXPECT_EQ(u->allowedChannels(), (std::set<std::string>{"beta"}));
    check(*u);
    EXPECT_EQ(dialogs.asked.back().message, "Ombry 1.2 is available");
    EXPECT_EQ(preferences->lastUpdateNotesVersion(), "1.2");

    // An update without notes keeps the notes stored earlier.
    feed = R"({"items": [{"version": "1.3"}]})";
    check(*u);
    EXPECT_EQ(dialogs.asked.back().message, "Ombry 1.3 is available");
    EXPECT_EQ(preferences->lastUpdateNotesVersion(), "1.2");
}

TEST_F(UpdaterTest, UpToDateAndFailedChecksSaySo) {
    make();
    auto current = updater("/feed.json", "1.1");
    check(*current);
    EXPECT_EQ(dialogs.asked.back().message, "You're up to date");
    EXPECT_EQ(dialogs.asked.back().informative, "Ombry 1.1 is the newest version available.");
    EXPECT_FALSE(preferences->lastUpdateNotesVersion());

    auto missing = updater("/gone.json");
    check(*missing);
    EXPECT_EQ(dialogs.asked.back().message, "Ombry couldn't check for updates");
    EXPECT_EQ(dialogs.asked.back().informative, "The update server answered 404.");
}

TEST_F(UpdaterTest, TheLaunchAfterAnUpdateShowsTheBannerWithTheNotesOfExactlyThatVersion) {
    make();
    // The first launch ever: no banner, the version remembered.
    {
        auto chrome = launch("1.0");
        EXPECT_FALSE(chrome->updatedToVersion());
        EXPECT_FALSE(chrome->findChild<ui::UpdatedBanner*>());
        EXPECT_EQ(preferences->lastRunVersion(), "1.0");
    }
    // The same version again: none.
    EXPECT_FALSE(launch("1.0")->findChild<ui::UpdatedBanner*>());

    // A run of 1.0 finds 1.1 and keeps its notes; the next launch runs 1.1.
    auto u = updater("/feed.json");
    check(*u);
    {
        auto chrome = launch("1.1");
        auto* banner = chrome->findChild<ui::UpdatedBanner*>("updatedBanner");
        ASSERT_TRUE(banner);
        EXPECT_EQ(banner->findChild<QLabel*>("updatedText")->text(), "Updated to v1.1");
        auto* whatsNew = banner->findChild<QPushButton*>("whatsNew");
        ASSERT_TRUE(whatsNew);
        QTest::mouseClick(whatsNew, Qt::LeftButton);
        ASSERT_TRUE(banner->notesPopover());
        QTRY_VERIFY(banner->notesPopover()->isVisible());
        auto* notes = banner->notesPopover()->findChild<QTextBrowser*>("releaseNotes");
        EXPECT_TRUE(notes->toPlainText().contains("Faster cuts"));
        EXPECT_EQ(notes->width(), 320);
        EXPECT_LE(notes->height(), 260);
        banner->notesPopover()->close();
        // Dismissed: gone for the rest of the run.
        QTest::mouseClick(banner->findChild<QWidget*>("dismissUpdated"), Qt::LeftButton);
        turn();
        EXPECT_FALSE(chrome->updatedToVersion());
        QTRY_VERIFY(!chrome->findChild<ui::UpdatedBanner*>());
    }
    // An older version counts as a change too; the notes are for 1.1, so no "What's New".
    {
        auto chrome = launch("1.0.5");
        auto* banner = chrome->findChild<ui::UpdatedBanner*>("updatedBanner");
        ASSERT_TRUE(banner);
        EXPECT_EQ(banner->findChild<QLabel*>("updatedText")->text(), "Updated to v1.0.5");
        EXPECT_FALSE(banner->findChild<QPushButton*>("whatsNew"));
    }
    EXPECT_EQ(preferences->lastRunVersion(), "1.0.5");
}

TEST_F(UpdaterTest, TheOnboardingHookIsCalledOnTheFirstRunAndMarksItSeenWhenClosed) {
    make();
    // Without a presenter nothing opens and the first run stays unseen.
    launch("1.0");
    EXPECT_FALSE(preferences->hasSeenOnboarding());

    std::function<void()> dismiss;
    int shown = 0;
    ui::RootChromeView::onboardingPresenter() = [&](ui::ViewContext&, QWidget*, std::function<void()> dismissed) {
        ++shown;
        dismiss = std::move(dismissed);
    };
    {
        auto chrome = launch("1.0");
        EXPECT_EQ(shown, 1);
        EXPECT_TRUE(chrome->showsOnboarding());
        dismiss();
        EXPECT_FALSE(chrome->showsOnboarding());
        EXPECT_TRUE(preferences->hasSeenOnboarding());
    }
    launch("1.0");
    EXPECT_EQ(shown, 1) << "seen: not shown again";
    ui::RootChromeView::onboardingPresenter() = nullptr;
}

}  // namespace
}  // namespace ombry::ui_test
