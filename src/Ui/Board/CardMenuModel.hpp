#pragma once
// The media card's context menu as a plain model: titles (counts as "%lld" keys), which entries show, which
// are enabled and checked, and what each calls. CardMenu renders it into a QMenu.
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "App/AppState.hpp"

class QMenu;
class QWidget;

namespace ombry::ui {

struct CardMenuEntry {
    enum class Kind { action, separator, submenu };
    Kind kind = Kind::action;
    std::string key;  // objectName of the action
    QString title;
    bool enabled = true;
    bool checkable = false;  // a picker row; the rows of one submenu are exclusive
    bool checked = false;
    bool destructive = false;
    std::vector<CardMenuEntry> children;
    std::function<void()> run;
};

// What the menu reaches outside the state.
struct CardMenuActions {
    std::function<void()> openProperties;
    std::function<void(const std::string& path)> reveal;
};

// "Duplicate" or, for n ≥ 2, "Duplicate %lld Clips" with n in place of the placeholder.
QString countedTitle(const char* one, const char* many, std::size_t n);

// Built from the state now; the actions hold the clip and its targets as they are now.
std::vector<CardMenuEntry> cardMenu(AppState& state, const MediaItem& clip,
                                    const std::optional<std::string>& sectionGroupId, const CardMenuActions& actions);

// The entry with this key, searched through the submenus; null when absent.
const CardMenuEntry* findEntry(const std::vector<CardMenuEntry>& entries, const std::string& key);

// Fills the menu (one exclusive action group per picker submenu).
void renderCardMenu(QMenu& menu, const std::vector<CardMenuEntry>& entries);

}  // namespace ombry::ui
