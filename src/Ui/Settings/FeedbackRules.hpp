#pragma once
// The feedback form's rules and texts, without a widget.
#include <QString>

#include <string>

#include "Engine/Model/JsonCoding.hpp"
#include "Engine/Service/ServiceClient.hpp"

namespace ombry::ui::feedback {

inline constexpr const char* path = "/v1/feedback";
inline constexpr const char* supportEmail = "support@ombry.app";
// The computer's name when the system gives none.
inline constexpr const char* unnamedMachine = "Linux computer";

// "1.4.2 (418)": the short version and the build, a missing one as "—".
std::string versionText(const std::string& shortVersion, const std::string& build);
// This application's.
std::string appVersion();

// Send is possible with a subject and a message that are not blank, while nothing is being sent.
bool canSend(const QString& subject, const QString& message, bool sending);

struct Report {
    bool isBug = true;
    std::string subject, message, email;
    std::string issueDigest;  // the codes of this run's issues; empty when none
    std::string appVersion, os, machineName;
};
// The seven string members, the texts exactly as typed; the digest follows the message after a separator.
Json body(const Report& report);

// What the form shows after a post: sent (the fields cleared) or the failure's text (the fields kept).
struct Outcome {
    bool sent = false;
    QString text;
    bool operator==(const Outcome&) const = default;
};
Outcome outcomeOf(const ServiceResult& result);

QString sentText();
QString rateLimitedText();
QString genericFailureText();
QString noServiceText();
QString note();

}  // namespace ombry::ui::feedback
