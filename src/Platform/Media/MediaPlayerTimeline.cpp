#include "Platform/Media/MediaPlayerImpl.hpp"

namespace ombry::media {

using namespace detail;

Timeline::State Timeline::read() const {
    for (;;) {
        const uint64_t s = seq_.load(std::memory_order_acquire);
        if (s & 1) continue;
        State st;
        st.anchorHost = anchorHost_.load(std::memory_order_relaxed);
        st.anchorMedia = anchorMedia_.load(std::memory_order_relaxed);
        st.rate = rate_.load(std::memory_order_relaxed);
        st.frozen = frozen_.load(std::memory_order_relaxed);
        st.loop = loop_.load(std::memory_order_relaxed);
        st.loopStart = loopStart_.load(std::memory_order_relaxed);
        st.end = end_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (seq_.load(std::memory_order_relaxed) == s) return st;
    }
}

const Timeline::State& Timeline::readOnAudioThread() {
    if (middle_.load(std::memory_order_relaxed) & kFresh)
        front_ = uint8_t(middle_.exchange(front_, std::memory_order_acq_rel) & kIndex);
    return slots_[front_];
}

double MediaPlayer::Impl::nowContinuous() const { return timeline.read().continuousAt(output->now()); }

// Where a clock that starts moving now is anchored: with sound, at the first sample still to be
// rendered, so that the start of the sound is not lost in the output's buffer.
double MediaPlayer::Impl::startHost(double rate) const {
    const double now = output->now();
    return rate != 0 && aIdx >= 0 ? std::max(now, output->renderHead()) : now;
}

// Re-anchors the clock at the current time with a new rate.
void MediaPlayer::Impl::setRate(double r) {
    Timeline::State tl = timeline.read();
    const double host = output->now();
    tl.anchorMedia = tl.continuousAt(host);
    if (r == 0 && tl.moving()) {
        // A live output's clock can step back a little when it re-reads its device, leaving the picture on
        // show just ahead of it: the pause stops at that picture, which never goes back a frame.
        std::lock_guard lock(m);
        if (current && currentShown && currentGen == gen && current->time > tl.anchorMedia)
            tl.anchorMedia = tl.loop ? current->time : std::min(current->time, tl.end);
    }
    tl.anchorHost = tl.moving() ? host : startHost(r);
    tl.rate = r;
    timeline.write(tl);
    lastEval = tl.anchorMedia;
    reschedule();
    if (tl.moving()) restartPeriodic();
    else stopPeriodic();
    std::lock_guard lock(m);
    cv.notify_all();
}

void MediaPlayer::Impl::seek(double t, std::function<void(bool)> done) {
    t = std::max(t, 0.0);
    std::vector<PendingSeek> superseded = std::move(seeks);
    seeks.clear();
    // The new position must be visible before the new generation: the decode threads prune the
    // ring against the timeline, and the old position would throw the new frames away.
    Timeline::State tl = timeline.read();
    tl.anchorMedia = t;
    tl.anchorHost = output->now();
    tl.frozen = true;
    timeline.write(tl);
    uint64_t g;
    {
        std::lock_guard lock(m);
        g = ++gen;
        seekTarget = t;
        for (auto* q : {&vq, &aq}) {
            for (auto& e : *q) av_packet_free(&e.pkt);
            q->clear();
        }
        queuedBytes = 0;
        ring.clear();
        videoFirst = audioFirst = false;
        videoEof = vIdx < 0 || ready == Readiness::failed;
        audioEof = aIdx < 0 || ready == Readiness::failed;
        if (ready == Readiness::unknown) videoEof = audioEof = false;
        cv.notify_all();
    }
    audioGen.store(g, std::memory_order_release);
    lastEval = t;
    endedPass = false;
    eventTimer.cancel();
    stopPeriodic();
    seeks.push_back({g, std::move(done)});
    for (auto& s : superseded)
        if (s.done) s.done(false);
    postProgress(true);
}

}  // namespace ombry::media
