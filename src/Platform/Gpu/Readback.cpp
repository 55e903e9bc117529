#include "Platform/Gpu/Readback.hpp"

#include "Platform/Gpu/GpuContext.hpp"
#include "Platform/Ipc/ThreadName.hpp"

namespace ombry {

GpuReadback::GpuReadback(int depth) : slots_(static_cast<size_t>(depth < 1 ? 1 : depth)) {}

GpuReadback::~GpuReadback() {
    for (auto& s : slots_) {
        if (s.fence) glDeleteSync(s.fence);
        s.fence = nullptr;
    }
}

int GpuReadback::pending() const {
    int n = 0;
    for (const auto& s : slots_) n += s.fence ? 1 : 0;
    return n;
}

bool GpuReadback::request(const GpuRenderTarget& source, uint64_t tag) {
    if (!source) return false;
    Slot* free = nullptr;
    for (auto& s : slots_)
        if (!s.fence) {
            free = &s;
            break;
        }
    if (!free) {
        ++dropped_;
        return false;
    }
    const size_t bytes = size_t(source.width()) * size_t(source.height()) * 4;
    if (!free->buffer) free->buffer = makeBuffer();
    glBindBuffer(GL_PIXEL_PACK_BUFFER, free->buffer.get());
    if (free->capacity != bytes) {
        glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(bytes), nullptr, GL_STREAM_READ);
        free->capacity = bytes;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source.framebuffer());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, source.width(), source.height(), GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    free->fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    if (!free->fence) return false;
    // Start the copy now rather than at the next implicit flush.
    glFlush();
    free->width = source.width();
    free->height = source.height();
    free->tag = tag;
    free->order = ++requests_;
    return true;
}

GpuReadback::Slot* GpuReadback::nextFinished(bool wait) {
    Slot* oldest = nullptr;
    for (auto& s : slots_)
        if (s.fence && (!oldest || s.order < oldest->order)) oldest = &s;
    if (!oldest) return nullptr;
    const GLenum status = glClientWaitSync(oldest->fence, wait ? GL_SYNC_FLUSH_COMMANDS_BIT : 0,
                                           wait ? GLuint64(5'000'000'000) : 0);
    if (status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED) return oldest;
    if (status == GL_WAIT_FAILED) return oldest;  // give the slot back rather than hold it forever
    return nullptr;
}

bool GpuReadback::map(Slot& slot, ReadbackFrame& frame) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer.get());
    const auto* p = static_cast<const uint8_t*>(
        glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(slot.capacity), GL_MAP_READ_BIT));
    if (!p) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        return false;
    }
    frame.pixels = p;
    frame.width = slot.width;
    frame.height = slot.height;
    frame.stride = slot.width * 4;
    frame.tag = slot.tag;
    return true;
}

void GpuReadback::release(Slot& slot) {
    GLint mapped = GL_FALSE;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer.get());
    glGetBufferParameteriv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_MAPPED, &mapped);
    if (mapped) glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glDeleteSync(slot.fence);
    slot.fence = nullptr;
}

// ---- on a thread of its own

std::unique_ptr<GpuThreadedReadback> GpuThreadedReadback::create(std::unique_ptr<GpuContext> shared,
                                                                 std::function<void(const Pixels&)> read, int depth) {
    if (!shared || !read) return nullptr;
    std::unique_ptr<GpuThreadedReadback> r(new GpuThreadedReadback(std::move(shared), std::move(read), depth));
    std::unique_lock lock(r->mutex_);
    r->changed_.wait(lock, [&] { return r->started_ != 0; });
    if (r->started_ < 0) return nullptr;
    return r;
}

GpuThreadedReadback::GpuThreadedReadback(std::unique_ptr<GpuContext> shared, std::function<void(const Pixels&)> read,
                                         int depth)
    : shared_(std::move(shared)), read_(std::move(read)), slots_(size_t(depth < 1 ? 1 : depth)) {
    worker_ = std::thread([this] { readLoop(); });
}

GpuThreadedReadback::~GpuThreadedReadback() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    worker_.join();
    for (auto& s : slots_)
        if (s.fence) glDeleteSync(s.fence);
    // A Qt context's offscreen surface must go on the GUI thread.
    shared_.reset();
}

bool GpuThreadedReadback::copy(const GpuRenderTarget& source, uint64_t tag) {
    if (!source) return false;
    Slot* free = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& s : slots_)
            if (!s.busy) {
                free = &s;
                break;
            }
    }
    if (!free) {
        ++dropped_;
        return false;
    }
    // The worker took the fence of a free slot; its texture is the GL thread's again.
    const int w = source.width(), h = source.height();
    if (!free->target || free->target.width() != w || free->target.height() != h) {
        free->target = GpuRenderTarget::create(w, h);
        if (!free->target) return false;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source.framebuffer());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, free->target.framebuffer());
    glDisable(GL_SCISSOR_TEST);
    // Flipped, it is a draw on the GPU's queue rather than a copy made now (as a software driver would).
    glBlitFramebuffer(0, 0, w, h, 0, h, w, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    free->fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    if (!free->fence) return false;
    // The worker's wait cannot flush this context's commands.
    glFlush();
    free->tag = tag;
    {
        std::lock_guard lock(mutex_);
        free->busy = true;
        queued_.push_back(size_t(free - slots_.data()));
    }
    changed_.notify_all();
    return true;
}

void GpuThreadedReadback::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        for (const auto& s : slots_)
            if (s.busy) return false;
        return true;
    });
}

uint64_t GpuThreadedReadback::framesRead() const {
    std::lock_guard lock(mutex_);
    return framesRead_;
}

void GpuThreadedReadback::Pixels::readInto(uint8_t* destination, int stride) const {
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, stride / 4);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, destination);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

void GpuThreadedReadback::readLoop() {
    setCurrentThreadName("gpu-readback");
    const bool current = shared_->makeCurrent();
    {
        std::lock_guard lock(mutex_);
        started_ = current ? 1 : -1;
    }
    changed_.notify_all();
    if (!current) return;
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return quit_ || !queued_.empty(); });
        if (quit_) break;
        Slot& slot = slots_[queued_.front()];
        queued_.pop_front();
        lock.unlock();
        // The slot is busy: the GL thread leaves its fence and texture alone until it is released.
        glClientWaitSync(slot.fence, 0, GLuint64(5'000'000'000));
        glDeleteSync(slot.fence);
        slot.fence = nullptr;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, slot.target.texture(), 0);
        if (glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
            Pixels pixels;
            pixels.width_ = slot.target.width();
            pixels.height_ = slot.target.height();
            pixels.tag_ = slot.tag;
            read_(pixels);
        }
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        lock.lock();
        slot.busy = false;
        ++framesRead_;
        changed_.notify_all();
    }
    lock.unlock();
    glDeleteFramebuffers(1, &framebuffer);
    shared_->doneCurrent();
}

}  // namespace ombry
