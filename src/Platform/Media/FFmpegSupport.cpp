#include "Platform/Media/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

#include "Platform/Gpu/StillImage.hpp"

namespace ombry::media::ff {

std::string errorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

namespace {

constexpr int kIoBufferSize = 64 * 1024;
constexpr int kPollSliceMs = 20;
constexpr int64_t kHeaderProbeBytes = 2 << 20;
constexpr int64_t kHeaderAnalyzeMicros = AV_TIME_BASE;
constexpr size_t kMaxAllocation = size_t(512) << 20;  // 8K RGBA at 16 bits a channel is 265 MB

bool headerDescribesStreams(const AVInputFormat* format) {
    if (!format || !format->name) return false;
    const std::string name = format->name;
    return name.rfind("mov,", 0) == 0 || name.rfind("matroska", 0) == 0;
}

int interruptCallback(void* opaque) {
    auto* irq = static_cast<const IoInterrupt*>(opaque);
    return irq && irq->interrupted() ? 1 : 0;
}

bool alphaTag(const AVStream* st) {
    const AVDictionaryEntry* e = av_dict_get(st->metadata, "alpha_mode", nullptr, 0);
    return e && std::string(e->value) == "1";
}

// The file under our own read layer: a read waits in short slices, so the interrupt is seen even when
// the file never delivers (a pipe nobody writes, a share that stopped answering).
struct FileSource {
    int fd = -1;
    bool regular = false;
    const IoInterrupt* interrupt = nullptr;
};

int readFile(void* opaque, uint8_t* buf, int size) {
    auto* src = static_cast<FileSource*>(opaque);
    for (;;) {
        if (src->interrupt && src->interrupt->interrupted()) return AVERROR_EXIT;
        if (!src->regular) {
            pollfd p{src->fd, POLLIN, 0};
            const int r = ::poll(&p, 1, kPollSliceMs);
            if (r < 0 && errno != EINTR) return AVERROR(errno);
            if (r <= 0) continue;
        }
        const ssize_t n = ::read(src->fd, buf, size_t(size));
        if (n > 0) return int(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EAGAIN && errno != EINTR) return AVERROR(errno);
    }
}

int64_t seekFile(void* opaque, int64_t offset, int whence) {
    auto* src = static_cast<FileSource*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st {};
        return src->regular && ::fstat(src->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(ENOSYS);
    }
    const off_t at = ::lseek(src->fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

void closeFileIo(AVIOContext* pb) {
    auto* src = static_cast<FileSource*>(pb->opaque);
    av_freep(&pb->buffer);
    avio_context_free(&pb);
    if (src->fd >= 0) ::close(src->fd);
    delete src;
}

MediaFailure interrupted(const IoInterrupt* irq) {
    return irq && irq->stopped() ? MediaFailure{MediaFailure::Code::cancelled, "media load cancelled"}
                                 : MediaFailure{MediaFailure::Code::timeout, "media load timed out"};
}

}  // namespace

void FormatCloser::operator()(AVFormatContext* f) const {
    AVIOContext* own = f->pb && f->pb->read_packet == readFile ? f->pb : nullptr;
    avformat_close_input(&f);
    if (own) closeFileIo(own);
}

void quietLibraries() {
    // Decoder chatter about damaged input goes nowhere; failures are reported as values. No header,
    // picture or sound of real media needs one allocation as large as kMaxAllocation, while a crafted header
    // may ask for gigabytes (an 85-byte WAV asked for 1.6 GB): such a request is refused instead.
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_max_alloc(kMaxAllocation);
    });
}

FormatPtr openInput(const std::string& path, const IoInterrupt* interrupt, MediaFailure& failure) {
    quietLibraries();
    // Non-blocking, so that opening a pipe without a writer does not hang here.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        failure = {MediaFailure::Code::missing, "media file unavailable"};
        return nullptr;
    }
    auto* src = new FileSource{fd, S_ISREG(st.st_mode), interrupt};
    if (src->regular && st.st_size == 0) {
        ::close(fd);
        delete src;
        failure = MediaFailure::empty();
        return nullptr;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    AVIOContext* pb = avio_alloc_context(buffer, kIoBufferSize, 0, src, readFile, nullptr, src->regular ? seekFile : nullptr);
    AVFormatContext* raw = avformat_alloc_context();
    raw->pb = pb;
    raw->interrupt_callback.callback = interruptCallback;
    raw->interrupt_callback.opaque = const_cast<IoInterrupt*>(interrupt);

    // Probing first tells a file whose content a demuxer recognised (cut off, still copying) from one
    // that only carries a media extension.
    const AVInputFormat* format = nullptr;
    const int score = av_probe_input_buffer2(pb, &format, path.c_str(), raw, 0, 0);
    // These containers describe their streams in their headers: a short look at the first packets
    // completes what the headers leave out. Raw streams keep the library's longer analysis.
    if (score >= 0 && headerDescribesStreams(format)) {
        raw->probesize = kHeaderProbeBytes;
        raw->max_analyze_duration = kHeaderAnalyzeMicros;
    }
    int err = score < 0 ? score : avformat_open_input(&raw, path.c_str(), format, nullptr);
    if (err < 0) {
        if (score < 0) avformat_free_context(raw);  // avformat_open_input frees it on failure
        closeFileIo(pb);
        if (interrupt && interrupt->interrupted())
            failure = interrupted(interrupt);
        else if (err == AVERROR(ENOMEM))
            failure = MediaFailure::notMedia();  // it asked for more than any real file needs
        else
            failure = score > AVPROBE_SCORE_EXTENSION / 2 ? MediaFailure::incomplete() : MediaFailure::notMedia();
        return nullptr;
    }
    FormatPtr fmt(raw);
    err = avformat_find_stream_info(raw, nullptr);
    if (interrupt && interrupt->interrupted()) {
        failure = interrupted(interrupt);
        return nullptr;
    }
    if (err < 0) {
        failure = err == AVERROR(ENOMEM) ? MediaFailure::notMedia() : MediaFailure::incomplete();
        return nullptr;
    }
    return fmt;
}

const AVCodec* decoderFor(const AVStream* st) {
    const AVCodecID id = st->codecpar->codec_id;
    if (alphaTag(st)) {
        if (id == AV_CODEC_ID_VP9)
            if (const AVCodec* c = avcodec_find_decoder_by_name("libvpx-vp9")) return c;
        if (id == AV_CODEC_ID_VP8)
            if (const AVCodec* c = avcodec_find_decoder_by_name("libvpx")) return c;
    }
    return avcodec_find_decoder(id);
}

CodecPtr openDecoder(const AVStream* st, int threads, MediaFailure& failure) {
    const AVCodec* codec = decoderFor(st);
    if (!codec) {
        failure = {MediaFailure::Code::format, "no decoder for this file's format"};
        return nullptr;
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) {
        failure = {MediaFailure::Code::format, "the file's stream parameters are invalid"};
        return nullptr;
    }
    ctx->pkt_timebase = st->time_base;
    ctx->thread_count = threads;
    if (codec->capabilities & (AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS))
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        failure = {MediaFailure::Code::format, "the file's decoder could not be opened"};
        return nullptr;
    }
    return ctx;
}

bool isPictureStream(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) return false;
    if (par->width < 1 || par->height < 1) return false;
    switch (par->codec_id) {
        case AV_CODEC_ID_ANSI:
        case AV_CODEC_ID_BINTEXT:
        case AV_CODEC_ID_XBIN:
        case AV_CODEC_ID_IDF: return false;
        default: return true;
    }
}

bool isSoundStream(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    return par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
}

StageOrientation streamOrientation(const AVStream* st) {
    const uint8_t* sd = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!sd) return StageOrientation::up;
    const auto* m = reinterpret_cast<const int32_t*>(sd);
    auto fx = [](int32_t v) { return v / 65536.0; };
    return stageOrientation(fx(m[0]), fx(m[1]), fx(m[3]), fx(m[4]));
}

bool streamHasAlpha(const AVStream* st) {
    if (alphaTag(st)) return true;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(st->codecpar->format));
    return d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}

double seconds(int64_t ts, AVRational tb) { return ts == AV_NOPTS_VALUE ? 0.0 : ts * av_q2d(tb); }

static_assert(kPixelTailPadding >= AV_INPUT_BUFFER_PADDING_SIZE);

int paddedLinesize(int rowBytes) { return rowBytes > 0 ? int(paddedRowBytes(size_t(rowBytes))) : 0; }

size_t paddedBufferSize(int linesize, int rows) {
    return linesize > 0 && rows > 0 ? size_t(linesize) * size_t(rows) + kPixelTailPadding : 0;
}

FramePtr decodeFirstPicture(const std::string& path, int maxSide, AVCodecID* codecId) {
    quietLibraries();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    FormatPtr fmt(raw);
    int idx = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            idx = int(i);
            break;
        }
    if (idx < 0) return nullptr;
    const AVStream* st = fmt->streams[idx];
    if (codecId) *codecId = st->codecpar->codec_id;
    // A header may declare anything; refuse oversized pictures before the decoder allocates them.
    if (st->codecpar->width > maxSide || st->codecpar->height > maxSide) return nullptr;
    const AVCodec* codec = decoderFor(st);
    if (!codec) return nullptr;
    CodecPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0) return nullptr;
    dec->max_pixels = int64_t(maxSide) * maxSide;
    dec->thread_count = 1;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return nullptr;
    PacketPtr pkt(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    bool got = false;
    for (int reads = 0; !got && reads < 64;) {
        const int r = av_read_frame(fmt.get(), pkt.get());
        if (r >= 0 && pkt->stream_index != idx) {
            av_packet_unref(pkt.get());
            continue;
        }
        ++reads;
        avcodec_send_packet(dec.get(), r >= 0 ? pkt.get() : nullptr);
        av_packet_unref(pkt.get());
        got = avcodec_receive_frame(dec.get(), frame.get()) >= 0;
        if (r < 0) break;
    }
    if (!got || frame->width < 1 || frame->height < 1 || frame->width > maxSide || frame->height > maxSide) return nullptr;
    return frame;
}

bool scalePicture(const AVFrame* src, AVPixelFormat format, int w, int h, uint8_t* dst, int linesize) {
    if (!src || !dst || w < 1 || h < 1 || linesize < paddedLinesize(av_image_get_linesize(format, w, 0))) return false;
    SwsContext* sws = sws_getContext(src->width, src->height, AVPixelFormat(src->format), w, h, format, SWS_BICUBIC,
                                     nullptr, nullptr, nullptr);
    if (!sws) return false;
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {linesize, 0, 0, 0};
    const int rows = sws_scale(sws, src->data, src->linesize, 0, src->height, planes, strides);
    sws_freeContext(sws);
    return rows == h;
}

}  // namespace ombry::media::ff
