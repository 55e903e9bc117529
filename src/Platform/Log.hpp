#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ombry {

enum class LogLevel { debug, info, notice, error, fault };

struct LogRecord {
    LogLevel level = LogLevel::notice;
    std::string category;  // short upper-case word ("REN", "MED")
    std::string message;
    bool isPrivate = false;  // may hold user data
};

// Where diagnostic lines go. Implementations are thread-safe.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// journald when its socket exists, else stderr.
std::unique_ptr<LogSink> makeSystemLogSink();

// Keeps every line, for tests.
class CapturingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
    std::vector<LogRecord> records() const;
    bool contains(const std::string& text) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

// The process sink: the system sink unless a test installed another.
LogSink& logSink();
void setLogSink(LogSink* sink);

// Writes one line under the application's log subsystem.
void logLine(LogLevel level, const std::string& category, const std::string& message, bool isPrivate);

// Installs a sink for the life of a scope.
class ScopedLogSink {
public:
    explicit ScopedLogSink(LogSink& sink);
    ~ScopedLogSink();
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

private:
    LogSink* previous_;
};

}  // namespace ombry
