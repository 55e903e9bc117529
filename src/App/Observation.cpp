#include "App/Observation.hpp"

#include <array>
#include <vector>

namespace ombry {

std::string_view aspectName(Aspect aspect) {
    static constexpr std::array<std::string_view, aspectCount> names{
        "program", "clockEpoch", "groups", "media", "offlineIds", "sidebarSelection", "clipSelection",
        "settings", "serverInfo", "controlServerInfo", "counts", "cloudStatus", "cloudDownloads",
        "sequenceEncode", "meter", "masterVolume", "displays", "openDisplays", "playlistEditor",
        "pendingDeletion", "settingsSection", "issues", "savedPlaylists", "uiVisible", "preloaded", "imports",
        "project", "search"};
    const auto i = std::size_t(aspect);
    return i < names.size() ? names[i] : std::string_view("?");
}

Subscription ObserverList::observe(Observer fn) {
    const std::uint64_t id = next_++;
    (*observers_)[id] = std::make_shared<Observer>(std::move(fn));
    std::weak_ptr<Map> list = observers_;
    return Subscription([list, id] {
        if (auto l = list.lock()) l->erase(id);
    });
}

void ObserverList::notify(Aspect aspect) {
    // A snapshot of the ids: observers added during the call wait for the next notification.
    std::vector<std::uint64_t> ids;
    ids.reserve(observers_->size());
    for (const auto& [id, fn] : *observers_) ids.push_back(id);
    const auto keep = observers_;
    for (auto id : ids) {
        auto it = keep->find(id);
        if (it == keep->end()) continue;
        const auto fn = it->second;  // alive through the call even if it ends its own subscription
        (*fn)(aspect);
    }
}

}  // namespace ombry
