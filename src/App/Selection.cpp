// The clip selection of the board: command-click, shift-click, select all, and the actions of a card's
// context menu. Positions count in the visible clips, section after section.
#include <algorithm>

#include "App/AppState.hpp"

namespace ombry {

void AppState::setSearchText(std::string text) {
    if (text == searchText_) return;
    searchText_ = std::move(text);
    pruneClipSelection();
    notify(Aspect::search);
}

void AppState::selectAllVisible() {
    const auto visible = board::visibleIds(boardSections());
    selectedIds_ = std::set<std::string>(visible.begin(), visible.end());
    notify(Aspect::clipSelection);
}

void AppState::clearClipSelection() {
    selectedIds_.clear();
    selectionAnchorId_.reset();
    notify(Aspect::clipSelection);
}

void AppState::toggleClipSelection(const std::string& id) {
    selectionAnchorId_ = id;
    if (selectedIds_.erase(id)) {  // the primary clip stays, even when it is this one
        notify(Aspect::clipSelection);
        return;
    }
    selectedIds_.insert(id);
    notify(Aspect::clipSelection);
    setSelectedItemId(id);
}

void AppState::extendClipSelection(const std::string& to) {
    const auto visible = board::visibleIds(boardSections());
    auto position = [&](const std::string& id) { return std::find(visible.begin(), visible.end(), id); };
    const auto t = position(to);
    if (t == visible.end()) return;
    const std::optional<std::string> anchor = selectionAnchorId_ ? selectionAnchorId_ : selectedItemId_;
    const auto a = anchor ? position(*anchor) : visible.end();
    if (a != visible.end()) {
        // The range is added to what is selected, never replaces it.
        selectedIds_.insert(std::min(a, t), std::max(a, t) + 1);
    } else {
        selectedIds_.insert(to);
        selectionAnchorId_ = to;
    }
    notify(Aspect::clipSelection);
    setSelectedItemId(to);
}

void AppState::pruneClipSelection() {
    if (selectedIds_.empty()) return;
    const auto visible = board::visibleIds(boardSections());
    const std::set<std::string> shown(visible.begin(), visible.end());
    std::erase_if(selectedIds_, [&](const std::string& id) { return !shown.count(id); });
    if (selectionAnchorId_ && !selectedIds_.count(*selectionAnchorId_)) selectionAnchorId_.reset();
    notify(Aspect::clipSelection);
}

std::vector<std::string> AppState::contextTargets(const std::string& id) const {
    if (!selectedIds_.count(id) || selectedIds_.size() < 2) return {id};
    std::vector<std::string> targets = board::visibleIds(boardSections());
    std::erase_if(targets, [&](const std::string& v) { return !selectedIds_.count(v); });
    return targets;
}

void AppState::setItemLayer(const std::vector<std::string>& ids, std::optional<LayerId> layer) {
    for (const auto& id : ids) {
        if (const MediaItem* m = library.item(id); m && m->kind == MediaKind::audio) continue;
        library.setMeta(id, [&](MediaItem& m) { m.layer = layer; });
    }
}

void AppState::setItemFillMode(const std::vector<std::string>& ids, std::optional<FillMode> mode) {
    for (const auto& id : ids) {
        library.setMeta(id, [&](MediaItem& m) { m.fillMode = mode; });
        program.setActiveFillMode(id, mode);
    }
}

void AppState::setItemTransition(const std::string& id, std::optional<AppTransition> transition) {
    library.setMeta(id, [&](MediaItem& m) {
        m.transitionType.reset();
        if (!transition) return;
        switch (*transition) {
            case AppTransition::cut: m.transitionType = TransitionType::cut; break;
            case AppTransition::fade: m.transitionType = TransitionType::crossfade; break;
            case AppTransition::slide: m.transitionType = TransitionType::slide; break;
            case AppTransition::zoom: m.transitionType = TransitionType::zoom; break;
        }
    });
}

void AppState::setItemEndAction(const std::string& id, std::optional<EndAction> action) {
    library.setMeta(id, [&](MediaItem& m) {
        m.endAction = action;
        m.loop = action == EndAction::loop;
    });
}

void AppState::removeFromLibrary(const std::set<std::string>& ids) {
    // No layer may keep showing a clip the library no longer has.
    for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio})
        if (const auto& cue = program.state().layers[l].active; cue && ids.count(cue->mediaId)) program.clearLayer(l);
    for (const auto& id : ids) selectedIds_.erase(id);
    if (selectionAnchorId_ && ids.count(*selectionAnchorId_)) selectionAnchorId_.reset();
    notify(Aspect::clipSelection);
    if (selectedItemId_ && ids.count(*selectedItemId_)) setSelectedItemId(std::nullopt);
    library.remove(ids);
}

}  // namespace ombry
