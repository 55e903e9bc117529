#include "Engine/Servers/BLEControlServer.hpp"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "Engine/Model/Issues.hpp"
#include "Engine/Control/UriReference.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Platform/Media/MediaProbe.hpp"
#include "Platform/Product.hpp"

namespace ombry {

namespace {

constexpr const char* kLog = "BLE";


const char* caseName(ControlResult::Kind kind) {
    switch (kind) {
    case ControlResult::Kind::ok: return "ok";
    case ControlResult::Kind::notFound: return "notFound";
    case ControlResult::Kind::badRequest: return "badRequest";
    case ControlResult::Kind::refused: return "refused";
    }
    return "";
}

void logResult(const std::string& basePath, const ControlResult& result) {
    if (result.kind == ControlResult::Kind::ok) return;
    Diag::note(kLog, "command " + basePath + " -> " + caseName(result.kind) + "(\"" + result.message + "\")");
}

BLEBytes bytesOf(std::string_view s) { return BLEBytes(s.begin(), s.end()); }

}  // namespace

std::shared_ptr<BLEControlServer> BLEControlServer::create(boost::asio::any_io_executor queue, bt::PeripheralFactory factory,
                                                           std::optional<std::string> hostName, const Clock& clock) {
    return std::shared_ptr<BLEControlServer>(new BLEControlServer(std::move(queue), std::move(factory), std::move(hostName), clock));
}

BLEControlServer::BLEControlServer(boost::asio::any_io_executor queue, bt::PeripheralFactory factory,
                                   std::optional<std::string> hostName, const Clock& clock)
    : queue_(std::move(queue)), factory_(std::move(factory)), hostName_(std::move(hostName)), clock_(clock) {}

template <class F>
void BLEControlServer::onQueue(F&& fn) {
    boost::asio::post(queue_, [self = shared_from_this(), fn = std::forward<F>(fn)]() mutable { fn(); });
}

void BLEControlServer::configureControl(std::optional<std::string> password) {
    onQueue([this, password = std::move(password)] {
        std::optional<std::string> next;
        if (password) {
            std::string t = trimWhiteSpace(*password);
            if (!t.empty()) next = std::move(t);
        }
        const bool presenceChanged = next.has_value() != controlPassword_.has_value();
        controlPassword_ = std::move(next);
        // Only the marker depends on the password, and only on whether there is one.
        if (presenceChanged && serviceUp_ && manager_ && manager_->isAdvertising()) {
            manager_->stopAdvertising();
            manager_->startAdvertising(advertisingData());
        }
    });
}

void BLEControlServer::start() {
    onQueue([this] {
        shouldRun_ = true;
        if (!manager_) {
            auto post = [q = queue_](std::function<void()> fn) { boost::asio::post(q, std::move(fn)); };
            // Its first state report applies the wanted state.
            manager_ = factory_(weak_from_this(), post);
        } else {
            applyDesiredState();
        }
    });
}

void BLEControlServer::stop() {
    onQueue([this] {
        shouldRun_ = false;
        applyDesiredState();
    });
}

void BLEControlServer::push(std::shared_ptr<const LiveSnapshot> snapshot) {
    if (!snapshot) return;
    onQueue([this, snapshot = std::move(snapshot)]() mutable {
        latestSnapshot_ = std::move(snapshot);
        // Every state subscriber gets it, password or not: the platform does not say who is behind a link.
        if (!stateSubscribers_.empty()) enqueueSnapshot();
    });
}

void BLEControlServer::push(ControlSnapshot snapshot) {
    try {
        push(LiveSnapshot::fixed(std::move(snapshot)));
    } catch (const std::exception&) {
        // not encodable: dropped
    }
}

void BLEControlServer::updatePlayheads(std::shared_ptr<const LiveSnapshot> snapshot) {
    if (!snapshot) return;
    onQueue([this, snapshot = std::move(snapshot)]() mutable { latestSnapshot_ = std::move(snapshot); });
}

void BLEControlServer::enqueueSnapshot() {
    enqueue(bytesOf(latestSnapshot_->text(transportNow())), MsgKind::snapshot, true, false);
}

void BLEControlServer::pushTransport(ControlTransportMessage message) {
    onQueue([this, message = std::move(message)] {
        if (stateSubscribers_.empty()) return;
        // Monotonic: a wall-clock step back must not silence ticks.
        const double now = clock_.monotonic();
        if (lastTransportSent_ && now - *lastTransportSent_ < 1.0) return;
        lastTransportSent_ = now;
        std::string json;
        try {
            json = wireText(message);
        } catch (const std::exception&) {
            return;
        }
        enqueue(bytesOf(json), MsgKind::tick, false, false);
    });
}

void BLEControlServer::updateThumbIndex(std::map<std::string, std::string> idToPath) {
    onQueue([this, index = std::move(idToPath)]() mutable { thumbIndex_ = std::move(index); });
}

std::string BLEControlServer::hostLabel() const { return hostName_ && !hostName_->empty() ? *hostName_ : product::name; }

bt::Advertisement BLEControlServer::advertisingData() const {
    bt::Advertisement ad;
    ad.serviceUuids.push_back(ble::serviceUuid);
    if (controlPassword_) ad.serviceUuids.push_back(ble::passwordMarkerUuid);
    ad.localName = hostLabel();
    return ad;
}

void BLEControlServer::dropLinks() {
    stateSubscribers_.clear();
    thumbSubscribers_.clear();
    outbox_.clear();
    pendingChunk_.reset();
}

void BLEControlServer::applyDesiredState() {
    if (!manager_ || manager_->state() != bt::BluetoothState::poweredOn) return;
    if (!shouldRun_ && serviceUp_) {
        manager_->stopAdvertising();
        manager_->removeAllServices();
        haveChars_ = false;
        serviceUp_ = false;
        dropLinks();
        if (onClientsChanged) onClientsChanged(0);
    } else if (shouldRun_ && !serviceUp_) {
        bt::GattService service{ble::serviceUuid,
                                {{ble::commandCharUuid, true, false}, {ble::stateCharUuid, false, true}, {ble::thumbCharUuid, false, true}}};
        manager_->addService(service);
        haveChars_ = true;
        manager_->startAdvertising(advertisingData());
        serviceUp_ = true;
        Diag::note(kLog, "control advertising as " + hostLabel());
    }
}

void BLEControlServer::peripheralDidUpdateState(bt::BluetoothState state) {
    if (state != bt::BluetoothState::poweredOn) {
        serviceUp_ = false;
        dropLinks();
        if (onClientsChanged) onClientsChanged(0);
    }
    applyDesiredState();
    if (onStateChange) onStateChange(state);
}

void BLEControlServer::peripheralDidSubscribe(const bt::Central& central, const std::string& characteristic) {
    if (characteristic == ble::stateCharUuid) {
        stateSubscribers_[central.id] = central;
        // With a password, a new listener waits until it asks for the state with the password.
        if (!controlPassword_ && latestSnapshot_) enqueueSnapshot();
        if (onClientsChanged) onClientsChanged(int(stateSubscribers_.size()));
    } else if (characteristic == ble::thumbCharUuid) {
        thumbSubscribers_[central.id] = central;
    }
}

void BLEControlServer::peripheralDidUnsubscribe(const bt::Central& central, const std::string& characteristic) {
    if (characteristic == ble::stateCharUuid) {
        stateSubscribers_.erase(central.id);
        if (onClientsChanged) onClientsChanged(int(stateSubscribers_.size()));
    } else if (characteristic == ble::thumbCharUuid) {
        thumbSubscribers_.erase(central.id);
    }
}

void BLEControlServer::peripheralDidReceiveWrite(const std::vector<bt::WriteRequest>& requests) {
    if (requests.empty() || !manager_) return;
    for (const auto& request : requests) {
        if (!request.value || !isUtf8(std::string_view(reinterpret_cast<const char*>(request.value->data()), request.value->size()))) {
            manager_->respond(requests.front(), bt::AttResult::unlikelyError);
            return;
        }
        handle(std::string(request.value->begin(), request.value->end()));
    }
    manager_->respond(requests.front(), bt::AttResult::success);
}

void BLEControlServer::peripheralIsReadyToUpdateSubscribers() { drain(); }

void BLEControlServer::peripheralDidStartAdvertising(const std::optional<std::string>& error) {
    if (error) Diag::note(kLog, "advertising failed: " + *error);
}

bool BLEControlServer::authorized(const std::string& path, const std::optional<std::string>& password) {
    if (!password) return true;
    const auto ref = UriReference::parse(path);
    if (!ref || ref->queryItems.empty()) return false;
    return std::any_of(ref->queryItems.begin(), ref->queryItems.end(),
                       [&](const UriQueryItem& item) { return item.name == "k" && item.value == *password; });
}

void BLEControlServer::handle(const std::string& path) {
    if (!authorized(path, controlPassword_)) {
        Diag::note(kLog, "command rejected — control password required");
        sendUnauthorized();
        return;
    }
    const std::string basePath = path.substr(0, path.find('?'));
    if (path.starts_with("/api/thumb/")) {
        serveThumb(path);
    } else if (path == "/api/state" || path.starts_with("/api/state?")) {
        if (latestSnapshot_) enqueueSnapshot();
    } else if (auto command = ControlCommand::parse(path); !command) {
        Diag::note(kLog, "unknown route " + basePath);
    } else if (!perform) {
        logResult(basePath, ControlResult::badRequest("control not wired"));
    } else {
        // The result only reaches the log, so it needs nothing of this server.
        perform(std::move(*command), [basePath](ControlResult result) { logResult(basePath, result); });
    }
}

void BLEControlServer::sendUnauthorized() { enqueue(bytesOf(ble::unauthorizedMessage), MsgKind::authError, false, false); }

void BLEControlServer::serveThumb(const std::string& requestPath) {
    // The decoded path (the whole text when it is not a URI reference) less "/api/thumb/", decoded once more
    // when it can be.
    const auto ref = UriReference::parse(requestPath);
    const std::string path = ref ? ref->path : requestPath;
    std::string id = path.size() > 11 ? path.substr(11) : std::string();
    if (auto decoded = percentDecode(id)) id = std::move(*decoded);

    auto cached = thumbCache_.find(requestPath);
    if (cached == thumbCache_.end()) {
        BLEBytes jpeg = tinyThumb(id);
        if (thumbCache_.size() > ble::thumbCacheLimit) thumbCache_.clear();
        cached = thumbCache_.emplace(requestPath, std::move(jpeg)).first;
    }
    auto record = BLEThumbMessage::encode(id, cached->second);
    if (!record) return;
    enqueue(std::move(*record), MsgKind::thumb, false, true);
}

BLEBytes BLEControlServer::tinyThumb(const std::string& id) const {
    const auto it = thumbIndex_.find(id);
    if (it == thumbIndex_.end()) return {};
    std::error_code ec;
    if (!std::filesystem::exists(it->second, ec)) return {};
    const auto picture = media::probe::imageThumb(it->second, ble::thumbMaxSide);
    return picture ? media::probe::jpegBytes(*picture, ble::thumbQuality) : BLEBytes{};
}

void BLEControlServer::enqueue(BLEBytes data, MsgKind kind, bool compress, bool onThumbChar) {
    if (kind == MsgKind::snapshot) {
        // The newer snapshot replaces one that has not started, and goes to the back of the queue.
        const auto waiting = std::find_if(outbox_.begin(), outbox_.end(),
                                          [](const OutMessage& m) { return m.kind == MsgKind::snapshot && !m.started; });
        if (waiting != outbox_.end()) outbox_.erase(waiting);
    } else if (kind == MsgKind::tick || kind == MsgKind::authError) {
        if (std::any_of(outbox_.begin(), outbox_.end(), [kind](const OutMessage& m) { return m.kind == kind; })) return;
    }
    uint8_t& counter = onThumbChar ? thumbSeq_ : stateSeq_;
    const uint8_t seq = counter;
    counter = uint8_t((counter + 1) % 32);
    std::optional<BLEBytes> packed = compress ? BLEFrame::compress(data) : std::nullopt;
    const uint8_t flag = packed ? kBLECompressed : 0;
    outbox_.push_back(OutMessage{kind, BLEMessageChunker(packed ? std::move(*packed) : std::move(data), seq, flag), onThumbChar, false});
    drain();
}

void BLEControlServer::drain() {
    if (!manager_ || manager_->state() != bt::BluetoothState::poweredOn || !serviceUp_) return;
    for (;;) {
        if (pendingChunk_) {
            if (!haveChars_) {
                pendingChunk_.reset();
                continue;
            }
            const char* uuid = pendingChunk_->onThumbChar ? ble::thumbCharUuid : ble::stateCharUuid;
            if (!manager_->updateValue(pendingChunk_->data, uuid)) return;  // resent when the link is ready
            pendingChunk_.reset();
            continue;
        }
        if (outbox_.empty()) return;
        OutMessage& message = outbox_.front();
        if (message.chunker.finished()) {
            outbox_.pop_front();
            continue;
        }
        const auto& subscribers = message.onThumbChar ? thumbSubscribers_ : stateSubscribers_;
        if (subscribers.empty()) {
            outbox_.pop_front();
            continue;
        }
        int chunkSize = subscribers.begin()->second.maximumUpdateValueLength;
        for (const auto& [id, central] : subscribers) chunkSize = std::min(chunkSize, central.maximumUpdateValueLength);
        message.started = true;
        auto chunk = message.chunker.next(chunkSize);
        if (!chunk) {
            outbox_.pop_front();
            continue;
        }
        pendingChunk_ = PendingChunk{std::move(*chunk), message.onThumbChar};
    }
}

}  // namespace ombry
