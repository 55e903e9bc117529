#include "Syphon/SyphonServer.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "Platform/Ipc/ApplicationName.hpp"
#include "Platform/Ipc/DistributedNotifications.hpp"
#include "Platform/Ipc/FdWatcher.hpp"
#include "Platform/Ipc/IpcPaths.hpp"
#include "Platform/Ipc/SharedSurface.hpp"
#include "Platform/Uuid.hpp"
#include "Syphon/SyphonMessaging.hpp"
#include "Syphon/SyphonServerConnectionManager.hpp"

namespace fs = std::filesystem;

namespace ombry {

fs::path syphonNotificationDirectory() { return ipc::defaultRoot() / "notifications"; }

namespace {

bool answersTrue(const nlohmann::json& v) {
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number()) return v.get<double>() != 0;
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        return !s.empty() && (s[0] == 'Y' || s[0] == 'y' || s[0] == 'T' || s[0] == 't' || (s[0] >= '1' && s[0] <= '9'));
    }
    return false;
}

uint32_t nextSurfaceId() {
    static std::atomic<uint32_t> counter{0};
    uint32_t id;
    do id = counter.fetch_add(1) + 1;
    while (id == 0);
    return id;
}

// UUID → notification folder of every public server not stopped. Never destroyed: read at exit.
struct RetireList {
    std::mutex mutex;
    std::unique_ptr<std::map<std::string, fs::path>> uuids;
    bool exitHookInstalled = false;
};
RetireList& retireList() {
    static auto* list = new RetireList;
    return *list;
}

}  // namespace

// ---- base

SyphonServerBase::SyphonServerBase(const std::string& name, const nlohmann::json& options)
    : name_(name),
      uuid_(std::string(syphon_key::uuidPrefix) + "." + makeUuid()),
      notificationDir_(syphonNotificationDirectory()) {
    if (options.is_object() && options.contains(syphon_key::isPrivateOption))
        broadcasts_ = !answersTrue(options[syphon_key::isPrivateOption]);
}

SyphonServerBase::~SyphonServerBase() { SyphonServerBase::stop(); }

bool SyphonServerBase::startServer() {
    connectionManager_ = SyphonServerConnectionManager::create(uuid_);
    connectionManager_->onHasClientsChange = [this](bool value) {
        if (onHasClientsChange) onHasClientsChange(value);
    };
    if (!connectionManager_->start()) {
        connectionManager_.reset();
        stopped_ = true;
        return false;
    }
    if (broadcasts_) {
        addServerToRetireList(uuid_);
        startBroadcasts();
    }
    return true;
}

std::string SyphonServerBase::name() const {
    std::lock_guard lock(mdLock_);
    return name_;
}

void SyphonServerBase::setName(const std::string& name) {
    {
        std::lock_guard lock(mdLock_);
        if (name_ == name) return;
        name_ = name;
    }
    if (connectionManager_) connectionManager_->setName(name);
    if (broadcasts_) post(syphon_key::update);
}

nlohmann::json SyphonServerBase::serverDescription() const {
    return {
        {syphon_key::versionKey, 0u},
        {syphon_key::nameKey, name()},
        {syphon_key::uuidKey, uuid_},
        {syphon_key::appNameKey, applicationName()},
        {syphon_key::surfacesKey, nlohmann::json::array({SyphonServerConnectionManager::surfaceDescription()})},
    };
}

bool SyphonServerBase::hasClients() const { return connectionManager_ && connectionManager_->hasClients(); }

void SyphonServerBase::post(const char* notification) const {
    postDistributedNotification(notificationDir_, {notification, uuid_, serverDescription()});
}

void SyphonServerBase::startBroadcasts() {
    announceRequests_ = NotificationObserver::create(notificationDir_, syphon_key::announceRequest);
    if (announceRequests_) {
        receiveQueue_ = &SyphonCFMessageReceiver::addUser();
        receiveQueue_->watch(announceRequests_->fd(), [this] {
            while (announceRequests_->receive()) post(syphon_key::announce);
        });
    }
    post(syphon_key::announce);
}

void SyphonServerBase::stopBroadcasts() {
    if (announceRequests_) {
        receiveQueue_->unwatch(announceRequests_->fd());
        receiveQueue_ = nullptr;
        SyphonCFMessageReceiver::endUser();
        announceRequests_.reset();
    }
    post(syphon_key::retire);
}

void SyphonServerBase::stop() {
    {
        std::lock_guard lock(mdLock_);
        if (stopped_) return;
        stopped_ = true;
    }
    connectionManager_->stop();
    if (broadcasts_) {
        stopBroadcasts();
        removeServerFromRetireList(uuid_);
    }
    std::lock_guard lock(surfaceLock_);
    surface_.reset();
}

std::shared_ptr<SharedSurface> SyphonServerBase::newSurfaceForWidth(int width, int height) {
    {
        std::lock_guard lock(mdLock_);
        if (stopped_) return nullptr;
    }
    if (surface_ && surface_->width() == width && surface_->height() == height) return surface_;
    surface_ = SharedSurface::create(nextSurfaceId(), width, height);
    pushPending_ = surface_ != nullptr;
    return surface_;
}

void SyphonServerBase::publish() {
    uint32_t id = 0;
    SharedFd fd;
    {
        std::lock_guard lock(surfaceLock_);
        if (pushPending_ && surface_) {
            id = surface_->id();
            fd = surface_->sharedFd();
        }
        pushPending_ = false;
    }
    {
        std::lock_guard lock(mdLock_);
        if (stopped_) return;
    }
    if (id != 0) connectionManager_->setSurfaceID(id, fd);
    connectionManager_->publishNewFrame();
}

void SyphonServerBase::addServerToRetireList(const std::string& uuid) {
    RetireList& list = retireList();
    std::lock_guard lock(list.mutex);
    if (!list.uuids) list.uuids = std::make_unique<std::map<std::string, fs::path>>();
    (*list.uuids)[uuid] = syphonNotificationDirectory();
    if (!list.exitHookInstalled) {
        list.exitHookInstalled = true;
        std::atexit(&SyphonServerBase::retireRemainingServers);
    }
}

void SyphonServerBase::removeServerFromRetireList(const std::string& uuid) {
    RetireList& list = retireList();
    std::lock_guard lock(list.mutex);
    if (!list.uuids) return;
    list.uuids->erase(uuid);
    if (list.uuids->empty()) list.uuids.reset();
}

void SyphonServerBase::retireRemainingServers() {
    std::unique_ptr<std::map<std::string, fs::path>> taken;
    {
        RetireList& list = retireList();
        std::lock_guard lock(list.mutex);
        taken = std::move(list.uuids);
    }
    if (!taken) return;
    for (const auto& [uuid, dir] : *taken)
        postDistributedNotification(dir, {syphon_key::retire, syphon_key::uuidKey, {{syphon_key::uuidKey, uuid}}});
}

// ---- frames

std::shared_ptr<SyphonServer> SyphonServer::create(const std::string& name, const nlohmann::json& options) {
    std::shared_ptr<SyphonServer> server(new SyphonServer(name, options));
    if (!server->startServer()) return nullptr;
    return server;
}

SyphonServer::~SyphonServer() { SyphonServer::stop(); }

void SyphonServer::stop() { SyphonServerBase::stop(); }

void SyphonServer::publishFrame(const SyphonFrame& frame, SyphonRegion imageRegion, bool flipped) {
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.bytesPerRow < frame.width * 4) return;
    const int x0 = std::max(imageRegion.x, 0), y0 = std::max(imageRegion.y, 0);
    const int x1 = std::min(imageRegion.x + imageRegion.width, frame.width);
    const int y1 = std::min(imageRegion.y + imageRegion.height, frame.height);
    const int w = x1 - x0, h = y1 - y0;
    publishFrameWith(w, h, flipped, [&](uint8_t* dst, int bytesPerRow) {
        const size_t rowBytes = size_t(w) * 4;
        for (int r = 0; r < h; ++r) {
            const int srcRow = flipped ? y1 - 1 - r : y0 + r;
            const uint8_t* src = frame.pixels + size_t(srcRow) * size_t(frame.bytesPerRow) + size_t(x0) * 4;
            uint8_t* out = dst + size_t(r) * size_t(bytesPerRow);
            if (frame.format == SyphonPixelFormat::bgra8) {
                std::memcpy(out, src, rowBytes);
            } else {
                // Swap red and blue a whole pixel at a time (byte order is the same on every host we
                // build for), so the compiler can vectorise the row.
                for (int i = 0; i < w; ++i) {
                    uint32_t v;
                    std::memcpy(&v, src + 4 * i, 4);
                    v = (v & 0xff00ff00u) | ((v >> 16) & 0xffu) | ((v & 0xffu) << 16);
                    std::memcpy(out + 4 * i, &v, 4);
                }
            }
        }
    });
}

void SyphonServer::publishFrameWith(int width, int height, bool bottomUp,
                                    const std::function<void(uint8_t* pixels, int bytesPerRow)>& draw) {
    {
        std::lock_guard lock(surfaceLock_);
        auto surface = (width > 0 && height > 0) ? newSurfaceForWidth(width, height) : nullptr;
        if (surface) {
            surface->beginWrite(bottomUp ? SharedSurface::flagBottomUp : 0);
            draw(surface->pixels(), surface->bytesPerRow());
            surface->endWrite();
        }
    }
    // A frame that could not be drawn still tells the clients, as the protocol does.
    publish();
}

std::shared_ptr<SharedSurface> SyphonServer::newFrameImage() {
    std::lock_guard lock(surfaceLock_);
    return currentSurface();
}

}  // namespace ombry
