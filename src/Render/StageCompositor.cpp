#include "Render/StageCompositor.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <fmt/format.h>

namespace ombry {

namespace {
const char* const vertexFile = "stageQuadVertex.glsl";

// Video planes nobody has drawn for this many frames are given back to the driver, and never more than
// this many idle sets are kept (a stream that keeps changing size must not pile them up).
constexpr uint64_t idleFramesBeforeRelease = 120;
constexpr size_t maxIdleVideoTextures = 8;
// Plane sets of one format and size that may wait for the GPU to finish reading them before a frame is
// skipped: enough for four layers with every frame in flight. They do not count as idle.
constexpr size_t maxVideoTexturesInFlight = 12;
// Frames the GPU may still be working on when the next one is composed (this one included); past that the
// frame is dropped, so a GPU that cannot keep up shows each frame a frame late at most, not ever later.
constexpr uint64_t maxFramesInFlight = 2;

// The vertex shader takes the corners as uniforms: no vertex buffer per draw.
void uploadCorners(GLint location, const QuadVertices& v) {
    std::array<float, 16> corners{};
    for (size_t i = 0; i < 4; ++i) {
        corners[i * 4 + 0] = v[i].position[0];
        corners[i * 4 + 1] = v[i].position[1];
        corners[i * 4 + 2] = v[i].texCoord[0];
        corners[i * 4 + 3] = v[i].texCoord[1];
    }
    glUniform4fv(location, 4, corners.data());
}

// Adds the time of its scope to a total.
class UploadTimer {
public:
    explicit UploadTimer(double& total) : total_(total), start_(std::chrono::steady_clock::now()) {}
    ~UploadTimer() { total_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
    UploadTimer(const UploadTimer&) = delete;
    UploadTimer& operator=(const UploadTimer&) = delete;

private:
    double& total_;
    std::chrono::steady_clock::time_point start_;
};

RenderError failed(std::string message) { return {IssueCode::rendererFailed, std::move(message)}; }
RenderError unreadable(std::string message) { return {IssueCode::imageUnreadable, std::move(message)}; }
}  // namespace

StageSize StageTexture::presentedSize() const {
    if (swapsSides(orientation)) return {double(height()), double(width())};
    return {double(width()), double(height())};
}

StageQuad StageQuad::rect(const StageRect& r, Transform t, StageSize stage) {
    const float cx = float(stage.width / 2), cy = float(stage.height / 2);
    auto map = [&](double x, double y) {
        return StagePoint{cx + (float(x) + t.translationX - cx) * t.scale, cy + (float(y) - cy) * t.scale};
    };
    const double minX = r.x, minY = r.y, maxX = r.x + r.width, maxY = r.y + r.height;
    return StageQuad{{map(minX, minY), map(maxX, minY), map(minX, maxY), map(maxX, maxY)}};
}

StageRect placedRect(StageSize picture, StageSize stage, bool fill) {
    if (!(picture.width > 0) || !(picture.height > 0)) return {0, 0, stage.width, stage.height};
    const double kx = stage.width / picture.width, ky = stage.height / picture.height;
    const double k = fill ? std::max(kx, ky) : std::min(kx, ky);
    const double w = picture.width * k, h = picture.height * k;
    return {(stage.width - w) / 2, (stage.height - h) / 2, w, h};
}

StageCompositor::StageCompositor(GpuContext& context) : context_(context) {}

StageCompositor::~StageCompositor() {
    // The build ends first (a build under way is waited for, and what it made and nobody took goes with its
    // own context), then this context is current for the rest.
    pendingPrograms_.reset();
    context_.makeCurrent();
}

void StageCompositor::install(StagePrograms programs) {
    textured_ = std::move(programs.textured);
    solid_ = std::move(programs.solid);
    present_ = std::move(programs.present);
}

bool StageCompositor::programsReady() {
    if (!pendingPrograms_ || pendingPrograms_->taken()) return !programsError_;
    if (!context_.makeCurrent()) return false;
    auto built = pendingPrograms_->take();
    programStats_ = pendingPrograms_->stats();
    if (built)
        install(std::move(built.value()));
    else
        programsError_ = built.error();
    return !programsError_;
}

std::optional<RenderError> StageCompositor::awaitPrograms() {
    programsReady();
    return programsError_;
}

RenderResult<std::unique_ptr<StageCompositor>> StageCompositor::create(GpuContext& context,
                                                                      std::unique_ptr<StageProgramBuild> programs) {
    if (!context.makeCurrent()) return failed("OpenGL unavailable");
    std::unique_ptr<StageCompositor> c(new StageCompositor(context));
    if (programs) {
        c->pendingPrograms_ = std::move(programs);
    } else {
        const auto t0 = std::chrono::steady_clock::now();
        auto built = StagePrograms::build();
        if (!built) return built.error();
        c->install(std::move(built.value()));
        c->programStats_.builtOn = std::this_thread::get_id();
        c->programStats_.buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }

    // Containers, not shared between contexts: made in the compositor's own.
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    c->vertexArray_.reset(vao);
    c->target_ = GpuRenderTarget::create(1920, 1080);
    if (!c->target_) return failed("the stage texture cannot be created");
    if (takeGlError() != GL_NO_ERROR) return failed("OpenGL failed while building the compositor");
    return c;
}

RenderResult<StagePipeline> StageCompositor::makePipeline(const std::string& fragment, bool blending) const {
    auto built = loadGlProgram(vertexFile, fragment + ".glsl");
    if (!built.program) return failed(built.error);
    StagePipeline p;
    p.program_ = std::move(built.program);
    p.corners_ = glGetUniformLocation(p.program_.get(), "u_corners");
    p.blending_ = blending;
    return p;
}

void StageCompositor::drawQuad(const StagePipeline& pipeline, const QuadVertices& v) {
    glUseProgram(pipeline.program());
    current_ = pipeline.program();
    if (pipeline.blending()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    uploadCorners(pipeline.corners_, v);
    glBindVertexArray(vertexArray_.get());
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
}

const StageCompositor::Program& StageCompositor::texturedProgram(const GpuFrameTextures& gpu) const {
    return textured_[StagePrograms::texturedIndex(gpu.sampling(), gpu.matrix(), gpu.range(), gpu.buffered())];
}

void StageCompositor::use(const Program& p) {
    if (current_ != p.program.get()) {
        glUseProgram(p.program.get());
        current_ = p.program.get();
    }
}

void StageCompositor::setCorners(const Program& p, const QuadVertices& v) { uploadCorners(p.corners, v); }

// The stage target is drawn upside down in GL terms so that its texture row 0 (and the first row of a
// readback) is the stage's top row, like every other picture; presenting turns it upright again.
QuadVertices StageCompositor::stageVertices(const StageQuad& quad, StageOrientation orientation) const {
    const auto tc = texCoords(orientation);
    QuadVertices v{};
    for (size_t i = 0; i < 4; ++i) {
        const float nx = quad.corners[i].x / float(stageSize_.width);
        const float ny = quad.corners[i].y / float(stageSize_.height);
        v[i] = QuadVertex{{2 * nx - 1, 2 * ny - 1}, {tc[i].u, tc[i].v}};
    }
    return v;
}

void StageCompositor::drawTextured(const StageTexture& texture, const QuadVertices& v, float opacity) {
    const GpuFrameTextures& gpu = texture.gpu();
    const Program& p = texturedProgram(gpu);
    use(p);
    setCorners(p, v);
    glUniform1f(p.opacity, opacity);
    if (gpu.buffered()) {
        std::array<GLint, 12> layout{};
        for (size_t i = 0; i < 4; ++i) {
            const GpuPlaneLayout& l = gpu.layout()[i];
            layout[i * 3] = l.first, layout[i * 3 + 1] = l.width, layout[i * 3 + 2] = l.height;
        }
        glUniform3iv(p.layout, 4, layout.data());
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_BUFFER, gpu.bufferTexture());
    } else {
        for (int i = gpu.planeCount() - 1; i >= 0; --i) {
            glActiveTexture(GLenum(GL_TEXTURE0 + i));
            glBindTexture(GL_TEXTURE_2D, gpu.plane(i));
        }
    }
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

bool StageCompositor::render(const std::vector<StageDraw>& draws, const std::array<float, 4>& bg) {
    if (!target_ || !context_.makeCurrent() || !programsReady()) return false;
    const uint64_t frame = fences_.upcoming();
    if (frame > maxFramesInFlight && !fences_.passed(frame - maxFramesInFlight)) {
        ++framesDropped_;
        return false;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, target_.framebuffer());
    glViewport(0, 0, target_.width(), target_.height());
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(bg[0] * bg[3], bg[1] * bg[3], bg[2] * bg[3], bg[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindVertexArray(vertexArray_.get());
    current_ = 0;
    for (const StageDraw& d : draws) {
        if (!(d.opacity > 0)) continue;
        if (d.kind == StageDraw::Kind::solid) {
            use(solid_);
            setCorners(solid_, stageVertices(d.quad, StageOrientation::up));
            glUniform4f(solid_.color, d.color[0] * d.opacity, d.color[1] * d.opacity, d.color[2] * d.opacity,
                        d.opacity);
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        } else if (d.texture && d.texture->gpu()) {
            drawTextured(*d.texture, stageVertices(d.quad, d.texture->orientation), d.opacity);
            d.texture->fencedBy_ = fences_.upcoming();
        }
    }
    glBindVertexArray(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    fences_.fence();
    return true;
}

void StageCompositor::present(const PresentSurface& surface, double cornerRadius) {
    const int dw = surface.width, dh = surface.height;
    if (dw < 1 || dh < 1 || !target_ || !context_.makeCurrent() || !programsReady()) return;
    const float tw = float(target_.width()), th = float(target_.height());
    glBindFramebuffer(GL_FRAMEBUFFER, surface.framebuffer);
    glViewport(0, 0, dw, dh);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    if (cornerRadius > 0)
        glClearColor(0, 0, 0, 0);
    else
        glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    const float s = std::min(float(dw) / tw, float(dh) / th);
    const float hx = s * tw / float(dw), hy = s * th / float(dh);
    const QuadVertices v = {{{{-hx, hy}, {0, 0}}, {{hx, hy}, {1, 0}}, {{-hx, -hy}, {0, 1}}, {{hx, -hy}, {1, 1}}}};
    const Program& p =
        cornerRadius > 0 ? present_ : textured_[StagePrograms::texturedIndex(GpuSampling::rgbaPremultiplied, {}, {}, false)];
    glBindVertexArray(vertexArray_.get());
    current_ = 0;
    use(p);
    setCorners(p, v);
    if (cornerRadius > 0) {
        glUniform2f(p.drawableSize, float(dw), float(dh));
        glUniform1f(p.radius, float(cornerRadius * surface.contentsScale));
    } else {
        glUniform1f(p.opacity, 1.0f);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, target_.texture());
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

bool StageCompositor::setStageSize(StageSize size) {
    if (!(size.width >= 1) || !(size.height >= 1) || size == stageSize_) return true;
    const double w = std::floor(size.width), h = std::floor(size.height);
    if (w > maxRasterSide || h > maxRasterSide) return false;
    if (!context_.makeCurrent()) return false;
    GpuRenderTarget next = GpuRenderTarget::create(int(w), int(h));
    if (!next) return false;
    target_ = std::move(next);
    stageSize_ = size;
    return true;
}

std::shared_ptr<StageTexture> StageCompositor::makeVideoTexture(const VideoFrame& frame) {
    if (!frame.valid() || !context_.makeCurrent()) return nullptr;
    UploadTimer timer(uploadSeconds_);
    CachedVideo* reuse = nullptr;
    size_t inFlight = 0;
    for (auto& c : videoCache_) {
        if (c.texture.use_count() != 1 || !c.texture->gpu_.fits(frame.format, frame.width, frame.height)) continue;
        // The buffer is written unsynchronised: never while a queued draw may still read it.
        if (fences_.passed(c.texture->fencedBy_)) {
            reuse = &c;
            break;
        }
        ++inFlight;
    }
    if (!reuse) {
        if (inFlight >= maxVideoTexturesInFlight) {
            ++uploadsSkipped_;
            return nullptr;
        }
        auto gpu = GpuFrameTextures::forVideo(frame.format, frame.width, frame.height);
        if (!gpu) return nullptr;
        videoCache_.push_back({std::make_shared<StageTexture>(std::move(gpu), frame.orientation), flushes_});
        reuse = &videoCache_.back();
    }
    if (!reuse->texture->gpu_.upload(frame)) return nullptr;
    reuse->texture->orientation = frame.orientation;
    reuse->lastUsed = flushes_;
    return reuse->texture;
}

void StageCompositor::flushTextureCache() {
    ++flushes_;
    for (auto& c : videoCache_)
        if (c.texture.use_count() > 1) c.lastUsed = flushes_;
    std::erase_if(videoCache_, [&](const CachedVideo& c) {
        return c.texture.use_count() == 1 && flushes_ - c.lastUsed > idleFramesBeforeRelease;
    });
    auto idle = [this](const CachedVideo& c) {
        return c.texture.use_count() == 1 && fences_.passed(c.texture->fencedBy_);
    };
    while (size_t(std::count_if(videoCache_.begin(), videoCache_.end(), idle)) > maxIdleVideoTextures) {
        auto oldest = videoCache_.end();
        for (auto it = videoCache_.begin(); it != videoCache_.end(); ++it)
            if (idle(*it) && (oldest == videoCache_.end() || it->lastUsed < oldest->lastUsed)) oldest = it;
        videoCache_.erase(oldest);
    }
}

StillImage StageCompositor::premultiplied(StillImage image) {
    if (image.alpha != StillAlpha::straight || !image.valid()) return image;
    const int alphaAt = 3;  // both byte orders keep alpha last
    for (int y = 0; y < image.height; ++y) {
        uint8_t* p = image.pixels.data() + image.stride * size_t(y);
        for (int x = 0; x < image.width; ++x, p += 4) {
            const unsigned a = p[alphaAt];
            if (a == 255) continue;
            for (int c = 0; c < 3; ++c) p[c] = uint8_t((p[c] * a + 127) / 255);
        }
    }
    image.alpha = StillAlpha::premultiplied;
    return image;
}

RenderResult<std::shared_ptr<StageTexture>> StageCompositor::makeImageTexture(StillImage image) {
    if (!image.valid()) return unreadable("image failed to load");
    GLint maxSize = 0;
    if (!context_.makeCurrent()) return failed("OpenGL unavailable");
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (image.width > maxSize || image.height > maxSize)
        return unreadable(fmt::format("image of {}×{} exceeds the GPU's limit of {} per side", image.width,
                                      image.height, maxSize));
    UploadTimer timer(uploadSeconds_);
    image = premultiplied(std::move(image));
    auto gpu = GpuFrameTextures::fromStill(image);
    if (!gpu) return failed("the image texture cannot be created");
    return std::make_shared<StageTexture>(std::move(gpu), image.orientation);
}

RenderResult<StillImage> StageCompositor::rasterize(const ScalableImage& image, double minHeight) {
    double w = image.width(), h = image.height();
    if (!(w > 0) || !(h > 0)) return unreadable("image failed to load");
    if (h < minHeight) {
        const double k = minHeight / h;
        w *= k;
        h *= k;
    }
    if (!(w < maxRasterSide + 1.0) || !(h < maxRasterSide + 1.0))
        return unreadable(fmt::format("image of {:.0f}×{:.0f} exceeds {} pixels per side", w, h, maxRasterSide));
    const int iw = int(w), ih = int(h);
    if (iw < 1 || ih < 1) return unreadable("image failed to load");
    StillImage out = StillImage::packed(iw, ih, StillAlpha::premultiplied, StillByteOrder::bgra);
    if (!image.draw(out.pixels.data(), iw, ih, out.stride)) return unreadable("image failed to load");
    return out;
}

}  // namespace ombry
