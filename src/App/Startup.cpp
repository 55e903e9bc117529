// Start-up: what construction leaves undone (ports, outputs, intake, keep-awake), once, after launch.
#include "App/AppState.hpp"
#include "Engine/Library/Store.hpp"

namespace ombry {

void AppState::start() {
    if (started) return;
    started = true;
    installKeyboardMonitor();
    if (auto* server = outputServer()) server->updateMediaIndex(library.mediaIndex());
    refreshThumbIndex();
    previewRenderer_->apply(program.state());
    previewRenderer_->setMonitorAudible(settings_.audioMonitorEnabled);
    applyMonitorDevice();
    setSyphonEnabled(settings_.syphonOutputEnabled);
    setNDIEnabled(settings_.ndiOutputEnabled);
    applyNdiDelay();
    previewConnected = true;

    // The output server's start is awaited before the remote-control server binds: their port ranges
    // overlap (7340 and up, 7341 and up), so which one got which port would be a race. The main queue
    // serves everything else meanwhile.
    auto onMain = onMainWhileAlive();
    auto* server = outputServer();
    if (!server) {
        IssueLog::shared().report(IssueCode::outputServerFailed, std::nullopt, std::string("no output server"), true);
        return finishStart();
    }
    server->start(outputServerPort, [this, onMain](ServerStartResult result) {
        onMain([this, result = std::move(result)] {
            if (const auto* info = std::get_if<ServerInfo>(&result)) {
                serverInfo = *info;
                notify(Aspect::serverInfo);
                IssueLog::shared().resolve(IssueCode::outputServerFailed, std::nullopt);
                if (auto* s = outputServer()) s->broadcastState(program.state());
            } else {
                IssueLog::shared().report(IssueCode::outputServerFailed, std::nullopt,
                                          std::string("no free port from ") + std::to_string(outputServerPort),
                                          true);
            }
            finishStart();
        });
    });
}

// The start-up's steps after the output server has answered.
void AppState::finishStart() {
    syncControlServer();
    auto onMain = onMainWhileAlive();
    if (settings_.autoRelinkFolderPath)
        library.autoRelink(*settings_.autoRelinkFolderPath, [this, onMain](std::vector<MediaItem> relinked) {
            onMain([this, relinked = std::move(relinked)] {
                for (const MediaItem& item : relinked) probeAndThumbnail(item);
            });
        });
    scanIngestFolder();
    syncCloudPolling();
    probeMissing();
    trackingShowActivity_ = true;
    syncStayAwake();
}

void AppState::syncStayAwake() {
    if (!trackingShowActivity_) return;
    const bool live = onAir();
    if (live && !awakeActivity_) {
        if (env_.keepAwake) awakeActivity_ = env_.keepAwake->begin("A show is on air");
    } else if (!live && awakeActivity_) {
        awakeActivity_.reset();
    }
}

}  // namespace ombry
