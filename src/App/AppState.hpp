#pragma once
// The one main-thread application state: owns the engines, wires their callbacks, drives playback.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "App/AppServices.hpp"
#include "App/ProjectOps.hpp"
#include "App/SavedPlaylistOps.hpp"
#include "Engine/Issues.hpp"
#include "Engine/Library.hpp"
#include "Engine/MediaRegistry.hpp"
#include "Engine/ProgramStore.hpp"
#include "Engine/Settings.hpp"
#include "Platform/Clipboard.hpp"
#include "Platform/FilePanels.hpp"
#include "Platform/MainQueue.hpp"
#include "Render/Audio/MeterEngine.hpp"
#include "Render/DisplayOutputs.hpp"
#include "Render/NativeStageRenderer.hpp"

namespace ombry {

// What the application state needs of the platform and of the parts built around it. The window layer fills
// it with the real ones; tests with fakes.
struct AppEnvironment {
    ScreenProvider* screens = nullptr;
    FilePanels* panels = nullptr;
    Clipboard* clipboard = nullptr;
    // Makes the program renderer over the meter engine; null when it cannot be made.
    std::function<std::unique_ptr<NativeStageRenderer>(MeterEngine*)> makeRenderer;
    // Ends the process with the fatal alert; defaults to Issue::fatal.
    std::function<void(IssueCode)> fatal;
    // The system alert sound of a refused manual take.
    std::function<void()> beep;
    // The clip's video codec as a four-character code (first character in the high byte), or nothing when it
    // has no readable video track. May answer later; the answer is taken on the main queue.
    std::function<void(const std::string& path, std::function<void(std::optional<std::uint32_t>)> done)>
        probeVideoCodec;
    // Opens the file of the clip expected next; defaults to the asset warmer.
    std::function<void(const std::string& path)> warm;
    // The remotes' transport message: each playback report of the primary layer.
    std::function<void(const TransportStatus&)> pushTransport;
    // The debounced push of the playlist list to the cloud inbox.
    std::function<void()> pushCloudPlaylists;
    // Processor cores for the probe limit; 0 asks the system.
    unsigned activeCores = 0;
};

// The output page folder ("OutputBundle"), found like every shipped resource.
std::filesystem::path outputBundleDir();

class AppState final : public AppServices {
public:
    static constexpr int stageWidth = 1920, stageHeight = 1080, stageFps = 60;
    // Browser output pages decode these video codecs.
    static constexpr std::uint32_t fourCC(char a, char b, char c, char d) {
        return (std::uint32_t(std::uint8_t(a)) << 24) | (std::uint32_t(std::uint8_t(b)) << 16) |
               (std::uint32_t(std::uint8_t(c)) << 8) | std::uint32_t(std::uint8_t(d));
    }
    static bool browserPlayable(std::uint32_t codec);
    // min(max(cores, 1), 6).
    static int probeLimitFor(unsigned cores);

    // Builds the engines, reads the settings, wires the callbacks, reads the side files and opens the
    // initial project. Binds no port and starts nothing.
    explicit AppState(AppEnvironment env);
    ~AppState() override;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // Engines.
    ProgramStore program;
    Library library;
    DisplayOutputManager& displays() { return *displays_; }
    int probeLimit() const { return probeLimit_; }
    MeterEngine& meterEngine() { return *meterEngine_; }
    NativeStageRenderer& previewRenderer() { return *previewRenderer_; }
    AppProjects& projects() { return *projects_; }
    AppSavedPlaylists& savedPlaylists() { return *savedPlaylists_; }
    const std::filesystem::path& outputBundle() const { return outputBundle_; }

    // Observable state (a subset grows with the parts that use it).
    const std::set<SidebarItem>& selection() const override { return selection_; }
    void setSelection(std::set<SidebarItem> selection) override;
    void probeMissing() override {}
    AppTransition masterTransition = AppTransition::fade;
    double transitionDuration = 0.6;
    bool uiVisible = true;
    bool previewConnected = false;
    bool started = false;
    int outputCount = 0;
    const std::set<DisplayId>& openDisplayIDs() const { return openDisplayIDs_; }
    const std::vector<DisplayOutputManager::DisplayInfo>& displayList() const { return displayList_; }
    static constexpr double cloudPushDelay = 2.0;
    bool rescanInFlight() const { return rescanInFlight_; }
    // The latest program audio levels; onMeter follows every report, equal or not.
    const MeterLevels& meter() const { return meter_; }
    std::function<void(const MeterLevels&)> onMeter;
    const MediaRegistry& mediaRegistry() const { return mediaRegistry_; }
    const MediaTombstones& mediaTombstones() const { return mediaTombstones_; }

    // Every assignment, also of an equal record, writes "settings.json" and re-applies the settings.
    const AppSettings& settings() const { return settings_; }
    void setSettings(AppSettings settings);

    // Taking clips live.
    bool trigger(const MediaItem& item, bool automatic);
    double masterVolumeDB() const { return masterVolumeDB_; }
    void setMasterVolumeDB(double db);
    // (current, duration, playing) of a layer's playhead.
    std::tuple<double, double, bool> transportProgress(LayerId layer) const;
    void setItemTrim(const std::string& id, std::optional<double> start, std::optional<double> end);
    bool lastTriggerWasAutomatic() const { return lastTriggerWasAutomatic_; }
    const std::map<std::string, bool>& browserPlayableCache() const { return browserPlayableCache_; }

    // Selection and preloading.
    const std::optional<std::string>& selectedItemId() const { return selectedItemId_; }
    void setSelectedItemId(std::optional<std::string> id);
    const MediaItem* selectedItem() const;
    const std::optional<std::string>& preloadedId() const { return preloadedId_; }
    void schedulePreload(const MediaItem* item);

    // Playlist advance and clip end.
    void handleClipEnd(LayerId layer, const std::string& cueId);
    const Group* playlist(const std::string& mediaId) const;
    void advanceInPlaylist(const std::string& fromId);
    static std::vector<int> advanceCandidates(int index, int count, bool loops);
    bool advancePending() const { return advanceTask_.valid() && !advanceTask_.cancelled(); }
    void cancelAdvance();

private:
    static LayerId layerFor(const MediaItem& item);
    static std::string fileName(const std::string& path);
    bool isLive(const MediaItem& item, LayerId layer) const;
    // False when the clip is marked offline and its file is still gone; clears a mark whose file is back.
    bool fileAvailable(const std::string& id, const std::string& path);
    void warnIfBrowserSourceCantPlay(const MediaItem& item);
    void scheduleAutoAdvance(const MediaItem& item, const Group* playlist);
    void warmNextInPlaylist(const MediaItem& item, const Group* playlist);
    // Seeks the layer of the cue that ended to its start and plays it again when it was playing.
    void restartLayer(LayerId layer);
    void wire();
    // The first of media, audio, overlay, background that holds a cue.
    std::optional<LayerId> primaryLayer() const;
    void refreshOpenDisplays();
    void schedulePlaylistPush();
    void loadSideFiles();

    AppEnvironment env_;
    std::unique_ptr<DisplayOutputManager> displays_;
    int probeLimit_ = 1;
    std::unique_ptr<MeterEngine> meterEngine_;
    std::unique_ptr<NativeStageRenderer> previewRenderer_;
    std::unique_ptr<AppProjects> projects_;
    std::unique_ptr<AppSavedPlaylists> savedPlaylists_;
    std::filesystem::path outputBundle_;

    std::set<SidebarItem> selection_{SidebarItem::allPlaylists()};
    std::map<std::string, bool> browserPlayableCache_;
    MediaRegistry mediaRegistry_;
    MediaTombstones mediaTombstones_;
    AppSettings settings_ = AppSettings::defaults();
    TaskHandle advanceTask_;
    TaskHandle cloudPlaylistPushTask_;
    bool rescanInFlight_ = false;
    MeterLevels meter_;
    std::set<DisplayId> openDisplayIDs_;
    std::vector<DisplayOutputManager::DisplayInfo> displayList_;
    bool lastTriggerWasAutomatic_ = false;
    double masterVolumeDB_ = 0;
    std::optional<std::string> selectedItemId_;
    std::set<std::string> selectedIds_;
    std::optional<std::string> preloadedId_;
    std::optional<std::string> selectionAnchorId_;
    // An automatic take whose clip failed in the renderer, per playlist: the clips that failed since the
    // last one that played, so a looping playlist of failing clips stops after one cycle.
    std::map<std::string, std::set<std::string>> failedInCycle_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ombry
