#pragma once
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Ipc/UniqueFd.hpp"

namespace ombry {

// Notifications broadcast to every process of the user session that observes their name. Each observer
// binds a datagram socket in <folder>/<notification name>/; posting sends one datagram, the compact JSON
// {"name": ..., "object": ..., "userInfo": {...}}, to every socket in that folder without ever waiting
// (a full observer misses the notification; a dead one's socket file is removed).
struct DistributedNotification {
    std::string name;
    std::string object;
    nlohmann::json userInfo = nlohmann::json::object();
};

void postDistributedNotification(const std::filesystem::path& dir, const DistributedNotification& note);

class NotificationObserver {
public:
    // Null when the socket cannot be made.
    static std::unique_ptr<NotificationObserver> create(const std::filesystem::path& dir, const std::string& name);
    ~NotificationObserver();  // stops observing
    NotificationObserver(const NotificationObserver&) = delete;
    NotificationObserver& operator=(const NotificationObserver&) = delete;

    const std::string& name() const { return name_; }
    // Readable when a notification waits.
    int fd() const { return fd_.get(); }
    // The next notification, waiting at most `timeoutSeconds`; malformed datagrams are skipped.
    std::optional<DistributedNotification> receive(double timeoutSeconds = 0);

private:
    NotificationObserver(std::string name, std::filesystem::path path, UniqueFd fd);
    std::string name_;
    std::filesystem::path path_;
    UniqueFd fd_;
};

}  // namespace ombry
