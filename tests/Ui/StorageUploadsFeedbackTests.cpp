// The media storage pane, the uploads pane and the feedback form over a real AppState: offscreen widgets,
// scripted dialogs and panels, real files in the support folder, the loopback fake service.
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <condition_variable>
#include <regex>

#include "Engine/Cloud/FakeInbox.hpp"
#include "Platform/Paths.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Settings/FeedbackRules.hpp"
#include "Ui/Settings/FeedbackSection.hpp"
#include "Ui/Settings/GeneralSettings.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/MediaStorageRules.hpp"
#include "Ui/Settings/MediaStorageView.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Settings/UploadsSettings.hpp"
#include "Ui/Widgets/ElidedLabel.hpp"
#include "Ui/Widgets/Switch.hpp"

namespace ombry::ui_test {
namespace {

namespace fs = std::filesystem;

using test::FakeInbox;

template <class T = QWidget>
T* child(QWidget* in, const char* name) {
    T* w = in->findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << "no " << name;
    return w;
}

bool shown(QWidget* w) { return w && w->isVisibleTo(w->window()); }

// Panes are made by the settings window, as the operator opens them.
class SettingsWindowTest : public UiTest {
protected:
    void TearDown() override {
        delete windows.window("settings");
        UiTest::TearDown();
    }
    template <class Pane>
    Pane* openPane(SettingsSection section) {
        window();
        ui::openSettings(windows, *app, section);
        auto* w = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
        EXPECT_TRUE(w);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        turn();
        auto* pane = dynamic_cast<Pane*>(w->pane());
        EXPECT_TRUE(pane) << "the section shows another pane";
        return pane;
    }
};

class SettingsPaneTest : public SettingsWindowTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        for (const auto& dir : {Store::mediaDir(), Store::thumbnailDir()})
            for (const auto& e : fs::directory_iterator(dir))
                if (e.path() != Store::mediaIncomingDir()) fs::remove_all(e.path());
    }
    static fs::path managedClip(const std::string& name) {
        const fs::path p = Store::mediaDir() / name;
        fs::copy_file(video(), p, fs::copy_options::overwrite_existing);
        return p;
    }
    static fs::path managed(const std::string& name, std::size_t bytes) {
        const fs::path p = Store::mediaDir() / name;
        test::writeFile(p, std::string(bytes, 'x'));
        return p;
    }
    ui::MediaStorageView* storagePane() { return openPane<ui::MediaStorageView>(SettingsSection::media); }
    static std::vector<QWidget*> rows(QWidget* pane, const char* name) {
        std::vector<QWidget*> out;
        for (QWidget* w : pane->findChildren<QWidget*>(QString::fromLatin1(name))) out.push_back(w);
        return out;
    }
    static QWidget* row(QWidget* pane, const char* name, const char* property, const std::string& value) {
        for (QWidget* w : rows(pane, name))
            if (w->property(property).toString().toStdString() == value) return w;
        return nullptr;
    }
    // Runs a row's actions-menu entry as the menu does.
    static void chooseAction(QWidget* row, const char* action) {
        auto* menu = row->findChild<QMenu*>("fileActionsMenu");
        ASSERT_TRUE(menu);
        auto* a = menu->findChild<QAction*>(QString::fromLatin1(action));
        ASSERT_TRUE(a);
        a->trigger();
        turn();
    }
};

TEST_F(SettingsPaneTest, StorageWithNothingManagedOrReferencedSaysSo) {
    make();
    auto pane = storagePane();
    EXPECT_EQ(pane->downloadedSection()->header()->text(), "Downloaded by Ombry (0)");
    EXPECT_FALSE(shown(child(pane, "deleteAll")));
    EXPECT_TRUE(shown(child(pane, "noDownloaded")));
    EXPECT_EQ(pane->referencedSection()->header()->text(), "Referenced from other locations (0)");
    EXPECT_TRUE(shown(child(pane, "noReferenced")));
    EXPECT_EQ(child<QLabel>(pane, "storageTotal")->text(), "Zero KB");
    child<QPushButton>(pane, "showMediaFolder")->click();
    EXPECT_EQ(reveal.opened, std::vector<fs::path>{Store::mediaDir()});
}

TEST_F(SettingsPaneTest, DeletingALiveManagedFileTakesItOffAirAndRemovesItsClipsFileAndEntry) {
    const fs::path used = managedClip("used.mp4");
    MediaRegistry reg;
    reg.entries["aaa"] = {"aaa", "used.mp4", 10, MediaOrigin::cloud, 1};
    reg.save();
    make();
    const MediaItem clip = add(used.string());
    app->library.setMeta(clip.id, [](MediaItem& m) {
        m.contentHash = "aaa";
        m.name = "Opening";
    });
    const MediaItem other = add(video("green"));
    playlist({clip.id, other.id});
    app->setSelectedItemId(clip.id);
    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    ASSERT_TRUE(onAir());
    auto pane = storagePane();
    EXPECT_EQ(pane->downloadedSection()->header()->text(), "Downloaded by Ombry (1)");
    QWidget* r = row(pane, "downloadedRow", "filename", "used.mp4");
    ASSERT_TRUE(r);
    EXPECT_EQ(child<QLabel>(r, "detail")->text().toStdString(),
              ui::storage::formatBytes(std::int64_t(fs::file_size(used))).toStdString() + " \u00B7 Cloud \u00B7 In this project");
    EXPECT_EQ(child<QLabel>(pane, "storageTotal")->text(), ui::storage::formatBytes(app->managedStorageBytes()));

    // Cancelled first: nothing goes.
    dialogs.answers = {1};
    child<QPushButton>(r, "delete")->click();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, "Delete \u201Cused.mp4\u201D?");
    EXPECT_TRUE(dialogs.asked[0].informative.contains("\u201COpening\u201D")) << dialogs.asked[0].informative.toStdString();
    EXPECT_EQ(dialogs.asked[0].buttons[0].toStdString(),
              "Delete and Free " + ui::storage::formatBytes(std::int64_t(fs::file_size(used))).toStdString());
    EXPECT_TRUE(fs::exists(used));
    EXPECT_TRUE(onAir());

    r = row(pane, "downloadedRow", "filename", "used.mp4");
    child<QPushButton>(r, "delete")->click();
    turn();
    EXPECT_FALSE(onAir()) << "the deleted clip stayed on air";
    EXPECT_FALSE(app->library.item(clip.id));
    EXPECT_EQ(app->library.groups()[0].mediaIds, std::vector<std::string>{other.id});
    EXPECT_FALSE(app->selectedItemId());
    EXPECT_FALSE(fs::exists(used));
    EXPECT_EQ(MediaRegistry::load().entries.count("aaa"), 0u);
    EXPECT_EQ(MediaTombstones::load().hashes, std::set<std::string>{"aaa"});
    // Reloaded at once.
    EXPECT_EQ(pane->downloadedSection()->header()->text(), "Downloaded by Ombry (0)");
    EXPECT_FALSE(row(pane, "downloadedRow", "filename", "used.mp4"));
    EXPECT_TRUE(shown(child(pane, "noDownloaded")));
}

TEST_F(SettingsPaneTest, DeleteAllDeletesOnlyTheFilesItShowed) {
    managed("a.mp4", 1500);
    managed("b.png", 1100);
    make();
    auto pane = storagePane();
    ASSERT_EQ(pane->downloaded().size(), 2u);
    ASSERT_TRUE(shown(child(pane, "deleteAll")));
    // Arrives after the pane loaded: the operator never saw it.
    const fs::path late = managed("late.mp4", 9000);
    child<QPushButton>(pane, "deleteAll")->click();
    turn();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, "Delete all downloaded media?");
    EXPECT_EQ(dialogs.asked[0].buttons[0], "Delete All and Free 3 KB");
    EXPECT_TRUE(dialogs.asked[0].informative.contains("Removes all 2 downloaded files"));
    EXPECT_FALSE(fs::exists(Store::mediaDir() / "a.mp4"));
    EXPECT_FALSE(fs::exists(Store::mediaDir() / "b.png"));
    EXPECT_TRUE(fs::exists(late)) << "a file that arrived after the pane loaded was deleted";
    EXPECT_EQ(pane->downloadedSection()->header()->text(), "Downloaded by Ombry (1)");
    EXPECT_TRUE(row(pane, "downloadedRow", "filename", "late.mp4"));
}

TEST_F(SettingsPaneTest, RemoveReferenceAsksThenTakesTheClipOutThroughTheBoard) {
    make();
    const fs::path file = test::tempDir("refs") / "logo.mp4";
    fs::copy_file(video(), file, fs::copy_options::overwrite_existing);
    const MediaItem clip = add(file.string());
    app->library.setMeta(clip.id, [](MediaItem& m) { m.name = "Logo"; });
    const MediaItem other = add(video("green"));
    playlist({clip.id, other.id});
    app->setSelectedItemId(clip.id);
    app->setSelectedIds({clip.id});
    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    auto pane = storagePane();
    ASSERT_EQ(pane->referenced().size(), 2u);
    QWidget* r = row(pane, "referencedRow", "itemId", clip.id);
    ASSERT_TRUE(r);
    EXPECT_EQ(child<QToolButton>(r, "fileActions")->accessibleName(), "File actions");

    dialogs.answers = {1};
    chooseAction(r, "removeReference");
    ASSERT_EQ(dialogs.asked.size(), 1u) << "removed without asking";
    EXPECT_EQ(dialogs.asked[0].message, "Remove \u201CLogo\u201D from this project?");
    EXPECT_EQ(dialogs.asked[0].buttons[0], "Remove Reference");
    EXPECT_TRUE(app->library.item(clip.id));
    EXPECT_TRUE(onAir());

    chooseAction(row(pane, "referencedRow", "itemId", clip.id), "removeReference");
    EXPECT_FALSE(app->library.item(clip.id));
    EXPECT_FALSE(onAir()) << "the removed clip stayed on air";
    EXPECT_EQ(app->library.groups()[0].mediaIds, std::vector<std::string>{other.id});
    EXPECT_FALSE(app->selectedItemId());
    EXPECT_TRUE(app->selectedIds().empty());
    EXPECT_TRUE(fs::exists(file)) << "the referenced file itself stays";
    EXPECT_EQ(pane->referencedSection()->header()->text(), "Referenced from other locations (1)");
    EXPECT_FALSE(row(pane, "referencedRow", "itemId", clip.id));
}

TEST_F(SettingsPaneTest, RelinkingAnOfflineClipReloadsItsRow) {
    make();
    const MediaItem gone = addMissing();
    auto pane = storagePane();
    QWidget* r = row(pane, "referencedRow", "itemId", gone.id);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->findChild<QLabel*>("offlineBadge"));
    EXPECT_FALSE(r->findChild<QLabel*>("size")) << "a file that cannot be read shows no size";
    const fs::path found = test::tempDir("found") / "back.mp4";
    fs::copy_file(video(), found, fs::copy_options::overwrite_existing);
    panels.openAnswers = {found};
    chooseAction(r, "relink");
    r = row(pane, "referencedRow", "itemId", gone.id);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->findChild<QLabel*>("offlineBadge"));
    EXPECT_EQ(child<ui::ElidedLabel>(r, "path")->fullText().toStdString(), found.string());
    EXPECT_EQ(child<QLabel>(r, "size")->text(), ui::storage::formatBytes(std::int64_t(fs::file_size(found))));
}

TEST_F(SettingsPaneTest, TheSearchFolderFollowsTheSettings) {
    make();
    auto pane = storagePane();
    auto* button = child<QPushButton>(pane, "searchFolderButton");
    EXPECT_FALSE(shown(child(pane, "searchFolderRow")));
    EXPECT_EQ(button->text(), "Search for offline media\u2026");
    const fs::path home = std::getenv("HOME");
    panels.openAnswers = {std::nullopt, home / "Shows"};
    button->click();
    EXPECT_FALSE(app->settings().autoRelinkFolderPath) << "a cancelled panel changes nothing";
    button->click();
    ASSERT_EQ(panels.openRequests.size(), 2u);
    EXPECT_TRUE(panels.openRequests[1].canChooseFolders);
    EXPECT_EQ(panels.openRequests[1].title, "Choose Relink Search Folder");
    EXPECT_EQ(app->settings().autoRelinkFolderPath, (home / "Shows").string());
    EXPECT_EQ(Json::parse(test::readFile(Store::dir() / "settings.json"))["autoRelinkFolderPath"], (home / "Shows").string());
    turn();
    EXPECT_TRUE(shown(child(pane, "searchFolderRow")));
    EXPECT_EQ(child<ui::ElidedLabel>(pane, "searchFolderPath")->fullText(), "~/Shows");
    EXPECT_EQ(button->text(), "Change offline media search folder\u2026");
    child<QPushButton>(pane, "clearSearchFolder")->click();
    turn();
    EXPECT_FALSE(app->settings().autoRelinkFolderPath);
    EXPECT_TRUE(Json::parse(test::readFile(Store::dir() / "settings.json"))["autoRelinkFolderPath"].is_null());
    EXPECT_FALSE(shown(child(pane, "searchFolderRow")));
    EXPECT_EQ(button->text(), "Search for offline media\u2026");
}

class UploadsPaneTest : public SettingsWindowTest {
protected:
    ui::UploadsSettings* uploadsPane() { return openPane<ui::UploadsSettings>(SettingsSection::uploads); }
    static QString shareValue(QWidget* pane, const char* row) {
        auto* r = pane->findChild<ui::QRShareRow*>(QString::fromLatin1(row));
        return r ? r->value() : QString();
    }
    void set(const std::function<void(AppSettings&)>& change) {
        AppSettings s = app->settings();
        change(s);
        app->setSettings(s);
        turn();
    }
};

TEST_F(UploadsPaneTest, SwitchingUploadsOnMakesATokenAndShowsTheLinkAtOnce) {
    make();
    app->setControlServerInfo(ServerInfo{7341, "http://localhost:7341/", {"http://localhost:7341/", "http://192.168.1.20:7341/"}});
    auto pane = uploadsPane();
    EXPECT_FALSE(shown(child(pane, "mediaUploadRows")));
    child<ui::Switch>(pane, "allowMediaUploads")->click();
    turn();
    ASSERT_TRUE(app->settings().mediaUploadEnabled);
    ASSERT_TRUE(app->settings().mediaUploadToken);
    const std::string token = *app->settings().mediaUploadToken;
    EXPECT_TRUE(std::regex_match(token, std::regex("[A-Za-z0-9]{22}")));
    EXPECT_EQ(shareValue(pane, "uploadShare").toStdString(), "http://192.168.1.20:7341/upload?k=" + token);
    EXPECT_TRUE(shown(child(pane, "uploadShare")));
    EXPECT_FALSE(shown(child(pane, "noUploadAddress")));
    EXPECT_TRUE(shown(child(pane, "uploadNote")));
    EXPECT_EQ(control->calls.back(), "upload on " + token) << "the server takes the token at once";

    child<QPushButton>(pane, "regenerateUploadLink")->click();
    turn();
    const std::string fresh = *app->settings().mediaUploadToken;
    EXPECT_NE(fresh, token);
    EXPECT_EQ(shareValue(pane, "uploadShare").toStdString(), "http://192.168.1.20:7341/upload?k=" + fresh);
    child<QPushButton>(pane, "copyUploadLink")->click();
    EXPECT_EQ(clipboard.data(plainTextType), "http://192.168.1.20:7341/upload?k=" + fresh);

    // Off and on again: the same token. Without a network address: the note instead of the link.
    child<ui::Switch>(pane, "allowMediaUploads")->click();
    turn();
    EXPECT_FALSE(shown(child(pane, "mediaUploadRows")));
    app->setControlServerInfo(ServerInfo{7341, "http://localhost:7341/", {"http://localhost:7341/"}});
    child<ui::Switch>(pane, "allowMediaUploads")->click();
    turn();
    EXPECT_EQ(app->settings().mediaUploadToken, fresh);
    EXPECT_FALSE(shown(child(pane, "uploadShare")));
    EXPECT_TRUE(shown(child(pane, "noUploadAddress")));
    EXPECT_TRUE(shown(child(pane, "uploadNote")));
}

TEST_F(UploadsPaneTest, TheUploadPasswordIsStoredTrimmedWhenEditingEnds) {
    make();
    set([](AppSettings& s) {
        s.cloudUploadEnabled = true;
        s.cloudServiceURL = "https://inbox.example/";
        s.cloudInboxId = "inbox-1";
        s.cloudAppSecret = "secret";
        s.cloudUploadPassword = "old-password";
    });
    auto pane = uploadsPane();
    EXPECT_EQ(shareValue(pane, "inboxShare"), "https://inbox.example/u/inbox-1");
    auto* field = child<QLineEdit>(pane, "uploadPassword");
    EXPECT_EQ(field->text(), "old-password");
    EXPECT_FALSE(shown(child(pane, "passwordWarning")));
    int writes = 0;
    Subscription counting = app->observe([&](Aspect a) { writes += a == Aspect::settings; });

    QApplication::setActiveWindow(pane);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "  my pass");
    turn();
    EXPECT_EQ(writes, 0) << "the password was stored while being typed";
    EXPECT_EQ(app->settings().cloudUploadPassword, "old-password");
    EXPECT_TRUE(shown(child(pane, "passwordWarning"))) << "the warning follows the typing";
    QTest::keyClicks(field, "word  ");
    EXPECT_FALSE(shown(child(pane, "passwordWarning")));
    QTest::keyClick(field, Qt::Key_Return);
    turn();
    EXPECT_EQ(app->settings().cloudUploadPassword, "my password");
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(field->text(), "my password");

    // Cleared: no password, no warning. Short: stored, and warned.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClick(field, Qt::Key_Return);
    turn();
    EXPECT_EQ(app->settings().cloudUploadPassword, std::nullopt);
    EXPECT_FALSE(shown(child(pane, "passwordWarning")));
    QTest::keyClicks(field, "  abc  ");
    QTest::keyClick(field, Qt::Key_Return);
    turn();
    EXPECT_EQ(app->settings().cloudUploadPassword, "abc");
    EXPECT_TRUE(shown(child(pane, "passwordWarning")));
}

TEST_F(UploadsPaneTest, TheInboxRowsFollowTheCloudLoopAgainstTheService) {
    FakeInbox service;
    make();
    app->start();
    q.runPending();
    auto pane = uploadsPane();
    EXPECT_FALSE(shown(child(pane, "internetUploadRows")));
    set([&](AppSettings& s) { s.cloudServiceURL = service.origin() + "/"; });
    child<ui::Switch>(pane, "uploadsFromAnywhere")->click();
    turn();
    ASSERT_TRUE(app->settings().cloudUploadEnabled);
    // Until the inbox is registered: the busy row, no link.
    EXPECT_TRUE(shown(child(pane, "settingUp")));
    EXPECT_EQ(child<QProgressBar>(pane, "settingUpBusy")->maximum(), 0);
    EXPECT_FALSE(shown(child(pane, "inbox")));

    ASSERT_TRUE(q.waitUntil([&] { return app->cloudStatus().has_value() && app->cloudRequestsInFlight() == 0; }, 20));
    turn();
    EXPECT_TRUE(shown(child(pane, "inbox")));
    EXPECT_FALSE(shown(child(pane, "settingUp")));
    EXPECT_EQ(shareValue(pane, "inboxShare").toStdString(), service.origin() + "/u/inbox-1");
    ASSERT_TRUE(app->settings().cloudUploadPassword);
    EXPECT_EQ(child<QLineEdit>(pane, "uploadPassword")->text().toStdString(), *app->settings().cloudUploadPassword);
    auto* status = child(pane, "inboxStatus");
    EXPECT_TRUE(shown(status));
    EXPECT_TRUE(child<QLabel>(status, "statusText")->text().startsWith("Last check: "));
    child<QPushButton>(pane, "copyInboxLink")->click();
    EXPECT_EQ(clipboard.data(plainTextType), service.origin() + "/u/inbox-1");

    // A failing check shows as the warning, the link staying.
    service.setScript([](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
        if (r.path.ends_with("/app/wait")) return FakeInbox::Answer{.status = 503};
        return std::nullopt;
    });
    q.advance(AppState::cloudPollSpacing + 0.5);
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudStatus() && app->cloudStatus()->error; }, 20));
    turn();
    EXPECT_TRUE(shown(child(status, "statusWarning")));
    EXPECT_EQ(child<QLabel>(status, "statusWarningText")->text(), "Check-in failed: inbox service returned HTTP 503");
    EXPECT_FALSE(shown(child(status, "statusText")));
    EXPECT_TRUE(shown(child(pane, "inbox")));

    // Off: everything hidden, the status cleared; on again shows the same link at once.
    child<ui::Switch>(pane, "uploadsFromAnywhere")->click();
    turn();
    EXPECT_FALSE(shown(child(pane, "internetUploadRows")));
    EXPECT_FALSE(app->cloudStatus());
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudRequestsInFlight() == 0; }, 20));
    service.setScript({});
    child<ui::Switch>(pane, "uploadsFromAnywhere")->click();
    turn();
    EXPECT_TRUE(shown(child(pane, "inbox")));
    EXPECT_EQ(shareValue(pane, "inboxShare").toStdString(), service.origin() + "/u/inbox-1");
    child<ui::Switch>(pane, "uploadsFromAnywhere")->click();
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudRequestsInFlight() == 0 && !app->cloudSyncing(); }, 20));
}

class FeedbackFormTest : public SettingsWindowTest {
protected:
    FakeInbox service;
    ui::FeedbackSection* form = nullptr;

    // The General pane, whose last section is the form.
    void open(const std::string& address) {
        make();
        AppSettings s = app->settings();
        s.serviceBaseURL = address;
        app->setSettings(s);
        auto* general = openPane<ui::GeneralSettings>(SettingsSection::general);
        ASSERT_TRUE(general);
        form = general->findChild<ui::FeedbackSection*>("feedbackSection");
        ASSERT_TRUE(form);
    }
    QLineEdit* subject() { return child<QLineEdit>(form, "feedbackSubject"); }
    QPlainTextEdit* message() { return child<QPlainTextEdit>(form, "feedbackMessage"); }
    QLineEdit* email() { return child<QLineEdit>(form, "feedbackEmail"); }
    QPushButton* sendButton() { return child<QPushButton>(form, "feedbackSend"); }
    QString status() { return shown(child(form, "feedbackStatus")) ? child<QLabel>(form, "feedbackStatusText")->text() : QString(); }
    void type(const QString& s, const QString& m, const QString& e = {}) {
        QTest::keyClicks(subject(), s);
        // Line breaks are not keys QTest types.
        message()->setPlainText(m);
        if (!e.isEmpty()) QTest::keyClicks(email(), e);
    }
    void answer(FakeInbox::Answer a) {
        service.setScript([a](const FakeInbox::Request&) { return std::optional<FakeInbox::Answer>(a); });
    }
    // Sends and waits for the outcome on the main queue.
    void sendAndWait() {
        sendButton()->click();
        ASSERT_TRUE(q.waitUntil([&] { return !form->sending(); }, 20));
        turn();
    }
};

TEST_F(FeedbackFormTest, ASentReportClearsTheTextKeepsTheKindAndSaysThankYou) {
    open(service.origin());
    answer({.body = R"({"ok":true})"});
    EXPECT_FALSE(sendButton()->isEnabled());
    QTest::keyClicks(subject(), "   ");
    message()->setPlainText("\n \n");
    EXPECT_FALSE(sendButton()->isEnabled()) << "blank subject and message";
    subject()->clear();
    message()->clear();
    IssueLog::shared().report(IssueCode::outputServerFailed, std::nullopt, std::string("test"), false);
    child<QComboBox>(form, "feedbackType")->setCurrentIndex(1);
    type("Wish", "\nMore layers\n");
    EXPECT_TRUE(sendButton()->isEnabled());
    sendAndWait();
    EXPECT_EQ(status(), "Sent \u2014 thank you!");
    EXPECT_TRUE(subject()->text().isEmpty());
    EXPECT_TRUE(message()->toPlainText().isEmpty());
    EXPECT_FALSE(sendButton()->isEnabled());
    EXPECT_EQ(child<QComboBox>(form, "feedbackType")->currentIndex(), 1) << "the kind stays";
    const auto rs = service.requests();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].path, "/v1/feedback");
    const Json body = Json::parse(rs[0].body);
    EXPECT_EQ(body.size(), 7u);
    EXPECT_EQ(body["kind"], "feature");
    EXPECT_EQ(body["subject"], "Wish");
    EXPECT_EQ(body["message"], "\nMore layers\n\n\n---\nRecent issues: " + IssueLog::shared().codeDigest());
    EXPECT_EQ(body["email"], "");
    EXPECT_EQ(body["os"], paths::osDescription());
    EXPECT_EQ(body["machineName"], AppState::hostName().value_or(ui::feedback::unnamedMachine));
    EXPECT_TRUE(std::regex_match(body["appVersion"].get<std::string>(), std::regex(".+ \\(.+\\)")));
}

TEST_F(FeedbackFormTest, ARefusalOrAFailureKeepsTheText) {
    open(service.origin());
    type("Crash", "On take", "ana@example.com");
    const std::vector<std::pair<FakeInbox::Answer, QString>> cases{
        {{.body = R"({"ok":false,"error":"closed"})"}, ui::feedback::genericFailureText()},
        {{.status = 429}, "Too many messages \u2014 wait a bit and try again."},
        {{.status = 201, .body = R"({"ok":true})"}, ui::feedback::genericFailureText()},
        {{.body = "not json"}, ui::feedback::genericFailureText()},
    };
    for (const auto& [reply, text] : cases) {
        answer(reply);
        sendAndWait();
        EXPECT_EQ(status(), text);
        EXPECT_EQ(subject()->text(), "Crash");
        EXPECT_EQ(message()->toPlainText(), "On take");
        EXPECT_EQ(email()->text(), "ana@example.com");
        EXPECT_TRUE(sendButton()->isEnabled());
    }
}

TEST_F(FeedbackFormTest, TheFieldsAreLockedWhileSending) {
    open(service.origin());
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    service.setScript([&](const FakeInbox::Request&) -> std::optional<FakeInbox::Answer> {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
        return FakeInbox::Answer{.body = R"({"ok":true})"};
    });
    type("Crash", "On take");
    sendButton()->click();
    ASSERT_TRUE(service.waitFor([&] { return service.requests().size() == 1; }));
    EXPECT_TRUE(form->sending());
    EXPECT_TRUE(shown(child(form, "feedbackSending")));
    EXPECT_FALSE(sendButton()->isEnabled());
    for (QWidget* w : {static_cast<QWidget*>(subject()), static_cast<QWidget*>(message()), static_cast<QWidget*>(email())})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString() << " could be typed into while sending";
    EXPECT_FALSE(child(form, "feedbackType")->isEnabled());
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(q.waitUntil([&] { return !form->sending(); }, 20));
    turn();
    EXPECT_EQ(status(), "Sent \u2014 thank you!");
    EXPECT_TRUE(subject()->isEnabled());
    EXPECT_FALSE(shown(child(form, "feedbackSending")));
}

TEST_F(FeedbackFormTest, NoUsableAddressReportsAtOnceWithoutARequest) {
    open("  ");
    type("Crash", "On take");
    for (const std::string& address : {std::string("  "), std::string("ftp://127.0.0.1:1"),
                                      "http://feedback.example:" + std::to_string(service.port())}) {
        AppSettings s = app->settings();
        s.serviceBaseURL = address;
        app->setSettings(s);
        sendButton()->click();
        EXPECT_FALSE(form->sending()) << address;
        EXPECT_FALSE(shown(child(form, "feedbackSending")));
        EXPECT_EQ(status(), ui::feedback::noServiceText()) << address;
        EXPECT_EQ(subject()->text(), "Crash");
        EXPECT_TRUE(subject()->isEnabled());
    }
    EXPECT_TRUE(service.requests().empty());
    EXPECT_TRUE(child<QLabel>(form, "feedbackNote")->text().contains("computer's name"));
}

}  // namespace
}  // namespace ombry::ui_test
