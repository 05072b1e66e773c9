#pragma once

#include <array>
#include <memory>
#include <optional>

#include "config/settings.hpp"
#include "fonts/font_set.hpp"
#include "gfx_gl2/gfx.hpp"
#include "gfx_gl2/gl_objects.hpp"
#include "gfx_gl2/glyph_atlas.hpp"
#include "gfx_gl2/line_textures.hpp"
#include "gfx_gl2/shaders.hpp"

namespace zelto {

enum ShaderProgramId : std::uint8_t {
    PROGRAM_SOLID = 0,
    PROGRAM_SUBPIXEL_GLYPH,
    PROGRAM_GRAYSCALE_GLYPH,
    PROGRAM_COLOR_GLYPH,
    PROGRAM_LINE_FILL,
    PROGRAM_LINE_FILL_ALPHA,  // built only with the blink fade of `cursor-anim`
    PROGRAM_TEXTURE_COPY,
    PROGRAM_TINTED_TEXTURE,
    PROGRAM_CIRCLE,  // built on first use
    PROGRAM_COUNT,
};

// Where glyphs sit in a cell, from the alignment character of `glyph-align`.
struct AlignmentMetrics {
    std::int32_t baseline = 0;  // pixels from the cell's top
    std::int32_t glyph_x_offset = 0;
    float row_height = 0;  // one row in device units
    std::uint32_t columns_fitting = 0;
};

// What a frame cost; tests and benchmarks read it.
struct FrameStats {
    std::uint32_t lines_rendered = 0;  // line texture passes, the cursor's own line not counted
    std::uint32_t draw_calls = 0;      // draws and clears
    std::uint32_t uploads = 0;         // vertex data uploads
};

// The OpenGL 2.1 renderer.
class GfxOpenGL2 final : public Gfx {
  public:
    // Makes no GL call: the window's context does not exist yet.
    GfxOpenGL2(FontSet& fonts, Settings& settings);
    ~GfxOpenGL2() override;

    std::optional<std::vector<DamageRect>> draw(Vt& vt, UiState& ui,
                                                std::uint8_t buffer_age) override;
    void resize(std::uint32_t width, std::uint32_t height, GridSize grid) override;
    GridSize get_grid_size(PixelSize pixels) const override;
    void init_with_context() override;
    void reload_font() override;
    PixelSize get_pixel_size(GridSize grid) const override;
    void invalidate() override;
    void destroy_line_proxy(VtLineProxy& proxy) override;
    void destroy_image_proxy(VtImageProxy& proxy) override;
    void destroy_image_view_proxy(VtImageViewProxy& proxy) override;
    void destroy_sixel_proxy(VtSixelProxy& proxy) override;
    bool has_blinking_text() const override { return has_blinking_text_; }

    const FrameStats& last_frame_stats() const { return stats_; }
    const LineTextures& line_textures() const { return textures_; }

    std::uint16_t cell_width() const { return cell_width_; }
    std::uint16_t cell_height() const { return cell_height_; }
    const AlignmentMetrics& alignment() const { return alignment_; }
    bool subpixel_glyphs() const { return subpixel_glyphs_; }
    GLint max_texture_size() const { return max_texture_size_; }
    GlyphAtlas& atlas() { return *atlas_; }
    // Null for a program that was not built.
    const ShaderProgram* program(ShaderProgramId id) const;
    const ShaderProgram& circle_program();

  private:
    struct CellColors {
        ColorRGBA bg;
        ColorRGB fg;
    };
    // The block cursor's cell inside a line render.
    struct CursorCell {
        std::uint16_t column = 0;
        ColorRGBA bg;
        ColorRGB fg;
        double fade = 1.0;
    };
    struct LinePass {
        VtLine* line = nullptr;
        VtLineProxy* proxy = nullptr;
        std::size_t absolute_line = 0;
        LineVariant variant = LINE_VARIANT_MAIN;
        const CursorCell* cursor = nullptr;
        // Results.
        std::uint16_t first = 0;  // columns whose pixels changed, [first, end)
        std::uint16_t end = 0;
        bool blinking = false;
    };
    struct GlyphQuad {
        std::uint32_t page;
        float v[16];
    };
    struct RowRecord {
        std::uint64_t serial = 0;  // the texture shown, 0 for none
        std::uint16_t cells = 0;
        bool differs = true;  // from the frame before
    };
    struct FrameRecord {
        std::vector<RowRecord> rows;
        bool whole = true;
        bool cursor_drawn = false;
        DamageRect cursor;
    };
    // One more than the oldest buffer age that keeps partial damage.
    static constexpr std::size_t HISTORY_SLOTS = 7;
    static constexpr std::size_t MAX_DAMAGE_RECTS = 5;

    void compute_cell_size();
    void compute_alignment();
    void build_programs();
    void create_buffers();
    void create_atlas();
    void build_curly_texture();

    // Line textures (line_render.cpp).
    bool should_create_line_render_pass(const VtLine& line, const VtLineProxy& proxy);
    void render_line(Vt& vt, LinePass& pass);
    void pick_columns(const VtLine& line, LineTexture& texture, bool fresh, LinePass& pass,
                      std::uint16_t& clear_end, bool& scissored);
    CellColors colors_of(const Vt& vt, const VtCell& cell, bool selected,
                         const CursorCell* cursor) const;
    void render_backgrounds(const Vt& vt, const LinePass& pass, const VtCell* cells);
    void render_glyphs(const Vt& vt, const LinePass& pass, const VtCell* cells, std::size_t n,
                       std::uint16_t clip_first, std::uint16_t clip_end);
    bool add_glyph_quad(const VtCell& cell, std::uint16_t column, bool skip_blinking);
    void draw_glyph_run(std::uint16_t first, std::uint16_t end, const CellColors& colors,
                        std::uint16_t clip_first, std::uint16_t clip_end);
    void render_decorations(const Vt& vt, const LinePass& pass, const VtCell* cells);
    void draw_curly(std::uint16_t first, std::uint16_t end, ColorRGB color);
    void flash_rendered_line();
    bool selected(const Vt& vt, const LinePass& pass, std::uint16_t column) const;

    // Frame composition (frame.cpp).
    void shift_history(std::size_t rows);
    void draw_rows(Vt& vt, UiState& ui);
    void draw_cursor(Vt& vt, UiState& ui);
    void draw_overlays(const Vt& vt, const UiState& ui);
    void add_row_damage(std::size_t row, std::uint16_t first, std::uint16_t end);
    void add_damage(DamageRect rect);
    bool cursor_shows(const UiState& ui) const;
    void draw_debug_marks();
    void draw_unicode_entry(Vt& vt);

    // Drawing helpers.
    void use_program(ShaderProgramId id);
    void bind_array_buffer(GLuint buffer);
    void stream(const float* data, std::size_t floats);
    void draw_arrays(GLenum mode, GLint first, GLsizei count);
    void clear_box(GLint x, GLint y, GLsizei width, GLsizei height, ColorRGBA color);
    // A filled rectangle in window pixels (y down from the top), in the bound program.
    void fill_pixels(float x, float y, float width, float height);
    void ensure_row_quads(std::size_t rows);
    void set_viewport(GLint x, GLint y, GLsizei width, GLsizei height);

    FontSet& fonts_;
    Settings& settings_;
    bool initialized_ = false;
    bool subpixel_glyphs_ = false;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    float sx_ = 0;
    float sy_ = 0;
    GridSize grid_{};
    std::uint16_t cell_width_ = 0;
    std::uint16_t cell_height_ = 0;
    AlignmentMetrics alignment_;
    GLint max_texture_size_ = 0;
    std::array<std::optional<ShaderProgram>, PROGRAM_COUNT> programs_;
    GlBuffer stream_buffer_;  // one quad of four vec4 vertices
    GlBuffer corner_buffer_;  // the four corners of the device square
    GlBuffer row_buffer_;     // one quad per grid row
    GlFramebuffer framebuffer_;
    std::unique_ptr<GlyphAtlas> atlas_;

    GlTexture curly_texture_;
    std::uint32_t curly_height_ = 0;  // logical height in pixels
    LineTextures textures_;
    std::uint64_t frame_ = 0;
    bool has_blinking_text_ = false;
    float debug_angle_ = 0;
    FrameStats stats_;
    std::size_t row_quads_ = 0;
    std::size_t stream_capacity_ = 0;
    std::int32_t grid_x_ = 0;
    std::int32_t grid_y_ = 0;
    std::vector<GlyphQuad> glyph_quads_;
    std::vector<float> vertices_;
    std::vector<VtLine*> visible_;
    std::array<FrameRecord, HISTORY_SLOTS> history_;
    std::uint8_t previous_age_ = 0;
    std::uint8_t age_ = 0;
    bool partial_ = false;
    std::array<DamageRect, MAX_DAMAGE_RECTS> rects_{};
    std::size_t rect_count_ = 0;
};

}  // namespace zelto
