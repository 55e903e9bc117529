#pragma once
// The uploads pane's texts and rules, without a widget.
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "Engine/Cloud/CloudInbox.hpp"
#include "Engine/Library/Settings.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry::ui::uploads {

inline constexpr int passwordMinimum = 8;

// "http://<first network host>:<port>/upload?k=<token>" while uploads are on with a token and the server
// listens on a network address; nothing otherwise.
std::optional<std::string> uploadURL(const AppSettings& settings, const std::optional<ServerInfo>& control);
// The settings after the upload switch was set: turning it on makes a token when there is none.
AppSettings withUploadEnabled(AppSettings settings, bool on);
// The inbox's public page: its base address, "/u/" and its id.
std::string inboxLink(const CloudInbox& inbox);
// The password as it is stored: trimmed at both ends, nothing when blank.
std::optional<std::string> storedPassword(const QString& typed);
// A set password with fewer than passwordMinimum characters as a reader counts them.
bool passwordTooShort(const std::optional<std::string>& password);
QString passwordWarning();

// The status line under the inbox link.
struct StatusLine {
    enum class Kind { none, warning, plain };
    Kind kind = Kind::none;
    QString text;
    bool operator==(const StatusLine&) const = default;
};
// `timeOf` writes a moment (ms since 1970) as the short time of day.
StatusLine statusLine(const std::optional<CloudSyncStatus>& status, const std::function<QString(double)>& timeOf);
QString shortTime(double msSince1970);

// Fixed texts.
QString uploadCaption();
QString noUploadAddress();
QString uploadNote();
QString inboxCaption();
QString settingUp();
QString passwordNote();

}  // namespace ombry::ui::uploads
