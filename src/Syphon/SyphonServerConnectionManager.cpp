#include "Syphon/SyphonServerConnectionManager.hpp"

#include <vector>

#include "Platform/Log.hpp"
#include "Syphon/SyphonMessaging.hpp"

namespace ombry {

std::shared_ptr<SyphonServerConnectionManager> SyphonServerConnectionManager::create(const std::string& uuid) {
    return std::shared_ptr<SyphonServerConnectionManager>(new SyphonServerConnectionManager(uuid));
}

SyphonServerConnectionManager::SyphonServerConnectionManager(const std::string& uuid)
    : uuid_(uuid), queue_(uuid) {}

SyphonServerConnectionManager::~SyphonServerConnectionManager() {
    bool running = false;
    queue_.sync([&] { running = alive_; });
    if (!running) return;
    // Raising here would take the whole program down for an ordering slip; stop instead and say so.
    logLine(LogLevel::error, "OUT", "SyphonServerConnectionManager released while running; stopped it", false);
    queue_.sync([&] { stopOnQueue(); });
}

bool SyphonServerConnectionManager::start() {
    bool alive = false;
    queue_.sync([&] {
        if (!alive_) {
            // The receiver is invalidated (and its handler finished) before this manager goes, so the
            // handler may use it directly; holding a reference here could end the manager on the receive
            // queue, under its own handler.
            connection_ = SyphonMessageReceiver::create(
                uuid_, SyphonMessagingProtocolCFMessage, syphonString,
                [self = this](const SyphonPayload& payload, int32_t type, UniqueFd) {
                    if (!payload || !payload->is_string()) return;
                    const std::string client = payload->get<std::string>();
                    switch (type) {
                    case syphon_message::addInfoClient: self->addInfoClient(client); break;
                    case syphon_message::addFrameClient: self->addFrameClient(client); break;
                    case syphon_message::removeInfoClient: self->removeInfoClient(client); break;
                    case syphon_message::removeFrameClient: self->removeFrameClient(client); break;
                    default: break;
                    }
                });
            alive_ = connection_ != nullptr;
        }
        alive = alive_;
    });
    return alive;
}

void SyphonServerConnectionManager::stop() {
    queue_.sync([&] { stopOnQueue(); });
}

void SyphonServerConnectionManager::stopOnQueue() {
    if (!alive_) return;
    for (auto& [name, sender] : infoClients_) sender->send(std::nullopt, syphon_message::serverRetiring);
    const bool hadClients = !infoClients_.empty();
    infoClients_.clear();
    frameClients_.clear();
    if (connection_) connection_->invalidate();
    connection_.reset();
    alive_ = false;
    if (hadClients) setHasClients(false);
}

void SyphonServerConnectionManager::setHasClients(bool value) {
    hasClients_.store(value);
    if (onHasClientsChange) onHasClientsChange(value);
}

std::shared_ptr<SyphonMessageSender> SyphonServerConnectionManager::makeSender(const std::string& clientName) {
    std::weak_ptr<SyphonServerConnectionManager> weak = weak_from_this();
    return SyphonMessageSender::create(clientName, SyphonMessagingProtocolCFMessage, [weak] {
        if (auto self = weak.lock()) self->handleDeadConnection();
    });
}

void SyphonServerConnectionManager::addInfoClient(const std::string& clientName) {
    queue_.async([weak = weak_from_this(), clientName] {
        auto self = weak.lock();
        if (!self || !self->alive_ || clientName.empty()) return;
        auto sender = self->makeSender(clientName);
        if (!sender) {
            self->handleDeadConnection();
            return;
        }
        const bool first = self->infoClients_.empty();
        if (self->surfaceID_ != 0)
            sender->send(nlohmann::json(self->surfaceID_), syphon_message::surfaceChanged, self->surface_);
        self->infoClients_[clientName] = sender;
        if (first) self->setHasClients(true);
    });
}

void SyphonServerConnectionManager::removeInfoClient(const std::string& clientName) {
    queue_.async([weak = weak_from_this(), clientName] {
        auto self = weak.lock();
        if (!self || !self->alive_ || clientName.empty()) return;
        if (self->infoClients_.erase(clientName) && self->infoClients_.empty()) self->setHasClients(false);
    });
}

void SyphonServerConnectionManager::addFrameClient(const std::string& clientName) {
    queue_.async([weak = weak_from_this(), clientName] {
        auto self = weak.lock();
        if (!self || !self->alive_ || clientName.empty()) return;
        std::shared_ptr<SyphonMessageSender> sender;
        if (auto it = self->infoClients_.find(clientName); it != self->infoClients_.end()) sender = it->second;
        else sender = self->makeSender(clientName);
        if (!sender) {
            self->handleDeadConnection();
            return;
        }
        self->frameClients_[clientName] = sender;
        if (self->surfaceID_ != 0) sender->send(std::nullopt, syphon_message::newFrame);
    });
}

void SyphonServerConnectionManager::removeFrameClient(const std::string& clientName) {
    queue_.async([weak = weak_from_this(), clientName] {
        auto self = weak.lock();
        if (!self || !self->alive_ || clientName.empty()) return;
        self->frameClients_.erase(clientName);
    });
}

void SyphonServerConnectionManager::handleDeadConnection() {
    queue_.async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        std::vector<std::string> dead;
        for (auto& [name, sender] : self->infoClients_)
            if (!sender->isValid()) dead.push_back(name);
        for (auto& name : dead) self->removeInfoClient(name);
        dead.clear();
        for (auto& [name, sender] : self->frameClients_)
            if (!sender->isValid()) dead.push_back(name);
        for (auto& name : dead) self->removeFrameClient(name);
    });
}

void SyphonServerConnectionManager::setName(const std::string& name) {
    queue_.async([weak = weak_from_this(), name] {
        auto self = weak.lock();
        if (!self) return;
        for (auto& [client, sender] : self->infoClients_) sender->send(nlohmann::json(name), syphon_message::serverNameChanged);
    });
}

void SyphonServerConnectionManager::setSurfaceID(uint32_t surfaceID, SharedFd surface) {
    queue_.sync([&] {
        surfaceID_ = surfaceID;
        surface_ = std::move(surface);
        for (auto& [client, sender] : infoClients_)
            sender->send(nlohmann::json(surfaceID_), syphon_message::surfaceChanged, surface_);
    });
}

void SyphonServerConnectionManager::publishNewFrame() {
    queue_.sync([&] {
        for (auto& [client, sender] : frameClients_) sender->send(std::nullopt, syphon_message::newFrame);
    });
}

nlohmann::json SyphonServerConnectionManager::surfaceDescription() {
    return {{"SyphonSurfaceType", "SyphonSurfaceTypeIOSurface"}};
}

}  // namespace ombry
