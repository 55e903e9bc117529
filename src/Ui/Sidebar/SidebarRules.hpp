#pragma once
// The sidebar's texts and rules, without a widget: the playlist rows, the playlist commands and their
// targets, the outputs footer's rows and the texts of its tips.
#include <QColor>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "App/AppState.hpp"
#include "Render/Audio/AudioDevices.hpp"

namespace ombry::ui::sidebar_rules {

// One row of the playlist list.
struct PlaylistRowData {
    QString name;
    QString subtitle;
    std::string symbol;
    QColor tint;
    bool operator==(const PlaylistRowData&) const = default;
};
// "2 playlists · 40 media": always plural.
QString allPlaylistsSubtitle(std::size_t playlists, std::size_t media);
PlaylistRowData allPlaylistsRow(std::size_t playlists, std::size_t media);
// Name, "1 item" or "n items", the symbol ("list.bullet" without one), the colour (grey when unusable).
PlaylistRowData playlistRow(const Group& group);
// The grey of playlists without a usable colour.
QColor fallbackTint();

// The playlist commands of a row's context menu.
enum class Command { merge, duplicate, copy, paste, saveToLibrary, edit, remove };
struct MenuEntry {
    Command command;
    QString title;
    bool destructive = false;
    bool dividerBefore = false;
    bool operator==(const MenuEntry&) const = default;
};
// The group form when the clicked playlist is selected among at least two, else the single form.
bool groupForm(const std::vector<std::string>& selectedPlaylistIds, const std::string& clicked);
std::vector<MenuEntry> playlistMenu(const std::vector<std::string>& selectedPlaylistIds, const std::string& clicked);
// The selected playlists when the clicked one is among at least two selected, else the clicked one alone.
std::vector<std::string> commandTargets(const std::vector<std::string>& selectedPlaylistIds, const std::string& clicked);
// Carries out a command for the clicked playlist, taking its targets from the selection of this moment.
void perform(AppState& state, Command command, const std::string& clicked);

// The list's playlist offsets (the "All Playlists" row stands outside them) for a drop before model row
// `row` (-1: at the end), given the number of playlists.
std::size_t dropOffset(int row, std::size_t playlists);

// One line of the outputs footer.
struct OutputRowData {
    bool on = false;
    QString name;
    QString detail;
    QString label;
    bool operator==(const OutputRowData&) const = default;
};
OutputRowData browserSourceRow(const std::optional<ServerInfo>& server, int outputCount);
OutputRowData syphonRow(bool enabled);
OutputRowData ndiRow(bool enabled);
// "1920×1080 · primary".
QString displayDetail(const DisplayOutputManager::DisplayInfo& display);
OutputRowData displayRow(const DisplayOutputManager::DisplayInfo& display, bool open);
// "System default", the saved device's name, or "Unavailable device".
QString monitorDetail(const std::optional<std::string>& uid, const std::vector<AudioOutputDevice>& devices);
OutputRowData audioMonitorRow(const AppSettings& settings, const std::vector<AudioOutputDevice>& devices);
// "Connected" or "Off".
QString accessibleValue(bool on);

// What a click on a display row does: a closed display that may not take the output shows why.
enum class DisplayClick { toggle, showBlockedTip };
DisplayClick displayClick(bool open, std::optional<DisplayBlockReason> reason);

// The output-device choices of the audio monitor tip: label and uid ("" for the system default).
struct DeviceChoice {
    QString label;
    std::string uid;
    bool operator==(const DeviceChoice&) const = default;
};
std::vector<DeviceChoice> monitorChoices(const std::vector<AudioOutputDevice>& devices,
                                         const std::optional<std::string>& saved);
// The uid a choice stores: none for "".
std::optional<std::string> storedDevice(const std::string& choice);

// The display-blocked tip's sentence.
QString blockedMessage(DisplayBlockReason reason, const QString& displayName);

// The browser-source tip.
QString obsStep(int number);
QString obsCodecNote();
QString obsAddress(const std::optional<ServerInfo>& server);

}  // namespace ombry::ui::sidebar_rules
