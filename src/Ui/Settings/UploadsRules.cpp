#include "Ui/Settings/UploadsRules.hpp"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QUrl>

namespace ombry::ui::uploads {

std::optional<std::string> uploadURL(const AppSettings& settings, const std::optional<ServerInfo>& control) {
    if (!settings.mediaUploadEnabled || !settings.mediaUploadToken || !control) return std::nullopt;
    for (std::size_t i = 1; i < control->urls.size(); ++i) {
        const QUrl url(QString::fromStdString(control->urls[i]), QUrl::StrictMode);
        if (!url.isValid()) continue;
        const QString host = url.host(QUrl::FullyEncoded);
        if (host.isEmpty()) continue;
        return "http://" + host.toStdString() + ":" + std::to_string(control->port) + "/upload?k=" +
               *settings.mediaUploadToken;
    }
    return std::nullopt;
}

AppSettings withUploadEnabled(AppSettings settings, bool on) {
    settings.mediaUploadEnabled = on;
    if (on && !settings.mediaUploadToken) settings.mediaUploadToken = AppSettings::makeUploadToken();
    return settings;
}

std::string inboxLink(const CloudInbox& inbox) { return inbox.baseURL + "/u/" + inbox.inboxId; }

std::optional<std::string> storedPassword(const QString& typed) {
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    return trimmed.toStdString();
}

bool passwordTooShort(const std::optional<std::string>& password) {
    if (!password) return false;
    const QString text = QString::fromStdString(*password);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (graphemes.toNextBoundary() > 0) ++count;
    return count < passwordMinimum;
}

QString passwordWarning() {
    return QStringLiteral("At least %1 characters \u2014 shorter passwords aren't accepted, so the page keeps the old one.")
        .arg(passwordMinimum);
}

StatusLine statusLine(const std::optional<CloudSyncStatus>& status, const std::function<QString(double)>& timeOf) {
    if (!status) return {};
    if (status->error) return {StatusLine::Kind::warning, QStringLiteral("Check-in failed: %1").arg(QString::fromStdString(*status->error))};
    QString text = QStringLiteral("Last check: ") + timeOf(status->lastSync);
    if (status->pulled >= 1)
        text += QStringLiteral(" \u2014 pulled %1 file%2").arg(status->pulled).arg(status->pulled == 1 ? "" : "s");
    return {StatusLine::Kind::plain, text};
}

QString shortTime(double msSince1970) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(msSince1970));
    const QLocale locale = QLocale::system();
    // The hour and minute only, even where the short form carries seconds.
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[:.]?s+")));
    return locale.toString(at.time(), format.trimmed());
}

QString uploadCaption() {
    return QStringLiteral("Open this link on any computer or phone on this network to send media straight into the "
                          "library \u2014 name each file and pick a playlist from there.");
}
QString noUploadAddress() {
    return QStringLiteral("No upload address yet \u2014 turn on Wi-Fi connections in Remote Control and connect this "
                          "computer to a network to share an upload link.");
}
QString uploadNote() {
    return QStringLiteral("Uploads land in Ombry's Media folder and appear in the library immediately. The link carries "
                          "a secret key, so only people you share it with can upload; Regenerate invalidates previously "
                          "shared links.");
}
QString inboxCaption() {
    return QStringLiteral("Share this link and password \u2014 uploads work from anywhere, even while Ombry is closed, "
                          "and land in the library seconds after this computer is back on.");
}
QString settingUp() { return QStringLiteral("Setting up this app's inbox\u2026"); }
QString passwordNote() {
    return QStringLiteral("People opening the link type this password once. Changing it here locks out anyone with the "
                          "old one.");
}

}  // namespace ombry::ui::uploads
