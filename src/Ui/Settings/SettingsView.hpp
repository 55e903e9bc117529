#pragma once
// The single "settings" window ("Ombry Settings"): the list of sections beside the pane of the chosen one.
// The section shown is AppState::settingsSection, so menus and the status bar choose a pane with
// openSettings(); choosing a row writes it back. Each pane comes from its factory (SettingsPanes.cpp), made
// afresh whenever its section is shown and dropped when another one is (or the window closes).
#include <QWidget>

#include <functional>
#include <map>
#include <optional>

#include "App/SettingsSection.hpp"
#include "Render/Audio/AudioDevices.hpp"
#include "Ui/Bridge/StateSignals.hpp"

class QLabel;
class QListWidget;
class QVBoxLayout;

namespace ombry::ui {

class DialogService;
class FileReveal;
class Preferences;
class RefreshGate;
class WindowRegistry;

// What the General pane needs of the update controller. None: no updater (no check, nothing to install).
class UpdateControls : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool canCheckForUpdates() const = 0;
    virtual void checkForUpdates() = 0;
    // Whether updates are installed by the program itself (an installer); false on Linux today.
    virtual bool canInstallUpdates() const { return false; }
    virtual bool automaticallyInstallsUpdates() const { return false; }
    virtual void setAutomaticallyInstallsUpdates(bool) {}

signals:
    void changed();
};

// What a pane is made with.
struct SettingsContext {
    AppState& state;
    StateSignals& stateSignals;
    Preferences& preferences;
    // Shows folders in the file manager; none does nothing.
    FileReveal* reveal = nullptr;
    UpdateControls* updates = nullptr;
    // The audio output devices, asked when the Output pane shows; none asks the sound server.
    std::function<std::vector<AudioOutputDevice>()> audioDevices;
    // The window's confirmations (the media pane's deletions); none: nothing is deleted.
    DialogService* dialogs = nullptr;
};

// A pane that wants to know when the window shows it and when it stops showing it (switching sections,
// closing the window). The window calls these, so a pane never guesses from its own hide events.
class SettingsPaneHooks {
public:
    virtual ~SettingsPaneHooks() = default;
    virtual void paneAppeared() {}
    virtual void paneDisappeared() {}
};

using SettingsPaneFactory = std::function<QWidget*(SettingsContext& context, QWidget* parent)>;
using SettingsPaneFactories = std::map<SettingsSection, SettingsPaneFactory>;
// The panes the application shows (SettingsPanes.cpp).
SettingsPaneFactories defaultSettingsPanes();
// An empty pane named after its section ("mediaPane", "uploadsPane"), for sections without one yet.
QWidget* placeholderPane(SettingsSection section, QWidget* parent);
// "generalPane", "outputPane", "mediaPane", "remotePane", "uploadsPane".
QString paneObjectName(SettingsSection section);

class SettingsView final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* windowId = "settings";
    static constexpr int sidebarWidth = 200, paneWidth = 480, minimumHeight = 480;

    SettingsView(SettingsContext context, SettingsPaneFactories panes = defaultSettingsPanes(),
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    QListWidget* sectionList() const { return list_; }
    // The pane shown now; none while the window is hidden.
    QWidget* pane() const { return pane_; }
    std::optional<SettingsSection> paneSection() const { return paneSection_; }
    // The detail's title: the shown section's label.
    QLabel* paneTitle() const { return title_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void showPane(SettingsSection section);
    void dropPane();

    SettingsContext context_;
    SettingsPaneFactories panes_;
    QListWidget* list_ = nullptr;
    QLabel* title_ = nullptr;
    QVBoxLayout* host_ = nullptr;
    QWidget* pane_ = nullptr;
    std::optional<SettingsSection> paneSection_;
    RefreshGate* gate_ = nullptr;
};

// Registers the single settings window with the registry (made on first use).
void defineSettingsWindow(WindowRegistry& windows, SettingsContext context,
                          SettingsPaneFactories panes = defaultSettingsPanes());
// Shows the settings window, on `section` when one is given (else on the section last shown).
void openSettings(WindowRegistry& windows, AppState& state, std::optional<SettingsSection> section = std::nullopt);

}  // namespace ombry::ui
