#include "Platform/Gpu/GpuContext.hpp"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <mutex>

#include <fmt/format.h>

namespace ombry {
namespace {

// The surfaceless display is one per process; it is initialised once and never terminated, because
// terminating it would pull the ground from under every other context made on it.
EGLDisplay surfacelessDisplay(std::string& error) {
    static std::once_flag once;
    static EGLDisplay display = EGL_NO_DISPLAY;
    static std::string initError;
    std::call_once(once, [] {
        if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
            initError = "the EGL driver has no surfaceless platform";
            return;
        }
        EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
            initError = fmt::format("EGL initialisation failed (0x{:x})", eglGetError());
            return;
        }
        display = d;
    });
    error = initError;
    return display;
}

const EGLint contextAttrs[] = {EGL_CONTEXT_MAJOR_VERSION,       3, EGL_CONTEXT_MINOR_VERSION, 3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_NONE};

class EglSurfacelessContext final : public GpuContext {
public:
    EglSurfacelessContext(EGLDisplay display, EGLConfig config, EGLContext context)
        : display_(display), config_(config), context_(context) {}
    ~EglSurfacelessContext() override {
        if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
    }
    bool makeCurrent() override {
        return eglGetCurrentContext() == context_ ||
               eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
    }
    void doneCurrent() override {
        if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    std::string renderer() const override { return renderer_; }
    void setRenderer(std::string r) { renderer_ = std::move(r); }
    std::unique_ptr<GpuContext> createShared() const override {
        eglBindAPI(EGL_OPENGL_API);
        EGLContext shared = eglCreateContext(display_, config_, context_, contextAttrs);
        if (shared == EGL_NO_CONTEXT) return nullptr;
        auto made = std::make_unique<EglSurfacelessContext>(display_, config_, shared);
        made->setRenderer(renderer_);
        return made;
    }

private:
    EGLDisplay display_;
    EGLConfig config_;
    EGLContext context_;
    std::string renderer_;
};

}  // namespace

GpuContextResult makeHeadlessGpuContext() {
    GpuContextResult result;
    EGLDisplay display = surfacelessDisplay(result.error);
    if (display == EGL_NO_DISPLAY) return result;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        result.error = "the EGL driver has no desktop OpenGL";
        return result;
    }
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!epoxy_has_egl_extension(display, "EGL_KHR_no_config_context")) {
        const EGLint attrs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(display, attrs, &config, 1, &count) || count < 1) {
            result.error = "no EGL configuration for OpenGL";
            return result;
        }
    }
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttrs);
    if (context == EGL_NO_CONTEXT) {
        result.error = fmt::format("no OpenGL 3.3 core context (0x{:x})", eglGetError());
        return result;
    }
    auto ctx = std::make_unique<EglSurfacelessContext>(display, config, context);
    if (!ctx->makeCurrent()) {
        result.error = fmt::format("the OpenGL context cannot be made current (0x{:x})", eglGetError());
        return result;
    }
    const auto* r = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    ctx->setRenderer(r ? r : "unknown");
    result.context = std::move(ctx);
    return result;
}

}  // namespace ombry
