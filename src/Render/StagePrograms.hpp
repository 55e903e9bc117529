#pragma once
// The compositor's GL programs, and their building on a worker thread while the main thread does the rest
// of the start-up. GL programs belong to the share group, not to one context: a context of the group on
// another thread may build them, and once its commands have finished, the compositor's context uses them.
#include <array>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/GpuContext.hpp"
#include "Platform/Gpu/FrameTextures.hpp"
#include "Platform/Gpu/VideoFrame.hpp"
#include "Render/RenderError.hpp"

namespace ombry {

class WorkerPool;

// A linked stage program and where its uniforms are (-1: not in that program).
struct StageProgram {
    GlProgram program;
    GLint corners = -1, opacity = -1, color = -1, drawableSize = -1, radius = -1, layout = -1;
};

// Every program the compositor draws with.
struct StagePrograms {
    // One textured program per sampling, per colour matrix and range for the YUV samplings, and per kind of
    // plane storage (textures for stills, one buffer for video).
    static size_t texturedIndex(GpuSampling s, VideoColorMatrix m, VideoColorRange r, bool buffered);
    // Compiles and links them all with a context of the compositor's share group current on this thread.
    static RenderResult<StagePrograms> build();

    std::array<StageProgram, 2 * 5 * 6> textured;
    StageProgram solid;
    StageProgram present;
};

// Where and how long the programs were built, and how long the main thread waited for them.
struct StageProgramStats {
    std::thread::id builtOn;
    double buildSeconds = 0;
    double waitedSeconds = 0;
};

// The programs built once, on a worker thread with a context of its own in the compositor's share group.
// The main thread takes them before the first frame; whoever takes them first owns them.
class StageProgramBuild {
public:
    using Builder = std::function<RenderResult<StagePrograms>()>;

    // Starts the build at once. `shared` comes from createShared() of the compositor's context (made on the
    // main thread); null gives null, and the compositor builds its programs itself.
    static std::unique_ptr<StageProgramBuild> start(std::unique_ptr<GpuContext> shared,
                                                    Builder builder = &StagePrograms::build);
    // Main thread (what was built and not taken is deleted here, in the worker's context). Waits for a
    // build under way, and frees the worker's context.
    ~StageProgramBuild();
    StageProgramBuild(const StageProgramBuild&) = delete;
    StageProgramBuild& operator=(const StageProgramBuild&) = delete;

    // Main thread, the compositor's context current: waits until the worker's commands have finished and
    // hands the programs over. Where the worker could not make its context current it built nothing, and
    // they are built here instead. Once only.
    RenderResult<StagePrograms> take();
    bool taken() const { return taken_; }

    // After take(): the thread that built them, how long that took, and how long take() waited.
    const StageProgramStats& stats() const { return stats_; }

private:
    struct Built {
        bool current = false;  // the worker's context was current: `result` is what it built
        std::optional<RenderResult<StagePrograms>> result;
        std::thread::id thread;
        double seconds = 0;
    };
    StageProgramBuild(std::unique_ptr<GpuContext> shared, Builder builder);
    void run();
    void join();

    std::unique_ptr<GpuContext> shared_;
    Builder builder_;
    std::promise<Built> promise_;
    std::future<Built> future_;
    std::optional<Built> built_;
    bool taken_ = false;
    StageProgramStats stats_;
    // Last: it ends (and waits for the build) before anything the build uses goes.
    std::unique_ptr<WorkerPool> worker_;
};

}  // namespace ombry
