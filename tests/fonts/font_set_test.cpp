#include "fonts/font_set.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fonts/font_resolver.hpp"

namespace zelto {
namespace {

std::string find_font(const char* family, const char* style = "") {
    static FontConfigSession fc;
    auto match = fc.query(family, 0, style, false);
    return match && match->exact_family ? match->file : std::string();
}

const std::string& mono_regular() {
    static const std::string file = find_font("DejaVu Sans Mono");
    return file;
}

Settings settings_with(const std::string& regular, LcdMode order = LCD_MODE_NONE) {
    Settings s;
    PrimaryFont font;
    font.family = "test";
    font.regular_file = regular;
    s.font.push_back(font);
    s.exclude_lcd = {{0x2500, 0x25FF}, {0xE0B0, 0xE0BF}};
    s.current_lcd_order = order;
    s.fixed_lcd_order = order;
    return s;
}

bool has_ink(const GlyphBitmap& g) {
    const unsigned row_bytes = g.width * bytes_per_pixel(g.format);
    for (int y = 0; y < g.height; ++y)
        for (unsigned x = 0; x < row_bytes; ++x)
            if (g.data[y * g.pitch + x] > 128) return true;
    return false;
}

TEST(FontSet, CellMetricsFollowSizeAndDpi) {
    ASSERT_FALSE(mono_regular().empty());
    Settings s = settings_with(mono_regular());
    FontSet small(s);
    // DejaVu Sans Mono at 9 pt, 96 DPI: a 12 px em, 1233/2048 em advance.
    EXPECT_EQ(small.advance(), 7);
    // The advance of "(" and the size's line height, truncated to whole pixels.
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Face(library, mono_regular().c_str(), 0, &face), 0);
    ASSERT_EQ(FT_Set_Char_Size(face, 9 * 64, 9 * 64, 96, 96), 0);
    ASSERT_EQ(FT_Load_Char(face, '(', FT_LOAD_DEFAULT), 0);
    EXPECT_EQ(small.advance(), face->glyph->advance.x / 64);
    EXPECT_EQ(small.line_height(), face->size->metrics.height / 64);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    EXPECT_GE(small.line_height(), 13);
    EXPECT_LE(small.line_height(), 15);

    Settings twice = settings_with(mono_regular());
    twice.current_dpi = 192;
    FontSet high_dpi(twice);
    Settings big = settings_with(mono_regular());
    big.font_size = 18;
    FontSet large(big);
    EXPECT_EQ(high_dpi.advance(), large.advance());
    EXPECT_EQ(high_dpi.line_height(), large.line_height());
    EXPECT_NEAR(large.advance(), 2 * small.advance(), 1);
    EXPECT_NEAR(large.line_height(), 2 * small.line_height(), 2);
}

TEST(FontSet, SizeOffsetBelowOnePointOpensAtOnePoint) {
    Settings s = settings_with(mono_regular());
    s.font[0].size_offset = -20;
    FontSet fonts(s);
    EXPECT_TRUE(fonts.primary_fonts()[0].regular().loaded);
    EXPECT_LE(fonts.line_height(), 3);
}

TEST(FontSet, GrayscaleGlyphHasInkAndBearings) {
    Settings s = settings_with(mono_regular());
    FontSet fonts(s);
    const GlyphBitmap* a = fonts.glyph_for(U'A', FONT_STYLE_REGULAR);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->format, LCD_MODE_NONE);
    EXPECT_EQ(a->alignment, 1);
    EXPECT_EQ(a->style, FONT_STYLE_REGULAR);
    EXPECT_GE(a->width, 5);
    EXPECT_LE(a->width, 8);
    EXPECT_GE(a->height, 8);
    EXPECT_LE(a->height, 10);
    EXPECT_EQ(a->top, a->height);  // 'A' sits on the baseline
    EXPECT_TRUE(has_ink(*a));
    // 'A' is widest at its foot: the bottom row has ink at both ends.
    const std::uint8_t* bottom = a->data + (a->height - 1) * a->pitch;
    EXPECT_GT(std::max(bottom[0], bottom[1]), 100);
    EXPECT_GT(std::max(bottom[a->width - 1], bottom[a->width - 2]), 100);
}

struct LcdCase {
    LcdMode order;
    LcdMode format;
};

class FontSetLcd : public testing::TestWithParam<LcdCase> {};

TEST_P(FontSetLcd, SubpixelGlyphKeepsPixelSize) {
    Settings gray = settings_with(mono_regular());
    FontSet gray_fonts(gray);
    const GlyphBitmap reference = *gray_fonts.glyph_for(U'M', FONT_STYLE_REGULAR);

    Settings s = settings_with(mono_regular(), GetParam().order);
    FontSet fonts(s);
    EXPECT_EQ(fonts.lcd_mode(), GetParam().order);
    const GlyphBitmap* m = fonts.glyph_for(U'M', FONT_STYLE_REGULAR);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->format, GetParam().format);
    EXPECT_EQ(m->alignment, 4);
    EXPECT_EQ(m->pitch % 4, 0u);
    EXPECT_GE(m->pitch, m->width * 3u);
    // The LCD filter widens the glyph by a pixel or so on each side, never by a factor of 3.
    EXPECT_NEAR(m->width, reference.width, 2);
    EXPECT_NEAR(m->height, reference.height, 2);
    EXPECT_NEAR(m->left, reference.left, 1);
    EXPECT_NEAR(m->top, reference.top, 1);
    EXPECT_TRUE(has_ink(*m));
}

INSTANTIATE_TEST_SUITE_P(Orders, FontSetLcd,
                         testing::Values(LcdCase{LCD_MODE_H_RGB, LCD_MODE_H_RGB},
                                         LcdCase{LCD_MODE_H_BGR, LCD_MODE_H_BGR},
                                         LcdCase{LCD_MODE_V_RGB, LCD_MODE_V_RGB},
                                         LcdCase{LCD_MODE_V_BGR, LCD_MODE_V_BGR}));

TEST(FontSet, ExcludedRangeRendersGrayscaleOnSubpixelFace) {
    Settings s = settings_with(mono_regular(), LCD_MODE_H_RGB);
    FontSet fonts(s);
    const GlyphBitmap* block = fonts.glyph_for(U'\u2588', FONT_STYLE_REGULAR);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->format, LCD_MODE_NONE);
    EXPECT_EQ(fonts.glyph_for(U'x', FONT_STYLE_REGULAR)->format, LCD_MODE_H_RGB);
}

TEST(FontSet, MonochromeBitmapFontRendersOnOffEvenInRgbOrder) {
    const std::string terminus = find_font("Terminus");
    if (terminus.empty()) GTEST_SKIP() << "no Terminus bitmap font installed";
    Settings s = settings_with(terminus, LCD_MODE_H_RGB);
    s.font_size = 7;  // no strike of that size: the last strike is selected
    FontSet fonts(s);
    EXPECT_EQ(fonts.lcd_mode(), LCD_MODE_NONE);
    EXPECT_GT(fonts.line_height(), 10);
    const GlyphBitmap* a = fonts.glyph_for(U'a', FONT_STYLE_REGULAR);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->format, LCD_MODE_NONE);
    EXPECT_TRUE(has_ink(*a));
    for (int y = 0; y < a->height; ++y)
        for (int x = 0; x < a->width; ++x) {
            const std::uint8_t v = a->data[y * a->pitch + x];
            ASSERT_TRUE(v == 0 || v == 255) << int(v);
        }
}

TEST(FontSet, StyleChoiceFallsBackToPresentFaces) {
    Settings s = settings_with(mono_regular());
    s.font[0].italic_file = find_font("DejaVu Sans Mono", "Oblique");
    ASSERT_FALSE(s.font[0].italic_file.empty());
    FontSet fonts(s);
    EXPECT_EQ(fonts.glyph_for(U'a', FONT_STYLE_BOLD)->style, FONT_STYLE_REGULAR);
    EXPECT_EQ(fonts.glyph_for(U'a', FONT_STYLE_ITALIC)->style, FONT_STYLE_ITALIC);
    EXPECT_EQ(fonts.glyph_for(U'a', FONT_STYLE_BOLD_ITALIC)->style, FONT_STYLE_ITALIC);
}

TEST(FontSet, FallbackWalkHonoursRangesAndMarksUnstyledGlyphs) {
    Settings s = settings_with(mono_regular());
    s.font[0].ranges = {{'0', '9'}};
    UnstyledFont broken;
    broken.family = "broken";
    broken.file = "/nonexistent/font.ttf";
    UnstyledFont symbol;
    symbol.family = "DejaVu Sans";
    symbol.file = find_font("DejaVu Sans");
    symbol.ranges = {{'A', 'A'}};
    s.font_symbol = {broken, symbol};
    s.preload_all_fonts = false;
    FontSet fonts(s);
    EXPECT_FALSE(fonts.symbol_faces()[1].loaded);  // opened only when first needed

    EXPECT_EQ(fonts.glyph_for(U'5', FONT_STYLE_BOLD)->style, FONT_STYLE_REGULAR);
    testing::internal::CaptureStderr();
    const GlyphBitmap* a = fonts.glyph_for(U'A', FONT_STYLE_BOLD);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->style, FONT_STYLE_NONE);
    EXPECT_EQ(fonts.glyph_for(U'B', FONT_STYLE_REGULAR), nullptr);  // outside every range
    EXPECT_EQ(fonts.glyph_for(U'A', FONT_STYLE_REGULAR)->style, FONT_STYLE_NONE);
    const std::string err = testing::internal::GetCapturedStderr();
    // The broken file is warned about once, then skipped.
    EXPECT_NE(err.find("failed to load font file /nonexistent/font.ttf"), std::string::npos);
    EXPECT_EQ(err.find("failed to load font file"), err.rfind("failed to load font file"));
    EXPECT_TRUE(fonts.symbol_faces()[0].unusable);
}

TEST(FontSet, ColourEmojiComesFromTheColourListAsBgra) {
    const std::string emoji = find_font("Noto Color Emoji");
    if (emoji.empty()) GTEST_SKIP() << "no colour emoji font installed";
    Settings s = settings_with(mono_regular());
    UnstyledFont color;
    color.family = "Noto Color Emoji";
    color.file = emoji;
    color.ranges = {{0x1F600, 0x1F64F}};
    s.font_color = {color};
    FontSet fonts(s);
    EXPECT_EQ(fonts.glyph_for(U'\U0001F680', FONT_STYLE_REGULAR), nullptr);  // outside its range
    const GlyphBitmap* smile = fonts.glyph_for(U'\U0001F600', FONT_STYLE_REGULAR);
    ASSERT_NE(smile, nullptr);
    EXPECT_EQ(smile->format, LCD_MODE_COLOR);
    EXPECT_EQ(smile->alignment, 4);
    EXPECT_EQ(smile->style, FONT_STYLE_NONE);
    EXPECT_EQ(smile->pitch, smile->width * 4u);
    // Opaque face, transparent corners.
    const std::uint8_t* centre =
        smile->data + (smile->height / 2) * smile->pitch + smile->width / 2 * 4;
    EXPECT_EQ(centre[3], 255);
    EXPECT_EQ(smile->data[3], 0);
}

TEST(FontSet, FailedReloadKeepsTheOldSize) {
    const auto dir = std::filesystem::temp_directory_path() / "zelto-fontset-reload";
    std::filesystem::create_directories(dir);
    const auto copy = dir / "mono.ttf";
    std::filesystem::copy_file(mono_regular(), copy,
                               std::filesystem::copy_options::overwrite_existing);
    Settings s = settings_with(copy.string());
    FontSet fonts(s);
    const auto height = fonts.line_height();

    s.font_size = 12;
    EXPECT_TRUE(fonts.reload());
    EXPECT_GT(fonts.line_height(), height);
    const auto bigger_height = fonts.line_height();

    // The file vanishes while the terminal runs; the user then enlarges the font.
    std::filesystem::remove(copy);
    s.font_size = 20;
    testing::internal::CaptureStderr();
    const bool reloaded = fonts.reload();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(reloaded);
    EXPECT_NE(err.find("failed to load font file"), std::string::npos);
    EXPECT_EQ(s.font_size, 12);
    EXPECT_EQ(fonts.line_height(), bigger_height);
    const GlyphBitmap* a = fonts.glyph_for(U'A', FONT_STYLE_REGULAR);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(has_ink(*a));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zelto

namespace zelto {
namespace {

FT_Bitmap make_bitmap(unsigned char mode, unsigned width, unsigned rows, int pitch,
                      std::vector<std::uint8_t>& storage) {
    FT_Bitmap b{};
    b.pixel_mode = mode;
    b.width = width;
    b.rows = rows;
    b.pitch = pitch;
    b.buffer = storage.data();
    return b;
}

TEST(NormaliseBitmap, MonochromeRowsFollowANegativePitch) {
    // Two rows of 10 pixels, 2 bytes each, stored bottom row first.
    std::vector<std::uint8_t> storage = {0b00000000, 0b01000000,   // bottom: pixel 9
                                         0b10000000, 0b00000000};  // top: pixel 0
    const FT_Bitmap b = make_bitmap(FT_PIXEL_MODE_MONO, 10, 2, -2, storage);
    std::vector<std::uint8_t> pixels;
    const auto out = normalise_bitmap(b, false, pixels);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format, LCD_MODE_NONE);
    EXPECT_EQ(out->width, 10);
    EXPECT_EQ(out->pitch, 10u);
    std::vector<std::uint8_t> expected(20, 0);
    expected[0] = 255;
    expected[19] = 255;
    EXPECT_EQ(std::vector<std::uint8_t>(out->data, out->data + 20), expected);
}

TEST(NormaliseBitmap, TwoAndFourBitGraysBecomeEightBit) {
    std::vector<std::uint8_t> two = {0b00011011};  // 0, 1, 2, 3
    std::vector<std::uint8_t> pixels;
    auto out = normalise_bitmap(make_bitmap(FT_PIXEL_MODE_GRAY2, 4, 1, 1, two), false, pixels);
    ASSERT_TRUE(out);
    EXPECT_EQ(std::vector<std::uint8_t>(out->data, out->data + 4),
              (std::vector<std::uint8_t>{0, 85, 170, 255}));
    std::vector<std::uint8_t> four = {0x0F, 0x80};
    out = normalise_bitmap(make_bitmap(FT_PIXEL_MODE_GRAY4, 3, 1, 2, four), false, pixels);
    ASSERT_TRUE(out);
    EXPECT_EQ(std::vector<std::uint8_t>(out->data, out->data + 3),
              (std::vector<std::uint8_t>{0, 255, 136}));
}

TEST(NormaliseBitmap, VerticalLcdRowsAreRegroupedIntoPixels) {
    // One pixel row of two pixels: three subpixel rows (R, G, B), pitch padded to 4.
    std::vector<std::uint8_t> storage = {1, 2, 0, 0, 3, 4, 0, 0, 5, 6, 0, 0};
    std::vector<std::uint8_t> pixels;
    const auto out =
        normalise_bitmap(make_bitmap(FT_PIXEL_MODE_LCD_V, 2, 3, 4, storage), true, pixels);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format, LCD_MODE_V_BGR);
    EXPECT_EQ(out->height, 1);
    EXPECT_EQ(out->pitch, 8u);
    EXPECT_EQ(out->alignment, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(out->data, out->data + 6),
              (std::vector<std::uint8_t>{1, 3, 5, 2, 4, 6}));
}

TEST(NormaliseBitmap, HorizontalLcdAndColourKeepTheirBytes) {
    std::vector<std::uint8_t> lcd = {9, 8, 7, 6, 5, 4, 0, 0};
    std::vector<std::uint8_t> pixels;
    auto out = normalise_bitmap(make_bitmap(FT_PIXEL_MODE_LCD, 6, 1, 8, lcd), false, pixels);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format, LCD_MODE_H_RGB);
    EXPECT_EQ(out->width, 2);
    EXPECT_EQ(out->data[5], 4);
    std::vector<std::uint8_t> bgra = {1, 2, 3, 4, 5, 6, 7, 8};  // rows bottom up
    out = normalise_bitmap(make_bitmap(FT_PIXEL_MODE_BGRA, 1, 2, -4, bgra), false, pixels);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format, LCD_MODE_COLOR);
    EXPECT_EQ(out->data[0], 5);
    EXPECT_EQ(out->data[4], 1);
    EXPECT_FALSE(normalise_bitmap(make_bitmap(FT_PIXEL_MODE_NONE, 1, 1, 1, lcd), false, pixels));
}

TEST(FontSet, OutputLcdOrderChangeReachesEveryFace) {
    Settings s = settings_with(mono_regular(), LCD_MODE_H_RGB);
    FontSet fonts(s);
    EXPECT_EQ(fonts.glyph_for(U'x', FONT_STYLE_REGULAR)->format, LCD_MODE_H_RGB);
    fonts.set_lcd_order(LCD_MODE_V_BGR);
    ASSERT_TRUE(fonts.reload());
    EXPECT_EQ(s.current_lcd_order, LCD_MODE_V_BGR);
    EXPECT_EQ(fonts.lcd_mode(), LCD_MODE_V_BGR);
    EXPECT_EQ(fonts.glyph_for(U'x', FONT_STYLE_REGULAR)->format, LCD_MODE_V_BGR);
}

}  // namespace
}  // namespace zelto
