#include <gtest/gtest.h>

#include "fonts/box_glyphs.hpp"
#include "renderer_fixture.hpp"
#include "terminal/vt.hpp"

namespace zelto::test {
namespace {

using GfxOpenGL2Test = RendererTest;

TEST_F(GfxOpenGL2Test, AllNineProgramsCompileAndShareAttributeLocationZero) {
    settings.cursor_anim.blink_fade = true;
    start();
    gfx->circle_program();
    for (int id = 0; id < PROGRAM_COUNT; ++id) {
        const ShaderProgram* program = gfx->program(static_cast<ShaderProgramId>(id));
        ASSERT_NE(program, nullptr) << id;
        EXPECT_NE(program->id(), 0u);
        EXPECT_EQ(program->attribute.location, 0) << program->attribute.name;
    }
    EXPECT_EQ(gfx->program(PROGRAM_TINTED_TEXTURE)->uniforms[2].name, "offset");
    EXPECT_EQ(gfx->program(PROGRAM_CIRCLE)->uniforms[2].name, "cir");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GfxOpenGL2Test, AlphaLineProgramOnlyWithBlinkFade) {
    start();
    EXPECT_EQ(gfx->program(PROGRAM_LINE_FILL_ALPHA), nullptr);
    EXPECT_EQ(gfx->program(PROGRAM_CIRCLE), nullptr);
    EXPECT_NE(gfx->program(PROGRAM_LINE_FILL), nullptr);
}

TEST_F(GfxOpenGL2Test, DebugGfxNamesTheGlImplementation) {
    settings.debug_gfx = true;
    testing::internal::CaptureStderr();
    start();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("GL_VENDOR = "), std::string::npos);
    EXPECT_NE(err.find("GL_RENDERER = llvmpipe"), std::string::npos) << err;
    EXPECT_NE(err.find("GL_VERSION = "), std::string::npos);
    EXPECT_NE(err.find("GL_SHADING_LANGUAGE_VERSION = "), std::string::npos);
}

TEST_F(GfxOpenGL2Test, EntryPointsAreLoadedOncePerProcess) {
    start();
    gfx.reset();
    int lookups = 0;
    gfx = std::make_unique<GfxOpenGL2>(*fonts, settings);
    gfx->set_gl_loader([&](const char* name) {
        ++lookups;
        return OffscreenGl::loader()(name);
    });
    gfx->init_with_context();
    EXPECT_EQ(lookups, 0);
}

TEST_F(GfxOpenGL2Test, GridAndPixelSizesAroundTheCell) {
    settings.padding.extra = 3;
    settings.glyph_padding.horizontal = 1;
    settings.glyph_padding.vertical = 2;
    start();
    const std::uint32_t w = gfx->cell_width(), h = gfx->cell_height(), p = 3;
    EXPECT_EQ(w, fonts->advance() + 1u);
    EXPECT_EQ(h, fonts->line_height() + 2u);
    EXPECT_EQ(gfx->get_grid_size({w + 2 * p - 1, 500}).cols, 0u);
    EXPECT_EQ(gfx->get_grid_size({w + 2 * p - 1, 500}).rows, 0u);
    EXPECT_EQ(gfx->get_grid_size({w + 2 * p, 500}).cols, 1u);
    EXPECT_EQ(gfx->get_grid_size({2 * (w + p) - 1, 500}).cols, 1u);
    EXPECT_EQ(gfx->get_grid_size({2 * (w + p), 500}).cols, 2u);
    for (std::uint32_t size = 1; size < 400; size += 7) {
        const GridSize grid = gfx->get_grid_size({size, size + 3});
        const PixelSize pixels = gfx->get_pixel_size(grid);
        if (grid.cols == 0) continue;
        EXPECT_LE(pixels.width, size);
        EXPECT_LE(pixels.height, size + 3);
    }
    EXPECT_EQ(gfx->get_pixel_size({80, 24}).width, 80 * w + 2 * p);
    EXPECT_EQ(gfx->get_pixel_size({80, 24}).height, 24 * h + 2 * p);
}

TEST_F(GfxOpenGL2Test, BaselineLiesInsideTheCell) {
    start();
    EXPECT_GT(gfx->alignment().baseline, gfx->cell_height() / 2);
    EXPECT_LT(gfx->alignment().baseline, gfx->cell_height());
    EXPECT_EQ(gfx->alignment().columns_fitting, 320u / gfx->cell_width());
    EXPECT_TRUE(gfx->subpixel_glyphs());  // the default order is horizontal RGB
}

TEST_F(GfxOpenGL2Test, DrawClearsToTheBackground) {
    settings.bg_color = {10, 20, 30, 255};
    start(64, 32);
    zelto::settings() = settings;  // the terminal takes its colours from there
    UiState ui;
    VtCallbacks callbacks;
    Vt vt(8, 2, callbacks);
    const auto damage = gfx->draw(vt, ui, 0);
    zelto::settings() = Settings{};
    EXPECT_FALSE(damage.has_value());
    const auto pixels = context->read_window();
    EXPECT_EQ(pixels[0], 10);
    EXPECT_EQ(pixels[1], 20);
    EXPECT_EQ(pixels[2], 30);
    EXPECT_EQ(pixels[pixels.size() - 2], 30);
}

TEST_F(GfxOpenGL2Test, ReloadFontRebuildsTheAtlasAtTheNewSize) {
    start();
    const auto old_height = gfx->cell_height();
    ASSERT_TRUE(gfx->atlas().get_glyph(GlyphKey('a', GLYPH_STYLE_NORMAL)));
    settings.font_size = 18;
    ASSERT_TRUE(fonts->reload());
    gfx->reload_font();
    EXPECT_GT(gfx->cell_height(), old_height);
    const auto* builtin = gfx->atlas().builtin_page();
    ASSERT_NE(builtin, nullptr);
    EXPECT_EQ(builtin->height % gfx->cell_height(), 0u);
    EXPECT_EQ(gfx->atlas().entry_count(), builtin_glyph_code_points().size());
}

}  // namespace
}  // namespace zelto::test
