#pragma once
// Coarse change events of the application state, with no payload: a view learns that an aspect changed and
// reads the state afresh. Main thread only.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

namespace ombry {

enum class Aspect {
    program,            // the program store's state (layers, stage, black)
    clockEpoch,         // the program clock was reset
    groups,             // playlists of the open project
    media,              // clips of the open project, their metadata and thumbnails
    offlineIds,         // clips whose files are missing
    sidebarSelection,   // the sidebar's selected items
    clipSelection,      // the selected clip, the clip selection and its anchor
    settings,           // the stored settings
    serverInfo,         // the output server's addresses
    controlServerInfo,  // the remote-control server's addresses and its advertisement
    counts,             // connected output pages, remotes, companions, the Bluetooth adapter's state
    cloudStatus,
    cloudDownloads,
    sequenceEncode,     // the image-sequence encode under way
    meter,              // program audio levels (up to the meter rate)
    masterVolume,       // master volume and mute
    displays,           // the screens that can take a program window
    openDisplays,       // the screens that show one
    playlistEditor,
    pendingDeletion,
    settingsSection,
    issues,             // the issue log's recent and dismissed issues
    savedPlaylists,
    uiVisible,
    preloaded,          // the clip prepared for the next take
    imports,            // pending sequence and deck questions, the unsupported-file and capacity alerts,
                        // the slides link sheet
    project,            // the open project's file, the recents and the project-name width
    search,             // the board's search text
};
inline constexpr std::size_t aspectCount = std::size_t(Aspect::search) + 1;
std::string_view aspectName(Aspect aspect);

// Ends its observation when destroyed (or reset); may outlive the list it came from.
class Subscription {
public:
    Subscription() = default;
    Subscription(Subscription&&) noexcept = default;
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::move(other.cancel_);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }
    void reset() {
        if (cancel_) std::exchange(cancel_, nullptr)();
    }
    explicit operator bool() const { return bool(cancel_); }

private:
    friend class ObserverList;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    std::function<void()> cancel_;
};

// Observers called in the order they subscribed. An observer may subscribe or end any subscription while it
// is called: one ended in the middle of a notification is not called after it ended.
class ObserverList {
public:
    using Observer = std::function<void(Aspect)>;
    ObserverList() : observers_(std::make_shared<Map>()) {}
    Subscription observe(Observer fn);
    void notify(Aspect aspect);
    std::size_t size() const { return observers_->size(); }

private:
    using Map = std::map<std::uint64_t, std::shared_ptr<Observer>>;
    std::shared_ptr<Map> observers_;
    std::uint64_t next_ = 0;
};

}  // namespace ombry
