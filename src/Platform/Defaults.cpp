#include "Platform/Defaults.hpp"

#include <atomic>
#include <fstream>

#include "Platform/AtomicFile.hpp"
#include "Platform/Log.hpp"
#include "Platform/Paths.hpp"
#include "Platform/Product.hpp"

namespace fs = std::filesystem;

namespace ombry {

bool Defaults::boolValue(const std::string& key, bool fallback) const {
    auto v = value(key);
    return v && v->is_boolean() ? v->get<bool>() : fallback;
}
double Defaults::number(const std::string& key, double fallback) const {
    auto v = value(key);
    return v && v->is_number() ? v->get<double>() : fallback;
}
std::string Defaults::string(const std::string& key, const std::string& fallback) const {
    auto v = value(key);
    return v && v->is_string() ? v->get<std::string>() : fallback;
}

std::optional<nlohmann::json> MemoryDefaults::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}
void MemoryDefaults::set(const std::string& key, const nlohmann::json& v) {
    std::lock_guard lock(mutex_);
    values_[key] = v;
}
void MemoryDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

FileDefaults::FileDefaults(fs::path file) : file_(std::move(file)) {
    std::error_code ec;
    if (!fs::exists(file_, ec)) return;
    std::ifstream in(file_);
    auto parsed = nlohmann::json::parse(in, nullptr, false);
    if (parsed.is_object()) {
        values_ = std::move(parsed);
        return;
    }
    std::string error;
    if (auto aside = files::moveAside(file_, error))
        logLine(LogLevel::error, "DEF", "unreadable user defaults moved aside to " + aside->filename().string(), false);
    else
        logLine(LogLevel::error, "DEF", "unreadable user defaults could not be moved aside: " + error, false);
}

void FileDefaults::set(const std::string& key, const nlohmann::json& v) {
    std::lock_guard lock(mutex_);
    values_[key] = v;
    save();
}
void FileDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
    save();
}

void FileDefaults::save() {
    const std::string error = files::writeAtomically(file_, values_.dump(2));
    if (!error.empty()) logLine(LogLevel::error, "DEF", "could not write user defaults: " + error, false);
}

namespace {
std::atomic<Defaults*> installedDefaults{nullptr};
}

Defaults& standardDefaults() {
    if (Defaults* d = installedDefaults.load()) return *d;
    static FileDefaults fileDefaults(paths::configHome() / product::name / "defaults.json");
    return fileDefaults;
}
void setStandardDefaults(Defaults* d) { installedDefaults.store(d); }

}  // namespace ombry
