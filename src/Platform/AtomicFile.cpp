#include "Platform/AtomicFile.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Platform/Clock.hpp"

namespace fs = std::filesystem;

namespace ombry::files {
namespace {

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Writes the bytes to `file` and flushes them to the disk. Returns an error text, empty on success.
std::string writeFlushed(const fs::path& file, const std::string& bytes) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return errnoText("open");
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::string err = errnoText("write");
            ::close(fd);
            return err;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0) {
        std::string err = errnoText("fsync");
        ::close(fd);
        return err;
    }
    if (::close(fd) != 0) return errnoText("close");
    return {};
}

// Makes the rename itself durable.
void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

std::string writeAtomically(const fs::path& target, const std::string& bytes) {
    const fs::path staging = target.string() + ".tmp";
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(parent, ec);
    std::string error = ec ? "create folder: " + ec.message() : writeFlushed(staging, bytes);
    if (error.empty() && ::rename(staging.c_str(), target.c_str()) != 0) error = errnoText("rename");
    if (!error.empty()) {
        fs::remove(staging, ec);
        return error;
    }
    syncFolder(parent);
    return {};
}

std::optional<fs::path> moveAside(const fs::path& file, std::string& error) {
    const std::string base =
        file.string() + ".unreadable-" + std::to_string(static_cast<long long>(appClock().wallMs()));
    // Two set aside in the same millisecond get "-2", "-3" ...: the rename never replaces an earlier copy.
    for (int n = 1;; ++n) {
        const fs::path aside = n == 1 ? fs::path(base) : fs::path(base + "-" + std::to_string(n));
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
        if (errno == EEXIST) continue;
        if (errno != EINVAL) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        // A file system without RENAME_NOREPLACE: a hard link fails on an existing name just the same.
        if (::link(file.c_str(), aside.c_str()) != 0) {
            if (errno == EEXIST) continue;
            error = std::strerror(errno);
            return std::nullopt;
        }
        ::unlink(file.c_str());
        return aside;
    }
}

}  // namespace ombry::files
