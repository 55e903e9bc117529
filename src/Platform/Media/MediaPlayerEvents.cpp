#include "Platform/Media/MediaPlayerImpl.hpp"

#include <limits>

namespace ombry::media {

using namespace detail;

void MediaPlayer::Impl::postProgress(bool force) {
    // Posted under m: once stop() has set quit, nothing reaches the main queue (which may be gone).
    std::lock_guard lock(m);
    if (quit || (progressPosted && !force)) return;
    progressPosted = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    mainQueue().post([weak] {
        if (auto self = weak.lock()) self->onProgress();
    });
}

bool MediaPlayer::Impl::genReady(bool forPreroll) {
    // under m
    if (ready == Readiness::failed) return true;
    if (ready != Readiness::ready) return false;
    const bool v = vIdx < 0 || videoEof || (forPreroll ? int(ring.size()) >= 2 || (videoFirst && videoEof) : videoFirst);
    const bool a = vIdx >= 0 || aIdx < 0 || audioEof || audioFirst;
    return v && a;
}

void MediaPlayer::Impl::onProgress() {
    if (!owner) return;
    bool seekDone, prerollDone;
    Readiness r;
    {
        std::lock_guard lock(m);
        progressPosted = false;
        seekDone = genReady(false);
        prerollDone = genReady(true);
        r = ready;
    }
    if (r == Readiness::ready) {
        Timeline::State tl = timeline.read();
        const double end = rangeEnd();
        if (tl.end != end) {
            tl.end = end;
            timeline.write(tl);
            reschedule();  // an end learned while playing: the end notice and the boundaries move
        }
    }
    if (r != Readiness::unknown) {
        auto waiters = std::move(readyWaiters);
        readyWaiters.clear();
        for (auto& w : waiters) {
            w->timer.cancel();
            if (w->done) w->done(r);
        }
    }
    if (seekDone) {
        Timeline::State tl = timeline.read();
        if (tl.frozen) {
            tl.frozen = false;
            tl.anchorHost = startHost(tl.rate);
            timeline.write(tl);
            lastEval = tl.anchorMedia;
            reschedule();
            restartPeriodic();
        }
        auto done = std::move(seeks);
        seeks.clear();
        for (auto& s : done)
            if (s.done) s.done(true);
    }
    if (prerollDone) {
        auto done = std::move(prerolls);
        prerolls.clear();
        for (auto& s : done)
            if (s.done) s.done(true);
    }
}

// Next time (continuous) strictly after `after` at which playback passes `t`: every pass of a loop.
double MediaPlayer::Impl::nextOccurrence(const Timeline::State& tl, double t, double after) {
    const double len = tl.end - tl.loopStart;
    double occ = t;
    if (occ <= after && tl.loop && len > 0 && t >= tl.loopStart && t < tl.end)
        occ = t + std::ceil((after - t) / len + 1e-12) * len;
    if (occ <= after || (!tl.loop && occ > tl.end + kEps)) return std::numeric_limits<double>::infinity();
    return occ;
}

double MediaPlayer::Impl::nextBoundary(const Timeline::State& tl, double after) const {
    double best = std::numeric_limits<double>::infinity();
    for (auto& [id, b] : boundaries)
        for (double t : b.times) best = std::min(best, nextOccurrence(tl, t, after));
    return best;
}

void MediaPlayer::Impl::reschedule() {
    eventTimer.cancel();
    const Timeline::State tl = timeline.read();
    if (!tl.moving() || tl.rate < 0) return;
    const double c = tl.continuousAt(output->now());
    double next = nextBoundary(tl, lastEval);
    if (!tl.loop && !endedPass) next = std::min(next, tl.end);
    if (!std::isfinite(next)) return;
    const double dt = std::max((next - c) / tl.rate, 0.0);
    std::weak_ptr<Impl> weak = weak_from_this();
    eventTimer = mainQueue().postAfter(dt, [weak] {
        if (auto self = weak.lock()) self->onEvents();
    });
}

void MediaPlayer::Impl::onEvents() {
    if (!owner) return;
    Timeline::State tl = timeline.read();
    const double c = tl.continuousAt(output->now());
    const double from = lastEval;
    // Boundaries within the tolerance below fire now: never again for this pass, or the timer spins.
    lastEval = std::max(lastEval, c + 1e-9);
    std::vector<std::function<void()>> fire;
    for (auto& [id, b] : boundaries)
        for (double t : b.times)
            if (nextOccurrence(tl, t, from) <= c + 1e-9) {
                fire.push_back(b.fn);
                break;
            }
    bool ended = false;
    if (!tl.loop && !endedPass && c >= tl.end - 1e-9) {
        endedPass = true;
        ended = true;
        if (action == ActionAtEnd::pause) {
            tl.anchorMedia = tl.end;
            tl.anchorHost = output->now();
            tl.rate = 0;
            timeline.write(tl);
            stopPeriodic();
        }
    }
    for (auto& f : fire)
        if (f) f();
    if (!owner) return;
    if (ended && owner->onEndOfItem) owner->onEndOfItem();
    if (owner) reschedule();
}

void MediaPlayer::Impl::restartPeriodic() {
    for (auto& [id, p] : periodic) startPeriodic(id);
}

void MediaPlayer::Impl::stopPeriodic() {
    for (auto& [id, p] : periodic) p.timer.cancel();
}

void MediaPlayer::Impl::startPeriodic(ObserverId id) {
    auto it = periodic.find(id);
    if (it == periodic.end()) return;
    it->second.timer.cancel();
    if (!timeline.read().moving()) return;
    std::weak_ptr<Impl> weak = weak_from_this();
    it->second.timer = mainQueue().postAfter(it->second.interval, [weak, id] {
        auto self = weak.lock();
        if (!self || !self->owner) return;
        auto p = self->periodic.find(id);
        if (p == self->periodic.end()) return;
        auto fn = p->second.fn;
        self->startPeriodic(id);
        if (fn) fn(self->timeline.read().wrap(self->nowContinuous()));
    });
}

}  // namespace ombry::media
