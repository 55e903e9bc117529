// The settings window in a real X server: a screenshot of each pane for a person to look at (settings-*.png in
// the test's folder, or $OMBRY_SCREENSHOTS), and the pairing code as drawn on screen read back by zbarimg.
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QScreen>

#include "UiTestSupport.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class SettingsWindowShot : public UiTest {
protected:
    void TearDown() override {
        delete windows.window("settings");
        UiTest::TearDown();
    }
    static QString shotPath(const QString& name) {
        const char* dir = std::getenv("OMBRY_SCREENSHOTS");
        return (dir ? QString::fromLocal8Bit(dir) : QDir::currentPath()) + QLatin1Char('/') + name;
    }
    QImage shoot(QWidget& w) {
        for (int i = 0; i < 5; ++i) turn();
        return w.screen()->grabWindow(w.winId()).toImage();
    }
};

TEST_F(SettingsWindowShot, EachPaneAndAPairingCodeAPhoneCanRead) {
    ui::theme::apply(*qApp);
    make();
    window();
    IssueLog::shared().report(IssueCode::mediaMissing, std::string("intro.mov"));
    IssueLog::shared().report(IssueCode::mediaMissing, std::string("intro.mov"), std::nullopt, true);
    IssueLog::shared().report(IssueCode::controlServerFailed);
    app->serverInfo = ServerInfo{7340, "http://localhost:7340/", {"http://localhost:7340/"}};
    app->setControlServerInfo(
        ServerInfo{7341, "http://localhost:7341/", {"http://localhost:7341/", "http://192.168.1.20:7341/"}});
    AppSettings s = app->settings();
    s.ndiOutputEnabled = false;
    s.ndiAudioDelayMs = 120;
    s.remoteControlPassword = "secret";
    app->setSettings(s);

    struct Shot {
        SettingsSection section;
        const char* file;
        int height;
    };
    for (const Shot& shot : {Shot{SettingsSection::general, "settings-general.png", 900},
                             Shot{SettingsSection::output, "settings-output.png", 1060},
                             Shot{SettingsSection::media, "settings-media.png", 480},
                             Shot{SettingsSection::remote, "settings-remote.png", 1060},
                             Shot{SettingsSection::uploads, "settings-uploads.png", 480}}) {
        SCOPED_TRACE(shot.file);
        ui::openSettings(windows, *app, shot.section);
        QWidget* w = windows.window("settings");
        ASSERT_TRUE(w);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        // Tall enough to show the whole pane, on the screen.
        w->move(0, 0);
        w->resize(680, shot.height);
        const QImage image = shoot(*w);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), 680);
        EXPECT_TRUE(image.save(shotPath(QString::fromLatin1(shot.file)))) << shot.file;
        std::printf("screenshot: %s\n", shotPath(QString::fromLatin1(shot.file)).toUtf8().constData());
    }

    // The code as the screen shows it (140 points), with a white margin around it as a phone camera sees a
    // code on a white card, read by a barcode reader.
    auto* view = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
    ui::openSettings(windows, *app, SettingsSection::remote);
    view->resize(680, 1060);
    turn();
    auto* box = view->pane()->findChild<QWidget*>("qrCodeBox");
    ASSERT_TRUE(box);
    ASSERT_TRUE(box->isVisible());
    const QImage screen = shoot(*view);
    const QRect where(box->mapTo(view, QPoint(0, 0)), box->size());
    QImage card(where.size() + QSize(40, 40), QImage::Format_RGB32);
    card.fill(Qt::white);
    QPainter(&card).drawImage(QPoint(20, 20), screen.copy(where));
    const QString file = shotPath(QStringLiteral("settings-pairing-code.png"));
    ASSERT_TRUE(card.save(file));
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    ASSERT_TRUE(zbar.waitForFinished(20000));
    EXPECT_EQ(zbar.exitCode(), 0) << zbar.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), "ombry://192.168.1.20:7341");
}

}  // namespace
}  // namespace ombry::ui_test
