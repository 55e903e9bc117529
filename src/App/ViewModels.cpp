#include "App/ViewModels.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cmath>

namespace ombry {
namespace {

// Doubles in this range convert to int64 without undefined behaviour.
bool fitsInt64(double v) { return std::isfinite(v) && v > -9.2e18 && v < 9.2e18; }

}  // namespace

Rgba Hsb::rgba() const {
    const double h = (hue - std::floor(hue)) * 6.0;
    const double c = brightness * saturation;
    const double x = c * (1 - std::abs(std::fmod(h, 2.0) - 1));
    const double m = brightness - c;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h) % 6) {
        case 0: r = c, g = x; break;
        case 1: r = x, g = c; break;
        case 2: g = c, b = x; break;
        case 3: g = x, b = c; break;
        case 4: r = x, b = c; break;
        default: r = c, b = x; break;
    }
    return {r + m, g + m, b + m, alpha};
}

std::string PlaylistEditorTarget::id() const {
    if (kind == Kind::edit) return "edit-" + playlistId;
    std::string out = "create-";
    for (size_t i = 0; i < seeds.size(); ++i) out += (i ? "," : "") + seeds[i];
    return out;
}

std::string PendingSequenceImport::imagesButton() const { return fmt::format("Import as {} Images", frames.size()); }

std::string PendingSequenceImport::question() const {
    const size_t n = frames.size();
    return fmt::format(
        "It has {0} numbered images. Import them as one clip, or as {0} separate images?\n\n"
        "Selecting \u201Cone clip\u201D will re-encode the frames into a single {1} fps video. "
        "Transparency is kept, but the video is lossy. Your original files are left as is.",
        n, fps);
}

double clampedAdvanceSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 1) return 1;
    return std::min(seconds, 86400.0);
}

std::string displayDuration(const MediaItem& item) {
    if (!item.duration || !(*item.duration > 0) || !fitsInt64(*item.duration)) return "";
    const auto s = static_cast<std::int64_t>(std::round(*item.duration));
    return fmt::format("{}:{:02}", s / 60, s % 60);
}

std::string displayDetail(const MediaItem& item) {
    std::string kind = rawValue(item.kind);
    kind[0] = static_cast<char>(kind[0] - 'a' + 'A');
    std::vector<std::string> parts{kind};
    if (item.width && item.height) parts.push_back(fmt::format("{}\u00D7{}", *item.width, *item.height));
    if (item.fps && fitsInt64(*item.fps)) parts.push_back(fmt::format("{}p", static_cast<std::int64_t>(*item.fps)));
    if (item.sampleRate) parts.push_back(fmt::format("{} kHz", *item.sampleRate / 1000));
    if (item.bitDepth) parts.push_back(fmt::format("{}-bit", *item.bitDepth));
    return fmt::format("{}", fmt::join(parts, " \u00B7 "));
}

std::array<Hsb, 2> gradient(const MediaItem& item) {
    std::uint64_t hash = 0x14650fb0739d0383ULL;
    for (unsigned char byte : item.id) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    const double hue = static_cast<double>(hash % 360) / 360.0;
    double second = hue + 0.08;
    second -= std::floor(second);
    return {Hsb{hue, 0.45, 0.42, 1}, Hsb{second, 0.55, 0.16, 1}};
}

}  // namespace ombry
