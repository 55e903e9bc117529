#include "Platform/Log.hpp"

#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "Platform/Product.hpp"

namespace ombry {
namespace {

int priority(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return LOG_DEBUG;
        case LogLevel::info: return LOG_INFO;
        case LogLevel::notice: return LOG_NOTICE;
        case LogLevel::error: return LOG_ERR;
        case LogLevel::fault: return LOG_CRIT;
    }
    return LOG_NOTICE;
}

class JournalSink final : public LogSink {
public:
    void write(const LogRecord& r) override {
        sd_journal_send("MESSAGE=%s", r.message.c_str(), "PRIORITY=%d", priority(r.level),
                        "SYSLOG_IDENTIFIER=%s", "ombry", "OMBRY_SUBSYSTEM=%s", product::logSubsystem,
                        "OMBRY_CATEGORY=%s", r.category.c_str(), "OMBRY_PRIVATE=%d", r.isPrivate ? 1 : 0, nullptr);
    }
};

class StderrSink final : public LogSink {
public:
    void write(const LogRecord& r) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s [%s] %s\n", product::logSubsystem, r.category.c_str(), r.message.c_str());
    }

private:
    std::mutex mutex_;
};

std::atomic<LogSink*> installedSink{nullptr};

}  // namespace

std::unique_ptr<LogSink> makeSystemLogSink() {
    std::error_code ec;
    if (std::filesystem::exists("/run/systemd/journal/socket", ec)) return std::make_unique<JournalSink>();
    return std::make_unique<StderrSink>();
}

void CapturingLogSink::write(const LogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}
std::vector<LogRecord> CapturingLogSink::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}
bool CapturingLogSink::contains(const std::string& text) const {
    std::lock_guard lock(mutex_);
    for (const auto& r : records_)
        if (r.message.find(text) != std::string::npos) return true;
    return false;
}
void CapturingLogSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

LogSink& logSink() {
    if (LogSink* s = installedSink.load()) return *s;
    static std::unique_ptr<LogSink> system = makeSystemLogSink();
    return *system;
}
void setLogSink(LogSink* sink) { installedSink.store(sink); }

void logLine(LogLevel level, const std::string& category, const std::string& message, bool isPrivate) {
    logSink().write(LogRecord{level, category, message, isPrivate});
}

ScopedLogSink::ScopedLogSink(LogSink& sink) : previous_(installedSink.load()) { setLogSink(&sink); }
ScopedLogSink::~ScopedLogSink() { setLogSink(previous_); }

}  // namespace ombry
