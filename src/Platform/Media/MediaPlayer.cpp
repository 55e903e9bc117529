#include "Platform/Media/MediaPlayerImpl.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>

#include "Platform/Memory.hpp"
#include "Platform/Media/FrameStore.hpp"

namespace ombry::media {

using namespace detail;

MediaPlayer::Impl::Impl(std::shared_ptr<MediaAsset> a, PlayerOptions o)
    : asset(std::move(a)), path(asset->path()), opt(std::move(o)), output(opt.output), processor(opt.processor) {
    if (!output) output = AudioOutput::createNull(true);
    for (int i = 0; i < kBlocks; ++i) freeBlocks.push(i);
    reqOutW = opt.outputWidth;
    reqOutH = opt.outputHeight;
    maxW = opt.maxWidth;
    maxH = opt.maxHeight;
    for (auto& p : pool) p = std::make_shared<VideoFrame>();
}

MediaPlayer::Impl::~Impl() {
    // The pictures' memory goes to the next player, unless a consumer still holds the frame.
    ring.clear();
    current.reset();
    for (auto& p : pool)
        if (p.use_count() == 1) FrameStore::shared().give(std::move(p->storage));
    if (swr48) swr_free(&swr48);
    for (auto& b : blocks) swr_free(&b.resampler);
    av_channel_layout_uninit(&outLayout);
    for (auto& e : vq) av_packet_free(&e.pkt);
    for (auto& e : aq) av_packet_free(&e.pkt);
}

// End of the playable range for the clock; unbounded until the file is open and its end is known.
double MediaPlayer::Impl::rangeEnd() {
    std::lock_guard lock(m);
    return ready == Readiness::ready && endTime > 0 ? endTime : std::numeric_limits<double>::infinity();
}

void MediaPlayer::Impl::start() {
    demuxThread = std::thread([this] { demuxMain(); });
}

void MediaPlayer::Impl::stop() {
    stopping = true;
    eventTimer.cancel();
    for (auto& [id, p] : periodic) p.timer.cancel();
    for (auto& w : readyWaiters) w->timer.cancel();
    {
        // Under m: a decode thread that saw quit unset finishes its post before this returns.
        std::lock_guard lock(m);
        quit = true;
    }
    cv.notify_all();
}

void MediaPlayer::Impl::join() {
    if (demuxThread.joinable()) demuxThread.join();
    if (audioLive) output->removeSource(this);
    if (videoThread.joinable()) videoThread.join();
    if (audioThread.joinable()) audioThread.join();
    if (processor && aIdx >= 0) processor->unprepare();
}

namespace {

// Joins stopped players off the main thread, one after the other: a decoder stuck in a slow read or a
// long decode holds up only this thread. Never destroyed, so a player that never ends does not hold
// up the process's exit either; but the exit waits a little for the ones in hand, so that no player
// thread (or its private audio output's) runs on while the process's statics are destroyed.
class Reaper {
public:
    static Reaper& instance() {
        static Reaper* reaper = [] {
            auto* r = new Reaper;
            // Registered after every static of the start-up exists: runs before any of them is destroyed.
            std::atexit([] { Reaper::instance().drain(kExitWait); });
            return r;
        }();
        return *reaper;
    }

    void hand(std::shared_ptr<MediaPlayer::Impl> impl) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(impl));
        }
        cv_.notify_all();
    }

    bool drain(double seconds) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return queue_.empty() && !busy_; });
    }

private:
    static constexpr double kExitWait = 2.0;

    Reaper() { std::thread([this] { run(); }).detach(); }

    void run() {
        nameThread("media-reaper");
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return !queue_.empty(); });
            std::shared_ptr<MediaPlayer::Impl> impl = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            impl->join();
            // A main-queue callback may hold the player for a moment (it finds no owner and returns): the
            // decoders are freed here rather than when that callback lets go, on the frame loop's thread.
            for (int i = 0; i < 200 && impl.use_count() > 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            impl.reset();
            // The decode threads' freed buffers go back to the system once a burst of teardowns is over.
            bool last = false;
            {
                std::lock_guard check(mutex_);
                last = queue_.empty();
            }
            if (last) platform::returnFreedMemory();
            lock.lock();
            busy_ = false;
            cv_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<MediaPlayer::Impl>> queue_;
    bool busy_ = false;
};

}  // namespace

MediaPlayer::MediaPlayer(std::shared_ptr<MediaAsset> asset, PlayerOptions options)
    : impl_(std::make_shared<Impl>(std::move(asset), std::move(options))) {
    impl_->owner = this;
    Timeline::State tl;
    tl.end = std::numeric_limits<double>::infinity();  // known once the file is open
    tl.frozen = true;  // until the first frames are decoded
    tl.anchorHost = impl_->output->now();
    impl_->timeline.write(tl);
    impl_->start();
}

bool MediaPlayer::awaitTeardowns(double seconds) { return Reaper::instance().drain(seconds); }

MediaPlayer::~MediaPlayer() {
    impl_->owner = nullptr;
    impl_->stop();
    Reaper::instance().hand(std::move(impl_));
}

Readiness MediaPlayer::readiness() const {
    std::lock_guard lock(impl_->m);
    return impl_->ready;
}

std::optional<MediaFailure> MediaPlayer::failure() const {
    std::lock_guard lock(impl_->m);
    return impl_->failure;
}

void MediaPlayer::whenReady(double timeoutSeconds, std::function<void(Readiness)> done) {
    const Readiness r = readiness();
    if (r != Readiness::unknown) {
        std::weak_ptr<Impl> weak = impl_;
        mainQueue().post([weak, done = std::move(done), r] {
            if (auto self = weak.lock(); self && self->owner && done) done(r);
        });
        return;
    }
    auto w = std::make_shared<Impl::ReadyWaiter>();
    w->done = std::move(done);
    std::weak_ptr<Impl> weak = impl_;
    w->timer = mainQueue().postAfter(timeoutSeconds, [weak, w] {
        auto self = weak.lock();
        if (!self || !self->owner) return;
        auto& list = self->readyWaiters;
        for (auto it = list.begin(); it != list.end(); ++it)
            if (*it == w) {
                list.erase(it);
                if (w->done) w->done(Readiness::unknown);
                return;
            }
    });
    impl_->readyWaiters.push_back(w);
}

bool MediaPlayer::hasVideo() const { return readiness() == Readiness::ready && impl_->vIdx >= 0; }
bool MediaPlayer::hasAudio() const { return readiness() == Readiness::ready && impl_->aIdx >= 0; }
double MediaPlayer::duration() const {
    std::lock_guard lock(impl_->m);
    return impl_->ready == Readiness::ready ? impl_->duration : 0;
}
StageOrientation MediaPlayer::orientation() const {
    return readiness() == Readiness::ready ? impl_->orientation : StageOrientation::up;
}
int MediaPlayer::naturalWidth() const { return readiness() == Readiness::ready ? impl_->natW : 0; }
int MediaPlayer::naturalHeight() const { return readiness() == Readiness::ready ? impl_->natH : 0; }

double MediaPlayer::endTime() const {
    std::lock_guard lock(impl_->m);
    return impl_->ready == Readiness::ready ? impl_->endTime : impl_->opt.forwardEndTime;
}

void MediaPlayer::setRate(double rate) {
    // The end of the range is known once open; keep the clock's clamp in step.
    Timeline::State tl = impl_->timeline.read();
    const double end = impl_->rangeEnd();
    if (tl.end != end) {
        tl.end = end;
        impl_->timeline.write(tl);
    }
    impl_->setRate(rate);
}

double MediaPlayer::rate() const { return impl_->timeline.read().rate; }

double MediaPlayer::currentTime() const {
    const Timeline::State tl = impl_->timeline.read();
    return tl.wrap(tl.continuousAt(impl_->output->now()));
}

void MediaPlayer::seek(double time, std::function<void(bool)> done) {
    Timeline::State tl = impl_->timeline.read();
    tl.end = impl_->rangeEnd();
    impl_->timeline.write(tl);
    impl_->seek(time, std::move(done));
}

void MediaPlayer::preroll(std::function<void(bool)> done) {
    impl_->prerolls.push_back({0, std::move(done)});
    impl_->postProgress(true);
}

void MediaPlayer::setMuted(bool muted) { impl_->mutedFlag = muted; }
bool MediaPlayer::muted() const { return impl_->mutedFlag; }

void MediaPlayer::setActionAtEnd(ActionAtEnd action) {
    const bool wasLoop = impl_->action == ActionAtEnd::loop;
    impl_->action = action;
    const bool loop = action == ActionAtEnd::loop;
    {
        std::lock_guard lock(impl_->m);
        impl_->loopOn = loop;
        impl_->cv.notify_all();
    }
    Timeline::State tl = impl_->timeline.read();
    const double c = tl.continuousAt(impl_->output->now());
    tl.loop = loop;
    tl.end = impl_->rangeEnd();
    impl_->timeline.write(tl);
    // Leaving a loop after it wrapped: start afresh at the wrapped time, so the clock and the
    // decoded passes agree again.
    if (wasLoop && !loop && c >= tl.end) impl_->seek(tl.loopStart + std::fmod(c - tl.loopStart, std::max(tl.end - tl.loopStart, 1e-6)), {});
    impl_->reschedule();
}

ActionAtEnd MediaPlayer::actionAtEnd() const { return impl_->action; }

void MediaPlayer::setLoopStart(double time) {
    {
        std::lock_guard lock(impl_->m);
        impl_->loopStart = std::max(time, 0.0);
    }
    Timeline::State tl = impl_->timeline.read();
    tl.loopStart = std::max(time, 0.0);
    impl_->timeline.write(tl);
}

MediaPlayer::ObserverId MediaPlayer::addPeriodicObserver(double interval, std::function<void(double)> fn) {
    const ObserverId id = impl_->nextObserver++;
    impl_->periodic[id] = {std::max(interval, 0.001), std::move(fn), {}};
    impl_->startPeriodic(id);
    return id;
}

MediaPlayer::ObserverId MediaPlayer::addBoundaryObserver(std::vector<double> times, std::function<void()> fn) {
    const ObserverId id = impl_->nextObserver++;
    impl_->boundaries[id] = {std::move(times), std::move(fn)};
    impl_->reschedule();
    return id;
}

void MediaPlayer::removeObserver(ObserverId id) {
    if (auto it = impl_->periodic.find(id); it != impl_->periodic.end()) {
        it->second.timer.cancel();
        impl_->periodic.erase(it);
    }
    impl_->boundaries.erase(id);
}

void MediaPlayer::setPreferredMaximumSize(int width, int height) {
    std::lock_guard lock(impl_->m);
    impl_->maxW = width;
    impl_->maxH = height;
}

void MediaPlayer::setOutputSize(int width, int height) {
    std::lock_guard lock(impl_->m);
    impl_->reqOutW = width;
    impl_->reqOutH = height;
}

std::shared_ptr<const VideoFrame> MediaPlayer::latestFrame(double hostTime) {
    Impl& d = *impl_;
    const Timeline::State tl = d.timeline.read();
    // Host time to output time: the output's clock may run a hair apart from the host clock.
    const double c = tl.continuousAt(hostTime + (d.output->now() - appClock().monotonic()));
    std::lock_guard lock(d.m);
    const bool stale = d.currentGen != d.gen;
    while (!d.ring.empty() && (d.ring.front()->time <= c + kEps || (stale && d.currentGen != d.gen))) {
        if (d.current && !d.currentShown && d.currentGen == d.gen) d.dropped.fetch_add(1, std::memory_order_relaxed);
        d.current = std::move(d.ring.front());
        d.ring.pop_front();
        d.currentGen = d.gen;
        d.currentShown = false;
    }
    d.cv.notify_all();
    if (d.current) d.currentShown = true;
    return d.current;
}

uint64_t MediaPlayer::framesDropped() const { return impl_->dropped.load(); }
uint64_t MediaPlayer::framesDecoded() const { return impl_->decoded.load(); }

double MediaPlayer::bufferedAudio() const {
    if (impl_->sampleRate <= 0) return 0;
    return double(impl_->readyBlocks.size()) * kBlockFrames / impl_->sampleRate;
}

int MediaPlayer::bufferedFrames() const {
    std::lock_guard lock(impl_->m);
    return int(impl_->ring.size());
}

}  // namespace ombry::media
