#include "Ui/Shell/CommandRules.hpp"

#include <algorithm>
#include <array>

namespace ombry::ui::commands {
namespace {

using K = QKeySequence;

const std::array<CommandEntry, 25> commandTable{{
    {Command::newProject, Menu::file, "New Project…", "newProject", K(Qt::CTRL | Qt::Key_N), KeyPath::shortcut},
    {Command::openProject, Menu::file, "Open Project…", "openProject", K(Qt::CTRL | Qt::Key_O), KeyPath::shortcut},
    {Command::openRecent, Menu::file, "Open Recent", "openRecent", {}, KeyPath::none},
    {Command::addMedia, Menu::file, "Add Media…", "addMedia", K(Qt::CTRL | Qt::Key_I), KeyPath::shortcut, true},
    {Command::importSlides, Menu::file, "Import Slides from Link…", "importSlides",
     K(Qt::CTRL | Qt::SHIFT | Qt::Key_I), KeyPath::shortcut},
    {Command::newPlaylist, Menu::file, "New Playlist…", "newPlaylist", K(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
     KeyPath::shortcut},
    {Command::saveProjectAs, Menu::file, "Save Project As…", "saveProjectAs", K(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
     KeyPath::shortcut, true},
    {Command::quit, Menu::file, "Quit", "quit", K(Qt::CTRL | Qt::Key_Q), KeyPath::shortcut, true},
    {Command::settings, Menu::edit, "Settings…", "settings", K(Qt::CTRL | Qt::Key_Comma), KeyPath::shortcut},
    {Command::playPause, Menu::playback, "Play / Pause", "playPause", K(Qt::Key_Space), KeyPath::showKeys},
    {Command::restart, Menu::playback, "Restart", "restart", K(Qt::Key_0), KeyPath::showKeys},
    {Command::back5, Menu::playback, "Back 5s", "back5", K(Qt::Key_J), KeyPath::showKeys, true},
    {Command::forward5, Menu::playback, "Forward 5s", "forward5", K(Qt::Key_L), KeyPath::showKeys},
    {Command::previousClip, Menu::playback, "Previous Clip", "previousClip", K(Qt::Key_Left), KeyPath::showKeys, true},
    {Command::nextClip, Menu::playback, "Next Clip", "nextClip", K(Qt::Key_Right), KeyPath::showKeys},
    {Command::moveClipUp, Menu::playback, "Move Clip Up", "moveClipUp", K(Qt::CTRL | Qt::ALT | Qt::Key_Up),
     KeyPath::shortcut, true},
    {Command::moveClipDown, Menu::playback, "Move Clip Down", "moveClipDown", K(Qt::CTRL | Qt::ALT | Qt::Key_Down),
     KeyPath::shortcut},
    {Command::cutToBlack, Menu::program, "Cut to Black", "cutToBlack", K(Qt::Key_B), KeyPath::showKeys},
    {Command::clearMediaLayer, Menu::program, "Clear Media Layer", "clearMediaLayer", {}, KeyPath::none},
    {Command::clearAllLayers, Menu::program, "Clear All Layers", "clearAllLayers", K(Qt::Key_C), KeyPath::showKeys},
    {Command::mute, Menu::program, "Mute", "mute", K(Qt::Key_M), KeyPath::showKeys, true},
    {Command::volumeUp, Menu::program, "Volume Up", "volumeUp", K(Qt::Key_Up), KeyPath::showKeys},
    {Command::volumeDown, Menu::program, "Volume Down", "volumeDown", K(Qt::Key_Down), KeyPath::showKeys},
    {Command::checkForUpdates, Menu::help, "Check for Updates…", "checkForUpdates", {}, KeyPath::none},
    {Command::revealCrashLogs, Menu::help, "Reveal Crash Logs…", "revealCrashLogs", {}, KeyPath::none, true},
}};

}  // namespace

std::span<const CommandEntry> table() { return commandTable; }

const CommandEntry& entry(Command command) {
    return *std::find_if(commandTable.begin(), commandTable.end(),
                         [command](const CommandEntry& s) { return s.command == command; });
}

QString menuTitle(Menu menu) {
    switch (menu) {
        case Menu::file: return QStringLiteral("File");
        case Menu::edit: return QStringLiteral("Edit");
        case Menu::playback: return QStringLiteral("Playback");
        case Menu::program: return QStringLiteral("Program");
        case Menu::help: return QStringLiteral("Help");
    }
    return {};
}

QString displayText(const CommandEntry& s) {
    const QString title = QString::fromUtf8(s.title);
    if (s.path != KeyPath::showKeys) return title;
    return title + QLatin1Char('\t') + s.key.toString(QKeySequence::NativeText);
}

double steppedVolume(double current, double step) { return std::clamp(current + step, -60.0, 6.0); }

bool showMenusEnabled(bool textEditing, bool mainWindowFocused) { return !textEditing && mainWindowFocused; }

std::vector<RecentItem> recentItems(const RecentsStore& store) {
    std::vector<RecentItem> out;
    for (const RecentEntry& e : store.recents) {
        QString title = QString::fromStdString(e.name);
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        out.push_back({QString::fromStdString(e.id), title, e.path});
    }
    return out;
}

}  // namespace ombry::ui::commands
