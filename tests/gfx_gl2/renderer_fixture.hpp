#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fonts/font_resolver.hpp"
#include "fonts/font_set.hpp"
#include "gfx_gl2/gfx_opengl2.hpp"
#include "gl_test_context.hpp"

namespace zelto::test {

// Settings with the fonts resolved as at start-up ("Monospace") and the default exclusions.
inline Settings resolved_settings() {
    Settings s;
    s.exclude_lcd = {{0x2500, 0x25FF}, {0xE0B0, 0xE0BF}};
    resolve_fonts(s);
    return s;
}

inline std::string find_font_file(const char* family) {
    static FontConfigSession fc;
    auto match = fc.query(family, 0, "", false);
    return match && match->exact_family ? match->file : std::string();
}

// A renderer initialised in an offscreen context of the given size.
class RendererTest : public testing::Test {
  protected:
    void SetUp() override { settings = resolved_settings(); }

    void start(std::uint32_t width = 320, std::uint32_t height = 200) {
        context = std::make_unique<OffscreenGl>(width, height);
        fonts = std::make_unique<FontSet>(settings);
        gfx = std::make_unique<GfxOpenGL2>(*fonts, settings);
        gfx->set_gl_loader(OffscreenGl::loader());
        gfx->init_with_context();
        gfx->resize(width, height, gfx->get_grid_size({width, height}));
    }

    void TearDown() override {
        gfx.reset();
        fonts.reset();
        context.reset();
    }

    // The pixels of an atlas entry as uploaded: one byte (coverage) or four (RGBA) per pixel.
    std::vector<std::uint8_t> entry_pixels(const GlyphEntry& e) {
        const AtlasPage& page = gfx->atlas().pages().at(e.page);
        const bool rgba = page.kind != ATLAS_PAGE_GRAYSCALE;
        const unsigned bpp = rgba ? 4 : 1;
        const auto all =
            OffscreenGl::read_texture(page.texture.get(), page.width, page.height, rgba);
        const auto x0 = static_cast<std::uint32_t>(e.u0 * page.width + 0.5f);
        const auto y0 = static_cast<std::uint32_t>(e.v0 * page.height + 0.5f);
        std::vector<std::uint8_t> out;
        for (std::uint32_t y = 0; y < e.height; ++y) {
            const auto* row = &all[(std::size_t{y0 + y} * page.width + x0) * bpp];
            out.insert(out.end(), row, row + e.width * bpp);
        }
        return out;
    }

    Settings settings;
    std::unique_ptr<OffscreenGl> context;
    std::unique_ptr<FontSet> fonts;
    std::unique_ptr<GfxOpenGL2> gfx;
};

}  // namespace zelto::test
