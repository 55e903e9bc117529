#include "Render/NativeStageView.hpp"

#include <cmath>
#include <utility>

#include "Render/StageCompositor.hpp"

namespace ombry {

StageDrawable stageDrawableSize(double widthPoints, double heightPoints, std::optional<double> windowScale,
                                const StageDrawable& previous) {
    StageDrawable d = previous;
    d.contentsScale = windowScale && *windowScale > 0 ? *windowScale : 2.0;
    const double w = widthPoints * d.contentsScale, h = heightPoints * d.contentsScale;
    if (!(w > 0) || !(h > 0)) return d;
    d.width = int(std::lround(w));
    d.height = int(std::lround(h));
    return d;
}

namespace {
void dropSync(GLsync& sync) {
    if (sync) glDeleteSync(sync);
    sync = nullptr;
}
}  // namespace

StagePresentRing::~StagePresentRing() {
    for (auto& s : slots_) {
        dropSync(s.ready);
        dropSync(s.read);
    }
}

bool StagePresentRing::publish(StageCompositor& compositor, const StageDrawable& drawable, double cornerRadius) {
    if (drawable.width < 1 || drawable.height < 1) return false;
    Slot* slot = nullptr;
    GLsync read = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& s : slots_)
            if (s.state == State::free) {
                slot = &s;
                break;
            }
        // At most one slot is shown and one pending, so one of three is always free.
        if (!slot) return false;
        slot->state = State::writing;
        read = std::exchange(slot->read, nullptr);
    }
    if (read) {
        // The consumer may still be reading this target on the GPU: the GPU waits, not this thread.
        glWaitSync(read, 0, GL_TIMEOUT_IGNORED);
        glDeleteSync(read);
    }
    if (slot->target.width() != drawable.width || slot->target.height() != drawable.height)
        slot->target = GpuRenderTarget::create(drawable.width, drawable.height);
    if (!slot->target) {
        std::lock_guard lock(mutex_);
        slot->state = State::free;
        return false;
    }
    compositor.present({slot->target.framebuffer(), drawable.width, drawable.height, drawable.contentsScale},
                       cornerRadius);
    GLsync ready = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // Another context only sees the fence once the commands before it reached the GPU.
    glFlush();
    std::lock_guard lock(mutex_);
    for (auto& s : slots_)
        if (s.state == State::pending) {
            dropSync(s.ready);
            s.state = State::free;
        }
    slot->ready = ready;
    slot->state = State::pending;
    slot->serial = ++published_;
    return true;
}

StagePresentRing::Frame StagePresentRing::acquire() {
    GLsync ready = nullptr;
    Slot* shown = nullptr;
    {
        std::lock_guard lock(mutex_);
        Slot* pending = nullptr;
        for (auto& s : slots_) {
            if (s.state == State::pending) pending = &s;
            if (s.state == State::shown) shown = &s;
        }
        if (pending) {
            if (shown) shown->state = State::free;
            pending->state = State::shown;
            ready = std::exchange(pending->ready, nullptr);
            shown = pending;
        }
    }
    if (!shown) return {};
    if (ready) {
        glWaitSync(ready, 0, GL_TIMEOUT_IGNORED);
        glDeleteSync(ready);
    }
    // The shown target is never written by the frame loop, so reading its fields needs no lock.
    return {shown->target.texture(), shown->target.width(), shown->target.height(), shown->serial};
}

void StagePresentRing::released() {
    GLsync read = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    glFlush();
    GLsync old = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& s : slots_)
            if (s.state == State::shown) {
                old = std::exchange(s.read, read);
                read = nullptr;
            }
    }
    if (old) glDeleteSync(old);
    if (read) glDeleteSync(read);
}

void StagePresentRing::copy(const Frame& frame, GLuint readFramebuffer, int width, int height) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, readFramebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, frame.texture, 0);
    // A frame made before a resize is scaled to the new size until the next one comes.
    glBlitFramebuffer(0, 0, frame.width, frame.height, 0, 0, width, height, GL_COLOR_BUFFER_BIT,
                      frame.width == width && frame.height == height ? GL_NEAREST : GL_LINEAR);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    released();
}

uint64_t StagePresentRing::published() const {
    std::lock_guard lock(mutex_);
    return published_;
}

}  // namespace ombry
