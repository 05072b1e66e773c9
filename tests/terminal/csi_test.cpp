// Control sequences fed as bytes, judged by the screen, the cursor and the replies.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "config/settings.hpp"
#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

// Fills a `cols` x `rows` screen with a distinct letter per row.
std::string rows_of_letters(std::uint32_t cols, std::uint32_t rows) {
    std::string out = "\x1b[H";
    for (std::uint32_t r = 0; r < rows; ++r) {
        out += "\x1b[" + std::to_string(r + 1) + "H" + std::string(cols, static_cast<char>('a' + r));
    }
    return out + "\x1b[H";
}

// Cursor motion ---------------------------------------------------------------------------------

TEST(CsiCursor, MotionStopsAtTheEdges) {
    VtHarness h(80, 24);
    h.feed("\x1b[3;1H\x1b[5A");
    EXPECT_EQ(screen_row(h.vt), 0u);
    h.feed("\x1b[999B");
    EXPECT_EQ(screen_row(h.vt), 23u);
    h.feed("\x1b[999C");
    EXPECT_EQ(h.vt.cursor_col(), 79);
    h.feed("\x1b[5D");
    EXPECT_EQ(h.vt.cursor_col(), 74);
    h.feed("\x1b[999D");
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[10;10H\x1b[2E");
    EXPECT_EQ(screen_row(h.vt), 11u);
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[10G\x1b[3F");
    EXPECT_EQ(screen_row(h.vt), 8u);
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[7`");  // HPA ends on a backtick
    EXPECT_EQ(h.vt.cursor_col(), 6);
    h.feed("\x1b[5d\x1b[3a\x1b[2e");
    EXPECT_EQ(screen_row(h.vt), 6u);
    EXPECT_EQ(h.vt.cursor_col(), 9);
}

TEST(CsiCursor, PairFormReadsMissingNumbersAsDefaults) {
    VtHarness h(80, 24);
    h.feed("\x1b[10;10H\x1b[;5H");
    EXPECT_EQ(screen_row(h.vt), 0u);
    EXPECT_EQ(h.vt.cursor_col(), 4);
    h.feed("\x1b[5H");
    EXPECT_EQ(screen_row(h.vt), 4u);
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[0;0H");
    EXPECT_EQ(screen_row(h.vt), 0u);
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[99999999999;99999999999f");
    EXPECT_EQ(screen_row(h.vt), 23u);
    EXPECT_EQ(h.vt.cursor_col(), 79);
}

TEST(CsiCursor, CountFormRefusesAdditionalArguments) {
    VtHarness h(80, 24);
    h.feed("\x1b[10;1H");
    testing::internal::CaptureStderr();
    h.feed("\x1b[3;5;7A");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(screen_row(h.vt), 9u);
    EXPECT_NE(err.find("Unexpected additional arguments for CSI sequence '3;5;7A"), std::string::npos) << err;
}

TEST(CsiCursor, UpAndDownStopAtTheRegionMarginsFromInsideIt) {
    VtHarness h(20, 10);
    h.feed("\x1b[3;7r\x1b[5;1H\x1b[9A");
    EXPECT_EQ(screen_row(h.vt), 2u);
    h.feed("\x1b[9B");
    EXPECT_EQ(screen_row(h.vt), 6u);
}

TEST(CsiCursor, UpFromBelowTheRegionCrossesIt) {
    VtHarness h(20, 10);
    h.feed("\x1b[3;7r\x1b[9;1H\x1b[9A");
    EXPECT_EQ(screen_row(h.vt), 0u);
    h.feed("\x1b[1;1H\x1b[99B");
    EXPECT_EQ(screen_row(h.vt), 9u);
}

TEST(CsiCursor, MotionClearsAPendingWrap) {
    VtHarness h(5, 3);
    h.feed("abcde\x1b[D");
    EXPECT_FALSE(h.vt.wrap_pending());
    EXPECT_EQ(h.vt.cursor_col(), 3);
    h.feed("X");
    EXPECT_EQ(h.screen(), "abcXe\n\n");
}

// Origin mode -----------------------------------------------------------------------------------

TEST(CsiOrigin, PositionsCountFromTheRegionTop) {
    VtHarness h(20, 10);
    h.feed("\x1b[4;8r\x1b[?6h");
    EXPECT_EQ(screen_row(h.vt), 3u);
    h.feed("\x1b[2;3H");
    EXPECT_EQ(screen_row(h.vt), 4u);
    EXPECT_EQ(h.vt.cursor_col(), 2);
    h.feed("\x1b[99;1H");
    EXPECT_EQ(screen_row(h.vt), 7u);
    h.feed("\x1b[1d");
    EXPECT_EQ(screen_row(h.vt), 3u);
    h.feed("\x1b[99A");
    EXPECT_EQ(screen_row(h.vt), 3u);
    // A new region homes the cursor inside itself.
    h.feed("\x1b[2;5r");
    EXPECT_EQ(screen_row(h.vt), 1u);
    h.feed("\x1b[?6l");
    EXPECT_EQ(screen_row(h.vt), 0u);
    h.feed("\x1b[6n");
    EXPECT_EQ(take_replies(h.vt), "\x1b[1;1R");
}

// Erasing ---------------------------------------------------------------------------------------

TEST(CsiErase, LineAndDisplayParts) {
    VtHarness h(6, 4);
    h.feed(rows_of_letters(6, 4));
    h.feed("\x1b[2;3H\x1b[K");
    EXPECT_EQ(h.screen(), "aaaaaa\nbb\ncccccc\ndddddd");
    h.feed("\x1b[3;3H\x1b[1K");
    EXPECT_EQ(h.screen(), "aaaaaa\nbb\n   ccc\ndddddd");
    h.feed("\x1b[4;3H\x1b[2K");
    EXPECT_EQ(h.screen(), "aaaaaa\nbb\n   ccc\n");
    h.feed(rows_of_letters(6, 4) + "\x1b[2;3H\x1b[J");
    EXPECT_EQ(h.screen(), "aaaaaa\nbb\n\n");
    h.feed(rows_of_letters(6, 4) + "\x1b[2;3H\x1b[1J");
    EXPECT_EQ(h.screen(), "\n   bbb\ncccccc\ndddddd");
    EXPECT_EQ(screen_row(h.vt), 1u);
    EXPECT_EQ(h.vt.cursor_col(), 2);
}

TEST(CsiErase, ClearingTheMainScreenKeepsItInTheScrollback) {
    VtHarness h(6, 4);
    h.feed("one\r\ntwo\r\nthree\x1b[2J");
    EXPECT_EQ(h.screen(), "\n\n\n");
    EXPECT_EQ(h.vt.screen_top(), 3u);
    EXPECT_EQ(h.line_text(0), "one");
    EXPECT_EQ(h.line_text(2), "three");
    EXPECT_EQ(screen_row(h.vt), 2u);
    EXPECT_EQ(h.vt.cursor_col(), 5);
    h.feed("\x1b[3J\x1b[2J");
    EXPECT_EQ(h.vt.screen_top(), 3u) << "an empty screen adds nothing, and no scrollback is removed";
    h.feed("\x1b[?1049hxyz\x1b[2J");
    EXPECT_EQ(h.screen(), "\n\n\n");
    EXPECT_EQ(h.vt.lines().size(), 4u);
}

TEST(CsiErase, EraseCharactersStopsAtTheLastColumn) {
    VtHarness h(6, 2);
    h.feed("abcdef\x1b[1;3H\x1b[2X");
    EXPECT_EQ(h.screen(), "ab  ef\n");
    h.feed("\x1b[1;5H\x1b[99999999X");
    EXPECT_EQ(h.screen(), "ab\n");
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 6u);
    EXPECT_EQ(h.vt.cursor_col(), 4);
}

TEST(CsiErase, EveryEraseTakesTheCurrentBackground) {
    VtHarness h(6, 4);
    const auto red_background = [&](std::size_t row, std::size_t col) {
        const VtLine& line = h.vt.lines()[h.vt.screen_top() + row];
        return col < line.cells.size() && line.cells[col].bg_index() == 1;
    };
    h.feed(rows_of_letters(6, 4) + "\x1b[41m");
    h.feed("\x1b[1;3H\x1b[K");
    EXPECT_TRUE(red_background(0, 5));
    h.feed("\x1b[2;3H\x1b[1K");
    EXPECT_TRUE(red_background(1, 0));
    h.feed("\x1b[3;3H\x1b[X");
    EXPECT_TRUE(red_background(2, 2));
    h.feed("\x1b[4;1H\x1b[2@");
    EXPECT_TRUE(red_background(3, 0));
    EXPECT_TRUE(red_background(3, 1));
    EXPECT_FALSE(red_background(3, 2));
    h.feed("\x1b[4;1H\x1b[P");
    EXPECT_TRUE(red_background(3, 5)) << "the vacated cell at the right";
    h.feed("\x1b[1;1H\x1b[L");
    EXPECT_TRUE(red_background(0, 0));
    EXPECT_TRUE(red_background(0, 5));
    h.feed("\x1b[M");
    EXPECT_TRUE(red_background(3, 5));
    h.feed("\x1b[S");
    EXPECT_TRUE(red_background(3, 0));
    h.feed("\x1b[T");
    EXPECT_TRUE(red_background(0, 0));
    h.feed("\x1b[J");
    EXPECT_TRUE(red_background(3, 3));
    h.feed("\x1b[4;4H\x1b[1J");
    EXPECT_TRUE(red_background(0, 4));
    EXPECT_TRUE(red_background(3, 0));
    h.feed("\x1b[2J");
    for (std::size_t r = 0; r < 4; ++r) EXPECT_TRUE(red_background(r, 5)) << r;
}

// Insertion and deletion ------------------------------------------------------------------------

TEST(CsiInsertDelete, CharactersShiftWithinTheLine) {
    VtHarness h(8, 2);
    h.feed("abcdefgh\x1b[1;3H\x1b[2@");
    EXPECT_EQ(h.screen(), "ab  cdef\n");
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 8u);
    h.feed("\x1b[3P");
    EXPECT_EQ(h.screen(), "abdef\n");
    h.feed("\x1b[99999999P");
    EXPECT_EQ(h.screen(), "ab\n");
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 8u);
}

TEST(CsiInsertDelete, TheRightMarginBoundsTheShift) {
    VtHarness h(8, 2);
    h.feed("\x1b[1;6s");
    EXPECT_EQ(h.vt.cursor_col(), 0) << "without mode 69 CSI s saves the cursor";
    h.feed("\x1b[?69h\x1b[2;6sabcdefgh\x1b[1;2H\x1b[2@");
    EXPECT_EQ(h.screen(), "a  bcdgh\n");
    h.feed("\x1b[3P");
    EXPECT_EQ(h.screen(), "acd   gh\n");
    testing::internal::CaptureStderr();
    h.feed("\x1b[5;6s");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("invalid DECSLRM values"), std::string::npos);
    // Leaving the mode gives the whole line back.
    h.feed("\x1b[?69l\x1b[1;1H\x1b[@");
    EXPECT_EQ(h.screen(), " acd   g\n");
}

TEST(CsiInsertDelete, InsertAtTheLastColumnNeverWraps) {
    VtHarness h(5, 2);
    h.feed("abcde");
    ASSERT_TRUE(h.vt.wrap_pending());
    h.feed("\x1b[@");
    EXPECT_EQ(h.screen(), "abcd\n");
    EXPECT_EQ(screen_row(h.vt), 0u);
    EXPECT_EQ(h.vt.cursor_col(), 4);
    EXPECT_FALSE(h.vt.wrap_pending());
}

TEST(CsiInsertDelete, LinesMoveInsideTheRegionOnly) {
    VtHarness h(4, 6);
    h.feed(rows_of_letters(4, 6) + "\x1b[2;5r\x1b[3;3H\x1b[2L");
    EXPECT_EQ(h.screen(), "aaaa\nbbbb\n\n\ncccc\nffff");
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[2M");
    EXPECT_EQ(h.screen(), "aaaa\nbbbb\ncccc\n\n\nffff");
    h.feed("\x1b[99999999M");
    EXPECT_EQ(h.screen(), "aaaa\nbbbb\n\n\n\nffff");
    // Outside the region they do nothing.
    h.feed(rows_of_letters(4, 6) + "\x1b[2;5r\x1b[6;3H\x1b[L\x1b[1;1H\x1b[M");
    EXPECT_EQ(h.screen(), "aaaa\nbbbb\ncccc\ndddd\neeee\nffff");
}

TEST(CsiInsertDelete, RepeatPrintsTheLastCharacterAgain) {
    VtHarness h(6, 3);
    h.feed("\x1b[31mx\x1b[0m\x1b[8b");
    EXPECT_EQ(h.screen(), "xxxxxx\nxxx\n");
    EXPECT_EQ(h.vt.lines()[h.vt.screen_top() + 1].cells[2].fg_index(), 1);
    EXPECT_EQ(h.vt.current_attributes().fg_index(), VT_DEFAULT_FG_INDEX);
    h.feed("\r\x1b[5b");
    EXPECT_EQ(h.screen(), "xxxxxx\nxxx\n") << "a carriage return forgets the character";
}

// Scroll regions --------------------------------------------------------------------------------

TEST(CsiScroll, RegionScrollsLeaveTheRestAlone) {
    VtHarness h(4, 6);
    h.feed(rows_of_letters(4, 6) + "\x1b[2;4r\x1b[S");
    EXPECT_EQ(h.screen(), "aaaa\ncccc\ndddd\n\neeee\nffff");
    h.feed("\x1b[2T");
    EXPECT_EQ(h.screen(), "aaaa\n\n\ncccc\neeee\nffff");
    h.feed("\x1b[99999999S");
    EXPECT_EQ(h.screen(), "aaaa\n\n\n\neeee\nffff");
}

TEST(CsiScroll, LineFeedAtTheRegionBottomScrollsTheRegion) {
    VtHarness h(4, 5);
    h.feed(rows_of_letters(4, 5) + "\x1b[2;4r\x1b[4;1H\n");
    EXPECT_EQ(h.screen(), "aaaa\ncccc\ndddd\n\neeee");
    EXPECT_EQ(h.vt.screen_top(), 0u);
}

TEST(CsiScroll, RegionBoundsAreCheckedAndClamped) {
    VtHarness h(10, 24);
    h.feed("\x1b[10;10H\x1b[5r");
    EXPECT_EQ(h.vt.scroll_region_top(), 4);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 23);
    EXPECT_EQ(screen_row(h.vt), 0u);
    testing::internal::CaptureStderr();
    h.feed("\x1b[5;5r");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Invalid DECSTBM sequence 5;5r"), std::string::npos);
    EXPECT_EQ(h.vt.scroll_region_top(), 4);
    h.feed("\x1b[2;999r");
    EXPECT_EQ(h.vt.scroll_region_top(), 1);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 23);
    h.feed("\x1b[r");
    EXPECT_EQ(h.vt.scroll_region_top(), 0);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 23);
}

// Tabs ------------------------------------------------------------------------------------------

TEST(CsiTabs, ForwardBackwardAndClear) {
    VtHarness h(40, 2);
    h.feed("\x1b[3I");
    EXPECT_EQ(h.vt.cursor_col(), 24);
    h.feed("\x1b[2Z");
    EXPECT_EQ(h.vt.cursor_col(), 8);
    h.feed("\x1b[99999999I");
    EXPECT_EQ(h.vt.cursor_col(), 39);
    h.feed("\x1b[99999999Z");
    EXPECT_EQ(h.vt.cursor_col(), 0);
    // TBC without a parameter clears the stop at the cursor.
    h.feed("\x1b[9G\x1b[g\x1b[1G\t");
    EXPECT_EQ(h.vt.cursor_col(), 16);
    h.feed("\x1b[3g\x1b[1G\t");
    EXPECT_EQ(h.vt.cursor_col(), 39);
    h.feed("\x1b[5g\x1b[1G\x1bH\x1b[1G\x1b[I");
    EXPECT_EQ(h.vt.cursor_col(), 39) << "a stop at column 0 is never the next one";
}

// Cursor style ----------------------------------------------------------------------------------

TEST(CsiCursorStyle, UnknownStyleChangesNothing) {
    VtHarness h;
    h.feed("\x1b[6 q");
    testing::internal::CaptureStderr();
    h.feed("\x1b[7 q");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Unknown DECSCUR code: 7"), std::string::npos);
    EXPECT_EQ(h.vt.cursor_shape(), CURSOR_SHAPE_BEAM);
    EXPECT_FALSE(h.vt.cursor_blinking());
}

TEST(CsiCursorStyle, ShapesAndBlinking) {
    VtHarness h;
    h.feed("\x1b[2 q");
    EXPECT_EQ(h.vt.cursor_shape(), CURSOR_SHAPE_BLOCK);
    EXPECT_FALSE(h.vt.cursor_blinking());
    h.feed("\x1b[5 q");
    EXPECT_EQ(h.vt.cursor_shape(), CURSOR_SHAPE_BEAM);
    EXPECT_TRUE(h.vt.cursor_blinking());
    h.feed("\x1b[4 q");
    EXPECT_EQ(h.vt.cursor_shape(), CURSOR_SHAPE_UNDERLINE);
    EXPECT_FALSE(h.vt.cursor_blinking());
    EXPECT_EQ(h.callbacks.calls["on_cursor_blink_changed"], 3);
    h.feed("\x1b[ q");
    EXPECT_EQ(h.vt.cursor_shape(), CURSOR_SHAPE_BLOCK);
    EXPECT_TRUE(h.vt.cursor_blinking());
}

// Reports ---------------------------------------------------------------------------------------

TEST(CsiReports, DeviceStatusAndAttributes) {
    VtHarness h(80, 24);
    h.feed("\x1b[5n");
    EXPECT_EQ(take_replies(h.vt), "\x1b[0n");
    h.feed("\x1b[7;12H\x1b[6n");
    EXPECT_EQ(take_replies(h.vt), "\x1b[7;12R");
    h.feed("\x1b[?6n");
    EXPECT_EQ(take_replies(h.vt), "\x1b[?7;12R");
    h.feed("\x1b[?15n\x1b[?26n\x1b[?53n\x1b[?56n\x1b[?85n");
    EXPECT_EQ(take_replies(h.vt), "\x1b[?11n\x1b[?27;1;0;0n\x1b[?50n\x1b[?57;0n\x1b[?83n");
    h.feed("\x1b[c\x1b[0c\x1b[1;2c");
    EXPECT_EQ(take_replies(h.vt), "\x1b[?63;1;4c\x1b[?63;1;4c\x1b[?63;1;4c");
    h.feed("\x1b[>c\x1b[>0c\x1b[>1c");
    EXPECT_EQ(take_replies(h.vt), "\x1b[>0;0;0c\x1b[>0;0;0c");
    h.feed("\x1b[=c");
    EXPECT_EQ(take_replies(h.vt), "\x1b[?6c");
    h.feed("\x1b[>q\x1b[>1q");
    EXPECT_EQ(take_replies(h.vt), "\x1bP>|Zelto(0.0.0)\x1b\\");
    h.feed("\x1b[$u\x1b['|");
    EXPECT_EQ(take_replies(h.vt), "\x1b[0&w\x1b[0&w");
    h.feed("\x1b[?1;1S\x1b[?1;9S\x1b[?2;3S\x1b[?3;1S\x1b[?7;1S");
    EXPECT_EQ(take_replies(h.vt), "\x1b[?1;0;256S\x1b[?1;2;0S\x1b[?2;0;0S\x1b[?3;3;0S\x1b[?7;1;0S");
}

// A window that answers with fixed sizes and records what it was asked to do.
struct WindowCallbacks : VtCallbacks {
    std::vector<std::string> calls;
    std::vector<std::string> titles;
    bool minimized = false;
    PixelSize get_window_size() override { return {1000, 800}; }
    PixelSize get_text_area_size() override { return {960, 768}; }
    PixelSize get_pixel_size_for_cells(std::uint32_t cols, std::uint32_t rows) override {
        return {cols * 10, rows * 20};
    }
    Position get_window_position() override { return {30, 40}; }
    bool is_minimized() override { return minimized; }
    void set_maximized(bool on) override { calls.push_back(on ? "maximize" : "unmaximize"); }
    void set_fullscreen(bool on) override { calls.push_back(on ? "fullscreen" : "windowed"); }
    void resize_window(std::uint32_t w, std::uint32_t h) override {
        calls.push_back("window " + std::to_string(w) + "x" + std::to_string(h));
    }
    void resize_text_area(std::uint32_t w, std::uint32_t h) override {
        calls.push_back("text " + std::to_string(w) + "x" + std::to_string(h));
    }
    void set_title(const char* title) override { titles.emplace_back(title); }
};

class CsiWindowOps : public testing::Test {
protected:
    void TearDown() override { settings().windowops = Settings::Windowops{}; }
    WindowCallbacks window;
    Vt vt{80, 24, window};
};

TEST_F(CsiWindowOps, ReportsAreWellFormed) {
    vt.interpret("\x1b[11t");
    EXPECT_EQ(take_replies(vt), "\x1b[1t");
    window.minimized = true;
    vt.interpret("\x1b[11t");
    EXPECT_EQ(take_replies(vt), "\x1b[2t");
    vt.interpret("\x1b[13t");
    EXPECT_EQ(take_replies(vt), "\x1b[3;30;40t");
    vt.interpret("\x1b[14t");
    EXPECT_EQ(take_replies(vt), "\x1b[4;768;960t");
    vt.interpret("\x1b[15t");
    EXPECT_EQ(take_replies(vt), "\x1b[5;800;1000t");
    vt.resize(80, 24);
    vt.interpret("\x1b[16t");
    EXPECT_EQ(take_replies(vt), "\x1b[6;20;10t");
    vt.interpret("\x1b[18t\x1b[19t");
    EXPECT_EQ(take_replies(vt), "\x1b[8;24;80t\x1b[9;24;80t");
    vt.interpret("\x1b[0t\x1b[12t\x1b[17t\x1b[t");
    EXPECT_EQ(take_replies(vt), "");
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(CsiWindowOps, TitleReportsNeverEchoControls) {
    vt.interpret(
        "\x1bka\x01"
        "b\x7f"
        "c\xc2\x9b"
        "d\xc3\xa9\x9b\x1b\\");
    vt.interpret("\x1b[20t\x1b[21t");
    EXPECT_EQ(take_replies(vt), "\x1b]Labcd\xc3\xa9\x1b\\\x1b]labcd\xc3\xa9\x1b\\");
}

TEST_F(CsiWindowOps, TitleStackIsBounded) {
    vt.interpret("\x1bkfirst\x1b\\\x1b[22t\x1bksecond\x1b\\\x1b[23t");
    ASSERT_FALSE(window.titles.empty());
    EXPECT_EQ(window.titles.back(), "first");
    for (int i = 0; i < 30; ++i) vt.interpret("\x1bkt" + std::to_string(i) + "\x1b\\\x1b[22t");
    window.titles.clear();
    for (int i = 0; i < 30; ++i) vt.interpret("\x1b[23t");
    ASSERT_EQ(window.titles.size(), 10u);
    EXPECT_EQ(window.titles.front(), "t29");
    EXPECT_EQ(window.titles.back(), "t20");
    EXPECT_EQ(vt.title(), "");
}

TEST_F(CsiWindowOps, ManipulationNeedsItsHalfOfTheOption) {
    vt.interpret("\x1b[4;300;400t\x1b[4;;500t\x1b[8;10;20t\x1b[8;;30t\x1b[9;1t\x1b[9;0t\x1b[10;1t\x1b[30t");
    const std::vector<std::string> expected = {"window 400x300", "window 500x800", "text 200x200", "text 300x768",
                                               "maximize",       "unmaximize",     "fullscreen",   "text 800x600"};
    EXPECT_EQ(window.calls, expected);
    window.calls.clear();
    vt.interpret("\x1b[4;99999;99999t\x1b[8;70000;1t");
    EXPECT_TRUE(window.calls.empty());
    settings().windowops.manipulation = false;
    vt.interpret("\x1b[4;300;400t\x1b[8;10;20t\x1b[9;1t\x1b[30t");
    EXPECT_TRUE(window.calls.empty());
    settings().windowops.information = false;
    vt.interpret("\x1b[18t\x1b[11t");
    EXPECT_EQ(take_replies(vt), "");
}

// Other settings and warnings -------------------------------------------------------------------

TEST(CsiWarnings, UnknownSequencesAreVisualisedAndRateLimited) {
    VtHarness h;
    testing::internal::CaptureStderr();
    for (int i = 0; i < 1000; ++i) h.feed("\x1b[?1y");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Unknown CSI sequence: ?1y"), std::string::npos) << err;
    EXPECT_LT(err.size(), 2000u);
}

TEST(CsiWarnings, SoftResetKeepsModesAndAttributes) {
    VtHarness h(10, 5);
    h.feed("\x1b[2;4r\x1b[4h\x1b[31m\x1b[?1049h\x1b[3;3H\x1b[!p");
    EXPECT_FALSE(h.vt.alternate_screen_active());
    EXPECT_EQ(h.vt.scroll_region_top(), 0);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 4);
    EXPECT_EQ(screen_row(h.vt), 0u);
    EXPECT_TRUE(h.vt.modes().insert);
    EXPECT_EQ(h.vt.current_attributes().fg_index(), 1);
}

// Hostile input ---------------------------------------------------------------------------------

TEST(CsiHostile, HugeCountsAndEndlessParametersAreCheap) {
    VtHarness h(80, 24);
    const auto start = std::chrono::steady_clock::now();
    std::string bytes = "x";
    for (const char* final : {"@", "P", "X", "L", "M", "S", "T", "b", "C", "I", "Z", "A", "B", "D", "E", "F"}) {
        bytes += std::string("\x1b[99999999") + final + "\x1b[4294967296000" + final;
    }
    for (int i = 0; i < 200; ++i) h.feed(bytes);
    std::string many = "\x1b[";
    for (int i = 0; i < 20000; ++i) many += "1;";
    h.feed(many + "m");
    h.feed(many + "H");
    std::string endless = "\x1b[";
    endless.append(200000, '9');
    h.feed(endless + "A");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 10);
    for (const VtLine& line : h.vt.lines()) EXPECT_LE(line.cells.size(), 80u);
    EXPECT_LE(h.vt.lines().size(), 24u + settings().scrollback * 2);
    h.feed("\x1b[H\x1b[2Kok");
    EXPECT_EQ(h.line_text(h.vt.screen_top()), "ok");
}

TEST(CsiHostile, CancelledAndRestartedSequences) {
    VtHarness h(10, 2);
    h.feed(
        "a\x1b[3\x18"
        "b\x1b[3\x1a"
        "c\x1b[5\x1b[2Cd");
    EXPECT_EQ(h.screen(), "abc  d\n");
}

}  // namespace
}  // namespace zelto::test
