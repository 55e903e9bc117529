#pragma once
// A small client of the frame-sharing protocol, as another application would write it: finds servers
// through the announcements, registers on the server's port, keeps what the server sends and maps the
// shared surface it is given.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Ipc/SharedSurface.hpp"
#include "Syphon/SyphonMessaging.hpp"

namespace ombry::test {

// Polls for work finishing on other threads, with a bound so that a fault fails instead of hanging.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class SyphonTestClient {
public:
    struct Message {
        int32_t type = 0;
        SyphonPayload payload;
        bool withDescriptor = false;
    };

    SyphonTestClient();
    ~SyphonTestClient();

    // Asks every public server to announce itself and returns the first description named `serverName`.
    static std::optional<nlohmann::json> discover(const std::string& serverName, double timeoutSeconds = 5);

    const std::string& portName() const { return portName_; }
    // Sends "add info client" and "add frame client" to the server's port.
    bool registerWith(const std::string& serverUuid, bool info = true, bool frames = true);
    void unregister();

    // Waits until `pred` holds for the messages received so far.
    bool waitFor(const std::function<bool(const std::vector<Message>&)>& pred, double timeoutSeconds = 5);
    // Waits until `n` messages of the type have arrived.
    bool waitForCount(int32_t type, int n, double timeoutSeconds = 5);
    std::vector<Message> messages();
    int count(int32_t type);
    std::shared_ptr<SharedSurface> surface();
    // The newest complete frame: BGRA rows as stored.
    std::vector<uint8_t> pixels();

private:
    void onMessage(const SyphonPayload& payload, int32_t type, UniqueFd fd);
    std::string portName_;
    std::string serverUuid_;
    std::unique_ptr<SyphonMessageReceiver> receiver_;
    std::shared_ptr<SyphonMessageSender> sender_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
    std::shared_ptr<SharedSurface> surface_;
};

int countOf(const std::vector<SyphonTestClient::Message>& messages, int32_t type);

}  // namespace ombry::test
