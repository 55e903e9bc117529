#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "Engine/Servers/HTTPConnection.hpp"

namespace ombry {

// An upload body written straight into a file, used from one thread at a time. The file is flushed to disk
// before it is handed on, so an ingest that follows (or a crash after it) never sees a shorter file than the
// sender sent.
class UploadSink final : public HTTPBodySink {
public:
    using Completion = std::function<void(const std::filesystem::path&)>;
    // Creates (or empties) the file and opens it; null when either fails.
    static std::shared_ptr<UploadSink> create(std::filesystem::path tempPath, Completion onComplete);
    ~UploadSink() override;  // closes the file; neither deletes it nor calls the completion
    UploadSink(const UploadSink&) = delete;
    UploadSink& operator=(const UploadSink&) = delete;

    const std::filesystem::path& tempPath() const { return tempPath_; }
    bool open() const { return fd_ >= 0; }

    // Appends; nothing after finish or cancel. Throws std::system_error when the bytes cannot be stored.
    void write(std::string_view chunk) override;
    // Syncs and closes the file, then hands its path to the completion.
    void finish() override;
    // Closes and deletes the file; the completion is not called.
    void cancel() override;

private:
    UploadSink(std::filesystem::path tempPath, int fd, Completion onComplete);
    void close();

    std::filesystem::path tempPath_;
    int fd_ = -1;
    Completion onComplete_;
};

}  // namespace ombry
