#include "gfx_gl2/gfx_opengl2.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "terminal/vt_line.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

constexpr GLsizeiptr STREAM_BUFFER_BYTES = 4 * 4 * sizeof(float);

const char* gl_string(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

GfxOpenGL2::GfxOpenGL2(FontSet& fonts, Settings& settings) : fonts_(fonts), settings_(settings) {
    subpixel_glyphs_ = fonts.lcd_mode() != LCD_MODE_NONE;
    compute_cell_size();
}

GfxOpenGL2::~GfxOpenGL2() {
    if (!initialized_) return;
    textures_.clear();
    curly_texture_.reset();
    gl.use_program(0);
    gl.bind_framebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl.bind_buffer(GL_ARRAY_BUFFER, 0);
    atlas_.reset();
    for (auto& p : programs_) p.reset();
}

void GfxOpenGL2::compute_cell_size() {
    cell_width_ = static_cast<std::uint16_t>(fonts_.advance() + settings_.glyph_padding.horizontal);
    cell_height_ =
        static_cast<std::uint16_t>(fonts_.line_height() + settings_.glyph_padding.vertical);
}

void GfxOpenGL2::compute_alignment() {
    const auto metrics = fonts_.primary_glyph_metrics(
        static_cast<unsigned char>(settings_.glyph_align.center), FONT_STYLE_REGULAR);
    if (!metrics) fatal("Failed to load character metrics, is font set up correctly?");
    const int d = metrics->bearing_y / 256 + 1;
    alignment_.baseline =
        static_cast<std::int32_t>(cell_height_ / 1.75 + d + settings_.glyph_align.y_offset);
    alignment_.glyph_x_offset = settings_.glyph_align.x_offset;
    alignment_.row_height = static_cast<float>(cell_height_) * sy_;
    alignment_.columns_fitting = cell_width_ ? width_ / cell_width_ : 0;
}

GridSize GfxOpenGL2::get_grid_size(PixelSize pixels) const {
    const std::uint64_t w = cell_width_, h = cell_height_, p = settings_.padding.extra;
    if (w == 0 || h == 0 || pixels.width < w + 2 * p || pixels.height < h + 2 * p) return {};
    GridSize grid{static_cast<std::uint32_t>((pixels.width - 2 * p) / w),
                  static_cast<std::uint32_t>((pixels.height - 2 * p) / h)};
    if (pixels.width < 2 * (w + p)) grid.cols = 1;
    if (pixels.height < 2 * p + 2 * h) grid.rows = 1;
    return grid;
}

PixelSize GfxOpenGL2::get_pixel_size(GridSize grid) const {
    const std::uint32_t p = settings_.padding.extra;
    return {grid.cols * cell_width_ + 2 * p, grid.rows * cell_height_ + 2 * p};
}

void GfxOpenGL2::init_with_context() {
    load_gl_functions(load_gl_proc_);
    if (settings_.debug_gfx) {
        std::fprintf(stderr, "GL_VENDOR = %s\n", gl_string(GL_VENDOR));
        std::fprintf(stderr, "GL_RENDERER = %s\n", gl_string(GL_RENDERER));
        std::fprintf(stderr, "GL_VERSION = %s\n", gl_string(GL_VERSION));
        std::fprintf(stderr, "GL_SHADING_LANGUAGE_VERSION = %s\n",
                     gl_string(GL_SHADING_LANGUAGE_VERSION));
    }
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const ColorRGBA bg = settings_.bg_color;
    glClearColor(bg.r / 255.0f, bg.g / 255.0f, bg.b / 255.0f, bg.a / 255.0f);

    build_programs();
    create_buffers();

    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size_);
    const ShaderProgram& subpixel = *programs_[PROGRAM_SUBPIXEL_GLYPH];
    gl.use_program(subpixel.id());
    const ColorRGB fg = settings_.fg_color;
    gl.uniform3f(subpixel.uniform(1), fg.r / 255.0f, fg.g / 255.0f, fg.b / 255.0f);

    framebuffer_ = GlFramebuffer::create();
    initialized_ = true;
    compute_cell_size();
    compute_alignment();
    create_atlas();
    build_curly_texture();
}

void GfxOpenGL2::build_programs() {
    using namespace shader_source;
    programs_[PROGRAM_SOLID] = build_shader_program(V1, F1, {"pos", "clr"});
    programs_[PROGRAM_SUBPIXEL_GLYPH] =
        build_shader_program(V2, F7, {"coord", "tex", "clr", "bclr"});
    programs_[PROGRAM_GRAYSCALE_GLYPH] =
        build_shader_program(V2, F6, {"coord", "tex", "clr", "bclr"});
    programs_[PROGRAM_COLOR_GLYPH] = build_shader_program(V2, F8, {"coord", "tex"});
    programs_[PROGRAM_LINE_FILL] = build_shader_program(V1, F2, {"pos", "clr"});
    if (settings_.cursor_anim.blink_fade)
        programs_[PROGRAM_LINE_FILL_ALPHA] = build_shader_program(V1, F3, {"pos", "clr"});
    programs_[PROGRAM_TEXTURE_COPY] = build_shader_program(V3, F5, {"coord", "tex", "offset"});
    programs_[PROGRAM_TINTED_TEXTURE] =
        build_shader_program(V3, F4, {"coord", "tex", "tint", "offset"});
}

const ShaderProgram* GfxOpenGL2::program(ShaderProgramId id) const {
    return programs_[id] ? &*programs_[id] : nullptr;
}

const ShaderProgram& GfxOpenGL2::circle_program() {
    if (!programs_[PROGRAM_CIRCLE]) {
        programs_[PROGRAM_CIRCLE] = build_shader_program(shader_source::V4, shader_source::F9,
                                                         {"pos", "clr", "bclr", "cir"});
    }
    return *programs_[PROGRAM_CIRCLE];
}

// The one vertex attribute array the renderer enables, shared by every program.
void GfxOpenGL2::create_buffers() {
    stream_buffer_ = GlBuffer::create();
    gl.bind_buffer(GL_ARRAY_BUFFER, stream_buffer_.get());
    gl.enable_vertex_attrib_array(VERTEX_ATTRIBUTE_LOCATION);
    gl.vertex_attrib_pointer(VERTEX_ATTRIBUTE_LOCATION, 4, GL_FLOAT, GL_FALSE, 0, nullptr);
    gl.buffer_data(GL_ARRAY_BUFFER, STREAM_BUFFER_BYTES, nullptr, GL_STREAM_DRAW);

    static constexpr float CORNERS[] = {1, 1, -1, 1, -1, -1, 1, -1};
    corner_buffer_ = GlBuffer::create();
    gl.bind_buffer(GL_ARRAY_BUFFER, corner_buffer_.get());
    gl.buffer_data(GL_ARRAY_BUFFER, sizeof CORNERS, CORNERS, GL_STATIC_DRAW);
    row_buffer_ = GlBuffer::create();
    gl.bind_buffer(GL_ARRAY_BUFFER, stream_buffer_.get());
}

void GfxOpenGL2::create_atlas() {
    atlas_.reset();
    atlas_ = std::make_unique<GlyphAtlas>(
        fonts_, settings_,
        AtlasCell{cell_width_, cell_height_, alignment_.baseline, alignment_.glyph_x_offset},
        max_texture_size_);
}

void GfxOpenGL2::resize(std::uint32_t width, std::uint32_t height, GridSize grid) {
    grid_ = grid;
    width_ = width;
    height_ = height;
    sx_ = width ? 2.0f / width : 0;
    sy_ = height ? 2.0f / height : 0;
    compute_cell_size();
    if (!initialized_) return;
    // The width of a line texture follows the window's.
    textures_.clear();
    compute_alignment();
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    for (FrameRecord& slot : history_) slot.rows.assign(grid.rows, RowRecord{});
    invalidate();
    row_quads_ = 0;
    ensure_row_quads(grid.rows);
}

void GfxOpenGL2::reload_font() {
    subpixel_glyphs_ = fonts_.lcd_mode() != LCD_MODE_NONE;
    resize(width_, height_, grid_);
    if (!initialized_) return;
    create_atlas();
    build_curly_texture();
}

void GfxOpenGL2::destroy_line_proxy(VtLineProxy& proxy) {
    if (initialized_) textures_.release_all(proxy);
    proxy = VtLineProxy{};
}

void GfxOpenGL2::destroy_image_proxy(VtImageProxy&) {}

void GfxOpenGL2::destroy_image_view_proxy(VtImageViewProxy&) {}

void GfxOpenGL2::destroy_sixel_proxy(VtSixelProxy&) {}

// A sine wave, four times oversampled, antialiased by its distance to each pixel.
void GfxOpenGL2::build_curly_texture() {
    const double a = cell_height_ * 0.125 + 2;
    int amplitude, thickness;
    if (a > 255) {
        amplitude = 255;
        thickness = 20;
    } else if (a < 4) {
        amplitude = 4;
        thickness = 1;
    } else {
        amplitude = static_cast<int>(a);
        thickness = amplitude > 83 ? 20 : std::max(1, amplitude / 4);
    }
    const int period = static_cast<int>(amplitude * M_PI / 2);
    const int w = 4 * period, h = 4 * amplitude;
    const double unit = 2.0 / h;
    const double f = thickness * unit * 3.0769230769230766, g = unit * 8;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4, 0);
    for (int j = 0; j < h; ++j) {
        const double y = (2 * f + 2 + 2 * g) * j / h - 1 - f - g;
        for (int i = 0; i < w; ++i) {
            const double m = 2 * M_PI * i / w;
            double d = (std::sin(m) - y) * (std::sin(m) - y);
            const double step = std::cos(m) * (y - std::sin(m)) < 0 ? 0.001 : -0.001;
            for (double t = m + step;; t += step / 2) {
                const double next = (std::sin(t) - y) * (std::sin(t) - y) + (t - m) * (t - m);
                if (next > d) break;
                d = next;
            }
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(j) * w + i) * 4];
            double alpha = 0;
            if (d <= f * f) {
                alpha = 255;
            } else if (d < (f + g) * (f + g)) {
                alpha =
                    std::clamp(255 * (1 - (d - f * f) / ((f + g) * (f + g) - f * f)), 0.0, 255.0);
            }
            if (alpha > 0) p[0] = p[1] = p[2] = 255;
            p[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    curly_texture_ = GlTexture::create();
    glBindTexture(GL_TEXTURE_2D, curly_texture_.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    curly_height_ = static_cast<std::uint32_t>(amplitude);
}

void GfxOpenGL2::use_program(ShaderProgramId id) {
    gl.use_program(programs_[id]->id());
}

// Vertex arrays follow the buffer bound when the pointer is set, so every bind sets it again.
void GfxOpenGL2::bind_array_buffer(GLuint buffer) {
    gl.bind_buffer(GL_ARRAY_BUFFER, buffer);
    gl.vertex_attrib_pointer(VERTEX_ATTRIBUTE_LOCATION, 4, GL_FLOAT, GL_FALSE, 0, nullptr);
}

// The stream buffer grows to the largest batch and is orphaned before each upload.
void GfxOpenGL2::stream(const float* data, std::size_t floats) {
    const std::size_t bytes = floats * sizeof(float);
    bind_array_buffer(stream_buffer_.get());
    stream_capacity_ = std::max(stream_capacity_, bytes);
    gl.buffer_data(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(stream_capacity_), nullptr,
                   GL_STREAM_DRAW);
    gl.buffer_sub_data(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), data);
    ++stats_.uploads;
}

void GfxOpenGL2::draw_arrays(GLenum mode, GLint first, GLsizei count) {
    glDrawArrays(mode, first, count);
    ++stats_.draw_calls;
}

void GfxOpenGL2::clear_box(GLint x, GLint y, GLsizei width, GLsizei height, ColorRGBA color) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(x, y, width, height);
    glClearColor(color.r / 255.0f, color.g / 255.0f, color.b / 255.0f, color.a / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ++stats_.draw_calls;
}

void GfxOpenGL2::fill_pixels(float x, float y, float width, float height) {
    const float x0 = x * sx_ - 1, x1 = (x + width) * sx_ - 1;
    const float y0 = 1 - y * sy_, y1 = 1 - (y + height) * sy_;
    const float quad[16] = {x0, y0, 0, 0, x1, y0, 0, 0, x1, y1, 0, 0, x0, y1, 0, 0};
    stream(quad, 16);
    draw_arrays(GL_QUADS, 0, 4);
}

void GfxOpenGL2::set_viewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    glViewport(x, y, width, height);
}

// One quad per row, the texture's top row at the row's top.
void GfxOpenGL2::ensure_row_quads(std::size_t rows) {
    if (rows <= row_quads_) return;
    const float x0 = -1;
    const float x1 = static_cast<float>(alignment_.columns_fitting * cell_width_) * sx_ - 1;
    const float h = static_cast<float>(cell_height_) * sy_;
    vertices_.clear();
    for (std::size_t i = 0; i < rows; ++i) {
        const float top = 1 - static_cast<float>(i) * h, bottom = top - h;
        const float quad[16] = {x0, top, 0, 0, x0, bottom, 0, 1, x1, bottom, 1, 1, x1, top, 1, 0};
        vertices_.insert(vertices_.end(), quad, quad + 16);
    }
    gl.bind_buffer(GL_ARRAY_BUFFER, row_buffer_.get());
    gl.buffer_data(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices_.size() * sizeof(float)),
                   vertices_.data(), GL_STATIC_DRAW);
    row_quads_ = rows;
}

}  // namespace zelto
