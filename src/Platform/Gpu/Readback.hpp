#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
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

class GpuContext;

// Reads frames of a render target on a thread of its own, so that the GL thread pays only for a GPU copy:
// copy() queues a draw of the target, bottom row first, into a free texture of a small ring and fences it;
// the worker, on a context sharing the target's objects, waits for the fence and hands the copy to
// `read`, which reads the pixels wherever it wants them. When every texture of the ring is still waiting
// or being read, the copy is dropped instead of stalling the frame.
class GpuThreadedReadback {
public:
    // A finished copy, on the worker, valid during the call.
    class Pixels {
    public:
        int width() const { return width_; }
        int height() const { return height_; }
        uint64_t tag() const { return tag_; }
        // B, G, R, A rows of `stride` bytes (a multiple of 4, at least width x 4), the target's last row
        // first (premultiplied, as composed).
        void readInto(uint8_t* destination, int stride) const;

    private:
        friend class GpuThreadedReadback;
        int width_ = 0, height_ = 0;
        uint64_t tag_ = 0;
    };

    // Null without a shared context or when the worker cannot make it current. `shared` is freed here,
    // on the GL thread.
    static std::unique_ptr<GpuThreadedReadback> create(std::unique_ptr<GpuContext> shared,
                                                       std::function<void(const Pixels&)> read, int depth = 3);
    // GL thread, the target's context current: lets the worker finish its read, then frees the ring.
    ~GpuThreadedReadback();
    GpuThreadedReadback(const GpuThreadedReadback&) = delete;
    GpuThreadedReadback& operator=(const GpuThreadedReadback&) = delete;

    // GL thread: queues the copy of the whole target; false when it was dropped (ring busy) or is empty.
    bool copy(const GpuRenderTarget& source, uint64_t tag = 0);
    // Blocks until every queued copy has been read (switching off, tests).
    void finish();
    uint64_t framesRead() const;
    uint64_t dropped() const { return dropped_; }

private:
    struct Slot {
        GpuRenderTarget target;  // GL thread
        GLsync fence = nullptr;
        uint64_t tag = 0;
        bool busy = false;  // under mutex_: queued or being read
    };
    GpuThreadedReadback(std::unique_ptr<GpuContext> shared, std::function<void(const Pixels&)> read, int depth);
    void readLoop();

    std::unique_ptr<GpuContext> shared_;
    std::function<void(const Pixels&)> read_;
    std::vector<Slot> slots_;
    uint64_t dropped_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<size_t> queued_;
    int started_ = 0;  // 1 when the worker's context is current, -1 when it could not be
    bool quit_ = false;
    uint64_t framesRead_ = 0;
    std::thread worker_;
};

}  // namespace ombry
