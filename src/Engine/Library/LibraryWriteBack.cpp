// The library's write-back to its project document, offline media and relinking.
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

// Runs file-system work on its own low-priority thread and hands the result back on the main queue.
template <class R>
void offMainThread(std::function<R()> work, std::function<void(R)> then) {
    MainQueue* queue = &mainQueue();
    std::thread([queue, work = std::move(work), then = std::move(then)]() mutable {
        ::setpriority(PRIO_PROCESS, ::gettid(), 10);
        R result = work();
        queue->post([then = std::move(then), result = std::move(result)]() mutable { then(std::move(result)); });
    }).detach();
}

}  // namespace

ProjectDoc Library::document() const {
    return ProjectDoc{1, projectId_, projectName_, media_, groups_, stage_, appClock().wallMs()};
}

void Library::writeDoc() {
    if (!documentURL_) return;
    Store::saveDoc(document(), *documentURL_);
}

void Library::persist() {
    flushTask_.cancel();
    flushTask_ = {};
    writeDoc();
    if (!suppressChange_ && onChange) onChange();
}

void Library::setMetaCoalesced(const std::string& id, const Mutation& mutate) {
    MediaItem* m = find(id);
    if (!m) return;
    mutate(*m);
    mediaChanged();
    flushTask_.cancel();
    std::weak_ptr<bool> alive = alive_;
    flushTask_ = mainQueue().postAfter(coalesceSeconds, [this, alive] {
        if (alive.expired()) return;
        flushTask_ = {};
        writeDoc();
        if (!suppressChange_ && onChange) onChange();
    });
}

void Library::markOffline(const std::string& id) {
    if (offlineIds_.insert(id).second && onOfflineChange) onOfflineChange();
}

void Library::clearOffline(const std::string& id) {
    if (!offlineIds_.count(id)) return;
    std::set<std::string> next = offlineIds_;
    next.erase(id);
    setOfflineIds(std::move(next));
}

void Library::rescanOffline(std::function<void(bool)> done) {
    std::vector<std::pair<std::string, std::string>> snapshot;
    snapshot.reserve(media_.size());
    for (const auto& m : media_) snapshot.emplace_back(m.id, m.path);
    std::weak_ptr<bool> alive = alive_;
    offMainThread<std::set<std::string>>(
        [snapshot = std::move(snapshot)] {
            std::set<std::string> missing;
            for (const auto& [id, path] : snapshot) {
                std::error_code ec;
                if (!fs::exists(path, ec)) missing.insert(id);
            }
            return missing;
        },
        [this, alive, done = std::move(done)](std::set<std::string> missing) {
            if (alive.expired()) return;
            std::erase_if(missing, [&](const std::string& id) { return !item(id); });  // removed meanwhile
            setOfflineIds(std::move(missing));
            if (done) done(!offlineIds_.empty());
        });
}

bool Library::relink(const std::string& id, const std::string& newPath, bool persistNow, std::string* refused) {
    MediaItem* m = find(id);
    if (!m) return false;
    std::error_code ec;
    if (!fs::exists(newPath, ec)) return false;
    auto k = kind(newPath);
    if (!k || *k != m->kind) return false;
    if (auto why = refusal(newPath)) {
        if (refused) *refused = std::move(*why);
        return false;
    }
    m->path = newPath;
    m->name = fs::path(newPath).filename().string();
    m->duration.reset();
    m->width.reset();
    m->height.reset();
    m->fps.reset();
    m->sampleRate.reset();
    m->bitDepth.reset();
    m->channels.reset();
    m->probed = false;
    mediaChanged();
    clearOffline(id);
    if (persistNow) persist();
    return true;
}

void Library::autoRelink(const std::string& searchFolder, std::function<void(std::vector<MediaItem>)> done) {
    std::vector<std::string> offline;  // in media order
    std::set<std::string> names;
    for (const auto& m : media_) {
        if (!offlineIds_.count(m.id)) continue;
        offline.push_back(m.id);
        names.insert(fs::path(m.path).filename().string());
    }
    std::error_code ec;
    if (offline.empty() || !fs::is_directory(searchFolder, ec)) {
        if (done) mainQueue().post([done] { done({}); });
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    offMainThread<std::map<std::string, std::vector<std::string>>>(
        [names = std::move(names), folder = fs::path(searchFolder)] { return findFiles(names, folder); },
        [this, alive, offline = std::move(offline), done = std::move(done)](auto found) {
            if (alive.expired()) return;
            std::vector<MediaItem> relinked;
            for (const auto& id : offline) {
                const MediaItem* m = item(id);
                if (!m) continue;
                auto candidates = found.find(fs::path(m->path).filename().string());
                if (candidates == found.end()) continue;
                // A copy under a folder whose name is not UTF-8 could not be saved; another one may.
                std::erase_if(candidates->second, [](const std::string& p) { return refusal(p).has_value(); });
                if (candidates->second.empty()) continue;
                if (relink(id, bestMatch(m->path, candidates->second), false)) relinked.push_back(*item(id));
            }
            if (!relinked.empty()) persist();
            if (done) done(std::move(relinked));
        });
}

std::map<std::string, std::vector<std::string>> Library::findFiles(const std::set<std::string>& names,
                                                                   const fs::path& folder) {
    std::map<std::string, std::vector<std::string>> found;
    std::error_code ec;
    // Folder links are not followed, so a link loop or a link to "/" cannot run the walk away.
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    while (!ec && it != end) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(".")) {
            it.disable_recursion_pending();
        } else if (names.count(name)) {
            std::error_code sec;
            if (it->symlink_status(sec).type() == fs::file_type::regular && !sec)
                found[name].push_back(it->path().string());
        }
        it.increment(ec);
        if (ec && it != end) {  // an unreadable part of the tree is passed over
            ec.clear();
            it.pop(ec);
        }
    }
    return found;
}

std::string Library::bestMatch(const std::string& oldPath, const std::vector<std::string>& candidates) {
    if (candidates.size() == 1) return candidates[0];
    auto components = [](const std::string& p) {
        std::vector<std::string> parts;
        for (const auto& c : fs::path(p)) parts.push_back(c.string());
        return parts;
    };
    const auto old = components(oldPath);
    std::size_t bestIndex = 0, bestScore = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto cand = components(candidates[i]);
        std::size_t score = 0;
        while (score < old.size() && score < cand.size() &&
               old[old.size() - 1 - score] == cand[cand.size() - 1 - score])
            ++score;
        if (i == 0 || score > bestScore) {
            bestIndex = i;
            bestScore = score;
        }
    }
    return candidates[bestIndex];
}

}  // namespace ombry
