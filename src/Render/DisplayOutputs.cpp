#include "Render/DisplayOutputs.hpp"

#include "Engine/Model/Issues.hpp"

namespace ombry {

DisplayOutputManager::DisplayOutputManager(ScreenProvider& screens) : screens_(screens) {
    screens_.onScreensChanged = [this] { screensChanged(); };
}

DisplayOutputManager::~DisplayOutputManager() {
    screens_.onScreensChanged = nullptr;
    pending_.cancel();
    for (auto& [id, window] : windows_) window->close();
}

std::vector<DisplayOutputManager::DisplayInfo> DisplayOutputManager::displays() const {
    std::vector<DisplayInfo> list;
    for (const auto& s : screens_.screens()) {
        if (!s.id) continue;
        list.push_back({*s.id, s.name, int(double(s.frame.width) * s.scale), int(double(s.frame.height) * s.scale),
                        s.primary});
    }
    return list;
}

std::optional<DisplayScreen> DisplayOutputManager::screen(DisplayId id) const {
    for (auto& s : screens_.screens())
        if (s.id == id) return s;
    return std::nullopt;
}

void DisplayOutputManager::open(DisplayId id) {
    if (windows_.count(id)) return;
    auto s = screen(id);
    if (!s) {
        IssueLog::shared().report(IssueCode::displayOpenFailed, std::nullopt, std::nullopt, true);
        return;
    }
    std::unique_ptr<DisplayWindow> window = factory_ ? factory_->create(*s) : nullptr;
    if (!window) {
        IssueLog::shared().report(IssueCode::displayOpenFailed, s->name, std::nullopt, true);
        return;
    }
    windows_[id] = std::move(window);
    names_[id] = s->name;
    IssueLog::shared().resolve(IssueCode::displayOpenFailed);
}

void DisplayOutputManager::close(DisplayId id) {
    auto it = windows_.find(id);
    if (it == windows_.end()) return;
    // Out of the table first: closing may run toolkit code that calls back into the manager.
    auto window = std::move(it->second);
    windows_.erase(it);
    names_.erase(id);
    window->close();
}

std::vector<DisplayId> DisplayOutputManager::openDisplays() const {
    std::vector<DisplayId> ids;
    for (const auto& [id, window] : windows_) ids.push_back(id);
    return ids;
}

DisplayWindow* DisplayOutputManager::window(DisplayId id) const {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second.get();
}

void DisplayOutputManager::screensChanged() {
    // A burst of changes (a screen unplugged, another plugged in) leads to one reconciliation.
    if (screenChangePending_) return;
    screenChangePending_ = true;
    pending_ = mainQueue().postAfter(reconcileDelay, [this] {
        screenChangePending_ = false;
        reconcile();
    });
}

void DisplayOutputManager::reconcile() {
    const auto current = screens_.screens();
    auto find = [&](DisplayId id) -> const DisplayScreen* {
        for (auto& s : current)
            if (s.id == id) return &s;
        return nullptr;
    };
    std::vector<DisplayId> lost;
    for (const auto& [id, window] : windows_)
        if (!find(id)) lost.push_back(id);
    std::vector<std::string> names;
    for (DisplayId id : lost) {
        auto it = names_.find(id);
        names.push_back(it != names_.end() && !it->second.empty() ? it->second : "Display");
    }
    for (DisplayId id : lost) close(id);
    for (auto& [id, window] : windows_) {
        const DisplayScreen* s = find(id);
        if (s && window->frame() != s->frame) window->setFrame(s->frame);
    }
    if (!names.empty() && onDisplaysLost) onDisplaysLost(names);
    if (onDisplaysChanged) onDisplaysChanged();
}

}  // namespace ombry
