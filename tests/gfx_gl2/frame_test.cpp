// Frames drawn from a terminal into an offscreen window, checked pixel by pixel.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "renderer_fixture.hpp"
#include "terminal/vt.hpp"

namespace zelto::test {
namespace {

constexpr ColorRGBA BLACK{0, 0, 0, 255};

struct Pixel {
    std::uint8_t r, g, b, a;
    bool operator==(const Pixel&) const = default;
};

// Hands the terminal's released proxies to the renderer, as the App does.
struct ProxyCallbacks : VtCallbacks {
    GfxOpenGL2* gfx = nullptr;
    void destroy_line_proxy(VtLineProxy& proxy) override {
        if (gfx) gfx->destroy_line_proxy(proxy);
    }
};

class FrameTest : public RendererTest {
  protected:
    void SetUp() override {
        RendererTest::SetUp();
        settings.bg_color = BLACK;
        settings.fg_color = {255, 255, 255};
        settings.blink.enabled = false;
        settings.scrollback = 100;
    }

    void TearDown() override {
        vt.reset();
        RendererTest::TearDown();
        zelto::settings() = Settings{};
    }

    void open(std::uint32_t cols = 12, std::uint32_t rows = 4) {
        zelto::settings() = settings;
        fonts = std::make_unique<FontSet>(settings);
        gfx = std::make_unique<GfxOpenGL2>(*fonts, settings);
        const PixelSize size = gfx->get_pixel_size({cols, rows});
        context = std::make_unique<OffscreenGl>(size.width, size.height);
        gfx->set_gl_loader(OffscreenGl::loader());
        gfx->init_with_context();
        gfx->resize(size.width, size.height, {cols, rows});
        callbacks.gfx = gfx.get();
        vt = std::make_unique<Vt>(cols, rows, callbacks);
        cw = gfx->cell_width();
        ch = gfx->cell_height();
        ui.focused = true;
    }

    // Draws a frame with the terminal's cursor and reads the window back.
    std::optional<std::vector<DamageRect>> frame(std::uint8_t age = 0) {
        if (follow_cursor) {
            ui.cursor = vt->cursor();
            ui.drawn_cursor_column = vt->cursor_col();
        }
        auto rects = gfx->draw(*vt, ui, age);
        pixels = context->read_window();
        return rects;
    }

    Pixel at(std::uint32_t x, std::uint32_t y) const {
        const std::size_t i = (std::size_t{y} * context->width() + x) * 4;
        return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    }

    // Pixels of a cell unlike the given colour.
    int ink_in_cell(std::uint32_t col, std::uint32_t row, Pixel bg) const {
        int n = 0;
        for (std::uint32_t y = row * ch; y < (row + 1) * ch; ++y)
            for (std::uint32_t x = col * cw; x < (col + 1) * cw; ++x) n += !(at(x, y) == bg);
        return n;
    }

    int ink_outside(std::uint32_t col, std::uint32_t row, Pixel bg) const {
        int n = 0;
        for (std::uint32_t y = 0; y < context->height(); ++y)
            for (std::uint32_t x = 0; x < context->width(); ++x) {
                const bool inside = x / cw == col && y / ch == row;
                n += !inside && !(at(x, y) == bg);
            }
        return n;
    }

    // Rows (pixel rows within the cell) that have ink.
    std::vector<std::uint32_t> inked_rows(std::uint32_t col, std::uint32_t row, Pixel bg) const {
        std::vector<std::uint32_t> out;
        for (std::uint32_t y = 0; y < ch; ++y) {
            bool ink = false;
            for (std::uint32_t x = col * cw; x < (col + 1) * cw; ++x)
                ink |= !(at(x, row * ch + y) == bg);
            if (ink) out.push_back(y);
        }
        return out;
    }

    VtCell& cell(std::size_t row, std::size_t col) {
        VtLine& line = vt->lines()[vt->screen_top() + row];
        line.damage.mark_full();
        return line.cells.at(col);
    }

    ProxyCallbacks callbacks;
    std::unique_ptr<Vt> vt;
    UiState ui;
    bool follow_cursor = true;
    std::vector<std::uint8_t> pixels;
    std::uint32_t cw = 0, ch = 0;
};

const Pixel BG{0, 0, 0, 255};
const Pixel WHITE{255, 255, 255, 255};

TEST_F(FrameTest, GrayscaleGlyphInkStaysInsideItsCell) {
    settings.fixed_lcd_order = settings.current_lcd_order = LCD_MODE_NONE;
    open();
    follow_cursor = false;
    vt->interpret("\r\n  A");
    frame();
    EXPECT_GT(ink_in_cell(2, 1, BG), 5);
    EXPECT_EQ(ink_outside(2, 1, BG), 0);
}

TEST_F(FrameTest, SubpixelGlyphFringeReachesOnePixelAtMost) {
    open();
    ASSERT_TRUE(gfx->subpixel_glyphs());
    follow_cursor = false;
    vt->interpret("\x1b[3;4HW");
    frame();
    EXPECT_GT(ink_in_cell(3, 2, BG), 10);
    int far = 0;
    for (std::uint32_t y = 0; y < context->height(); ++y)
        for (std::uint32_t x = 0; x < context->width(); ++x)
            far += !(at(x, y) == BG) && (x + 1 < 3 * cw || x > 4 * cw || y / ch != 2);
    EXPECT_EQ(far, 0);
}

TEST_F(FrameTest, ColoursResolveToTheirPixels) {
    open();
    follow_cursor = false;
    const ColorRGB red = settings.colors[1], green = settings.colors[2];
    // Red background, inverse, a full block in red.
    vt->interpret("\x1b[41m \x1b[7m \x1b[0m\x1b[31m\xe2\x96\x88\x1b[0m ");
    cell(0, 3) = cell(0, 2);
    cell(0, 3).flags |= VT_CELL_DIM;
    frame();
    EXPECT_EQ(at(cw / 2, ch / 2), (Pixel{red.r, red.g, red.b, 255}));
    EXPECT_EQ(at(cw + cw / 2, ch / 2), WHITE);  // inverse: the default foreground as background
    EXPECT_EQ(at(2 * cw + cw / 2, ch / 2), (Pixel{red.r, red.g, red.b, 255}));
    const Pixel dim = at(3 * cw + cw / 2, ch / 2);
    EXPECT_NEAR(dim.r, red.r * 0.6, 2);
    EXPECT_NEAR(dim.g, red.g * 0.6, 2);

    vt->interpret("\x1b[32m\xe2\x96\x88");
    frame();
    EXPECT_EQ(at(4 * cw + cw / 2, ch / 2), (Pixel{green.r, green.g, green.b, 255}));

    // Truecolour cells, set as the terminal stores them.
    VtCell& rgb = cell(0, 4);
    rgb.flags &= static_cast<std::uint8_t>(~VT_CELL_FG_IS_PALETTE_INDEX);
    rgb.fg[0] = 10, rgb.fg[1] = 200, rgb.fg[2] = 30;
    VtCell& rgb_bg = cell(0, 1);
    rgb_bg.flags &= static_cast<std::uint8_t>(~(VT_CELL_BG_IS_PALETTE_INDEX | VT_CELL_INVERTED));
    rgb_bg.bg[0] = 40, rgb_bg.bg[1] = 50, rgb_bg.bg[2] = 60, rgb_bg.bg[3] = 255;
    frame();
    EXPECT_EQ(at(4 * cw + cw / 2, ch / 2), (Pixel{10, 200, 30, 255}));
    EXPECT_EQ(at(cw + cw / 2, ch / 2), (Pixel{40, 50, 60, 255}));
    EXPECT_EQ(at(5 * cw + cw / 2, ch / 2), BG);  // the default background
}

TEST_F(FrameTest, DecorationLinesDrawInTheirRows) {
    open();
    follow_cursor = false;
    vt->interpret("      ");
    cell(0, 0).decorations = VT_CELL_UNDERLINED;
    cell(0, 1).decorations = VT_CELL_DOUBLE_UNDERLINE;
    cell(0, 2).decorations = VT_CELL_STRIKETHROUGH;
    cell(0, 3).decorations = VT_CELL_OVERLINE;
    cell(0, 4).decorations = VT_CELL_CURLY_UNDERLINE;
    frame();
    EXPECT_EQ(inked_rows(0, 0, BG), (std::vector<std::uint32_t>{ch - 2}));
    EXPECT_EQ(inked_rows(1, 0, BG), (std::vector<std::uint32_t>{ch - 3, ch - 1}));
    EXPECT_EQ(inked_rows(2, 0, BG),
              (std::vector<std::uint32_t>{static_cast<std::uint32_t>(ch * 0.6f)}));
    EXPECT_EQ(inked_rows(3, 0, BG), (std::vector<std::uint32_t>{0}));
    const auto curly = inked_rows(4, 0, BG);
    ASSERT_GE(curly.size(), 2u);  // a wave, not a straight line
    EXPECT_GE(curly.front(), ch / 2);
    EXPECT_EQ(inked_rows(5, 0, BG), (std::vector<std::uint32_t>{}));
}

TEST_F(FrameTest, AHoveredLinkIsUnderlinedOverItsRowsAndMakesTheFrameWhole) {
    open(8, 4);
    follow_cursor = false;
    ui.link_hovered = true;
    ui.hovered_link_first_line = vt->screen_top() + 1;
    ui.hovered_link_first_column = 5;
    ui.hovered_link_last_line = vt->screen_top() + 2;
    ui.hovered_link_last_column = 2;
    EXPECT_FALSE(frame(2).has_value());
    const std::uint32_t y1 = 2 * ch - 1, y2 = 3 * ch - 1;
    EXPECT_EQ(at(4 * cw, y1), BG);
    EXPECT_EQ(at(5 * cw, y1), WHITE);
    EXPECT_EQ(at(8 * cw - 1, y1), WHITE);
    EXPECT_EQ(at(0, y2), WHITE);
    EXPECT_EQ(at(3 * cw - 1, y2), WHITE);
    EXPECT_EQ(at(3 * cw, y2), BG);
    EXPECT_EQ(at(0, ch - 1), BG);
}

TEST_F(FrameTest, LinksAreDashedUnderAlwaysUnderlineLinks) {
    settings.always_underline_links = true;
    open();
    follow_cursor = false;
    vt->interpret("    ");
    cell(0, 1).link = 1;
    cell(0, 2).link = 1;
    frame();
    EXPECT_EQ(inked_rows(0, 0, BG), (std::vector<std::uint32_t>{}));
    for (std::uint32_t col : {1u, 2u}) {
        EXPECT_EQ(inked_rows(col, 0, BG), (std::vector<std::uint32_t>{ch - 2}));
        EXPECT_EQ(at(col * cw, ch - 2), WHITE);
        EXPECT_EQ(at(col * cw + cw - 1, ch - 2), BG);  // a dash over half the cell
    }
}

TEST_F(FrameTest, CursorShapes) {
    open();
    vt->interpret("ab\b");  // the cursor on the "b"
    ui.cursor = vt->cursor();
    ui.drawn_cursor_column = 1;
    follow_cursor = false;

    frame();  // focused block: cursor colour behind the glyph, drawn in the cell's background
    EXPECT_GT(ink_in_cell(1, 0, WHITE), 5);
    EXPECT_LT(ink_in_cell(1, 0, WHITE), static_cast<int>(cw * ch * 3 / 4));
    EXPECT_EQ(at(cw, 0), WHITE);

    ui.focused = false;  // hollow
    frame();
    EXPECT_EQ(at(cw, 0), WHITE);
    EXPECT_EQ(at(2 * cw - 1, ch - 1), WHITE);
    EXPECT_EQ(at(cw + 1, ch - 2), BG);

    ui.cursor->shape = CURSOR_SHAPE_BEAM;
    for (bool focused : {true, false}) {
        ui.focused = focused;
        frame();
        EXPECT_EQ(at(cw, ch - 1), WHITE);
        EXPECT_EQ(at(2 * cw - 1, ch - 1), BG);
    }
    ui.cursor->shape = CURSOR_SHAPE_UNDERLINE;
    for (bool focused : {true, false}) {
        ui.focused = focused;
        frame();
        EXPECT_EQ(inked_rows(1, 0, BG).back(), ch - 2);
        EXPECT_EQ(at(2 * cw - 2, ch - 2), WHITE);
    }

    ui.cursor->hidden = true;
    frame();
    EXPECT_EQ(at(cw, ch - 2), BG);
}

TEST_F(FrameTest, FadingCursorIsBlendedByItsAlpha) {
    settings.blink.enabled = true;
    settings.cursor_anim.blink_fade = true;
    open();
    follow_cursor = false;
    ui.cursor = vt->cursor();
    ui.cursor->shape = CURSOR_SHAPE_BEAM;
    ui.cursor_alpha = 0.5;
    frame();
    EXPECT_NEAR(at(0, ch / 2).r, 128, 2);
    ui.cursor_alpha = 0;
    frame();
    EXPECT_EQ(at(0, ch / 2), BG);
}

TEST_F(FrameTest, SelectedCellsTakeTheHighlightBackground) {
    open();
    follow_cursor = false;
    vt->interpret("abcdef");
    const std::size_t line = vt->screen_top();
    vt->selection().begin(VT_SELECTION_NORMAL, {line, 1});
    vt->selection().activate();
    vt->selection().set_end(vt->lines(), {line, 3});
    vt->lines()[line].damage.mark_full();
    frame();
    const ColorRGBA hl = settings.highlight_bg_color;
    const Pixel highlight{hl.r, hl.g, hl.b, 255};
    EXPECT_EQ(at(0, 0), BG);
    EXPECT_EQ(at(cw + 1, 0), highlight);
    EXPECT_EQ(at(3 * cw + 1, 0), highlight);
    EXPECT_EQ(at(4 * cw + 1, 0), BG);
}

TEST_F(FrameTest, OnlyDamagedLinesAreRenderedAgain) {
    open();
    vt->interpret("one\r\ntwo\r\nthree");
    frame();
    EXPECT_EQ(gfx->last_frame_stats().lines_rendered, 3u);
    frame();
    EXPECT_EQ(gfx->last_frame_stats().lines_rendered, 0u);
    const std::uint32_t idle_draws = gfx->last_frame_stats().draw_calls;
    vt->interpret("!");
    frame();
    EXPECT_EQ(gfx->last_frame_stats().lines_rendered, 1u);
    EXPECT_GT(gfx->last_frame_stats().draw_calls, idle_draws);
}

TEST_F(FrameTest, LineTexturesOfLinesThatScrolledAwayAreReleased) {
    open(12, 4);
    for (int i = 0; i < 10000; ++i) {
        vt->interpret("line " + std::to_string(i) + "\r\n");
        if (i % 97 == 0) frame();
    }
    frame();
    EXPECT_LE(gfx->line_textures().live_count(), 4u);
    EXPECT_LE(gfx->line_textures().pooled_count(), LineTextures::POOL_SIZE);

    // Scrolled back, the old lines are rendered again.
    vt->view_scroll_to(vt->screen_top() - 10, true);
    frame();
    EXPECT_EQ(gfx->last_frame_stats().lines_rendered, 4u);
    EXPECT_LE(gfx->line_textures().live_count(), 4u);
}

TEST_F(FrameTest, VisualBellAndUnfocusedTintCoverTheWindow) {
    settings.visual_bell = ColorRGBA{255, 0, 0, 128};
    settings.unfocused_tint = {0, 0, 64, 128};
    open();
    follow_cursor = false;
    ui.bell_intensity = 1.0;
    EXPECT_FALSE(frame(2).has_value());
    EXPECT_NEAR(at(5, 5).r, 128, 2);
    ui.bell_intensity = 0.5;
    frame();
    EXPECT_NEAR(at(5, 5).r, 64, 2);
    ui.bell_intensity = 0;
    ui.focused = false;
    EXPECT_FALSE(frame(2).has_value());
    EXPECT_EQ(at(5, 5).b, 64);
    EXPECT_EQ(at(5, 5).r, 0);
}

TEST_F(FrameTest, BlinkingTextShowsOnlyInTheVisiblePhase) {
    open();
    follow_cursor = false;
    vt->interpret("ab");
    cell(0, 1).flags |= VT_CELL_BLINKING;
    frame();
    EXPECT_TRUE(gfx->has_blinking_text());
    EXPECT_GT(ink_in_cell(1, 0, BG), 5);
    ui.text_blink_visible = false;
    frame();
    EXPECT_EQ(ink_in_cell(1, 0, BG), 0);
    EXPECT_GT(ink_in_cell(0, 0, BG), 5);
    EXPECT_EQ(gfx->line_textures().live_count(), 2u);

    cell(0, 1).flags &= static_cast<std::uint8_t>(~VT_CELL_BLINKING);
    frame();
    EXPECT_FALSE(gfx->has_blinking_text());
    EXPECT_GT(ink_in_cell(1, 0, BG), 5);
    EXPECT_EQ(gfx->line_textures().live_count(), 1u);
}

TEST_F(FrameTest, ScrollbarOpacityFollowsItsFade) {
    open();
    follow_cursor = false;
    ui.scrollbar_shown = true;
    ui.scrollbar_width = 6;
    ui.scrollbar_top = 0.5f;
    ui.scrollbar_length = 1.0f;
    ui.scrollbar_opacity = 1.0f;
    const std::uint32_t w = context->width(), h = context->height();
    EXPECT_FALSE(frame(2).has_value());
    EXPECT_NEAR(at(w - 1, h / 2).r, 128, 2);
    EXPECT_EQ(at(w - 1, h / 8), BG);  // above the thumb
    EXPECT_EQ(at(w - 8, h / 2), BG);  // left of it
    ui.scrollbar_dragged = true;
    frame();
    EXPECT_NEAR(at(w - 1, h / 2).r, 204, 2);
    ui.scrollbar_dragged = false;
    ui.scrollbar_opacity = 0.5f;
    frame();
    EXPECT_NEAR(at(w - 1, h / 2).r, 64, 2);
    EXPECT_EQ(at(w - 5, h / 2), BG);  // it slides out with the fade
}

TEST_F(FrameTest, BufferAgesZeroAndOneAreWholeWindowAndAnIdleFrameIsTheCursor) {
    open();
    vt->interpret("hello");
    EXPECT_FALSE(frame(0).has_value());
    EXPECT_FALSE(frame(1).has_value());
    frame(2);
    frame(2);
    frame(2);
    const auto rects = frame(2);
    ASSERT_TRUE(rects.has_value());
    ASSERT_EQ(rects->size(), 1u);
    const DamageRect& r = rects->front();
    EXPECT_EQ(r.x, static_cast<std::int32_t>(5 * cw));
    EXPECT_EQ(r.y, static_cast<std::int32_t>(context->height() - ch));
    EXPECT_EQ(r.width, static_cast<std::int32_t>(cw));
    EXPECT_EQ(r.height, static_cast<std::int32_t>(ch));

    follow_cursor = false;
    ui.cursor->hidden = true;
    frame(2);
    frame(2);
    const auto none = frame(2);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
}

TEST_F(FrameTest, TypingOneCharacterDamagesTheWordAndTheCursor) {
    open(40, 4);
    vt->interpret("some words here");
    for (int i = 0; i < 3; ++i) frame(2);
    vt->interpret("\x1b[1;7Hx");  // inside "words"
    const auto rects = frame(2);
    ASSERT_TRUE(rects.has_value());
    ASSERT_FALSE(rects->empty());
    // The word from the blank before it to the blank after it, with the new cursor inside it,
    // and the cursor cell of the frames before.
    const auto x_of = [&](int col) { return static_cast<std::int32_t>(col * cw); };
    const auto row_y = static_cast<std::int32_t>(context->height() - ch);
    ASSERT_EQ(rects->size(), 2u);
    EXPECT_EQ(rects->at(0).x, x_of(4));
    EXPECT_EQ(rects->at(0).width, x_of(7));
    EXPECT_EQ(rects->at(0).y, row_y);
    EXPECT_EQ(rects->at(1).x, x_of(15));
    EXPECT_EQ(rects->at(1).width, x_of(1));
}

TEST_F(FrameTest, AnAtlasFlushInTheMiddleOfALineDrawsTheLineWithTheNewPages) {
    open();
    follow_cursor = false;
    vt->interpret("ab");
    frame();
    // The grayscale page that the square needs goes over the budget: the atlas starts again
    // after the red "ab" went out and while the square's run is being gathered.
    gfx->atlas().set_memory_budget(gfx->atlas().memory_bytes() + 1);
    vt->interpret(
        "\r\x1b[31m"
        "ab"
        "\x1b[0m"
        "\xe2\x96\xa0");
    frame();
    EXPECT_GE(gfx->atlas().flush_count(), 1u);
    const std::vector<std::uint8_t> drawn = pixels;
    gfx->atlas().set_memory_budget(GlyphAtlas::MEMORY_BUDGET);
    for (VtLine& line : vt->lines()) {
        gfx->destroy_line_proxy(line.proxy);
        line.damage.mark_full();
    }
    frame();
    EXPECT_EQ(drawn, pixels);
    EXPECT_GT(ink_in_cell(0, 0, BG), 5);
}

TEST_F(FrameTest, DebugGfxFlashesRenderedLinesAndFlickersACorner) {
    settings.debug_gfx = true;
    open();
    follow_cursor = false;
    vt->interpret("\r\n  x");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(frame(2).has_value());
    testing::internal::GetCapturedStderr();
    const Pixel flashed = at(0, ch + ch / 2);  // a rendered line, away from its glyph
    EXPECT_FALSE(flashed == BG);
    EXPECT_EQ(at(0, 3 * ch + 1), BG);  // a row without a line
    const bool corner_first = !(at(1, 1) == BG);
    EXPECT_FALSE(frame(2).has_value());
    EXPECT_EQ(at(0, ch + ch / 2), flashed);  // not rendered again: the same flash
    EXPECT_NE(!(at(1, 1) == BG), corner_first);
}

TEST_F(FrameTest, ALiveLineWhoseTexturesMovedToItsSnapshotIsACallerBug) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    open();
    vt->interpret("abc");
    vt->lines()[vt->screen_top()].damage.type = VT_LINE_DAMAGE_PROXIES_MOVED_TO_CLONE;
    // Release builds warn and skip the line; the session goes on.
    EXPECT_DEBUG_DEATH(frame(), "dmg->type != VT_LINE_DAMAGE_PROXIES_MOVED_TO_CLONE");
}

TEST_F(FrameTest, ASynchronizedUpdateShowsTheFrozenPictureUntilItEnds) {
    open();
    follow_cursor = false;
    vt->interpret("before");
    frame();
    const std::vector<std::uint8_t> before = pixels;
    vt->interpret("\x1b[?2026h\r\x1b[2Kafter!");
    ASSERT_TRUE(vt->in_synchronized_update());
    frame(2);
    EXPECT_EQ(pixels, before);
    vt->interpret("\x1b[?2026l");
    frame(2);
    const std::vector<std::uint8_t> after = pixels;
    EXPECT_NE(after, before);
    for (VtLine& line : vt->lines()) {
        gfx->destroy_line_proxy(line.proxy);
        line.damage.mark_full();
    }
    frame(2);
    EXPECT_EQ(pixels, after);
}

TEST_F(FrameTest, UnicodeEntryBoxReplacesTheCursorAndFitsNarrowGrids) {
    open(6, 2);
    vt->interpret("\x1b[2;5H");
    vt->unicode_entry().start();
    std::string send;
    for (char c : {'4', '1'})
        vt->unicode_entry().key({static_cast<std::uint32_t>(c), true, 0}, send);
    EXPECT_FALSE(frame(2).has_value());
    // "u41" from column 3: moved left to fit the six columns.
    EXPECT_EQ(at(2 * cw + 1, ch + 1), BG);
    EXPECT_EQ(at(3 * cw, ch), WHITE);
    EXPECT_EQ(at(6 * cw - 1, 2 * ch - 1), WHITE);
    const int white_cells = 3 * static_cast<int>(cw * ch);
    int ink = 0;
    for (std::uint32_t col = 3; col < 6; ++col) ink += ink_in_cell(col, 1, WHITE);
    EXPECT_GT(ink, 10);
    EXPECT_LT(ink, white_cells / 2);

    // More digits than the grid has columns: the box starts at column 0.
    for (char c : {'2', '0', '3', '4', '5', '6'})
        vt->unicode_entry().key({static_cast<std::uint32_t>(c), true, 0}, send);
    frame(2);
    EXPECT_EQ(at(0, ch), WHITE);
}

TEST_F(FrameTest, ALineWithoutCellsGivesItsTextureBackToThePool) {
    open();
    follow_cursor = false;
    vt->interpret("abc\r\ndef");
    frame();
    EXPECT_EQ(gfx->line_textures().live_count(), 2u);
    const std::size_t pooled = gfx->line_textures().pooled_count();
    VtLine& line = vt->lines()[vt->screen_top()];
    line.cells.clear();
    line.damage.mark_full();
    frame();
    EXPECT_EQ(gfx->line_textures().live_count(), 1u);
    EXPECT_EQ(gfx->line_textures().pooled_count(), pooled + 1);
    EXPECT_TRUE(line.proxy.empty());
    EXPECT_EQ(ink_in_cell(0, 0, BG), 0);
}

TEST_F(FrameTest, ALineThatBecameShorterHasItsOldTailCleared) {
    open();
    follow_cursor = false;
    vt->interpret("abcdef");
    frame();
    VtLine& line = vt->lines()[vt->screen_top()];
    line.cells.resize(2);
    line.damage = VtLineDamage{};
    line.damage.type = VT_LINE_DAMAGE_NONE;
    line.damage.mark_cell(1);
    frame();
    EXPECT_GT(ink_in_cell(1, 0, BG), 5);
    for (std::uint32_t col = 3; col < 6; ++col) EXPECT_EQ(ink_in_cell(col, 0, BG), 0) << col;
    const std::vector<std::uint8_t> shortened = pixels;
    gfx->destroy_line_proxy(line.proxy);
    line.damage.mark_full();
    frame();
    EXPECT_EQ(shortened, pixels);  // only the "b"'s fringe is left in the cell after it
}

TEST_F(FrameTest, OneDecorationRunIsOneDrawWhateverItsLength) {
    open(16, 2);
    follow_cursor = false;
    auto draws_for_underlined = [&](std::size_t cells) {
        vt->interpret("\x1b[2J\x1b[H          ");
        for (std::size_t c = 0; c < cells; ++c) {
            cell(0, c).decorations = VT_CELL_UNDERLINED | VT_CELL_STRIKETHROUGH | VT_CELL_OVERLINE;
        }
        frame();
        return gfx->last_frame_stats().draw_calls;
    };
    EXPECT_EQ(draws_for_underlined(10), draws_for_underlined(1));
}

// Random edits of the kinds a program makes.
std::string random_edit(std::mt19937& rng, std::uint32_t cols, std::uint32_t rows) {
    static const char* const sgr[] = {"\x1b[0m",     "\x1b[31m", "\x1b[42m",   "\x1b[7m",
                                      "\x1b[34;43m", "\x1b[27m", "\x1b[39;49m"};
    static const char* const words[] = {
        "a", "word", "xyz ", " ", "Hello, world", "||", "__", "W", "\xe2\x96\xa0", "\xe2\x94\x80"};
    std::string out;
    switch (rng() % 6) {
        case 0:
            out += "\x1b[" + std::to_string(rng() % rows + 1) + ";" +
                   std::to_string(rng() % cols + 1) + "H";
            break;
        case 1:
            out += "\r\n";
            break;
        case 2:
            out += "\x1b[K";
            break;
        case 3:
            out += sgr[rng() % std::size(sgr)];
            break;
        default:
            break;
    }
    out += words[rng() % std::size(words)];
    return out;
}

TEST_F(FrameTest, IncrementalFramesEqualFramesDrawnFromScratch) {
    open(16, 5);
    std::mt19937 rng(7);
    for (int step = 0; step < 120; ++step) {
        const std::string edit = random_edit(rng, 16, 5);
        vt->interpret(edit);
        frame(2);
        const std::vector<std::uint8_t> incremental = pixels;
        for (VtLine& line : vt->lines()) {
            gfx->destroy_line_proxy(line.proxy);
            line.damage.mark_full();
        }
        frame(2);
        if (incremental != pixels) {
            for (std::size_t i = 0; i < pixels.size(); i += 4) {
                if (!std::equal(&pixels[i], &pixels[i] + 4, &incremental[i])) {
                    const std::size_t px = i / 4;
                    ADD_FAILURE() << "step " << step << " edit " << testing::PrintToString(edit)
                                  << " difference at " << px % context->width() << ","
                                  << px / context->width() << " cell " << px % context->width() / cw
                                  << "," << px / context->width() / ch << " cursor "
                                  << vt->cursor_row() - vt->screen_top() << "," << vt->cursor_col()
                                  << " " << int{incremental[i]} << " vs " << int{pixels[i]};
                }
            }
            return;
        }
    }
}

TEST_F(FrameTest, DamageRectanglesCoverEveryChangedPixelForEachBufferAge) {
    open(16, 5);
    for (std::uint8_t age = 2; age <= 6; ++age) {
        std::mt19937 rng(age);
        std::vector<std::vector<std::uint8_t>> past;
        int partial_frames = 0;
        for (int step = 0; step < 30; ++step) {
            if (step % 3) vt->interpret(random_edit(rng, 16, 5));
            const auto rects = frame(age);
            if (past.size() >= age && rects) {
                ++partial_frames;
                const auto& old = past[past.size() - age];
                const std::uint32_t w = context->width(), h = context->height();
                for (std::uint32_t y = 0; y < h; ++y) {
                    for (std::uint32_t x = 0; x < w; ++x) {
                        const std::size_t i = (std::size_t{y} * w + x) * 4;
                        if (std::equal(&old[i], &old[i] + 4, &pixels[i])) continue;
                        const auto gy = static_cast<std::int32_t>(h - 1 - y);
                        bool covered = false;
                        for (const DamageRect& r : *rects)
                            covered |= static_cast<std::int32_t>(x) >= r.x &&
                                       static_cast<std::int32_t>(x) < r.x + r.width && gy >= r.y &&
                                       gy < r.y + r.height;
                        ASSERT_TRUE(covered)
                            << "age " << int{age} << " step " << step << " pixel " << x << "," << y;
                    }
                }
            }
            past.push_back(pixels);
        }
        EXPECT_GT(partial_frames, 5) << int{age};
    }
}

}  // namespace
}  // namespace zelto::test
