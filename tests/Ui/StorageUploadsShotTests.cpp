// The media storage pane and the uploads pane in real windows on a private X server, with real content:
// managed files used here, elsewhere and nowhere, referenced and offline clips, a search folder; the upload
// link and the inbox registered by the loop against the loopback fake service. The screenshots are written
// to media-storage-pane.png and uploads-pane.png in the test's build folder for a person to look at.
#include <QPainter>
#include <QProcess>
#include <QScreen>

#include "Engine/Cloud/FakeInbox.hpp"
#include "Platform/Uuid.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Settings/MediaStorageRules.hpp"
#include "Ui/Settings/MediaStorageView.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Settings/UploadsSettings.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

namespace fs = std::filesystem;

class SettingsPanesShot : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        for (const auto& dir : {Store::mediaDir(), Store::thumbnailDir()})
            for (const auto& e : fs::directory_iterator(dir))
                if (e.path() != Store::mediaIncomingDir()) fs::remove_all(e.path());
    }
    void TearDown() override {
        delete windows.window("settings");
        UiTest::TearDown();
    }
    // The settings window on that section, as the operator opens it.
    ui::SettingsView* open(SettingsSection section) {
        window();
        ui::openSettings(windows, *app, section);
        auto* w = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
        EXPECT_TRUE(w);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        w->resize(w->width(), 780);
        turn();
        return w;
    }
    void shoot(QWidget* window, const char* name) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        for (int i = 0; i < 5; ++i) turn();
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        ASSERT_FALSE(screen.isNull());
        const QImage shot = screen.copy(window->frameGeometry());
        const QString file = QStringLiteral(QT_TESTCASE_BUILDDIR "/%1").arg(QLatin1String(name));
        EXPECT_TRUE(shot.save(file)) << file.toStdString();
        std::printf("screenshot: %s (%dx%d)\n", file.toUtf8().constData(), shot.width(), shot.height());
    }
};

TEST_F(SettingsPanesShot, MediaStoragePaneWithManagedReferencedAndOfflineMedia) {
    ui::theme::apply(*qApp);
    const fs::path used = Store::mediaDir() / "Opening titles.mp4";
    fs::copy_file(video(), used);
    test::writeFile(Store::mediaDir() / "Interview take 2 from the phone upload.mov", std::string(2400000, 'x'));
    test::writeFile(Store::mediaDir() / "Sponsor loop.mp4", std::string(730000, 'x'));
    MediaRegistry reg;
    reg.entries["h1"] = {"h1", "Interview take 2 from the phone upload.mov", 2400000, MediaOrigin::cloud, 1};
    reg.entries["h2"] = {"h2", "Sponsor loop.mp4", 730000, MediaOrigin::upload, 1};
    reg.save();
    // Another recent project uses the sponsor loop.
    ProjectDoc other = ProjectDoc::make("Friday Gala");
    MediaItem m;
    m.id = makeUuid();
    m.kind = MediaKind::video;
    m.name = "Sponsor loop";
    m.path = (Store::mediaDir() / "Sponsor loop.mp4").string();
    other.media.push_back(m);
    const fs::path otherFile = test::tempDir("projects") / "Friday Gala.ombry";
    test::writeFile(otherFile, encodeJson(other).dump());
    RecentsStore recents;
    recents.recents = {{other.id, "Friday Gala", otherFile.string(), 1}};
    recents.save();
    make();
    add(used.string());
    const fs::path logo = test::tempDir("show") / "Station logo.png";
    fs::copy_file(image(), logo, fs::copy_options::overwrite_existing);
    add(logo.string());
    addMissing();
    AppSettings s = app->settings();
    s.autoRelinkFolderPath = (fs::path(std::getenv("HOME")) / "Shows" / "Backup drive").string();
    app->setSettings(s);

    ui::SettingsView* w = open(SettingsSection::media);
    auto* pane = dynamic_cast<ui::MediaStorageView*>(w->pane());
    ASSERT_TRUE(pane);
    QTRY_COMPARE(pane->downloadedSection()->header()->text(), QStringLiteral("Downloaded by Ombry (3)"));
    EXPECT_EQ(pane->referencedSection()->header()->text(), QStringLiteral("Referenced from other locations (2)"));
    shoot(w, "media-storage-pane.png");
}

TEST_F(SettingsPanesShot, UploadsPaneWithTheLinkAndARegisteredInbox) {
    ui::theme::apply(*qApp);
    test::FakeInbox service;
    make();
    app->start();
    q.runPending();
    app->setControlServerInfo(ServerInfo{7341, "http://localhost:7341/", {"http://localhost:7341/", "http://192.168.1.20:7341/"}});
    AppSettings s = app->settings();
    s.mediaUploadEnabled = true;
    s.mediaUploadToken = AppSettings::makeUploadToken();
    s.cloudUploadEnabled = true;
    s.cloudServiceURL = service.origin();
    app->setSettings(s);
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudStatus() && app->cloudRequestsInFlight() == 0; }, 20));

    ui::SettingsView* w = open(SettingsSection::uploads);
    ASSERT_TRUE(dynamic_cast<ui::UploadsSettings*>(w->pane()));
    shoot(w, "uploads-pane.png");

    // The upload link's code as the screen shows it, on a white card, read back by a barcode reader.
    auto* share = w->pane()->findChild<ui::QRShareRow*>("uploadShare");
    ASSERT_TRUE(share);
    const std::string link = "http://192.168.1.20:7341/upload?k=" + *app->settings().mediaUploadToken;
    EXPECT_EQ(share->value().toStdString(), link);
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRect where(share->codeBox()->mapToGlobal(QPoint(0, 0)), share->codeBox()->size());
    QImage card(where.size() + QSize(40, 40), QImage::Format_RGB32);
    card.fill(Qt::white);
    QPainter(&card).drawImage(QPoint(20, 20), screen.copy(where));
    const QString file = QStringLiteral(QT_TESTCASE_BUILDDIR "/uploads-link-code.png");
    ASSERT_TRUE(card.save(file));
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    ASSERT_TRUE(zbar.waitForFinished(20000));
    EXPECT_EQ(zbar.exitCode(), 0) << zbar.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed().toStdString(), link);
    s = app->settings();
    s.cloudUploadEnabled = false;
    app->setSettings(s);
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudRequestsInFlight() == 0 && !app->cloudSyncing(); }, 20));
}

}  // namespace
}  // namespace ombry::ui_test
