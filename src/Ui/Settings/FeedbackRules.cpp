#include "Ui/Settings/FeedbackRules.hpp"

#include "Platform/Version.hpp"

namespace ombry::ui::feedback {

std::string versionText(const std::string& shortVersion, const std::string& build) {
    const std::string dash = "\u2014";
    return (shortVersion.empty() ? dash : shortVersion) + " (" + (build.empty() ? dash : build) + ")";
}

std::string appVersion() { return versionText(version::shortVersion, version::build); }

bool canSend(const QString& subject, const QString& message, bool sending) {
    return !sending && !subject.trimmed().isEmpty() && !message.trimmed().isEmpty();
}

Json body(const Report& r) {
    std::string message = r.message;
    if (!r.issueDigest.empty()) message += "\n\n---\nRecent issues: " + r.issueDigest;
    return Json{{"kind", r.isBug ? "bug" : "feature"},
                {"subject", r.subject},
                {"message", message},
                {"email", r.email},
                {"appVersion", r.appVersion},
                {"os", r.os},
                {"machineName", r.machineName.empty() ? std::string(unnamedMachine) : r.machineName}};
}

Outcome outcomeOf(const ServiceResult& result) {
    if (const auto* envelope = std::get_if<Envelope>(&result)) {
        // The service's own "not taken" is a failure: the text stays for another try.
        if (envelope->ok) return {true, sentText()};
        return {false, genericFailureText()};
    }
    if (const auto* error = std::get_if<ServiceError>(&result); error && error->kind == ServiceError::Kind::rateLimited)
        return {false, rateLimitedText()};
    return {false, genericFailureText()};
}

QString sentText() { return QStringLiteral("Sent \u2014 thank you!"); }
QString rateLimitedText() { return QStringLiteral("Too many messages \u2014 wait a bit and try again."); }
QString genericFailureText() {
    return QStringLiteral("Couldn't send \u2014 try again, or email %1.").arg(QLatin1String(supportEmail));
}
QString noServiceText() {
    return QStringLiteral("Couldn't reach the feedback service \u2014 email %1 instead.").arg(QLatin1String(supportEmail));
}
QString note() {
    return QStringLiteral("Sends straight to the developer, with the app version, the system version and this "
                          "computer's name attached.");
}

}  // namespace ombry::ui::feedback
