#include "Platform/Gpu/GlObjects.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "Platform/Paths.hpp"

namespace ombry {

namespace gl_delete {
void texture(GLuint n) { glDeleteTextures(1, &n); }
void buffer(GLuint n) { glDeleteBuffers(1, &n); }
void framebuffer(GLuint n) { glDeleteFramebuffers(1, &n); }
void vertexArray(GLuint n) { glDeleteVertexArrays(1, &n); }
void program(GLuint n) { glDeleteProgram(n); }
void shader(GLuint n) { glDeleteShader(n); }
}  // namespace gl_delete

GlTexture makeTexture() {
    GLuint n = 0;
    glGenTextures(1, &n);
    return GlTexture(n);
}

GlBuffer makeBuffer() {
    GLuint n = 0;
    glGenBuffers(1, &n);
    return GlBuffer(n);
}

GLenum takeGlError() {
    GLenum first = glGetError();
    if (first != GL_NO_ERROR)
        for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
        }
    return first;
}

GpuRenderTarget GpuRenderTarget::create(int width, int height) {
    GpuRenderTarget t;
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (width < 1 || height < 1 || width > maxSize || height > maxSize) return t;
    takeGlError();
    GlTexture texture = makeTexture();
    glBindTexture(GL_TEXTURE_2D, texture.get());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (takeGlError() != GL_NO_ERROR) return t;
    GLuint fb = 0;
    glGenFramebuffers(1, &fb);
    GlFramebuffer framebuffer(fb);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture.get(), 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete || takeGlError() != GL_NO_ERROR) return t;
    t.texture_ = std::move(texture);
    t.framebuffer_ = std::move(framebuffer);
    t.width_ = width;
    t.height_ = height;
    return t;
}

namespace {

bool readShader(const std::string& file, std::string& text, std::string& error) {
    const auto path = paths::resource("shaders/" + file);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in) {
        error = "shader file missing: " + file;
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

std::string withDefines(const std::string& source, const std::string& defines) {
    if (defines.empty()) return source;
    const auto versionAt = source.find("#version");
    if (versionAt == std::string::npos) return defines + "\n" + source;
    const auto eol = source.find('\n', versionAt);
    if (eol == std::string::npos) return source + "\n" + defines + "\n";
    return source.substr(0, eol + 1) + defines + "\n#line 2\n" + source.substr(eol + 1);
}

GlName<gl_delete::shader> compile(GLenum kind, const std::string& file, const std::string& source,
                                  std::string& error) {
    GlName<gl_delete::shader> shader(glCreateShader(kind));
    const char* text = source.c_str();
    glShaderSource(shader.get(), 1, &text, nullptr);
    glCompileShader(shader.get());
    GLint ok = GL_FALSE;
    glGetShaderiv(shader.get(), GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    GLint length = 0;
    glGetShaderiv(shader.get(), GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(std::max(length, 1)));
    glGetShaderInfoLog(shader.get(), length, nullptr, log.data());
    error = file + ": " + log.data();
    return {};
}

}  // namespace

GlProgramResult loadGlProgram(const std::string& vertexFile, const std::string& fragmentFile,
                              const std::string& defines) {
    GlProgramResult r;
    std::string vs, fs;
    if (!readShader(vertexFile, vs, r.error) || !readShader(fragmentFile, fs, r.error)) return r;
    auto vertex = compile(GL_VERTEX_SHADER, vertexFile, withDefines(vs, defines), r.error);
    if (!vertex) return r;
    auto fragment = compile(GL_FRAGMENT_SHADER, fragmentFile, withDefines(fs, defines), r.error);
    if (!fragment) return r;
    GlProgram program(glCreateProgram());
    glAttachShader(program.get(), vertex.get());
    glAttachShader(program.get(), fragment.get());
    glLinkProgram(program.get());
    GLint ok = GL_FALSE;
    glGetProgramiv(program.get(), GL_LINK_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        glGetProgramiv(program.get(), GL_INFO_LOG_LENGTH, &length);
        std::vector<char> log(static_cast<size_t>(std::max(length, 1)));
        glGetProgramInfoLog(program.get(), length, nullptr, log.data());
        r.error = fragmentFile + ": " + log.data();
        return r;
    }
    glDetachShader(program.get(), vertex.get());
    glDetachShader(program.get(), fragment.get());
    r.program = std::move(program);
    return r;
}

}  // namespace ombry
