#include "Engine/Intake/MediaIngest.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <fstream>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace ombry {
namespace {

// The grapheme clusters of a text, each as UTF-16.
std::vector<icu::UnicodeString> graphemes(const icu::UnicodeString& text) {
    std::vector<icu::UnicodeString> out;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        // No break data: code points, which never split a surrogate pair.
        for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) out.emplace_back(text, i, text.moveIndex32(i, 1) - i);
        return out;
    }
    it->setText(text);
    for (int32_t start = it->first(), end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next())
        out.emplace_back(text, start, end - start);
    return out;
}

bool droppedCharacter(const icu::UnicodeString& g) {
    for (int32_t i = 0; i < g.length(); i = g.moveIndex32(i, 1)) {
        const UChar32 c = g.char32At(i);
        const int8_t type = u_charType(c);
        if (type == U_CONTROL_CHAR || type == U_FORMAT_CHAR || c == '/' || c == ':') return true;
    }
    return false;
}

std::string utf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::string lastPathComponent(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    if (s == "/") return s;
    const auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

}  // namespace

std::pair<std::string, std::string> MediaIngest::splitExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    if (name.empty() || name[0] == '.' || dot == std::string::npos) return {name, {}};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string MediaIngest::sanitizedFilename(const std::string& raw) {
    std::string path = raw;
    for (char& c : path)
        if (c == '\\') c = '/';
    const icu::UnicodeString component = icu::UnicodeString::fromUTF8(lastPathComponent(path));

    std::vector<icu::UnicodeString> kept;
    for (auto& g : graphemes(component))
        if (!droppedCharacter(g)) kept.push_back(g);
    // Blanks are horizontal white space (spaces and tabs) only.
    auto blank = [](const icu::UnicodeString& g) { return g.length() > 0 && u_isblank(g.char32At(0)) && g.countChar32() == 1; };
    std::size_t first = 0, last = kept.size();
    while (first < last && blank(kept[first])) ++first;
    while (last > first && blank(kept[last - 1])) --last;
    while (first < last && kept[first] == icu::UnicodeString(u".")) ++first;
    icu::UnicodeString joined;
    for (std::size_t i = first; i < last; ++i) joined += kept[i];
    std::string name = utf8(joined);

    auto [stem, ext] = splitExtension(name);
    if (stem.empty()) {
        stem = "upload";
        ext = name.empty() ? std::string() : ext;
    }
    if (stem.size() > maxStemBytes) {
        auto parts = graphemes(icu::UnicodeString::fromUTF8(stem));
        std::size_t bytes = stem.size();
        while (!parts.empty() && bytes > maxStemBytes) {
            bytes -= utf8(parts.back()).size();
            parts.pop_back();
        }
        icu::UnicodeString cut;
        for (const auto& p : parts) cut += p;
        stem = utf8(cut);
    }
    return ext.empty() ? stem : stem + "." + ext;
}

fs::path MediaIngest::uniqueDestination(const std::string& name, const fs::path& dir) {
    std::error_code ec;
    fs::path candidate = dir / name;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    const auto [stem, ext] = splitExtension(name);
    for (unsigned long n = 2;; ++n) {
        candidate = dir / (stem + " " + std::to_string(n) + (ext.empty() ? "" : "." + ext));
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
}

fs::path MediaIngest::sideFile(const fs::path& landed) { return fs::path(landed.native() + sideFileSuffix); }

bool MediaIngest::isSideFile(const std::string& name) { return name.ends_with(sideFileSuffix); }

bool MediaIngest::writeManifest(const Manifest& manifest, const fs::path& landed) {
    std::ofstream out(sideFile(landed), std::ios::binary | std::ios::trunc);
    out << toJson(manifest).dump();
    out.close();
    return bool(out);
}

std::optional<MediaIngest::Manifest> MediaIngest::readManifest(const fs::path& landed) {
    std::ifstream in(sideFile(landed), std::ios::binary);
    if (!in) return std::nullopt;
    try {
        return decodeJson<Manifest>(Json::parse(in));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Json toJson(const MediaIngest::Manifest& m) {
    return ObjectWriter()
        .put("displayName", m.displayName)
        .put("playlistId", m.playlistId)
        .put("newPlaylistName", m.newPlaylistName)
        .done();
}

void fromJson(const Json& j, MediaIngest::Manifest& m) {
    ObjectReader r(j);
    r.optional("displayName", m.displayName);
    r.optional("playlistId", m.playlistId);
    r.optional("newPlaylistName", m.newPlaylistName);
}

Json toJson(const UploadPlaylistInfo& p) { return ObjectWriter().put("id", p.id).put("name", p.name).done(); }

void fromJson(const Json& j, UploadPlaylistInfo& p) {
    ObjectReader r(j);
    r.required("id", p.id);
    r.required("name", p.name);
}

}  // namespace ombry
