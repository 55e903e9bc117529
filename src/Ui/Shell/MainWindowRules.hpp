#pragma once
// The main window's rules without a widget: column widths, the project-name width, the quit question and
// the saved-frame texts.
#include <QMargins>
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

// The window's place as saved: its frame (title bar and borders included, where a window manager draws them)
// in screen coordinates, and the frame's margins around the client area.
struct SavedFrame {
    QRect frame;
    QMargins margins;
    QRect client() const { return frame.marginsRemoved(margins); }
    bool operator==(const SavedFrame&) const = default;
};
// "x y w h left top right bottom"; read back only when it is that: eight integers, a frame larger than its
// margins.
std::string frameText(const SavedFrame& saved);
std::optional<SavedFrame> savedFrame(const std::string& text);
// The frame brought inside the available area of the screen it overlaps most (the first area, the primary
// screen's, when it overlaps none): moved as little as it takes, shrunk only where it is larger than that
// area, and never below the window's minimum client size.
SavedFrame fittedFrame(const SavedFrame& saved, const std::vector<QRect>& available);

}  // namespace ombry::ui::mainwindow
