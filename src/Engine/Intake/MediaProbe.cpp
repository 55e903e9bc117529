#include "Engine/Intake/MediaProbe.hpp"

#include "Engine/Library/Store.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

const std::string ebml("\x1A\x45\xDF\xA3", 4);
const std::string ogg("OggS");

// Only regular files are looked into: a pipe or a device under a media name would block the reader.
bool regularFile(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

}  // namespace

bool MediaProbe::validates(const fs::path& file, MediaKind kind, std::optional<std::string> extension) {
    if (!regularFile(file)) return false;
    const std::string ext = extension ? *extension : media::probe::lowerExtension(file);
    if (kind == MediaKind::image) return media::probe::validatesImage(file, ext == "svg");
    if (ext == "mkv" || ext == "webm") return media::probe::hasMagic(file, {ebml});
    if (ext == "ogv" || ext == "ogg" || ext == "oga") return media::probe::hasMagic(file, {ogg});
    return media::probe::validatesAv(file, kind == MediaKind::video);
}

media::ProbedMeta MediaProbe::metadata(const fs::path& file, MediaKind kind) {
    if (!regularFile(file)) return {};
    return kind == MediaKind::image ? media::probe::imageMetadata(file) : media::probe::avMetadata(file);
}

fs::path MediaProbe::thumbnailFile(const std::string& id) { return Store::thumbnailDir() / (id + ".jpg"); }

bool MediaProbe::thumbnail(const fs::path& file, MediaKind kind, const std::string& id) {
    if (!Store::isSafeFileName(id) || !regularFile(file)) return false;
    std::optional<StillImage> picture;
    switch (kind) {
        case MediaKind::video: picture = media::probe::videoFrame(file); break;
        case MediaKind::image: picture = media::probe::imageThumb(file); break;
        case MediaKind::audio: picture = media::probe::audioArtwork(file); break;
    }
    if (!picture) return false;
    // The folder may have been removed while running; it is made again rather than failing every thumbnail.
    std::error_code ec;
    fs::create_directories(Store::thumbnailDir(), ec);
    return media::probe::writeJPEG(*picture, thumbnailFile(id));
}

}  // namespace ombry
