#include "Engine/Intake/Intake.hpp"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <time.h>

#include <algorithm>
#include <chrono>

#include "Engine/Intake/ContentHash.hpp"
#include "Engine/Intake/MediaProbe.hpp"
#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

void removeQuietly(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

// The kernel stamps files from its coarse clock: a file written after this moment never carries an earlier
// time. At full precision, so that what an earlier run left in this very second still counts as earlier.
fs::file_time_type now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const auto since = std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    return std::chrono::file_clock::from_sys(
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(since)));
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT) == 0;
}

}  // namespace

Intake::Intake(Library& library, MediaRegistry& registry, MediaTombstones& tombstones, Environment env)
    : library_(library),
      registry_(registry),
      tombstones_(tombstones),
      env_(std::move(env)),
      gate_(env_.probeLimit),
      createdAt_(now()),
      hashPool_(2, "ingest-hash", 10),
      probePool_(env_.probeLimit, "media-probe", 5) {
    expand = expandFolder;
}

Intake::~Intake() { *alive_ = false; }

void Intake::announce(std::string text, std::optional<std::string>& slot) {
    slot = std::move(text);
    if (onChange) onChange();
}

// ---- Adding media ----

std::vector<std::string> Intake::expandFolder(const std::string& path) {
    if (!isFolder(path)) return {path};
    std::vector<std::string> out;
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec) return {path};
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(".")) out.push_back((fs::path(path) / name).string());
    }
    return out;
}

std::vector<MediaItem> Intake::addMedia(const std::vector<std::string>& paths,
                                        const std::optional<std::string>& deckTarget, bool announceUnsupported,
                                        bool detectSequences) {
    std::vector<std::string> list;
    for (const auto& p : paths) {
        if (media::probe::lowerExtension(p) == "pdf") {
            if (routeDeck) routeDeck(p, deckTarget);
        } else {
            list.push_back(p);
        }
    }
    if (std::any_of(list.begin(), list.end(), isFolder)) {
        std::vector<std::string> expanded;
        for (const auto& p : list) {
            auto entries = expand ? expand(p) : expandFolder(p);
            expanded.insert(expanded.end(), entries.begin(), entries.end());
        }
        list = std::move(expanded);
    }
    if (detectSequences && announceUnsupported && detectSequence) {
        if (auto found = detectSequence(list)) {
            const std::set<std::string> frames(found->frames.begin(), found->frames.end());
            std::erase_if(list, [&](const std::string& p) { return frames.count(p) > 0; });
            if (queueSequence) queueSequence(std::move(*found), deckTarget);
        }
    }
    // By extension only; a folder left over (one that could not be listed, or came out of one) is unusable too.
    std::vector<std::string> unusable;
    std::erase_if(list, [&](const std::string& p) {
        if (Library::kind(p) && !isFolder(p)) return false;
        unusable.push_back(p);
        return true;
    });
    // This call's own alert: a prompt left unanswered from an earlier call is replaced, not added to.
    bool prompted = false;
    if (announceUnsupported && !unusable.empty() && unusableFileMessage) {
        announce(unusableFileMessage(unusable), unsupportedFilePrompt_);
        prompted = true;
    }

    const std::size_t room = itemLimit > library_.media().size() ? itemLimit - library_.media().size() : 0;
    const std::size_t take = std::min(room, list.size());
    if (take < list.size()) {
        const std::string limit = std::to_string(itemLimit);
        announce(take > 0 ? "Added " + std::to_string(take) + " of " + std::to_string(list.size()) +
                                " files \u2014 a project holds up to " + limit + " media items."
                          : "This project is full \u2014 a project holds up to " + limit + " media items.",
                 capacityAlert_);
        list.resize(take);
    }

    std::vector<std::string> refused;  // names that are not UTF-8
    std::vector<MediaItem> added = library_.add(list, &refused);
    if (announceUnsupported && !refused.empty()) {
        std::string text = prompted ? unsupportedFilePrompt_.value_or("") : std::string();
        for (const auto& r : refused) text += (text.empty() ? "" : " ") + r;
        announce(std::move(text), unsupportedFilePrompt_);
    }
    std::weak_ptr<bool> alive = alive_;
    for (const auto& item : added)
        mainQueue().post([this, alive, item] {
            if (!alive.expired()) probeAndThumbnail(item);
        });
    return added;
}

// ---- Ingest ----

void Intake::ingestUploadedFile(UploadIngestRequest request, std::function<void(UploadIngestResult)> done) {
    const std::string name = MediaIngest::sanitizedFilename(request.originalFilename);
    const fs::path temp = request.tempPath;
    const auto kind = Library::kind(name);
    if (!kind) {
        removeQuietly(temp);
        done(UploadIngestResult::failed("unsupported file type"));
        return;
    }
    struct Checked {
        bool valid = false;
        std::optional<std::string> hash;
    };
    std::weak_ptr<bool> alive = alive_;
    MainQueue* queue = &mainQueue();
    const std::atomic<bool>* stop = &hashPool_.stopFlag();
    hashPool_.submit([=, this, request = std::move(request), done = std::move(done)]() mutable {
        Checked checked;
        // The kind's checks go by the cleaned name's extension, whatever the temporary file is called.
        checked.valid = MediaProbe::validates(temp, *kind, media::probe::lowerExtension(name));
        if (checked.valid) checked.hash = ContentHash::sha256(temp, stop);
        queue->post([=, this, request = std::move(request), done = std::move(done)] {
            if (alive.expired()) return;
            if (!checked.valid) {
                removeQuietly(temp);
                done(UploadIngestResult::failed("file does not contain readable " + std::string(rawValue(*kind)) + " data"));
                return;
            }
            const MediaIngest::Manifest manifest{request.displayName, request.playlistId, request.newPlaylistName};
            if (checked.hash)
                if (auto existing = registry_.existingFile(*checked.hash)) {
                    removeQuietly(temp);
                    done(ingestMediaFile(*existing, manifest, request.origin, checked.hash));
                    return;
                }
            auto dest = moveIntoMediaFolder(temp, name);
            if (!dest) {
                done(UploadIngestResult::failed("MED-05 \u2014 the host couldn't store this file"));
                return;
            }
            MediaIngest::writeManifest(manifest, *dest);  // without it the ingest still goes on
            UploadIngestResult result = ingestMediaFile(*dest, manifest, request.origin, checked.hash);
            if (result.ok) removeQuietly(MediaIngest::sideFile(*dest));
            done(std::move(result));
        });
    });
}

std::optional<fs::path> Intake::moveIntoMediaFolder(const fs::path& temp, const std::string& name) {
    const fs::path dest = MediaIngest::uniqueDestination(name, Store::mediaDir());
    std::error_code ec;
    fs::rename(temp, dest, ec);
    if (ec == std::errc::cross_device_link) {
        ec.clear();
        fs::copy_file(temp, dest, ec);
        if (ec) removeQuietly(dest);
    }
    removeQuietly(temp);
    if (!ec) return dest;
    IssueLog::shared().report(IssueCode::mediaStoreFailed, name, ec.message(), true);
    return std::nullopt;
}

UploadIngestResult Intake::ingestMediaFile(const fs::path& file, const std::optional<MediaIngest::Manifest>& manifest,
                                           MediaOrigin origin, const std::optional<std::string>& contentHash) {
    const auto items = addMedia({file.string()}, std::nullopt, false, true);
    if (items.empty()) return UploadIngestResult::failed("unsupported or unreadable file");
    const MediaItem& item = items.front();
    const std::optional<std::string> displayName =
        manifest && manifest->displayName && !manifest->displayName->empty() ? manifest->displayName : std::nullopt;
    library_.setMeta(item.id, [&](MediaItem& m) {
        m.origin = origin;
        m.contentHash = contentHash;
        if (displayName) m.name = *displayName;
    });
    if (contentHash) {
        registry_.registerFile(*contentHash, file, origin);
        registry_.save();
        if (tombstones_.hashes.erase(*contentHash)) tombstones_.save();
    }
    if (manifest) place(item.id, *manifest);
    // Never an empty name: a blank display name reports the file's name, as the clip shows it.
    return UploadIngestResult::success(item.id, displayName.value_or(item.name));
}

void Intake::place(const std::string& mediaId, const MediaIngest::Manifest& manifest) {
    const auto& groups = library_.groups();
    if (manifest.playlistId)
        for (const auto& g : groups)
            if (g.id == *manifest.playlistId) return library_.addToGroup(g.id, mediaId);
    if (!manifest.newPlaylistName || manifest.newPlaylistName->empty()) return;
    for (const auto& g : groups)
        if (sameIgnoringCase(g.name, *manifest.newPlaylistName)) return library_.addToGroup(g.id, mediaId);
    const Group created = library_.createGroup(*manifest.newPlaylistName);
    library_.addToGroup(created.id, mediaId);
}

void Intake::scanIngestFolder() {
    // What earlier runs left half received is discarded; what is arriving now (written since this object
    // was made, before any server could accept an upload) is not.
    std::error_code ec;
    for (fs::directory_iterator it(Store::mediaIncomingDir(), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code tec;
        const auto written = fs::symlink_status(it->path(), tec).type() == fs::file_type::directory
                                 ? fs::file_time_type::min()
                                 : fs::last_write_time(it->path(), tec);
        if (tec || written < createdAt_) fs::remove_all(it->path(), tec);
    }

    std::set<std::string> clipPaths;
    for (const auto& m : library_.media()) clipPaths.insert(m.path);
    std::vector<fs::directory_entry> entries;
    ec.clear();
    for (fs::directory_iterator it(Store::mediaDir(), ec), end; !ec && it != end; it.increment(ec))
        if (!it->path().filename().string().starts_with(".")) entries.push_back(*it);
    for (const auto& entry : entries) {
        const fs::path file = entry.path();
        const std::string name = file.filename().string();
        if (MediaIngest::isSideFile(name) || !Library::kind(file)) continue;
        std::error_code fec;
        if (!entry.is_regular_file(fec)) continue;
        const fs::path side = MediaIngest::sideFile(file);
        if (!fs::exists(side, fec)) continue;
        if (clipPaths.count(file.string())) {
            removeQuietly(side);
            continue;
        }
        const auto hash = ContentHash::sha256(file);
        if (hash && tombstones_.hashes.count(*hash)) {
            removeQuietly(file);
            removeQuietly(side);
            continue;
        }
        const auto manifest = MediaIngest::readManifest(file);
        if (ingestMediaFile(file, manifest, MediaOrigin::upload, hash).ok) removeQuietly(side);
    }
}

// ---- Probing ----

void Intake::probeAndThumbnail(const MediaItem& item, std::function<void()> done) {
    std::weak_ptr<bool> alive = alive_;
    probing_.insert(item.id);
    gate_.acquire([this, alive, item, done = std::move(done)]() mutable {
        if (alive.expired()) return;
        MainQueue* queue = &mainQueue();
        probePool_.submit([this, alive, queue, item, done = std::move(done)]() mutable {
            const auto meta = MediaProbe::metadata(item.path, item.kind);
            const bool thumb = MediaProbe::thumbnail(item.path, item.kind, item.id);
            queue->post([this, alive, item, meta, thumb, done = std::move(done)] {
                if (alive.expired()) return;
                const double now = appClock().wallMs();
                library_.setMetaCoalesced(item.id, [&](MediaItem& m) {
                    if (meta.duration) m.duration = meta.duration;
                    if (meta.width) m.width = *meta.width;
                    if (meta.height) m.height = *meta.height;
                    if (meta.fps) m.fps = meta.fps;
                    if (meta.sampleRate) m.sampleRate = *meta.sampleRate;
                    if (meta.bitDepth) m.bitDepth = *meta.bitDepth;
                    if (meta.channels) m.channels = *meta.channels;
                    m.probed = true;
                    m.probeVersion = probeVersion;
                    if (thumb) m.thumbAt = now;
                });
                probing_.erase(item.id);
                // The slot goes back as a task of its own, after the library holds the result.
                mainQueue().post([this, alive] {
                    if (!alive.expired()) gate_.release();
                });
                if (onProbed) onProbed(item.id);
                if (done) done();
            });
        });
    });
}

void Intake::probeMissing() {
    std::weak_ptr<bool> alive = alive_;
    for (const auto& m : library_.media()) {
        if (library_.offlineIds().count(m.id) || probing_.count(m.id)) continue;
        bool thumbMissing = false;
        if (m.thumbAt) {
            std::error_code ec;
            thumbMissing = !fs::exists(MediaProbe::thumbnailFile(m.id), ec);
        }
        if (m.probed == true && m.probeVersion && *m.probeVersion >= probeVersion && !thumbMissing) continue;
        probing_.insert(m.id);
        mainQueue().post([this, alive, item = m] {
            if (!alive.expired()) probeAndThumbnail(item);
        });
    }
}

void Intake::cascadeOfflineRescan() {
    if (rescanInFlight_) return;
    rescanInFlight_ = true;
    std::weak_ptr<bool> alive = alive_;
    mainQueue().post([this, alive] {
        if (alive.expired()) return;
        library_.rescanOffline([this, alive](bool anyOffline) {
            if (alive.expired()) return;
            const auto folder = env_.relinkFolder ? env_.relinkFolder() : std::nullopt;
            if (!anyOffline || !folder) {
                rescanInFlight_ = false;
                return;
            }
            library_.autoRelink(*folder, [this, alive](std::vector<MediaItem> relinked) {
                if (alive.expired()) return;
                for (auto& item : relinked)
                    mainQueue().post([this, alive, item] {
                        if (!alive.expired()) probeAndThumbnail(item);
                    });
                rescanInFlight_ = false;
            });
        });
    });
}

}  // namespace ombry
