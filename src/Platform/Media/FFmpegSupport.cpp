#include "Platform/Media/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <filesystem>
#include <mutex>

namespace ombry::media::ff {

std::string errorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

namespace {
int interruptCallback(void* opaque) {
    auto* flag = static_cast<const std::atomic<bool>*>(opaque);
    return flag && flag->load(std::memory_order_relaxed) ? 1 : 0;
}

bool alphaTag(const AVStream* st) {
    const AVDictionaryEntry* e = av_dict_get(st->metadata, "alpha_mode", nullptr, 0);
    return e && std::string(e->value) == "1";
}
}  // namespace

void quietLibraries() {
    // Decoder chatter about damaged input goes nowhere; failures are reported as values.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

FormatPtr openInput(const std::string& path, const std::atomic<bool>* abort, MediaFailure& failure) {
    quietLibraries();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        failure = {MediaFailure::Code::missing, "media file unavailable"};
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    raw->interrupt_callback.callback = interruptCallback;
    raw->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(abort);
    int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        // avformat_open_input frees the context on failure.
        failure = abort && abort->load() ? MediaFailure{MediaFailure::Code::cancelled, "media load cancelled"}
                                         : MediaFailure{MediaFailure::Code::format, "the file is not a playable media file"};
        return nullptr;
    }
    FormatPtr fmt(raw);
    err = avformat_find_stream_info(raw, nullptr);
    if (err < 0 || (abort && abort->load())) {
        failure = abort && abort->load() ? MediaFailure{MediaFailure::Code::cancelled, "media load cancelled"}
                                         : MediaFailure{MediaFailure::Code::format, "the file's streams could not be read"};
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

}  // namespace ombry::media::ff
