#include <gtest/gtest.h>

#include "config/settings.hpp"
#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

std::string lines_of(int n, const char* prefix = "line") {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::string(prefix) + std::to_string(i) + "\r\n";
    return s;
}

struct ScrollbackLimit {
    explicit ScrollbackLimit(std::uint32_t limit) : saved(settings().scrollback) { settings().scrollback = limit; }
    ~ScrollbackLimit() { settings().scrollback = saved; }
    std::uint32_t saved;
};

TEST(VtCell, IsA32ByteValueComparedBytewise) {
    VtCell a;
    VtCell b;
    EXPECT_EQ(a, b);
    b.decorations = VT_CELL_OVERLINE;
    EXPECT_NE(a, b);
    a.set_bg_index(VT_DEFAULT_BG_INDEX);
    EXPECT_EQ(a.bg_index(), -1);
    EXPECT_TRUE(a.has(VT_CELL_BG_IS_PALETTE_INDEX));
}

TEST(VtCell, TheFourBlankTestsDiffer) {
    RecordingCallbacks callbacks;
    Vt vt(10, 3, callbacks);
    VtCell blank = vt.blank_cell();
    EXPECT_TRUE(is_blank_cell(blank));
    EXPECT_TRUE(is_trimmable_blank_cell(blank));
    EXPECT_TRUE(is_unchanged_filler_cell(blank));
    VtCell inverted = blank;
    inverted.flags |= VT_CELL_INVERTED;
    EXPECT_TRUE(is_blank_cell(inverted));
    EXPECT_FALSE(is_trimmable_blank_cell(inverted));
    VtCell red_text = blank;
    red_text.set_fg_index(1);
    EXPECT_TRUE(is_blank_cell(red_text));
    EXPECT_FALSE(is_unchanged_filler_cell(red_text));
    VtCell blue = blank;
    blue.set_bg_index(4);
    EXPECT_FALSE(is_blank_cell(blue));
}

TEST(VtLine, StartsEmptyAndGrowsByItsOperations) {
    VtLine line;
    EXPECT_TRUE(line.cells.empty());
    EXPECT_EQ(line.cells.capacity(), 0u);
    EXPECT_EQ(line.damage.type, VT_LINE_DAMAGE_FULL);
    EXPECT_TRUE(line.reflowable);
    EXPECT_FALSE(line.rejoinable || line.was_wrapped || line.mark_explicit);
    EXPECT_EQ(line.add_link("http://a"), 0u);
    EXPECT_EQ(line.add_link("http://b"), 1u);
    EXPECT_EQ(line.add_link("http://a"), 0u);
    EXPECT_EQ(line.links->size(), 2u);
    VtCell a, b;
    a.code = U'a';
    b.code = U'b';
    line.insert_cell(0, b);
    line.insert_cell(0, a);
    line.insert_cell(5, a);  // past the end: ignored
    ASSERT_EQ(line.cells.size(), 2u);
    EXPECT_EQ(line.cells[0].code, U'a');
    const VtLine copy = line.copy_content();
    EXPECT_EQ(copy.cells.size(), 2u);
    EXPECT_EQ(copy.links->at(1), "http://b");
}

TEST(ScreenModel, ResizeKeepsTheCursorAndTheAlternateBufferSize) {
    VtHarness h(10, 6);
    h.feed("1\r\n2\r\n3\r\n4");
    h.vt.resize(8, 3);
    h.check_invariants();
    EXPECT_EQ(h.screen(), "2\n3\n4");
    h.feed("\x1b[?1049h");
    h.vt.resize(20, 10);
    h.check_invariants();
    h.vt.resize(5, 2);
    h.check_invariants();
    h.feed("\x1b[?1049l");
    h.check_invariants();
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "4");
}

TEST(ScreenModel, ColoursResolveThroughDefaultsPaletteBoldAndInverse) {
    VtHarness h;
    const Settings& s = settings();
    VtCell cell = h.vt.blank_cell();
    EXPECT_EQ(h.vt.resolve_fg(cell), s.fg_color);
    EXPECT_EQ(h.vt.resolve_bg(cell), s.bg_color);
    cell.set_fg_index(1);
    cell.font_style = VT_FONT_STYLE_BOLD;
    EXPECT_EQ(h.vt.resolve_fg(cell), build_palette(s.colors)[s.bold_is_bright ? 9 : 1]);
    cell.set_bg_index(4);
    const ColorRGB blue = build_palette(s.colors)[4];
    EXPECT_EQ(h.vt.resolve_bg(cell), (ColorRGBA{blue.r, blue.g, blue.b, 255}));
    cell.flags |= VT_CELL_INVERTED;
    EXPECT_EQ(h.vt.effective_fg(cell), blue);
    cell.flags &= static_cast<std::uint8_t>(~(VT_CELL_FG_IS_PALETTE_INDEX | VT_CELL_BG_IS_PALETTE_INDEX));
    cell.fg[0] = 10;
    cell.fg[1] = 20;
    cell.fg[2] = 30;
    EXPECT_EQ(h.vt.effective_bg(cell), (ColorRGBA{10, 20, 30, 255}));
}

TEST(ScreenModel, ALineWrittenOnlyInColumnTenHoldsElevenCells) {
    VtHarness h;
    h.feed("\x1b[1;11HX");
    const VtLine& line = h.vt.lines()[0];
    ASSERT_EQ(line.cells.size(), 11u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(line.cells[i], h.vt.blank_cell());
    EXPECT_EQ(line.cells[10].code, U'X');
    EXPECT_EQ(h.vt.lines()[1].cells.size(), 0u);
}

TEST(ScreenModel, RewritingTheSameCellLeavesNoDamage) {
    VtHarness h;
    h.feed("hello");
    EXPECT_EQ(h.vt.lines()[0].damage.type, VT_LINE_DAMAGE_NONE);  // drawn
    h.callbacks.calls.clear();
    h.feed("\rhello");
    EXPECT_EQ(h.vt.lines()[0].damage.type, VT_LINE_DAMAGE_NONE);
    EXPECT_EQ(h.callbacks.calls["on_activity"], 0);
    h.vt.interpret("\rheLlo");
    EXPECT_EQ(h.vt.lines()[0].damage.type, VT_LINE_DAMAGE_RANGE);
    EXPECT_EQ(h.vt.lines()[0].damage.front, 2);
    EXPECT_EQ(h.vt.lines()[0].damage.end, 2);
}

TEST(ScreenModel, LineFeedAtTheBottomAppendsAnEmptyLineOrABackgroundLine) {
    VtHarness h(10, 3);
    h.feed("\n\n\n");
    ASSERT_EQ(h.vt.lines().size(), 4u);
    EXPECT_EQ(h.vt.lines().back().cells.size(), 0u);
    h.feed("\x1b[44m\n");
    ASSERT_EQ(h.vt.lines().size(), 5u);
    const VtLine& line = h.vt.lines().back();
    ASSERT_EQ(line.cells.size(), 10u);
    EXPECT_EQ(line.cells[0].bg_index(), 4);
}

TEST(ScreenModel, ScrollbackIsTrimmedPastTenPercentOverTheLimit) {
    VtHarness h(80, 24);
    // 2000 lines of scrollback: nothing is trimmed up to 2200 lines, at 2201 the list is cut to 2024.
    h.feed(std::string(23 + 2176, '\n'));
    EXPECT_EQ(h.vt.lines().size(), 2200u);
    h.feed("\n");
    EXPECT_EQ(h.vt.lines().size(), 2024u);
}

TEST(ScreenModel, ASmallScrollbackKeepsItsHistory) {
    ScrollbackLimit limit(5);
    VtHarness h(20, 24);
    h.feed(lines_of(40));
    // 5 scrollback lines plus the screen; a negative excess never wipes anything.
    EXPECT_EQ(h.vt.lines().size(), 29u);
    EXPECT_EQ(h.line_text(0), "line12");
    ScrollbackLimit none(0);
    h.feed(lines_of(3, "x"));
    EXPECT_EQ(h.vt.lines().size(), 24u);
}

TEST(ScreenModel, AMarkInTheNextReadJoinsItsBaseAfterTheScrollbackWasTrimmed) {
    ScrollbackLimit limit(2);
    VtHarness h(10, 3);
    h.feed(lines_of(6));
    // Each read that scrolls trims the oldest lines: the base's row moves under it.
    h.feed("\r\nq");
    ASSERT_LE(h.vt.lines().size(), 5u);
    h.feed("\xcc\x81");
    h.feed("\xcc\x82");
    const VtCell& base = h.vt.lines()[h.vt.cursor_row()].cells.at(0);
    EXPECT_EQ(base.code, U'q');
    EXPECT_EQ(base.combine[0], U'\u0301');
    EXPECT_EQ(base.combine[1], U'\u0302');
}

TEST(ScreenModel, RemovingOldestLinesNeverRemovesTheScreen) {
    VtHarness h(10, 5);
    h.feed(lines_of(8));
    h.vt.remove_oldest_lines(1000);
    h.check_invariants();
    EXPECT_EQ(h.vt.lines().size(), 5u);
    EXPECT_EQ(h.screen(), "line4\nline5\nline6\nline7\n");
}

TEST(ScreenModel, AScrolledBackViewStaysPutAndIsTrimmedOnlyFarPastTheLimit) {
    ScrollbackLimit limit(10);
    VtHarness h(10, 5);
    h.feed(lines_of(20));
    ASSERT_EQ(h.vt.lines().size(), 15u);
    h.vt.scroll_view_to(3);
    h.callbacks.calls.clear();
    h.feed(lines_of(5, "y"));
    EXPECT_EQ(h.vt.view_top(), 3u);
    EXPECT_GT(h.callbacks.calls["on_scroll_position_changed"], 0);
    // More than 2 x 10 + 5 lines: cut to 10 + 5, the view moves with its lines and clamps at 0.
    h.feed(lines_of(10, "z"));
    EXPECT_LE(h.vt.lines().size(), 25u);
    h.feed(lines_of(30, "w"));
    EXPECT_LE(h.vt.lines().size(), 25u);
    EXPECT_TRUE(h.vt.scrolled_back());
    EXPECT_EQ(h.vt.view_top(), 0u);
}

TEST(ScreenModel, RegionScrollKeepsTheCursorRowAndMovesCommandMarksBelow) {
    VtHarness h(10, 12);
    for (int i = 0; i < 12; ++i) h.feed("\x1b[" + std::to_string(i + 1) + ";1H" + std::to_string(i));
    auto command = std::make_shared<VtCommand>();
    command->start_row = 7;
    command->output_start_row = 11;
    h.vt.command_history().push_back(command);
    h.feed("\x1b[6;11r\x1b[11;1H\n");
    EXPECT_EQ(h.vt.cursor_row(), 10u);
    EXPECT_EQ(h.screen(), "0\n1\n2\n3\n4\n6\n7\n8\n9\n10\n\n11");
    EXPECT_EQ(command->start_row, 6u);
    EXPECT_EQ(command->output_start_row, 11u);
}

TEST(ScreenModel, RegionScrollsMoveEachLineWholeWithItsLinkAndRendererCaches) {
    VtHarness h(20, 6);
    h.feed("a\r\nb\r\nsee http://x.org/p\r\nd\r\ne\r\nf");
    h.draw();
    const std::uint32_t proxy_of_link_line = h.vt.lines()[2].proxy.slots[0];
    // Down and up by one, then down by two and up by two: the link line ends where it began.
    h.feed("\x1b[2;5r\x1b[2;1H\x1bM\x1b[5;1H\n\x1b[2;1H\x1b[2L\x1b[2M");
    h.check_invariants();
    EXPECT_EQ(h.screen(), "a\nb\nsee http://x.org/p\n\n\nf");
    EXPECT_EQ(h.vt.lines()[2].proxy.slots[0], proxy_of_link_line);
    EXPECT_EQ(h.vt.lines()[2].cells[4].link, 1u);
    h.feed("\x1b[2;1H\x1b[3T");
    h.check_invariants();
    EXPECT_EQ(h.line_text(5), "f");
    for (int i = 0; i < 40; ++i) h.feed(i % 2 ? "\x1b[5;1H\n" : "\x1b[2;1H\x1bM");
    h.check_invariants();
    h.vt.damage_all();
    h.check_invariants();
    EXPECT_EQ(h.callbacks.released[proxy_of_link_line], 1);
}

TEST(ScreenModel, ARegionScrollCarriesALinkedLineToItsNewRow) {
    VtHarness h(20, 6);
    h.feed("a\r\nb\r\nsee http://x.org/p\r\nd\r\ne\r\nf");
    h.feed("\x1b[2;5r\x1b[5;1H\n");
    EXPECT_EQ(h.screen(), "a\nsee http://x.org/p\nd\ne\n\nf");
    const VtLine& moved = h.vt.lines()[1];
    ASSERT_TRUE(moved.links);
    EXPECT_EQ(moved.links->at(0), "http://x.org/p");
    EXPECT_EQ(moved.cells[4].link, 1u);
    h.feed("\x1b[2;1H\x1bM");
    EXPECT_EQ(h.vt.lines()[2].cells[4].link, 1u);
    EXPECT_EQ(h.vt.lines()[1].cells.size(), 0u);
}

TEST(ScreenModel, InsertAndDeleteLinesDamageAndReleaseProxies) {
    VtHarness h(10, 6);
    h.feed("a\r\nb\r\nc\r\nd\r\ne\r\nf");
    const std::uint32_t proxy_of_f = h.vt.lines()[5].proxy.slots[0];
    h.feed("\x1b[2;1H\x1b[L");
    EXPECT_EQ(h.screen(), "a\n\nb\nc\nd\ne");
    EXPECT_EQ(h.callbacks.released[proxy_of_f], 1);
    h.feed("\x1b[M\x1b[M");
    EXPECT_EQ(h.screen(), "a\nc\nd\ne\n\n");
    // The cursor outside the region: IL and DL do nothing.
    h.feed("\x1b[1;3r\x1b[5;1H\x1b[L\x1b[M");
    EXPECT_EQ(h.screen(), "a\nc\nd\ne\n\n");
}

TEST(ScreenModel, ReverseIndexAtTheRegionTopScrollsDown) {
    VtHarness h(10, 4);
    h.feed("1\r\n2\r\n3\r\n4\x1b[2;3r\x1b[2;1H\x1bM");
    EXPECT_EQ(h.screen(), "1\n\n2\n4");
    h.feed("\x1b[1;1H\x1bM");  // the top screen line stays the top line
    EXPECT_EQ(h.vt.cursor_row(), 0u);
}

TEST(ScreenModel, EraseOperationsUseTheCurrentBackground) {
    VtHarness h(6, 3);
    h.feed("abcdef\r\nghijkl\r\nmnopqr\x1b[2;3H\x1b[41m\x1b[K");
    EXPECT_EQ(h.screen(), "abcdef\ngh\nmnopqr");
    EXPECT_EQ(h.vt.lines()[1].cells.size(), 6u);
    EXPECT_EQ(h.vt.lines()[1].cells[5].bg_index(), 1);
    h.feed("\x1b[1K");
    EXPECT_EQ(h.vt.lines()[1].cells[0].bg_index(), 1);
    h.feed("\x1b[0m\x1b[1;4H\x1b[J");
    EXPECT_EQ(h.screen(), "abc\n\n");
}

TEST(ScreenModel, AlternateScreenHasExactlyRowsLinesAndNoScrollback) {
    VtHarness h(10, 5);
    h.feed(lines_of(7) + "main");
    const std::size_t main_lines = h.vt.lines().size();
    h.feed("\x1b[?1049h");
    EXPECT_EQ(h.callbacks.calls["on_buffer_switched"], 1);
    // A pager scrolling forever on the alternate screen grows nothing.
    for (int i = 0; i < 50; ++i) h.feed(lines_of(20, "alt"));
    EXPECT_EQ(h.vt.lines().size(), 5u);
    h.feed("\x1b[?1049l");
    EXPECT_EQ(h.vt.lines().size(), main_lines);
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "main");
    EXPECT_EQ(h.vt.cursor_col(), 4);
}

TEST(ScreenModel, AStaleAlternateScreenCursorSlotStaysOnTheScreen) {
    VtHarness h(10, 4);
    h.feed("\x1b[?1049h\x1b[?1049l" + lines_of(10) + "\x1b[?47h\x1b[?1049l");
    EXPECT_EQ(h.vt.cursor_row(), h.vt.screen_top());
}

TEST(ScreenModel, NewestRunningCommandSurvivesRemovalOfOldLines) {
    ScrollbackLimit limit(3);
    VtHarness h(10, 4);
    auto old_finished = std::make_shared<VtCommand>();
    old_finished->finished = true;
    auto running = std::make_shared<VtCommand>();
    running->start_row = 1;
    running->output_start_row = 2;
    h.vt.command_history() = {old_finished, running};
    h.feed(lines_of(30));
    ASSERT_EQ(h.vt.command_history().size(), 1u);
    EXPECT_EQ(h.vt.command_history()[0], running);
    EXPECT_EQ(running->start_row, 0u);
    EXPECT_EQ(running->output_start_row, 0u);
}

TEST(ScreenModel, AFullScrollbackLineCostsAtMostThreeKilobytes) {
    ScrollbackLimit limit(100000);
    VtHarness h(80, 24);
    std::string line(80, 'x');
    for (int i = 0; i < 1000; ++i) h.vt.interpret(line);
    std::size_t bytes = 0;
    for (const VtLine& l : h.vt.lines()) bytes += sizeof(VtLine) + l.cells.capacity() * sizeof(VtCell);
    EXPECT_LE(bytes / h.vt.lines().size(), 3072u);
}

TEST(ScreenModel, ABlankLineHoldsNoCellsAShortOneAFewAndALongerOneTheWidth) {
    VtHarness h(80, 24);
    h.feed("ab\r\n\r\n" + std::string(30, 'x'));
    EXPECT_EQ(h.vt.lines()[0].cells.capacity(), VtLine::INITIAL_CAPACITY);
    EXPECT_EQ(h.vt.lines()[1].cells.capacity(), 0u);
    EXPECT_GE(h.vt.lines()[2].cells.capacity(), 80u);
    EXPECT_EQ(h.vt.lines()[3].cells.capacity(), 0u);
}

TEST(ScreenModel, DamageAllReleasesEveryProxyOnce) {
    VtHarness h(10, 4);
    h.feed("a\r\nb");
    h.vt.damage_all();
    h.check_invariants();
    EXPECT_EQ(h.callbacks.released.size(), 4u);
    for (const VtLine& line : h.vt.lines()) EXPECT_EQ(line.damage.type, VT_LINE_DAMAGE_FULL);
}

// Synchronized update ---------------------------------------------------------------------------

TEST(SynchronizedUpdate, TheRendererSeesTheFrozenPictureUntilTheEnd) {
    VtHarness h(10, 3);
    h.feed("one\r\ntwo\r\nsix");
    const std::uint32_t proxy_two = h.vt.lines()[1].proxy.slots[0];
    h.feed("\x1b[?2026h");
    ASSERT_TRUE(h.vt.in_synchronized_update());
    ASSERT_TRUE(h.vt.synchronized_update_deadline().has_value());
    h.feed("\x1b[3;1Hten");
    EXPECT_EQ(h.vt.visible_line(2)->cells[0].code, U's');
    EXPECT_EQ(h.vt.lines()[1].proxy.slots[0], 0u);
    h.feed("\x1b[?2026l");
    EXPECT_FALSE(h.vt.in_synchronized_update());
    EXPECT_EQ(h.vt.lines()[1].proxy.slots[0], proxy_two);
    EXPECT_EQ(h.vt.lines()[1].damage.type, VT_LINE_DAMAGE_NONE);  // drawn again by the harness
    EXPECT_EQ(h.screen(), "one\ntwo\nten");
}

TEST(SynchronizedUpdate, EndDamagesOnlyTheCellsThatDiffer) {
    VtHarness h(10, 3);
    h.feed("abcdef\x1b[?2026h");
    h.vt.interpret("\x1b[1;3HXY\x1b[1;3Hcd\x1b[2;1Hnew\x1b[?2026l");
    EXPECT_EQ(h.vt.lines()[0].damage.type, VT_LINE_DAMAGE_NONE);
    const VtLineDamage second = h.vt.lines()[1].damage;
    EXPECT_EQ(second.type, VT_LINE_DAMAGE_RANGE);
    EXPECT_EQ(second.front, 0);
    EXPECT_EQ(second.end, 2);
    h.draw();
    h.check_invariants();
}

TEST(SynchronizedUpdate, FullDamageAndRemovedLinesKeepTheBookkeepingRight) {
    VtHarness h(10, 4);
    h.feed("a\r\nb\r\nc\r\nd\x1b[?2026h");
    // Lines scroll away, are erased and inserted during the update.
    h.feed("\x1b[2J\x1b[2;3r\x1b[2;1H\x1b[M\x1b[L\x1b[r" + lines_of(6));
    h.feed("\x1b[?2026l");
    h.check_invariants();
    EXPECT_FALSE(h.vt.in_synchronized_update());
}

TEST(SynchronizedUpdate, AFullyDamagedLineGetsItsCachesBack) {
    VtHarness h(10, 4);
    h.feed("a\r\nb\r\nc");
    const std::uint32_t proxy_a = h.vt.lines()[0].proxy.slots[0];
    const std::uint32_t proxy_c = h.vt.lines()[2].proxy.slots[0];
    // Erasing marks the line FULL; deleting line b moves c up one row.
    h.feed("\x1b[?2026h\x1b[1;1H\x1b[K\x1b[2;1H\x1b[M\x1b[?2026l");
    EXPECT_EQ(h.vt.lines()[0].proxy.slots[0], proxy_a);
    EXPECT_EQ(h.vt.lines()[1].proxy.slots[0], proxy_c);
    EXPECT_EQ(h.screen(), "\nc\n\n");
}

TEST(SynchronizedUpdate, AnUnendedUpdateEndsAtItsDeadline) {
    VtHarness h(10, 3);
    h.feed("\x1b[?2026hx");
    const MonoTime deadline = *h.vt.synchronized_update_deadline();
    h.vt.end_expired_synchronized_update(mono_add_ms(deadline, -1));
    EXPECT_TRUE(h.vt.in_synchronized_update());
    h.callbacks.calls.clear();
    h.vt.end_expired_synchronized_update(deadline);
    EXPECT_FALSE(h.vt.in_synchronized_update());
    EXPECT_EQ(h.callbacks.calls["request_repaint"], 1);
    h.check_invariants();
}

TEST(SynchronizedUpdate, ResetAndAlternateScreenEndIt) {
    VtHarness h(10, 3);
    h.feed("x\x1b[?2026h\x1b[?1049h");
    EXPECT_FALSE(h.vt.in_synchronized_update());
    h.feed("\x1b[?2026h\x1b" "c");
    EXPECT_FALSE(h.vt.in_synchronized_update());
    EXPECT_FALSE(h.vt.alternate_screen_active());
}

}  // namespace
}  // namespace zelto::test
