#include <gtest/gtest.h>

#include "terminal/debug_text.hpp"
#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

// C0 controls -----------------------------------------------------------------------------------

TEST(Controls, FormatEffectorsMoveTheCursor) {
    VtHarness h(20, 4);
    h.feed("abc\bX\tY\rZ\n\x0bq\x0cw");
    EXPECT_EQ(h.screen(), "ZbX     Y\n\n q\n  w");
    h.feed("\x1b[1;20H\t");
    EXPECT_EQ(h.vt.cursor_col(), 19);
}

TEST(Controls, NulDelAndUnusedC0BytesLeaveNoTrace) {
    VtHarness h(20, 4);
    static constexpr char BYTES[] = "a\0b\x7f" "c\x01\x02\x03\x04\x05\x06\x10\x11\x1c\x1f" "d";
    h.feed(std::string(BYTES, sizeof BYTES - 1));
    EXPECT_EQ(h.screen(), "abcd\n\n\n");
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 4u);
}

TEST(Controls, BellRingsTheVisualBell) {
    VtHarness h;
    h.feed("\a\x1bg");
    EXPECT_EQ(h.callbacks.calls["on_visual_bell"], 2);
}

TEST(Controls, BackspaceAtColumnZeroReverseWrapsOnlyWhenAsked) {
    VtHarness h(10, 3);
    h.feed("\r\n\b");
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("\x1b[?45h\b");
    EXPECT_EQ(h.vt.cursor_col(), 9);
    EXPECT_EQ(h.vt.cursor_row(), 0u);
}

TEST(Controls, PrintingWrapsAtTheRightEdge) {
    VtHarness h(5, 3);
    h.feed("abcdefgh");
    EXPECT_EQ(h.screen(), "abcde\nfgh\n");
    EXPECT_TRUE(h.vt.lines()[0].was_wrapped);
    EXPECT_TRUE(h.vt.lines()[1].rejoinable);
    h.feed("\x1b[?7l\r\n123456789");
    EXPECT_EQ(h.screen(), "abcde\nfgh\n12349");
}

// ESC sequences ---------------------------------------------------------------------------------

TEST(Escapes, SaveAndRestoreCursorKeepScreenRowAttributesAndOriginMode) {
    VtHarness h(10, 4);
    h.feed("\x1b[2;3H\x1b[41m\x1b" "7\x1b[0m\n\n\n\n\n\x1b" "8x");
    EXPECT_EQ(h.vt.cursor_row() - h.vt.screen_top(), 1u);
    EXPECT_EQ(h.vt.lines()[h.vt.screen_top() + 1].cells[2].bg_index(), 1);
}

TEST(Escapes, RestoreCursorBringsBackOriginMode) {
    VtHarness h(10, 6);
    h.feed("\x1b[3;5r\x1b[?6h\x1b" "7\x1b[?6l\x1b" "8\x1b[1;1HX");
    EXPECT_EQ(h.line_text(2), "X");
}

TEST(Escapes, EscapeInsideAnEscapeRestartsIt) {
    VtHarness h(10, 4);
    h.feed("\x1b[2;3H\x1b\x1b" "7\x1b[H\x1b" "8");
    EXPECT_EQ(h.vt.cursor_col(), 2);
}

TEST(Escapes, FormatEffectorsInsideAnEscapeRunAndTheEscapeGoesOn) {
    VtHarness h(10, 4);
    // ESC CR 7: a carriage return, then DECSC.
    h.feed("abc\x1b\r" "7\x1b[2;5H\x1b" "8X");
    EXPECT_EQ(h.screen(), "Xbc\n\n\n");
    // CAN cancels; other C0 bytes are ignored.
    h.feed("\x1b\x18" "7\x1b\x01" "D");
    EXPECT_EQ(h.line_text(0), "X7c");
    EXPECT_EQ(h.vt.cursor_row(), 1u);
}

TEST(Escapes, IndexNextLineAndTabStops) {
    VtHarness h(20, 3);
    h.feed("ab\x1b" "Dc\x1b" "Ed\x1b[1;4H\x1bH\r\tx");
    EXPECT_EQ(h.screen(), "ab x\n  c\nd");
}

TEST(Escapes, AlignmentPatternFillsTheScreenAndHomes) {
    VtHarness h(4, 2);
    h.feed("\x1b[2;2r\x1b[2;3H\x1b#8");
    EXPECT_EQ(h.screen(), "EEEE\nEEEE");
    EXPECT_EQ(h.vt.cursor_row(), 0u);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 1);
}

TEST(Escapes, StrayStringTerminatorReturnsToGround) {
    VtHarness h;
    h.feed("\x1b\\" "7");
    EXPECT_EQ(h.line_text(0), "7");
}

// Character sets --------------------------------------------------------------------------------

TEST(Charsets, DecSpecialGraphicsDrawsLinesAndLeavesTheRest) {
    VtHarness h;
    h.feed("\x1b(0lqk`|}~_\x1b(Bq");
    EXPECT_EQ(h.line_text(0), utf8(0x250C) + utf8(0x2500) + utf8(0x2510) + utf8(0x25C6) + utf8(0x2260) +
                                  utf8(0x00A3) + utf8(0x00B7) + "_q");
}

TEST(Charsets, SingleShiftAppliesToOneCharacter) {
    VtHarness h;
    h.feed("\x1b*0\x1bNqq");
    EXPECT_EQ(h.line_text(0), utf8(0x2500) + "q");
}

TEST(Charsets, ShiftOutSelectsG1) {
    VtHarness h;
    h.feed("\x1b)0x\x0ex\x0fx\x1b(A#");
    EXPECT_EQ(h.line_text(0), "x" + utf8(0x2502) + "x" + utf8(0x00A3));
}

TEST(Charsets, RestoreCursorBringsBackTheCharacterSets) {
    VtHarness h;
    h.feed("\x1b(0\x1b" "7\x1b(B\x1b" "8q");
    h.feed("\r\n\x1b)0\x0e\x1b" "7\x0f\x1b" "8q");
    EXPECT_EQ(h.line_text(0), utf8(0x2500));
    EXPECT_EQ(h.line_text(1), utf8(0x2500));
}

TEST(Charsets, RestoreWithoutSaveOrAfterAFullResetHomesWithDefaults) {
    VtHarness h;
    h.feed("\x1b(0\x1b[41m\x1b[3;4H\x1b" "7\x1b" "c\x1b" "8q");
    VtHarness fresh;
    fresh.feed("\x1b[41m\x1b[3;4H\x1b" "8q");
    EXPECT_EQ(fresh.line_text(0), "q");
    EXPECT_EQ(h.line_text(0), "q");
    EXPECT_EQ(h.vt.lines()[h.vt.screen_top()].cells[0].bg_index(),
              fresh.vt.lines()[fresh.vt.screen_top()].cells[0].bg_index());
}

TEST(Charsets, UnknownCodeLeavesTheSlot) {
    VtHarness h;
    h.feed("\x1b(0\x1b(Zq");
    EXPECT_EQ(h.line_text(0), utf8(0x2500));
}

// Strings ---------------------------------------------------------------------------------------

TEST(Strings, LegacyTitleEndsAtBelOrStringTerminator) {
    VtHarness h;
    h.feed("\x1bkfirst\a\x1bksecond\x1b\\\x1bkthird\a\x1b\\x");
    ASSERT_EQ(h.callbacks.titles.size(), 3u);
    EXPECT_EQ(h.callbacks.titles[1], "second");
    EXPECT_EQ(h.vt.title(), "third");
    EXPECT_EQ(h.line_text(0), "x");
}

TEST(Strings, CancelAndStrayEscapeNeverSwallowTheOutput) {
    VtHarness h(40, 3);
    // A stray ESC ] from a binary file ends at the next escape: the text after it survives.
    h.feed("\x1b]0;junk\x1b[1;1Hvisible");
    EXPECT_EQ(h.line_text(0), "visible");
    h.feed("\x1b]2;a\x18" "after\x1bPqdata\x1a" "more");
    EXPECT_EQ(h.line_text(0), "visibleaftermore");
    EXPECT_EQ(h.vt.parser_state(), VT_PARSER_STATE_LITERAL);
}

TEST(Strings, OverlongStringsAreConsumedAndDropped) {
    VtHarness h(20, 3);
    h.feed("\x1bk" + std::string(VT_OSC_MAX + 10, 'a') + "\a" + "ok");
    EXPECT_TRUE(h.callbacks.titles.empty());
    EXPECT_EQ(h.line_text(0), "ok");
    h.feed("\x1b_" + std::string(VT_APC_MAX + 1, 'b') + "\x1b\\" + "!");
    EXPECT_EQ(h.line_text(0), "ok!");
}

TEST(Strings, ControlsInsideACsiRunAndTheSequenceGoesOn) {
    VtHarness h(10, 4);
    h.feed("\x1b[3\a;\n4H*");
    EXPECT_EQ(h.callbacks.calls["on_visual_bell"], 1);
    EXPECT_EQ(h.line_text(2), "   *");
    h.feed("\x1b[2\x18;1Hz\x1b[\x1b" "7");
    EXPECT_EQ(h.line_text(2), "   *;1Hz");
}

// Full reset ------------------------------------------------------------------------------------

TEST(FullReset, RecoversAGarbledTerminal) {
    VtHarness h(10, 4);
    h.feed("\x1b[?1049h\x1b(0\x0e\x1b[2;3r\x1b[?6h\x1b[41m\x1b[?25l\x1b]0;unterminated");
    h.feed("\x1b" "c");
    EXPECT_FALSE(h.vt.alternate_screen_active());
    // The red background was reset before the new lines were made: they carry none.
    for (const VtLine& line : h.vt.lines()) EXPECT_TRUE(line.cells.empty());
    h.feed("qx\x1b[4;1Hz\n\n");
    EXPECT_EQ(h.screen(), "\nz\n\n");
    EXPECT_EQ(h.line_text(0), "qx");
    EXPECT_FALSE(h.vt.cursor_hidden());
    EXPECT_EQ(h.vt.current_attributes(), h.vt.blank_cell());
    EXPECT_EQ(h.vt.lines().size(), 6u);
}

TEST(FullReset, EmptiesScrollbackAndResetsTabStopsButKeepsCursorStyle) {
    VtHarness h(20, 3);
    h.feed("a\n\n\n\n\n\x1b[3g\x1bH");
    const auto shape = h.vt.cursor_shape();
    h.feed("\x1b" "c");
    EXPECT_EQ(h.vt.lines().size(), 3u);
    EXPECT_TRUE(h.vt.tab_stops()[8]);
    EXPECT_EQ(h.vt.cursor_shape(), shape);
}

// Notifications and the output queue ------------------------------------------------------------

TEST(Notifications, EachFiresAtMostOncePerChunk) {
    VtHarness h;
    h.feed("a\r\nb\r\nc\x1b[2J");
    EXPECT_EQ(h.callbacks.calls["on_activity"], 1);
    EXPECT_EQ(h.callbacks.calls["request_repaint"], 1);
}

TEST(Notifications, FireInTheirOrderAfterTheChunk) {
    struct Ordered : VtCallbacks {
        std::string order;
        void on_activity() override { order += "activity "; }
        void request_repaint() override { order += "repaint "; }
        void on_scroll_position_changed() override { order += "scroll "; }
    } callbacks;
    Vt vt(10, 3, callbacks);
    vt.interpret("1\r\n2\r\n3\r\n4");
    vt.scroll_view_to(0);
    callbacks.order.clear();
    vt.interpret("\r\n5");
    EXPECT_EQ(callbacks.order, "activity repaint scroll ");
}

TEST(OutputQueue, RepliesAreDroppedWhileTheChildDoesNotRead) {
    VtHarness h;
    const std::string paste(Vt::REPLY_QUEUE_LIMIT + 10, 'p');
    h.vt.queue_output(paste);
    h.vt.queue_reply("\x1b[0n");
    EXPECT_EQ(h.vt.pending_output(SIZE_MAX).size(), paste.size());
    h.vt.queue_output("k");  // keys are never dropped
    std::size_t drained = 0;
    while (h.vt.has_pending_output()) {
        const auto chunk = h.vt.pending_output(128);
        drained += chunk.size();
        h.vt.consume_output(chunk.size());
    }
    EXPECT_EQ(drained, paste.size() + 1);
    h.vt.queue_reply("r");
    EXPECT_EQ(h.vt.pending_output(10), "r");
    h.vt.consume_output(100);
    EXPECT_FALSE(h.vt.has_pending_output());
}

// Text helpers ----------------------------------------------------------------------------------

TEST(DebugText, VisualisesAControlSequence) {
    EXPECT_EQ(visualise("\x1b[1;32m"),
              "\x1b[100m" + std::string(control_picture(0x1B)) + "[" +
                  "\x1b[107m\x1b[30m1\x1b[100m\x1b[39m\x1b[91m;\x1b[39m" +
                  "\x1b[107m\x1b[30m3\x1b[100m\x1b[39m\x1b[107m\x1b[30m2\x1b[100m\x1b[39m" +
                  "\x1b[49m\x1b[44mm\x1b[m\x1b[49m");
    EXPECT_EQ(std::string(control_picture(0x1B)), "\x1b[40m\x1b[92m\xe2\x90\x9b\x1b[39m");
    EXPECT_EQ(control_picture('a'), nullptr);
}

TEST(DebugText, InvalidUtf8IsWrittenAsHexAndNulEndsTheText) {
    EXPECT_EQ(visualise("a\xff\xc3\xa9\xe2\x82z"), "a\\xFF\xc3\xa9\\xE2\\x82z\x1b[49m");
    EXPECT_EQ(visualise(std::string_view("ab\0cd", 5)), "ab\x1b[49m");
    EXPECT_EQ(visualise("\x1b]"), "\x1b[100m" + std::string(control_picture(0x1B)) + "]\x1b[49m");
}

TEST(WarningLimiter, AFloodIsCutToAFewPerSecond) {
    WarningLimiter limiter;
    const MonoTime t0{100, 0};
    int allowed = 0;
    for (int i = 0; i < 1000; ++i) allowed += limiter.allow("flood", t0);
    EXPECT_EQ(allowed, static_cast<int>(WarningLimiter::PER_SECOND));
    EXPECT_TRUE(limiter.allow("other", t0));
    EXPECT_TRUE(limiter.allow("flood", MonoTime{101, 0}));
}

}  // namespace
}  // namespace zelto::test
