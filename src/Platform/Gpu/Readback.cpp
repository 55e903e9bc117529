#include "Platform/Gpu/Readback.hpp"

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

}  // namespace ombry
