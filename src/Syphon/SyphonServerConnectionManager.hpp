#pragma once
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Platform/Ipc/UniqueFd.hpp"
#include "Syphon/SyphonSerialQueue.hpp"

namespace ombry {

class SyphonMessageReceiver;
class SyphonMessageSender;

// Message types of the server protocol.
namespace syphon_message {
// Client to server; the payload is the client's port name.
inline constexpr int32_t addInfoClient = 0;
inline constexpr int32_t addFrameClient = 1;
inline constexpr int32_t removeInfoClient = 2;
inline constexpr int32_t removeFrameClient = 3;
// Server to client.
inline constexpr int32_t serverNameChanged = 0;  // the new name
inline constexpr int32_t newFrame = 1;           // no payload
inline constexpr int32_t surfaceChanged = 2;     // the surface id (number); carries the surface's descriptor
inline constexpr int32_t serverRetiring = 3;     // no payload
}  // namespace syphon_message

// Keeps the server's clients: listens on the port named by the server's UUID, and sends each info client
// the name and surface changes, each frame client the new-frame notices. All table work runs on a serial
// queue labelled with the UUID; surface changes, new frames and stop wait for it, the rest does not.
class SyphonServerConnectionManager : public std::enable_shared_from_this<SyphonServerConnectionManager> {
public:
    static std::shared_ptr<SyphonServerConnectionManager> create(const std::string& uuid);
    // A manager released while it still runs is stopped (and the slip logged).
    ~SyphonServerConnectionManager();
    SyphonServerConnectionManager(const SyphonServerConnectionManager&) = delete;
    SyphonServerConnectionManager& operator=(const SyphonServerConnectionManager&) = delete;

    // Whether it is alive afterwards.
    bool start();
    void stop();
    void setName(const std::string& name);
    // The descriptor goes with every surface-changed message so that clients can map the surface.
    void setSurfaceID(uint32_t surfaceID, SharedFd surface);
    void publishNewFrame();
    void addInfoClient(const std::string& clientName);
    void removeInfoClient(const std::string& clientName);
    void addFrameClient(const std::string& clientName);
    void removeFrameClient(const std::string& clientName);
    void handleDeadConnection();
    static nlohmann::json surfaceDescription();
    bool hasClients() const { return hasClients_.load(); }

    // Called on the manager's queue after hasClients changed, with the new value.
    std::function<void(bool)> onHasClientsChange;

private:
    explicit SyphonServerConnectionManager(const std::string& uuid);
    std::shared_ptr<SyphonMessageSender> makeSender(const std::string& clientName);
    void setHasClients(bool value);
    void stopOnQueue();

    std::unique_ptr<SyphonMessageReceiver> connection_;
    std::map<std::string, std::shared_ptr<SyphonMessageSender>> infoClients_;
    std::map<std::string, std::shared_ptr<SyphonMessageSender>> frameClients_;
    bool alive_ = false;
    std::string uuid_;
    uint32_t surfaceID_ = 0;
    SharedFd surface_;
    std::atomic<bool> hasClients_{false};
    SyphonSerialQueue queue_;
};

}  // namespace ombry
