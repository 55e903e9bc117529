#pragma once
// The settings window's texts and rules, without a widget: section rows, the version text, number fields.
#include <QColor>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "App/SettingsSection.hpp"
#include "Engine/Control/AdvertiseStatus.hpp"
#include "Engine/Model/Issues.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Platform/Bluetooth/Peripheral.hpp"
#include "Render/DisplayOutputs.hpp"

namespace ombry::ui::settings {

struct SectionRow {
    QString label;
    std::string_view symbol;
    QColor tile;
};
// "General" with "gearshape" on gray, "Output", "Media", "Remote Control", "Uploads".
SectionRow sectionRow(SettingsSection section);

// "<short> (<build>)"; a missing value reads "—".
QString versionString(const std::optional<std::string>& shortVersion, const std::optional<std::string>& build);
// This build's version text.
QString appVersionString();

// A whole number as a number field reads it: digits 0 to 9 with an optional sign, white space around them
// ignored, no grouping separators; anything else (and a number too large for 64 bits) is none.
std::optional<std::int64_t> wholeNumber(const QString& text);

// ---- General ----
// The issues' one-line summaries in list order, joined by line feeds, no line feed after the last.
std::string issuesCopyText(const std::vector<Issue>& issues);
// "×3" for a count of 2 or more, else nothing.
QString countBadge(int count);
// Where the support folder is, with the home folder written "~".
QString dataFolderNote(const QString& folder, const QString& home);

// ---- Output ----
// The A/V sync slider's value: the nearest multiple of 5 within 0 to 500 ms.
std::int64_t snappedDelay(double ms);
// "2560×1440", with " · primary" for the primary display.
QString displayDetail(const DisplayOutputManager::DisplayInfo& display);

// ---- Remote control ----
// The port a typed text stores: its numeric characters (of any script) kept, read as ASCII digits, within 1
// to 65535; none when nothing usable is left ("80a80" is 8080, "07341" is 7341, "0" and "65536" are none).
std::optional<std::int64_t> portFromText(const QString& text);
// "ombry://<first network address>:<port>", from the addresses after the local one; none without one.
std::optional<QString> pairingString(const std::optional<ServerInfo>& info);
// A password that is only white space is no password: the servers trim it to nothing.
bool hasControlPassword(const std::string& password);
struct SecurityNote {
    std::string_view symbol;
    QString title;
    QString note;
    bool locked = false;
};
SecurityNote securityNote(const std::string& password);
// The Bluetooth warning while the Bluetooth remote is on and its adapter is not powered on; none otherwise.
std::optional<QString> bluetoothWarning(bool enabled, const std::optional<bt::BluetoothState>& state);
struct DiscoveryLine {
    enum class Style { none, ok, warning };
    Style style = Style::none;
    QString text;
};
DiscoveryLine discoveryLine(const std::optional<AdvertiseStatus>& status);

}  // namespace ombry::ui::settings
