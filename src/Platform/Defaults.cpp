#include "Platform/Defaults.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

#include "Platform/Clock.hpp"
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
    const fs::path aside =
        file_.string() + ".unreadable-" + std::to_string(static_cast<long long>(appClock().wallMs()));
    fs::rename(file_, aside, ec);
    logLine(LogLevel::error, "DEF", "unreadable user defaults moved aside to " + aside.filename().string(), false);
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
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    const std::string tmp = file_.string() + ".tmp";
    const std::string text = values_.dump(2);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (ok) fs::rename(tmp, file_, ec);
    if (!ok || ec) logLine(LogLevel::error, "DEF", "could not write user defaults", false);
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
