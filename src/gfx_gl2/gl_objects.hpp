#pragma once

#include <utility>

#include "gfx_gl2/gl_api.hpp"

namespace zelto {

// One GL object name, deleted with the owner. Needs the context current when it dies.
template <class Traits>
class GlHandle {
  public:
    GlHandle() = default;
    explicit GlHandle(GLuint name) : name_(name) {}
    ~GlHandle() { reset(); }
    GlHandle(GlHandle&& other) noexcept : name_(std::exchange(other.name_, 0)) {}
    GlHandle& operator=(GlHandle&& other) noexcept {
        if (this != &other) {
            reset();
            name_ = std::exchange(other.name_, 0);
        }
        return *this;
    }
    GlHandle(const GlHandle&) = delete;
    GlHandle& operator=(const GlHandle&) = delete;

    static GlHandle create() { return GlHandle(Traits::create()); }
    GLuint get() const { return name_; }
    explicit operator bool() const { return name_ != 0; }
    void reset() {
        if (name_ != 0) Traits::destroy(name_);
        name_ = 0;
    }

  private:
    GLuint name_ = 0;
};

struct GlTextureTraits {
    static GLuint create() {
        GLuint name = 0;
        glGenTextures(1, &name);
        return name;
    }
    static void destroy(GLuint name) { glDeleteTextures(1, &name); }
};

struct GlBufferTraits {
    static GLuint create() {
        GLuint name = 0;
        gl.gen_buffers(1, &name);
        return name;
    }
    static void destroy(GLuint name) { gl.delete_buffers(1, &name); }
};

struct GlFramebufferTraits {
    static GLuint create() {
        GLuint name = 0;
        gl.gen_framebuffers(1, &name);
        return name;
    }
    static void destroy(GLuint name) { gl.delete_framebuffers(1, &name); }
};

struct GlRenderbufferTraits {
    static GLuint create() {
        GLuint name = 0;
        gl.gen_renderbuffers(1, &name);
        return name;
    }
    static void destroy(GLuint name) { gl.delete_renderbuffers(1, &name); }
};

struct GlProgramTraits {
    static GLuint create() { return gl.create_program(); }
    static void destroy(GLuint name) { gl.delete_program(name); }
};

using GlTexture = GlHandle<GlTextureTraits>;
using GlBuffer = GlHandle<GlBufferTraits>;
using GlFramebuffer = GlHandle<GlFramebufferTraits>;
using GlProgram = GlHandle<GlProgramTraits>;
using GlRenderbuffer = GlHandle<GlRenderbufferTraits>;

}  // namespace zelto
