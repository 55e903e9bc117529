#pragma once
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Ipc/UniqueFd.hpp"

namespace ombry {

class LocalMessagePort;
class RemoteMessagePort;
class FdWatcher;
struct SyphonDispatchSource;

// Typed one-way messages between the frame-sharing server and its clients. A message is a 32-bit signed
// type and an optional payload object; on the wire the payload is its compact JSON text (no payload, no
// bytes), carried by the named message ports of Platform/Ipc/MessagePort (one datagram per message,
// type first, little-endian), which may also carry one file descriptor.
inline constexpr const char* SyphonMessagingProtocolCFMessage = "SyphonMessagingProtocolCFMessage_v1";
inline constexpr const char* syphonMessagingQueueLabel = "info.v002.syphon.messaging";

using SyphonPayload = std::optional<nlohmann::json>;

// What a receiver accepts a payload as (the JSON kinds, recursively); anything else decodes to none.
enum SyphonPayloadClass : unsigned {
    syphonString = 1,
    syphonNumber = 2,
    syphonBoolean = 4,
    syphonArray = 8,
    syphonDictionary = 16,
};
using SyphonPayloadClasses = unsigned;

std::string syphonEncodePayload(const SyphonPayload& payload);
SyphonPayload syphonDecodePayload(const std::string& data, SyphonPayloadClasses allowed);

// The folder of the message ports of this session ($XDG_RUNTIME_DIR/syphon/ports).
std::filesystem::path syphonPortDirectory();

// Holds at most one message per type: queueing a type drops the queued message of that type and appends
// the new one, so the surviving messages stay in the order they were queued. Thread-safe; members are
// reused, so steady-state queueing allocates nothing but the payload bytes.
struct SyphonQueuedMessage {
    std::string data;  // the encoded payload, empty for none
    int32_t type = 0;
    SharedFd attachment;
};

class SyphonMessageQueue {
public:
    SyphonMessageQueue() = default;
    ~SyphonMessageQueue();
    SyphonMessageQueue(const SyphonMessageQueue&) = delete;
    SyphonMessageQueue& operator=(const SyphonMessageQueue&) = delete;

    void queue(std::string data, int32_t type, SharedFd attachment = {});
    // Takes the oldest message; false when the queue is empty.
    bool copyAndDequeue(SyphonQueuedMessage& out);
    void drainQueueAndPool();

private:
    struct Member {
        SyphonQueuedMessage message;
        Member* next = nullptr;
    };
    Member* takeFree();
    void giveBack(Member* m);
    std::mutex lock_;
    Member* head_ = nullptr;
    std::mutex poolLock_;
    Member* pool_ = nullptr;
};

// Sends messages to one remote port from a dispatch channel, never blocking the caller.
class SyphonMessageSender {
public:
    // A sender for the protocol "SyphonMessagingProtocolCFMessage_v1"; null for any other protocol or when
    // no port of that name is live. The handler runs once, when a delivery finds the port gone.
    static std::shared_ptr<SyphonMessageSender> create(const std::string& name, const std::string& protocol,
                                                       std::function<void()> invalidationHandler = {});
    virtual ~SyphonMessageSender() = default;

    const std::string& name() const { return name_; }
    // Does nothing in the base class.
    virtual void send(const SyphonPayload& payload, int32_t type, SharedFd attachment = {});
    void invalidate();
    bool isValid() const { return isValid_.load(); }
    void setIsValid(bool valid) { isValid_.store(valid); }

protected:
    SyphonMessageSender(std::string name, std::function<void()> handler);

private:
    std::string name_;
    std::function<void()> handler_;
    std::atomic<bool> isValid_{true};
};

class SyphonCFMessageSender final : public SyphonMessageSender {
public:
    static std::shared_ptr<SyphonCFMessageSender> create(const std::string& name,
                                                         std::function<void()> invalidationHandler);
    ~SyphonCFMessageSender() override;
    void send(const SyphonPayload& payload, int32_t type, SharedFd attachment = {}) override;

private:
    SyphonCFMessageSender(std::string name, std::function<void()> handler);
    static void deliver(SyphonMessageQueue& queue, RemoteMessagePort& port,
                        const std::weak_ptr<SyphonCFMessageSender>& sender);
    std::shared_ptr<SyphonMessageQueue> queue_;
    SyphonDispatchSource* dispatch_ = nullptr;
};

using SyphonMessageHandler = std::function<void(const SyphonPayload& payload, int32_t type, UniqueFd attachment)>;

// Owns a named local port; every message is handed to the handler on the one shared serial receive queue
// of the process ("info.v002.syphon.messaging"), which lives while any receiver does.
class SyphonMessageReceiver {
public:
    // A receiver for "SyphonMessagingProtocolCFMessage_v1"; null for any other protocol, without a handler,
    // or when the port cannot be made (the name is held by a live port).
    static std::unique_ptr<SyphonMessageReceiver> create(const std::string& name, const std::string& protocol,
                                                         SyphonPayloadClasses allowedClasses,
                                                         SyphonMessageHandler handler);
    virtual ~SyphonMessageReceiver() = default;

    const std::string& name() const { return name_; }
    SyphonPayloadClasses allowedClasses() const { return allowedClasses_; }
    void receiveMessage(const SyphonPayload& payload, int32_t type, UniqueFd attachment);
    // Stops receiving; does nothing in the base class.
    virtual void invalidate() {}

protected:
    SyphonMessageReceiver(std::string name, SyphonPayloadClasses allowed, SyphonMessageHandler handler);

private:
    std::string name_;
    SyphonPayloadClasses allowedClasses_;
    SyphonMessageHandler handler_;
};

class SyphonCFMessageReceiver final : public SyphonMessageReceiver {
public:
    static std::unique_ptr<SyphonCFMessageReceiver> create(const std::string& name,
                                                           SyphonPayloadClasses allowedClasses,
                                                           SyphonMessageHandler handler);
    ~SyphonCFMessageReceiver() override;
    void invalidate() override;

    // The shared receive queue: joining returns it (made when the first user joins), leaving drops it with
    // the last user. Other receive-side sockets of the frame-sharing code are scheduled on it too.
    static FdWatcher& addUser();
    static void endUser();

private:
    SyphonCFMessageReceiver(std::string name, SyphonPayloadClasses allowed, SyphonMessageHandler handler,
                            std::unique_ptr<LocalMessagePort> port);
    void drain();
    std::atomic<bool> valid_{true};
    FdWatcher* queue_ = nullptr;  // the shared receive queue, while this receiver is one of its users
    std::unique_ptr<LocalMessagePort> port_;
};

}  // namespace ombry
