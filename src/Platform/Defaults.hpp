#pragma once
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace ombry {

// User defaults: small interface preferences kept as one JSON object. Thread-safe.
class Defaults {
public:
    virtual ~Defaults() = default;
    virtual std::optional<nlohmann::json> value(const std::string& key) const = 0;
    virtual void set(const std::string& key, const nlohmann::json& v) = 0;
    virtual void remove(const std::string& key) = 0;

    // Typed reads: the fallback when the key is missing or of another type.
    bool boolValue(const std::string& key, bool fallback = false) const;
    double number(const std::string& key, double fallback = 0) const;
    std::string string(const std::string& key, const std::string& fallback = {}) const;
};

// In memory only, for tests.
class MemoryDefaults : public Defaults {
public:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    void set(const std::string& key, const nlohmann::json& v) override;
    void remove(const std::string& key) override;

protected:
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
};

// Kept in "<config home>/Ombry/defaults.json", rewritten atomically on every change. An unreadable
// file is moved aside rather than overwritten.
class FileDefaults final : public MemoryDefaults {
public:
    explicit FileDefaults(std::filesystem::path file);
    void set(const std::string& key, const nlohmann::json& v) override;
    void remove(const std::string& key) override;
    const std::filesystem::path& file() const { return file_; }

private:
    void save();  // mutex_ held
    std::filesystem::path file_;
};

// The process defaults: a FileDefaults under the config home unless a test installed another.
Defaults& standardDefaults();
void setStandardDefaults(Defaults* d);

}  // namespace ombry
