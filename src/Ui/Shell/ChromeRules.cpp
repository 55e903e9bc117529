#include "Ui/Shell/ChromeRules.hpp"

#include <algorithm>
#include <cmath>

#include "Ui/Shell/Theme.hpp"

namespace ombry::ui::chrome {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
QString quoted(const std::string& s) { return QStringLiteral("\u201C") + q(s) + QStringLiteral("\u201D"); }
}  // namespace

std::vector<Issue> visibleIssues(const std::vector<Issue>& recent, const std::set<std::string>& dismissed) {
    std::vector<Issue> out;
    for (const Issue& i : recent) {
        if (dismissed.count(i.id)) continue;
        out.push_back(i);
        if (out.size() == maxBanners) break;
    }
    return out;
}

Severity severity(IssueCode code) {
    return code == IssueCode::browserSourceCodec ? Severity::warning : Severity::error;
}

QColor accent(Severity s) { return s == Severity::warning ? theme::yellow() : theme::live(); }

const char* bannerSymbol(Severity s) {
    return s == Severity::warning ? "exclamationmark.circle.fill" : "exclamationmark.triangle.fill";
}

QString countText(int count) { return count >= 2 ? QStringLiteral("\u00D7%1").arg(count) : QString(); }

QString bannerAccessibleName(const Issue& issue) {
    return q(rawValue(issue.code)) + QStringLiteral(". ") + q(issue.title()) + QStringLiteral(". ") + q(issue.message());
}

DeletionTexts deletionTexts(const PendingDeletion& d) {
    const bool one = d.ids.size() == 1;
    if (d.kind == PendingDeletion::Kind::clips)
        return {QStringLiteral("Remove"),
                one ? QStringLiteral("The clip comes off the board and any playlist. The file on disk isn't touched.")
                    : QStringLiteral("The clips come off the board and any playlists. Files on disk aren't touched.")};
    return {QStringLiteral("Delete"), one ? QStringLiteral("Its clips stay in the library, under Unsorted.")
                                          : QStringLiteral("Their clips stay in the library, under Unsorted.")};
}

// Cancel first, so Return never deletes by accident.
DialogRequest deletionQuestion(const PendingDeletion& d, const std::string& title) {
    const DeletionTexts t = deletionTexts(d);
    DialogRequest r;
    r.style = DialogRequest::Style::warning;
    r.message = q(title);
    r.informative = t.message;
    r.buttons = {QStringLiteral("Cancel"), t.button};
    r.cancel = 0;
    r.destructive = 1;
    return r;
}

DeletionAnswer deletionAnswer(int button) { return button == 1 ? DeletionAnswer::remove : DeletionAnswer::cancel; }

DialogRequest deckQuestion(const PendingDeckImport& deck) {
    DialogRequest r;
    r.style = DialogRequest::Style::information;
    r.message = quoted(deck.deckName) + QStringLiteral(" has %1 slides").arg(deck.pages);
    r.informative = QStringLiteral("Import the slides into ") + quoted(deck.playlistName) +
                    QStringLiteral(", or as a playlist of their own?");
    r.buttons = {QStringLiteral("Add to ") + quoted(deck.playlistName),
                 QStringLiteral("New Playlist ") + quoted(deck.deckName), QStringLiteral("Cancel")};
    r.cancel = 2;
    return r;
}

DeckAnswer deckAnswer(int button) {
    return button == 0 ? DeckAnswer::addToPlaylist : button == 1 ? DeckAnswer::newPlaylist : DeckAnswer::cancel;
}

DialogRequest sequenceImportDialog(const PendingSequenceImport& p) {
    DialogRequest r;
    r.style = DialogRequest::Style::information;
    r.message = quoted(p.name) + QStringLiteral(" looks like an image sequence");
    r.informative = q(p.question());
    r.buttons = {QStringLiteral("Import as One Clip"), q(p.imagesButton()), QStringLiteral("Cancel")};
    r.cancel = 2;
    return r;
}

SequenceAnswer sequenceAnswer(int button) {
    return button == 0 ? SequenceAnswer::oneClip : button == 1 ? SequenceAnswer::images : SequenceAnswer::cancel;
}

namespace {
// A warning with one "OK" button, which also dismisses it.
DialogRequest warningAlert(const QString& title, const std::string& message) {
    DialogRequest r;
    r.style = DialogRequest::Style::warning;
    r.message = title;
    r.informative = q(message);
    r.buttons = {QStringLiteral("OK")};
    r.cancel = 0;
    return r;
}
}  // namespace

DialogRequest unsupportedFileAlert(const std::string& message) {
    return warningAlert(QStringLiteral("Unsupported file type"), message);
}

DialogRequest capacityAlert(const std::string& message) { return warningAlert(QStringLiteral("The project is full"), message); }

OnAirState onAirState(bool live, bool outputReady) {
    return live ? OnAirState::onAir : outputReady ? OnAirState::ready : OnAirState::waiting;
}

QString onAirText(OnAirState s) {
    switch (s) {
    case OnAirState::onAir: return QStringLiteral("On Air");
    case OnAirState::ready: return QStringLiteral("Ready");
    case OnAirState::waiting: break;
    }
    return QStringLiteral("Waiting");
}

QColor onAirColor(OnAirState s) {
    switch (s) {
    case OnAirState::onAir: return theme::live();
    case OnAirState::ready: return QColor(48, 209, 88);
    case OnAirState::waiting: break;
    }
    return theme::orange();
}

std::vector<Check> statusChecks(const CheckInputs& in) {
    return {{QStringLiteral("Engine"), in.engineStarted},      {QStringLiteral("Display"), in.openDisplays > 0},
            {QStringLiteral("OBS"), in.outputPages > 0},        {QStringLiteral("Audio"), in.previewConnected},
            {QStringLiteral("Remote"), in.remotes > 0},         {QStringLiteral("Companion"), in.companions > 0},
            {QStringLiteral("Disk"), true}};
}

// The small allowance keeps 0.29 at 29 % (0.29 × 100 is 28.999… in binary).
QString encodeText(const std::string& name, double fraction) {
    const double percent = std::isfinite(fraction) ? std::trunc(std::clamp(fraction, 0.0, 1.0) * 100 + 1e-9) : 0;
    return QStringLiteral("Encoding ") + quoted(name) + QStringLiteral("\u2026 %1%").arg(int(percent));
}

QString issueCountText(std::size_t count) {
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? QStringLiteral("issue") : QStringLiteral("issues"));
}

QString clockText(const QTime& time) { return time.toString(QStringLiteral("HH:mm:ss")); }

int msToNextSecond(const QTime& time) { return 1000 - time.msec(); }

LaunchOutcome launchOutcome(bool hasSeenOnboarding, const std::string& lastRunVersion,
                            const std::string& runningVersion) {
    LaunchOutcome o;
    o.showOnboarding = !hasSeenOnboarding;
    if (!lastRunVersion.empty() && lastRunVersion != runningVersion) o.updatedTo = runningVersion;
    o.storeLastRunVersion = runningVersion;
    return o;
}

}  // namespace ombry::ui::chrome
