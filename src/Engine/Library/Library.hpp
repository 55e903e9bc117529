#pragma once
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "Engine/Library/ProjectDoc.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Platform/MainQueue.hpp"

namespace ombry {

// The open project: its media items, playlists, offline items, identity and stage. One for the life of the
// process; opening another project adopts its document into it. Main thread only.
//
// Every edit writes the project document at once and then calls onChange; probe results
// (setMetaCoalesced) are written 0.4 s after the last of a burst.
class Library {
public:
    using Mutation = std::function<void(MediaItem&)>;

    static constexpr const char* defaultGroupColor = "#5f6670";
    static constexpr double coalesceSeconds = 0.4;
    // The lower-case file extensions of each media kind.
    static inline const std::set<std::string> videoExt{"mp4", "m4v", "mov", "webm", "mkv", "ogv"};
    static inline const std::set<std::string> imageExt{"png", "jpg", "jpeg", "gif", "webp", "bmp", "svg", "avif"};
    static inline const std::set<std::string> audioExt{"mp3", "m4a", "aac", "wav", "flac", "ogg", "oga"};

    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Called after each write that is not part of an adopt's repairs.
    std::function<void()> onChange;
    // After the set of offline items changed (marks are not written to the project).
    std::function<void()> onOfflineChange;

    // Observable state. The setters never write the document.
    const std::vector<MediaItem>& media() const { return media_; }
    const std::vector<Group>& groups() const { return groups_; }
    const std::set<std::string>& offlineIds() const { return offlineIds_; }
    const std::optional<std::filesystem::path>& documentURL() const { return documentURL_; }
    const std::string& projectId() const { return projectId_; }
    const std::string& projectName() const { return projectName_; }
    const std::optional<StageConfig>& stage() const { return stage_; }
    void setMedia(std::vector<MediaItem> media);
    void setGroups(std::vector<Group> groups) { groups_ = std::move(groups); }
    // Ids that leave the set have their issues resolved (their file came back).
    void setOfflineIds(std::set<std::string> ids);
    void setProjectId(std::string id) { projectId_ = std::move(id); }
    void setProjectName(std::string name) { projectName_ = std::move(name); }
    void setStage(std::optional<StageConfig> stage) { stage_ = std::move(stage); }

    // The first item with this id. The pointer is valid until the next change of the media.
    const MediaItem* item(const std::string& id) const;
    // Every item's file path by id.
    std::map<std::string, std::string> mediaIndex() const;
    // The kind of a file from its extension, or nothing.
    static std::optional<MediaKind> kind(const std::filesystem::path& path);
    // Why this file may not enter the library, as a sentence naming it; nothing when it may. A path that is
    // not UTF-8 could never be written into the project document, so every way in (adding, dropping,
    // relinking, pasting, uploads) asks this first.
    static std::optional<std::string> refusal(const std::filesystem::path& path);
    // Without leading and trailing tabs and Unicode spaces; line breaks stay.
    static std::string trimSpaces(std::string s);

    // Items and playlists. Unknown ids do nothing. Files refused by `refusal` are left out, their
    // sentences appended to `refused` when given.
    std::vector<MediaItem> add(const std::vector<std::string>& paths, std::vector<std::string>* refused = nullptr);
    void reorder(const std::vector<std::string>& ids);
    void remove(const std::set<std::string>& ids);
    std::optional<MediaItem> duplicate(const std::string& id);
    void setMeta(const std::string& id, const Mutation& mutate);
    Group createGroup(const std::optional<std::string>& name = std::nullopt,
                      const std::optional<std::string>& color = std::nullopt,
                      const std::optional<std::string>& icon = std::nullopt);
    void moveGroups(const std::set<std::size_t>& fromOffsets, std::size_t toOffset);
    void updateGroup(const Group& group);
    void deleteGroup(const std::string& id);
    void addToGroup(const std::string& groupId, const std::string& mediaId);
    void removeFromGroup(const std::string& groupId, const std::string& mediaId);
    Group importGroup(const std::string& name, const std::optional<std::string>& color,
                      const std::optional<std::string>& icon, const std::optional<std::string>& emoji,
                      const std::vector<MediaItem>& templates, std::vector<std::string>* refused = nullptr);
    // Makes the document the open project (repairing shared slots, duplicate ids and orders).
    void adopt(const ProjectDoc& doc, const std::filesystem::path& url, bool fireChange);

    // Write-back.
    void writeDoc();
    ProjectDoc document() const;
    void setMetaCoalesced(const std::string& id, const Mutation& mutate);

    // Offline media and relinking.
    void markOffline(const std::string& id);
    void clearOffline(const std::string& id);
    // Tests every item's file off the main thread; `done` gets whether any item is offline.
    void rescanOffline(std::function<void(bool)> done = {});
    // False, with the reason in `refused` when the new file is refused by `refusal`.
    bool relink(const std::string& id, const std::string& newPath, bool persist, std::string* refused = nullptr);
    // Looks for the offline items' files by name under the folder (off the main thread); `done` gets the
    // relinked items.
    void autoRelink(const std::string& searchFolder, std::function<void(std::vector<MediaItem>)> done = {});

    // Regular files with the wanted names under the folder, hidden entries and folder links skipped.
    static std::map<std::string, std::vector<std::string>> findFiles(const std::set<std::string>& names,
                                                                     const std::filesystem::path& folder);
    // The candidate sharing the most trailing path components with the old path (the first on a tie).
    static std::string bestMatch(const std::string& oldPath, const std::vector<std::string>& candidates);

private:
    void persist();
    void mediaChanged() { indexCache_.reset(); }
    MediaItem* find(const std::string& id);
    double lowestOrder() const;
    bool copyThumbnail(const std::string& fromId, const std::string& toId) const;
    bool repairDuplicateIds();
    bool splitSharedReferences();
    bool normalizeOrders();

    std::vector<MediaItem> media_;
    std::vector<Group> groups_;
    mutable std::optional<std::unordered_map<std::string, std::size_t>> indexCache_;
    std::set<std::string> offlineIds_;
    std::optional<std::filesystem::path> documentURL_;
    std::string projectId_;
    std::string projectName_ = "Untitled";
    std::optional<StageConfig> stage_;
    bool suppressChange_ = false;
    TaskHandle flushTask_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // held weakly by deferred work
};

}  // namespace ombry
