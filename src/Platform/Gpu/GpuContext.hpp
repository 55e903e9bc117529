#pragma once
#include <memory>
#include <string>

namespace ombry {

// An OpenGL 3.3 core context that the compositor draws with. Every GL call, and the destruction of every
// GL object, happens on the thread where the context is current (the main thread in the application).
class GpuContext {
public:
    virtual ~GpuContext() = default;
    // Makes the context current on the calling thread; false when the driver refuses.
    virtual bool makeCurrent() = 0;
    // Releases it from the calling thread.
    virtual void doneCurrent() = 0;
    // "llvmpipe (LLVM 15.0.6, 256 bits)": the driver's renderer string, for the log.
    virtual std::string renderer() const = 0;
    // A context sharing this one's textures and fences, for a worker thread to make current (and free);
    // null where it cannot be made. Call on this context's thread.
    virtual std::unique_ptr<GpuContext> createShared() const { return nullptr; }
};

// Failure to create a context, with the reason in words.
struct GpuContextResult {
    std::unique_ptr<GpuContext> context;
    std::string error;
};

// A context without any window (EGL surfaceless, Mesa), for headless runs and tests. Returns it current.
GpuContextResult makeHeadlessGpuContext();

}  // namespace ombry
