#pragma once
// What every stage view shares, whatever toolkit shows it: the size of its drawable, and the hand-over of
// composed frames to the context that shows them.
#include <array>
#include <mutex>
#include <optional>

#include "Platform/Gpu/GlObjects.hpp"

namespace ombry {

class StageCompositor;

// A view's drawable in pixels and the pixels per point it was sized with.
struct StageDrawable {
    int width = 0;
    int height = 0;
    double contentsScale = 2;
    bool operator==(const StageDrawable&) const = default;
};

// The drawable of a view `widthPoints` by `heightPoints` on a window of the given scale (none when the view
// is not in a window: 2, so it is sharp on a dense screen once shown). A view without area keeps the
// previous drawable size.
StageDrawable stageDrawableSize(double widthPoints, double heightPoints, std::optional<double> windowScale,
                                const StageDrawable& previous);

// Hands composed frames from the frame loop to a context on another thread (a display window's presenter)
// or another widget's context, both sharing objects with the compositor's. Three targets serve as a
// mailbox: the frame loop draws the presented stage into one that is neither shown nor waiting, and
// publishes it with a fence; the consumer takes the newest and waits for it on the GPU only. Neither side
// ever blocks the other; frames the consumer had no time for are replaced.
class StagePresentRing {
public:
    struct Frame {
        GLuint texture = 0;  // bottom row first, as GL framebuffers are
        int width = 0;
        int height = 0;
        uint64_t serial = 0;  // counts published frames; 0: none yet
    };

    StagePresentRing() = default;
    // With the compositor's context current, after the consumer stopped.
    ~StagePresentRing();
    StagePresentRing(const StagePresentRing&) = delete;
    StagePresentRing& operator=(const StagePresentRing&) = delete;

    // Frame loop, compositor context current: presents the stage into a free target of `drawable` size
    // (letterboxed, corners rounded by `cornerRadius` points) and publishes it. False when the size is
    // empty or the target cannot be made.
    bool publish(StageCompositor& compositor, const StageDrawable& drawable, double cornerRadius);

    // Consumer, its own context current: the newest published frame, waited for on the GPU; the frame
    // shown before when nothing new came. Call released() once the frame's reads are issued.
    Frame acquire();
    void released();
    // Consumer: copies `frame` into the bound draw framebuffer at `width` by `height` through
    // `readFramebuffer` (one of the consumer's context), then calls released().
    void copy(const Frame& frame, GLuint readFramebuffer, int width, int height);

    uint64_t published() const;

private:
    enum class State { free, writing, pending, shown };
    struct Slot {
        GpuRenderTarget target;
        State state = State::free;
        GLsync ready = nullptr;  // the frame loop's drawing, for the consumer to wait on
        GLsync read = nullptr;   // the consumer's last reads, for the frame loop to wait on
        uint64_t serial = 0;
    };
    mutable std::mutex mutex_;
    std::array<Slot, 3> slots_;
    uint64_t published_ = 0;
};

}  // namespace ombry
