#include "gfx_gl2/gl_api.hpp"

#include "util/diagnostics.hpp"

namespace zelto {

GlFunctions gl;

namespace {

bool loaded = false;

template <class Function>
void resolve(const GlProcLoader& loader, Function& slot, const char* name) {
    void* address = loader ? loader(name) : nullptr;
    if (!address) fatal("Failed to load extension proc adress for: %s", name);
    slot = reinterpret_cast<Function>(address);
}

}  // namespace

void load_gl_functions(const GlProcLoader& loader) {
    if (loaded) return;
    resolve(loader, gl.buffer_sub_data, "glBufferSubData");
    resolve(loader, gl.uniform4f, "glUniform4f");
    resolve(loader, gl.uniform3f, "glUniform3f");
    resolve(loader, gl.uniform2f, "glUniform2f");
    resolve(loader, gl.uniform1i, "glUniform1i");
    resolve(loader, gl.buffer_data, "glBufferData");
    resolve(loader, gl.delete_program, "glDeleteProgram");
    resolve(loader, gl.use_program, "glUseProgram");
    resolve(loader, gl.get_uniform_location, "glGetUniformLocation");
    resolve(loader, gl.get_attrib_location, "glGetAttribLocation");
    resolve(loader, gl.bind_attrib_location, "glBindAttribLocation");
    resolve(loader, gl.delete_shader, "glDeleteShader");
    resolve(loader, gl.detach_shader, "glDetachShader");
    resolve(loader, gl.get_program_info_log, "glGetProgramInfoLog");
    resolve(loader, gl.get_programiv, "glGetProgramiv");
    resolve(loader, gl.link_program, "glLinkProgram");
    resolve(loader, gl.attach_shader, "glAttachShader");
    resolve(loader, gl.compile_shader, "glCompileShader");
    resolve(loader, gl.shader_source, "glShaderSource");
    resolve(loader, gl.create_shader, "glCreateShader");
    resolve(loader, gl.create_program, "glCreateProgram");
    resolve(loader, gl.get_shader_info_log, "glGetShaderInfoLog");
    resolve(loader, gl.get_shaderiv, "glGetShaderiv");
    resolve(loader, gl.delete_buffers, "glDeleteBuffers");
    resolve(loader, gl.vertex_attrib_pointer, "glVertexAttribPointer");
    resolve(loader, gl.enable_vertex_attrib_array, "glEnableVertexAttribArray");
    resolve(loader, gl.bind_buffer, "glBindBuffer");
    resolve(loader, gl.gen_buffers, "glGenBuffers");
    resolve(loader, gl.delete_framebuffers, "glDeleteFramebuffers");
    resolve(loader, gl.framebuffer_texture_2d, "glFramebufferTexture2D");
    resolve(loader, gl.bind_framebuffer, "glBindFramebuffer");
    resolve(loader, gl.gen_framebuffers, "glGenFramebuffers");
    resolve(loader, gl.generate_mipmap, "glGenerateMipmap");
    resolve(loader, gl.blend_func_separate, "glBlendFuncSeparate");
    resolve(loader, gl.framebuffer_renderbuffer, "glFramebufferRenderbuffer");
    resolve(loader, gl.renderbuffer_storage, "glRenderbufferStorage");
    resolve(loader, gl.delete_renderbuffers, "glDeleteRenderbuffers");
    resolve(loader, gl.bind_renderbuffer, "glBindRenderbuffer");
    resolve(loader, gl.gen_renderbuffers, "glGenRenderbuffers");
    resolve(loader, gl.check_framebuffer_status, "glCheckFramebufferStatus");
    loaded = true;
}

}  // namespace zelto
