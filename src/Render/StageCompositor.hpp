#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Gpu/FrameFences.hpp"
#include "Platform/Gpu/FrameTextures.hpp"
#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/GpuContext.hpp"
#include "Platform/Gpu/Orientation.hpp"
#include "Platform/Gpu/StillImage.hpp"
#include "Platform/Gpu/VideoFrame.hpp"
#include "Render/RenderError.hpp"
#include "Render/StagePrograms.hpp"

namespace ombry {

struct StageSize {
    double width = 0;
    double height = 0;
    bool operator==(const StageSize&) const = default;
};

// Stage pixels, origin at the stage's top-left, y downwards.
struct StageRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const StageRect&) const = default;
};

struct StagePoint {
    float x = 0;
    float y = 0;
    bool operator==(const StagePoint&) const = default;
};

// A picture on the GPU, shared by the slot showing it and the draws of a frame.
class StageTexture {
public:
    StageTexture(GpuFrameTextures gpu, StageOrientation orientation, std::shared_ptr<const void> retained = {})
        : orientation(orientation), retained(std::move(retained)), gpu_(std::move(gpu)) {}

    StageOrientation orientation;
    std::shared_ptr<const void> retained;  // anything the picture needs kept alive

    const GpuFrameTextures& gpu() const { return gpu_; }
    int width() const { return gpu_.width(); }
    int height() const { return gpu_.height(); }
    // Width and height as shown: swapped for quarter turns.
    StageSize presentedSize() const;

private:
    friend class StageCompositor;
    GpuFrameTextures gpu_;
    uint64_t fencedBy_ = 0;  // the frame fence after the last draw that read it; 0: never drawn
};

// Four corners in stage pixels: top-left, top-right, bottom-left, bottom-right.
struct StageQuad {
    std::array<StagePoint, 4> corners{};

    struct Transform {
        float translationX = 0;  // stage pixels, added to x before scaling
        float scale = 1;         // about the stage centre
    };

    // Each corner p of the rectangle becomes c + ((p.x + translationX, p.y) - c) * scale, c the stage centre.
    static StageQuad rect(const StageRect& r, Transform transform, StageSize stage);

    bool operator==(const StageQuad&) const = default;
};

// Where a picture of `picture` size sits on the stage: scaled to fit inside it (`fill` false) or to cover
// it (`fill` true), centred. A picture with a zero side covers the whole stage.
StageRect placedRect(StageSize picture, StageSize stage, bool fill);

// One draw of a frame: a textured quad or a solid one.
struct StageDraw {
    enum class Kind { textured, solid };
    Kind kind = Kind::solid;
    std::shared_ptr<StageTexture> texture;  // textured
    std::array<float, 3> color{};           // solid: straight RGB 0..1; the opacity is its alpha
    StageQuad quad;
    float opacity = 1;

    static StageDraw textured(std::shared_ptr<StageTexture> texture, const StageQuad& quad, float opacity) {
        return {Kind::textured, std::move(texture), {}, quad, opacity};
    }
    static StageDraw solid(std::array<float, 3> color, const StageQuad& quad, float opacity) {
        return {Kind::solid, nullptr, color, quad, opacity};
    }
};

struct QuadVertex {
    float position[2];  // normalised device coordinates, y up
    float texCoord[2];  // origin at the texture's top-left
};
using QuadVertices = std::array<QuadVertex, 4>;  // top-left, top-right, bottom-left, bottom-right

// Where present() draws: a window's framebuffer (0 for the default one) or any other framebuffer, with its
// size in pixels and the screen's pixels per point.
struct PresentSurface {
    GLuint framebuffer = 0;
    int width = 0;
    int height = 0;
    double contentsScale = 1;
};

// A program of the quad vertex shader with another fragment shader, for passes of other parts.
class StagePipeline {
public:
    GLuint program() const { return program_.get(); }
    bool blending() const { return blending_; }

private:
    friend class StageCompositor;
    GlProgram program_;
    GLint corners_ = -1;
    bool blending_ = true;
};

// The GPU half of the program renderer: turns stills and video frames into textures, draws each frame's
// quads into the stage target over the background, and presents the stage into windows. Premultiplied
// colour everywhere. Main thread only, with the context current.
class StageCompositor {
public:
    // The stage texture never exceeds this per side, and neither does a rasterised image.
    static constexpr int maxRasterSide = 8192;

    // Builds the programs here with `context` current, or takes them from `programs`, a build under way on
    // another thread, when the first frame or present needs them (or awaitPrograms() asks).
    static RenderResult<std::unique_ptr<StageCompositor>> create(GpuContext& context,
                                                                 std::unique_ptr<StageProgramBuild> programs = {});
    // Waits for programs built elsewhere; the error that stopped them (then nothing is drawn), or nothing.
    std::optional<RenderError> awaitPrograms();
    // Where and how long the programs were built (once they are in).
    const StageProgramStats& programStats() const { return programStats_; }
    ~StageCompositor();
    StageCompositor(const StageCompositor&) = delete;
    StageCompositor& operator=(const StageCompositor&) = delete;

    // The quad vertex shader with the fragment shader file "<fragment>.glsl"; blending ONE,
    // ONE_MINUS_SRC_ALPHA when on.
    RenderResult<StagePipeline> makePipeline(const std::string& fragment, bool blending) const;
    // Binds `pipeline` and draws the four vertices into the framebuffer bound by the caller.
    void drawQuad(const StagePipeline& pipeline, const QuadVertices& vertices);

    // A texture for the frame, in the frame's orientation; nothing when the frame is invalid or the GPU
    // refused. Planes are reused from earlier frames of the same format and size once nobody holds them
    // and the GPU has executed every frame that drew them, so steady playback allocates nothing and the
    // upload never waits for the GPU. While all of them are still being read, a few more are made; past
    // that the frame is skipped (nothing returned, counted in uploadsSkipped()) rather than waited for.
    std::shared_ptr<StageTexture> makeVideoTexture(const VideoFrame& frame);
    // A texture of the still in the still's orientation, premultiplied first.
    RenderResult<std::shared_ptr<StageTexture>> makeImageTexture(StillImage image);
    // Straight alpha becomes premultiplied; anything else comes back unchanged.
    static StillImage premultiplied(StillImage image);
    // Draws a vector image at its size, scaled up to `minHeight` when shorter. Fails with imageUnreadable
    // when either side would exceed maxRasterSide, instead of allocating whatever the image declares.
    static RenderResult<StillImage> rasterize(const ScalableImage& image, double minHeight);

    // Replaces the target when both sides are at least 1 and differ from the current size. False when the
    // new target cannot be made (the old one stays).
    bool setStageSize(StageSize size);
    StageSize stageSize() const { return stageSize_; }
    // The composed stage: RGBA 8-bit premultiplied, the stage's top row in texture row 0.
    const GpuRenderTarget& target() const { return target_; }

    // Clears the target to the premultiplied background (straight RGBA 0..1) and draws `draws` in order,
    // skipping those with opacity 0 or less. False when there is no target, and when the GPU has not yet
    // executed the frame before the last one (this frame is dropped, counted in framesDropped(), rather
    // than waited for or queued behind them).
    bool render(const std::vector<StageDraw>& draws, const std::array<float, 4>& background);
    // Fits the stage into the surface (black bars; transparent bars and rounded corners when the radius,
    // in points, is above 0).
    void present(const PresentSurface& surface, double cornerRadius);

    // Once per frame: forgets video planes nobody has used for a while.
    void flushTextureCache();
    size_t cachedVideoTextures() const { return videoCache_.size(); }
    // Seconds this thread has spent turning frames and stills into textures, for the benchmarks.
    double uploadSeconds() const { return uploadSeconds_; }
    uint64_t uploadsSkipped() const { return uploadsSkipped_; }
    uint64_t framesDropped() const { return framesDropped_; }
    // The fence that follows each rendered frame; tests replace its probe.
    FrameFences& frameFences() { return fences_; }

    GpuContext& context() { return context_; }

private:
    using Program = StageProgram;
    struct CachedVideo {
        std::shared_ptr<StageTexture> texture;
        uint64_t lastUsed = 0;
    };

    explicit StageCompositor(GpuContext& context);
    void install(StagePrograms programs);
    // True once the programs are in (taking them from a pending build first).
    bool programsReady();
    const Program& texturedProgram(const GpuFrameTextures& gpu) const;
    void use(const Program& p);
    void setCorners(const Program& p, const QuadVertices& v);
    QuadVertices stageVertices(const StageQuad& quad, StageOrientation orientation) const;
    void drawTextured(const StageTexture& texture, const QuadVertices& v, float opacity);

    GpuContext& context_;
    std::array<Program, 2 * 5 * 6> textured_;
    Program solid_;
    Program present_;
    std::unique_ptr<StageProgramBuild> pendingPrograms_;  // kept once taken: it holds the worker's context
    std::optional<RenderError> programsError_;
    StageProgramStats programStats_;
    GlVertexArray vertexArray_;
    GpuRenderTarget target_;
    StageSize stageSize_{1920, 1080};
    std::vector<CachedVideo> videoCache_;
    uint64_t flushes_ = 0;
    GLuint current_ = 0;
    double uploadSeconds_ = 0;
    uint64_t uploadsSkipped_ = 0;
    uint64_t framesDropped_ = 0;
    FrameFences fences_;
};

}  // namespace ombry
