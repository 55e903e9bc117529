// Every assignment of the settings is saved and re-applied to the engines: monitor audio, the program
// outputs, the remote side and the cloud inbox.
#include <algorithm>

#include "App/AppState.hpp"
#include "Engine/Library/Store.hpp"
#include "Render/Audio/AudioDevices.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry {

void AppState::setSettings(AppSettings settings) {
    AppSettings old = std::move(settings_);
    settings_ = std::move(settings);
    propagateSettings(old);
    notify(Aspect::settings);
}

void AppState::propagateSettings(const AppSettings& old) {
    const AppSettings& now = settings_;
    Store::saveDoc(now, Store::dir() / "settings.json");
    previewRenderer_->setMonitorAudible(now.audioMonitorEnabled);  // an equal value changes nothing
    applyMonitorDevice();
    setSyphonEnabled(now.syphonOutputEnabled);
    setNDIEnabled(now.ndiOutputEnabled);
    applyNdiDelay();
    syncStayAwake();

    // The server restart reads the settings when it runs, and pushes the upload configuration itself.
    if (old.remoteControlEnabled != now.remoteControlEnabled || old.remoteControlPort != now.remoteControlPort ||
        old.bleRemoteEnabled != now.bleRemoteEnabled) {
        onMainWhileAlive()([this] { syncControlServer(); });
    } else if (old.mediaUploadEnabled != now.mediaUploadEnabled || old.mediaUploadToken != now.mediaUploadToken) {
        pushUploadConfig();
    }
    if (old.remoteControlPassword != now.remoteControlPassword) {
        if (auto* remote = controlServer()) remote->configureControl(now.remoteControlPassword);
        if (auto* remote = bleRemote()) remote->configureControl(now.remoteControlPassword);
    }

    if (!started) return;
    if (old.cloudUploadEnabled == now.cloudUploadEnabled && old.cloudServiceURL == now.cloudServiceURL &&
        old.cloudInboxId == now.cloudInboxId && old.cloudAppSecret == now.cloudAppSecret &&
        old.cloudUploadPassword == now.cloudUploadPassword)
        return;
    if (old.cloudUploadEnabled && !now.cloudUploadEnabled) sendCloudOffline();
    syncCloudPolling();
}

void AppState::applyMonitorDevice() {
    std::optional<std::string> uid = settings_.monitorDeviceUID;
    const auto exists = env_.audioDeviceExists ? env_.audioDeviceExists
                                               : [](const std::string& id) { return AudioDevices::exists(id); };
    // A device that is gone plays on the default output for this run; the setting keeps it for later.
    if (uid && !exists(*uid)) uid.reset();
    previewRenderer_->setMonitorDevice(std::move(uid));
}

void AppState::applyNdiDelay() {
    if (auto bus = previewRenderer_->audioBus())
        bus->delayFrames.store(ProgramAudioBus::delayFramesForMs(double(settings_.ndiAudioDelayMs)));
}

void AppState::syncControlServer() {
    const std::uint64_t run = ++controlSync_;
    ControlServerLink* control = controlServer();
    if (control) control->stop();
    if (controlServerInfo_ || bonjourStatus_) {
        controlServerInfo_.reset();
        bonjourStatus_.reset();
        notify(Aspect::controlServerInfo);
    }
    if (auto* remote = bleRemote()) {
        remote->configureControl(settings_.remoteControlPassword);
        if (started && settings_.bleRemoteEnabled) {
            remote->start();
            if (auto live = liveSnapshot()) remote->push(live);
        } else {
            remote->stop();
            if (bleState_) {
                bleState_.reset();
                notify(Aspect::counts);
            }
        }
    }
    if (!started || !settings_.remoteControlEnabled || !control) return;
    control->configureControl(settings_.remoteControlPassword);
    pushUploadConfig();
    const auto port = std::uint16_t(std::clamp<std::int64_t>(settings_.remoteControlPort, 0, 65535));
    auto onMain = onMainWhileAlive();
    control->start(port, [this, onMain, run](ServerStartResult result) {
        onMain([this, run, result = std::move(result)] {
            // A later run has stopped this server (and its start may have failed because of it): the later
            // run reports its own outcome.
            if (run != controlSync_) return;
            if (const auto* info = std::get_if<ServerInfo>(&result)) {
                controlServerInfo_ = *info;
                notify(Aspect::controlServerInfo);
                IssueLog::shared().resolve(IssueCode::controlServerFailed, std::nullopt);
                if (auto* server = controlServer())
                    if (auto live = liveSnapshot()) server->push(live);
            } else if (std::get<ServerStartFailure>(result) == ServerStartFailure::noPort) {
                IssueLog::shared().report(IssueCode::controlServerFailed, std::nullopt,
                                          std::string("no free port from ") + std::to_string(settings_.remoteControlPort),
                                          true);
            }
        });
    });
}

void AppState::pushUploadConfig() {
    if (auto* control = controlServer())
        control->configureUpload(settings_.mediaUploadEnabled && settings_.remoteControlEnabled,
                                 settings_.mediaUploadToken);
}

void AppState::setSyphonEnabled(bool on) {
    if (on == bool(syphonOutput_)) return;
    if (on) {
        // Kept even when its server failed to start ("OUT-02"): switching off and on again retries.
        syphonOutput_ = std::make_unique<SyphonOutput>("Program", &previewRenderer_->compositor().context());
        SyphonOutput* output = syphonOutput_.get();
        const std::weak_ptr<bool> alive = alive_;
        previewRenderer_->setCompositeConsumer(SyphonOutput::consumerKey,
                                               [this, alive, output](const GpuRenderTarget& stage, int) {
                                                   if (alive.expired() || syphonOutput_.get() != output) return;
                                                   if (output->server() && output->server()->hasClients())
                                                       output->publish(stage);
                                               });
        return;
    }
    previewRenderer_->setCompositeConsumer(SyphonOutput::consumerKey, std::nullopt);
    if (const auto& server = syphonOutput_->server()) server->stop();
    syphonOutput_.reset();
}

void AppState::setNDIEnabled(bool on) {
    if (on == bool(ndiOutput_)) return;
    auto bus = previewRenderer_->audioBus();
    if (on) {
        ndiOutput_ = std::make_unique<NDIOutput>(previewRenderer_->compositor(), "Program");
        previewRenderer_->setCompositeConsumer(NDIOutput::consumerKey, ndiOutput_->consumer());
        if (bus) bus->setSink(ndiOutput_->sender());
        return;
    }
    // The frames first, then the audio thread, then the sender both of them fed.
    previewRenderer_->setCompositeConsumer(NDIOutput::consumerKey, std::nullopt);
    if (bus) bus->setSink(nullptr);
    if (const auto& sender = ndiOutput_->sender()) sender->stop();
    ndiOutput_.reset();
}

}  // namespace ombry
