#pragma once
// Numbered image frames into one VP9 movie with alpha in WebM, which our player (libvpx decoder) and
// Chromium-based browser sources both play with their transparency.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Gpu/StillImage.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media {

// The encoder options, as libvpx-vp9 option names and values, in the order they are set. The sequence
// benchmark hands the same list to the ffmpeg command line.
//  - deadline realtime with cpu-used 5: measured 4x faster than "good" at the same speed step, with the
//    same colour and alpha error on transparent artwork (the lookahead of "good" buys nothing at crf 18);
//  - crf 18 with no bitrate cap: constant quality, fine enough that a soft alpha edge stays within a
//    level or two of its source;
//  - row-mt and tile columns: every core busy on one 1080p frame;
//  - no alt-ref frames: the alpha stream's frames stay paired one to one with the colour frames.
std::vector<std::pair<std::string, std::string>> sequenceEncoderOptions(int width, int fps);
int sequenceEncoderThreads();

// The first picture of an image file as premultiplied pixels of exactly width by height (stretched when
// its own size differs), decoded with the still decoder. Nothing when it cannot be read.
std::optional<StillImage> decodeSequenceFrame(const std::string& path, int width, int height);

// One frame decoded and converted into the encoder's picture format.
class SequencePicture;
struct SequencePictureDeleter {
    void operator()(SequencePicture* p) const;
};
using SequencePicturePtr = std::unique_ptr<SequencePicture, SequencePictureDeleter>;

// Decodes and converts the frames ahead of the encoder, in order, on a few threads of its own, so that
// decoding the next frames overlaps encoding this one. Each thread holds at most the frame it decodes and
// one finished picture. Destroying the source stops and joins its threads.
class SequenceFrameSource {
public:
    SequenceFrameSource(std::vector<std::string> paths, int width, int height, int threads = 2);
    ~SequenceFrameSource();
    SequenceFrameSource(const SequenceFrameSource&) = delete;
    SequenceFrameSource& operator=(const SequenceFrameSource&) = delete;

    // The next frame's picture; null when that frame could not be read.
    SequencePicturePtr next();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Writes one movie. Frames are appended in order at i / fps seconds; the encoder copies each picture, so
// memory holds the pictures handed over and the encoder's own queue. Used from one thread at a time.
class SequenceWriter {
public:
    // What failed, with the library's own description when it gave one.
    struct Error {
        enum class Stage { create, codec, start, frame, finish };
        Stage stage = Stage::create;
        std::string detail;  // empty when the library gave no description
    };

    // Creates the file (replacing one of the same name) and the encoder; even width and height.
    static std::unique_ptr<SequenceWriter> create(const std::string& path, int width, int height, int fps, Error& error);
    // Not finished: cancelled.
    ~SequenceWriter();
    SequenceWriter(const SequenceWriter&) = delete;
    SequenceWriter& operator=(const SequenceWriter&) = delete;

    int width() const;
    int height() const;

    // The next frame: premultiplied (or opaque) pixels of the movie's size, or a picture converted ahead.
    bool append(const StillImage& frame, Error& error);
    bool append(SequencePicturePtr picture, Error& error);
    // Flushes the encoder and closes the file.
    bool finish(Error& error);
    // Drops everything and removes the file.
    void cancel();

    struct Impl;

private:
    explicit SequenceWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Premultiplied RGBA or BGRA into the planes of a yuva420p picture (BT.709, limited range colour, full
// range straight alpha). Chroma of each 2 by 2 block is averaged weighted by alpha, so the colour of an
// edge is not pulled towards the hidden colour of its transparent neighbours.
void premultipliedToYuva420p(const StillImage& src, uint8_t* const planes[4], const int strides[4]);

}  // namespace ombry::media
