// What the managed media folder holds and who uses it, the files the project only references, deleting a
// managed file, and the space the application occupies. Every file-system error is absorbed.
#include <sys/stat.h>
#include <unicode/coll.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <mutex>

#include "App/AppState.hpp"
#include "Engine/Library/Store.hpp"

namespace ombry {

namespace fs = std::filesystem;

namespace {

// The folder as a comparable value: dot segments resolved, no trailing separator.
fs::path normalFolder(const fs::path& p) {
    fs::path n = p.lexically_normal();
    if (!n.has_filename() && n.has_relative_path()) n = n.parent_path();
    return n;
}

// The managed file name a path uses: its last component, when it lies directly in the media folder.
std::optional<std::string> managedName(const std::string& path, const fs::path& mediaFolder) {
    const fs::path p = fs::path(path).lexically_normal();
    if (!p.has_filename() || normalFolder(p.parent_path()) != mediaFolder) return std::nullopt;
    return p.filename().string();
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::int64_t sizeOf(const fs::path& p) {
    std::error_code ec;
    const auto n = fs::file_size(p, ec);
    return ec ? 0 : std::int64_t(n);
}

// What another project's document names, kept while its file stays the same one, unchanged: the storage
// pane lists again after every action, and reading every recent project each time is what takes long.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0, seconds = 0, nanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

struct ProjectManagedFiles {
    FileIdentity identity;
    fs::path mediaFolder;
    std::string name;
    std::set<std::string> files;
};
std::mutex projectFilesMutex;
std::map<std::string, ProjectManagedFiles> projectFiles;

}  // namespace

std::map<std::string, std::set<std::string>> AppState::otherProjectManagedFilenames() const {
    const fs::path media = normalFolder(Store::mediaDir());
    std::map<std::string, std::set<std::string>> users;
    std::lock_guard lock(projectFilesMutex);
    for (const auto& entry : projects_->recentsStore().recents) {
        if (entry.id == projects_->currentProjectId()) continue;
        const auto identity = identityOf(entry.path);
        if (!identity) {
            projectFiles.erase(entry.path);
            continue;
        }
        auto known = projectFiles.find(entry.path);
        if (known == projectFiles.end() || known->second.identity != *identity || known->second.mediaFolder != media) {
            const auto doc = Store::readDoc<ProjectDoc>(entry.path).value;
            if (!doc) {
                projectFiles.erase(entry.path);
                continue;
            }
            ProjectManagedFiles read{*identity, media, doc->name, {}};
            for (const auto& item : doc->media)
                if (auto name = managedName(item.path, media)) read.files.insert(*name);
            known = projectFiles.insert_or_assign(entry.path, std::move(read)).first;
        }
        for (const auto& name : known->second.files) users[name].insert(known->second.name);
    }
    return users;
}

std::vector<DownloadedMediaFile> AppState::downloadedMediaFiles() const {
    const fs::path media = normalFolder(Store::mediaDir());
    std::vector<DownloadedMediaFile> files;
    std::error_code ec;
    fs::directory_iterator it(Store::mediaDir(), ec);
    if (ec) return files;

    std::map<std::string, std::vector<const MediaItem*>> current;
    for (const auto& item : library.media())
        if (auto name = managedName(item.path, media)) current[*name].push_back(&item);
    auto others = otherProjectManagedFilenames();
    for (const auto& name : savedPlaylists_->savedPlaylistManagedFilenames()) others[name].insert(savedPlaylistsLabel);

    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        const std::string name = p.filename().string();
        if (name.empty() || name[0] == '.') continue;
        if (endsWith(name, ".obingest.json") || p.extension() == ".tmp" || !Library::kind(p)) continue;
        std::error_code sec;
        if (it->symlink_status(sec).type() != fs::file_type::regular || sec) continue;
        DownloadedMediaFile f;
        f.url = p;
        f.filename = name;
        const auto size = it->file_size(sec);
        f.size = sec ? 0 : std::int64_t(size);
        if (auto users = current.find(name); users != current.end()) {
            for (const MediaItem* m : users->second) f.currentItemIds.push_back(m->id);
            f.origin = users->second.front()->origin;
        }
        if (!f.origin) f.origin = mediaRegistry_.origin(name);
        if (auto o = others.find(name); o != others.end()) f.otherProjects.assign(o->second.begin(), o->second.end());
        files.push_back(std::move(f));
    }
    std::stable_sort(files.begin(), files.end(), [](const DownloadedMediaFile& a, const DownloadedMediaFile& b) {
        const bool au = !a.currentItemIds.empty(), bu = !b.currentItemIds.empty();
        if (au != bu) return au;
        return a.size > b.size;
    });
    return files;
}

std::vector<ReferencedMediaFile> AppState::referencedMediaFiles() const {
    const fs::path media = normalFolder(Store::mediaDir());
    std::vector<ReferencedMediaFile> files;
    for (const auto& item : library.media()) {
        if (normalFolder(fs::path(item.path).lexically_normal().parent_path()) == media) continue;
        files.push_back({item.id, item.name, item.path, sizeOf(item.path), library.offlineIds().count(item.id) > 0});
    }
    UErrorCode status = U_ZERO_ERROR;
    // The C locale's collation orders by code point, capitals first: it stands for no language at all.
    icu::Locale language = icu::Locale::getDefault();
    if (std::string_view(language.getVariant()) == "POSIX") language = icu::Locale::getRoot();
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(language, status));
    if (U_FAILURE(status) || !collator) {
        std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        return files;
    }
    // Letters that differ only in case compare equal; accents still count.
    collator->setStrength(icu::Collator::SECONDARY);
    std::vector<icu::UnicodeString> keys;
    std::vector<std::size_t> order(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        keys.push_back(icu::UnicodeString::fromUTF8(files[i].name));
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        UErrorCode ec = U_ZERO_ERROR;
        return collator->compare(keys[a], keys[b], ec) == UCOL_LESS;
    });
    std::vector<ReferencedMediaFile> sorted;
    sorted.reserve(files.size());
    for (std::size_t i : order) sorted.push_back(std::move(files[i]));
    return sorted;
}

void AppState::deleteDownloadedFile(const DownloadedMediaFile& file) {
    // Only ever a file directly in the media folder, named as the record says.
    const fs::path url = file.url.lexically_normal();
    if (file.filename.empty() || url.filename() != file.filename ||
        normalFolder(url.parent_path()) != normalFolder(Store::mediaDir()))
        return;
    std::optional<std::string> hash;
    for (const auto& id : file.currentItemIds)
        if (const MediaItem* m = library.item(id); m && m->contentHash) {
            hash = m->contentHash;
            break;
        }
    // Clears the program layers showing them too, so nothing on air plays a file that is about to go.
    if (!file.currentItemIds.empty())
        removeFromLibrary(std::set<std::string>(file.currentItemIds.begin(), file.currentItemIds.end()));
    std::error_code ec;
    fs::remove(url, ec);
    mediaRegistry_.removeByFilename(file.filename);
    mediaRegistry_.save();
    if (hash) {
        mediaTombstones_.hashes.insert(*hash);
        mediaTombstones_.save();
    }
}

std::int64_t AppState::managedStorageBytes() const {
    return directorySize(Store::mediaDir(), {Store::mediaIncomingDir().filename().string()}) +
           directorySize(Store::thumbnailDir(), {});
}

std::int64_t AppState::directorySize(const fs::path& dir, const std::set<std::string>& skipping) {
    std::int64_t total = 0;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return 0;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        if (skipping.count(it->path().filename().string())) continue;
        std::error_code sec;
        if (it->symlink_status(sec).type() != fs::file_type::regular || sec) continue;
        const auto size = it->file_size(sec);
        if (!sec) total += std::int64_t(size);
    }
    return total;
}

}  // namespace ombry
