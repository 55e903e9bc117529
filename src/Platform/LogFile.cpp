#include "Platform/LogFile.hpp"

#include <fmt/format.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "Platform/Paths.hpp"
#include "Platform/Product.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return "debug";
        case LogLevel::info: return "info";
        case LogLevel::notice: return "notice";
        case LogLevel::error: return "error";
        case LogLevel::fault: return "fault";
    }
    return "notice";
}

std::string timeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

}  // namespace

fs::path logsDir() {
    fs::path state;
    const char* v = std::getenv("XDG_STATE_HOME");
    if (v && *v && fs::path(v).is_absolute()) {
        state = v;
    } else {
        const char* h = std::getenv("HOME");
        state = (h && *h ? fs::path(h) : fs::temp_directory_path()) / ".local" / "state";
    }
    return state / product::name / "logs";
}

RotatingFileSink::RotatingFileSink(fs::path dir, std::uintmax_t maxBytes, int keep)
    : dir_(std::move(dir)), maxBytes_(std::max<std::uintmax_t>(maxBytes, 1)), keep_(std::max(keep, 1)) {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    open();
}

RotatingFileSink::~RotatingFileSink() {
    if (file_) std::fclose(file_);
}

void RotatingFileSink::open() {
    file_ = std::fopen((dir_ / fileName).c_str(), "a");
    std::error_code ec;
    const auto size = fs::file_size(dir_ / fileName, ec);
    size_ = ec ? 0 : size;
}

void RotatingFileSink::rotate() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    const fs::path base = dir_ / fileName;
    fs::remove(fs::path(base.string() + "." + std::to_string(keep_)), ec);
    for (int i = keep_ - 1; i >= 1; --i)
        fs::rename(fs::path(base.string() + "." + std::to_string(i)), fs::path(base.string() + "." + std::to_string(i + 1)), ec);
    fs::rename(base, fs::path(base.string() + ".1"), ec);
    open();
}

void RotatingFileSink::write(const LogRecord& r) {
    const std::string line = fmt::format("{} {} [{}] {}\n", timeStamp(), levelName(r.level), r.category, r.message);
    std::lock_guard lock(mutex_);
    if (size_ > 0 && size_ + line.size() > maxBytes_) rotate();
    if (!file_) return;
    if (std::fwrite(line.data(), 1, line.size(), file_) == line.size()) size_ += line.size();
    std::fflush(file_);
}

}  // namespace ombry
