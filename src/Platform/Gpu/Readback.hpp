#pragma once
#include <cstdint>
#include <vector>

#include "Platform/Gpu/GlObjects.hpp"

namespace ombry {

// One finished copy of a target's pixels: B, G, R, A bytes (premultiplied, as composed), rows of `stride`
// bytes, top row first. The memory is valid only during the callback that receives it.
struct ReadbackFrame {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    uint64_t tag = 0;  // what the requester passed along (a frame number)
};

// Asynchronous copies of a render target into CPU memory through a ring of pixel buffer objects with a
// fence each. request() only queues the copy; poll() hands over the copies the GPU has finished and never
// waits; when every buffer of the ring is still busy the request is dropped instead of stalling the frame.
class GpuReadback {
public:
    explicit GpuReadback(int depth = 3);
    ~GpuReadback();
    GpuReadback(const GpuReadback&) = delete;
    GpuReadback& operator=(const GpuReadback&) = delete;

    // Queues a copy of the whole target. False when the ring is full (counted in dropped()) or the target
    // is empty.
    bool request(const GpuRenderTarget& source, uint64_t tag = 0);

    // Hands every finished copy, oldest first, to `consume(const ReadbackFrame&)`; returns how many.
    // With `wait` it blocks until all queued copies are done (for shutdown and tests only).
    template <class F>
    int poll(F&& consume, bool wait = false) {
        int handed = 0;
        while (auto* slot = nextFinished(wait)) {
            ReadbackFrame frame;
            if (map(*slot, frame)) {
                consume(static_cast<const ReadbackFrame&>(frame));
                ++handed;
            }
            release(*slot);
        }
        return handed;
    }

    int pending() const;
    uint64_t dropped() const { return dropped_; }

private:
    struct Slot {
        GlBuffer buffer;
        size_t capacity = 0;
        GLsync fence = nullptr;
        int width = 0;
        int height = 0;
        uint64_t tag = 0;
        uint64_t order = 0;
    };
    Slot* nextFinished(bool wait);
    bool map(Slot& slot, ReadbackFrame& frame);
    void release(Slot& slot);

    std::vector<Slot> slots_;
    uint64_t requests_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace ombry
