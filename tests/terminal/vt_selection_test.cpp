#include "terminal/vt_selection.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelto {
namespace {

// Lines from text: '|' ends a line that wraps into the next one, '~' is the right half of the
// wide character before it, '_' a cell that was never written.
std::vector<VtLine> make_lines(std::initializer_list<std::u32string> texts) {
    std::vector<VtLine> lines;
    bool continues = false;
    for (std::u32string text : texts) {
        VtLine line;
        line.rejoinable = continues;
        continues = !text.empty() && text.back() == U'|';
        if (continues) text.pop_back();
        line.was_wrapped = continues;
        for (char32_t c : text) {
            VtCell cell;
            cell.code = c == U'~' ? VT_WIDE_CHAR_TAIL : c == U'_' ? 0 : c;
            line.cells.push_back(cell);
        }
        line.damage.type = VT_LINE_DAMAGE_NONE;
        lines.push_back(std::move(line));
    }
    return lines;
}

TEST(LineText, WritesCellsAsUtf8WithCombiningMarksAndKeepsTrailingBlanks) {
    auto lines = make_lines({U"a\u4e2d~_b  "});
    lines[0].cells[4].combine[0] = U'\u0301';
    EXPECT_EQ(line_text(lines[0], 0, 0), "a\xe4\xb8\xad b\xcc\x81  ");
    EXPECT_EQ(line_text(lines[0], 1, 3, "\n"), "\xe4\xb8\xad\n");
    EXPECT_EQ(line_text(lines[0], 2, 3), "") << "a right half alone yields nothing";
    EXPECT_EQ(line_text(lines[0], 5, 99), "  ");
}

TEST(LineText, StartsPastTheEndOrOnAnEmptyLineGiveOnlyTheTail) {
    auto lines = make_lines({U"abc", U""});
    EXPECT_EQ(line_text(lines[0], 3, 0, "\n"), "\n");
    EXPECT_EQ(line_text(lines[0], 99, 0), "");
    EXPECT_EQ(line_text(lines[1], 0, 0, "tail"), "tail");
}

TEST(Selection, PressWithoutMotionSelectsNothing) {
    auto lines = make_lines({U"hello"});
    VtSelection selection;
    selection.begin(VT_SELECTION_NORMAL, {0, 1});
    EXPECT_FALSE(selection.active());
    EXPECT_EQ(selection.text(lines), "");
    selection.clear(lines);
    selection.activate();
    EXPECT_FALSE(selection.active()) << "a clear forgets the pending anchor";
}

TEST(Selection, DragSelectsInReadingOrderWhicheverWayItGoes) {
    auto lines = make_lines({U"first line", U"second", U"third line"});
    VtSelection selection;
    selection.begin(VT_SELECTION_NORMAL, {2, 2});
    selection.activate();
    selection.set_end(lines, {0, 6});
    EXPECT_EQ(selection.text(lines), "line\nsecond\nthi");
    EXPECT_TRUE(selection.contains(9, 0));
    EXPECT_FALSE(selection.contains(5, 0));
    EXPECT_TRUE(selection.contains(0, 1));
    EXPECT_TRUE(selection.contains(2, 2));
    EXPECT_FALSE(selection.contains(3, 2));
    for (const VtLine& line : lines) EXPECT_EQ(line.damage.type, VT_LINE_DAMAGE_FULL);
}

TEST(Selection, SoftWrappedLinesJoinWithoutANewline) {
    auto lines = make_lines({U"a long sent|", U"ence here", U"next"});
    VtSelection selection;
    selection.begin(VT_SELECTION_NORMAL, {0, 2});
    selection.activate();
    selection.set_end(lines, {2, 3});
    EXPECT_EQ(selection.text(lines), "long sentence here\nnext");
}

TEST(Selection, OneLineTakesTheColumnsBetweenThePointsInclusive) {
    auto lines = make_lines({U"0123456789"});
    VtSelection selection;
    selection.begin(VT_SELECTION_NORMAL, {0, 7});
    selection.activate();
    selection.set_end(lines, {0, 3});
    EXPECT_EQ(selection.text(lines), "34567");
}

TEST(Selection, RectangleCopiesTheSameColumnsWhicheverCornerItStartsFrom) {
    auto lines = make_lines({U"abcdef", U"ghijkl", U"mnopqr"});
    VtSelection forward, backward;
    forward.begin(VT_SELECTION_RECTANGLE, {0, 1});
    forward.activate();
    forward.set_end(lines, {2, 3});
    backward.begin(VT_SELECTION_RECTANGLE, {0, 3});
    backward.activate();
    backward.set_end(lines, {2, 1});
    EXPECT_EQ(forward.text(lines), "bcd\nhij\nnop");
    EXPECT_EQ(backward.text(lines), forward.text(lines));
    EXPECT_TRUE(backward.contains(2, 1));
    EXPECT_FALSE(backward.contains(4, 1));
}

TEST(Selection, WordStopsAtBlanksAndKeepsWideCharactersWhole) {
    auto lines = make_lines({U"say hello\u4e2d~world now"});
    VtSelection selection;
    selection.select_word(lines, {0, 6});
    EXPECT_EQ(selection.text(lines), "hello\xe4\xb8\xadworld");
    selection.select_word(lines, {0, 3});
    EXPECT_EQ(selection.text(lines), " ") << "a blank selects only itself";
}

TEST(Selection, LineSelectsEveryColumn) {
    auto lines = make_lines({U"one", U"two  "});
    VtSelection selection;
    selection.select_line(lines, 1, 80);
    EXPECT_EQ(selection.text(lines), "two  ");
}

TEST(Selection, ClearDamagesTheSelectedLinesAndSaysWhetherThereWasOne) {
    auto lines = make_lines({U"a", U"b", U"c"});
    VtSelection selection;
    selection.select_line(lines, 1, 1);
    for (VtLine& line : lines) line.damage.type = VT_LINE_DAMAGE_NONE;
    EXPECT_TRUE(selection.clear(lines));
    EXPECT_EQ(lines[1].damage.type, VT_LINE_DAMAGE_FULL);
    EXPECT_EQ(lines[0].damage.type, VT_LINE_DAMAGE_NONE);
    EXPECT_FALSE(selection.clear(lines));
}

TEST(Selection, PointsFollowTheirLinesWhenLinesComeAndGo) {
    auto lines = make_lines({U"a", U"b", U"c", U"d", U"e"});
    VtSelection selection;
    selection.begin(VT_SELECTION_NORMAL, {2, 0});
    selection.activate();
    selection.set_end(lines, {4, 0});
    selection.shift(0, -1);  // the oldest line was trimmed
    EXPECT_EQ(selection.start(), (VtTextPoint{1, 0}));
    EXPECT_EQ(selection.end(), (VtTextPoint{3, 0}));
    selection.shift(2, 2);
    EXPECT_EQ(selection.start(), (VtTextPoint{1, 0}));
    EXPECT_EQ(selection.end(), (VtTextPoint{5, 0}));
    selection.shift(0, -3);  // the start's line is gone: it moves to the first survivor
    EXPECT_EQ(selection.start(), (VtTextPoint{0, 0}));
    EXPECT_EQ(selection.end(), (VtTextPoint{2, 0}));
    selection.shift(0, -10);
    EXPECT_FALSE(selection.active()) << "every selected line went away";
}

}  // namespace
}  // namespace zelto
