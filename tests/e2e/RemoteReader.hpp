#pragma once
// A WebSocket remote of the control API reading on a thread of its own: every text message, in order,
// until the server closes the connection.
#include <mutex>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "../Engine/Servers/NetTestSupport.hpp"

namespace ombry::test {

class RemoteReader {
public:
    explicit RemoteReader(RawClient client) : client_(std::move(client)) {
        thread_ = std::thread([this] {
            for (;;) {
                auto text = client_.readText(120.0);
                std::lock_guard lock(mutex_);
                if (!text) {
                    ended_ = true;
                    return;
                }
                messages_.push_back(nlohmann::json::parse(*text, nullptr, false));
            }
        });
    }
    ~RemoteReader() {
        // Our end closing makes the server close its own, which ends the read.
        client_.shutdownWrite();
        thread_.join();
    }
    std::vector<nlohmann::json> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    bool ended() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }

private:
    RawClient client_;
    mutable std::mutex mutex_;
    std::vector<nlohmann::json> messages_;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace ombry::test
