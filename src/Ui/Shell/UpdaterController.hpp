#pragma once
// Checks the update feed named in app-info.json and tells the operator when a newer version exists; the
// package manager installs it. A check reads the feed on a thread of its own; its answer comes back on the
// GUI thread. Without a feed (the default) no check can start.
#include <QObject>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <variant>

#include "Engine/Update/UpdateFeed.hpp"
#include "Ui/Settings/SettingsView.hpp"

class QWidget;

namespace ombry::ui {

class DialogService;
class Preferences;

class UpdaterController final : public UpdateControls {
    Q_OBJECT
public:
    struct Config {
        std::string feedURL;         // empty: no feed, no checks
        std::string currentVersion;  // the running version
    };
    // The installed tree's feed (app-info.json among the resources) and this build's version.
    static Config installed();

    UpdaterController(Preferences& preferences, DialogService& dialogs, Config config,
                      std::function<QWidget*()> dialogParent = {}, QObject* parent = nullptr);
    ~UpdaterController() override;

    // True while a feed is configured and no check runs.
    bool canCheckForUpdates() const override { return canCheck_; }
    // "Check for Updates…": reads the feed, then says what it found. Nothing while a check cannot start.
    void checkForUpdates() override;
    // The channels offered beside regular releases, read from the preferences on every call.
    std::set<std::string> allowedChannels() const;
    const Config& config() const { return config_; }

signals:
    // Also reported as changed().
    void canCheckForUpdatesChanged(bool canCheck);
    // After the operator has been told the outcome of a check.
    void checkFinished();

private:
    using Fetched = std::variant<std::string, std::string>;  // the feed's body, or why it failed
    void finish(const Fetched& fetched);
    // A newer version in the feed: its notes are kept for the launch after the update.
    void didFindValidUpdate(const UpdateItem& item);
    void setCanCheck(bool can);

    Preferences& preferences_;
    DialogService& dialogs_;
    Config config_;
    std::function<QWidget*()> dialogParent_;
    bool canCheck_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

}  // namespace ombry::ui
