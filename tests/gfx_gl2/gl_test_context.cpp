#include "gl_test_context.hpp"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace zelto::test {

namespace {

struct SharedContext {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    EGLContext context = EGL_NO_CONTEXT;
};

SharedContext& shared_context() {
    static SharedContext shared = [] {
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        setenv("EGL_PLATFORM", "surfaceless", 1);
        SharedContext s;
        auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!get_platform_display) throw std::runtime_error("no eglGetPlatformDisplayEXT");
        s.display =
            get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (s.display == EGL_NO_DISPLAY || !eglInitialize(s.display, nullptr, nullptr))
            throw std::runtime_error("no surfaceless EGL display");
        const EGLint attributes[] = {EGL_SURFACE_TYPE,
                                     EGL_PBUFFER_BIT,
                                     EGL_RENDERABLE_TYPE,
                                     EGL_OPENGL_BIT,
                                     EGL_RED_SIZE,
                                     8,
                                     EGL_GREEN_SIZE,
                                     8,
                                     EGL_BLUE_SIZE,
                                     8,
                                     EGL_ALPHA_SIZE,
                                     8,
                                     EGL_DEPTH_SIZE,
                                     0,
                                     EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(s.display, attributes, &s.config, 1, &count) || count < 1)
            throw std::runtime_error("no pbuffer EGL config");
        if (!eglBindAPI(EGL_OPENGL_API)) throw std::runtime_error("no desktop GL in EGL");
        const EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 2,
                                             EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE};
        s.context = eglCreateContext(s.display, s.config, EGL_NO_CONTEXT, context_attributes);
        if (s.context == EGL_NO_CONTEXT) throw std::runtime_error("no GL 2.1 context");
        return s;
    }();
    return shared;
}

}  // namespace

OffscreenGl::OffscreenGl(std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height) {
    SharedContext& s = shared_context();
    const EGLint attributes[] = {EGL_WIDTH, static_cast<EGLint>(width), EGL_HEIGHT,
                                 static_cast<EGLint>(height), EGL_NONE};
    surface_ = eglCreatePbufferSurface(s.display, s.config, attributes);
    if (surface_ == EGL_NO_SURFACE) throw std::runtime_error("no pbuffer surface");
    if (!eglMakeCurrent(s.display, surface_, surface_, s.context))
        throw std::runtime_error("eglMakeCurrent failed");
}

OffscreenGl::~OffscreenGl() {
    SharedContext& s = shared_context();
    eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(s.display, surface_);
}

GlProcLoader OffscreenGl::loader() {
    return [](const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); };
}

std::vector<std::uint8_t> OffscreenGl::read_pixels(std::int32_t x, std::int32_t y,
                                                   std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> bottom_up(static_cast<std::size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA,
                 GL_UNSIGNED_BYTE, bottom_up.data());
    std::vector<std::uint8_t> top_down(bottom_up.size());
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    for (std::uint32_t r = 0; r < height; ++r)
        std::copy_n(&bottom_up[(height - 1 - r) * row], row, &top_down[r * row]);
    return top_down;
}

std::vector<std::uint8_t> OffscreenGl::read_texture(std::uint32_t texture, std::uint32_t width,
                                                    std::uint32_t height, bool rgba) {
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, texture);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * (rgba ? 4 : 1));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, rgba ? GL_RGBA : GL_RED, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    return pixels;
}

}  // namespace zelto::test
