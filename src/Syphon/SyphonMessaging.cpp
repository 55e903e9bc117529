#include "Syphon/SyphonMessaging.hpp"

#include "Platform/Ipc/FdWatcher.hpp"
#include "Platform/Ipc/IpcPaths.hpp"
#include "Platform/Ipc/MessagePort.hpp"
#include "Syphon/SyphonDispatch.hpp"

namespace ombry {

// ---- payloads

namespace {
bool allowedValue(const nlohmann::json& j, SyphonPayloadClasses allowed) {
    switch (j.type()) {
    case nlohmann::json::value_t::string: return allowed & syphonString;
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float: return allowed & syphonNumber;
    case nlohmann::json::value_t::boolean: return allowed & syphonBoolean;
    case nlohmann::json::value_t::array:
        if (!(allowed & syphonArray)) return false;
        for (const auto& v : j)
            if (!allowedValue(v, allowed)) return false;
        return true;
    case nlohmann::json::value_t::object:
        if (!(allowed & syphonDictionary)) return false;
        for (const auto& [k, v] : j.items())
            if (!allowedValue(v, allowed)) return false;
        return true;
    default: return false;
    }
}
}  // namespace

std::string syphonEncodePayload(const SyphonPayload& payload) {
    return payload ? payload->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) : std::string();
}

SyphonPayload syphonDecodePayload(const std::string& data, SyphonPayloadClasses allowed) {
    if (data.empty()) return std::nullopt;
    auto j = nlohmann::json::parse(data, nullptr, false);
    if (j.is_discarded() || !allowedValue(j, allowed)) return std::nullopt;
    return j;
}

std::filesystem::path syphonPortDirectory() { return ipc::defaultRoot() / "ports"; }

// ---- queue

SyphonMessageQueue::~SyphonMessageQueue() { drainQueueAndPool(); }

SyphonMessageQueue::Member* SyphonMessageQueue::takeFree() {
    std::lock_guard lock(poolLock_);
    Member* m = pool_;
    if (m) pool_ = m->next;
    return m;
}

void SyphonMessageQueue::giveBack(Member* m) {
    m->message.data.clear();
    m->message.attachment.reset();
    std::lock_guard lock(poolLock_);
    m->next = pool_;
    pool_ = m;
}

void SyphonMessageQueue::queue(std::string data, int32_t type, SharedFd attachment) {
    Member* m = takeFree();
    if (!m) m = new Member;
    m->message.data = std::move(data);
    m->message.type = type;
    m->message.attachment = std::move(attachment);
    m->next = nullptr;
    Member* dropped = nullptr;
    {
        std::lock_guard lock(lock_);
        Member** link = &head_;
        while (*link) {
            if ((*link)->message.type == type) {
                Member* same = *link;
                *link = same->next;
                same->next = dropped;
                dropped = same;
            } else {
                link = &(*link)->next;
            }
        }
        *link = m;
    }
    while (dropped) {
        Member* next = dropped->next;
        giveBack(dropped);
        dropped = next;
    }
}

bool SyphonMessageQueue::copyAndDequeue(SyphonQueuedMessage& out) {
    Member* m;
    {
        std::lock_guard lock(lock_);
        m = head_;
        if (!m) return false;
        head_ = m->next;
    }
    out.data = std::move(m->message.data);
    out.type = m->message.type;
    out.attachment = std::move(m->message.attachment);
    giveBack(m);
    return true;
}

void SyphonMessageQueue::drainQueueAndPool() {
    Member* list;
    {
        std::lock_guard lock(lock_);
        list = head_;
        head_ = nullptr;
    }
    {
        std::lock_guard lock(poolLock_);
        Member* tail = pool_;
        pool_ = nullptr;
        while (tail) {
            Member* next = tail->next;
            tail->next = list;
            list = tail;
            tail = next;
        }
    }
    while (list) {
        Member* next = list->next;
        delete list;
        list = next;
    }
}

// ---- senders

SyphonMessageSender::SyphonMessageSender(std::string name, std::function<void()> handler)
    : name_(std::move(name)), handler_(std::move(handler)) {}

std::shared_ptr<SyphonMessageSender> SyphonMessageSender::create(const std::string& name,
                                                                 const std::string& protocol,
                                                                 std::function<void()> invalidationHandler) {
    if (protocol != SyphonMessagingProtocolCFMessage) return nullptr;
    return SyphonCFMessageSender::create(name, std::move(invalidationHandler));
}

void SyphonMessageSender::send(const SyphonPayload&, int32_t, SharedFd) {}

void SyphonMessageSender::invalidate() {
    // Only the first invalidation tells the owner.
    if (isValid_.exchange(false) && handler_) handler_();
}

std::shared_ptr<SyphonCFMessageSender> SyphonCFMessageSender::create(const std::string& name,
                                                                     std::function<void()> invalidationHandler) {
    std::shared_ptr<RemoteMessagePort> port = RemoteMessagePort::connect(syphonPortDirectory(), name);
    if (!port) return nullptr;
    std::shared_ptr<SyphonCFMessageSender> sender(new SyphonCFMessageSender(name, std::move(invalidationHandler)));
    // Delivery holds the queue and the port itself, so that what was sent just before the sender went away
    // (the retiring notice) still goes out; the sender is needed only to invalidate it.
    sender->dispatch_ = SyphonDispatchSourceCreate(
        [queue = sender->queue_, port, weak = std::weak_ptr<SyphonCFMessageSender>(sender)] {
            deliver(*queue, *port, weak);
        });
    SyphonDispatchSourceSetCompletionBlock(sender->dispatch_, [port]() mutable { port.reset(); });
    return sender;
}

SyphonCFMessageSender::SyphonCFMessageSender(std::string name, std::function<void()> handler)
    : SyphonMessageSender(std::move(name), std::move(handler)), queue_(std::make_shared<SyphonMessageQueue>()) {}

SyphonCFMessageSender::~SyphonCFMessageSender() { SyphonDispatchSourceRelease(dispatch_); }

void SyphonCFMessageSender::send(const SyphonPayload& payload, int32_t type, SharedFd attachment) {
    queue_->queue(syphonEncodePayload(payload), type, std::move(attachment));
    SyphonDispatchSourceFire(dispatch_);
}

void SyphonCFMessageSender::deliver(SyphonMessageQueue& queue, RemoteMessagePort& port,
                                    const std::weak_ptr<SyphonCFMessageSender>& sender) {
    SyphonQueuedMessage message;
    while (queue.copyAndDequeue(message)) {
        const int fd = message.attachment ? message.attachment->get() : -1;
        if (port.send(message.type, message.data, fd) == RemoteMessagePort::SendResult::invalid) {
            if (auto strong = sender.lock()) strong->invalidate();
            return;
        }
        // A time-out or another error drops this message; delivery goes on.
    }
}

// ---- receivers

SyphonMessageReceiver::SyphonMessageReceiver(std::string name, SyphonPayloadClasses allowed,
                                             SyphonMessageHandler handler)
    : name_(std::move(name)), allowedClasses_(allowed), handler_(std::move(handler)) {}

std::unique_ptr<SyphonMessageReceiver> SyphonMessageReceiver::create(const std::string& name,
                                                                     const std::string& protocol,
                                                                     SyphonPayloadClasses allowedClasses,
                                                                     SyphonMessageHandler handler) {
    if (protocol != SyphonMessagingProtocolCFMessage || !handler) return nullptr;
    return SyphonCFMessageReceiver::create(name, allowedClasses, std::move(handler));
}

void SyphonMessageReceiver::receiveMessage(const SyphonPayload& payload, int32_t type, UniqueFd attachment) {
    handler_(payload, type, std::move(attachment));
}

namespace {
struct SharedReceiveQueue {
    std::mutex mutex;
    int users = 0;
    std::unique_ptr<FdWatcher> queue;
};
SharedReceiveQueue& sharedReceiveQueue() {
    static auto* q = new SharedReceiveQueue;  // outlives exit-time users
    return *q;
}
}  // namespace

FdWatcher& SyphonCFMessageReceiver::addUser() {
    auto& shared = sharedReceiveQueue();
    std::lock_guard lock(shared.mutex);
    if (shared.users++ == 0) shared.queue = std::make_unique<FdWatcher>(syphonMessagingQueueLabel);
    return *shared.queue;
}

void SyphonCFMessageReceiver::endUser() {
    std::unique_ptr<FdWatcher> dropped;
    {
        auto& shared = sharedReceiveQueue();
        std::lock_guard lock(shared.mutex);
        if (shared.users == 0) return;
        if (--shared.users == 0) dropped = std::move(shared.queue);
    }
}

std::unique_ptr<SyphonCFMessageReceiver> SyphonCFMessageReceiver::create(const std::string& name,
                                                                         SyphonPayloadClasses allowedClasses,
                                                                         SyphonMessageHandler handler) {
    auto port = LocalMessagePort::create(syphonPortDirectory(), name);
    if (!port) return nullptr;
    std::unique_ptr<SyphonCFMessageReceiver> receiver(
        new SyphonCFMessageReceiver(name, allowedClasses, std::move(handler), std::move(port)));
    receiver->queue_ = &addUser();
    receiver->queue_->watch(receiver->port_->fd(), [r = receiver.get()] { r->drain(); });
    return receiver;
}

SyphonCFMessageReceiver::SyphonCFMessageReceiver(std::string name, SyphonPayloadClasses allowed,
                                                 SyphonMessageHandler handler,
                                                 std::unique_ptr<LocalMessagePort> port)
    : SyphonMessageReceiver(std::move(name), allowed, std::move(handler)), port_(std::move(port)) {}

SyphonCFMessageReceiver::~SyphonCFMessageReceiver() { invalidate(); }

void SyphonCFMessageReceiver::drain() {
    while (valid_.load()) {
        auto msg = port_->receive();
        if (!msg) break;
        SyphonPayload payload =
            msg->truncated ? std::nullopt : syphonDecodePayload(msg->data, allowedClasses());
        receiveMessage(payload, msg->id, std::move(msg->attachment));
    }
}

void SyphonCFMessageReceiver::invalidate() {
    if (valid_.exchange(false)) {
        const bool inOwnHandler = queue_->onWatcherThread();
        queue_->unwatch(port_->fd());
        queue_ = nullptr;
        endUser();
        // From inside a handler the drain loop still holds the port; the destructor closes it then.
        if (inOwnHandler) return;
    }
    port_.reset();
}

}  // namespace ombry
