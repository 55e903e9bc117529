#pragma once
// The small records through which the application state presents the show to the views.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "App/Color.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry {

// What the sidebar can select: all playlists at once, or one playlist by id.
struct SidebarItem {
    enum class Kind { allPlaylists, playlist };
    Kind kind = Kind::allPlaylists;
    std::string playlistId;  // empty for allPlaylists

    static SidebarItem allPlaylists() { return {}; }
    static SidebarItem playlist(std::string id) { return {Kind::playlist, std::move(id)}; }

    auto operator<=>(const SidebarItem&) const = default;
    bool operator==(const SidebarItem&) const = default;
};

// The operator's default transition kind in the main window.
enum class AppTransition { cut, fade, slide, zoom };

template <>
struct RawCases<AppTransition> {
    static constexpr std::array<std::pair<AppTransition, std::string_view>, 4> cases{{
        {AppTransition::cut, "Cut"},
        {AppTransition::fade, "Fade"},
        {AppTransition::slide, "Slide"},
        {AppTransition::zoom, "Zoom"},
    }};
};

// One section of the playlist board: a playlist, or the clips in no playlist.
struct BoardSection {
    std::string id;
    std::string title;
    std::string symbol;
    Rgba tint;
    std::vector<MediaItem> items;  // in board order
    std::optional<std::string> groupId;  // absent for the clips in no playlist
};

// One row of the program panel's layer list.
struct LayerVM {
    LayerId id = LayerId::media;
    std::string tag;
    std::string name;
    bool isLive = false;
    std::optional<std::string> mediaName;
    std::optional<MediaKind> kind;

    // Video and audio rows show a playhead and transport controls; images and empty layers do not.
    bool hasTimeline() const { return kind == MediaKind::video || kind == MediaKind::audio; }
};

// What the playlist editor sheet works on.
struct PlaylistEditorTarget {
    enum class Kind { create, edit };
    Kind kind = Kind::create;
    std::vector<std::string> seeds;  // create: the clip ids the new playlist starts with
    std::string playlistId;          // edit

    static PlaylistEditorTarget create(std::vector<std::string> seeds) { return {Kind::create, std::move(seeds), {}}; }
    static PlaylistEditorTarget edit(std::string id) { return {Kind::edit, {}, std::move(id)}; }

    // "create-a,b" or "edit-<playlist id>".
    std::string id() const;
    bool operator==(const PlaylistEditorTarget&) const = default;
};

// A numbered image sequence waiting for the operator's choice: one clip, or separate images.
struct PendingSequenceImport {
    std::string id;  // UUID, made when detected
    std::vector<std::string> frames;  // image paths in frame order
    std::string name;
    std::optional<std::string> playlistId;
    std::int64_t fps = 0;  // frame rate of the clip a one-clip import makes

    std::string imagesButton() const;
    std::string question() const;
};

// Why a display may not take a program window while the settings do not allow it.
enum class DisplayBlockReason { primary, controller };

// What the program output shows: the status pill's "LIVE", "BLACK" or "OFFLINE".
enum class OutputStatus { live, black, offline };

// A playlist's advance interval as used: 1 s to a day; not a number reads 1 s.
double clampedAdvanceSeconds(double seconds);
// "m:ss" of the rounded duration; empty when it is absent, not above 0 or not a usable number.
std::string displayDuration(const MediaItem& item);
// "Video · 1920×1080 · 29p", "Audio · 48 kHz · 24-bit".
std::string displayDetail(const MediaItem& item);
// The two colours of the clip card's background; the same id always gives the same colours.
std::array<Hsb, 2> gradient(const MediaItem& item);

}  // namespace ombry

template <>
struct std::hash<ombry::SidebarItem> {
    std::size_t operator()(const ombry::SidebarItem& s) const {
        return std::hash<std::string>{}(s.playlistId) ^ (s.kind == ombry::SidebarItem::Kind::playlist ? 0x9e3779b9u : 0u);
    }
};
