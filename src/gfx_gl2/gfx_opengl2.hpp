#pragma once

#include <array>
#include <memory>
#include <optional>

#include "config/settings.hpp"
#include "fonts/font_set.hpp"
#include "gfx_gl2/gfx.hpp"
#include "gfx_gl2/gl_objects.hpp"
#include "gfx_gl2/glyph_atlas.hpp"
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
    void compute_cell_size();
    void compute_alignment();
    void build_programs();
    void create_buffers();
    void create_atlas();

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
};

}  // namespace zelto
