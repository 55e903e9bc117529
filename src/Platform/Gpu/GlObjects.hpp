#pragma once
#include <epoxy/gl.h>

#include <string>
#include <utility>

namespace ombry {

// Owns one GL object name and deletes it with the context current (on the GL thread).
template <void (*Delete)(GLuint)>
class GlName {
public:
    GlName() = default;
    explicit GlName(GLuint name) : name_(name) {}
    ~GlName() { reset(); }
    GlName(GlName&& o) noexcept : name_(std::exchange(o.name_, 0)) {}
    GlName& operator=(GlName&& o) noexcept {
        if (this != &o) {
            reset();
            name_ = std::exchange(o.name_, 0);
        }
        return *this;
    }
    GlName(const GlName&) = delete;
    GlName& operator=(const GlName&) = delete;

    GLuint get() const { return name_; }
    explicit operator bool() const { return name_ != 0; }
    void reset(GLuint name = 0) {
        if (name_) Delete(name_);
        name_ = name;
    }

private:
    GLuint name_ = 0;
};

namespace gl_delete {
void texture(GLuint n);
void buffer(GLuint n);
void framebuffer(GLuint n);
void vertexArray(GLuint n);
void program(GLuint n);
void shader(GLuint n);
}  // namespace gl_delete

using GlTexture = GlName<gl_delete::texture>;
using GlBuffer = GlName<gl_delete::buffer>;
using GlFramebuffer = GlName<gl_delete::framebuffer>;
using GlVertexArray = GlName<gl_delete::vertexArray>;
using GlProgram = GlName<gl_delete::program>;

GlTexture makeTexture();
GlBuffer makeBuffer();

// Drains the GL error queue; returns the first error, or GL_NO_ERROR.
GLenum takeGlError();

// A colour texture (RGBA, 8 bits per component) with a framebuffer drawing into it.
class GpuRenderTarget {
public:
    GpuRenderTarget() = default;
    // Allocates w by h; on failure (size beyond the driver's limit, no memory) returns an empty target.
    static GpuRenderTarget create(int width, int height);

    explicit operator bool() const { return bool(framebuffer_); }
    int width() const { return width_; }
    int height() const { return height_; }
    GLuint texture() const { return texture_.get(); }
    GLuint framebuffer() const { return framebuffer_.get(); }

private:
    GlTexture texture_;
    GlFramebuffer framebuffer_;
    int width_ = 0;
    int height_ = 0;
};

// A linked program, or the reason it could not be built.
struct GlProgramResult {
    GlProgram program;
    std::string error;
};

// Builds a program from two shader files under the shipped "shaders" resources. `defines` is inserted
// after the "#version" line, so one file can yield several variants.
GlProgramResult loadGlProgram(const std::string& vertexFile, const std::string& fragmentFile,
                              const std::string& defines = {});

}  // namespace ombry
