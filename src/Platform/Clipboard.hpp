#pragma once
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace ombry {

// Plain text, as every other program pastes it.
inline constexpr const char* plainTextType = "text/plain";

// The desktop's general clipboard, by data type ("com.dovel.Ombry.playlist"). Another program may replace
// its content at any moment.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool hasData(const std::string& type) const = 0;
    virtual std::optional<std::string> data(const std::string& type) const = 0;
    // Empties the clipboard and puts the bytes on it under this one type.
    virtual void clearAndSet(const std::string& type, const std::string& bytes) = 0;
};

// In memory, for tests and headless runs.
class MemoryClipboard final : public Clipboard {
public:
    bool hasData(const std::string& type) const override {
        std::lock_guard lock(mutex_);
        return content_.count(type) > 0;
    }
    std::optional<std::string> data(const std::string& type) const override {
        std::lock_guard lock(mutex_);
        auto it = content_.find(type);
        if (it == content_.end()) return std::nullopt;
        return it->second;
    }
    void clearAndSet(const std::string& type, const std::string& bytes) override {
        std::lock_guard lock(mutex_);
        content_.clear();
        content_[type] = bytes;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> content_;
};

}  // namespace ombry
