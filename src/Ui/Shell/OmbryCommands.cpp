#include "Ui/Shell/OmbryCommands.hpp"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

#include <filesystem>

#include "Platform/LogFile.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/ShowKeys.hpp"

namespace ombry::ui {

using namespace commands;

OmbryCommands::OmbryCommands(ViewContext& context, QMainWindow& window)
    : QObject(&window), context_(context), window_(window) {
    bar_ = window.menuBar();
    bar_->setObjectName(QStringLiteral("menuBar"));
    build();
    gate_ = new RefreshGate(bar_, [this] { refresh(); });
    gate_->watch(context_.stateSignals, {Aspect::project});
    connect(qApp, &QApplication::focusChanged, this, [this] { syncFocus(); });
    window.installEventFilter(this);
    refresh();
}

void OmbryCommands::build() {
    for (Menu m : {Menu::file, Menu::edit, Menu::playback, Menu::program, Menu::help}) {
        QMenu* menu = bar_->addMenu(menuTitle(m));
        menu->setObjectName(QStringLiteral("menu") + menuTitle(m));
        menus_[m] = menu;
        // Enabling follows states that do not all report changes (the hooks' own): read them on opening.
        connect(menu, &QMenu::aboutToShow, this, [this] { refresh(); });
    }
    for (const CommandEntry& s : table()) {
        QMenu* menu = menus_[s.menu];
        if (s.separatorBefore && !menu->isEmpty()) menu->addSeparator();
        QAction* a = nullptr;
        if (s.command == Command::openRecent) {
            recent_ = menu->addMenu(QString::fromUtf8(s.title));
            recent_->setObjectName(QStringLiteral("openRecentMenu"));
            a = recent_->menuAction();
        } else {
            a = menu->addAction(displayText(s));
            const Command c = s.command;
            connect(a, &QAction::triggered, this, [this, c] { run(c); });
        }
        a->setObjectName(QString::fromLatin1(s.objectName));
        if (s.path == KeyPath::shortcut) {
            a->setShortcut(s.key);
            // The file and application commands work from every window of the application, as a desktop
            // menu bar does; the show commands only in the main window.
            const bool show = s.menu == Menu::playback || s.menu == Menu::program;
            a->setShortcutContext(show ? Qt::WindowShortcut : Qt::ApplicationShortcut);
        }
        actions_[s.command] = a;
    }
}

bool OmbryCommands::eventFilter(QObject* watched, QEvent* event) {
    // The window knows it is the active one once its activation changed.
    if (watched == &window_ && event->type() == QEvent::ActivationChange) syncFocus();
    return QObject::eventFilter(watched, event);
}

void OmbryCommands::setHooks(CommandHooks hooks) {
    hooks_ = std::move(hooks);
    refresh();
}

void OmbryCommands::syncFocus() {
    QWidget* focus = QApplication::focusWidget();
    // A menu or popover opened from the window takes the focus for a moment: the window still types into the
    // field it came from.
    const bool inPopup = QApplication::activePopupWidget() != nullptr;
    if (!inPopup) context_.state.setTextEditing(isTextInput(focus));
    context_.state.setMainWindowFocused(window_.isActiveWindow());
    refresh();
}

void OmbryCommands::refresh() {
    AppState& s = context_.state;
    const bool show = showMenusEnabled(s.isTextEditing(), s.isMainWindowFocused());
    for (const CommandEntry& entry : table())
        if (entry.menu == Menu::playback || entry.menu == Menu::program) actions_[entry.command]->setEnabled(show);
    fillRecent();
    actions_[Command::checkForUpdates]->setEnabled(hooks_.checkForUpdates && hooks_.canCheckForUpdates &&
                                                   hooks_.canCheckForUpdates());
    actions_[Command::importSlides]->setEnabled(bool(hooks_.importSlidesFromLink));
}

void OmbryCommands::fillRecent() {
    const auto items = recentItems(context_.state.projects().recentsStore());
    // Rebuilt only when the list changed: a refresh while the submenu is open keeps it as it is.
    QStringList ids, shown;
    for (QAction* a : recent_->actions()) ids << a->data().toString(), shown << a->text();
    QStringList wantIds, wantShown;
    for (const auto& i : items) wantIds << i.id, wantShown << i.title;
    if (ids != wantIds || shown != wantShown) {
        fillRecentProjects(*recent_, items, context_.state, this);
    }
    recent_->menuAction()->setEnabled(!items.empty());
}

void fillRecentProjects(QMenu& menu, const std::vector<commands::RecentItem>& items, AppState& state, QObject* receiver) {
    menu.clear();
    for (const auto& i : items) {
        QAction* a = menu.addAction(i.title);
        a->setData(i.id);
        const std::string path = i.path;
        QObject::connect(a, &QAction::triggered, receiver, [&state, path] { state.projects().openProject(path); });
    }
    menu.menuAction()->setEnabled(!items.empty());
}

void OmbryCommands::run(Command command) {
    AppState& s = context_.state;
    switch (command) {
        case Command::newProject: s.projects().promptNewProject(); break;
        case Command::openProject: s.projects().promptOpenProject(); break;
        case Command::openRecent: break;
        case Command::addMedia: s.promptAddMedia(); break;
        case Command::importSlides:
            if (hooks_.importSlidesFromLink) hooks_.importSlidesFromLink();
            break;
        case Command::newPlaylist:
            s.playlistEditor = PlaylistEditorTarget::create({});
            s.notify(Aspect::playlistEditor);
            break;
        case Command::saveProjectAs: s.projects().promptSaveProjectAs(); break;
        // The window's close asks before quitting while on air, as every other way of quitting does.
        case Command::quit: window_.close(); break;
        case Command::settings: openSettings(context_.windows, s); break;
        case Command::playPause: s.playPausePrimary(); break;
        case Command::restart: s.restartPrimary(); break;
        case Command::back5: s.seekRelative(-5); break;
        case Command::forward5: s.seekRelative(5); break;
        case Command::previousClip: s.stepClip(-1); break;
        case Command::nextClip: s.stepClip(1); break;
        case Command::moveClipUp: s.moveSelectedClip(-1); break;
        case Command::moveClipDown: s.moveSelectedClip(1); break;
        // A toggle; it leaves a pending playlist advance alone.
        case Command::cutToBlack: s.program.setBlack(!s.program.state().black); break;
        // Clearing stops the pending advance first, so the cleared playlist does not go on by itself.
        case Command::clearMediaLayer:
            s.cancelAdvance();
            s.program.clearLayer(LayerId::media);
            break;
        case Command::clearAllLayers:
            s.cancelAdvance();
            s.program.clearAll();
            break;
        case Command::mute: s.toggleMute(); break;
        case Command::volumeUp: s.setMasterVolumeDB(steppedVolume(s.masterVolumeDB(), volumeStep)); break;
        case Command::volumeDown: s.setMasterVolumeDB(steppedVolume(s.masterVolumeDB(), -volumeStep)); break;
        case Command::checkForUpdates:
            if (hooks_.checkForUpdates) hooks_.checkForUpdates();
            break;
        case Command::revealCrashLogs: {
            // Shown whether or not anything was logged yet: the folder is made so there is one to show.
            const std::filesystem::path dir = logsDir();
            std::error_code ec;
            std::filesystem::create_directories(dir, ec);
            if (context_.reveal) context_.reveal->reveal({dir});
            break;
        }
    }
}

}  // namespace ombry::ui
