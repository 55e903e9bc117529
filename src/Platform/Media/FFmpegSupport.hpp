#pragma once
// Small helpers shared by the asset prober, the player and the still decoder. Internal to Media.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Gpu/Orientation.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media::ff {

// Closes the input and, for a file opened by openInput, the file's own I/O layer.
struct FormatCloser {
    void operator()(AVFormatContext* f) const;
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

std::string errorText(int err);

// Silences FFmpeg's own logging and caps the size of any one of its allocations (once per process); every
// way into FFmpeg calls it first.
void quietLibraries();

// Opens and probes a file through a read layer that `interrupt` (may be null) can break out of, so a
// stalled read (a pipe, a hung share) ends with the stop flag or the deadline. The failure says which
// case it is: empty, incomplete, not media; cancelled or timed out when interrupted.
FormatPtr openInput(const std::string& path, const IoInterrupt* interrupt, MediaFailure& failure);

// The decoder to use for a stream: libvpx for VP8/VP9 carrying alpha, which the native VP9 decoder drops.
const AVCodec* decoderFor(const AVStream* st);

// Opens a decoder for a stream; threads > 0 or 0 for automatic.
CodecPtr openDecoder(const AVStream* st, int threads, MediaFailure& failure);

// A stream that shows pictures: video with a size, not cover art, not text drawn as a picture (a text
// demuxer accepts any text file).
bool isPictureStream(const AVStream* st);

// A stream that sounds: audio with a rate and channels.
bool isSoundStream(const AVStream* st);

StageOrientation streamOrientation(const AVStream* st);

// Whether the stream's pictures carry alpha (pixel format, or the WebM alpha_mode tag).
bool streamHasAlpha(const AVStream* st);

double seconds(int64_t ts, AVRational tb);

// Buffers handed to swscale or a decoder: rows padded to 64 bytes, the start aligned to 64 and a tail
// of at least AV_INPUT_BUFFER_PADDING_SIZE bytes, since their vector code reads and writes whole blocks
// past a row's end (StillImage::padded and VideoFrame::allocate lay them out so).
int paddedLinesize(int rowBytes);
size_t paddedBufferSize(int linesize, int rows);

// The first picture of a file's first video stream (a still, or a clip's first frame), decoded on the
// calling thread. Nothing when it cannot be read or either side exceeds `maxSide`; `codec` receives the
// stream's codec.
FramePtr decodeFirstPicture(const std::string& path, int maxSide, AVCodecID* codec = nullptr);

// Converts a picture into one packed plane of `format` at w by h, in `dst` laid out as above.
bool scalePicture(const AVFrame* src, AVPixelFormat format, int w, int h, uint8_t* dst, int linesize);

}  // namespace ombry::media::ff
