#include "Ui/Sidebar/SidebarRules.hpp"

#include <algorithm>

namespace ombry::ui::sidebar_rules {

namespace {
QString count(std::size_t n) { return QString::number(qulonglong(n)); }
QString onOff(bool on) { return on ? QStringLiteral("ON") : QStringLiteral("OFF"); }
}  // namespace

QColor fallbackTint() { return QColor(142, 142, 147); }

QString allPlaylistsSubtitle(std::size_t playlists, std::size_t media) {
    return count(playlists) + QStringLiteral(" playlists \u00B7 ") + count(media) + QStringLiteral(" media");
}

PlaylistRowData allPlaylistsRow(std::size_t playlists, std::size_t media) {
    return {QStringLiteral("All Playlists"), allPlaylistsSubtitle(playlists, media), "square.stack", QColor(10, 132, 255)};
}

PlaylistRowData playlistRow(const Group& group) {
    const std::size_t n = group.mediaIds.size();
    QColor tint = fallbackTint();
    if (const auto c = AppState::color(group.color)) tint = QColor::fromRgbF(float(c->r), float(c->g), float(c->b));
    return {QString::fromStdString(group.name), count(n) + (n == 1 ? QStringLiteral(" item") : QStringLiteral(" items")),
            group.icon.value_or("list.bullet"), tint};
}

bool groupForm(const std::vector<std::string>& selected, const std::string& clicked) {
    return selected.size() > 1 && std::find(selected.begin(), selected.end(), clicked) != selected.end();
}

std::vector<MenuEntry> playlistMenu(const std::vector<std::string>& selected, const std::string& clicked) {
    if (groupForm(selected, clicked)) {
        const QString n = count(selected.size());
        return {{Command::merge, QStringLiteral("Merge %1 Playlists").arg(n)},
                {Command::duplicate, QStringLiteral("Duplicate %1 Playlists").arg(n)},
                {Command::copy, QStringLiteral("Copy %1 Playlists").arg(n)},
                {Command::paste, QStringLiteral("Paste Playlist")},
                {Command::remove, QStringLiteral("Delete %1 Playlists").arg(n), true, true}};
    }
    return {{Command::edit, QStringLiteral("Edit Playlist\u2026")},
            {Command::duplicate, QStringLiteral("Duplicate Playlist")},
            {Command::saveToLibrary, QStringLiteral("Save Playlist to Library")},
            {Command::copy, QStringLiteral("Copy Playlist")},
            {Command::paste, QStringLiteral("Paste Playlist")},
            {Command::remove, QStringLiteral("Delete Playlist"), true, true}};
}

std::vector<std::string> commandTargets(const std::vector<std::string>& selected, const std::string& clicked) {
    if (groupForm(selected, clicked)) return selected;
    return {clicked};
}

void perform(AppState& state, Command command, const std::string& clicked) {
    const std::vector<std::string> targets = commandTargets(state.selectedPlaylistIds(), clicked);
    switch (command) {
    case Command::merge: state.mergePlaylists(targets); break;
    case Command::duplicate: state.duplicatePlaylists(targets); break;
    case Command::copy: state.savedPlaylists().copyPlaylists(targets); break;
    case Command::paste: state.savedPlaylists().pastePlaylists(); break;
    case Command::saveToLibrary: state.savedPlaylists().saveGroupToLibrary(clicked); break;
    case Command::edit:
        state.playlistEditor = PlaylistEditorTarget::edit(clicked);
        state.notify(Aspect::playlistEditor);
        break;
    case Command::remove:
        state.pendingDeletion = PendingDeletion::playlists(targets);
        state.notify(Aspect::pendingDeletion);
        break;
    }
}

std::size_t dropOffset(int row, std::size_t playlists) {
    if (row < 0) return playlists;
    return std::min<std::size_t>(std::size_t(std::max(row - 1, 0)), playlists);
}

OutputRowData browserSourceRow(const std::optional<ServerInfo>& server, int outputCount) {
    const bool on = outputCount > 0;
    return {on, QStringLiteral("OBS \u2014 Browser Source"), obsAddress(server),
            on ? QStringLiteral("LINK") : QStringLiteral("OFF")};
}

OutputRowData syphonRow(bool enabled) {
    return {enabled, QStringLiteral("Syphon \u2014 Program"), QStringLiteral("Ombry \u2013 Program"), onOff(enabled)};
}

OutputRowData ndiRow(bool enabled) {
    return {enabled, QStringLiteral("NDI \u2014 Program"), QStringLiteral("Ombry - Program"), onOff(enabled)};
}

QString displayDetail(const DisplayOutputManager::DisplayInfo& d) {
    QString s = QString::number(d.width) + QChar(0x00D7) + QString::number(d.height);
    if (d.isPrimary) s += QStringLiteral(" \u00B7 primary");
    return s;
}

OutputRowData displayRow(const DisplayOutputManager::DisplayInfo& d, bool open) {
    return {open, QString::fromStdString(d.name), displayDetail(d), onOff(open)};
}

QString monitorDetail(const std::optional<std::string>& uid, const std::vector<AudioOutputDevice>& devices) {
    if (!uid) return QStringLiteral("System default");
    for (const auto& d : devices)
        if (d.uid == *uid) return QString::fromStdString(d.name);
    return QStringLiteral("Unavailable device");
}

OutputRowData audioMonitorRow(const AppSettings& s, const std::vector<AudioOutputDevice>& devices) {
    return {s.audioMonitorEnabled, QStringLiteral("Audio Monitor"), monitorDetail(s.monitorDeviceUID, devices),
            onOff(s.audioMonitorEnabled)};
}

QString accessibleValue(bool on) { return on ? QStringLiteral("Connected") : QStringLiteral("Off"); }

DisplayClick displayClick(bool open, std::optional<DisplayBlockReason> reason) {
    return !open && reason ? DisplayClick::showBlockedTip : DisplayClick::toggle;
}

std::vector<DeviceChoice> monitorChoices(const std::vector<AudioOutputDevice>& devices,
                                         const std::optional<std::string>& saved) {
    std::vector<DeviceChoice> choices{{QStringLiteral("System Default"), ""}};
    bool found = false;
    for (const auto& d : devices) {
        choices.push_back({QString::fromStdString(d.name), d.uid});
        found = found || (saved && d.uid == *saved);
    }
    if (saved && !found) choices.push_back({QStringLiteral("Unavailable device"), *saved});
    return choices;
}

std::optional<std::string> storedDevice(const std::string& choice) {
    if (choice.empty()) return std::nullopt;
    return choice;
}

QString blockedMessage(DisplayBlockReason reason, const QString& displayName) {
    const QString rest = reason == DisplayBlockReason::primary
                             ? QStringLiteral("\u201D is your primary display. Output there is off by default so it "
                                              "can't cover your desktop.")
                             : QStringLiteral("\u201D is the display Ombry is running on. Output there is off by "
                                              "default so it can't cover the operator window.");
    return QStringLiteral("\u201C") + displayName + rest;
}

QString obsStep(int number) {
    switch (number) {
    case 1: return QStringLiteral("In OBS: Sources \u2192 + \u2192 Browser.");
    case 2: return QStringLiteral("Paste the URL below as the browser source URL.");
    case 3: return QStringLiteral("Set Width/Height/FPS to match the stage (e.g. 1920\u00D71080 @ 60).");
    case 4: return QStringLiteral("Enable \u201CControl audio via OBS\u201D on the source for clean audio.");
    default: return {};
    }
}

QString obsCodecNote() {
    return QStringLiteral("Browser sources only decode H.264, HEVC, VP9 and AV1. A ProRes or DNxHD clip will be blank "
                          "here \u2014 use the Syphon or NDI output for those, or re-export as H.264.");
}

QString obsAddress(const std::optional<ServerInfo>& server) {
    return server ? QString::fromStdString(server->outputUrl) : QStringLiteral("starting\u2026");
}

}  // namespace ombry::ui::sidebar_rules
