// Printing: UTF-8 text into cells, wide and combining characters, wrapping, insert mode.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "terminal/vt_harness.hpp"
#include "terminal/wcwidth.hpp"

namespace zelto {
namespace {

using test::VtHarness;

const VtCell& cell(VtHarness& h, std::size_t row, std::size_t col) {
    return h.vt.lines()[h.vt.screen_top() + row].cells.at(col);
}

const VtLine& line(VtHarness& h, std::size_t row) { return h.vt.lines()[h.vt.screen_top() + row]; }

void expect_no_line_longer_than_the_screen(VtHarness& h) {
    for (const VtLine& l : h.vt.lines()) EXPECT_LE(l.cells.size(), h.vt.cols());
}

TEST(WideCharacters, TakeTwoCellsWhoseRightHalfIsATail) {
    VtHarness h(10, 3);
    h.feed("\x1b[1;6H\xe4\xb8\x80x");  // U+4E00 at column 5
    EXPECT_EQ(cell(h, 0, 5).code, U'\u4E00');
    EXPECT_EQ(cell(h, 0, 6).code, VT_WIDE_CHAR_TAIL);
    EXPECT_EQ(cell(h, 0, 7).code, U'x');
    EXPECT_EQ(h.vt.cursor_col(), 8);
}

TEST(WideCharacters, OneThatDoesNotFitWrapsFirst) {
    VtHarness h(10, 3);
    h.feed("123456789\xe4\xb8\x80");
    EXPECT_EQ(h.screen(), "123456789\n\xe4\xb8\x80\n");
    EXPECT_TRUE(line(h, 0).was_wrapped);
    EXPECT_TRUE(line(h, 1).rejoinable);
    EXPECT_EQ(h.vt.cursor_row() - h.vt.screen_top(), 1u);
    EXPECT_EQ(h.vt.cursor_col(), 2);
    expect_no_line_longer_than_the_screen(h);
}

TEST(WideCharacters, WithoutAutoWrapTheLastTwoColumnsTakeIt) {
    VtHarness h(10, 3);
    h.vt.modes().no_auto_wrap = true;
    h.feed("123456789\xe4\xb8\x80\xe4\xb8\x80");
    EXPECT_EQ(h.screen(), "12345678\xe4\xb8\x80\n\n");
    EXPECT_EQ(cell(h, 0, 9).code, VT_WIDE_CHAR_TAIL);
    EXPECT_EQ(h.vt.cursor_col(), 9);
    expect_no_line_longer_than_the_screen(h);
}

TEST(WideCharacters, ExactlyFillingTheLineLeavesTheWrapPending) {
    VtHarness h(10, 3);
    h.feed("12345678\xe4\xb8\x80");
    EXPECT_TRUE(h.vt.wrap_pending());
    EXPECT_EQ(h.vt.cursor_col(), 9);
    h.feed("z");
    EXPECT_EQ(h.screen(), "12345678\xe4\xb8\x80\nz\n");
    expect_no_line_longer_than_the_screen(h);
}

TEST(WideCharacters, OverwritingEitherHalfBlanksTheOther) {
    VtHarness h(10, 3);
    h.feed("\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\r");
    h.feed("\x1b[1;2Hx");  // over the right half of the first
    h.feed("\x1b[1;3Hy");  // over the left half of the second
    h.feed("\x1b[1;6H\xc3\xa9");  // a decoded character over the right half of the third
    EXPECT_EQ(h.screen(), " xy  \xc3\xa9\n\n");
    for (std::size_t c = 0; c < line(h, 0).cells.size(); ++c) EXPECT_NE(cell(h, 0, c).code, VT_WIDE_CHAR_TAIL) << c;
    // A wide character written over the right half of another, and rewritten in place.
    h.feed("\r\n\xe4\xb8\x80\xe4\xb8\x80\x1b[2;2H\xe4\xba\x8c");
    EXPECT_EQ(h.line_text(h.vt.screen_top() + 1), " \xe4\xba\x8c");
    EXPECT_EQ(cell(h, 1, 2).code, VT_WIDE_CHAR_TAIL);
    EXPECT_EQ(cell(h, 1, 3).code, U' ');
    h.vt.interpret("\x1b[2;2H\xe4\xba\x8c");
    EXPECT_EQ(line(h, 1).damage.type, VT_LINE_DAMAGE_NONE);
}

TEST(Wrapping, TheLastColumnDefersTheWrapToTheNextCharacter) {
    VtHarness h(5, 3);
    h.feed("abcde");
    EXPECT_EQ(h.vt.cursor_col(), 4);
    EXPECT_TRUE(h.vt.wrap_pending());
    EXPECT_EQ(h.vt.cursor_row(), h.vt.screen_top());
    h.feed("\xc3\xa9");  // a decoded character wraps like ASCII
    EXPECT_EQ(h.screen(), "abcde\n\xc3\xa9\n");
    EXPECT_TRUE(line(h, 0).was_wrapped);
    EXPECT_TRUE(line(h, 1).rejoinable);
    EXPECT_EQ(h.vt.cursor_col(), 1);
}

TEST(Wrapping, ACarriageReturnCancelsThePendingWrap) {
    VtHarness h(5, 3);
    h.feed("abcde\rX");
    EXPECT_EQ(h.screen(), "Xbcde\n\n");
    EXPECT_FALSE(line(h, 0).was_wrapped);
}

TEST(Wrapping, WithoutAutoWrapTheLastColumnIsOverwritten) {
    VtHarness h(5, 2);
    h.vt.modes().no_auto_wrap = true;
    h.feed("abcdefgh");
    EXPECT_EQ(h.screen(), "abcdh\n");
    h.feed("\xc3\xa9");
    EXPECT_EQ(h.screen(), "abcd\xc3\xa9\n");
    EXPECT_EQ(h.vt.cursor_col(), 4);
}

TEST(Wrapping, TextThroughTheBottomScrollsOneLineAtATime) {
    VtHarness h(4, 2);
    h.feed("abcdefghij", 3);
    EXPECT_EQ(h.screen(), "efgh\nij");
    EXPECT_EQ(h.line_text(0), "abcd");
}

TEST(Damage, RewritingTheSameTextMarksNothing) {
    VtHarness h(10, 2);
    // The harness draws after each feed, which takes the damage.
    h.feed("abc\xc3\xa9\r");
    h.vt.interpret("abc\xc3\xa9");
    EXPECT_EQ(h.vt.lines()[0].damage.type, VT_LINE_DAMAGE_NONE);
    h.vt.interpret("\rxbc");
    EXPECT_EQ(h.vt.lines()[0].damage.type, VT_LINE_DAMAGE_RANGE);
    EXPECT_EQ(h.vt.lines()[0].damage.front, 0);
    EXPECT_EQ(h.vt.lines()[0].damage.end, 0);
}

TEST(Combining, AComposableMarkMergesIntoItsBase) {
    VtHarness h(10, 2);
    h.feed("e\xcc\x81q\xcc\x81");
    EXPECT_EQ(cell(h, 0, 0).code, U'\u00E9');
    EXPECT_EQ(cell(h, 0, 0).combine[0], 0u);
    EXPECT_EQ(cell(h, 0, 1).code, U'q');
    EXPECT_EQ(cell(h, 0, 1).combine[0], U'\u0301');
    EXPECT_EQ(h.vt.cursor_col(), 2);
}

TEST(Combining, ALetterBetweenWideCharactersTakesItsMarks) {
    VtHarness h(12, 2);
    h.feed("\xe6\x97\xa5" "e\xcc\x81\xe6\x97\xa5 a\xcc\x88\xcc\xa3\xe6\x97\xa5");
    EXPECT_EQ(h.screen(), "\xe6\x97\xa5\xc3\xa9\xe6\x97\xa5 \xc3\xa4\xe6\x97\xa5\n");
    EXPECT_EQ(cell(h, 0, 2).code, U'\u00E9');
    EXPECT_EQ(cell(h, 0, 6).code, U'\u00E4');
    EXPECT_EQ(cell(h, 0, 6).combine[0], U'\u0323');
    EXPECT_EQ(cell(h, 0, 7).code, U'\u65E5');
}

TEST(Combining, AThirdMarkIsDropped) {
    VtHarness h(10, 2);
    h.feed("q\xcc\x81\xcc\x82\xcc\x83");
    EXPECT_EQ(cell(h, 0, 0).combine[0], U'\u0301');
    EXPECT_EQ(cell(h, 0, 0).combine[1], U'\u0302');
    EXPECT_EQ(h.vt.cursor_col(), 1);
}

TEST(Combining, LineMarksBecomeDecorationsUnlessTheLineHasItsOwnColour) {
    VtHarness h(10, 2);
    h.feed("a\xcc\xb2" "b\xcc\xb6" "c\xe1\xaa\xb6");
    EXPECT_EQ(cell(h, 0, 0).decorations, VT_CELL_UNDERLINED);
    EXPECT_EQ(cell(h, 0, 0).combine[0], 0u);
    EXPECT_EQ(cell(h, 0, 1).decorations, VT_CELL_STRIKETHROUGH);
    EXPECT_EQ(cell(h, 0, 2).decorations, VT_CELL_CURLY_UNDERLINE);
    h.vt.current_attributes().flags |= VT_CELL_LINE_COLOR_SET;
    h.feed("d\xcc\xb2");
    EXPECT_EQ(cell(h, 0, 3).decorations, 0);
    EXPECT_EQ(cell(h, 0, 3).combine[0], U'\u0332');
}

TEST(Combining, AMarkAfterAControlHasNoBaseAndIsDropped) {
    VtHarness h(10, 2);
    h.feed("a\r\xcc\x81");
    EXPECT_EQ(cell(h, 0, 0).code, U'a');
    EXPECT_EQ(cell(h, 0, 0).combine[0], 0u);
    EXPECT_EQ(h.vt.cursor_col(), 0);
}

TEST(Combining, MarksWithNothingBeforeThemOnAnEmptyLineLeaveItEmpty) {
    // The second mark follows the first, which joins marks, but the line has no cells at all.
    VtHarness h(10, 2);
    h.feed("\xcc\xb3\xcc\xa3");
    EXPECT_TRUE(line(h, 0).cells.empty());
    EXPECT_EQ(h.vt.cursor_col(), 0);
    h.feed("x");
    EXPECT_EQ(cell(h, 0, 0).code, U'x');
}

TEST(Combining, AMarkAfterTheLastColumnJoinsItsCellAndDoesNotWrap) {
    VtHarness h(5, 3);
    h.feed("abcde\xcc\x81");
    EXPECT_EQ(cell(h, 0, 4).code, U'\u00E9');
    EXPECT_TRUE(h.vt.wrap_pending());
    h.feed("\r\n1234\xe4\xb8\x80\xcc\x81");  // the wide character wrapped: the mark follows it
    EXPECT_EQ(cell(h, 2, 0).code, U'\u4E00');
    EXPECT_EQ(cell(h, 2, 0).combine[0], U'\u0301');
}

TEST(Combining, ZeroWidthJoinerSequencesStayInOneCellPerBase) {
    VtHarness h(10, 2);
    // man, zero-width joiner, woman: the joiner combines, the woman gets her own cells.
    h.feed("\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9");
    EXPECT_EQ(cell(h, 0, 0).combine[0], U'\u200D');
    EXPECT_EQ(cell(h, 0, 2).code, U'\U0001F469');
    EXPECT_EQ(h.vt.cursor_col(), 4);
}

TEST(Combining, AMarkAfterAnyLengthOfWideTextJoinsTheLastCharacter) {
    // The break state is brought up to date only when a mark comes: before it, after a run of
    // text as long as the questions that wait, and after a longer one.
    for (const int count : {1, 63, 64, 65, 129, 200, 249}) {
        VtHarness h(1000, 3);
        std::string text;
        for (int i = 0; i < count; ++i) text += "\xe4\xb8\x80";  // U+4E00
        h.feed(text + "\xcc\x81\xe2\x80\x8d" + text);  // U+0301 and a zero-width joiner between
        const auto last = static_cast<std::size_t>(2 * (count - 1));
        EXPECT_EQ(cell(h, 0, last).combine[0], U'\u0301') << count;
        EXPECT_EQ(cell(h, 0, last).combine[1], U'\u200D') << count;
        EXPECT_EQ(cell(h, 0, last + 2).code, U'\u4E00') << count;
        h.feed("\xcc\x81");
        EXPECT_EQ(cell(h, 0, static_cast<std::size_t>(4 * count - 2)).combine[0], U'\u0301') << count;
    }
}

TEST(InsertMode, TextPushesTheRestOfTheLineRightAndOffTheEdge) {
    VtHarness h(6, 2);
    h.feed("abcdef\r");
    h.vt.modes().insert = true;
    h.vt.interpret("XY");
    EXPECT_EQ(h.screen(), "XYabcd\n");
    EXPECT_EQ(line(h, 0).damage.type, VT_LINE_DAMAGE_FULL);
    expect_no_line_longer_than_the_screen(h);
    h.feed("\xe4\xb8\x80");
    EXPECT_EQ(h.screen(), "XY\xe4\xb8\x80" "ab\n");
    EXPECT_EQ(h.vt.cursor_col(), 4);
}

TEST(InsertMode, AWideCharacterPushedHalfOverTheEdgeGoesAwayWhole) {
    VtHarness h(6, 2);
    h.feed("abcd\xe4\xb8\x80\r");
    h.vt.modes().insert = true;
    h.feed("X");
    EXPECT_EQ(h.screen(), "Xabcd\n");
    EXPECT_NE(cell(h, 0, 5).code, U'\u4E00');
    expect_no_line_longer_than_the_screen(h);
}

TEST(InsertMode, BeyondTheEndOfTheLinePadsWithBlanks) {
    VtHarness h(6, 2);
    h.vt.modes().insert = true;
    h.feed("\x1b[1;4HZ");
    EXPECT_EQ(h.screen(), "   Z\n");
    EXPECT_EQ(line(h, 0).cells.size(), 4u);
}

TEST(Overhang, APrivateUseGlyphGetsRoomOnlyAtTheEndOfTheLine) {
    VtHarness h(6, 2);
    const std::string prompt = "ab\xee\x82\xb0";  // U+E0B0, a powerline separator
    h.feed(prompt);
    EXPECT_EQ(line(h, 0).cells.size(), 4u);
    // Redrawing the prompt never grows the line.
    for (int i = 0; i < 3; ++i) h.feed("\r" + prompt);
    EXPECT_EQ(line(h, 0).cells.size(), 4u);
    h.feed("\rxyz\xee\x82\xb0");
    EXPECT_EQ(line(h, 0).cells.size(), 5u);
    h.feed("\rxyz\xee\x82\xb0");
    EXPECT_EQ(line(h, 0).cells.size(), 5u);
    // In the last column there is no room to give.
    h.feed("\r\nabcde\xee\x82\xb0");
    EXPECT_EQ(line(h, 1).cells.size(), 6u);
    expect_no_line_longer_than_the_screen(h);
}

TEST(MalformedUtf8, EachBadSequenceIsOneReplacementAndTheBreakingByteCounts) {
    VtHarness h(20, 3);
    h.feed("a\xe2\x82" "b\xff" "c\xf0\x9f\x98\r\nd\xe2\x82\x1b" "7e");
    EXPECT_EQ(h.screen(), "a\xef\xbf\xbd" "b\xef\xbf\xbd" "c\xef\xbf\xbd\n" "d\xef\xbf\xbd" "e\n");
}

TEST(MalformedUtf8, SequencesSplitBetweenReadsStillDecode) {
    const std::string text = "\xe4\xb8\x80 e\xcc\x81 \xf0\x9f\x98\x80 \xe2\x82\n";
    VtHarness whole(20, 3);
    whole.feed(text);
    VtHarness split(20, 3);
    split.feed(text, 1);
    EXPECT_EQ(split.screen(), whole.screen());
    EXPECT_EQ(split.state_fingerprint(), whole.state_fingerprint());
}

TEST(MalformedUtf8, RandomBytesKeepTheScreenSound) {
    std::mt19937 random(5);
    std::string noise(1 << 18, '\0');
    for (char& c : noise) {
        const unsigned r = random() % 16;
        c = static_cast<char>(r < 6 ? 0x80 + random() % 0x80 : r < 8 ? 0xE0 + random() % 0x20 : r < 9 ? '\r' : 'a' + random() % 26);
    }
    VtHarness h(13, 5);
    const auto began = std::chrono::steady_clock::now();
    h.feed(noise, 4093);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
    expect_no_line_longer_than_the_screen(h);
}

TEST(Charsets, TranslatedTextTakesTheCharacterPath) {
    VtHarness h(10, 2);
    h.feed("\x1b(0qqx\x1b(Bq");
    EXPECT_EQ(h.screen(), "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x82q\n");
}

TEST(Charsets, AMarkJoinsATranslatedCharacterWhateverCameBeforeIt) {
    // The soft hyphen before the line drawing ends a grapheme; the mark follows the line.
    for (const std::size_t chunk : {std::size_t{0}, std::size_t{1}}) {
        VtHarness h(10, 2);
        h.feed("\x1b(0\xce\xa9\xc2\xadq\xcc\x81", chunk);
        EXPECT_EQ(cell(h, 0, 2).code, U'\u2500') << chunk;
        EXPECT_EQ(cell(h, 0, 2).combine[0], U'\u0301') << chunk;
        EXPECT_EQ(h.vt.cursor_col(), 3) << chunk;
    }
}

TEST(Wcwidth, GivesColumnsFromTheCharacterTables) {
    EXPECT_EQ(wcwidth(U'\u4E00'), 2);
    EXPECT_EQ(wcwidth(U'\u0301'), 0);
    EXPECT_EQ(wcwidth(0x1B), -1);
    EXPECT_EQ(wcwidth(U'A'), 1);
    EXPECT_EQ(wcwidth(0), 0);
    EXPECT_EQ(wcwidth(0x85), -1);
    EXPECT_EQ(wcwidth(U'\u200B'), 0);
    EXPECT_EQ(wcwidth(U'\u2060'), 0);
    EXPECT_EQ(wcwidth(U'\u00AD'), 1);
    EXPECT_EQ(wcwidth(U'\u1100'), 2);
    EXPECT_EQ(wcwidth(U'\u115F'), 2);
    EXPECT_EQ(wcwidth(U'\uFF21'), 2);
    EXPECT_EQ(wcwidth(U'\U0001F600'), 2);
    EXPECT_EQ(wcwidth(U'\U0003FFFD'), 2);
    EXPECT_EQ(wcwidth(U'\U000E01EF'), 0);
    EXPECT_EQ(wcwidth(U'\U000E01F0'), 1);
}

}  // namespace
}  // namespace zelto
