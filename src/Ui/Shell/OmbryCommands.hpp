#pragma once
// The window's menu bar: File, Edit, Playback, Program and Help, each item calling one operation of the
// application state, the program store or the project commands. The plain keys of Playback and Program
// are taken by the show-key filter (ShowKeys.hpp); the menus show them and act the same when chosen. Both
// menus are disabled while text is edited or the main window is not the key window.
#include <QObject>

#include <functional>
#include <map>

#include "Ui/Shell/CommandRules.hpp"
#include "Ui/Shell/Columns.hpp"

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;

namespace ombry::ui {

// Fills `menu` with the recent projects in `items`; choosing one opens it. `receiver` holds the connections.
void fillRecentProjects(QMenu& menu, const std::vector<commands::RecentItem>& items, AppState& state, QObject* receiver);

// Targets that belong to other parts of the window; an absent one leaves its item disabled. Each part sets
// its own fields on a copy of hooks() and hands it back with setHooks, leaving the others as they are.
struct CommandHooks {
    std::function<void()> checkForUpdates;
    std::function<bool()> canCheckForUpdates;  // absent: cannot
    std::function<void()> importSlidesFromLink;
};

class OmbryCommands final : public QObject {
    Q_OBJECT
public:
    // Fills the window's menu bar.
    OmbryCommands(ViewContext& context, QMainWindow& window);

    // Replaces the hooks and updates the items at once.
    void setHooks(CommandHooks hooks);
    const CommandHooks& hooks() const { return hooks_; }
    // Reads the enabling rules again (the hooks' own states, such as whether updates can be checked).
    void refresh();

    QMenuBar* menuBar() const { return bar_; }
    QMenu* menu(commands::Menu menu) const { return menus_.at(menu); }
    QAction* action(commands::Command command) const { return actions_.at(command); }
    QMenu* recentMenu() const { return recent_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void run(commands::Command command);
    void syncFocus();
    void fillRecent();

    ViewContext& context_;
    QMainWindow& window_;
    QMenuBar* bar_ = nullptr;
    QMenu* recent_ = nullptr;
    std::map<commands::Menu, QMenu*> menus_;
    std::map<commands::Command, QAction*> actions_;
    CommandHooks hooks_;
    RefreshGate* gate_ = nullptr;
};

}  // namespace ombry::ui
