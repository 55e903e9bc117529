#include "Engine/Intake/SequenceImport.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <unordered_map>

#include "Platform/Media/SequenceEncoder.hpp"
#include "Platform/Media/StillDecoder.hpp"

namespace ombry {

namespace fs = std::filesystem;

namespace {

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Byte offset where the stem's trailing run of digits starts (the stem's size when there is none). A digit
// counts only as a character of its own: one that a prepended character joins (a grapheme of two scalars)
// ends the run, as does a trailing combining mark (then the last scalar is no digit at all).
size_t trailingRunStart(const std::string& stem) {
    size_t start = stem.size();
    while (start > 0 && isAsciiDigit(stem[start - 1])) --start;
    if (start < stem.size() && start > 0) {
        int32_t i = int32_t(start);
        UChar32 before = 0;
        U8_PREV_OR_FFFD(reinterpret_cast<const uint8_t*>(stem.data()), 0, i, before);
        if (u_getIntPropertyValue(before, UCHAR_GRAPHEME_CLUSTER_BREAK) == U_GCB_PREPEND) ++start;
    }
    return start;
}

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The text in canonical composition, so that canonically equivalent spellings compare equal.
std::string nfc(const std::string& s) {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(err);
    if (U_FAILURE(err) || !n) return s;
    const icu::UnicodeString composed = n->normalize(icu::UnicodeString::fromUTF8(s), err);
    if (U_FAILURE(err)) return s;
    std::string out;
    composed.toUTF8String(out);
    return out;
}

struct Frame {
    std::int64_t number = 0;
    std::string path;
};

}  // namespace

const std::set<std::string>& SequenceImport::frameExtensions() {
    static const std::set<std::string> extensions{"png", "jpg", "jpeg", "gif", "webp", "bmp", "avif"};
    return extensions;
}

std::vector<std::string> SequenceImport::expand(const std::string& path) {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) return {path};
    std::vector<std::string> entries;
    fs::directory_iterator it(path, ec);
    if (ec) return {path};
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.') entries.push_back((fs::path(path) / name).string());
    }
    if (ec) return {path};
    return entries;
}

std::optional<std::int64_t> SequenceImport::trailingNumber(const std::string& stem) {
    const size_t start = trailingRunStart(stem);
    if (start == stem.size()) return std::nullopt;
    const size_t from = std::max(start, stem.size() - std::min<size_t>(stem.size() - start, 9));
    std::int64_t value = 0;
    for (size_t i = from; i < stem.size(); ++i) value = value * 10 + (stem[i] - '0');
    return value;
}

std::string SequenceImport::stemPrefix(const std::string& stem) { return stem.substr(0, trailingRunStart(stem)); }

std::string SequenceImport::name(const std::string& forStem) {
    static const char* trimmed = " _-.";
    const auto first = forStem.find_first_not_of(trimmed);
    if (first == std::string::npos) return "Sequence";
    return forStem.substr(first, forStem.find_last_not_of(trimmed) - first + 1);
}

std::optional<SequenceImport::Detection> SequenceImport::detect(const std::vector<std::string>& paths) {
    std::unordered_map<std::string, std::vector<Frame>> groups;
    for (const std::string& path : paths) {
        const std::string file = fileName(path);
        if (file.empty() || file[0] == '.') continue;
        const auto dot = file.find_last_of('.');
        if (dot == std::string::npos || !frameExtensions().count(lower(file.substr(dot + 1)))) continue;
        const std::string stem = file.substr(0, dot);
        const auto number = trailingNumber(stem);
        if (!number) continue;
        groups[stemPrefix(stem)].push_back({*number, path});
    }
    const std::pair<const std::string, std::vector<Frame>>* found = nullptr;
    for (const auto& group : groups) {
        if (group.second.size() <= 7) continue;
        if (found) return std::nullopt;
        found = &group;
    }
    if (!found) return std::nullopt;

    std::vector<Frame> frames = found->second;
    std::stable_sort(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) {
        if (a.number != b.number) return a.number < b.number;
        // UTF-8 bytes order like their scalar values.
        return nfc(a.path) < nfc(b.path);
    });
    Detection d{name(found->first), {}};
    d.frames.reserve(frames.size());
    for (Frame& f : frames) d.frames.push_back(std::move(f.path));
    return d;
}

std::string SequenceImport::Failure::description() const {
    switch (kind) {
    case Kind::frameUnreadable: return "Frame " + detail + " couldn't be read, so the sequence wasn't imported.";
    case Kind::encodeFailed: return "That image sequence couldn't be encoded: " + detail;
    case Kind::notASequence:
        return "That folder doesn't hold an image sequence. Ombry looks for two or more images whose names end in a "
               "frame number, like shot_0001.png.";
    case Kind::writerFailed: return detail;
    }
    return detail;
}

std::optional<media::PixelSize> SequenceImport::pixelSize(const std::string& path) {
    const auto size = media::stillPixelSize(path);
    if (!size || size->width < 2 || size->height < 2) return std::nullopt;
    return media::PixelSize{size->width / 2 * 2, size->height / 2 * 2};
}

SequenceImport::Result SequenceImport::transcode(const std::vector<std::string>& frames, const std::string& name,
                                                 const fs::path& into, std::int64_t fps,
                                                 const std::function<void(double)>& onProgress,
                                                 const std::atomic<bool>* stop) {
    const int rate = int(std::clamp<std::int64_t>(fps, 1, INT_MAX));
    const auto size = frames.empty() ? std::nullopt : pixelSize(frames.front());
    if (!size) return Failure::notASequence();
    const fs::path output = into / movieFilename(name);

    using Stage = media::SequenceWriter::Error::Stage;
    media::SequenceWriter::Error error;
    auto writer = media::SequenceWriter::create(output.string(), size->width, size->height, rate, error);
    if (!writer) {
        switch (error.stage) {
        case Stage::create: return Failure{Failure::Kind::writerFailed, error.detail};
        case Stage::codec: return Failure::encodeFailed("the encoder refused these frames");
        default: return Failure::encodeFailed(error.detail.empty() ? "the encoder wouldn't start" : error.detail);
        }
    }
    if (onProgress) onProgress(0);

    int reported = 0;
    const size_t n = frames.size();
    // The next frames decode while this one encodes.
    media::SequenceFrameSource source(frames, size->width, size->height);
    for (size_t i = 0; i < n; ++i) {
        if (stop && stop->load()) {
            writer->cancel();
            return Failure::encodeFailed("the encoder stopped early");
        }
        const std::string file = fileName(frames[i]);
        auto picture = source.next();
        if (!picture) {
            writer->cancel();
            return Failure::frameUnreadable(file);
        }
        if (!writer->append(std::move(picture), error)) {
            writer->cancel();
            return Failure::encodeFailed(error.detail.empty() ? "frame " + file + " wouldn't encode" : error.detail);
        }
        const double p = double(i + 1) / double(n);
        const int percent = int(p * 100);
        if (percent > reported) {
            reported = percent;
            if (onProgress) onProgress(p);
        }
    }
    if (!writer->finish(error))
        return Failure::encodeFailed(error.detail.empty() ? "the encoder stopped early" : error.detail);
    return output;
}

}  // namespace ombry
