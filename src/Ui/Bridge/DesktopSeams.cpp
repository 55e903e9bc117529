#include "Ui/Bridge/DesktopSeams.hpp"

#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include <sdbus-c++/sdbus-c++.h>

#include <thread>

#include "Platform/Log.hpp"

namespace ombry::ui {
namespace {

QString nameFilter(const std::string& mimeType, const std::vector<std::string>& extensions) {
    QStringList patterns;
    for (const auto& e : extensions) patterns << QStringLiteral("*.") + QString::fromStdString(e);
    if (mimeType == "application/x-ombry-project" && patterns.isEmpty()) patterns << QStringLiteral("*.ombry");
    if (patterns.isEmpty()) return {};
    return QStringLiteral("(") + patterns.join(' ') + QStringLiteral(")");
}

QString startDir(const std::optional<std::filesystem::path>& dir, const std::string& name = {}) {
    if (!dir) return QString::fromStdString(name);
    return QString::fromStdString((*dir / name).string());
}

}  // namespace

bool QtClipboard::hasData(const std::string& type) const {
    const QMimeData* d = QGuiApplication::clipboard()->mimeData();
    return d && d->hasFormat(QString::fromStdString(type));
}

std::optional<std::string> QtClipboard::data(const std::string& type) const {
    const QMimeData* d = QGuiApplication::clipboard()->mimeData();
    if (!d || !d->hasFormat(QString::fromStdString(type))) return std::nullopt;
    return d->data(QString::fromStdString(type)).toStdString();
}

void QtClipboard::clearAndSet(const std::string& type, const std::string& bytes) {
    auto* d = new QMimeData();
    if (type == plainTextType)
        d->setText(QString::fromStdString(bytes));
    else
        d->setData(QString::fromStdString(type), QByteArray::fromStdString(bytes));
    QGuiApplication::clipboard()->setMimeData(d);
}

std::optional<std::filesystem::path> QtFilePanels::runSavePanel(const SavePanelRequest& r) {
    const QString file = QFileDialog::getSaveFileName(parent_ ? parent_() : nullptr, {},
                                                      startDir(r.directory, r.suggestedName),
                                                      nameFilter(r.mimeType, {}));
    if (file.isEmpty()) return std::nullopt;
    return std::filesystem::path(file.toStdString());
}

std::optional<std::filesystem::path> QtFilePanels::runOpenPanel(const OpenPanelRequest& r) {
    auto all = runOpenPanelMultiple(OpenPanelRequest{r.directory, false, r.canChooseFolders, r.mimeType, r.title,
                                                     r.extensions});
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::vector<std::filesystem::path> QtFilePanels::runOpenPanelMultiple(const OpenPanelRequest& r) {
    QWidget* parent = parent_ ? parent_() : nullptr;
    const QString title = QString::fromStdString(r.title);
    QStringList chosen;
    if (r.canChooseFolders && r.extensions.empty() && r.mimeType.empty()) {
        const QString dir = QFileDialog::getExistingDirectory(parent, title, startDir(r.directory));
        if (!dir.isEmpty()) chosen << dir;
    } else if (r.allowsMultiple) {
        chosen = QFileDialog::getOpenFileNames(parent, title, startDir(r.directory), nameFilter(r.mimeType, r.extensions));
    } else {
        const QString file =
            QFileDialog::getOpenFileName(parent, title, startDir(r.directory), nameFilter(r.mimeType, r.extensions));
        if (!file.isEmpty()) chosen << file;
    }
    std::vector<std::filesystem::path> out;
    for (const auto& f : chosen) out.emplace_back(f.toStdString());
    return out;
}

std::string FileManagerReveal::fileUri(const std::filesystem::path& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            out += char(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

void FileManagerReveal::reveal(const std::vector<std::filesystem::path>& files) {
    if (files.empty()) return;
    std::vector<std::string> uris;
    for (const auto& f : files) uris.push_back(fileUri(f));
    const QString folder = QString::fromStdString(files.front().parent_path().string());
    // A D-Bus round trip may take a while when the file manager has to start: never on the GUI thread.
    std::thread([uris = std::move(uris), folder] {
        try {
            auto bus = sdbus::createSessionBusConnection();
            auto proxy = sdbus::createProxy(*bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1");
            proxy->callMethod("ShowItems").onInterface("org.freedesktop.FileManager1").withArguments(uris, std::string());
            return;
        } catch (const sdbus::Error& e) {
            logLine(LogLevel::info, "reveal", std::string("no file manager on the session bus: ") + e.getMessage(), false);
        }
        QMetaObject::invokeMethod(qApp, [folder] { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); },
                                  Qt::QueuedConnection);
    }).detach();
}

void FileManagerReveal::openFolder(const std::filesystem::path& folder) {
    const std::vector<std::string> uris{fileUri(folder)};
    const QString path = QString::fromStdString(folder.string());
    std::thread([uris, path] {
        try {
            auto bus = sdbus::createSessionBusConnection();
            auto proxy = sdbus::createProxy(*bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1");
            proxy->callMethod("ShowFolders").onInterface("org.freedesktop.FileManager1").withArguments(uris, std::string());
            return;
        } catch (const sdbus::Error& e) {
            logLine(LogLevel::info, "reveal", std::string("no file manager on the session bus: ") + e.getMessage(), false);
        }
        QMetaObject::invokeMethod(qApp, [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); },
                                  Qt::QueuedConnection);
    }).detach();
}

QPoint QtPointerState::globalPosition() const { return QCursor::pos(); }
Qt::KeyboardModifiers QtPointerState::modifiers() const { return QGuiApplication::queryKeyboardModifiers(); }
Qt::MouseButtons QtPointerState::buttons() const { return QGuiApplication::mouseButtons(); }

}  // namespace ombry::ui
