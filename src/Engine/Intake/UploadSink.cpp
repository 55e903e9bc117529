#include "Engine/Intake/UploadSink.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace ombry {

std::shared_ptr<UploadSink> UploadSink::create(fs::path tempPath, Completion onComplete) {
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::shared_ptr<UploadSink>(new UploadSink(std::move(tempPath), fd, std::move(onComplete)));
}

UploadSink::UploadSink(fs::path tempPath, int fd, Completion onComplete)
    : tempPath_(std::move(tempPath)), fd_(fd), onComplete_(std::move(onComplete)) {}

UploadSink::~UploadSink() { close(); }

void UploadSink::close() {
    if (fd_ >= 0) ::close(fd_);  // a failing close changes nothing for the caller
    fd_ = -1;
}

void UploadSink::write(std::string_view chunk) {
    const char* data = chunk.data();
    std::size_t size = chunk.size();
    while (fd_ >= 0 && size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "cannot write to disk");
        }
        data += n;
        size -= std::size_t(n);
    }
}

void UploadSink::finish() {
    if (fd_ < 0) return;
    ::fsync(fd_);
    close();
    if (onComplete_) onComplete_(tempPath_);
}

void UploadSink::cancel() {
    if (fd_ < 0) return;
    close();
    std::error_code ec;
    fs::remove(tempPath_, ec);
}

}  // namespace ombry
