#include "SyphonTestClient.hpp"

#include <chrono>

#include "Platform/Ipc/DistributedNotifications.hpp"
#include "Platform/Uuid.hpp"
#include "Syphon/SyphonServer.hpp"
#include "Syphon/SyphonServerConnectionManager.hpp"

namespace ombry::test {

SyphonTestClient::SyphonTestClient() : portName_("client." + makeUuid()) {
    receiver_ = SyphonMessageReceiver::create(
        portName_, SyphonMessagingProtocolCFMessage, syphonString | syphonNumber,
        [this](const SyphonPayload& payload, int32_t type, UniqueFd fd) { onMessage(payload, type, std::move(fd)); });
}

SyphonTestClient::~SyphonTestClient() {
    if (receiver_) receiver_->invalidate();
}

std::optional<nlohmann::json> SyphonTestClient::discover(const std::string& serverName, double timeoutSeconds) {
    auto announces = NotificationObserver::create(syphonNotificationDirectory(), syphon_key::announce);
    if (!announces) return std::nullopt;
    postDistributedNotification(syphonNotificationDirectory(), {syphon_key::announceRequest, "", {}});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        auto note = announces->receive(0.1);
        if (note && note->userInfo.value(syphon_key::nameKey, "") == serverName) return note->userInfo;
    }
    return std::nullopt;
}

bool SyphonTestClient::registerWith(const std::string& serverUuid, bool info, bool frames) {
    serverUuid_ = serverUuid;
    sender_ = SyphonMessageSender::create(serverUuid, SyphonMessagingProtocolCFMessage);
    if (!sender_ || !receiver_) return false;
    if (info) sender_->send(nlohmann::json(portName_), syphon_message::addInfoClient);
    if (frames) sender_->send(nlohmann::json(portName_), syphon_message::addFrameClient);
    return true;
}

void SyphonTestClient::unregister() {
    if (!sender_) return;
    sender_->send(nlohmann::json(portName_), syphon_message::removeFrameClient);
    sender_->send(nlohmann::json(portName_), syphon_message::removeInfoClient);
}

void SyphonTestClient::onMessage(const SyphonPayload& payload, int32_t type, UniqueFd fd) {
    std::lock_guard lock(mutex_);
    messages_.push_back({type, payload, bool(fd)});
    if (type == syphon_message::surfaceChanged && fd && payload && payload->is_number_unsigned()) {
        auto mapped = SharedSurface::map(std::move(fd));
        if (mapped && mapped->id() == payload->get<uint32_t>()) surface_ = mapped;
    }
    changed_.notify_all();
}

bool SyphonTestClient::waitFor(const std::function<bool(const std::vector<Message>&)>& pred,
                               double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return pred(messages_); });
}

bool SyphonTestClient::waitForCount(int32_t type, int n, double timeoutSeconds) {
    return waitFor([&](const std::vector<Message>& m) { return countOf(m, type) >= n; }, timeoutSeconds);
}

int countOf(const std::vector<SyphonTestClient::Message>& messages, int32_t type) {
    int n = 0;
    for (const auto& m : messages) n += m.type == type;
    return n;
}

std::vector<SyphonTestClient::Message> SyphonTestClient::messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

int SyphonTestClient::count(int32_t type) {
    std::lock_guard lock(mutex_);
    return countOf(messages_, type);
}

std::shared_ptr<SharedSurface> SyphonTestClient::surface() {
    std::lock_guard lock(mutex_);
    return surface_;
}

std::vector<uint8_t> SyphonTestClient::pixels() {
    std::vector<uint8_t> out;
    if (auto s = surface()) s->read(out);
    return out;
}

}  // namespace ombry::test
