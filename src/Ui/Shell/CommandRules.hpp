#pragma once
// The menu bar's table and rules without a widget: every command with its menu, title, key and how the key
// reaches it, the volume step and the enabling of the show menus.
#include <QKeySequence>
#include <QString>

#include <span>
#include <string>
#include <vector>

#include "Engine/Library/ProjectDoc.hpp"

namespace ombry::ui::commands {

enum class Command {
    newProject, openProject, openRecent, addMedia, importSlides, newPlaylist, saveProjectAs, quit,
    settings,
    playPause, restart, back5, forward5, previousClip, nextClip, moveClipUp, moveClipDown,
    cutToBlack, clearMediaLayer, clearAllLayers, mute, volumeUp, volumeDown,
    checkForUpdates, revealCrashLogs,
};

enum class Menu { file, edit, playback, program, help };

// How the key reaches the command. Plain keys are shown in the menu but taken by the window's show-key
// filter (one path per key: the filter and the menu item call the same operation); chords are the action's
// own shortcut.
enum class KeyPath { none, showKeys, shortcut };

struct CommandEntry {
    Command command;
    Menu menu;
    const char* title;
    const char* objectName;
    QKeySequence key;
    KeyPath path = KeyPath::none;
    bool separatorBefore = false;
};

// In menu order.
std::span<const CommandEntry> table();
const CommandEntry& entry(Command command);
QString menuTitle(Menu menu);
// The title with its key as the menu shows it ("Cut to Black\tB").
QString displayText(const CommandEntry& entry);

// One volume step of `step` dB from `current`, within -60 ... +6 dB.
double steppedVolume(double current, double step);
inline constexpr double volumeStep = 3;

// Playback and Program act only while no text is edited and the main window is the key window.
bool showMenusEnabled(bool textEditing, bool mainWindowFocused);

struct RecentItem {
    QString id;
    QString title;  // the name as plain text: "&" doubled, so it never becomes a mnemonic
    std::string path;
};
std::vector<RecentItem> recentItems(const RecentsStore& store);

}  // namespace ombry::ui::commands
