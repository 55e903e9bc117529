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
#include "App/Board.hpp"
#include "App/Keyboard.hpp"
#include "App/MediaStorage.hpp"
#include "App/Observation.hpp"
#include "App/ProjectOps.hpp"
#include "App/Remotes.hpp"
#include "App/SavedPlaylistOps.hpp"
#include "App/SequenceDeckImports.hpp"
#include "App/SettingsSection.hpp"
#include "Engine/Cloud/CloudInbox.hpp"
#include "Engine/Intake/Intake.hpp"
#include "Engine/Intake/SlideImport.hpp"
#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Library/MediaRegistry.hpp"
#include "Engine/Model/ProgramStore.hpp"
#include "Engine/Library/Settings.hpp"
#include "Engine/Service/ServiceClient.hpp"
#include "Platform/Clipboard.hpp"
#include "Platform/FilePanels.hpp"
#include "Platform/KeepAwake.hpp"
#include "Platform/MainQueue.hpp"
#include "Render/Audio/MeterEngine.hpp"
#include "Render/DisplayOutputs.hpp"
#include "Render/NDIOutput.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Syphon/SyphonOutput.hpp"

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
    // The parts built around the state; each may be left out.
    std::shared_ptr<OutputServerLink> outputServer;
    std::shared_ptr<ControlServerLink> controlServer;
    std::shared_ptr<BluetoothRemoteLink> bleRemote;
    std::shared_ptr<MediaIntakeLink> intake;
    // Processor cores for the probe limit; 0 asks the system.
    unsigned activeCores = 0;
    // Holds the machine awake while a show is on air; none keeps nothing awake.
    std::shared_ptr<KeepAwake> keepAwake;
    // Whether the monitor output device is present now; defaults to the sound server's list.
    std::function<bool(const std::string& uid)> audioDeviceExists;
};

// The output page folder ("OutputBundle"), found like every shipped resource.
std::filesystem::path outputBundleDir();

class AppState final : public AppServices {
public:
    static constexpr int initialStageWidth = 1920, initialStageHeight = 1080, initialStageFps = 60;
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
    // Before the first window shows: waits for the renderer's programs when they are built on another
    // thread; when they cannot be built the operator is told (fatal rendererFailed) and the process ends.
    void awaitRenderer();
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

    // Change events: fn(aspect) after each change of that aspect of the state (see Observation.hpp). The
    // subscription ends the observation when it goes. Whoever changes a public field below (the playlist
    // editor, the pending deletion) calls notify with its aspect.
    Subscription observe(ObserverList::Observer fn) { return observers_.observe(std::move(fn)); }
    void notify(Aspect aspect) { observers_.notify(aspect); }

    // The width the toolbar gives the project name, set by the main window as it resizes.
    int projectNameWidth() const { return projectNameWidth_; }
    void setProjectNameWidth(int width);
    // Whether the slides link sheet is shown (notified as imports).
    bool slidesLinkSheetOpen() const { return slidesLinkSheetOpen_; }
    void setSlidesLinkSheetOpen(bool open);

    // Observable state (a subset grows with the parts that use it).
    const std::set<SidebarItem>& selection() const override { return selection_; }
    void setSelection(std::set<SidebarItem> selection) override;
    void probeMissing() override;
    AppTransition masterTransition = AppTransition::fade;
    double transitionDuration = 0.6;
    bool previewConnected = false;
    bool started = false;
    // The browser output server's addresses, once it has started.
    std::optional<ServerInfo> serverInfo;
    int outputCount = 0;
    const std::set<DisplayId>& openDisplayIDs() const { return openDisplayIDs_; }
    const std::vector<DisplayOutputManager::DisplayInfo>& displayList() const { return displayList_; }
    bool rescanInFlight() const { return intake_->rescanInFlight(); }
    // Looks again for the offline clips' files: the intake link's search when one is given, else ours.
    void cascadeOfflineRescan();
    // The latest program audio levels; onMeter follows every report, equal or not.
    const MeterLevels& meter() const { return meter_; }
    std::function<void(const MeterLevels&)> onMeter;
    const MediaRegistry& mediaRegistry() const { return mediaRegistry_; }
    const MediaTombstones& mediaTombstones() const { return mediaTombstones_; }

    // The pane the settings window shows; menus and the status bar set it before they open the window.
    SettingsSection settingsSection() const { return settingsSection_; }
    void setSettingsSection(SettingsSection section);

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

    // Keyboard control and the transport operations the keys, menus and remotes share (Keyboard.cpp).
    // Play or pause, restart and seek act on the primary layer and do nothing without one.
    void playPausePrimary();
    void restartPrimary();
    // Seeks to the layer's last reported time plus `by` seconds, never before 0.
    void seekRelative(double by);
    // Mutes to -60 dB remembering the volume, or restores it.
    void toggleMute();
    bool isMuted() const { return isMuted_; }
    double premuteDB() const { return premuteDB_; }
    // The items of the board sections, section after section: what clip numbers and arrow keys count.
    std::vector<MediaItem> visibleClips() const;
    // Takes the visible clip `delta` places from the selected one live, wrapping around.
    void stepClip(int delta);
    // Takes the visible clip at the 0-based index live; nothing when there is none.
    void triggerVisible(int index);
    // Moves the selected clip `delta` places within its section; nothing past either end.
    void moveSelectedClip(int delta);
    // The window layer's answers: whether the keyboard focus is in a text input, and whether the main window
    // is the active window. The key handler asks them on every key.
    std::function<bool()> focusInTextInput;
    std::function<bool()> mainWindowIsKey;
    // Lets handleKey act (once, at start-up) and takes the main window's focus as it is now.
    void installKeyboardMonitor();
    // A key pressed in the application: true when it was used, and so goes no further.
    bool handleKey(Key key, unsigned modifiers);
    // Published for the menus, which the window keeps up to date.
    bool isTextEditing() const { return isTextEditing_; }
    void setTextEditing(bool editing);
    bool isMainWindowFocused() const { return isMainWindowFocused_; }
    void setMainWindowFocused(bool focused);

    // Derived view state (ViewState.cpp): recomputed on every read, nothing cached.
    OutputStatus outputStatus() const;
    // "hh:mm:ss:ff" at the stage rate; hours widen past 99.
    std::string timecode(double seconds) const;
    std::int64_t stageWidth() const { return program.state().stage.width; }
    std::int64_t stageHeight() const { return program.state().stage.height; }
    std::int64_t stageFps() const { return program.state().stage.fps; }
    // A value below 1 is ignored; others go to the stage, which keeps them within its limits.
    void setStageWidth(std::int64_t width);
    void setStageHeight(std::int64_t height);
    void setStageFps(std::int64_t fps);
    // "1920x1080"; setting takes the first two numbers of a text that holds exactly two.
    std::string resolution() const;
    void setResolution(const std::string& text);
    // "60p"; setting reads the text's number, a decimal one rounded.
    std::string frameRate() const;
    void setFrameRate(const std::string& text);
    static constexpr std::array<std::string_view, 3> presetResolutions{"1920x1080", "1280x720", "3840x2160"};
    static constexpr std::array<std::string_view, 4> presetFrameRates{"60p", "30p", "25p", "24p"};
    // The presets, then the remembered custom values.
    std::vector<std::string> resolutionOptions() const;
    std::vector<std::string> frameRateOptions() const;
    std::vector<std::string> listedResolutions() const { return resolutionOptions(); }
    std::vector<std::string> listedFrameRates() const { return frameRateOptions(); }
    // Keep the last eight typed values that are not presets, newest last, in the settings.
    void rememberCustomResolution(const std::string& text);
    void rememberCustomFrameRate(const std::string& text);
    // Overlay, Media, Background, Audio.
    std::vector<LayerVM> layerVMs() const;
    // The display showing the main window (the key window first), as the window layer reports it.
    std::function<std::optional<DisplayId>()> mainWindowDisplay;
    std::optional<DisplayId> controllerDisplayID() const;
    std::optional<DisplayBlockReason> outputBlockReason(const DisplayOutputManager::DisplayInfo& info) const;
    // The alert text for files that were not added.
    static std::string unusableFileMessage(const std::vector<std::string>& paths);
    // "All Playlists", the one selected playlist's name, or "3 Playlists".
    std::string boardTitle() const;
    // "2 playlists · 40 media" for all playlists, else the number of clips the board shows.
    std::string boardSubtitle() const;
    // What is running, for the quit-while-on-air confirmation: phrases joined as the user's language joins a
    // list ("1 layer is live and NDI is on"); empty when nothing runs.
    struct ShowActivity {
        std::size_t liveLayers = 0;
        std::size_t openDisplays = 0;
        int outputPages = 0;
        bool ndi = false;
        bool syphon = false;
        int controllers = 0;  // remote controllers and companion clients
    };
    static std::string showActivitySummary(const ShowActivity& activity);

    // Remote control (Control.cpp, Snapshot.cpp).
    // Carries out one remote command through the operations the window and the keyboard use.
    ControlResult performControl(const ControlCommand& command);
    // Every playlist's clips in playlist order, then the clips in no playlist: the list a remote's clip
    // numbers count in.
    std::vector<MediaItem> controlBoardClips() const;
    // What remotes see now.
    ControlSnapshot controlSnapshot() const;
    // The computer's name for remotes, asked once per process.
    static const std::optional<std::string>& hostName();

    // ---- Media intake (src/App/Intake.cpp): adding files, ingesting received ones, probes and thumbnails ----
    Intake& intake() { return *intake_; }
    ProbeGate& probeGate() { return intake_->probeGate(); }
    const std::optional<std::string>& unsupportedFilePrompt() const { return intake_->unsupportedFilePrompt(); }
    void clearUnsupportedFilePrompt();
    // The alert raised when the project's item limit cut an addition or a deck.
    const std::optional<std::string>& capacityAlert() const { return intake_->capacityAlert(); }
    void clearCapacityAlert();
    // Detected image sequences waiting for the operator's answer, oldest first.
    std::vector<PendingSequenceImport>& pendingSequenceImports() { return pendingSequenceImports_; }
    std::vector<MediaItem> addMedia(const std::vector<std::string>& paths, const std::optional<std::string>& deckTarget,
                                    bool announceUnsupported, bool detectSequences);
    // The control server's upload hand-over: `done` gets the result on the main queue.
    void ingestUploadedFile(UploadIngestRequest request, std::function<void(UploadIngestResult)> done);
    std::vector<UploadPlaylistInfo> uploadPlaylists() const;
    void probeAndThumbnail(const MediaItem& item);
    void scanIngestFolder();

private:
    void makeIntake();
    std::unique_ptr<Intake> intake_;
    std::vector<PendingSequenceImport> pendingSequenceImports_;

public:
    // ---- Image sequences and slide decks (src/App/SequenceDeckImports.cpp) ----
    // The encode under way; absent when none runs.
    const std::optional<SequenceEncode>& sequenceEncode() const { return sequenceEncode_; }
    // Multi-page decks dropped on a playlist, waiting for the operator's answer, oldest first.
    std::vector<PendingDeckImport>& pendingDeckImports() { return pendingDeckImports_; }
    // After the encode record or the pending decks changed.
    std::function<void()> onImportsChange;
    // Where deck links are downloaded from; tests point it at a loopback server.
    std::string slidesOrigin = SlideImport::defaultOrigin;
    // Encodes the frames into one clip with alpha and takes it into the playlist `into`; returns at once.
    void importSequence(const std::vector<std::string>& frames, const std::string& name,
                        const std::optional<std::string>& into, std::int64_t fps);
    // A dropped or opened PDF: held for the operator's answer when it has pages for a playlist, else imported.
    void routeDeck(const std::string& pdf, const std::optional<std::string>& into);
    // `onFinish` gets the operator's sentence of what failed, or nothing; once, on the main queue.
    using DeckDone = std::function<void(std::optional<std::string> error)>;
    // Downloads a shared deck's PDF, then imports it into a playlist named after it; returns at once.
    void importSlides(const std::string& link, DeckDone onFinish);
    // One still per page, in page order, into the playlist `into` (absent: the one named after the deck).
    void importDeck(const std::string& pdf, const std::string& name, const std::optional<std::string>& into,
                    bool deleteSource, DeckDone onFinish = {});
    // Whether the project takes that many more items; raises the capacity alert when not.
    bool hasRoomForDeck(int pages, const std::string& name);

private:
    struct DeckImport;
    void wireImports();
    WorkerPool& importPool();
    void ingestDeckPage(std::shared_ptr<DeckImport> deck, std::size_t index);
    void selectDeckPlaylist(const DeckImport& deck);
    void finishDeck(const std::shared_ptr<DeckImport>& deck, std::optional<std::string> error, bool report);
    std::optional<SequenceEncode> sequenceEncode_;
    std::vector<PendingDeckImport> pendingDeckImports_;
    std::unique_ptr<WorkerPool> importPool_;

public:

    // Board, playlist operations and clip selection (Board.cpp, PlaylistOps.cpp, Selection.cpp).
    // The board's search filter; "" shows everything. Setting a different text prunes the clip selection.
    const std::string& searchText() const { return searchText_; }
    void setSearchText(std::string text);
    std::vector<MediaItem> ungroupedMedia() const;
    std::vector<std::string> selectedPlaylistIds() const;
    std::vector<BoardSection> boardSections() const;
    // Clips dragged onto a section: moved (out of every other playlist) or copied, to the gap at the index.
    void handleClipDrop(const std::vector<std::string>& ids, const BoardSection& into, int atIndex, bool copy);
    void duplicateClip(const std::string& id, const std::optional<std::string>& inGroup);
    void addToPlaylist(const std::string& id, const std::string& group);
    void promptAddMedia();
    void promptRelink(const std::string& id);
    // Closes the program window on the display, or opens one where the settings allow it.
    void toggleDisplay(DisplayId id);
    // The output page's local address onto the clipboard as plain text, while the output server runs.
    void copyOutputURL();
    // Any text onto the clipboard as plain text, replacing what it held.
    void copyPlainText(const std::string& text);
    static std::optional<Rgba> color(const std::optional<std::string>& hex) { return ombry::color(hex); }

    std::optional<PlaylistEditorTarget> playlistEditor;
    std::optional<PendingDeletion> pendingDeletion;
    // An empty or blank name keeps the old one; colour and icon are set as given.
    void updatePlaylist(const std::string& id, const std::string& name, const std::string& color,
                        const std::string& icon);
    // Its clips stay in the library; the sidebar falls back to all playlists when it showed only this one.
    void deleteGroup(const std::string& id);
    std::string deletionTitle(const PendingDeletion& deletion) const;
    void mergePlaylists(const std::vector<std::string>& ids);
    void duplicatePlaylists(const std::vector<std::string>& ids);
    void dropFiles(const std::vector<std::string>& paths, const BoardSection& into, int atIndex);

    const std::set<std::string>& selectedIds() const { return selectedIds_; }
    void setSelectedIds(std::set<std::string> ids) {
        selectedIds_ = std::move(ids);
        notify(Aspect::clipSelection);
    }
    const std::optional<std::string>& selectionAnchorId() const { return selectionAnchorId_; }
    // No clip selected and no range anchor (a plain click on a card or on empty board space).
    void clearClipSelection();
    void selectAllVisible();
    void toggleClipSelection(const std::string& id);
    void extendClipSelection(const std::string& to);
    void pruneClipSelection();
    // The clips a card's context menu acts on: the whole visible selection when the card is part of one.
    std::vector<std::string> contextTargets(const std::string& id) const;
    // Audio clips keep their layer.
    void setItemLayer(const std::vector<std::string>& ids, std::optional<LayerId> layer);
    void setItemFillMode(const std::vector<std::string>& ids, std::optional<FillMode> mode);
    // One clip's transition: none, cut, crossfade for fade, slide or zoom.
    void setItemTransition(const std::string& id, std::optional<AppTransition> transition);
    // One clip's end action; its loop flag follows (true for loop only).
    void setItemEndAction(const std::string& id, std::optional<EndAction> action);
    // Clears the layers showing any of them first, then forgets them in the selection and the library.
    void removeFromLibrary(const std::set<std::string>& ids);

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
    void finishStart();
    void wire();
    // The first of media, audio, overlay, background that holds a cue.
    std::optional<LayerId> primaryLayer() const;
    void refreshOpenDisplays();
    void loadSideFiles();

    // Connections to the servers, the remotes, the cloud inbox and intake.
public:
    OutputServerLink* outputServer() const { return env_.outputServer.get(); }
    ControlServerLink* controlServer() const { return env_.controlServer.get(); }
    BluetoothRemoteLink* bleRemote() const { return env_.bleRemote.get(); }
    // Raw client counts as the servers last reported them.
    int wifiRemoteCount() const { return wifiRemoteCount_; }
    int companionCount() const { return companionCount_; }
    int bleRemoteCount() const { return bleRemoteCount_; }
    // The Bluetooth adapter's state as last reported while the Bluetooth remote was on; nothing before.
    const std::optional<bt::BluetoothState>& bleState() const { return bleState_; }
    // The remote-control server's addresses while it runs: set by its start, then followed as it reports.
    const std::optional<ServerInfo>& controlServerInfo() const { return controlServerInfo_; }
    void setControlServerInfo(std::optional<ServerInfo> info) {
        controlServerInfo_ = std::move(info);
        notify(Aspect::controlServerInfo);
    }
    // The remote-control server's DNS-SD advertisement as it last reported it since the server was started.
    const std::optional<AdvertiseStatus>& bonjourStatus() const { return bonjourStatus_; }
    // The thumbnail of every clip that has one, to the output server and both remotes.
    void refreshThumbIndex();
    // What the remotes' hooks reach on the main queue: performControl and controlSnapshot (replaceable in tests).
    std::function<ControlResult(const ControlCommand&)> performHook;
    std::function<std::optional<ControlSnapshot>()> snapshotHook;

private:
    void wireLinks();
    // One snapshot, to the remote-control server and then the Bluetooth remote.
    void pushSnapshot();
    // The snapshot of this moment with the playhead anchors, encoded once for both remotes and kept as the
    // last one pushed; null without a snapshot or when it cannot be encoded.
    std::shared_ptr<const LiveSnapshot> liveSnapshot();
    // The last snapshot pushed with the playheads as a playback report left them, to both remotes.
    void pushPlayheads();
    std::shared_ptr<const LiveSnapshot> lastLive_;
    int wifiRemoteCount_ = 0;
    int companionCount_ = 0;
    int bleRemoteCount_ = 0;
    std::optional<bt::BluetoothState> bleState_;
    std::optional<ServerInfo> controlServerInfo_;
    std::optional<AdvertiseStatus> bonjourStatus_;

    AppEnvironment env_;
    ObserverList observers_;
    int projectNameWidth_ = 200;
    bool slidesLinkSheetOpen_ = false;
    void importsChanged();
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
    SettingsSection settingsSection_ = SettingsSection::general;
    TaskHandle advanceTask_;
    TaskHandle cloudPlaylistPushTask_;
    MeterLevels meter_;
    std::set<DisplayId> openDisplayIDs_;
    std::vector<DisplayOutputManager::DisplayInfo> displayList_;
    bool lastTriggerWasAutomatic_ = false;
    double masterVolumeDB_ = 0;
    std::optional<std::string> selectedItemId_;
    std::set<std::string> selectedIds_;
    std::optional<std::string> preloadedId_;
    std::optional<std::string> selectionAnchorId_;
    std::string searchText_;
    // An automatic take whose clip failed in the renderer, per playlist: the clips that failed since the
    // last one that played, so a looping playlist of failing clips stops after one cycle.
    std::map<std::string, std::set<std::string>> failedInCycle_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Keyboard control.
    void sendTransport(LayerId layer, const std::string& action, std::optional<double> time);
    bool plainKey(Key key);
    bool shortcutKey(Key key);
    bool isMuted_ = false;
    double premuteDB_ = 0;
    bool keyMonitorInstalled_ = false;
    bool isTextEditing_ = false;
    bool isMainWindowFocused_ = false;

    // Derived view state.
    void rememberCustom(const std::string& value, std::vector<std::string> AppSettings::*list);

    // Remote control.
    // Play and pause also set the cue's play flag; every action goes to the transport outlet.
    void controlTransport(LayerId layer, const std::string& action, std::optional<double> time);
    // Unmutes and sets the master volume within -60...+6 dB.
    void setControlVolumeDB(double db);
    // A manual take; refused with the sentence the driver reported when it refuses.
    ControlResult takeForRemote(const MediaItem& item);
    std::vector<const MediaItem*> controlBoardClipRefs() const;

    // ---- The cloud inbox: the pull loop, its status and the playlist push (src/App/CloudSync.cpp) ----
public:
    static constexpr std::int64_t cloudItemLimit = std::int64_t(1) << 34;  // 16 GiB
    static constexpr double cloudPushDelay = 2.0;
    static constexpr double cloudBackoffStart = 5, cloudBackoffLimit = 60;
    // Long polls start at least this far apart, so a service that answers at once is not hammered.
    static constexpr double cloudPollSpacing = 1.0;
    static constexpr int cloudPasswordMinimum = 8;
    static constexpr int cloudWorkerThreads = 4;
    // The outcome of the last pull, registration or loop error; nothing while cloud upload is off.
    const std::optional<CloudSyncStatus>& cloudStatus() const { return cloudStatus_; }
    // One row per download of the current pull, in item order.
    const std::vector<CloudDownload>& cloudDownloads() const { return cloudDownloads_; }
    bool cloudSyncing() const { return cloudSyncing_; }
    // The client the settings describe: a usable address and both credentials; built on every read.
    std::optional<CloudInbox> cloudInbox() const;
    // Whether a loop has been started and not cancelled.
    bool cloudPolling() const;
    // Stops the running loop, and starts a new one when cloud upload is on and the address is usable.
    void syncCloudPolling();
    // Debounced: the playlist names go to the inbox cloudPushDelay after the last library change.
    void schedulePlaylistPush();
    // What the quit path runs while cloud upload is on (empty otherwise): it stops the loop and tells the
    // service this app is going offline; `done` runs on the main queue within about 2 s, once.
    using CloudQuitBeacon = std::function<void(std::function<void()> done)>;
    const CloudQuitBeacon& cloudQuitBeacon() const { return cloudQuitBeacon_; }
    // The ingest a pulled download goes through: ingestUploadedFile unless a test wraps it.
    std::function<void(UploadIngestRequest, std::function<void(UploadIngestResult)>)> cloudIngest;
    // Inbox requests handed to the workers whose answers have not come back to the main queue.
    int cloudRequestsInFlight() const { return cloudRequestsInFlight_; }

private:
    struct CloudRun;
    struct CloudPull;
    void runCloudLoop(const std::shared_ptr<CloudRun>& run);
    void cloudPoll(const std::shared_ptr<CloudRun>& run);
    void cloudBackOff(const std::shared_ptr<CloudRun>& run);
    // One batch of pending items from `from`; `done(requestFailed)` runs when it has ended, also when it
    // only waited for a pull already running.
    void pullCloudItems(std::vector<CloudInbox::PendingItem> items, const CloudInbox& from, TaskHandle token,
                        std::function<void(bool requestFailed)> done);
    void pullNext(const std::shared_ptr<CloudPull>& pull);
    void refuseCloudItem(const std::shared_ptr<CloudPull>& pull, const InboxError& why);
    void recordAndDelete(const std::shared_ptr<CloudPull>& pull);
    void finishPull(const std::shared_ptr<CloudPull>& pull);
    void removeCloudRow(const std::string& key);
    void setCloudStatus(std::optional<CloudSyncStatus> status);
    // At teardown: the loop stops, requests in flight end as cancelled and their answers are not taken.
    void stopCloudWork();
    // The offline notice to the inbox the settings describe, when they describe one.
    void sendCloudOffline();
    // Runs the request on a cloud worker and its answer on the main queue (not after the state is gone).
    template <class R>
    void cloudRequest(TaskHandle token, std::function<R(const CloudInbox::Cancelled&)> job, std::function<void(R)> done);
    std::optional<CloudSyncStatus> cloudStatus_;
    std::vector<CloudDownload> cloudDownloads_;
    bool cloudSyncing_ = false;
    std::vector<std::function<void()>> cloudPullWaiters_;
    std::shared_ptr<CloudRun> cloudPollTask_;
    TaskHandle cloudPushRequest_;
    CloudQuitBeacon cloudQuitBeacon_;
    int cloudRequestsInFlight_ = 0;
    std::unique_ptr<WorkerPool> cloudWorkers_;

    // ---- Managed media storage (src/App/MediaStorage.cpp): synchronous, main thread; for the storage pane
    // when it opens, never per frame (each call reads the recent projects' documents) ----
public:
    static constexpr const char* savedPlaylistsLabel = "Saved Playlists";
    // The media folder's files (side files, ".tmp" and non-media entries left out): used ones first, then
    // the largest first.
    std::vector<DownloadedMediaFile> downloadedMediaFiles() const;
    // The clips whose files lie elsewhere, by name as the user's language sorts, case aside.
    std::vector<ReferencedMediaFile> referencedMediaFiles() const;
    // Removes the open project's clips using it, the file and its registry entries, and tombstones its
    // content so that it is not taken in again by itself.
    void deleteDownloadedFile(const DownloadedMediaFile& file);
    // The media folder (its incoming folder aside) and the thumbnails, in bytes.
    std::int64_t managedStorageBytes() const;
    // The regular files directly in the folder, hidden ones included, names in `skipping` aside.
    static std::int64_t directorySize(const std::filesystem::path& dir, const std::set<std::string>& skipping);

    // The desktop's file panels and clipboard the state was made with, for the views that ask them directly.
    FilePanels& filePanels() const { return *env_.panels; }
    Clipboard& clipboard() const { return *env_.clipboard; }

    // ---- Posts to the web service (src/App/ServicePosts.cpp) ----
    // Runs one post on the service worker; `done` gets its result on the main queue while the state lives.
    // A post under way when the state goes is cancelled.
    void postToService(ServiceClient client, std::string path, Json body, std::function<void(ServiceResult)> done);

private:
    std::unique_ptr<WorkerPool> serviceWorker_;
    // Managed file name -> names of the other recent projects whose clips use it.
    std::map<std::string, std::set<std::string>> otherProjectManagedFilenames() const;

    // ---- Start-up, settings propagation and remote counts (Startup.cpp, Settings.cpp, RemoteCounts.cpp) ----
public:
    static constexpr std::uint16_t outputServerPort = 7340;
    static constexpr double clientDropDelay = 3.0;
    // Brings the renderer, the outputs and both servers up to the settings, then intake and the cloud inbox;
    // once: every later call returns at once. Returns before the servers have answered.
    void start();
    // Takes or releases the "A show is on air" activity to match the program and the outputs.
    void syncStayAwake();
    bool awake() const { return bool(awakeActivity_); }
    // A program layer holds a cue, or the output server runs and an output is in use.
    bool onAir() const;
    // The output server runs and a display window is open, an output page is connected, or NDI or frame
    // sharing is on.
    bool outputReady() const;
    std::string showActivitySummary() const;
    // Published client counts: a rise shows at once, a drop after clientDropDelay without a further report.
    int remoteClientCount() const { return remoteClientCount_; }
    int remoteWifiCount() const { return remoteWifiCount_; }
    int remoteBleCount() const { return remoteBleCount_; }
    int companionClientCount() const { return companionClientCount_; }
    bool uiVisible() const { return uiVisible_; }
    // The meters run only while the main window is visible.
    void setUiVisible(bool visible);
    bool syphonEnabled() const { return bool(syphonOutput_); }
    bool ndiEnabled() const { return bool(ndiOutput_); }

private:
    void propagateSettings(const AppSettings& old);
    void applyMonitorDevice();
    void applyNdiDelay();
    void syncControlServer();
    void pushUploadConfig();
    void setSyphonEnabled(bool on);
    void setNDIEnabled(bool on);
    void updateRemoteCounts();
    void publishClientCount(int published, int target, TaskHandle& dropTask, void (AppState::*apply)());
    void applyRemoteCounts();
    void applyCompanionCount();
    // Runs fn on the main queue while the state lives; callable from any thread. Once the state has gone
    // it posts nothing, so a part that reports while it is torn down after the state (and its main queue)
    // reaches neither.
    std::function<void(std::function<void()>)> onMainWhileAlive() const;
    // Each syncControlServer() run; a start answered after a later run began is that run's business.
    std::uint64_t controlSync_ = 0;
    int remoteClientCount_ = 0, remoteWifiCount_ = 0, remoteBleCount_ = 0, companionClientCount_ = 0;
    TaskHandle remoteDropTask_, companionDropTask_;
    bool uiVisible_ = true;
    std::unique_ptr<AwakeActivity> awakeActivity_;
    std::unique_ptr<SyphonOutput> syphonOutput_;
    std::unique_ptr<NDIOutput> ndiOutput_;
    // From the end of start() on, every change of an input of the on-air rule re-runs syncStayAwake().
    bool trackingShowActivity_ = false;
};

}  // namespace ombry
