#pragma once
// The texts and rules of the window's chrome (issue banners, the questions it asks, the status bar, the
// launch after an update), as plain functions tested without a widget.
#include <QColor>
#include <QString>
#include <QTime>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "App/Board.hpp"
#include "App/SequenceDeckImports.hpp"
#include "App/ViewModels.hpp"
#include "Engine/Model/Issues.hpp"
#include "Ui/Bridge/DialogService.hpp"

namespace ombry::ui::chrome {

// ---- Issue banners ----
inline constexpr std::size_t maxBanners = 3;
// The newest undismissed issues, newest first, at most maxBanners.
std::vector<Issue> visibleIssues(const std::vector<Issue>& recent, const std::set<std::string>& dismissed);

enum class Severity { warning, error };
// The browser-source codec issue is a warning; every other code an error.
Severity severity(IssueCode code);
QColor accent(Severity severity);
// "exclamationmark.circle.fill" for a warning, "exclamationmark.triangle.fill" for an error.
const char* bannerSymbol(Severity severity);
// "×n" from 2 on; empty below.
QString countText(int count);
// "<code>. <title>. <message>".
QString bannerAccessibleName(const Issue& issue);

// ---- Questions ----
struct DeletionTexts {
    QString button;   // "Remove" for clips, "Delete" for playlists
    QString message;  // the line under the title, singular or plural
};
DeletionTexts deletionTexts(const PendingDeletion& deletion);
DialogRequest deletionQuestion(const PendingDeletion& deletion, const std::string& title);
enum class DeletionAnswer { remove, cancel };
DeletionAnswer deletionAnswer(int button);

// Buttons: "Add to “<playlist>”", "New Playlist “<deck>”", "Cancel".
DialogRequest deckQuestion(const PendingDeckImport& deck);
enum class DeckAnswer { addToPlaylist, newPlaylist, cancel };
DeckAnswer deckAnswer(int button);

// Buttons: "Import as One Clip", the pending import's images button, "Cancel".
DialogRequest sequenceImportDialog(const PendingSequenceImport& pending);
enum class SequenceAnswer { oneClip, images, cancel };
SequenceAnswer sequenceAnswer(int button);

DialogRequest unsupportedFileAlert(const std::string& message);
DialogRequest capacityAlert(const std::string& message);

// ---- Status bar ----
enum class OnAirState { onAir, ready, waiting };
OnAirState onAirState(bool live, bool outputReady);
QString onAirText(OnAirState state);
QColor onAirColor(OnAirState state);

struct CheckInputs {
    bool engineStarted = false;  // the browser-output server runs
    std::size_t openDisplays = 0;
    int outputPages = 0;
    bool previewConnected = false;
    int remotes = 0;
    int companions = 0;
};
struct Check {
    QString name;
    bool ok = false;
    bool operator==(const Check&) const = default;
};
// Engine, Display, OBS, Audio, Remote, Companion, Disk, in that order.
std::vector<Check> statusChecks(const CheckInputs& in);
// "Encoding “<name>”… <percent>%", the percent cut toward zero.
QString encodeText(const std::string& name, double fraction);
// "1 issue", "3 issues".
QString issueCountText(std::size_t count);
// Two-digit 24-hour hours, minutes and seconds, whatever the locale prefers.
QString clockText(const QTime& time);
// Milliseconds until the next whole second of this time, so the clock turns with the wall clock.
int msToNextSecond(const QTime& time);

// ---- Launch after an update ----
struct LaunchOutcome {
    bool showOnboarding = false;
    std::optional<std::string> updatedTo;  // shows the updated banner
    std::string storeLastRunVersion;
};
LaunchOutcome launchOutcome(bool hasSeenOnboarding, const std::string& lastRunVersion,
                            const std::string& runningVersion);

}  // namespace ombry::ui::chrome
