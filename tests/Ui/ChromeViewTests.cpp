// The window's chrome over a real state: issue banners from real reports, every question answered through
// the state, the slides link sheet against a loopback server, and the status bar.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

#include "LoopbackHttp.hpp"
#include "SequenceDeckImportFixture.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Shell/IssueBannerView.hpp"
#include "Ui/Shell/OmbryCommands.hpp"
#include "Ui/Shell/RootChromeView.hpp"
#include "Ui/Shell/SlidesLinkSheet.hpp"
#include "Ui/Shell/StatusBarView.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Shell/UpdaterController.hpp"

namespace ombry::ui_test {
namespace {

namespace fs = std::filesystem;
using app_test::group;

class ChromeTest : public UiTest {
protected:
    fs::path dir = test::tempDir("chrome");

    ui::RootChromeView& chrome() { return *window().chrome(); }
    ui::StatusBarView& statusBar() { return *window().findChild<ui::StatusBarView*>("statusBar"); }
    std::vector<ui::IssueBannerView*> banners() {
        std::vector<ui::IssueBannerView*> out;
        for (const std::string& id : chrome().bannerIds())
            for (auto* b : chrome().findChildren<ui::IssueBannerView*>("issueBanner"))
                if (b->issueId() == id) out.push_back(b);
        return out;
    }
    QString text(QWidget* in, const char* name) { return in->findChild<QLabel*>(name)->text(); }
    // Runs the main queue, the real threads' answers and the event loop until `pred` holds.
    bool until(const std::function<bool()>& pred, double seconds = 60) {
        for (int i = 0; i < int(seconds / 0.02); ++i) {
            q.runPending();
            turn();
            if (pred()) return true;
            q.waitUntil(pred, 0.02);
        }
        return pred();
    }
    std::vector<QString> askedTitles() const {
        std::vector<QString> out;
        for (const auto& r : dialogs.asked) out.push_back(r.message);
        return out;
    }
};

TEST_F(ChromeTest, AnOfflineClipTakenShowsARedBannerCountedOnTheSecondTry) {
    make();
    window();
    const MediaItem first = add(image());
    const MediaItem gone = addMissing();
    playlist({first.id, gone.id}, [](Group& g) { g.advanceSeconds = 1; });
    EXPECT_TRUE(banners().empty());
    for (int attempt = 1; attempt <= 2; ++attempt) {
        app->program.clearAll();
        ASSERT_TRUE(app->trigger(*app->library.item(first.id), false));
        advance(1.2);  // the playlist advances by itself onto the missing clip
        turn();
        ASSERT_EQ(banners().size(), 1u);
        ui::IssueBannerView* b = banners()[0];
        EXPECT_EQ(text(b, "bannerCode"), "MED-01");
        EXPECT_EQ(b->accentColor(), ui::theme::live());
        EXPECT_TRUE(text(b, "bannerMessage").contains("gone.mp4"));
        QLabel* count = b->findChild<QLabel*>("bannerCount");
        EXPECT_EQ(count->isVisible(), attempt == 2);
        EXPECT_EQ(count->text(), attempt == 2 ? QString("\u00D72") : QString());
    }
}

TEST_F(ChromeTest, ThreeNewestBannersWithTheirActions) {
    make();
    window();
    bool settingsOpened = false;
    windows.define("settings", [&] {
        settingsOpened = true;
        return new QWidget;
    });
    IssueLog& log = IssueLog::shared();
    for (const char* subject : {"a.mp4", "b.mp4", "c.mp4", "d.mp4"}) log.report(IssueCode::mediaFormat, subject);
    log.report(IssueCode::browserSourceCodec, "e.mp4");
    turn();
    auto shown = banners();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(text(shown[0], "bannerCode"), "OUT-03");
    EXPECT_EQ(shown[0]->accentColor(), ui::theme::yellow());
    EXPECT_TRUE(text(shown[1], "bannerMessage").contains("d.mp4"));
    EXPECT_TRUE(text(shown[2], "bannerMessage").contains("c.mp4"));
    EXPECT_EQ(shown[1]->accentColor(), ui::theme::live());

    // Copy Details replaces the clipboard's content with the issue's details.
    clipboard.clearAndSet("image/png", "x");
    QTest::mouseClick(shown[1]->findChild<QPushButton*>("copyDetails"), Qt::LeftButton);
    EXPECT_EQ(clipboard.data(plainTextType), log.recent()[1].supportDetails());
    EXPECT_FALSE(clipboard.hasData("image/png"));

    // Email Support: the settings window on its General pane.
    app->setSettingsSection(SettingsSection::media);
    QTest::mouseClick(shown[1]->findChild<QPushButton*>("emailSupport"), Qt::LeftButton);
    EXPECT_EQ(app->settingsSection(), SettingsSection::general);
    EXPECT_TRUE(settingsOpened);

    // Dismissing the top one brings the fourth newest in at the bottom; a new report brings it back.
    const std::string top = shown[0]->issueId();
    QTest::mouseClick(shown[0]->findChild<QToolButton*>("dismissIssue"), Qt::LeftButton);
    turn();
    shown = banners();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_TRUE(text(shown[2], "bannerMessage").contains("b.mp4"));
    EXPECT_EQ(log.recent().size(), 5u) << "a dismissed issue stays in the log";
    log.report(IssueCode::browserSourceCodec, "e.mp4");
    turn();
    EXPECT_EQ(chrome().bannerIds().front(), top);

    log.clear();
    turn();
    EXPECT_TRUE(banners().empty());
}

TEST_F(ChromeTest, APendingDeletionIsAskedAndDeletesOnlyOnConfirmation) {
    make();
    window();
    const MediaItem a = add(image());
    const MediaItem b = add(video());
    const Group p = playlist({a.id});
    const Group other = app->library.createGroup("Other");

    dialogs.answers = {0};  // Cancel
    app->pendingDeletion = PendingDeletion::clips({a.id});
    app->notify(Aspect::pendingDeletion);
    turn();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, QString::fromStdString("Remove \u201C" + a.name + "\u201D from the library?"));
    EXPECT_EQ(dialogs.asked[0].buttons, (QStringList{"Cancel", "Remove"}));
    EXPECT_TRUE(app->library.item(a.id)) << "nothing deleted without confirmation";
    EXPECT_FALSE(app->pendingDeletion);

    dialogs.answers = {1};
    app->pendingDeletion = PendingDeletion::clips({a.id, b.id});
    app->notify(Aspect::pendingDeletion);
    turn();
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(dialogs.asked[1].message, "Remove 2 clips from the library?");
    EXPECT_FALSE(app->library.item(a.id));
    EXPECT_FALSE(app->library.item(b.id));

    // A deletion that replaces the one on screen is asked in turn; the answer never reaches the unseen one.
    dialogs.holdAnswers = true;
    app->pendingDeletion = PendingDeletion::playlists({p.id});
    app->notify(Aspect::pendingDeletion);
    turn();
    ASSERT_EQ(dialogs.waiting(), 1u);
    EXPECT_EQ(dialogs.asked.back().buttons, (QStringList{"Cancel", "Delete"}));
    EXPECT_EQ(dialogs.asked.back().informative, "Its clips stay in the library, under Unsorted.");
    app->pendingDeletion = PendingDeletion::playlists({other.id});
    app->notify(Aspect::pendingDeletion);
    turn();
    ASSERT_TRUE(dialogs.answer(1));
    EXPECT_TRUE(group(*app, "P")) << "the playlist asked about was replaced before the answer";
    turn();
    ASSERT_EQ(dialogs.waiting(), 1u);
    EXPECT_EQ(dialogs.asked.back().message, "Delete \u201COther\u201D?");
    ASSERT_TRUE(dialogs.answer(1));
    EXPECT_FALSE(group(*app, "Other"));
    EXPECT_TRUE(group(*app, "P"));
    EXPECT_FALSE(app->pendingDeletion);
}

TEST_F(ChromeTest, DeckQuestionsAreAnsweredOneAtATimeThroughTheState) {
    make();
    window();
    const Group target = app->library.createGroup("Opening");
    const auto first = app_test::deck(dir / "Pitch.pdf", 2);
    const auto second = app_test::deck(dir / "Budget.pdf", 3, "0 0 1");
    dialogs.holdAnswers = true;
    app->addMedia({first.string(), second.string()}, target.id, true, true);
    turn();
    ASSERT_EQ(dialogs.waiting(), 1u) << "one question at a time";
    EXPECT_EQ(dialogs.asked[0].message, "\u201CPitch\u201D has 2 slides");
    ASSERT_TRUE(dialogs.answer(2));  // Cancel: the next deck still comes
    turn();
    ASSERT_EQ(dialogs.waiting(), 1u);
    EXPECT_EQ(dialogs.asked[1].message, "\u201CBudget\u201D has 3 slides");
    ASSERT_TRUE(dialogs.answer(0));  // into "Opening"
    EXPECT_TRUE(app->pendingDeckImports().empty());
    ASSERT_TRUE(until([&] { return group(*app, "Opening") && group(*app, "Opening")->mediaIds.size() == 3; }));
    EXPECT_FALSE(group(*app, "Pitch")) << "the cancelled deck is not imported";
    EXPECT_EQ(dialogs.waiting(), 0u);

    // "New Playlist" makes a playlist of the deck's own.
    app->addMedia({first.string()}, target.id, true, true);
    turn();
    EXPECT_EQ(dialogs.asked.back().buttons[1], "New Playlist \u201CPitch\u201D");
    ASSERT_TRUE(dialogs.answer(1));
    ASSERT_TRUE(until([&] { return group(*app, "Pitch") && group(*app, "Pitch")->mediaIds.size() == 2; }));
    EXPECT_EQ(group(*app, "Opening")->mediaIds.size(), 3u);
}

TEST_F(ChromeTest, TheSequenceDialogEncodesOneClipThatTheStatusBarShows) {
    make();
    window();
    const Group target = app->library.createGroup("Titles");
    const auto frames = app_test::frames(dir, "intro_", 12);
    dialogs.holdAnswers = true;
    app->addMedia({dir.string()}, target.id, true, true);
    turn();
    ASSERT_EQ(dialogs.waiting(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, "\u201Cintro\u201D looks like an image sequence");
    EXPECT_EQ(dialogs.asked[0].buttons, (QStringList{"Import as One Clip", "Import as 12 Images", "Cancel"}));
    QWidget* encode = statusBar().findChild<QWidget*>("encodeProgress");
    EXPECT_FALSE(encode->isVisible());
    ASSERT_TRUE(dialogs.answer(0));
    EXPECT_TRUE(app->pendingSequenceImports().empty());
    ASSERT_TRUE(app->sequenceEncode());
    turn();
    EXPECT_TRUE(encode->isVisible());
    EXPECT_TRUE(statusBar().findChild<QLabel*>("encodeText")->text().startsWith("Encoding \u201Cintro\u201D\u2026 "));
    ASSERT_TRUE(until([&] { return !app->sequenceEncode(); }));
    turn();
    EXPECT_FALSE(encode->isVisible());
    ASSERT_EQ(group(*app, "Titles")->mediaIds.size(), 1u);
    EXPECT_EQ(app->library.item(group(*app, "Titles")->mediaIds[0])->kind, MediaKind::video);

    // Separate images: added outside the playlist, and no second question.
    const std::size_t before = app->library.media().size();
    app->addMedia({dir.string()}, target.id, true, true);
    turn();
    ASSERT_TRUE(dialogs.answer(1));
    turn();
    EXPECT_EQ(app->library.media().size(), before + 12);
    EXPECT_EQ(group(*app, "Titles")->mediaIds.size(), 1u);
    EXPECT_EQ(dialogs.waiting(), 0u);
    EXPECT_EQ(dialogs.asked.size(), 2u);
}

TEST_F(ChromeTest, TheUnsupportedFileAlertIsAnsweredThroughTheState) {
    make();
    window();
    const fs::path notes = dir / "notes.txt";
    std::ofstream(notes) << "not media";
    dialogs.holdAnswers = true;
    app->addMedia({notes.string()}, std::nullopt, true, true);
    turn();
    ASSERT_EQ(dialogs.waiting(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, "Unsupported file type");
    EXPECT_EQ(dialogs.asked[0].informative.toStdString(), *app->unsupportedFilePrompt());
    ASSERT_TRUE(dialogs.answer(0));
    EXPECT_FALSE(app->unsupportedFilePrompt());
    turn();
    EXPECT_EQ(dialogs.asked.size(), 1u);
}

class SlidesSheetTest : public ChromeTest {
protected:
    std::string pdf = test::pdfBytes(std::vector<test::PdfPage>(2, test::PdfPage{64, 48}));
    test::LoopbackServer server{[this](const std::string& path) {
        if (path.find("missing") != std::string::npos) return test::LoopbackServer::Answer{"HTTP/1.1 404 Not Found", ""};
        return test::LoopbackServer::Answer{
            "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"Town Hall.pdf\"",
            pdf};
    }};
    ui::SlidesLinkSheet* open() {
        app->slidesOrigin = server.origin();
        app->setSlidesLinkSheetOpen(true);
        turn();
        ui::SlidesLinkSheet* sheet = chrome().slidesLinkSheet();
        EXPECT_TRUE(sheet && sheet->isVisible());
        return sheet;
    }
    QLineEdit* field(ui::SlidesLinkSheet* s) { return s->findChild<QLineEdit*>("slidesLink"); }
    QPushButton* importButton(ui::SlidesLinkSheet* s) { return s->findChild<QPushButton*>("slidesImport"); }
};

TEST_F(SlidesSheetTest, ImportsADeckFromALinkAndCloses) {
    make();
    window();
    ui::SlidesLinkSheet* sheet = open();
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(importButton(sheet)->isEnabled());
    QTest::keyClicks(field(sheet), "   ");
    EXPECT_FALSE(importButton(sheet)->isEnabled()) << "spaces alone";
    QTest::keyClick(field(sheet), Qt::Key_Return);
    EXPECT_FALSE(sheet->working());
    field(sheet)->setText("  https://docs.google.com/presentation/d/1AbC-xyz_0123456789abcdef/edit \t");
    QTest::keyClick(field(sheet), Qt::Key_Return);
    EXPECT_TRUE(sheet->working());
    EXPECT_FALSE(field(sheet)->isEnabled());
    EXPECT_FALSE(importButton(sheet)->isEnabled());
    EXPECT_TRUE(sheet->findChild<QProgressBar*>("slidesProgress")->isVisible());
    QPointer<ui::SlidesLinkSheet> watched(sheet);
    ASSERT_TRUE(until([&] { return !watched || !watched->isVisible(); }));
    EXPECT_FALSE(app->slidesLinkSheetOpen());
    ASSERT_TRUE(until([&] { return group(*app, "Town Hall") != nullptr; }));
    EXPECT_EQ(group(*app, "Town Hall")->mediaIds.size(), 2u);
    EXPECT_EQ(server.paths(), std::vector<std::string>{"/presentation/d/1AbC-xyz_0123456789abcdef/export/pdf"});

    // Opened again: a new, empty sheet.
    ui::SlidesLinkSheet* again = open();
    ASSERT_TRUE(again);
    EXPECT_TRUE(field(again)->text().isEmpty());
    EXPECT_FALSE(again->findChild<QWidget*>("slidesErrorRow")->isVisible());
}

TEST_F(SlidesSheetTest, TheMenuCommandsOpenTheSheetAndCheckForUpdates) {
    make();
    ui::UpdaterController updater(*preferences, dialogs, {server.origin() + "/feed.json", "1.0"});
    auto ctx = context();
    ctx.updates = &updater;
    mainWindow = std::make_unique<ui::MainWindowController>(ctx);
    mainWindow->showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(mainWindow.get()));
    ui::OmbryCommands& commands = mainWindow->commands();
    QAction* importSlides = commands.action(ui::commands::Command::importSlides);
    ASSERT_TRUE(importSlides->isEnabled());
    importSlides->trigger();
    turn();
    EXPECT_TRUE(app->slidesLinkSheetOpen());
    ASSERT_TRUE(mainWindow->chrome()->slidesLinkSheet());
    EXPECT_TRUE(mainWindow->chrome()->slidesLinkSheet()->isVisible());
    mainWindow->chrome()->slidesLinkSheet()->reject();
    turn();

    // "Check for Updates…" follows the updater: disabled while a check runs, enabled again after it.
    QAction* check = commands.action(ui::commands::Command::checkForUpdates);
    ASSERT_TRUE(check->isEnabled());
    QSignalSpy finished(&updater, &ui::UpdaterController::checkFinished);
    check->trigger();
    EXPECT_FALSE(check->isEnabled());
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(dialogs.asked.back().message, "Ombry couldn't check for updates") << "the server has no feed";
    mainWindow.reset();
}

TEST_F(SlidesSheetTest, StaysOpenWithTheReasonOnAnError) {
    make();
    window();
    ui::SlidesLinkSheet* sheet = open();
    ASSERT_TRUE(sheet);
    QLabel* error = sheet->findChild<QLabel*>("slidesError");
    field(sheet)->setText("hello there");
    QTest::mouseClick(importButton(sheet), Qt::LeftButton);
    EXPECT_FALSE(sheet->working());
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), "That doesn't look like a Google Slides link. Copy the URL from your browser's address bar "
                             "while the deck is open.");
    EXPECT_TRUE(server.paths().empty()) << "nothing is fetched for a link that is no deck link";

    field(sheet)->setText("https://docs.google.com/presentation/d/missing-deck-0123456789/edit");
    QTest::mouseClick(importButton(sheet), Qt::LeftButton);
    EXPECT_TRUE(sheet->working());
    ASSERT_TRUE(until([&] { return !sheet->working(); }));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(app->slidesLinkSheetOpen());
    EXPECT_EQ(error->text(), "There's no Google Slides deck at that link. Check the URL, or the deck may have been deleted.");
    EXPECT_TRUE(field(sheet)->isEnabled());
    EXPECT_TRUE(importButton(sheet)->isEnabled());
    EXPECT_EQ(field(sheet)->text(), "https://docs.google.com/presentation/d/missing-deck-0123456789/edit");

    // Cancel closes it in any state.
    QTest::mouseClick(sheet->findChild<QPushButton*>("slidesCancel"), Qt::LeftButton);
    turn();
    EXPECT_FALSE(app->slidesLinkSheetOpen());
}

TEST_F(ChromeTest, TheStatusBarFollowsTheShowAndTheIssues) {
    make();
    window();
    bool settingsOpened = false;
    windows.define("settings", [&] {
        settingsOpened = true;
        return new QWidget;
    });
    ui::StatusBarView& bar = statusBar();
    EXPECT_EQ(window().statusBar(), &bar);
    EXPECT_EQ(bar.findChild<QLabel*>("onAirText")->text(), "Waiting");
    for (const char* name : {"Engine", "Display", "OBS", "Audio", "Remote", "Companion", "Disk"}) {
        auto* check = bar.findChild<QWidget*>(QStringLiteral("check") + name);
        ASSERT_TRUE(check) << name;
        EXPECT_EQ(check->findChildren<QLabel*>()[0]->property("ok").toBool(), std::string(name) == "Disk") << name;
    }
    QPushButton* issues = bar.findChild<QPushButton*>("issuesButton");
    EXPECT_FALSE(issues->isVisible());
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(bar.findChild<QLabel*>("clock")->text()).hasMatch());

    const MediaItem clip = add(image());
    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    turn();
    EXPECT_EQ(bar.findChild<QLabel*>("onAirText")->text(), "On Air");

    IssueLog::shared().report(IssueCode::mediaFormat, "a.mp4");
    turn();
    EXPECT_TRUE(issues->isVisible());
    EXPECT_EQ(issues->text(), "1 issue");
    IssueLog::shared().report(IssueCode::mediaFormat, "b.mp4");
    turn();
    EXPECT_EQ(issues->text(), "2 issues");
    app->setSettingsSection(SettingsSection::remote);
    QTest::mouseClick(issues, Qt::LeftButton);
    EXPECT_EQ(app->settingsSection(), SettingsSection::general);
    EXPECT_TRUE(settingsOpened);
    IssueLog::shared().clear();
    turn();
    EXPECT_FALSE(issues->isVisible());
}

TEST_F(ChromeTest, ShownControlsHaveAccessibleNames) {
    make();
    window();
    IssueLog::shared().report(IssueCode::mediaFormat, "a.mp4");
    app->setSlidesLinkSheetOpen(true);
    turn();
    std::vector<QWidget*> roots{&chrome(), &statusBar(), chrome().slidesLinkSheet()};
    for (QWidget* root : roots)
        for (auto* w : root->findChildren<QAbstractButton*>()) {
            if (w->isVisible()) {
                EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
            }
        }
    for (auto* w : chrome().slidesLinkSheet()->findChildren<QLineEdit*>())
        EXPECT_FALSE(w->accessibleName().isEmpty());
}

}  // namespace
}  // namespace ombry::ui_test
