#pragma once
// The application: owns the one AppState and the window around it for the life of the process, opens the
// document it was given, starts the state, and ends the process through one orderly shutdown
// (requestQuit), whether the window's close, the Quit command or a termination signal asks.
#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "App/AppState.hpp"
#include "Render/VsyncFrameClock.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Bridge/StateSignals.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Qt/QtMainQueue.hpp"
#include "Ui/Qt/QtScreens.hpp"
#include "Ui/Shell/MainWindowController.hpp"
#include "Ui/Shell/UpdaterController.hpp"

namespace ombry::ui {

class Application final : public QObject {
public:
    // Run before the process ends, at most quitBeaconTimeout long (installed by the cloud inbox loop); it
    // calls `done` when it has finished.
    static std::function<void(std::function<void()> done)> cloudQuitBeacon;
    static constexpr int quitBeaconTimeoutMs = 2000;

    // After the QApplication: makes the GL context (REN-01 when it cannot), the state and the window.
    Application();
    ~Application() override;

    // Opens a project document (the first one given at launch, or one handed over by a second launch).
    void openDocument(const std::filesystem::path& file);
    // Shows the window, then starts the state.
    void launch();
    // Shows, raises and activates the main window (a later start asked for it).
    void bringForward();
    // Asks before quitting while on air when `ask`; then stops the outputs, writes the documents and quits
    // the event loop. A request without asking goes ahead even while the question is open; any request
    // while the shutdown runs is ignored.
    void requestQuit(bool ask);
    bool quitting() const { return quitting_; }

    AppState& state() { return *state_; }
    MainWindowController& window() { return *window_; }
    StateSignals& stateSignals() { return *signals_; }
    // "Check for Updates…" of the menus and the settings.
    UpdaterController& updater() { return *updater_; }

private:
    void shutdown();
    void finishShutdown();

    QtMainQueue queue_;
    std::unique_ptr<QtGpuContext> gpu_;
    QtScreenProvider screens_;
    QtClipboard clipboard_;
    QtFilePanels panels_;
    std::shared_ptr<VsyncSignal> vsync_ = VsyncSignal::create();
    std::unique_ptr<AppState> state_;
    std::unique_ptr<StateSignals> signals_;
    QtDialogService dialogs_;
    WindowRegistry windows_;
    QtPointerState pointer_;
    FileManagerReveal reveal_;
    std::unique_ptr<MainWindowController> window_;
    std::unique_ptr<UpdaterController> updater_;
    bool quitting_ = false;
    bool asking_ = false;
    bool finished_ = false;
};

}  // namespace ombry::ui
