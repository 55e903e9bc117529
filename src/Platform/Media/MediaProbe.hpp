#pragma once
// Looking into one media file: usability, technical metadata, codec and a small upright picture for its
// thumbnail. Stateless and blocking: call from background threads; any number at once for different files.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Gpu/StillImage.hpp"

namespace ombry::media {

// What a metadata probe found; each field absent when it could not be told.
struct ProbedMeta {
    std::optional<double> duration;  // seconds
    std::optional<int> width;        // displayed size (a quarter turn exchanges the stored sides)
    std::optional<int> height;
    std::optional<double> fps;  // whole frames per second
    std::optional<int> sampleRate;
    std::optional<int> bitDepth;  // uncompressed (PCM) audio only
    std::optional<int> channels;
    bool operator==(const ProbedMeta&) const = default;
};

namespace probe {

// Longest side of a thumbnail picture.
constexpr int kThumbSide = 640;
// A file that stops delivering (a hung share, a pipe) gives up after this long.
constexpr double kOpenSeconds = 20.0;

// A file's extension in lower case, without the dot ("" for none).
std::string lowerExtension(const std::filesystem::path& file);

// Whether the file begins with one of the byte strings (at most the first 16 bytes are read).
bool hasMagic(const std::filesystem::path& file, const std::vector<std::string>& magics);
// An SVG that librsvg loads with a size; another image whose first picture a decoder recognises.
bool validatesImage(const std::filesystem::path& file, bool svg);
// A container whose video (wantVideo) or sound stream a decoder here reads.
bool validatesAv(const std::filesystem::path& file, bool wantVideo);

// Stored pixel size of a still (its EXIF orientation is not applied).
ProbedMeta imageMetadata(const std::filesystem::path& file);
// Duration, displayed size and average frame rate of the first video stream, rate and channels of the
// first sound stream, and bit depth when that sound is PCM.
ProbedMeta avMetadata(const std::filesystem::path& file);
// Four-character code of the first video stream, first character in the high byte.
std::optional<std::uint32_t> videoCodec(const std::filesystem::path& file);

// Pictures for thumbnails, upright, at most kThumbSide on the longer side, opaque RGBA.
// A clip's frame at 1.0 s, else its first frame.
std::optional<StillImage> videoFrame(const std::filesystem::path& file);
// At most maxSide on the longer side.
std::optional<StillImage> imageThumb(const std::filesystem::path& file, int maxSide = kThumbSide);
// The picture attached to a sound file (its cover art).
std::optional<StillImage> audioArtwork(const std::filesystem::path& file);
// JPEG at quality 0.8 through "<target>.tmp", then renamed over the target; false leaves an older file.
bool writeJPEG(const StillImage& image, const std::filesystem::path& target);
// The JPEG file of a picture at a quality of 1 to 100; empty when it cannot be encoded.
std::vector<std::uint8_t> jpegBytes(const StillImage& image, int quality);

}  // namespace probe
}  // namespace ombry::media
