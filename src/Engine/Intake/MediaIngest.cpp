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

namespace {

// Blanks are horizontal white space (spaces and tabs) only; taken off by code point.
std::string trimBlanks(const std::string& text) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
    int32_t first = 0, end = s.length();
    while (first < end && u_isblank(s.char32At(first))) first = s.moveIndex32(first, 1);
    while (end > first) {
        const int32_t before = s.moveIndex32(end, -1);
        if (!u_isblank(s.char32At(before))) break;
        end = before;
    }
    return utf8(icu::UnicodeString(s, first, end - first));
}

// The stem cut to `limit` bytes of UTF-8 at a whole grapheme.
std::string cutStem(const std::string& stem, std::size_t limit) {
    if (stem.size() <= limit) return stem;
    auto parts = graphemes(icu::UnicodeString::fromUTF8(stem));
    std::size_t bytes = stem.size();
    while (!parts.empty() && bytes > limit) {
        bytes -= utf8(parts.back()).size();
        parts.pop_back();
    }
    icu::UnicodeString cut;
    for (const auto& p : parts) cut += p;
    return utf8(cut);
}

}  // namespace

std::string MediaIngest::sanitizedFilename(const std::string& raw) {
    std::string path = raw;
    for (char& c : path)
        if (c == '\\') c = '/';
    const icu::UnicodeString component = icu::UnicodeString::fromUTF8(lastPathComponent(path));

    icu::UnicodeString kept;
    for (auto& g : graphemes(component))
        if (!droppedCharacter(g)) kept += g;
    std::string name = utf8(kept);

    // Each step may uncover what an earlier one removes ("a ." loses its dot, then its blank; a cut stem may
    // end in a blank): they run until nothing changes, so that a second pass changes nothing.
    for (;;) {
        const std::string before = name;
        name = trimBlanks(name);
        // By code point: a full stop followed by a combining mark is still a leading dot.
        const auto dots = name.find_first_not_of('.');
        name.erase(0, dots == std::string::npos ? name.size() : dots);
        auto [stem, ext] = splitExtension(name);
        stem = cutStem(trimBlanks(stem), maxStemBytes);
        ext = trimBlanks(ext);
        if (stem.empty()) stem = "upload";
        name = ext.empty() ? stem : stem + "." + ext;
        if (name == before) return name;
    }
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
