#pragma once
// The board of playlist sections and the edits of its clips and playlists, over the library alone. The
// application state forwards to these and adds what needs its own state (sidebar and clip selection,
// intake, panels); the views and the benchmark use them without a renderer.
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "App/ViewModels.hpp"
#include "Engine/Library/Library.hpp"

namespace ombry {

// A deletion waiting for the operator's confirmation.
struct PendingDeletion {
    enum class Kind { clips, playlists };
    Kind kind = Kind::clips;
    std::vector<std::string> ids;

    static PendingDeletion clips(std::vector<std::string> ids) { return {Kind::clips, std::move(ids)}; }
    static PendingDeletion playlists(std::vector<std::string> ids) { return {Kind::playlists, std::move(ids)}; }
    bool operator==(const PendingDeletion&) const = default;
};

namespace board {

inline constexpr const char* unsortedId = "unsorted";

// Case-insensitive containment in the user's locale: the search text is case-folded and normalised once,
// each name on every test. An empty search text matches nothing, as the board never asks with one.
class TextMatcher {
public:
    explicit TextMatcher(std::string_view needle);
    bool matches(std::string_view haystack) const;

private:
    std::u16string needle_;
    bool turkic_ = false;
};

// The first playlist with this id; valid until the library's playlists change.
const Group* findGroup(const Library& library, const std::string& id);
// Clips in no playlist, by `order` (absent counts as 0; ties keep list order).
std::vector<MediaItem> ungroupedMedia(const Library& library);
// Ids of the playlists selected in the sidebar, in library order; empty while all playlists are shown.
std::vector<std::string> selectedPlaylistIds(const Library& library, const std::set<SidebarItem>& selection);
// One playlist's section: its clips in playlist order, ids without a clip left out.
BoardSection groupSection(const Library& library, const Group& group);
std::vector<BoardSection> boardSections(const Library& library, const std::set<SidebarItem>& selection,
                                        const std::string& searchText);
// The clip ids of the sections, section after section (a clip shown twice stands twice).
std::vector<std::string> visibleIds(const std::vector<BoardSection>& sections);

// `ids` moved within `order` to the gap `index`, counted among the cards as they were before the drag.
std::vector<std::string> moveInto(std::vector<std::string> order, const std::vector<std::string>& ids, int index);
// The position in `order` of the gap `shownIndex` counted among the cards `shown` (a subsequence of it):
// before the card shown there, or right after the last shown card.
int modelIndex(const std::vector<std::string>& order, const std::vector<MediaItem>& shown, int shownIndex);
// `ids` inserted at `index`, clamped to the list.
std::vector<std::string> insertInto(std::vector<std::string> order, const std::vector<std::string>& ids, int index);

void handleClipDrop(Library& library, const std::vector<std::string>& ids, const BoardSection& into, int atIndex,
                    bool copy);
void duplicateClip(Library& library, const std::string& id, const std::optional<std::string>& inGroup);
// A clip in no playlist joins it; one already in a playlist (this one too) is copied into it.
void addToPlaylist(Library& library, const std::string& id, const std::string& groupId);

// Clips just added to the library, placed into the section at the index (files dropped from outside).
void placeAdded(Library& library, const std::vector<MediaItem>& added, const BoardSection& into, int atIndex);
void updatePlaylist(Library& library, const std::string& id, const std::string& name, const std::string& color,
                    const std::string& icon);
std::string deletionTitle(const Library& library, const PendingDeletion& deletion);
// Merges the following playlists into the first; its id when it exists, else nothing (and nothing changed).
std::optional<std::string> mergePlaylists(Library& library, const std::vector<std::string>& ids);
// "<name> Copy" of each playlist with copies of its clips; the new playlists' ids.
std::vector<std::string> duplicatePlaylists(Library& library, const std::vector<std::string>& ids);

}  // namespace board
}  // namespace ombry
