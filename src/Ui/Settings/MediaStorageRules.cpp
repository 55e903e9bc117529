#include "Ui/Settings/MediaStorageRules.hpp"

#include <QLocale>

#include <set>

namespace ombry::ui::storage {

QString formatBytes(std::int64_t bytes) {
    if (bytes <= 0) return QStringLiteral("Zero KB");
    if (bytes == 1) return QStringLiteral("1 byte");
    if (bytes < 1000) return QStringLiteral("%1 bytes").arg(bytes);
    const QLocale locale = QLocale::system();
    struct Unit {
        double size;
        const char* name;
        int decimals;
    };
    static constexpr Unit units[] = {{1e3, "KB", 0}, {1e6, "MB", 1}, {1e9, "GB", 2}, {1e12, "TB", 2}, {1e15, "PB", 2}};
    const double b = double(bytes);
    std::size_t u = 0;
    // The next unit once the value would round to 1000 of this one.
    while (u + 1 < std::size(units) && b / units[u].size >= 999.5) ++u;
    QString n = locale.toString(b / units[u].size, 'f', units[u].decimals);
    // No trailing zeros after the decimal point ("12 MB", "7.3 TB").
    if (units[u].decimals > 0 && n.contains(locale.decimalPoint())) {
        while (n.endsWith(locale.zeroDigit())) n.chop(locale.zeroDigit().size());
        if (n.endsWith(locale.decimalPoint())) n.chop(locale.decimalPoint().size());
    }
    return n + QLatin1Char(' ') + QLatin1String(units[u].name);
}

QString downloadedHeader(std::size_t count) { return QStringLiteral("Downloaded by Ombry (%1)").arg(count); }
QString referencedHeader(std::size_t count) { return QStringLiteral("Referenced from other locations (%1)").arg(count); }

QString originLabel(MediaOrigin origin) {
    switch (origin) {
    case MediaOrigin::local: return QStringLiteral("Local");
    case MediaOrigin::upload: return QStringLiteral("Upload");
    case MediaOrigin::cloud: return QStringLiteral("Cloud");
    case MediaOrigin::lan: return QStringLiteral("LAN");
    }
    return {};
}

QString usageLabel(const DownloadedMediaFile& file) {
    const std::size_t n = file.otherProjects.size();
    if (file.currentItemIds.empty()) {
        if (n == 0) return QStringLiteral("Unused");
        return QStringLiteral("In %1 other project%2").arg(n).arg(n == 1 ? "" : "s");
    }
    if (n == 0) return QStringLiteral("In this project");
    return QStringLiteral("In this + %1 other").arg(n);
}

QString detailLine(const DownloadedMediaFile& file) {
    QString line = formatBytes(file.size);
    if (file.origin) line += QStringLiteral(" \u00B7 ") + originLabel(*file.origin);
    return line + QStringLiteral(" \u00B7 ") + usageLabel(file);
}

QString deleteTitle(const DownloadedMediaFile& file) {
    return QStringLiteral("Delete \u201C%1\u201D?").arg(QString::fromStdString(file.filename));
}

QString deleteButton(const DownloadedMediaFile& file) {
    return QStringLiteral("Delete and Free %1").arg(formatBytes(file.size));
}

QString deleteMessage(const DownloadedMediaFile& file, const QStringList& clipsHere) {
    QString message;
    if (file.otherProjects.empty()) {
        message = QStringLiteral("The file is removed from disk. This can't be undone.");
    } else {
        QStringList names;
        for (const auto& p : file.otherProjects) names << QString::fromStdString(p);
        message = QStringLiteral("Also used by: %1. Deleting frees the space, but those clips will go offline until "
                                 "you relink them.")
                      .arg(names.join(QStringLiteral(", ")));
    }
    if (clipsHere.isEmpty()) return message;
    QStringList quoted;
    for (const auto& c : clipsHere) quoted << QStringLiteral("\u201C%1\u201D").arg(c);
    const QString clips = clipsHere.size() == 1
                              ? QStringLiteral("Its clip %1 leaves this project, and goes off air if it is live.")
                              : QStringLiteral("Its clips %1 leave this project, and go off air if they are live.");
    return clips.arg(quoted.join(QStringLiteral(", "))) + QLatin1Char('\n') + message;
}

QString deleteAllTitle() { return QStringLiteral("Delete all downloaded media?"); }

QString deleteAllButton(std::int64_t shownBytes) {
    return QStringLiteral("Delete All and Free %1").arg(formatBytes(shownBytes));
}

QString deleteAllMessage(std::size_t shownCount, std::size_t clipsHere) {
    QString message = QStringLiteral("Removes all %1 downloaded files from disk. Clips using them in this or other "
                                     "projects will go offline until relinked. This can't be undone.")
                          .arg(shownCount);
    if (clipsHere == 0) return message;
    return (clipsHere == 1 ? QStringLiteral("1 clip of this project uses them and leaves it.")
                           : QStringLiteral("%1 clips of this project use them and leave it.").arg(clipsHere)) +
           QLatin1Char('\n') + message;
}

std::vector<DownloadedMediaFile> stillShown(const std::vector<DownloadedMediaFile>& fresh,
                                            const std::vector<DownloadedMediaFile>& shown) {
    std::set<std::string> names;
    for (const auto& f : shown) names.insert(f.filename);
    std::vector<DownloadedMediaFile> out;
    for (const auto& f : fresh)
        if (names.count(f.filename)) out.push_back(f);
    return out;
}

std::int64_t totalSize(const std::vector<DownloadedMediaFile>& files) {
    std::int64_t total = 0;
    for (const auto& f : files) total += f.size;
    return total;
}

QString removeReferenceTitle(const ReferencedMediaFile& ref) {
    return QStringLiteral("Remove \u201C%1\u201D from this project?").arg(QString::fromStdString(ref.name));
}

QString removeReferenceMessage() {
    return QStringLiteral("The clip leaves this project and its playlists, and goes off air if it is live. The file "
                          "stays where it is.");
}

QString tildePath(const std::string& path, const std::filesystem::path& home) {
    const QString p = QString::fromStdString(path);
    QString h = QString::fromStdString(home.lexically_normal().string());
    while (h.size() > 1 && h.endsWith(QLatin1Char('/'))) h.chop(1);
    if (h.isEmpty() || h == QLatin1String("/")) return p;
    if (p == h) return QStringLiteral("~");
    if (p.startsWith(h + QLatin1Char('/'))) return QLatin1Char('~') + p.mid(h.size());
    return p;
}

QString searchFolderButton(bool folderSet) {
    return folderSet ? QStringLiteral("Change offline media search folder\u2026")
                     : QStringLiteral("Search for offline media\u2026");
}

QString storageFooter() {
    return QStringLiteral("Downloaded media is stored inside Ombry and counts against your disk. Media you add from "
                          "elsewhere stays in its original location and is only referenced.");
}

QString offlineNote() {
    return QStringLiteral("If a file goes missing, it will be marked as Offline. Choose a folder and Ombry searches it "
                          "(and its subfolders) for files with the same name. They will also be relinked automatically "
                          "at startup if possible. Individual clips can always be relinked by hand from their "
                          "right-click menu.");
}

}  // namespace ombry::ui::storage
