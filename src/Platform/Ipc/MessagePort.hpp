#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Ipc/UniqueFd.hpp"

namespace ombry {

// Named one-way message ports between processes of one user session: each message is one Unix datagram
// holding a 32-bit message id (little-endian) followed by its data, and may carry one file descriptor
// (SCM_RIGHTS). A local port is a datagram socket bound at <folder>/<name>; a remote port is a socket
// connected to it, so a port whose owner has gone reports itself invalid on the next send.

struct PortMessage {
    int32_t id = 0;
    std::string data;
    bool truncated = false;  // longer than maxMessageSize: the data is unusable
    UniqueFd attachment;
};

inline constexpr size_t maxMessageSize = 64 * 1024;

class LocalMessagePort {
public:
    // Null when the name is held by a live port or the socket cannot be made.
    static std::unique_ptr<LocalMessagePort> create(const std::filesystem::path& dir, const std::string& name);
    ~LocalMessagePort();  // closes and removes the socket file
    LocalMessagePort(const LocalMessagePort&) = delete;
    LocalMessagePort& operator=(const LocalMessagePort&) = delete;

    const std::string& name() const { return name_; }
    // Readable when a message waits; never blocks.
    int fd() const { return fd_.get(); }
    // The next waiting message, or nothing when none waits.
    std::optional<PortMessage> receive();

private:
    LocalMessagePort(std::string name, std::filesystem::path path, UniqueFd fd);
    std::string name_;
    std::filesystem::path path_;
    UniqueFd fd_;
};

class RemoteMessagePort {
public:
    enum class SendResult { sent, invalid, timedOut, failed };

    // Null when no live local port has that name.
    static std::unique_ptr<RemoteMessagePort> connect(const std::filesystem::path& dir, const std::string& name,
                                                      double sendTimeoutSeconds = 60);
    const std::string& name() const { return name_; }
    // Blocks at most the send time-out while the receiver's queue is full (never with dontWait).
    SendResult send(int32_t id, const std::string& data, int attachment = -1, bool dontWait = false);

private:
    RemoteMessagePort(std::string name, UniqueFd fd) : name_(std::move(name)), fd_(std::move(fd)) {}
    std::string name_;
    UniqueFd fd_;
};

// Sends one datagram (header and data, optional descriptor) on a socket, to `dest` when given.
RemoteMessagePort::SendResult sendDatagram(int fd, const std::string& bytes, int attachment, int flags,
                                           const std::filesystem::path* dest = nullptr);
// Reads one datagram with at most one descriptor (extra ones are closed); nothing when none waits.
std::optional<PortMessage> receiveDatagram(int fd, bool withHeader);

}  // namespace ombry
