#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace ombry {

class FdWatcher;
class NotificationObserver;
class SharedSurface;
class SyphonServerConnectionManager;

// Identifiers of the server protocol, used by every client.
namespace syphon_key {
inline constexpr const char* uuidPrefix = "info.v002.Syphon";
inline constexpr const char* versionKey = "SyphonServerDescriptionDictionaryVersionKey";
inline constexpr const char* nameKey = "SyphonServerDescriptionNameKey";
inline constexpr const char* uuidKey = "SyphonServerDescriptionUUIDKey";
inline constexpr const char* appNameKey = "SyphonServerDescriptionAppNameKey";
inline constexpr const char* surfacesKey = "SyphonServerDescriptionSurfacesKey";
inline constexpr const char* isPrivateOption = "SyphonServerOptionIsPrivate";
inline constexpr const char* announce = "info.v002.Syphon.ServerAnnounce";
inline constexpr const char* update = "info.v002.Syphon.ServerUpdate";
inline constexpr const char* retire = "info.v002.Syphon.ServerRetire";
inline constexpr const char* announceRequest = "info.v002.Syphon.ServerAnnounceRequest";
}  // namespace syphon_key

// The folder of the announcements ($XDG_RUNTIME_DIR/syphon/notifications).
std::filesystem::path syphonNotificationDirectory();

// A named frame-sharing server: a UUID, a connection manager listening on the port of that name, the shared
// surface, and (unless private) the announcements that let clients find it. The frames themselves come
// from the subclass.
class SyphonServerBase {
public:
    virtual ~SyphonServerBase();
    SyphonServerBase(const SyphonServerBase&) = delete;
    SyphonServerBase& operator=(const SyphonServerBase&) = delete;

    std::string name() const;
    void setName(const std::string& name);
    const std::string& uuid() const { return uuid_; }
    bool broadcasts() const { return broadcasts_; }
    nlohmann::json serverDescription() const;
    bool hasClients() const;
    // Called on the connection manager's queue after hasClients changed.
    std::function<void(bool)> onHasClientsChange;
    // Idempotent; the destructor stops a server left running.
    virtual void stop();

    // Every UUID of a public server not yet stopped; at process exit each gets the exit form of the retire
    // notification.
    static void addServerToRetireList(const std::string& uuid);
    static void removeServerFromRetireList(const std::string& uuid);
    static void retireRemainingServers();

protected:
    SyphonServerBase(const std::string& name, const nlohmann::json& options);
    // False when the connection manager cannot listen.
    bool startServer();
    // The surface for a frame of this size: the current one when the size matches, else a new one whose id
    // reaches the info clients with the next publish. Null when it cannot be made. Caller holds surfaceLock_.
    std::shared_ptr<SharedSurface> newSurfaceForWidth(int width, int height);
    // Sends a pending surface change, then the new-frame notices.
    void publish();
    std::shared_ptr<SharedSurface> currentSurface() const { return surface_; }  // caller holds surfaceLock_
    std::mutex surfaceLock_;

private:
    void startBroadcasts();
    void stopBroadcasts();
    void post(const char* notification) const;

    mutable std::mutex mdLock_;
    std::string name_;
    std::string uuid_;
    bool broadcasts_ = true;
    std::shared_ptr<SyphonServerConnectionManager> connectionManager_;
    std::shared_ptr<SharedSurface> surface_;
    bool pushPending_ = false;
    std::filesystem::path notificationDir_;
    std::unique_ptr<NotificationObserver> announceRequests_;
    FdWatcher* receiveQueue_ = nullptr;  // where announce requests are answered, while observed
    bool stopped_ = false;
};

enum class SyphonPixelFormat { bgra8, rgba8 };

// A picture handed to the server: premultiplied 8-bit pixels, rows top first.
struct SyphonFrame {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    SyphonPixelFormat format = SyphonPixelFormat::bgra8;
};

struct SyphonRegion {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The server of CPU frames: each published frame is copied into the shared BGRA surface.
class SyphonServer final : public SyphonServerBase {
public:
    // Options: {"SyphonServerOptionIsPrivate": true} makes a server that is never announced. Null when
    // the server cannot start.
    static std::shared_ptr<SyphonServer> create(const std::string& name, const nlohmann::json& options = {});
    ~SyphonServer() override;

    // Copies the region (cut to the frame) into the surface, bottom row first when flipped, then tells the
    // clients. Any thread; never waits for a client.
    void publishFrame(const SyphonFrame& frame, SyphonRegion imageRegion, bool flipped);
    // Lets `draw(pixels, bytesPerRow)` write a width x height BGRA picture straight into the surface (its
    // bottom row first when `bottomUp`), then tells the clients. Any thread; never waits for a client.
    void publishFrameWith(int width, int height, bool bottomUp,
                          const std::function<void(uint8_t* pixels, int bytesPerRow)>& draw);
    // The surface holding the newest frame, or null before the first.
    std::shared_ptr<SharedSurface> newFrameImage();
    void stop() override;

private:
    using SyphonServerBase::SyphonServerBase;
};

}  // namespace ombry
