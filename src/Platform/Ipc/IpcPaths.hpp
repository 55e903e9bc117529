#pragma once
#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>
#include <string>

namespace ombry::ipc {

// The folder holding every local frame-sharing socket of this user session: $XDG_RUNTIME_DIR/syphon.
std::filesystem::path defaultRoot();

// Creates a folder (and its parents) readable only by this user; false on failure.
bool makePrivateDir(const std::filesystem::path& dir);

// The socket path for a name inside a folder. Names made only of letters, digits, '.', '-' and '_' that fit
// a socket address are used as they are; any other name becomes "#" and a hash of it, the same for every
// process, so both ends always agree.
std::filesystem::path socketPath(const std::filesystem::path& dir, const std::string& name);

// Fills a socket address for a path; false when the path does not fit.
bool toSockaddr(const std::filesystem::path& path, sockaddr_un& addr, socklen_t& len);

}  // namespace ombry::ipc
