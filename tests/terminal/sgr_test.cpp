// Character attributes: SGR sequences fed as bytes, judged by the attributes of printed cells.
#include <gtest/gtest.h>

#include <string>

#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

// The attributes a character printed after `sgr` gets.
VtCell printed_after(const std::string& sgr) {
    VtHarness h(10, 2);
    h.feed(sgr + "x");
    return h.vt.lines()[h.vt.screen_top()].cells[0];
}

VtCell reset_cell() { return printed_after(""); }

bool has_decoration(const VtCell& cell, std::uint8_t flag) { return (cell.decorations & flag) != 0; }

constexpr std::uint8_t UNDERLINES = VT_CELL_UNDERLINED | VT_CELL_DOUBLE_UNDERLINE | VT_CELL_CURLY_UNDERLINE;

std::uint8_t underline_kind(const VtCell& cell) { return cell.decorations & UNDERLINES; }

bool direct_fg(const VtCell& cell, int r, int g, int b) {
    return !cell.has(VT_CELL_FG_IS_PALETTE_INDEX) && cell.fg[0] == r && cell.fg[1] == g && cell.fg[2] == b;
}

TEST(Sgr, ResetForms) {
    EXPECT_EQ(printed_after("\x1b[1;3;4;7;31;42m\x1b[m"), reset_cell());
    EXPECT_EQ(printed_after("\x1b[1;3;4;7;31;42m\x1b[0m"), reset_cell());
    const VtCell italic = printed_after("\x1b[1;;3m");
    EXPECT_EQ(italic.font_style, VT_FONT_STYLE_ITALIC) << "the empty parameter resets";
}

TEST(Sgr, FontStylesCombineAndUndo) {
    EXPECT_EQ(printed_after("\x1b[1m\x1b[3m").font_style, VT_FONT_STYLE_BOLD_ITALIC);
    EXPECT_EQ(printed_after("\x1b[1m\x1b[3m\x1b[22m").font_style, VT_FONT_STYLE_ITALIC);
    EXPECT_EQ(printed_after("\x1b[1m\x1b[3m\x1b[22m\x1b[23m").font_style, VT_FONT_STYLE_NORMAL);
    EXPECT_EQ(printed_after("\x1b[3;1;23m").font_style, VT_FONT_STYLE_BOLD);
    const VtCell dim = printed_after("\x1b[2m");
    EXPECT_TRUE(dim.has(VT_CELL_DIM));
    EXPECT_FALSE(printed_after("\x1b[2;22m").has(VT_CELL_DIM));
}

TEST(Sgr, FlagsSetAndClear) {
    const VtCell on = printed_after("\x1b[5;7;8;9;53m");
    EXPECT_TRUE(on.has(VT_CELL_BLINKING));
    EXPECT_TRUE(on.has(VT_CELL_INVERTED));
    EXPECT_TRUE(on.has(VT_CELL_HIDDEN));
    EXPECT_TRUE(has_decoration(on, VT_CELL_STRIKETHROUGH));
    EXPECT_TRUE(has_decoration(on, VT_CELL_OVERLINE));
    EXPECT_TRUE(printed_after("\x1b[6m").has(VT_CELL_BLINKING));
    EXPECT_EQ(printed_after("\x1b[5;7;8;9;53m\x1b[25;27;28;29;55m"), reset_cell());
}

TEST(Sgr, PaletteColours) {
    EXPECT_EQ(printed_after("\x1b[31m").fg_index(), 1);
    EXPECT_EQ(printed_after("\x1b[97m").fg_index(), 15);
    EXPECT_EQ(printed_after("\x1b[44m").bg_index(), 4);
    EXPECT_EQ(printed_after("\x1b[100m").bg_index(), 8);
    EXPECT_EQ(printed_after("\x1b[31;44m\x1b[39;49m"), reset_cell());
    EXPECT_EQ(printed_after("\x1b[38;5;300m").fg_index(), 255);
    EXPECT_EQ(printed_after("\x1b[48;5;17m").bg_index(), 17);
    EXPECT_EQ(printed_after("\x1b[38:5:200m").fg_index(), 200);
}

TEST(Sgr, DirectColoursInEveryForm) {
    EXPECT_TRUE(direct_fg(printed_after("\x1b[38;2;255;128;0m"), 255, 128, 0));
    EXPECT_TRUE(direct_fg(printed_after("\x1b[38:2::255:128:0m"), 255, 128, 0));
    EXPECT_TRUE(direct_fg(printed_after("\x1b[38:2:255:128:0m"), 255, 128, 0));
    // A colour space before the colour is skipped, and the group never resets anything.
    const VtCell with_space = printed_after("\x1b[1m\x1b[38:2:0:255:128:0m");
    EXPECT_TRUE(direct_fg(with_space, 255, 128, 0));
    EXPECT_EQ(with_space.font_style, VT_FONT_STYLE_BOLD);
    EXPECT_TRUE(direct_fg(printed_after("\x1b[38;2;999;1;2m"), 255, 1, 2));
    const VtCell bg = printed_after("\x1b[48;2;1;2;3m");
    EXPECT_FALSE(bg.has(VT_CELL_BG_IS_PALETTE_INDEX));
    EXPECT_EQ(bg.bg[0], 1);
    EXPECT_EQ(bg.bg[2], 3);
    EXPECT_EQ(bg.bg[3], 255);
}

TEST(Sgr, UnderlineColour) {
    const VtCell indexed = printed_after("\x1b[58;5;1m");
    EXPECT_TRUE(indexed.has(VT_CELL_LINE_COLOR_SET));
    EXPECT_TRUE(indexed.has(VT_CELL_LINE_COLOR_IS_PALETTE_INDEX));
    EXPECT_EQ(indexed.line_color_index(), 1);
    EXPECT_FALSE(printed_after("\x1b[58;5;1m\x1b[59m").has(VT_CELL_LINE_COLOR_SET));
    const VtCell direct = printed_after("\x1b[58:2:10:20:30m");
    EXPECT_TRUE(direct.has(VT_CELL_LINE_COLOR_SET));
    EXPECT_FALSE(direct.has(VT_CELL_LINE_COLOR_IS_PALETTE_INDEX));
    EXPECT_EQ(direct.line_color[1], 20);
    EXPECT_EQ(printed_after("\x1b[58m"), reset_cell());
}

TEST(Sgr, UnderlineKinds) {
    EXPECT_EQ(underline_kind(printed_after("\x1b[4m")), VT_CELL_UNDERLINED);
    EXPECT_EQ(underline_kind(printed_after("\x1b[4:3m")), VT_CELL_CURLY_UNDERLINE);
    EXPECT_EQ(underline_kind(printed_after("\x1b[4:3m\x1b[4m")), VT_CELL_UNDERLINED);
    EXPECT_EQ(underline_kind(printed_after("\x1b[4:3m\x1b[21m")), VT_CELL_DOUBLE_UNDERLINE);
    EXPECT_EQ(underline_kind(printed_after("\x1b[4:2m")), VT_CELL_DOUBLE_UNDERLINE);
    EXPECT_EQ(underline_kind(printed_after("\x1b[4:1m")), VT_CELL_UNDERLINED);
    EXPECT_EQ(underline_kind(printed_after("\x1b[4:5m")), VT_CELL_UNDERLINED);
    EXPECT_EQ(underline_kind(printed_after("\x1b[21;24m")), 0);
    // 4:0 clears every underline and nothing else.
    const VtCell cleared = printed_after("\x1b[1;31;4:3m\x1b[4:0m");
    EXPECT_EQ(underline_kind(cleared), 0);
    EXPECT_EQ(cleared.font_style, VT_FONT_STYLE_BOLD);
    EXPECT_EQ(cleared.fg_index(), 1);
}

TEST(Sgr, IncompleteAndUnknownFormsKeepTheTerminalWorking) {
    EXPECT_EQ(printed_after("\x1b[38m"), reset_cell());
    EXPECT_EQ(printed_after("\x1b[38;5m"), reset_cell());
    EXPECT_EQ(printed_after("\x1b[38:2:1m"), reset_cell());
    const VtCell bold = printed_after("\x1b[1;38;2;1;2m");
    EXPECT_EQ(bold.font_style, VT_FONT_STYLE_BOLD);
    EXPECT_TRUE(bold.has(VT_CELL_FG_IS_PALETTE_INDEX));
    EXPECT_EQ(printed_after("\x1b[38;7;1;3m").font_style, VT_FONT_STYLE_ITALIC);
    EXPECT_EQ(printed_after("\x1b[38:7:1:2m\x1b[3m").font_style, VT_FONT_STYLE_ITALIC);
    testing::internal::CaptureStderr();
    const VtCell unknown = printed_after("\x1b[26;1m");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Unknown SGR code: 26"), std::string::npos) << err;
    EXPECT_EQ(unknown.font_style, VT_FONT_STYLE_BOLD);
}

TEST(Sgr, AttributesReachEveryPrintedCellAndSurviveHostileInput) {
    VtHarness h(10, 2);
    std::string many = "\x1b[";
    for (int i = 0; i < 5000; ++i) many += "38:2:1:2:3;";
    h.feed(many + "4294967296;31mab\x1b[0mc");
    const VtLine& line = h.vt.lines()[h.vt.screen_top()];
    EXPECT_TRUE(direct_fg(line.cells[0], 1, 2, 3)) << "parameters past the bound are dropped";
    EXPECT_EQ(line.cells[1], [&] {
        VtCell b = line.cells[0];
        b.code = 'b';
        return b;
    }());
    EXPECT_EQ(line.cells[2].fg_index(), VT_DEFAULT_FG_INDEX);
}

}  // namespace
}  // namespace zelto::test
