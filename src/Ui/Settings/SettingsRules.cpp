#include "Ui/Settings/SettingsRules.hpp"

#include <QUrl>

#include <charconv>
#include <cmath>

#include "Engine/Model/TextBytes.hpp"

#include "Platform/Version.hpp"

namespace ombry::ui::settings {

SectionRow sectionRow(SettingsSection section) {
    switch (section) {
        case SettingsSection::output: return {QStringLiteral("Output"), "rectangle.on.rectangle", QColor(10, 132, 255)};
        case SettingsSection::media: return {QStringLiteral("Media"), "film.stack", QColor(255, 159, 10)};
        case SettingsSection::remote:
            return {QStringLiteral("Remote Control"), "antenna.radiowaves.left.and.right", QColor(48, 209, 88)};
        case SettingsSection::uploads: return {QStringLiteral("Uploads"), "square.and.arrow.up", QColor(64, 200, 224)};
        case SettingsSection::general: break;
    }
    return {QStringLiteral("General"), "gearshape", QColor(142, 142, 147)};
}

QString versionString(const std::optional<std::string>& shortVersion, const std::optional<std::string>& build) {
    const QString dash = QStringLiteral("\u2014");
    const QString s = shortVersion ? QString::fromStdString(*shortVersion) : dash;
    const QString b = build ? QString::fromStdString(*build) : dash;
    return s + QStringLiteral(" (") + b + QStringLiteral(")");
}

QString appVersionString() { return versionString(std::string(version::shortVersion), std::string(version::build)); }

std::optional<std::int64_t> wholeNumber(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    if (s.empty()) return std::nullopt;
    std::size_t start = 0;
    if (s[0] == '+' || s[0] == '-') start = 1;
    if (start == s.size()) return std::nullopt;
    for (std::size_t i = start; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
    std::int64_t value = 0;
    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::string issuesCopyText(const std::vector<Issue>& issues) {
    std::string out;
    for (const Issue& issue : issues) {
        if (!out.empty()) out += '\n';
        out += issue.summary();
    }
    return out;
}

QString countBadge(int count) { return count >= 2 ? QStringLiteral("\u00D7%1").arg(count) : QString(); }

QString dataFolderNote(const QString& folder, const QString& home) {
    QString shown = folder;
    if (!home.isEmpty() && (folder == home || folder.startsWith(home + QLatin1Char('/'))))
        shown = QStringLiteral("~") + folder.mid(home.size());
    return QStringLiteral("Playlists, media catalog, thumbnails, and settings are located in %1.").arg(shown);
}

std::int64_t snappedDelay(double ms) {
    if (!std::isfinite(ms)) return 0;
    const double stepped = std::round(std::clamp(ms, 0.0, 500.0) / 5.0) * 5.0;
    return std::int64_t(stepped);
}

QString displayDetail(const DisplayOutputManager::DisplayInfo& display) {
    QString text = QStringLiteral("%1\u00D7%2").arg(display.width).arg(display.height);
    if (display.isPrimary) text += QStringLiteral(" \u00B7 primary");
    return text;
}

std::optional<std::int64_t> portFromText(const QString& text) {
    QString kept;
    for (const QChar c : text)
        if (c.isNumber()) kept += c;
    if (kept.isEmpty()) return std::nullopt;
    const auto value = wholeNumber(kept);
    if (!value || *value < 1 || *value > 65535) return std::nullopt;
    return value;
}

std::optional<QString> pairingString(const std::optional<ServerInfo>& info) {
    if (!info) return std::nullopt;
    for (std::size_t i = 1; i < info->urls.size(); ++i) {
        const QUrl url(QString::fromStdString(info->urls[i]), QUrl::StrictMode);
        if (!url.isValid()) continue;
        const QString host = url.host(QUrl::FullyEncoded);
        if (host.isEmpty()) continue;
        return QStringLiteral("ombry://%1:%2").arg(host).arg(info->port);
    }
    return std::nullopt;
}

bool hasControlPassword(const std::string& password) { return !trimWhiteSpace(password).empty(); }

SecurityNote securityNote(const std::string& password) {
    if (hasControlPassword(password))
        return {"lock.shield", QStringLiteral("Password required"),
                QStringLiteral("Every controller must supply the password set above, over Wi-Fi or Bluetooth, or "
                               "it's refused."),
                true};
    return {"exclamationmark.shield", QStringLiteral("No password. Use trusted networks only"),
            QStringLiteral("The control API has no authentication, exactly like the OBS output server. Anyone on "
                           "the same network can drive the show. Keep it on a private, trusted network."),
            false};
}

std::optional<QString> bluetoothWarning(bool enabled, const std::optional<bt::BluetoothState>& state) {
    if (!enabled || !state) return std::nullopt;
    switch (*state) {
        case bt::BluetoothState::poweredOn: return std::nullopt;
        case bt::BluetoothState::unsupported: return QStringLiteral("This computer doesn't support Bluetooth LE");
        case bt::BluetoothState::unauthorized:
            return QStringLiteral("Bluetooth access denied \u2014 allow Ombry to use Bluetooth in the system's settings");
        case bt::BluetoothState::poweredOff: return QStringLiteral("Bluetooth is turned off on this computer");
        case bt::BluetoothState::unknown:
        case bt::BluetoothState::resetting: break;
    }
    return QStringLiteral("Bluetooth is starting\u2026");
}

DiscoveryLine discoveryLine(const std::optional<AdvertiseStatus>& status) {
    if (!status) return {};
    switch (status->kind) {
        case AdvertiseStatus::Kind::registered:
            return {DiscoveryLine::Style::ok, QStringLiteral("Discoverable on your network as \u201C%1\u201D")
                                                  .arg(QString::fromStdString(status->name))};
        case AdvertiseStatus::Kind::failed:
            return {DiscoveryLine::Style::warning,
                    QStringLiteral("Network discovery failed (error %1). The QR code and manual address still work.")
                        .arg(status->code)};
        case AdvertiseStatus::Kind::blocked:
            return {DiscoveryLine::Style::warning,
                    QStringLiteral("The system is blocking network discovery. The QR code and manual address still "
                                   "work.")};
        case AdvertiseStatus::Kind::starting: break;
    }
    return {};
}

}  // namespace ombry::ui::settings
