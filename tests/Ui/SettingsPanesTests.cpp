// The General, Output and Remote Control panes and the first-run sheet over a real state: each control writes
// exactly its field and the engines follow.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <fstream>

#include "FakeNdiFixture.hpp"
#include "UiTestSupport.hpp"
#include "Engine/Library/Store.hpp"
#include "Ui/Settings/OnboardingView.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsRules.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Settings/StageSizeFields.hpp"

namespace ombry::ui_test {
namespace {

struct FakeUpdates final : ui::UpdateControls {
    bool can = false;
    int checks = 0;
    bool canCheckForUpdates() const override { return can; }
    void checkForUpdates() override { ++checks; }
};

class PaneTest : public UiTest {
protected:
    // The window goes with the state it shows.
    void TearDown() override {
        delete windows.window("settings");
        UiTest::TearDown();
    }
    std::vector<AudioOutputDevice> devices;
    FakeUpdates updates;
    void define() {
        window();
        ui::SettingsContext c{*app, *stateSignals, *preferences, &reveal, &updates, {}};
        c.audioDevices = [this] { return devices; };
        ui::defineSettingsWindow(windows, c);
    }
    ui::SettingsView& open(SettingsSection section) {
        if (!windows.window("settings")) define();
        ui::openSettings(windows, *app, section);
        auto* w = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
        EXPECT_TRUE(w);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        turn();
        return *w;
    }
    void close() {
        windows.window("settings")->close();
        turn();
    }
    template <class T = QWidget>
    T* find(const char* name) {
        auto* w = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
        T* found = w && w->pane() ? w->pane()->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        EXPECT_TRUE(found) << name;
        return found;
    }
    static QString text(QWidget* w) { return static_cast<QLabel*>(w)->text(); }
    static QStringList items(QComboBox* box) {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            if (!box->itemData(i).isNull()) out << box->itemText(i);
        return out;
    }
    // Picks an entry from the open list with the mouse, as an operator does.
    static void choose(QComboBox* box, const QString& itemText) {
        const int want = box->findText(itemText);
        ASSERT_GE(want, 0) << itemText.toStdString();
        box->showPopup();
        QAbstractItemView* list = box->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
        const QModelIndex index = box->model()->index(want, box->modelColumn(), box->rootModelIndex());
        list->scrollTo(index);
        const QPoint at = list->visualRect(index).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        turn();
        QTRY_VERIFY(!list->window()->isVisible());
    }
    static void type(QLineEdit* field, const QString& t, bool pressReturn = true) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, t);
        if (pressReturn) QTest::keyClick(field, Qt::Key_Return);
        turn();
    }
    static void click(QAbstractButton* b) {
        QTest::mouseClick(b, Qt::LeftButton);
        turn();
    }
    AppSettings storedOnDisk() {
        AppSettings s;
        fromJson(nlohmann::json::parse(readFile(Store::dir() / "settings.json")), s);
        return s;
    }
    static std::string readFile(const std::filesystem::path& p) {
        std::ifstream in(p);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

// ---- General ----

TEST_F(PaneTest, GeneralTilesUpdatesAndTheSupportFolder) {
    make();
    open(SettingsSection::general);
    EXPECT_TRUE(find<QAbstractButton>("tileMedium")->isChecked()) << "the default is medium";
    click(find<QAbstractButton>("tileLarge"));
    EXPECT_EQ(preferences->tileSize(), ui::TileSize::large);
    EXPECT_EQ(defaults.string("tileSize"), "large");
    EXPECT_FALSE(find<QAbstractButton>("tileMedium")->isChecked());

    EXPECT_EQ(text(find("versionText")), ui::settings::appVersionString());
    // Without an updater that installs by itself, the switch has nothing to do and is not shown.
    EXPECT_FALSE(find("autoInstallUpdates")->isVisible());
    auto* beta = find<QAbstractButton>("receiveBetaUpdates");
    EXPECT_FALSE(beta->isChecked());
    click(beta);
    EXPECT_TRUE(defaults.boolValue("receiveBetaUpdates"));

    auto* check = find<QPushButton>("checkForUpdates");
    EXPECT_FALSE(check->isEnabled());
    updates.can = true;
    emit updates.changed();
    EXPECT_TRUE(check->isEnabled()) << "enabled without reopening the pane";
    click(check);
    EXPECT_EQ(updates.checks, 1);

    click(find<QAbstractButton>("revealSupportFolder"));
    ASSERT_EQ(reveal.shown.size(), 1u);
    EXPECT_EQ(reveal.shown[0], std::vector<std::filesystem::path>{Store::dir()});
}

TEST_F(PaneTest, RecentIssuesShowCopyAndClear) {
    make();
    open(SettingsSection::general);
    EXPECT_EQ(text(find("noIssues")), "Nothing has gone wrong this session.");
    auto* pane = dynamic_cast<ui::SettingsView*>(windows.window("settings"))->pane();
    EXPECT_FALSE(pane->findChild<QPushButton*>("copyIssues")) << "no buttons for an empty log";

    IssueLog::shared().report(IssueCode::mediaMissing, std::string("intro.mov"));
    IssueLog::shared().report(IssueCode::mediaMissing, std::string("intro.mov"), std::nullopt, true);
    IssueLog::shared().report(IssueCode::controlServerFailed);
    turn();
    const auto rows = pane->findChildren<QWidget*>("issueRow");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->findChild<QLabel*>("issueCode")->text(), "NET-02") << "newest first";
    EXPECT_FALSE(rows[0]->findChild<QLabel*>("issueCount"));
    EXPECT_EQ(rows[1]->findChild<QLabel*>("issueCode")->text(), "MED-01");
    EXPECT_EQ(rows[1]->findChild<QLabel*>("issueCount")->text(), QString::fromUtf8("\u00D72"));
    EXPECT_EQ(rows[1]->findChild<QLabel*>("issueMessage")->text(),
              QString::fromStdString(IssueLog::shared().recent()[1].message()));

    clipboard.clearAndSet(plainTextType, "older");
    click(find<QPushButton>("copyIssues"));
    const auto& recent = IssueLog::shared().recent();
    EXPECT_EQ(clipboard.data(plainTextType), recent[0].summary() + "\n" + recent[1].summary());

    click(find<QPushButton>("clearIssues"));
    EXPECT_TRUE(IssueLog::shared().recent().empty());
    EXPECT_EQ(text(find("noIssues")), "Nothing has gone wrong this session.");
    EXPECT_TRUE(pane->findChildren<QWidget*>("issueRow").isEmpty());
}

// ---- Output ----

TEST_F(PaneTest, CustomResolutionIsRememberedBeforeAListedChoice) {
    make();
    open(SettingsSection::output);
    auto* picker = find<QComboBox>("resolutionPicker");
    EXPECT_EQ(items(picker), (QStringList{"1920x1080", "1280x720", "3840x2160", "Custom"}));
    EXPECT_EQ(picker->itemData(picker->findText("Custom")).toString(), "custom");
    EXPECT_EQ(picker->currentText(), "1920x1080");
    EXPECT_FALSE(find("stageSizeFields")->isVisible());

    choose(picker, "Custom");
    EXPECT_TRUE(find("stageSizeFields")->isVisible());
    EXPECT_EQ(app->resolution(), "1920x1080") << "choosing Custom changes nothing but the pane";
    type(find<QLineEdit>("stageWidth"), "2048");
    EXPECT_EQ(app->resolution(), "2048x1080");
    EXPECT_TRUE(app->settings().customResolutions.empty()) << "editing remembers nothing by itself";

    choose(picker, "1280x720");
    EXPECT_EQ(app->settings().customResolutions, std::vector<std::string>{"2048x1080"});
    EXPECT_EQ(app->resolution(), "1280x720");
    EXPECT_FALSE(find("stageSizeFields")->isVisible());
    EXPECT_EQ(items(picker), (QStringList{"1920x1080", "1280x720", "3840x2160", "2048x1080", "Custom"}));

    // Custom, then a preset without an edit: the live size, a preset, is not remembered.
    choose(picker, "Custom");
    choose(picker, "3840x2160");
    EXPECT_EQ(app->settings().customResolutions, std::vector<std::string>{"2048x1080"});
    EXPECT_EQ(app->resolution(), "3840x2160");
}

TEST_F(PaneTest, AStageFormatNotListedShowsCustomAndIsRememberedWhenTheWindowCloses) {
    make();
    app->setResolution("2000x1000");
    app->setFrameRate("50p");
    open(SettingsSection::output);
    EXPECT_EQ(find<QComboBox>("resolutionPicker")->currentText(), "Custom");
    EXPECT_EQ(find<QLineEdit>("stageWidth")->text(), "2000");
    EXPECT_EQ(find<QLineEdit>("stageHeight")->text(), "1000");
    EXPECT_EQ(find<QComboBox>("frameRatePicker")->currentText(), "Custom");
    EXPECT_EQ(find<QLineEdit>("stageFps")->text(), "50");
    EXPECT_TRUE(app->settings().customResolutions.empty());
    close();
    EXPECT_EQ(app->settings().customResolutions, std::vector<std::string>{"2000x1000"});
    EXPECT_EQ(app->settings().customFrameRates, std::vector<std::string>{"50p"});
    open(SettingsSection::output);
    EXPECT_EQ(find<QComboBox>("resolutionPicker")->currentText(), "2000x1000");
    EXPECT_FALSE(find("stageSizeFields")->isVisible());
    EXPECT_EQ(items(find<QComboBox>("frameRatePicker")), (QStringList{"60p", "30p", "25p", "24p", "50p", "Custom"}));
    EXPECT_EQ(find<QComboBox>("frameRatePicker")->currentText(), "50p");
}

TEST_F(PaneTest, CustomFrameRateKeepsTheStageLimitsAndIsRememberedBeforeAListedRate) {
    make();
    open(SettingsSection::output);
    auto* rates = find<QComboBox>("frameRatePicker");
    choose(rates, "Custom");
    ASSERT_TRUE(find("stageFps")->isVisible());
    type(find<QLineEdit>("stageFps"), "0");
    EXPECT_EQ(app->stageFps(), 60);
    type(find<QLineEdit>("stageFps"), "500");
    EXPECT_EQ(app->stageFps(), 240);
    choose(rates, "30p");
    EXPECT_EQ(app->settings().customFrameRates, std::vector<std::string>{"240p"});
    EXPECT_EQ(app->frameRate(), "30p");
}

TEST_F(PaneTest, EachSwitchWritesExactlyItsFieldAndNdiStartsTheOutput) {
    test::FakeNdi ndi;
    ASSERT_TRUE(ndi.loaded());
    make();
    open(SettingsSection::output);
    struct Case {
        const char* name;
        bool AppSettings::*field;
    };
    for (const Case& c : {Case{"syphonOutput", &AppSettings::syphonOutputEnabled},
                          Case{"ndiOutput", &AppSettings::ndiOutputEnabled},
                          Case{"allowPrimary", &AppSettings::allowOutputOnPrimaryDisplay},
                          Case{"allowController", &AppSettings::allowOutputOnControllerDisplay},
                          Case{"monitorAudio", &AppSettings::audioMonitorEnabled}}) {
        SCOPED_TRACE(c.name);
        AppSettings want = app->settings();
        want.*c.field = !(want.*c.field);
        click(find<QAbstractButton>(c.name));
        EXPECT_EQ(app->settings(), want);
        EXPECT_EQ(storedOnDisk(), want) << "saved at once";
        EXPECT_EQ(find<QAbstractButton>(c.name)->isChecked(), want.*c.field);
    }
    EXPECT_TRUE(app->ndiEnabled());
    EXPECT_TRUE(app->syphonEnabled());
    {
        std::lock_guard lock(ndi->mutex);
        EXPECT_EQ(ndi->instancesAlive, 1) << "the NDI sender runs on the fake runtime";
        EXPECT_EQ(ndi->sourceName, "Ombry - Program");
    }
    click(find<QAbstractButton>("ndiOutput"));
    EXPECT_FALSE(app->ndiEnabled());
    std::lock_guard lock(ndi->mutex);
    EXPECT_EQ(ndi->instancesAlive, 0);
}

TEST_F(PaneTest, AvSyncMovesInStepsOfFiveOnlyWhileNdiIsOn) {
    make();
    open(SettingsSection::output);
    auto* row = find("avSyncRow");
    auto* slider = find<QSlider>("avSync");
    EXPECT_FALSE(row->isEnabled());
    EXPECT_EQ(text(find("avSyncValue")), "0 ms");
    click(find<QAbstractButton>("ndiOutput"));
    EXPECT_TRUE(row->isEnabled());
    slider->setFocus();
    for (int i = 0; i < 3; ++i) QTest::keyClick(slider, Qt::Key_Right);
    turn();
    EXPECT_EQ(app->settings().ndiAudioDelayMs, 15);
    EXPECT_EQ(text(find("avSyncValue")), "15 ms");
    QTest::keyClick(slider, Qt::Key_End);
    turn();
    EXPECT_EQ(app->settings().ndiAudioDelayMs, 500);
    // Dimmed with NDI off, still showing the stored delay.
    click(find<QAbstractButton>("ndiOutput"));
    EXPECT_FALSE(row->isEnabled());
    EXPECT_EQ(text(find("avSyncValue")), "500 ms");
}

TEST_F(PaneTest, OutputAddressDisplaysAndMonitorDevice) {
    make();
    devices = {{"sink-a", "Speakers"}, {"sink-b", "Headphones"}};
    AppSettings s = app->settings();
    s.monitorDeviceUID = "unplugged";
    app->setSettings(s);
    open(SettingsSection::output);
    EXPECT_EQ(text(find("outputUrl")), QString::fromUtf8("starting\u2026"));
    clipboard.clearAndSet(plainTextType, "kept");
    click(find<QPushButton>("copyOutputUrl"));
    EXPECT_EQ(clipboard.data(plainTextType), "kept") << "nothing to copy before the server runs";
    app->serverInfo = ServerInfo{7340, "http://localhost:7340/", {"http://localhost:7340/"}};
    app->notify(Aspect::serverInfo);
    turn();
    EXPECT_EQ(text(find("outputUrl")), "http://localhost:7340/");
    click(find<QPushButton>("copyOutputUrl"));
    EXPECT_EQ(clipboard.data(plainTextType), "http://localhost:7340/");

    EXPECT_TRUE(find("noDisplays")->isVisible());
    EXPECT_EQ(text(find("noDisplays")), "No displays detected.");

    auto* device = find<QComboBox>("monitorDevice");
    EXPECT_EQ(items(device), (QStringList{"System Default", "Speakers", "Headphones", "Unavailable device"}));
    EXPECT_EQ(device->currentText(), "Unavailable device");
    EXPECT_EQ(app->settings().monitorDeviceUID, "unplugged") << "kept until another entry is chosen";
    choose(device, "Headphones");
    EXPECT_EQ(app->settings().monitorDeviceUID, "sink-b");
    EXPECT_EQ(items(device), (QStringList{"System Default", "Speakers", "Headphones"}));
    choose(device, "System Default");
    EXPECT_EQ(app->settings().monitorDeviceUID, std::nullopt);
}

TEST_F(PaneTest, DisplayRowsMarkTheScreensTheGuardsKeepFree) {
    // Two screens: the primary one, and the one the main window stands on.
    struct TwoScreens final : ScreenProvider {
        std::vector<DisplayScreen> screens() const override {
            return {DisplayScreen{1, "Built-in", {0, 0, 1280, 800}, 2, true},
                    DisplayScreen{2, "Studio", {1280, 0, 1920, 1080}, 1, false}};
        }
    };
    static TwoScreens two;
    AppEnvironment e = env();
    e.screens = &two;
    app = std::make_unique<AppState>(std::move(e));
    stateSignals = std::make_unique<ui::StateSignals>(*app);
    app->mainWindowDisplay = [] { return std::optional<DisplayId>(2); };
    open(SettingsSection::output);
    EXPECT_FALSE(find("noDisplays")->isVisible());
    auto rows = [&] { return find("displayRows")->findChildren<QWidget*>("displayRow"); };
    auto marked = [&] {
        std::vector<bool> out;
        for (QWidget* row : rows()) out.push_back(row->findChild<QLabel*>("restricted") != nullptr);
        return out;
    };
    ASSERT_EQ(rows().size(), 2);
    EXPECT_EQ(rows()[0]->findChild<QLabel*>("displayName")->text(), "Built-in");
    EXPECT_EQ(rows()[0]->findChild<QLabel*>("displayDetail")->text(), QString::fromUtf8("2560\u00D71600 \u00B7 primary"));
    EXPECT_EQ(rows()[1]->findChild<QLabel*>("displayDetail")->text(), QString::fromUtf8("1920\u00D71080"));
    EXPECT_EQ(marked(), (std::vector<bool>{true, true}));
    click(find<QAbstractButton>("allowPrimary"));
    EXPECT_EQ(marked(), (std::vector<bool>{false, true}));
    click(find<QAbstractButton>("allowController"));
    EXPECT_EQ(marked(), (std::vector<bool>{false, false}));
}

// ---- Remote control ----

TEST_F(PaneTest, PortIsAppliedOnReturnOrFocusLossNotOnEveryKeystroke) {
    make();
    app->start();
    q.runPending();
    open(SettingsSection::remote);
    auto* port = find<QLineEdit>("controlPort");
    EXPECT_EQ(port->text(), "7341");
    control->calls.clear();
    type(port, "8080", false);
    q.runPending();
    EXPECT_EQ(control->countPrefix("start"), 0) << "the server moved while the port was typed";
    EXPECT_EQ(app->settings().remoteControlPort, 7341);
    QTest::keyClick(port, Qt::Key_Return);
    turn();
    q.runPending();
    EXPECT_EQ(app->settings().remoteControlPort, 8080);
    EXPECT_EQ(control->calls, (std::vector<std::string>{"stop", "password ", "upload off ", "start 8080"}));

    struct Case {
        const char* typed;
        std::int64_t port;
    };
    for (const Case& c : {Case{"80a81", 8081}, Case{"abc", 8081}, Case{"0", 8081}, Case{"65536", 8081},
                          Case{"07341", 7341}, Case{"65535", 65535}}) {
        SCOPED_TRACE(c.typed);
        type(port, c.typed);
        EXPECT_EQ(app->settings().remoteControlPort, c.port);
        EXPECT_EQ(port->text(), QString::number(c.port)) << "the field shows the stored port";
    }
    // Leaving the field applies it too.
    type(port, "9000", false);
    find<QLineEdit>("controlPassword")->setFocus();
    turn();
    EXPECT_EQ(app->settings().remoteControlPort, 9000);
}

TEST_F(PaneTest, WifiOffLeavesThreeSectionsAndTheSecurityNoteFollowsThePassword) {
    make();
    open(SettingsSection::remote);
    auto shown = [&](const char* name) { return find(name)->isVisible(); };
    EXPECT_TRUE(shown("addressSection"));
    EXPECT_TRUE(shown("pairingSection"));
    EXPECT_TRUE(shown("securitySection"));
    EXPECT_EQ(text(find("securityTitle")), "No password. Use trusted networks only");

    auto* password = find<QLineEdit>("controlPassword");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    type(password, "   ", false);
    EXPECT_EQ(app->settings().remoteControlPassword, "   ") << "stored as typed";
    EXPECT_EQ(text(find("securityTitle")), "No password. Use trusted networks only")
        << "a blank password is no password: the servers require none";
    type(password, " s3cret ", false);
    EXPECT_EQ(app->settings().remoteControlPassword, " s3cret ");
    EXPECT_EQ(text(find("securityTitle")), "Password required");
    EXPECT_EQ(ble->calls.back(), "password  s3cret ");
    password->clear();
    QTest::keyClick(password, Qt::Key_A);
    QTest::keyClick(password, Qt::Key_Backspace);
    turn();
    EXPECT_EQ(app->settings().remoteControlPassword, "");
    EXPECT_EQ(text(find("securityTitle")), "No password. Use trusted networks only");

    click(find<QAbstractButton>("allowWifi"));
    EXPECT_FALSE(app->settings().remoteControlEnabled);
    for (const char* gone : {"addressSection", "pairingSection", "securitySection"}) EXPECT_FALSE(shown(gone)) << gone;
    for (const char* kept : {"wifiSection", "bluetoothSection", "passwordSection"}) EXPECT_TRUE(shown(kept)) << kept;
    EXPECT_FALSE(find("controlPort")->isEnabled());
    EXPECT_TRUE(password->isEnabled());
}

TEST_F(PaneTest, AddressesPairingCodeDiscoveryAndBluetooth) {
    make();
    open(SettingsSection::remote);
    EXPECT_TRUE(find("addressStarting")->isVisible());
    EXPECT_TRUE(find("noPairingAddress")->isVisible());
    EXPECT_FALSE(find("pairingCode")->isVisible());

    app->setControlServerInfo(ServerInfo{7342, "http://localhost:7342/", {"http://localhost:7342/", "http://10.0.0.5:7342/"}});
    turn();
    EXPECT_FALSE(find("addressStarting")->isVisible());
    auto* pane = dynamic_cast<ui::SettingsView*>(windows.window("settings"))->pane();
    const auto rows = pane->findChildren<QWidget*>("addressRow");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->findChild<QLabel*>("addressLabel")->text(), "This computer");
    EXPECT_EQ(rows[0]->findChild<QLabel*>("address")->text(), "http://localhost:7342/");
    EXPECT_EQ(rows[1]->findChild<QLabel*>("addressLabel")->text(), "On your network");
    click(rows[1]->findChild<QPushButton*>("copyAddress"));
    EXPECT_EQ(clipboard.data(plainTextType), "http://10.0.0.5:7342/");
    auto* qr = find<ui::QRShareRow>("pairingCode");
    EXPECT_TRUE(qr->isVisible());
    EXPECT_EQ(qr->value(), "ombry://10.0.0.5:7342");
    EXPECT_TRUE(qr->codeBox()->isVisible());
    EXPECT_FALSE(find("noPairingAddress")->isVisible());

    EXPECT_FALSE(find("discoveryStatus")->isVisible());
    control->onAdvertiseStatus(AdvertiseStatus{AdvertiseStatus::Kind::failed, {}, -65563});
    q.runPending();
    turn();
    EXPECT_TRUE(find("discoveryStatus")->isVisible());
    EXPECT_EQ(text(find("discoveryStatus")),
              "Network discovery failed (error -65563). The QR code and manual address still work.");

    EXPECT_FALSE(find("bluetoothWarning")->isVisible());
    click(find<QAbstractButton>("allowBluetooth"));
    ble->onStateChange(bt::BluetoothState::poweredOff);
    q.runPending();
    turn();
    EXPECT_TRUE(find("bluetoothWarning")->isVisible());
    EXPECT_EQ(text(find("bluetoothWarning")), "Bluetooth is turned off on this computer");
    ble->onStateChange(bt::BluetoothState::poweredOn);
    q.runPending();
    turn();
    EXPECT_FALSE(find("bluetoothWarning")->isVisible());
}

// ---- The first-run sheet ----

TEST_F(PaneTest, OnboardingOpensOnceAndReturnAdvances) {
    make();
    auto& main = window();
    QPointer<ui::OnboardingView> sheet = ui::presentOnboardingIfNeeded(&main, *preferences);
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.data()));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->size(), QSize(540, 420));
    EXPECT_EQ(sheet->page(), 0);
    EXPECT_EQ(sheet->primaryButton()->text(), "Continue");
    auto* dot0 = sheet->findChild<QAbstractButton*>("pageDot0");
    auto* dot1 = sheet->findChild<QAbstractButton*>("pageDot1");
    EXPECT_TRUE(dot0->isChecked());
    EXPECT_FALSE(dot1->isChecked());

    QTest::keyClick(sheet.data(), Qt::Key_Return);
    EXPECT_EQ(sheet->page(), 1);
    EXPECT_EQ(sheet->primaryButton()->text(), "Get Started");
    EXPECT_TRUE(sheet->findChild<QWidget*>("tourPage")->isVisible());
    QTest::mouseClick(dot0, Qt::LeftButton);
    EXPECT_EQ(sheet->page(), 0);
    EXPECT_EQ(sheet->primaryButton()->text(), "Continue");
    QTest::mouseClick(dot0, Qt::LeftButton);
    EXPECT_EQ(sheet->page(), 0) << "the dot of the page shown changes nothing";
    EXPECT_TRUE(dot0->isChecked());

    QTest::keyClick(sheet.data(), Qt::Key_Return);
    EXPECT_FALSE(preferences->hasSeenOnboarding());
    QTest::keyClick(sheet.data(), Qt::Key_Return);
    EXPECT_TRUE(preferences->hasSeenOnboarding());
    QTRY_VERIFY(!sheet);
    EXPECT_EQ(ui::presentOnboardingIfNeeded(&main, *preferences), nullptr) << "shown once";
}

TEST_F(PaneTest, ClosingTheOnboardingAnyOtherWayEndsItToo) {
    make();
    auto& main = window();
    QPointer<ui::OnboardingView> sheet = ui::presentOnboardingIfNeeded(&main, *preferences);
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.data()));
    QTest::keyClick(sheet.data(), Qt::Key_Escape);
    QTRY_VERIFY(!sheet);
    EXPECT_TRUE(preferences->hasSeenOnboarding());
}

}  // namespace
}  // namespace ombry::ui_test
