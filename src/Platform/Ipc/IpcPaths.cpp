#include "Platform/Ipc/IpcPaths.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "Platform/Ipc/UniqueFd.hpp"
#include "Platform/Paths.hpp"

#include <unistd.h>

namespace fs = std::filesystem;

namespace ombry {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace ipc {

fs::path defaultRoot() { return paths::runtimeDir() / "syphon"; }

bool makePrivateDir(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) return false;
    ::chmod(dir.c_str(), 0700);
    return true;
}

static bool plainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

fs::path socketPath(const fs::path& dir, const std::string& name) {
    fs::path direct = dir / name;
    if (plainName(name) && direct.native().size() < sizeof(sockaddr_un::sun_path)) return direct;
    // FNV-1a, 64 bit: stable across processes and builds.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "#%016llx", static_cast<unsigned long long>(h));
    return dir / buf;
}

bool toSockaddr(const fs::path& path, sockaddr_un& addr, socklen_t& len) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string& s = path.native();
    if (s.empty() || s.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, s.data(), s.size());
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + s.size() + 1);
    return true;
}

}  // namespace ipc
}  // namespace ombry
