#pragma once
// How files enter the show: adding files and folders, taking received files into the managed media folder
// with content-hash de-duplication, and keeping every clip probed and thumbnailed. Main thread only; the
// media work runs on its own threads and comes back on the main queue.
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Engine/Intake/MediaIngest.hpp"
#include "Engine/Intake/ProbeGate.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Library/MediaRegistry.hpp"
#include "Platform/WorkerPool.hpp"

namespace ombry {

// What the sequence detector found in a batch of paths.
struct DetectedSequence {
    std::vector<std::string> frames;
    std::string name;
};

class Intake {
public:
    static constexpr std::size_t itemLimit = 1000;  // media items per project
    static constexpr int probeVersion = 2;

    struct Environment {
        int probeLimit = 1;
        std::function<std::optional<std::string>()> relinkFolder;    // where offline clips are looked for
    };

    Intake(Library& library, MediaRegistry& registry, MediaTombstones& tombstones, Environment env);
    ~Intake();
    Intake(const Intake&) = delete;
    Intake& operator=(const Intake&) = delete;

    // Routes the deck and sequence imports fill in. Without them a PDF is dropped and no sequence is
    // detected; `expand` defaults to expandFolder.
    std::function<void(const std::string& pdfPath, const std::optional<std::string>& deckTarget)> routeDeck;
    std::function<std::vector<std::string>(const std::string& path)> expand;
    std::function<std::optional<DetectedSequence>(const std::vector<std::string>& paths)> detectSequence;
    // A detected run, left out of the batch, for the operator's answer (with the batch's deck target).
    std::function<void(DetectedSequence sequence, const std::optional<std::string>& deckTarget)> queueSequence;
    // The text of the "couldn't be added" alert for these paths (the application state's wording).
    std::function<std::string(const std::vector<std::string>& paths)> unusableFileMessage;
    // After a probe's result is in the library (in the order the probes finish).
    std::function<void(const std::string& mediaId)> onProbed;
    // After a prompt or an alert changed.
    std::function<void()> onChange;

    // Questions for the operator; the window chrome shows and clears them.
    const std::optional<std::string>& unsupportedFilePrompt() const { return unsupportedFilePrompt_; }
    void clearUnsupportedFilePrompt() { unsupportedFilePrompt_.reset(); }
    const std::optional<std::string>& capacityAlert() const { return capacityAlert_; }
    void clearCapacityAlert() { capacityAlert_.reset(); }
    void raiseCapacityAlert(std::string text) { announce(std::move(text), capacityAlert_); }
    bool rescanInFlight() const { return rescanInFlight_; }
    ProbeGate& probeGate() { return gate_; }
    // Items with a probe started and not yet in the library.
    std::size_t probesInFlight() const { return probing_.size(); }
    // Runs blocking media work on the probe threads.
    void runInBackground(std::function<void()> job) { probePool_.submit(std::move(job)); }

    // Adding files and folders (folders one level deep): decks and numbered runs go to their imports,
    // other usable files become clips (new ones first in the library) and get probed. Returns the new
    // items in path order.
    std::vector<MediaItem> addMedia(const std::vector<std::string>& paths, const std::optional<std::string>& deckTarget,
                                    bool announceUnsupported, bool detectSequences);
    // A folder's entries not starting with "." (the folder itself when it cannot be listed); else the path.
    static std::vector<std::string> expandFolder(const std::string& path);

    // Takes a landed file in (it is moved into the media folder or deleted, whatever happens); `done` gets
    // the clip or the sentence for the sender, on the main queue.
    void ingestUploadedFile(UploadIngestRequest request, std::function<void(UploadIngestResult)> done);
    // A file already in the media folder as a clip: origin, hash, name, registry and playlist.
    UploadIngestResult ingestMediaFile(const std::filesystem::path& file,
                                       const std::optional<MediaIngest::Manifest>& manifest, MediaOrigin origin,
                                       const std::optional<std::string>& contentHash);
    // Start-up: clears what earlier runs left in the incoming folder and finishes interrupted ingests.
    // Entries written since this object was made (uploads already streaming) are left alone.
    void scanIngestFolder();

    // Probing.
    void probeAndThumbnail(const MediaItem& item, std::function<void()> done = {});
    void probeMissing();
    void cascadeOfflineRescan();

private:
    void announce(std::string text, std::optional<std::string>& slot);
    std::optional<std::filesystem::path> moveIntoMediaFolder(const std::filesystem::path& temp, const std::string& name);
    void place(const std::string& mediaId, const MediaIngest::Manifest& manifest);

    Library& library_;
    MediaRegistry& registry_;
    MediaTombstones& tombstones_;
    Environment env_;
    ProbeGate gate_;
    std::filesystem::file_time_type createdAt_;
    std::optional<std::string> unsupportedFilePrompt_;
    std::optional<std::string> capacityAlert_;
    std::set<std::string> probing_;  // ids with a probe under way
    bool rescanInFlight_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Last: destroyed (and joined) first, while the rest is still here.
    WorkerPool hashPool_;
    WorkerPool probePool_;
};

}  // namespace ombry
