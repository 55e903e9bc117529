#include "Platform/Media/MediaAsset.hpp"

#include "Platform/Media/FFmpegSupport.hpp"

namespace ombry::media {

std::shared_ptr<MediaAsset> MediaAsset::open(const std::string& path) {
    std::shared_ptr<MediaAsset> asset(new MediaAsset(path));
    asset->thread_ = std::thread([raw = asset.get()] { raw->run(); });
    return asset;
}

MediaAsset::MediaAsset(std::string path) : path_(std::move(path)) {}

MediaAsset::~MediaAsset() {
    abort_ = true;
    if (thread_.joinable()) thread_.join();
}

Readiness MediaAsset::readiness() const {
    std::lock_guard lock(mutex_);
    return readiness_;
}

std::optional<MediaFailure> MediaAsset::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

AssetInfo MediaAsset::info() const {
    std::lock_guard lock(mutex_);
    return info_;
}

void MediaAsset::cancel() { abort_ = true; }

void MediaAsset::run() {
    MediaFailure failure;
    ff::FormatPtr fmt = ff::openInput(path_, &interrupt_, failure);
    if (!fmt) return finish(std::nullopt, failure);
    AssetInfo info;
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) info.duration = fmt->duration / double(AV_TIME_BASE);
    const int v = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int a = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    bool undecodable = false;  // a picture or sound stream that no decoder here reads
    if (v >= 0 && ff::isPictureStream(fmt->streams[v])) {
        const AVStream* st = fmt->streams[v];
        MediaFailure f;
        if (ff::openDecoder(st, 1, f)) {
            info.hasVideo = true;
            info.width = st->codecpar->width;
            info.height = st->codecpar->height;
            const AVRational fr = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
            info.frameRate = fr.den ? av_q2d(fr) : 0;
            info.hasAlpha = ff::streamHasAlpha(st);
            info.orientation = ff::streamOrientation(st);
            if (info.duration <= 0 && st->duration != AV_NOPTS_VALUE) info.duration = ff::seconds(st->duration, st->time_base);
        } else {
            undecodable = true;
        }
    }
    if (a >= 0 && ff::isSoundStream(fmt->streams[a])) {
        const AVStream* st = fmt->streams[a];
        MediaFailure f;
        if (ff::openDecoder(st, 1, f)) {
            info.hasAudio = true;
            info.sampleRate = st->codecpar->sample_rate;
            info.channels = st->codecpar->ch_layout.nb_channels;
            if (info.duration <= 0 && st->duration != AV_NOPTS_VALUE) info.duration = ff::seconds(st->duration, st->time_base);
        } else {
            undecodable = true;
        }
    }
    if (!info.hasVideo && !info.hasAudio)
        return finish(std::nullopt, undecodable ? MediaFailure::unsupportedCodec() : MediaFailure::notMedia());
    // A file that does not give its length still plays, to its end; its duration stays 0.
    info.playable = info.hasVideo || info.hasAudio;
    if (!info.playable) return finish(std::nullopt, MediaFailure{MediaFailure::Code::format, "the file has no playable video or audio"});
    finish(info, std::nullopt);
}

void MediaAsset::finish(std::optional<AssetInfo> info, std::optional<MediaFailure> failure) {
    std::vector<std::shared_ptr<Waiter>> waiters;
    {
        std::lock_guard lock(mutex_);
        readiness_ = info ? Readiness::ready : Readiness::failed;
        if (info) info_ = *info;
        failure_ = failure;
        waiters.swap(waiters_);
    }
    const LoadResult result{info, failure};
    for (auto& w : waiters) {
        w->timer.cancel();
        mainQueue().post([w, result] {
            if (w->handle.cancelled() || !w->done) return;
            auto done = std::move(w->done);
            w->done = nullptr;
            done(result);
        });
    }
}

TaskHandle MediaAsset::load(double timeoutSeconds, std::function<void(const LoadResult&)> done) {
    auto w = std::make_shared<Waiter>();
    w->done = std::move(done);
    w->handle = TaskHandle(std::make_shared<std::atomic<bool>>(false));
    std::weak_ptr<MediaAsset> weak = weak_from_this();
    // Armed before the load thread can see the waiter: a load that finishes at once must find the
    // timer it cancels.
    w->timer = mainQueue().postAfter(timeoutSeconds, [w, weak] {
        if (w->handle.cancelled() || !w->done) return;
        auto done = std::move(w->done);
        w->done = nullptr;
        if (auto self = weak.lock()) self->abort_ = true;
        done({std::nullopt, MediaFailure{MediaFailure::Code::timeout, "media load timed out"}});
    });
    interrupt_.setDeadline(timeoutSeconds);
    std::lock_guard lock(mutex_);
    if (readiness_ == Readiness::unknown) {
        waiters_.push_back(w);
        return w->handle;
    }
    w->timer.cancel();
    const LoadResult result{readiness_ == Readiness::ready ? std::optional(info_) : std::nullopt, failure_};
    mainQueue().post([w, result] {
        if (!w->handle.cancelled() && w->done) w->done(result);
    });
    return w->handle;
}

}  // namespace ombry::media
