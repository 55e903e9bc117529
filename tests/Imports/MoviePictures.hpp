#pragma once
// Every picture of a movie's first stream, decoded with the decoder our player uses (libvpx for VP9 with
// alpha), for tests and benchmarks that look at what an encode wrote.
#include <filesystem>
#include <functional>

#include "Platform/Media/FFmpegSupport.hpp"

namespace ombry::test {

// Calls `picture` with each decoded picture and the stream's time base; false when the movie cannot be read.
inline bool forEachPicture(const std::filesystem::path& movie,
                           const std::function<void(const AVFrame& picture, AVRational timeBase)>& picture) {
    media::MediaFailure failure;
    media::ff::FormatPtr fmt = media::ff::openInput(movie.string(), nullptr, failure);
    if (!fmt || fmt->nb_streams < 1) return false;
    const AVStream* st = fmt->streams[0];
    media::ff::CodecPtr dec = media::ff::openDecoder(st, 0, failure);
    if (!dec) return false;
    media::ff::PacketPtr pkt(av_packet_alloc());
    media::ff::FramePtr frame(av_frame_alloc());
    auto take = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) picture(*frame, st->time_base);
    };
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        avcodec_send_packet(dec.get(), pkt.get());
        av_packet_unref(pkt.get());
        take();
    }
    avcodec_send_packet(dec.get(), nullptr);
    take();
    return true;
}

}  // namespace ombry::test
