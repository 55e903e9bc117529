#pragma once
// A small rotating log file beside the system log, so that there is something to hand to support from a
// desktop without journald access: lines are appended to "ombry.log" in the folder; past `maxBytes` it
// becomes "ombry.log.1" and older files shift up to "ombry.log.<keep>", the oldest dropped.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

#include "Platform/Log.hpp"

namespace ombry {

// $XDG_STATE_HOME/Ombry/logs (default ~/.local/state/Ombry/logs).
std::filesystem::path logsDir();

class RotatingFileSink final : public LogSink {
public:
    static constexpr const char* fileName = "ombry.log";
    static constexpr std::uintmax_t defaultMaxBytes = 1 << 20;
    static constexpr int defaultKeep = 3;

    // Creates the folder; a folder or file that cannot be written makes every write do nothing.
    explicit RotatingFileSink(std::filesystem::path dir, std::uintmax_t maxBytes = defaultMaxBytes,
                              int keep = defaultKeep);
    ~RotatingFileSink() override;
    void write(const LogRecord& record) override;
    const std::filesystem::path& dir() const { return dir_; }

private:
    void open();
    void rotate();

    std::filesystem::path dir_;
    std::uintmax_t maxBytes_;
    int keep_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::uintmax_t size_ = 0;
};

// Every line to both sinks.
class TeeLogSink final : public LogSink {
public:
    TeeLogSink(std::unique_ptr<LogSink> first, std::unique_ptr<LogSink> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    void write(const LogRecord& record) override {
        if (first_) first_->write(record);
        if (second_) second_->write(record);
    }

private:
    std::unique_ptr<LogSink> first_, second_;
};

}  // namespace ombry
