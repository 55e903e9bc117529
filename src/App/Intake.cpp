// The application state's media intake: the engine of src/Engine/Intake over this project's library,
// registry and stage.
#include "App/AppState.hpp"
#include "Engine/Intake/MediaProbe.hpp"
#include "Platform/Uuid.hpp"

namespace ombry {

void AppState::makeIntake() {
    Intake::Environment env;
    env.probeLimit = probeLimit_;
    env.relinkFolder = [this] { return settings_.autoRelinkFolderPath; };
    intake_ = std::make_unique<Intake>(library, mediaRegistry_, mediaTombstones_, std::move(env));
    intake_->unusableFileMessage = &AppState::unusableFileMessage;
    wireImports();
    intake_->queueSequence = [this](DetectedSequence found, const std::optional<std::string>& deckTarget) {
        pendingSequenceImports_.push_back(
            {makeUuid(), std::move(found.frames), std::move(found.name), deckTarget, program.state().stage.fps});
        notify(Aspect::imports);
    };
    if (!env_.probeVideoCodec)
        env_.probeVideoCodec = [this](const std::string& path, std::function<void(std::optional<std::uint32_t>)> done) {
            intake_->runInBackground([path, done = std::move(done)] { done(media::probe::videoCodec(path)); });
        };
}

std::vector<MediaItem> AppState::addMedia(const std::vector<std::string>& paths,
                                          const std::optional<std::string>& deckTarget, bool announceUnsupported,
                                          bool detectSequences) {
    return intake_->addMedia(paths, deckTarget, announceUnsupported, detectSequences);
}

void AppState::ingestUploadedFile(UploadIngestRequest request, std::function<void(UploadIngestResult)> done) {
    intake_->ingestUploadedFile(std::move(request), std::move(done));
}

std::vector<UploadPlaylistInfo> AppState::uploadPlaylists() const {
    std::vector<UploadPlaylistInfo> out;
    for (const auto& g : library.groups()) out.push_back({g.id, g.name});
    return out;
}

void AppState::probeAndThumbnail(const MediaItem& item) { intake_->probeAndThumbnail(item); }
void AppState::scanIngestFolder() { intake_->scanIngestFolder(); }

}  // namespace ombry
