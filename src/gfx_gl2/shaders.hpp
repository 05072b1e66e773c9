#pragma once

#include <array>
#include <initializer_list>
#include <string>

#include "gfx_gl2/gl_objects.hpp"

namespace zelto {

// Every program has exactly one vertex attribute, bound to this location before linking, so
// that the one enabled attribute array serves them all.
inline constexpr GLuint VERTEX_ATTRIBUTE_LOCATION = 0;

struct ShaderVariable {
    std::string name;
    GLint location = -1;
};

struct ShaderProgram {
    GlProgram program;
    ShaderVariable attribute;
    std::array<ShaderVariable, 3> uniforms;

    GLuint id() const { return program.get(); }
    GLint uniform(std::size_t i) const { return uniforms[i].location; }
};

// Compiles, links and looks up the variables (the first name is the attribute). Compilation,
// linking and lookup failures are fatal with the shader's or program's log.
ShaderProgram build_shader_program(const char* vertex_source, const char* fragment_source,
                                   std::initializer_list<const char*> variables);

namespace shader_source {
extern const char* const V1;
extern const char* const V2;
extern const char* const V3;
extern const char* const V4;
extern const char* const F1;
extern const char* const F2;
extern const char* const F3;
extern const char* const F4;
extern const char* const F5;
extern const char* const F6;
extern const char* const F7;
extern const char* const F8;
extern const char* const F9;
}  // namespace shader_source

}  // namespace zelto
