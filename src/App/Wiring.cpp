// The callbacks between the engines and the application state.
#include <filesystem>

#include "App/AppState.hpp"
#include "Engine/Library/Store.hpp"

namespace ombry {

void AppState::wire() {
    NativeStageRenderer& r = *previewRenderer_;
    program.onChange = [this, &r](const ProgramState& state) {
        if (auto* server = outputServer()) server->broadcastState(state);
        r.apply(state);
        pushSnapshot();
        syncStayAwake();
        // The project carries the stage: written once per real change of it.
        const auto& stored = library.stage();
        if (!stored || stored->width != state.stage.width || stored->height != state.stage.height ||
            stored->fps != state.stage.fps || stored->background != state.stage.background) {
            library.setStage(state.stage);
            library.writeDoc();
        }
        notify(Aspect::program);
    };
    program.onClockEpoch = [this](std::int64_t) { notify(Aspect::clockEpoch); };
    program.onTransport = [this, &r](const TransportCommandMessage& command) {
        if (auto* server = outputServer()) server->sendTransport(command);
        r.applyTransport(command);
    };
    r.resolvePath = [this](const std::string& id) -> std::optional<std::string> {
        if (const MediaItem* m = library.item(id)) return m->path;
        return std::nullopt;
    };
    r.onStatus = [this](const TransportStatus& status) {
        program.recordStatus(status);
        pushPlayheads();
        if (status.ended) handleClipEnd(status.layer, status.cueId);
        // Remotes follow the primary layer only, as it stands after the clip end was handled.
        if (primaryLayer() != status.layer) return;
        const ControlTransportMessage message{status.layer, status.currentTime, status.duration, status.playing};
        if (auto* remote = controlServer()) remote->pushTransport(message);
        if (auto* remote = bleRemote()) remote->pushTransport(message);
    };
    r.onEnding = [this](LayerId layer, const std::string& cueId) { handleClipEnd(layer, cueId); };
    // A clip of the playlist that goes on air, of any kind, ends its run of failures: the next pass
    // reports and skips a failing clip again.
    r.onLoaded = [this](LayerId layer, const std::string& cueId) {
        const auto& active = program.state().layers[layer].active;
        if (active && active->cueId == cueId)
            if (const Group* p = playlist(active->mediaId)) failedInCycle_.erase(p->id);
    };
    r.onError = [this](LayerId layer, const std::string& cueId, IssueCode code) {
        const auto& active = program.state().layers[layer].active;
        if (!active || active->cueId != cueId) return;  // a clip already replaced
        const ActiveCue cue = *active;
        const MediaItem* item = library.item(cue.mediaId);
        const std::string path = item ? item->path : std::string();
        const Group* p = playlist(cue.mediaId);
        const bool advances = lastTriggerWasAutomatic_ && p &&
                              (p->advanceOnEnd == true || (p->advanceSeconds && *p->advanceSeconds > 0));
        // A looping playlist whose every clip fails would go round for ever: one full cycle of failures
        // stops it, and the operator hears of each clip once.
        bool cycleDone = false;
        bool repeat = false;
        if (advances) {
            auto& failed = failedInCycle_[p->id];
            repeat = !failed.insert(cue.mediaId).second;
            std::set<std::string> listed(p->mediaIds.begin(), p->mediaIds.end());
            cycleDone = repeat || failed.size() >= listed.size();
        }
        if (!repeat)
            IssueLog::shared().report(code, item ? std::optional<std::string>(fileName(path)) : std::nullopt,
                                      std::nullopt, true);
        std::error_code ec;
        if (item && !std::filesystem::exists(path, ec)) {
            library.markOffline(item->id);
            cascadeOfflineRescan();
        }
        program.clearLayer(layer);
        if (!advances) return;
        // The failed take armed the playlist's timer: a cycle of nothing but failures stops that too.
        if (cycleDone)
            cancelAdvance();
        else
            advanceInPlaylist(cue.mediaId);
    };
    meterEngine_->onLevels = [this](const MeterLevels& levels) {
        meter_ = levels;
        if (onMeter) onMeter(meter_);
        notify(Aspect::meter);
    };
    displays_->onDisplaysLost = [this](const std::vector<std::string>& names) {
        refreshOpenDisplays();
        for (const auto& name : names) IssueLog::shared().report(IssueCode::displayDisconnected, name, std::nullopt, true);
    };
    displays_->onDisplaysChanged = [this] {
        displayList_ = displays_->displays();
        refreshOpenDisplays();
        notify(Aspect::displays);
    };
    displayList_ = displays_->displays();
    library.onChange = [this] {
        if (auto* server = outputServer()) server->updateMediaIndex(library.mediaIndex());
        refreshThumbIndex();
        pushSnapshot();
        schedulePlaylistPush();
        // One change event of the library covers its clips and playlists.
        notify(Aspect::media);
        notify(Aspect::groups);
    };
    library.onOfflineChange = [this] { notify(Aspect::offlineIds); };
    IssueLog::shared().onChange = [this] { notify(Aspect::issues); };
    projects_->onChange = [this] { notify(Aspect::project); };
    savedPlaylists_->onChange = [this] { notify(Aspect::savedPlaylists); };
    intake_->onChange = [this] { notify(Aspect::imports); };
    wireLinks();
    r.apply(program.state());
}

// The parts call these on their own threads, possibly after the state has gone: each callback holds the
// state weakly from the moment it is made and touches nothing of it off the main queue.
void AppState::wireLinks() {
    performHook = [this](const ControlCommand& command) { return performControl(command); };
    snapshotHook = [this]() -> std::optional<ControlSnapshot> { return controlSnapshot(); };
    const std::weak_ptr<bool> alive = alive_;
    auto onMain = onMainWhileAlive();
    auto perform = [this, alive](ControlCommand command, RemoteLink::Reply reply) {
        if (alive.expired()) return reply(ControlResult::badRequest("shutting down"));
        mainQueue().post([this, alive, command = std::move(command), reply = std::move(reply)] {
            if (alive.expired() || !performHook) return reply(ControlResult::badRequest("shutting down"));
            reply(performHook(command));
        });
    };
    if (auto* remote = controlServer()) {
        remote->perform = perform;
        remote->snapshot = [this, alive](ControlServerLink::SnapshotReply reply) {
            if (alive.expired()) return reply(std::nullopt);
            mainQueue().post([this, alive, reply = std::move(reply)] {
                if (alive.expired() || !snapshotHook) return reply(std::nullopt);
                reply(snapshotHook());
            });
        };
        remote->ingestUpload = [this, alive](UploadIngestRequest request, ControlServerLink::IngestReply reply) {
            if (alive.expired()) return reply(UploadIngestResult::failed("shutting down"));
            mainQueue().post([this, alive, request = std::move(request), reply = std::move(reply)]() mutable {
                if (alive.expired()) return reply(UploadIngestResult::failed("shutting down"));
                ingestUploadedFile(std::move(request), std::move(reply));
            });
        };
        remote->uploadPlaylists = [this, alive](ControlServerLink::PlaylistsReply reply) {
            if (alive.expired()) return reply({});
            mainQueue().post([this, alive, reply = std::move(reply)] {
                reply(alive.expired() ? std::vector<UploadPlaylistInfo>{} : uploadPlaylists());
            });
        };
        // Addresses reported while the server is stopped or still starting are dropped: its start sets them.
        remote->onInfoChange = [this, onMain](ServerInfo info) {
            onMain([this, info = std::move(info)] {
                if (controlServerInfo_) {
                    controlServerInfo_ = info;
                    notify(Aspect::controlServerInfo);
                }
            });
        };
        remote->onAdvertiseStatus = [this, onMain](AdvertiseStatus status) {
            onMain([this, status = std::move(status)] {
                bonjourStatus_ = status;
                notify(Aspect::controlServerInfo);
            });
        };
        remote->onClientsChanged = [this, onMain](int remotes, int companions) {
            onMain([this, remotes, companions] {
                wifiRemoteCount_ = remotes;
                companionCount_ = companions;
                updateRemoteCounts();
            });
        };
    }
    if (auto* remote = bleRemote()) {
        remote->perform = perform;
        remote->onClientsChanged = [this, onMain](int count) { onMain([this, count] {
            bleRemoteCount_ = count;
            updateRemoteCounts();
        }); };
        // A report that arrives while the remote is switched off (it is stopping) leaves the state as it was.
        remote->onStateChange = [this, onMain](bt::BluetoothState state) {
            onMain([this, state] {
                if (settings_.bleRemoteEnabled) {
                    bleState_ = state;
                    notify(Aspect::counts);
                }
            });
        };
    }
    if (auto* server = outputServer())
        server->onConnections = [this, onMain](int count) { onMain([this, count] {
            outputCount = count;
            syncStayAwake();
            notify(Aspect::counts);
        }); };
}

std::shared_ptr<const LiveSnapshot> AppState::liveSnapshot() {
    if (!snapshotHook) return nullptr;
    auto snapshot = snapshotHook();
    if (!snapshot) return nullptr;
    try {
        lastLive_ = LiveSnapshot::make(std::move(*snapshot), program.anchors());
    } catch (const EncodeError&) {
        return nullptr;  // the remotes keep the last good one
    }
    return lastLive_;
}

void AppState::pushSnapshot() {
    if (!controlServer() && !bleRemote()) return;
    const auto live = liveSnapshot();
    if (!live) return;
    if (auto* remote = controlServer()) remote->push(live);
    if (auto* remote = bleRemote()) remote->push(live);
}

void AppState::pushPlayheads() {
    if (!lastLive_ || (!controlServer() && !bleRemote())) return;
    lastLive_ = lastLive_->withAnchors(program.anchors());
    if (auto* remote = controlServer()) remote->updatePlayheads(lastLive_);
    if (auto* remote = bleRemote()) remote->updatePlayheads(lastLive_);
}

void AppState::refreshThumbIndex() {
    MediaIndex index;
    for (const MediaItem& m : library.media())
        if (m.thumbAt) index[m.id] = (Store::thumbnailDir() / (m.id + ".jpg")).string();
    if (auto* server = outputServer()) server->updateThumbIndex(index);
    if (auto* remote = controlServer()) remote->updateThumbIndex(index);
    if (auto* remote = bleRemote()) remote->updateThumbIndex(std::move(index));
}

void AppState::cascadeOfflineRescan() {
    if (env_.intake)
        env_.intake->cascadeOfflineRescan();
    else
        intake_->cascadeOfflineRescan();
}

void AppState::probeMissing() {
    if (env_.intake)
        env_.intake->probeMissing();
    else
        intake_->probeMissing();
}

std::optional<LayerId> AppState::primaryLayer() const {
    for (LayerId l : {LayerId::media, LayerId::audio, LayerId::overlay, LayerId::background})
        if (program.state().layers[l].active) return l;
    return std::nullopt;
}

void AppState::refreshOpenDisplays() {
    const auto open = displays_->openDisplays();
    openDisplayIDs_ = std::set<DisplayId>(open.begin(), open.end());
    syncStayAwake();
    notify(Aspect::openDisplays);
}

}  // namespace ombry
