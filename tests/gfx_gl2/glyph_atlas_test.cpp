#include <gtest/gtest.h>

#include <algorithm>

#include "fonts/box_glyphs.hpp"
#include "renderer_fixture.hpp"

namespace zelto::test {
namespace {

class GlyphAtlasTest : public RendererTest {
  protected:
    GlyphAtlas& atlas() { return gfx->atlas(); }
    const AtlasPage& page_of(const GlyphEntry& e) { return atlas().pages().at(e.page); }
    std::optional<GlyphEntry> glyph(char32_t cp, std::uint8_t style = GLYPH_STYLE_NORMAL,
                                    char32_t mark = 0) {
        return atlas().get_glyph(GlyphKey(cp, style, mark));
    }
    // First and last rows with ink of a coverage image.
    static std::pair<int, int> ink_rows(const std::vector<std::uint8_t>& pixels, std::uint32_t w,
                                        unsigned bpp = 1, unsigned channel = 0) {
        int first = -1, last = -1;
        for (std::size_t i = channel; i < pixels.size(); i += bpp) {
            if (pixels[i] < 100) continue;
            const int row = static_cast<int>(i / (w * bpp));
            if (first < 0) first = row;
            last = row;
        }
        return {first, last};
    }
};

bool same_entry(const GlyphEntry& a, const GlyphEntry& b) {
    return a.texture == b.texture && a.u0 == b.u0 && a.v0 == b.v0 && a.width == b.width &&
           a.height == b.height;
}

TEST_F(GlyphAtlasTest, AsciiGlyphsGetDisjointEntriesAndHitAgain) {
    settings.current_lcd_order = LCD_MODE_NONE;
    start();
    std::vector<GlyphEntry> entries;
    for (char32_t c = '!'; c <= '~'; ++c) {
        const auto e = glyph(c);
        ASSERT_TRUE(e) << char(c);
        EXPECT_GT(e->width * e->height, 0u);
        EXPECT_EQ(page_of(*e).kind, ATLAS_PAGE_GRAYSCALE);
        entries.push_back(*e);
    }
    const auto space = glyph(' ');
    ASSERT_TRUE(space);
    EXPECT_EQ(space->width, 0u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_TRUE(same_entry(*glyph(U'!' + static_cast<char32_t>(i)), entries[i]));
        for (std::size_t j = i + 1; j < entries.size(); ++j) {
            const auto& a = entries[i];
            const auto& b = entries[j];
            const bool overlap =
                a.texture == b.texture && a.u0 < b.u1 && b.u0 < a.u1 && a.v0 < b.v1 && b.v0 < a.v1;
            ASSERT_FALSE(overlap) << i << " " << j;
        }
    }
    // What lies on the page is what the font rasterised.
    const GlyphBitmap* a = fonts->glyph_for('A', FONT_STYLE_REGULAR);
    std::vector<std::uint8_t> expected;
    for (int y = 0; y < a->height; ++y)
        expected.insert(expected.end(), a->data + y * a->pitch, a->data + y * a->pitch + a->width);
    EXPECT_EQ(entry_pixels(entries['A' - '!']), expected);
}

TEST_F(GlyphAtlasTest, BgrSubpixelGlyphsAreStoredInRgbOrder) {
    settings.current_lcd_order = LCD_MODE_H_BGR;
    start();
    const auto e = glyph('W');
    ASSERT_TRUE(e);
    EXPECT_EQ(page_of(*e).kind, ATLAS_PAGE_SUBPIXEL);
    const GlyphBitmap* w = fonts->glyph_for('W', FONT_STYLE_REGULAR);
    ASSERT_EQ(w->format, LCD_MODE_H_BGR);
    const auto pixels = entry_pixels(*e);  // RGBA read back
    bool differs = false;
    for (int y = 0; y < w->height; ++y)
        for (int x = 0; x < w->width; ++x) {
            const std::uint8_t* src = w->data + y * w->pitch + x * 3;
            const std::uint8_t* dst = &pixels[(y * e->width + x) * 4];
            ASSERT_EQ(dst[0], src[2]);
            ASSERT_EQ(dst[1], src[1]);
            ASSERT_EQ(dst[2], src[0]);
            differs |= src[0] != src[2];
        }
    EXPECT_TRUE(differs);  // the glyph has colour fringes, so the swap was observable
}

TEST_F(GlyphAtlasTest, StylesAndCombiningCharactersAreDistinctEntries) {
    start();
    const auto regular = glyph('a');
    const auto bold = glyph('a', GLYPH_STYLE_BOLD);
    const auto accented = glyph('a', GLYPH_STYLE_NORMAL, 0x301);
    ASSERT_TRUE(regular && bold && accented);
    EXPECT_FALSE(same_entry(*regular, *bold));
    EXPECT_FALSE(same_entry(*regular, *accented));
    EXPECT_TRUE(same_entry(*accented, *glyph('a', GLYPH_STYLE_NORMAL, 0x301)));
    EXPECT_TRUE(GlyphKey('a', 0, 0, 0x302) == GlyphKey('a', 0));
    EXPECT_FALSE(GlyphKey('a', 0, 0x301, 0x302) == GlyphKey('a', 0, 0x301));
}

TEST_F(GlyphAtlasTest, BoldWithoutBoldFilesIsServedFromRegularEntries) {
    for (PrimaryFont& f : settings.font) f.bold_file.clear();
    settings.has_bold_font = false;
    start();
    const auto regular = glyph('k');
    const std::size_t count = atlas().entry_count();
    const auto bold = glyph('k', GLYPH_STYLE_BOLD);
    ASSERT_TRUE(regular && bold);
    EXPECT_TRUE(same_entry(*regular, *bold));
    EXPECT_EQ(atlas().entry_count(), count);
}

TEST_F(GlyphAtlasTest, SymbolGlyphIsStoredOnceForEveryStyle) {
    UnstyledFont symbol;
    symbol.family = "DejaVu Sans";
    symbol.file = find_font_file("DejaVu Sans");
    symbol.ranges = {{0x2600, 0x26FF}};
    settings.font_symbol = {symbol};
    settings.font[0].ranges = {{0, 0x25FF}};
    start();
    const std::size_t count = atlas().entry_count();
    const auto bold = glyph(0x2602, GLYPH_STYLE_BOLD);
    const auto italic = glyph(0x2602, GLYPH_STYLE_ITALIC);
    ASSERT_TRUE(bold && italic);
    EXPECT_TRUE(same_entry(*bold, *italic));
    EXPECT_EQ(atlas().entry_count(), count + 1);
}

TEST_F(GlyphAtlasTest, MissingGlyphWarnsOnce) {
    start();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(glyph(0x10FFFD));
    EXPECT_FALSE(glyph(0x10FFFD));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Missing glyph u+10FFFD\n"), std::string::npos);
    EXPECT_EQ(err.find("Missing glyph"), err.rfind("Missing glyph"));
}

TEST_F(GlyphAtlasTest, FullShelvesContinueOnNewShelvesThenNewPages) {
    settings.current_lcd_order = LCD_MODE_NONE;
    settings.font_size = 48;
    start();
    int pages_seen = 0;
    float last_v0 = -1;
    int shelves = 0;
    GLuint first_texture = 0;
    testing::internal::CaptureStderr();  // the font lacks some of these
    for (char32_t c = 0x21; c < 0x3000 && pages_seen < 2; ++c) {
        const auto e = glyph(c);
        if (!e || e->width == 0) continue;
        if (first_texture == 0) first_texture = e->texture;
        if (e->texture != first_texture) {
            ++pages_seen;
            EXPECT_EQ(e->v0, 0.0f);  // a new page starts at the top
            break;
        }
        if (e->v0 != last_v0) ++shelves, last_v0 = e->v0;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(pages_seen, 1);
    EXPECT_GT(shelves, 3);
    std::size_t grayscale = 0;
    for (const AtlasPage& p : atlas().pages()) grayscale += p.kind == ATLAS_PAGE_GRAYSCALE;
    EXPECT_EQ(grayscale, 3u);  // the built-in page and two glyph pages
}

TEST_F(GlyphAtlasTest, MemoryBudgetFlushesAndStartsAgain) {
    settings.current_lcd_order = LCD_MODE_NONE;
    settings.font_size = 48;
    start();
    const std::size_t page = std::size_t{atlas().page_size()} * atlas().page_size();
    atlas().set_memory_budget(2 * page);
    int flushes_announced = 0;
    atlas().set_before_flush([&] { ++flushes_announced; });
    testing::internal::CaptureStderr();
    for (char32_t c = 0x21; c < 0x3000 && atlas().flush_count() == 0; ++c) glyph(c);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(atlas().flush_count(), 1u);
    EXPECT_EQ(flushes_announced, 1);
    EXPECT_LE(atlas().memory_bytes(), 2 * page);
    EXPECT_NE(atlas().builtin_page(), nullptr);
    const auto a = glyph('A');
    ASSERT_TRUE(a);
    EXPECT_GT(a->width, 0u);
}

TEST_F(GlyphAtlasTest, GlyphLargerThanAPageIsMissingWithAWarning) {
    settings.current_lcd_order = LCD_MODE_NONE;
    settings.font_size = 200;
    settings.current_dpi = 600;
    testing::internal::CaptureStderr();
    start();
    const bool has_builtins = atlas().builtin_page() != nullptr;
    EXPECT_FALSE(glyph('W'));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("does not fit an atlas page"), std::string::npos) << err;
    EXPECT_FALSE(has_builtins);
    EXPECT_NE(err.find("Built-in glyphs need a "), std::string::npos);
}

TEST_F(GlyphAtlasTest, BuiltinGlyphsLieOnTheirPageAsDrawn) {
    settings.glyph_align.x_offset = 2;
    start();
    const auto* page = atlas().builtin_page();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->kind, ATLAS_PAGE_GRAYSCALE);
    for (char32_t cp : {0x2500, 0x253C, 0x2588, 0x2593, 0xE0B0}) {
        const auto e = glyph(cp, GLYPH_STYLE_BOLD_ITALIC);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->texture, page->texture.get());
        EXPECT_EQ(e->width, gfx->cell_width());
        EXPECT_EQ(e->height, gfx->cell_height());
        // At the cell's origin: y = baseline - top, x = left + the alignment offset.
        EXPECT_EQ(e->top, static_cast<float>(gfx->alignment().baseline));
        EXPECT_EQ(e->left + gfx->alignment().glyph_x_offset, 0.0f);
        EXPECT_EQ(entry_pixels(*e), draw_builtin_glyph(cp, gfx->cell_width(), gfx->cell_height()));
    }
}

TEST_F(GlyphAtlasTest, FontBoxCharsLeavesBoxDrawingToTheFonts) {
    settings.font_box_chars = true;
    start();
    EXPECT_EQ(atlas().builtin_page(), nullptr);
    const auto e = glyph(0x2500);
    ASSERT_TRUE(e);
    EXPECT_NE(e->height, gfx->cell_height());
}

TEST_F(GlyphAtlasTest, AccentComposedAboveTheBaseKeepsTheDescender) {
    settings.current_lcd_order = LCD_MODE_NONE;
    start();
    const auto q = glyph('q');
    const auto composed = glyph('q', GLYPH_STYLE_NORMAL, 0x301);
    ASSERT_TRUE(q && composed);
    EXPECT_EQ(composed->width, std::max<std::uint32_t>(q->width, gfx->cell_width()));
    const int baseline = gfx->alignment().baseline;
    // Rows in cell coordinates.
    const auto [q_first, q_last] = ink_rows(entry_pixels(*q), q->width);
    const int q_top = baseline - static_cast<int>(q->top) + q_first;
    const int q_bottom = baseline - static_cast<int>(q->top) + q_last;
    const auto [c_first, c_last] = ink_rows(entry_pixels(*composed), composed->width);
    const int c_top = baseline - static_cast<int>(composed->top) + c_first;
    const int c_bottom = baseline - static_cast<int>(composed->top) + c_last;
    EXPECT_LT(c_top, q_top - 1);    // the accent's ink is above the q
    EXPECT_EQ(c_bottom, q_bottom);  // and the q's tail stays where it was
    EXPECT_GT(c_bottom, baseline);
}

TEST_F(GlyphAtlasTest, SubpixelCompositionKeepsTheBaseSubpixels) {
    settings.current_lcd_order = LCD_MODE_H_RGB;
    start();
    const GlyphBitmap* base = fonts->glyph_for('e', FONT_STYLE_REGULAR);
    ASSERT_EQ(base->format, LCD_MODE_H_RGB);
    std::vector<std::uint8_t> bottom_row(
        base->data + (base->height - 1) * base->pitch,
        base->data + (base->height - 1) * base->pitch + base->width * 3);
    const int base_left = base->left, base_top = base->top, base_height = base->height;
    const auto composed = glyph('e', GLYPH_STYLE_NORMAL, 0x301);
    ASSERT_TRUE(composed);
    EXPECT_EQ(page_of(*composed).kind, ATLAS_PAGE_SUBPIXEL);
    const auto pixels = entry_pixels(*composed);
    const int x = base_left - static_cast<int>(composed->left);
    // The composed image's top lies composed->top above the baseline, the base's top base_top.
    const int image_row = static_cast<int>(composed->top) - base_top + base_height - 1;
    ASSERT_GE(x, 0);
    ASSERT_LT(image_row, static_cast<int>(composed->height));
    for (std::size_t i = 0; i < bottom_row.size() / 3; ++i) {
        const std::uint8_t* p = &pixels[(image_row * composed->width + x + i) * 4];
        ASSERT_EQ(p[0], bottom_row[i * 3]) << i;
        ASSERT_EQ(p[1], bottom_row[i * 3 + 1]);
        ASSERT_EQ(p[2], bottom_row[i * 3 + 2]);
    }
}

TEST_F(GlyphAtlasTest, MissingCombiningMarkIsLeftOutOnce) {
    start();
    testing::internal::CaptureStderr();
    const auto e = glyph('a', GLYPH_STYLE_NORMAL, 0x10FFFD);
    glyph('b', GLYPH_STYLE_NORMAL, 0x10FFFD);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(e);
    EXPECT_GT(e->width, 0u);
    EXPECT_NE(err.find("Missing combining glyph u+10FFFD\n"), std::string::npos);
    EXPECT_EQ(err.find("Missing combining"), err.rfind("Missing combining"));
}

class ColorGlyphTest : public GlyphAtlasTest {
  protected:
    void SetUp() override {
        GlyphAtlasTest::SetUp();
        UnstyledFont color;
        color.family = "Noto Color Emoji";
        color.file = find_font_file("Noto Color Emoji");
        if (color.file.empty()) GTEST_SKIP() << "no colour emoji font installed";
        settings.font_color = {color};
        start();
    }
};

TEST_F(ColorGlyphTest, EmojiIsScaledToTheCellOnAColourPage) {
    const auto e = glyph(0x1F600);
    ASSERT_TRUE(e);
    EXPECT_EQ(page_of(*e).kind, ATLAS_PAGE_COLOR);
    EXPECT_EQ(e->height, gfx->cell_height());
    EXPECT_NEAR(e->width, gfx->cell_height(), 3);  // the face is about square
    const auto pixels = entry_pixels(*e);
    EXPECT_LT(pixels[3], 40);  // transparent corner
    const std::size_t centre = ((e->height / 2) * e->width + e->width / 2) * 4;
    EXPECT_GT(pixels[centre + 3], 200);
    EXPECT_GT(pixels[centre + 0], 150);  // yellow: strong red and green
    EXPECT_GT(pixels[centre + 1], 100);
}

TEST_F(ColorGlyphTest, EmojiWithCombiningMarkKeepsTransparentBackground) {
    const auto e = glyph(0x1F600, GLYPH_STYLE_NORMAL, 0x301);
    ASSERT_TRUE(e);
    EXPECT_EQ(page_of(*e).kind, ATLAS_PAGE_COLOR);
    EXPECT_LE(e->height, gfx->cell_height());
    const auto pixels = entry_pixels(*e);
    EXPECT_LT(pixels[3], 40);
    EXPECT_LT(pixels[(e->width * e->height - 1) * 4 + 3], 40);
    const std::size_t centre = ((e->height / 2) * e->width + e->width / 2) * 4;
    EXPECT_GT(pixels[centre + 3], 200);
}

}  // namespace
}  // namespace zelto::test
