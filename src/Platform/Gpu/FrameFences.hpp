#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "Platform/Gpu/GlObjects.hpp"

namespace ombry {

// A fence after each frame's GPU work, numbered, and polled without ever waiting: tells whether what a
// frame drew has been executed, so the memory it read can be written again without the driver stalling
// the writer. Fences complete in order, so one that has passed covers every earlier frame.
class FrameFences {
public:
    // The GL calls, replaceable so tests can decide when the GPU is done.
    class Probe {
    public:
        virtual ~Probe() = default;
        virtual GLsync insert() = 0;
        virtual bool signaled(GLsync sync) = 0;  // must not wait
        virtual void remove(GLsync sync) = 0;
    };

    // At most this many fences are outstanding; while they all are, the next fence covers the frames
    // that found no room.
    static constexpr size_t capacity = 8;

    FrameFences();
    ~FrameFences();
    FrameFences(const FrameFences&) = delete;
    FrameFences& operator=(const FrameFences&) = delete;

    // Drops the outstanding fences through the old probe (the GL context current) and takes `probe`;
    // null restores the GL calls. Every earlier frame counts as passed.
    void setProbe(std::unique_ptr<Probe> probe);

    // The number of the fence that will follow the work issued from now on; 0 is never a fence's.
    uint64_t upcoming() const { return next_; }
    // Ends a frame: fences (and flushes) the work issued so far.
    void fence();
    // Whether the work issued before fence `serial` has been executed. Never waits.
    bool passed(uint64_t serial);

private:
    struct Entry {
        GLsync sync = nullptr;
        uint64_t serial = 0;
    };
    void dropAll();

    std::unique_ptr<Probe> probe_;
    std::array<Entry, capacity> ring_{};
    size_t oldest_ = 0;
    size_t count_ = 0;
    uint64_t next_ = 1;
    uint64_t passedThrough_ = 0;
};

}  // namespace ombry
