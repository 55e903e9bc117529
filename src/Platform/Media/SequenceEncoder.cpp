#include "Platform/Media/SequenceEncoder.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <pthread.h>

#include <algorithm>
#include <array>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <filesystem>
#include <thread>

#include "Platform/Media/FFmpegSupport.hpp"
#include "Platform/Media/StillDecoder.hpp"

namespace ombry::media {

namespace {

// Reciprocals that turn a division by alpha (or by a block's summed alpha) into a multiplication.
struct Reciprocals {
    std::array<uint64_t, 256> luma{};     // round(219 * 2^16 / a)
    std::array<int64_t, 1021> chroma{};  // round(224 * 2^16 / sum of four alphas)
    Reciprocals() {
        for (unsigned a = 1; a < luma.size(); ++a) luma[a] = (uint64_t(219) * 65536 + a / 2) / a;
        for (unsigned s = 1; s < chroma.size(); ++s) chroma[s] = (int64_t(224) * 65536 + s / 2) / s;
    }
};
const Reciprocals& reciprocals() {
    static const Reciprocals r;
    return r;
}

uint8_t clampByte(int64_t v, int lo, int hi) { return uint8_t(std::clamp<int64_t>(v, lo, hi)); }

}  // namespace

std::vector<std::pair<std::string, std::string>> sequenceEncoderOptions(int width, int fps) {
    // Tiles are at least 256 pixels wide; log2 of their count.
    int tiles = 0;
    while (tiles < 4 && (width >> (tiles + 1)) >= 256) ++tiles;
    return {
        {"deadline", "realtime"},
        {"cpu-used", "5"},
        {"crf", "18"},
        {"b", "0"},
        {"row-mt", "1"},
        {"tile-columns", std::to_string(tiles)},
        {"auto-alt-ref", "0"},
        {"lag-in-frames", "0"},
        // A key frame every two seconds keeps exact seeks (trims, loops) short.
        {"g", std::to_string(std::clamp(fps * 2, 1, 600))},
    };
}

int sequenceEncoderThreads() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)); }

std::optional<StillImage> decodeSequenceFrame(const std::string& path, int width, int height) {
    if (width < 1 || height < 1) return std::nullopt;
    StillResult r = decodeStill(path);
    if (auto* svg = std::get_if<std::shared_ptr<const ScalableImage>>(&r)) {
        StillImage img = StillImage::packed(width, height, StillAlpha::premultiplied, StillByteOrder::bgra);
        if (!(*svg)->draw(img.pixels.data(), width, height, img.stride)) return std::nullopt;
        return img;
    }
    auto* img = std::get_if<StillImage>(&r);
    if (!img || !img->valid()) return std::nullopt;
    if (img->width == width && img->height == height) return std::move(*img);
    // Stretched to fill the movie's picture; premultiplied pixels scale without dark fringes.
    StillImage out = StillImage::padded(width, height, img->alpha, img->order);
    const AVPixelFormat fmt = img->order == StillByteOrder::rgba ? AV_PIX_FMT_RGBA : AV_PIX_FMT_BGRA;
    SwsContext* sws = sws_getContext(img->width, img->height, fmt, width, height, fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws || !out.valid()) {
        sws_freeContext(sws);
        return std::nullopt;
    }
    const uint8_t* srcPlanes[4] = {img->pixels.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {int(img->stride), 0, 0, 0};
    uint8_t* dstPlanes[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {int(out.stride), 0, 0, 0};
    const int rows = sws_scale(sws, srcPlanes, srcStrides, 0, img->height, dstPlanes, dstStrides);
    sws_freeContext(sws);
    if (rows != height) return std::nullopt;
    return out;
}

void premultipliedToYuva420p(const StillImage& src, uint8_t* const planes[4], const int strides[4]) {
    const Reciprocals& rc = reciprocals();
    const int w = src.width, h = src.height;
    const int ri = src.order == StillByteOrder::rgba ? 0 : 2, bi = 2 - ri;
    for (int y = 0; y < h; y += 2) {
        const uint8_t* rows[2] = {src.pixels.data() + src.stride * size_t(y),
                                  src.pixels.data() + src.stride * size_t(std::min(y + 1, h - 1))};
        const int rowCount = y + 1 < h ? 2 : 1;
        uint8_t* yRows[2] = {planes[0] + ptrdiff_t(strides[0]) * y, planes[0] + ptrdiff_t(strides[0]) * (y + 1)};
        uint8_t* aRows[2] = {planes[3] + ptrdiff_t(strides[3]) * y, planes[3] + ptrdiff_t(strides[3]) * (y + 1)};
        uint8_t* uRow = planes[1] + ptrdiff_t(strides[1]) * (y / 2);
        uint8_t* vRow = planes[2] + ptrdiff_t(strides[2]) * (y / 2);
        for (int x = 0; x < w; x += 2) {
            const int colCount = x + 1 < w ? 2 : 1;
            int64_t sr = 0, sg = 0, sb = 0;
            unsigned sa = 0;
            for (int j = 0; j < rowCount; ++j)
                for (int i = 0; i < colCount; ++i) {
                    const uint8_t* p = rows[j] + size_t(x + i) * 4;
                    const unsigned r = p[ri], g = p[1], b = p[bi], a = p[3];
                    sr += r, sg += g, sb += b, sa += a;
                    // Luma of the straight colour: the premultiplied luma divided by alpha.
                    const uint64_t lum = uint64_t(13933) * r + uint64_t(46871) * g + uint64_t(4732) * b;
                    yRows[j][x + i] = a ? clampByte(16 + int64_t((lum * rc.luma[a] + (uint64_t(1) << 31)) >> 32), 16, 235) : 16;
                    aRows[j][x + i] = uint8_t(a);
                }
            if (sa == 0) {
                uRow[x / 2] = vRow[x / 2] = 128;
                continue;
            }
            // The block's alpha-weighted average colour: sums of premultiplied values over summed alpha.
            const int64_t u = -7509 * sr - 25259 * sg + 32768 * sb;
            const int64_t v = 32768 * sr - 29763 * sg - 3005 * sb;
            const int64_t m = rc.chroma[sa];
            const int64_t half = int64_t(1) << 31;
            uRow[x / 2] = clampByte(128 + ((u * m + half) >> 32), 16, 240);
            vRow[x / 2] = clampByte(128 + ((v * m + half) >> 32), 16, 240);
        }
    }
}

class SequencePicture {
public:
    ff::FramePtr frame;
};

void SequencePictureDeleter::operator()(SequencePicture* p) const { delete p; }

namespace {

// A frame file as the encoder's picture: decoded, stretched when needed, converted. Null when unreadable.
SequencePicturePtr convertFrame(const std::string& path, int width, int height) {
    const auto image = decodeSequenceFrame(path, width, height);
    if (!image) return nullptr;
    ff::FramePtr f(av_frame_alloc());
    if (!f) return nullptr;
    f->format = AV_PIX_FMT_YUVA420P;
    f->width = width;
    f->height = height;
    f->colorspace = AVCOL_SPC_BT709;
    f->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(f.get(), int(kPixelAlignment)) < 0) return nullptr;
    premultipliedToYuva420p(*image, f->data, f->linesize);
    return SequencePicturePtr(new SequencePicture{std::move(f)});
}

}  // namespace

struct SequenceFrameSource::Impl {
    std::vector<std::string> paths;
    int width = 0, height = 0;
    // Thread k decodes frames k, k + T, k + 2T, ... and leaves each in its own mailbox until taken.
    std::vector<std::optional<SequencePicturePtr>> mailboxes;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    size_t next = 0;
    std::vector<std::thread> threads;

    void decode(size_t k) {
        pthread_setname_np(pthread_self(), "seq-decode");
        const size_t step = mailboxes.size();
        for (size_t i = k; i < paths.size(); i += step) {
            SequencePicturePtr picture = convertFrame(paths[i], width, height);
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stopping || !mailboxes[k]; });
            if (stopping) return;
            mailboxes[k] = std::move(picture);
            changed.notify_all();
        }
    }
};

SequenceFrameSource::SequenceFrameSource(std::vector<std::string> paths, int width, int height, int threads)
    : impl_(std::make_unique<Impl>()) {
    impl_->paths = std::move(paths);
    impl_->width = width;
    impl_->height = height;
    const size_t count = std::clamp<size_t>(size_t(std::max(threads, 1)), 1, std::max<size_t>(impl_->paths.size(), 1));
    impl_->mailboxes.resize(count);
    for (size_t k = 0; k < count; ++k) impl_->threads.emplace_back([impl = impl_.get(), k] { impl->decode(k); });
}

SequenceFrameSource::~SequenceFrameSource() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    for (auto& t : impl_->threads) t.join();
}

SequencePicturePtr SequenceFrameSource::next() {
    Impl& d = *impl_;
    if (d.next >= d.paths.size()) return nullptr;
    const size_t k = d.next++ % d.mailboxes.size();
    std::unique_lock lock(d.mutex);
    d.changed.wait(lock, [&] { return d.mailboxes[k].has_value(); });
    SequencePicturePtr picture = std::move(*d.mailboxes[k]);
    d.mailboxes[k].reset();
    d.changed.notify_all();
    return picture;
}

struct SequenceWriter::Impl {
    std::string path;
    int width = 0, height = 0;
    ff::CodecPtr codec;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    ff::FramePtr frame;
    ff::PacketPtr packet;
    int64_t next = 0;
    bool headerWritten = false;
    bool done = false;

    ~Impl() { close(); }

    void close() {
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
        codec.reset();
    }

    // Moves every packet the encoder has ready into the file.
    int drain() {
        for (;;) {
            int r = avcodec_receive_packet(codec.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
            if (r < 0) return r;
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            r = av_interleaved_write_frame(format, packet.get());
            av_packet_unref(packet.get());
            if (r < 0) return r;
        }
    }
};

SequenceWriter::SequenceWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SequenceWriter::~SequenceWriter() {
    if (impl_ && !impl_->done) cancel();
}

int SequenceWriter::width() const { return impl_->width; }
int SequenceWriter::height() const { return impl_->height; }

std::unique_ptr<SequenceWriter> SequenceWriter::create(const std::string& path, int width, int height, int fps, Error& error) {
    ff::quietLibraries();
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->width = width;
    impl->height = height;
    std::error_code ec;
    std::filesystem::remove(path, ec);

    error = {Error::Stage::create, {}};
    if (avformat_alloc_output_context2(&impl->format, nullptr, "webm", path.c_str()) < 0 || !impl->format) {
        error.detail = "the movie format is not available";
        return nullptr;
    }
    if (const int r = avio_open(&impl->format->pb, path.c_str(), AVIO_FLAG_WRITE); r < 0) {
        error.detail = ff::errorText(r);
        return nullptr;
    }

    error.stage = Error::Stage::codec;
    const AVCodec* vp9 = avcodec_find_encoder_by_name("libvpx-vp9");
    impl->codec.reset(vp9 ? avcodec_alloc_context3(vp9) : nullptr);
    if (!impl->codec || width < 2 || height < 2 || width % 2 || height % 2 || fps < 1) {
        impl->close();
        std::filesystem::remove(path, ec);
        return nullptr;
    }
    AVCodecContext* c = impl->codec.get();
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUVA420P;
    c->time_base = {1, fps};
    c->framerate = {fps, 1};
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->thread_count = sequenceEncoderThreads();
    if (impl->format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // The same frames give the same bytes (no random track and segment ids, no date, no library versions),
    // so that content dedup recognises a sequence imported again.
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    impl->format->flags |= AVFMT_FLAG_BITEXACT;
    AVDictionary* opts = nullptr;
    for (const auto& [key, value] : sequenceEncoderOptions(width, fps)) av_dict_set(&opts, key.c_str(), value.c_str(), 0);
    const int opened = avcodec_open2(c, vp9, &opts);
    av_dict_free(&opts);
    impl->stream = opened < 0 ? nullptr : avformat_new_stream(impl->format, nullptr);
    impl->frame.reset(av_frame_alloc());
    impl->packet.reset(av_packet_alloc());
    if (!impl->stream || avcodec_parameters_from_context(impl->stream->codecpar, c) < 0 || !impl->frame || !impl->packet) {
        impl->close();
        std::filesystem::remove(path, ec);
        return nullptr;
    }
    impl->stream->time_base = c->time_base;
    impl->stream->avg_frame_rate = {fps, 1};

    error.stage = Error::Stage::start;
    if (const int r = avformat_write_header(impl->format, nullptr); r < 0) {
        error.detail = ff::errorText(r);
        impl->close();
        std::filesystem::remove(path, ec);
        return nullptr;
    }
    impl->headerWritten = true;
    AVFrame* f = impl->frame.get();
    f->format = AV_PIX_FMT_YUVA420P;
    f->width = width;
    f->height = height;
    f->colorspace = c->colorspace;
    f->color_range = c->color_range;
    if (av_frame_get_buffer(f, int(kPixelAlignment)) < 0) {
        impl->close();
        std::filesystem::remove(path, ec);
        return nullptr;
    }
    error = {};
    return std::unique_ptr<SequenceWriter>(new SequenceWriter(std::move(impl)));
}

bool SequenceWriter::append(const StillImage& image, Error& error) {
    error = {Error::Stage::frame, {}};
    Impl& d = *impl_;
    if (d.done || !image.valid() || image.width != d.width || image.height != d.height) return false;
    AVFrame* f = d.frame.get();
    // The encoder may still hold the previous picture: then it gets a fresh buffer.
    if (const int r = av_frame_make_writable(f); r < 0) {
        error.detail = ff::errorText(r);
        return false;
    }
    premultipliedToYuva420p(image, f->data, f->linesize);
    f->pts = d.next++;
    int r = avcodec_send_frame(d.codec.get(), f);
    if (r >= 0) r = d.drain();
    if (r < 0) error.detail = ff::errorText(r);
    return r >= 0;
}

bool SequenceWriter::append(SequencePicturePtr picture, Error& error) {
    error = {Error::Stage::frame, {}};
    Impl& d = *impl_;
    if (d.done || !picture || !picture->frame || picture->frame->width != d.width || picture->frame->height != d.height)
        return false;
    picture->frame->pts = d.next++;
    int r = avcodec_send_frame(d.codec.get(), picture->frame.get());
    if (r >= 0) r = d.drain();
    if (r < 0) error.detail = ff::errorText(r);
    return r >= 0;
}

bool SequenceWriter::finish(Error& error) {
    error = {Error::Stage::finish, {}};
    Impl& d = *impl_;
    if (d.done) return false;
    int r = avcodec_send_frame(d.codec.get(), nullptr);
    if (r >= 0) r = d.drain();
    if (r >= 0) r = av_write_trailer(d.format);
    if (r >= 0 && d.format->pb) {
        avio_flush(d.format->pb);
        r = d.format->pb->error;
        if (r >= 0) r = avio_closep(&d.format->pb);
    }
    if (r < 0) {
        error.detail = ff::errorText(r);
        cancel();
        return false;
    }
    d.done = true;
    d.close();
    error = {};
    return true;
}

void SequenceWriter::cancel() {
    impl_->done = true;
    impl_->close();
    std::error_code ec;
    std::filesystem::remove(impl_->path, ec);
}

}  // namespace ombry::media
