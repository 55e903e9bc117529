// Keyboard control of the show and the transport operations behind it.
#include "App/Keyboard.hpp"

#include <algorithm>

#include "App/AppState.hpp"

namespace ombry {

namespace {

constexpr double muteDB = -60, maxDB = 6, volumeStepDB = 3;

}  // namespace

void AppState::sendTransport(LayerId layer, const std::string& action, std::optional<double> time) {
    if (program.onTransport) program.onTransport(TransportCommandMessage{layer, action, time});
}

void AppState::playPausePrimary() {
    const auto layer = primaryLayer();
    if (!layer) return;
    const bool play = !program.state().layers[*layer].active->playing;
    program.setLayerPlaying(*layer, play);
    sendTransport(*layer, play ? "play" : "pause", std::nullopt);
}

void AppState::restartPrimary() {
    if (const auto layer = primaryLayer()) sendTransport(*layer, "seek", 0.0);
}

void AppState::seekRelative(double by) {
    const auto layer = primaryLayer();
    if (!layer) return;
    const auto reported = program.transports().find(*layer);
    double target = (reported == program.transports().end() ? 0.0 : reported->second.currentTime) + by;
    // No upper bound: the player stops at the clip's end. A time that is not a number seeks to the start.
    if (!(target >= 0)) target = 0;
    sendTransport(*layer, "seek", target);
}

void AppState::toggleMute() {
    if (isMuted_) {
        isMuted_ = false;
        setMasterVolumeDB(premuteDB_);
        return;
    }
    premuteDB_ = masterVolumeDB_;
    isMuted_ = true;
    setMasterVolumeDB(muteDB);
}

std::vector<MediaItem> AppState::visibleClips() const {
    std::vector<MediaItem> clips;
    for (auto& section : boardSections())
        clips.insert(clips.end(), std::make_move_iterator(section.items.begin()),
                     std::make_move_iterator(section.items.end()));
    return clips;
}

void AppState::triggerVisible(int index) {
    auto clips = visibleClips();
    if (index >= 0 && std::size_t(index) < clips.size()) trigger(clips[std::size_t(index)], false);
}

void AppState::stepClip(int delta) {
    const auto clips = visibleClips();
    if (clips.empty()) return;
    const auto n = std::int64_t(clips.size());
    std::int64_t current = -1;
    for (std::int64_t i = 0; i < n && selectedItemId_; ++i)
        if (clips[std::size_t(i)].id == *selectedItemId_) {
            current = i;
            break;
        }
    // From nothing selected (-1), a step forward takes the first clip and a step back the second-to-last.
    const std::int64_t next = ((current + delta) % n + n) % n;
    trigger(clips[std::size_t(next)], false);
}

void AppState::moveSelectedClip(int delta) {
    std::string id;
    if (selectedItemId_) id = *selectedItemId_;
    else if (selectedIds_.size() == 1) id = *selectedIds_.begin();
    else return;
    for (const BoardSection& section : boardSections()) {
        const auto it = std::find_if(section.items.begin(), section.items.end(),
                                     [&](const MediaItem& m) { return m.id == id; });
        if (it == section.items.end()) continue;
        // The drop index counts gaps with the clip still in place: one further when moving down.
        const auto at = std::int64_t(it - section.items.begin()) + delta + (delta > 0 ? 1 : 0);
        if (at >= 0 && at <= std::int64_t(section.items.size())) handleClipDrop({id}, section, int(at), false);
        return;
    }
}

void AppState::installKeyboardMonitor() {
    if (keyMonitorInstalled_) return;
    keyMonitorInstalled_ = true;
    setMainWindowFocused(mainWindowIsKey && mainWindowIsKey());
}

void AppState::setTextEditing(bool editing) {
    if (isTextEditing_ != editing) isTextEditing_ = editing;
}

void AppState::setMainWindowFocused(bool focused) {
    if (isMainWindowFocused_ != focused) isMainWindowFocused_ = focused;
}

bool AppState::handleKey(Key key, unsigned modifiers) {
    if (!keyMonitorInstalled_) return false;
    // Keys typed into a text input are the input's; the other windows keep their keys.
    if (focusInTextInput && focusInTextInput()) return false;
    if (!mainWindowIsKey || !mainWindowIsKey()) return false;
    const unsigned held = modifiers & (keyCtrl | keyAlt | keyMeta);  // shift changes nothing
    if (held == 0) return plainKey(key);
    if (held == keyCtrl) return shortcutKey(key);
    return false;
}

bool AppState::plainKey(Key key) {
    switch (key) {
        case Key::left: stepClip(-1); return true;
        case Key::right: stepClip(1); return true;
        case Key::down: setMasterVolumeDB(std::clamp(masterVolumeDB_ - volumeStepDB, muteDB, maxDB)); return true;
        case Key::up: setMasterVolumeDB(std::clamp(masterVolumeDB_ + volumeStepDB, muteDB, maxDB)); return true;
        case Key::home:
        case Key::pageUp: restartPrimary(); return true;
        case Key::space: playPausePrimary(); return true;
        case Key::escape:
            // The first Escape drops the clip selection; the next one stops the media layer and the advance.
            if (!selectedIds_.empty()) {
                selectedIds_.clear();
                selectionAnchorId_.reset();
                notify(Aspect::clipSelection);
            } else {
                cancelAdvance();
                program.clearLayer(LayerId::media);
            }
            return true;
        default: break;
    }
    const auto c = keyCharacter(key);
    if (!c) return false;
    if (*c >= '1' && *c <= '9') {
        triggerVisible(*c - '1');  // used even when no clip has that number
        return true;
    }
    switch (*c) {
        case '0': restartPrimary(); return true;
        case 'j': seekRelative(-5); return true;
        case 'l': seekRelative(5); return true;
        case 'b': program.setBlack(!program.state().black); return true;
        case 'c':
            cancelAdvance();
            program.clearAll();
            return true;
        case 'm': toggleMute(); return true;
        default: return false;
    }
}

// Ctrl shortcuts; the ones not used here (copy and paste outside playlists) reach the menus.
bool AppState::shortcutKey(Key key) {
    switch (key) {
        case Key::a: selectAllVisible(); return true;
        case Key::c: {
            const auto ids = selectedPlaylistIds();
            if (ids.empty()) return false;
            savedPlaylists_->copyPlaylists(ids);
            return true;
        }
        case Key::v:
            if (!savedPlaylists_->canPastePlaylist()) return false;
            savedPlaylists_->pastePlaylists();
            return true;
        default: return false;
    }
}

}  // namespace ombry
