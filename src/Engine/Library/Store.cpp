#include "Engine/Library/Store.hpp"

#include <cmath>
#include <fstream>
#include <sstream>

#include "Engine/Model/Issues.hpp"
#include "Platform/AtomicFile.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Paths.hpp"
#include "Platform/Product.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

fs::path makeFolder(fs::path p) {
    std::error_code ec;
    fs::create_directories(p, ec);  // a read-only volume is reported later by the writers
    return p;
}

constexpr int invalidUtf8 = 316;  // nlohmann's type_error for a string that is not UTF-8

// nlohmann writes a non-finite number as null, which would silently change the record.
bool allFinite(const Json& j) {
    switch (j.type()) {
        case Json::value_t::number_float: return std::isfinite(j.get<double>());
        case Json::value_t::object:
        case Json::value_t::array:
            for (const auto& v : j)
                if (!allFinite(v)) return false;
            return true;
        default: return true;
    }
}

}  // namespace

const fs::path& Store::dir() {
    static const fs::path p = makeFolder(paths::dataHome() / product::name);
    return p;
}
const fs::path& Store::thumbnailDir() {
    static const fs::path p = makeFolder(dir() / "thumbnails");
    return p;
}
const fs::path& Store::mediaDir() {
    static const fs::path p = makeFolder(dir() / "Media");
    return p;
}
const fs::path& Store::mediaIncomingDir() {
    static const fs::path p = makeFolder(mediaDir() / ".incoming");
    return p;
}
const fs::path& Store::projectsDir() {
    static const fs::path p = makeFolder(dir() / "Projects");
    return p;
}

void Store::failed(const fs::path& target, const std::string& error) {
    const std::string name = target.filename().string();
    if (hasMainQueue()) Issue::report(IssueCode::projectSaveFailed, name, error);
    else Issue::log(IssueCode::projectSaveFailed, name, error);
}

bool Store::saveJson(const Json& doc, const fs::path& target) {
    std::string bytes;
    try {
        if (!allFinite(doc)) throw std::runtime_error("a number is not finite");
        bytes = doc.dump(2);
    } catch (const Json::type_error& e) {
        if (e.id != invalidUtf8) {
            failed(target, std::string("encoding failed: ") + e.what());
            return false;
        }
        // Text that is not UTF-8 (a file name from a way in that did not check it) must not make the
        // whole document unwritable and lose every later edit: that text is written with U+FFFD in
        // place of its bad bytes. Its item is kept; its file shows as missing at the next open.
        bytes = doc.dump(2, ' ', false, Json::error_handler_t::replace);
        Diag::note("PRJ", target.filename().string() + " written with text that is not UTF-8 replaced");
    } catch (const std::exception& e) {
        failed(target, std::string("encoding failed: ") + e.what());
        return false;
    }
    bytes += '\n';

    if (const std::string error = files::writeAtomically(target, bytes); !error.empty()) {
        failed(target, error);
        return false;
    }
    if (hasMainQueue()) {
        mainQueue().post([name = target.filename().string()] {
            IssueLog::shared().resolve(IssueCode::projectSaveFailed, name);
        });
    }
    return true;
}

std::optional<Json> Store::readJson(const fs::path& file, bool& exists, std::string& error) {
    std::error_code ec;
    exists = fs::exists(fs::symlink_status(file, ec));
    if (!exists) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot be read";
        return std::nullopt;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    auto j = Json::parse(ss.str(), nullptr, false);
    if (j.is_discarded()) {
        error = "not JSON";
        return std::nullopt;
    }
    return j;
}

std::optional<fs::path> Store::setAside(const fs::path& file, const std::string& reason) {
    std::string error;
    const auto aside = files::moveAside(file, error);
    if (!aside) {
        Diag::note("PRJ", "unreadable " + file.filename().string() + " (" + reason +
                              ") could not be moved aside: " + error);
        return std::nullopt;
    }
    Diag::note("PRJ", "unreadable " + file.filename().string() + " (" + reason + ") moved aside to " +
                          aside->filename().string());
    return aside;
}

bool Store::isSafeFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace ombry
