#include "Platform/Gpu/FrameFences.hpp"

namespace ombry {

namespace {
class GlProbe final : public FrameFences::Probe {
public:
    GLsync insert() override {
        GLsync sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        // Some drivers only queue the work at the next flush; without one the fence might never pass.
        glFlush();
        return sync;
    }
    bool signaled(GLsync sync) override {
        // A failed query gives the memory back rather than holding it forever.
        return glClientWaitSync(sync, 0, 0) != GL_TIMEOUT_EXPIRED;
    }
    void remove(GLsync sync) override { glDeleteSync(sync); }
};
}  // namespace

FrameFences::FrameFences() : probe_(std::make_unique<GlProbe>()) {}

FrameFences::~FrameFences() { dropAll(); }

void FrameFences::dropAll() {
    for (; count_ > 0; --count_, oldest_ = (oldest_ + 1) % capacity) probe_->remove(ring_[oldest_].sync);
    passedThrough_ = next_ - 1;
}

void FrameFences::setProbe(std::unique_ptr<Probe> probe) {
    dropAll();
    probe_ = probe ? std::move(probe) : std::make_unique<GlProbe>();
}

void FrameFences::fence() {
    if (count_ == capacity) return;
    GLsync sync = probe_->insert();
    if (!sync) return;
    ring_[(oldest_ + count_) % capacity] = {sync, next_};
    ++count_;
    ++next_;
}

bool FrameFences::passed(uint64_t serial) {
    while (serial > passedThrough_ && count_ > 0) {
        Entry& e = ring_[oldest_];
        if (!probe_->signaled(e.sync)) break;
        probe_->remove(e.sync);
        passedThrough_ = e.serial;
        e = {};
        oldest_ = (oldest_ + 1) % capacity;
        --count_;
    }
    return serial <= passedThrough_;
}

}  // namespace ombry
