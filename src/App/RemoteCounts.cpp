// What the status bar and the quit confirmation show of the servers, outputs and remotes: the published
// client counts, whether an output is in use, and the summary of what is running.
#include "App/AppState.hpp"

namespace ombry {

std::function<void(std::function<void()>)> AppState::onMainWhileAlive() const {
    const std::weak_ptr<bool> alive = alive_;
    return [alive](std::function<void()> fn) {
        if (alive.expired()) return;
        mainQueue().post([alive, fn = std::move(fn)] {
            if (!alive.expired()) fn();
        });
    };
}

void AppState::updateRemoteCounts() {
    publishClientCount(remoteClientCount_, wifiRemoteCount_ + bleRemoteCount_, remoteDropTask_,
                       &AppState::applyRemoteCounts);
    publishClientCount(companionClientCount_, companionCount_, companionDropTask_, &AppState::applyCompanionCount);
}

// A controller that reconnects (a phone waking, a page reloading) must not flicker the count: a drop waits
// until no report has come for the delay; a rise or an equal count shows at once.
void AppState::publishClientCount(int published, int target, TaskHandle& dropTask, void (AppState::*apply)()) {
    dropTask.cancel();
    dropTask = {};
    if (target >= published) return (this->*apply)();
    const std::weak_ptr<bool> alive = alive_;
    TaskHandle* slot = &dropTask;
    // On the boot-time clock, which keeps running while the machine sleeps.
    dropTask = mainQueue().postAfterBoot(clientDropDelay, [this, alive, apply, slot] {
        if (alive.expired()) return;
        (this->*apply)();
        *slot = {};
    });
}

void AppState::applyRemoteCounts() {
    remoteWifiCount_ = wifiRemoteCount_;
    remoteBleCount_ = bleRemoteCount_;
    remoteClientCount_ = wifiRemoteCount_ + bleRemoteCount_;
    notify(Aspect::counts);
}

void AppState::applyCompanionCount() {
    companionClientCount_ = companionCount_;
    notify(Aspect::counts);
}

void AppState::setUiVisible(bool visible) {
    if (visible == uiVisible_) return;
    uiVisible_ = visible;
    meterEngine_->setEnabled(visible);
    notify(Aspect::uiVisible);
}

bool AppState::outputReady() const {
    if (!serverInfo) return false;
    return !openDisplayIDs_.empty() || outputCount > 0 || settings_.syphonOutputEnabled ||
           settings_.ndiOutputEnabled;
}

bool AppState::onAir() const { return program.isLive() || outputReady(); }

std::string AppState::showActivitySummary() const {
    return showActivitySummary(ShowActivity{.liveLayers = program.liveLayers().size(),
                                            .openDisplays = openDisplayIDs_.size(),
                                            .outputPages = outputCount,
                                            .ndi = settings_.ndiOutputEnabled,
                                            .syphon = settings_.syphonOutputEnabled,
                                            .controllers = remoteClientCount_ + companionClientCount_});
}

}  // namespace ombry
