#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ombry::media {

// Picture memory handed on from torn-down players to new ones: a take writes its frames into pages that
// are already mapped instead of faulting in fresh ones, and the allocator sees no stream of large blocks
// made and freed on short-lived decoder threads. Holds at most `kMaxBytes`; any thread.
class FrameStore {
public:
    static constexpr size_t kMaxBytes = size_t(48) << 20;

    static FrameStore& shared();

    // The smallest buffer held of at least `bytes`, or an empty one.
    std::vector<uint8_t> take(size_t bytes);
    // Keeps the buffer while the store holds less than the limit; otherwise it is freed.
    void give(std::vector<uint8_t> buffer);
    size_t heldBytes() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> buffers_;
    size_t held_ = 0;
};

}  // namespace ombry::media
