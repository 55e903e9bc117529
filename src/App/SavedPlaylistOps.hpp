#pragma once
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "App/AppServices.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Library/SavedPlaylists.hpp"
#include "Platform/Clipboard.hpp"

namespace ombry {

// Saved playlists (shared by all projects) and copying playlists through the clipboard: the application
// state's playlist-snapshot operations. Main thread only.
class AppSavedPlaylists {
public:
    AppSavedPlaylists(Library& library, AppServices& app, Clipboard& clipboard);

    // Observable; onChange is called after it changes.
    const SavedPlaylistsStore& savedPlaylists() const { return saved_; }
    std::function<void()> onChange;
    // Reads "savedPlaylists.json" (once, before the initial project opens).
    void load();

    std::optional<SavedPlaylistSnapshot> snapshot(const std::string& groupId) const;
    void copyPlaylists(const std::vector<std::string>& groupIds);
    bool canPastePlaylist() const;
    void pastePlaylists();
    void saveGroupToLibrary(const std::string& groupId);
    std::optional<std::string> importSavedPlaylist(const std::string& snapshotId);
    void deleteSavedPlaylist(const std::string& snapshotId);
    // Names of the files directly in the managed media folder that saved playlists use.
    std::set<std::string> savedPlaylistManagedFilenames() const;

private:
    std::string importSnapshot(const SavedPlaylistSnapshot& s);
    void savedChanged();

    Library& library_;
    AppServices& app_;
    Clipboard& clipboard_;
    SavedPlaylistsStore saved_;
};

}  // namespace ombry
