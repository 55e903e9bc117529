#pragma once
// The main window's rules without a widget: column widths, the project-name width, the quit question and
// the saved-frame texts.
#include <QRect>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace ombry::ui::mainwindow {

inline constexpr int minWidth = 1120, minHeight = 750;
inline constexpr int sidebarMin = 180, sidebarMax = 320, boardMin = 476, programMin = 300;
inline constexpr int firstSidebarWidth = 245;

// First-run dividers for a split of width w: the sidebar 245 wide, the program column max(370, 0.28 w).
struct Dividers {
    int sidebar;  // position of divider 0
    int program;  // position of divider 1
};
std::optional<Dividers> firstRunDividers(int splitWidth, int handleWidth);
// The three column widths those dividers give.
std::vector<int> firstRunSizes(int splitWidth, int handleWidth);

// max(200, floor((w − 917) / 24) × 24).
int projectNameWidth(int windowWidth);

struct QuitQuestion {
    QString message;
    QString informative;
};
QuitQuestion quitQuestion(bool live, const std::string& activitySummary);

// The saved frame text up to its first "{", or none when it has none.
std::optional<std::string> strippedTilingState(const std::string& saved);
// "{{x, y}, {w, h}}" (or four numbers) of the earlier frame, accepted when at least 1120 wide, taller than 0
// and on one of the screens.
std::optional<QRect> legacyFrame(const std::string& text, const std::vector<QRect>& screens);

}  // namespace ombry::ui::mainwindow
