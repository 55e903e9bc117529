// The settings window's rules as tables: no widget, no display.
#include <gtest/gtest.h>

#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsRules.hpp"

namespace ombry::ui {
namespace {

using namespace settings;

TEST(SettingsRules, SectionsInOrderWithTheirLabels) {
    std::vector<QString> labels;
    std::vector<std::string> raw;
    for (SettingsSection s : allSettingsSections) {
        labels.push_back(sectionRow(s).label);
        raw.emplace_back(rawValue(s));
        EXPECT_EQ(settingsSectionFromRaw(rawValue(s)), s);
    }
    EXPECT_EQ(labels, (std::vector<QString>{"General", "Output", "Media", "Remote Control", "Uploads"}));
    EXPECT_EQ(raw, (std::vector<std::string>{"general", "output", "media", "remote", "uploads"}));
    for (const char* none : {"", "General", "remote ", "storage"}) EXPECT_FALSE(settingsSectionFromRaw(none)) << none;
}

TEST(SettingsRules, VersionTextWithADashForWhatIsMissing) {
    EXPECT_EQ(versionString(std::string("1.4.2"), std::string("418")), "1.4.2 (418)");
    EXPECT_EQ(versionString(std::string("2.0"), std::nullopt), QString::fromUtf8("2.0 (\u2014)"));
    EXPECT_EQ(versionString(std::nullopt, std::nullopt), QString::fromUtf8("\u2014 (\u2014)"));
    EXPECT_FALSE(appVersionString().contains(QChar(0x2014)));
}

TEST(SettingsRules, WholeNumbersAsTheFieldsReadThem) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    for (const Case& c : {Case{"1920", 1920}, Case{" 2048 ", 2048}, Case{"0", 0}, Case{"-5", -5}, Case{"+7", 7},
                          Case{"007", 7}, Case{"", std::nullopt}, Case{"   ", std::nullopt}, Case{"abc", std::nullopt},
                          Case{"1,920", std::nullopt}, Case{"19.5", std::nullopt}, Case{"-", std::nullopt},
                          Case{"12a", std::nullopt}, Case{"99999999999999999999", std::nullopt},
                          Case{"\xd9\xa3", std::nullopt}}) {
        EXPECT_EQ(wholeNumber(QString::fromUtf8(c.text)), c.value) << c.text;
    }
}

TEST(QRShareRowRules, LevelMAtEightPixelsAModuleAndNoImageWhenTooLong) {
    struct Case {
        std::size_t bytes;
        int side;  // 0: no image
    };
    // Version 1 at level M holds 14 bytes, version 2 holds 26; version 40 holds 2331 (2953 at level L).
    for (const Case& c : {Case{14, 21 * 8}, Case{15, 25 * 8}, Case{26, 25 * 8}, Case{2331, 177 * 8}, Case{2332, 0}}) {
        const QImage image = QRShareRow::qrImage(std::string(c.bytes, 'a'));
        EXPECT_EQ(image.isNull() ? 0 : image.width(), c.side) << c.bytes;
        if (!image.isNull()) {
            EXPECT_EQ(image.height(), image.width());
        }
    }
    const QImage pairing = QRShareRow::qrImage("ombry://10.0.0.5:7342");
    ASSERT_FALSE(pairing.isNull());
    EXPECT_EQ(pairing.width(), 200);
    // Black modules on white, the finder pattern in the top-left corner.
    EXPECT_EQ(pairing.pixelColor(4, 4), QColor(Qt::black));
    EXPECT_EQ(pairing.pixelColor(8 + 4, 8 + 4), QColor(Qt::white));
    EXPECT_TRUE(QRShareRow::qrImage("").isNull());
}


TEST(GeneralRules, IssuesAreCopiedOneLineEachNewestFirstWithoutATrailingLineFeed) {
    EXPECT_EQ(issuesCopyText({}), "");
    Issue once{"1", IssueCode::mediaMissing, std::string("intro.mov"), 1, 0};
    Issue thrice{"2", IssueCode::mediaMissing, std::string("outro.mov"), 3, 0};
    Issue bare{"3", IssueCode::controlServerFailed, std::nullopt, 2, 0};
    const std::string text = issuesCopyText({thrice, once, bare});
    EXPECT_EQ(text, thrice.summary() + "\n" + once.summary() + "\n" + bare.summary());
    EXPECT_EQ(text.back(), bare.summary().back());
    EXPECT_EQ(thrice.summary().rfind("MED-01 \u00D73 \u00B7 ", 0), 0u) << thrice.summary();
    EXPECT_EQ(once.summary().rfind("MED-01 \u00B7 ", 0), 0u) << once.summary();
    // Without a subject the line ends with the advice alone.
    EXPECT_EQ(bare.summary(), "NET-02 \u00D72 \u00B7 " + bare.title() + " \u00B7 " + bare.message());
    EXPECT_EQ(countBadge(1), "");
    EXPECT_EQ(countBadge(2), QString::fromUtf8("\u00D72"));
}

TEST(GeneralRules, DataFolderNoteShortensTheHomeFolder) {
    const QString prefix = "Playlists, media catalog, thumbnails, and settings are located in ";
    EXPECT_EQ(dataFolderNote("/home/ana/.local/share/Ombry", "/home/ana"), prefix + "~/.local/share/Ombry.");
    EXPECT_EQ(dataFolderNote("/home/anabel/Ombry", "/home/ana"), prefix + "/home/anabel/Ombry.");
    EXPECT_EQ(dataFolderNote("/srv/Ombry", ""), prefix + "/srv/Ombry.");
}

TEST(OutputRules, DelayStepsOfFiveAndDisplayDetail) {
    for (auto [in, want] : std::vector<std::pair<double, std::int64_t>>{
             {0, 0}, {2, 0}, {3, 5}, {7.4, 5}, {122, 120}, {123, 125}, {499, 500}, {600, 500}, {-20, 0}})
        EXPECT_EQ(snappedDelay(in), want) << in;
    DisplayOutputManager::DisplayInfo d{1, "Studio", 2560, 1440, true};
    EXPECT_EQ(displayDetail(d), QString::fromUtf8("2560\u00D71440 \u00B7 primary"));
    d.isPrimary = false;
    EXPECT_EQ(displayDetail(d), QString::fromUtf8("2560\u00D71440"));
}

TEST(RemoteRules, PortKeepsDigitsOnly) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> port;
    };
    for (const Case& c : {Case{"8080", 8080}, Case{"80a80", 8080}, Case{"07341", 7341}, Case{"65535", 65535},
                          Case{"1", 1}, Case{"0", std::nullopt}, Case{"65536", std::nullopt}, Case{"abc", std::nullopt},
                          Case{"", std::nullopt}, Case{"-7341", 7341}, Case{" 7 3 4 2 ", 7342},
                          Case{"\xd9\xa3\xd9\xa4", std::nullopt},  // Arabic-Indic digits are kept, then do not parse
                          Case{"99999999999999999999", std::nullopt}}) {
        EXPECT_EQ(portFromText(QString::fromUtf8(c.text)), c.port) << c.text;
    }
}

TEST(RemoteRules, PairingStringFromTheFirstNetworkAddress) {
    auto info = [](std::vector<std::string> urls) { return std::optional<ServerInfo>(ServerInfo{7342, urls[0], urls}); };
    EXPECT_EQ(pairingString(std::nullopt), std::nullopt);
    EXPECT_EQ(pairingString(info({"http://localhost:7342/"})), std::nullopt);
    EXPECT_EQ(pairingString(info({"http://localhost:7342/", "http://10.0.0.5:7342/"})), "ombry://10.0.0.5:7342");
    EXPECT_EQ(pairingString(info({"http://localhost:7342/", "http://192.168.1.20:7342/", "http://10.0.0.5:7342/"})),
              "ombry://192.168.1.20:7342");
    // Entries that do not parse or have no host are skipped.
    EXPECT_EQ(pairingString(info({"http://localhost:7342/", "not a url", "http://:7342/", "http://10.1.2.3:7342/"})),
              "ombry://10.1.2.3:7342");
}

TEST(RemoteRules, SecurityNoteTreatsABlankPasswordAsNone) {
    struct Case {
        const char* password;
        bool locked;
    };
    for (const Case& c : {Case{"", false}, Case{"   ", false}, Case{"\t\n", false}, Case{"\xc2\xa0", false},
                          Case{"x", true}, Case{"  secret  ", true}}) {
        SCOPED_TRACE(c.password);
        const SecurityNote note = securityNote(c.password);
        EXPECT_EQ(note.locked, c.locked);
        EXPECT_EQ(note.title, c.locked ? "Password required" : "No password. Use trusted networks only");
        EXPECT_EQ(note.symbol, c.locked ? "lock.shield" : "exclamationmark.shield");
        EXPECT_TRUE(note.note.startsWith(c.locked ? "Every controller must supply" : "The control API has no"));
    }
}

TEST(RemoteRules, BluetoothWarningsAndDiscoveryLines) {
    using bt::BluetoothState;
    EXPECT_EQ(bluetoothWarning(true, BluetoothState::poweredOff), "Bluetooth is turned off on this computer");
    EXPECT_EQ(bluetoothWarning(true, BluetoothState::unsupported), "This computer doesn't support Bluetooth LE");
    EXPECT_EQ(bluetoothWarning(true, BluetoothState::resetting), QString::fromUtf8("Bluetooth is starting\u2026"));
    EXPECT_EQ(bluetoothWarning(true, BluetoothState::unknown), QString::fromUtf8("Bluetooth is starting\u2026"));
    EXPECT_TRUE(bluetoothWarning(true, BluetoothState::unauthorized)->startsWith("Bluetooth access denied"));
    EXPECT_EQ(bluetoothWarning(true, BluetoothState::poweredOn), std::nullopt);
    EXPECT_EQ(bluetoothWarning(true, std::nullopt), std::nullopt);
    EXPECT_EQ(bluetoothWarning(false, BluetoothState::poweredOff), std::nullopt);

    EXPECT_EQ(discoveryLine(std::nullopt).style, DiscoveryLine::Style::none);
    EXPECT_EQ(discoveryLine(AdvertiseStatus{AdvertiseStatus::Kind::starting, {}, 0}).style, DiscoveryLine::Style::none);
    const auto ok = discoveryLine(AdvertiseStatus{AdvertiseStatus::Kind::registered, "Studio Mac", 0});
    EXPECT_EQ(ok.style, DiscoveryLine::Style::ok);
    EXPECT_EQ(ok.text, QString::fromUtf8("Discoverable on your network as \u201CStudio Mac\u201D"));
    const auto failed = discoveryLine(AdvertiseStatus{AdvertiseStatus::Kind::failed, {}, -65563});
    EXPECT_EQ(failed.style, DiscoveryLine::Style::warning);
    EXPECT_EQ(failed.text, "Network discovery failed (error -65563). The QR code and manual address still work.");
    EXPECT_EQ(discoveryLine(AdvertiseStatus{AdvertiseStatus::Kind::blocked, {}, 0}).style, DiscoveryLine::Style::warning);
}

}  // namespace
}  // namespace ombry::ui

