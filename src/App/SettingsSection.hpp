#pragma once
// The sections of the settings window, in the order its list shows them. The application state holds the one
// shown, so menus and the status bar choose a pane before they open the window.
#include <array>
#include <optional>
#include <string_view>

namespace ombry {

enum class SettingsSection { general, output, media, remote, uploads };

inline constexpr std::array<SettingsSection, 5> allSettingsSections{
    SettingsSection::general, SettingsSection::output, SettingsSection::media, SettingsSection::remote,
    SettingsSection::uploads};

constexpr std::string_view rawValue(SettingsSection section) {
    switch (section) {
        case SettingsSection::output: return "output";
        case SettingsSection::media: return "media";
        case SettingsSection::remote: return "remote";
        case SettingsSection::uploads: return "uploads";
        case SettingsSection::general: break;
    }
    return "general";
}

// Exactly one of the raw values; anything else names no section.
constexpr std::optional<SettingsSection> settingsSectionFromRaw(std::string_view raw) {
    for (SettingsSection s : allSettingsSections)
        if (rawValue(s) == raw) return s;
    return std::nullopt;
}

}  // namespace ombry
