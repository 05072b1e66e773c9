#include "gfx_gl2/shaders.hpp"

#include <vector>

#include "util/diagnostics.hpp"

namespace zelto {

namespace shader_source {
const char* const V1 = "#version 120\nattribute vec2 pos;void main(){gl_Position=vec4(pos,0,1);}";
const char* const V2 =
    "#version 120\nattribute vec4 coord;varying vec2 tex_coord;void "
    "main(){tex_coord=coord.zw;gl_Position=vec4(coord.xy,0,1);}";
const char* const V3 =
    "#version 120\nattribute vec4 coord;uniform vec2 offset;varying vec2 tex_coord;void "
    "main(){tex_coord=coord.zw;gl_Position=vec4(coord.xy+offset,0,1);}";
const char* const V4 =
    "#version 120\nattribute vec2 pos;varying vec2 fpos;void "
    "main(){fpos=pos;gl_Position=vec4(pos,0,1);}";
const char* const F1 = "#version 120\nuniform vec4 clr;void main(){gl_FragColor=clr;}";
const char* const F2 = "#version 120\nuniform vec3 clr;void main(){gl_FragData[0]=vec4(clr,1);}";
const char* const F3 = "#version 120\nuniform vec4 clr;void main(){gl_FragData[0]=clr;}";
const char* const F4 =
    "#version 120\nuniform sampler2D tex;uniform vec3 tint;varying vec2 tex_coord;void "
    "main(){gl_FragColor=texture2D(tex,tex_coord)*vec4(tint,1.0);}";
const char* const F5 =
    "#version 120\nuniform sampler2D tex;varying vec2 tex_coord;void "
    "main(){gl_FragColor=texture2D(tex,tex_coord);}";
const char* const F6 =
    "#version 120\nuniform vec3 clr;uniform vec4 bclr;uniform sampler2D tex;varying vec2 "
    "tex_coord;void main(){float "
    "c=texture2D(tex,tex_coord).r;gl_FragDepth=1.0-c;gl_FragColor=vec4(mix(bclr.rgb*bclr.a,clr,c),"
    "bclr.a+c*(1.0-bclr.a));}";
const char* const F7 =
    "#version 120\nuniform vec3 clr;uniform vec4 bclr;uniform sampler2D tex;varying vec2 "
    "tex_coord;void main(){vec3 c=texture2D(tex,tex_coord).rgb;float "
    "a=length(c)/1.7320508075688772;gl_FragDepth=1.0-a;gl_FragColor=vec4(mix(bclr.rgb,clr,c),bclr."
    "a+a*(1.0-bclr.a));}";
const char* const F8 =
    "#version 120\nuniform sampler2D tex;varying vec2 tex_coord;void main(){vec3 "
    "c=texture2D(tex,tex_coord).rgb;gl_FragDepth=1.0-length(c)/"
    "length(vec3(1,1,1));gl_FragColor=vec4(c,1);}";
const char* const F9 =
    "#version 120\nuniform vec4 clr;uniform vec4 bclr;uniform vec4 cir;varying vec2 fpos;void "
    "main(){gl_FragColor=mix(bclr,clr,smoothstep(cir.z+cir.w,cir.z-cir.w,distance(cir.xy,fpos)));}";
}  // namespace shader_source

namespace {

std::string shader_log(GLuint shader) {
    GLint length = 0;
    gl.get_shaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<std::size_t>(length) + 1, '\0');
    gl.get_shader_info_log(shader, length, nullptr, log.data());
    return log.data();
}

std::string program_log(GLuint program) {
    GLint length = 0;
    gl.get_programiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<std::size_t>(length) + 1, '\0');
    gl.get_program_info_log(program, length, nullptr, log.data());
    return log.data();
}

GLuint compile(GLenum type, const char* source) {
    const GLuint shader = gl.create_shader(type);
    gl.shader_source(shader, 1, &source, nullptr);
    gl.compile_shader(shader);
    GLint ok = GL_FALSE;
    gl.get_shaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) fatal("Shader compilation error:\n%s\n", shader_log(shader).c_str());
    return shader;
}

}  // namespace

ShaderProgram build_shader_program(const char* vertex_source, const char* fragment_source,
                                   std::initializer_list<const char*> variables) {
    ShaderProgram result;
    result.program = GlProgram::create();
    const GLuint program = result.program.get();
    const GLuint vertex = compile(GL_VERTEX_SHADER, vertex_source);
    const GLuint fragment = compile(GL_FRAGMENT_SHADER, fragment_source);
    gl.attach_shader(program, vertex);
    gl.attach_shader(program, fragment);
    gl.bind_attrib_location(program, VERTEX_ATTRIBUTE_LOCATION, *variables.begin());
    gl.link_program(program);
    GLint ok = GL_FALSE;
    gl.get_programiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) fatal("Shader linking error:\n%s\n", program_log(program).c_str());
    gl.detach_shader(program, vertex);
    gl.detach_shader(program, fragment);
    gl.delete_shader(vertex);
    gl.delete_shader(fragment);

    std::size_t uniform_count = 0;
    for (const char* name : variables) {
        if (const GLint attribute = gl.get_attrib_location(program, name); attribute >= 0) {
            result.attribute = {name, attribute};
        } else if (const GLint uniform = gl.get_uniform_location(program, name);
                   uniform >= 0 && uniform_count < result.uniforms.size()) {
            result.uniforms[uniform_count++] = {name, uniform};
        } else {
            fatal("Failed to bind shader variable '%s' location", name);
        }
    }
    return result;
}

}  // namespace zelto
