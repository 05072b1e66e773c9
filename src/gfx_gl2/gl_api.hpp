#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include "gfx_gl2/gfx.hpp"

namespace zelto {

// The OpenGL entry points beyond 1.1, resolved once per process through the window system's
// loader. GL 1.1 functions are called directly.
struct GlFunctions {
    PFNGLBUFFERSUBDATAPROC buffer_sub_data = nullptr;
    PFNGLUNIFORM4FPROC uniform4f = nullptr;
    PFNGLUNIFORM3FPROC uniform3f = nullptr;
    PFNGLUNIFORM2FPROC uniform2f = nullptr;
    PFNGLUNIFORM1IPROC uniform1i = nullptr;
    PFNGLBUFFERDATAPROC buffer_data = nullptr;
    PFNGLDELETEPROGRAMPROC delete_program = nullptr;
    PFNGLUSEPROGRAMPROC use_program = nullptr;
    PFNGLGETUNIFORMLOCATIONPROC get_uniform_location = nullptr;
    PFNGLGETATTRIBLOCATIONPROC get_attrib_location = nullptr;
    PFNGLBINDATTRIBLOCATIONPROC bind_attrib_location = nullptr;
    PFNGLDELETESHADERPROC delete_shader = nullptr;
    PFNGLDETACHSHADERPROC detach_shader = nullptr;
    PFNGLGETPROGRAMINFOLOGPROC get_program_info_log = nullptr;
    PFNGLGETPROGRAMIVPROC get_programiv = nullptr;
    PFNGLLINKPROGRAMPROC link_program = nullptr;
    PFNGLATTACHSHADERPROC attach_shader = nullptr;
    PFNGLCOMPILESHADERPROC compile_shader = nullptr;
    PFNGLSHADERSOURCEPROC shader_source = nullptr;
    PFNGLCREATESHADERPROC create_shader = nullptr;
    PFNGLCREATEPROGRAMPROC create_program = nullptr;
    PFNGLGETSHADERINFOLOGPROC get_shader_info_log = nullptr;
    PFNGLGETSHADERIVPROC get_shaderiv = nullptr;
    PFNGLDELETEBUFFERSPROC delete_buffers = nullptr;
    PFNGLVERTEXATTRIBPOINTERPROC vertex_attrib_pointer = nullptr;
    PFNGLENABLEVERTEXATTRIBARRAYPROC enable_vertex_attrib_array = nullptr;
    PFNGLBINDBUFFERPROC bind_buffer = nullptr;
    PFNGLGENBUFFERSPROC gen_buffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC delete_framebuffers = nullptr;
    PFNGLFRAMEBUFFERTEXTURE2DPROC framebuffer_texture_2d = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bind_framebuffer = nullptr;
    PFNGLGENFRAMEBUFFERSPROC gen_framebuffers = nullptr;
    PFNGLGENERATEMIPMAPPROC generate_mipmap = nullptr;
    PFNGLBLENDFUNCSEPARATEPROC blend_func_separate = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebuffer_renderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbuffer_storage = nullptr;
    PFNGLDELETERENDERBUFFERSPROC delete_renderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bind_renderbuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC gen_renderbuffers = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC check_framebuffer_status = nullptr;
};

extern GlFunctions gl;

// Resolves every entry point the first time it is called; later calls do nothing. A name the
// loader cannot resolve is fatal.
void load_gl_functions(const GlProcLoader& loader);

}  // namespace zelto
