#include "Platform/Media/FrameStore.hpp"

namespace ombry::media {

FrameStore& FrameStore::shared() {
    // Never destroyed: a reaper thread may hand memory back while the process's statics go.
    static auto* store = new FrameStore;
    return *store;
}

std::vector<uint8_t> FrameStore::take(size_t bytes) {
    std::lock_guard lock(mutex_);
    auto best = buffers_.end();
    for (auto it = buffers_.begin(); it != buffers_.end(); ++it)
        if (it->size() >= bytes && (best == buffers_.end() || it->size() < best->size())) best = it;
    if (best == buffers_.end()) return {};
    std::vector<uint8_t> taken = std::move(*best);
    buffers_.erase(best);
    held_ -= taken.size();
    return taken;
}

void FrameStore::give(std::vector<uint8_t> buffer) {
    if (buffer.empty()) return;
    std::lock_guard lock(mutex_);
    if (held_ + buffer.size() > kMaxBytes) return;
    held_ += buffer.size();
    buffers_.push_back(std::move(buffer));
}

size_t FrameStore::heldBytes() const {
    std::lock_guard lock(mutex_);
    return held_;
}

}  // namespace ombry::media
