#include "Render/StagePrograms.hpp"

#include <chrono>

#include <fmt/format.h>

#include "Platform/WorkerPool.hpp"

namespace ombry {

namespace {
const char* const vertexFile = "stageQuadVertex.glsl";

const char* samplingDefine(GpuSampling s) {
    switch (s) {
    case GpuSampling::rgbaPremultiplied: return "#define SAMPLING_RGBA_PREMULTIPLIED 1";
    case GpuSampling::rgbaStraight: return "#define SAMPLING_RGBA_STRAIGHT 1";
    case GpuSampling::yuv: return "#define SAMPLING_YUV 1";
    case GpuSampling::yuva: return "#define SAMPLING_YUVA 1";
    case GpuSampling::nv12: return "#define SAMPLING_NV12 1";
    }
    return "";
}

bool isYuv(GpuSampling s) {
    return s == GpuSampling::yuv || s == GpuSampling::yuva || s == GpuSampling::nv12;
}

std::string texturedDefines(GpuSampling s, VideoColorMatrix m, VideoColorRange r, bool buffered) {
    std::string d = samplingDefine(s);
    if (buffered) d += "\n#define PLANES_IN_BUFFER 1";
    if (!isYuv(s)) return d;
    const YuvToRgb t = yuvToRgb(m, r);
    return d + fmt::format("\n#define YUV_MATRIX mat3({:.9g}, {:.9g}, {:.9g}, {:.9g}, {:.9g}, {:.9g}, {:.9g}, {:.9g}, {:.9g})"
                           "\n#define YUV_OFFSET vec3({:.9g}, {:.9g}, {:.9g})",
                           t.matrix[0], t.matrix[1], t.matrix[2], t.matrix[3], t.matrix[4], t.matrix[5], t.matrix[6],
                           t.matrix[7], t.matrix[8], t.offset[0], t.offset[1], t.offset[2]);
}

constexpr std::array<GpuSampling, 5> allSamplings = {GpuSampling::rgbaPremultiplied, GpuSampling::rgbaStraight,
                                                     GpuSampling::yuv, GpuSampling::yuva, GpuSampling::nv12};

RenderError failed(std::string message) { return {IssueCode::rendererFailed, std::move(message)}; }

RenderResult<StageProgram> buildProgram(const std::string& fragment, const std::string& defines) {
    auto built = loadGlProgram(vertexFile, fragment, defines);
    if (!built.program) {
        if (built.error.rfind("shader file missing", 0) == 0) return failed("stage shaders missing from bundle");
        return failed(built.error);
    }
    StageProgram p;
    p.program = std::move(built.program);
    const GLuint id = p.program.get();
    p.corners = glGetUniformLocation(id, "u_corners");
    p.opacity = glGetUniformLocation(id, "u_opacity");
    p.color = glGetUniformLocation(id, "u_color");
    p.drawableSize = glGetUniformLocation(id, "u_drawableSize");
    p.radius = glGetUniformLocation(id, "u_radius");
    p.layout = glGetUniformLocation(id, "u_layout");
    glUseProgram(id);
    if (const GLint planes = glGetUniformLocation(id, "u_planes"); planes >= 0) glUniform1i(planes, 0);
    for (int i = 0; i < 4; ++i) {
        const GLint unit = glGetUniformLocation(id, fmt::format("u_plane{}", i).c_str());
        if (unit >= 0) glUniform1i(unit, i);
    }
    glUseProgram(0);
    return p;
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}
}  // namespace

size_t StagePrograms::texturedIndex(GpuSampling s, VideoColorMatrix m, VideoColorRange r, bool buffered) {
    return (buffered ? 5 * 6 : 0) + static_cast<size_t>(s) * 6 +
           (isYuv(s) ? static_cast<size_t>(m) * 2 + static_cast<size_t>(r) : 0);
}

RenderResult<StagePrograms> StagePrograms::build() {
    StagePrograms out;
    for (bool buffered : {false, true})
        for (GpuSampling s : allSamplings)
            for (VideoColorMatrix m : {VideoColorMatrix::bt601, VideoColorMatrix::bt709, VideoColorMatrix::bt2020})
                for (VideoColorRange r : {VideoColorRange::limited, VideoColorRange::full}) {
                    if (!isYuv(s) && (m != VideoColorMatrix::bt601 || r != VideoColorRange::limited)) continue;
                    // Video is never premultiplied; stills never come as YUV.
                    if (buffered ? s == GpuSampling::rgbaPremultiplied : isYuv(s)) continue;
                    auto p = buildProgram("stageTexturedFragment.glsl", texturedDefines(s, m, r, buffered));
                    if (!p) return p.error();
                    out.textured[texturedIndex(s, m, r, buffered)] = std::move(p.value());
                }
    auto solid = buildProgram("stageSolidFragment.glsl", {});
    if (!solid) return solid.error();
    out.solid = std::move(solid.value());
    auto present = buildProgram("stagePresentFragment.glsl", {});
    if (!present) return present.error();
    out.present = std::move(present.value());
    return out;
}

std::unique_ptr<StageProgramBuild> StageProgramBuild::start(std::unique_ptr<GpuContext> shared, Builder builder) {
    if (!shared || !builder) return nullptr;
    return std::unique_ptr<StageProgramBuild>(new StageProgramBuild(std::move(shared), std::move(builder)));
}

StageProgramBuild::StageProgramBuild(std::unique_ptr<GpuContext> shared, Builder builder)
    : shared_(std::move(shared)), builder_(std::move(builder)), future_(promise_.get_future()),
      worker_(std::make_unique<WorkerPool>(1, "stage-programs")) {
    worker_->submit([this] { run(); });
}

void StageProgramBuild::run() {
    Built b;
    b.thread = std::this_thread::get_id();
    const auto t0 = std::chrono::steady_clock::now();
    b.current = shared_->makeCurrent();
    if (b.current) {
        b.result.emplace(builder_());
        // The compositor's context may use the programs only once these commands have completed.
        glFinish();
        shared_->doneCurrent();
    }
    b.seconds = secondsSince(t0);
    promise_.set_value(std::move(b));
}

void StageProgramBuild::join() {
    if (built_ || !future_.valid()) return;
    built_.emplace(future_.get());
    worker_.reset();
    // Its context stays until the build goes (a Qt one has its surface on this thread): freeing a software
    // driver's context takes tens of milliseconds that the first show need not wait for.
}

RenderResult<StagePrograms> StageProgramBuild::take() {
    if (taken_) return failed("the stage programs were taken already");
    taken_ = true;
    const auto t0 = std::chrono::steady_clock::now();
    join();
    stats_.waitedSeconds = secondsSince(t0);
    stats_.builtOn = built_->thread;
    stats_.buildSeconds = built_->seconds;
    if (built_->current) return std::move(*built_->result);
    // The worker's context could not be made current, so nothing was built: build them here, once.
    const auto t1 = std::chrono::steady_clock::now();
    auto here = builder_();
    stats_.builtOn = std::this_thread::get_id();
    stats_.buildSeconds = secondsSince(t1);
    return here;
}

StageProgramBuild::~StageProgramBuild() {
    // Waits for a build in flight (a queued one is dropped).
    worker_.reset();
    if (!built_ && future_.valid() && future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        built_.emplace(future_.get());
    if (!taken_ && built_ && built_->result && built_->result->ok() && shared_ && shared_->makeCurrent()) {
        // Never taken: freed in the worker's context, which the worker has released.
        built_->result.reset();
        shared_->doneCurrent();
    }
    built_.reset();
    shared_.reset();
}

}  // namespace ombry
