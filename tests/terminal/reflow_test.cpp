// Resize and reflow: lines that auto-wrap broke flow to the new width and back, the cursor stays
// on its text, rows come and go at the bottom, and the pty learns every new size.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "pty/pty.hpp"
#include "terminal/vt_harness.hpp"
#include "util/mono_time.hpp"

namespace zelto {
namespace {

using test::VtHarness;

class Reflow : public ::testing::Test {
  protected:
    void SetUp() override { settings() = Settings{}; }
    void TearDown() override { settings() = Settings{}; }
};

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// Text that counts up ("0123456789012..."), so a misplaced cell shows.
std::string digits(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
    return s;
}

// Every cell, link and flag of every line, for comparisons cell for cell.
std::string lines_dump(const Vt& vt) {
    std::ostringstream out;
    for (const VtLine& line : vt.lines()) {
        out << line.cells.size() << ' ' << line.reflowable << line.rejoinable << line.was_wrapped
            << line.mark_explicit << line.mark_command_invoke << line.mark_command_output_start
            << line.mark_command_output_end << ' ';
        out.write(reinterpret_cast<const char*>(line.cells.data()),
                  static_cast<std::streamsize>(line.cells.size() * sizeof(VtCell)));
        if (line.links) {
            for (const std::string& link : *line.links) out << " <" << link << '>';
        }
        out << '\n';
    }
    return out.str();
}

// Lengths, flags and text of every line, to show what differs.
std::string lines_text(const VtHarness& h) {
    std::string out;
    for (std::size_t i = 0; i < h.vt.lines().size(); ++i) {
        const VtLine& line = h.vt.lines()[i];
        out += std::to_string(line.cells.size()) + (line.rejoinable ? " r" : " -") + (line.was_wrapped ? "w " : "- ") +
               h.line_text(i) + "|\n";
    }
    return out;
}

std::string flags(const VtLine& line) {
    return std::string(line.rejoinable ? "r" : "-") + (line.was_wrapped ? "w" : "-");
}

VtCell cell_of(const Vt& vt, char32_t code) {
    VtCell cell = vt.blank_cell();
    cell.code = code;
    return cell;
}

TEST_F(Reflow, AWrappedLineJoinsWhenWiderAndSplitsWhenNarrower) {
    VtHarness h(80, 6);
    h.feed(digits(100) + "\r\n$ ");
    ASSERT_EQ(h.vt.cursor_row(), 2u);
    h.vt.resize(120, 6);
    h.check_invariants();
    EXPECT_EQ(h.line_text(0), digits(100));
    EXPECT_EQ(flags(h.vt.lines()[0]), "--");
    EXPECT_EQ(h.line_text(1), "$");
    EXPECT_EQ(h.vt.cursor_row(), 1u);
    EXPECT_EQ(h.vt.cursor_col(), 2u);

    h.vt.resize(40, 6);
    h.check_invariants();
    EXPECT_EQ(h.line_text(0), digits(40));
    EXPECT_EQ(h.line_text(1), digits(80).substr(40));
    EXPECT_EQ(h.line_text(2), digits(100).substr(80));
    EXPECT_EQ(flags(h.vt.lines()[0]), "-w");
    EXPECT_EQ(flags(h.vt.lines()[1]), "rw");
    EXPECT_EQ(flags(h.vt.lines()[2]), "r-");
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "$");
}

TEST_F(Reflow, ALineEndedByANewlineIsSplitAndJoinedButNeverJoinsTheNextLine) {
    VtHarness h(80, 6);
    h.feed(digits(80) + "\r\nnext line\r\n$ ");
    h.vt.resize(40, 6);
    h.check_invariants();
    EXPECT_EQ(h.screen(), digits(40) + "\n" + digits(80).substr(40) + "\nnext line\n$\n\n");
    EXPECT_EQ(flags(h.vt.lines()[0]), "-w");
    EXPECT_EQ(flags(h.vt.lines()[1]), "r-");
    h.vt.resize(120, 6);
    h.check_invariants();
    EXPECT_EQ(h.screen(), digits(80) + "\nnext line\n$\n\n\n");
    EXPECT_EQ(flags(h.vt.lines()[0]), "--");
}

TEST_F(Reflow, NarrowingAndWideningBackRestoresTheLinesCellForCell) {
    VtHarness h(80, 10);
    h.feed("\x1b[1;31m" + digits(170) + "\x1b[m\r\nshort\r\n" + digits(80) + "\r\n\x1b[4m" + digits(95) +
           "\x1b[m\r\n$ ");
    const std::string before = lines_dump(h.vt);
    for (std::uint32_t cols : {33u, 7u, 2u, 79u}) {
        h.vt.resize(cols, 10);
        h.check_invariants();
        h.vt.resize(80, 10);
        h.check_invariants();
        EXPECT_EQ(lines_dump(h.vt), before) << "through " << cols << " columns";
    }
}

TEST_F(Reflow, AWideCharacterAtTheNewEdgeMovesWhole) {
    VtHarness h(10, 4);
    h.feed("\x1b[4;1H$ ");
    std::vector<VtLine>& lines = h.vt.lines();
    for (char c : std::string("abcdefgh")) lines[0].cells.push_back(cell_of(h.vt, static_cast<char32_t>(c)));
    lines[0].cells.push_back(cell_of(h.vt, U'\u4e00'));
    lines[0].cells.push_back(cell_of(h.vt, VT_WIDE_CHAR_TAIL));
    lines[0].was_wrapped = true;
    lines[1].cells = {cell_of(h.vt, U'x'), cell_of(h.vt, U'y')};
    lines[1].rejoinable = true;
    const std::string before = lines_dump(h.vt);

    h.vt.resize(9, 4);
    h.check_invariants();
    EXPECT_EQ(h.line_text(0), "abcdefgh");
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 8u);
    EXPECT_EQ(h.vt.lines()[0].was_wrapped, true);
    ASSERT_EQ(h.vt.lines()[1].cells.size(), 4u);
    EXPECT_EQ(h.vt.lines()[1].cells[0].code, U'\u4e00');
    EXPECT_EQ(h.vt.lines()[1].cells[1].code, VT_WIDE_CHAR_TAIL);
    EXPECT_EQ(h.line_text(1), "\u4e00xy");

    h.vt.resize(10, 4);
    h.check_invariants();
    EXPECT_EQ(lines_dump(h.vt), before);
}

TEST_F(Reflow, TrailingBlanksOfWrappedLinesAreContentThoseBeforeANewlineAreNot) {
    VtHarness h(20, 6);
    // "ab" + 18 spaces wraps into "cd"; "ef" + 30 spaces erased in place ends with a newline.
    h.feed("ab" + repeat(' ', 18) + "cd\r\nef\x1b[K\r\n$ ");
    ASSERT_EQ(h.vt.lines()[1].cells.size(), 2u);
    ASSERT_EQ(h.vt.lines()[2].cells.size(), 20u);
    h.vt.resize(10, 6);
    h.check_invariants();
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 10u);
    EXPECT_EQ(h.vt.lines()[1].cells.size(), 10u);
    EXPECT_EQ(h.line_text(2), "cd");
    EXPECT_EQ(h.line_text(3), "ef");
    EXPECT_EQ(h.vt.lines()[3].cells.size(), 2u) << "the erased blanks went, and did not wrap";
    h.vt.resize(20, 6);
    h.check_invariants();
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 20u);
    EXPECT_EQ(h.line_text(1), "cd");
}

TEST_F(Reflow, TheCursorStaysOnItsTextAndItsColumnIsClampedAtOnce) {
    VtHarness h(80, 5);
    h.feed(digits(200) + "\r\n" + "$ " + digits(60));
    ASSERT_EQ(h.vt.cursor_col(), 62u);
    h.vt.resize(50, 5);
    h.check_invariants();
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "$ " + digits(60)) << "the child's line is its own";
    EXPECT_EQ(h.vt.cursor_col(), 49u);
    // Nothing may use the old column: a tab, an erase of characters and printing.
    h.feed("\t\x1b[5X\x1b[3@z");
    h.check_invariants();
    EXPECT_EQ(h.vt.cursor_col(), 49u);
    h.vt.resize(120, 5);
    h.check_invariants();
    EXPECT_EQ(h.vt.cursor_col(), 49u);
    EXPECT_EQ(h.line_text(h.vt.cursor_row() - 1), digits(200).substr(120));
    EXPECT_EQ(h.line_text(h.vt.cursor_row() - 2), digits(120));
}

TEST_F(Reflow, ShortOutputGrowsDownwardWhileThereIsRoomBelowTheCursor) {
    VtHarness h(20, 6);
    h.feed(digits(20) + "\r\n$ ");
    h.vt.resize(10, 6);
    h.check_invariants();
    EXPECT_EQ(h.vt.screen_top(), 0u) << "nothing scrolled away";
    EXPECT_EQ(h.screen(), digits(10) + "\n" + digits(20).substr(10) + "\n$\n\n\n");
    EXPECT_EQ(h.vt.cursor_row(), 2u);
}

TEST_F(Reflow, TheSavedCursorIsLimitedAndTheRegionMarginsAndTabStopsReset) {
    VtHarness h(80, 10);
    h.feed("\x1b[3g\x1b[1;31H\x1bH\x1b[2;8r\x1b[5;71H\x1b" "7\x1b[10;1H");
    h.vt.resize(40, 6);
    h.check_invariants();
    EXPECT_EQ(h.vt.scroll_region_top(), 0u);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 5u);
    for (std::size_t c = 0; c < 40; ++c) EXPECT_EQ(h.vt.tab_stops()[c], c % 8 == 0) << c;
    h.feed("\x1b" "8");
    EXPECT_EQ(h.vt.cursor_col(), 39u);
    EXPECT_EQ(h.vt.cursor_row() - h.vt.screen_top(), 4u);
    h.feed("\x1b[30;30H\x1b" "7");
    h.vt.resize(20, 3);
    h.feed("\x1b" "8");
    EXPECT_EQ(h.vt.cursor_col(), 19u);
    EXPECT_EQ(h.vt.cursor_row() - h.vt.screen_top(), 2u);
}

TEST_F(Reflow, NothingIsRewrappedInAScrollRegionOrOnTheAlternateScreen) {
    VtHarness h(20, 6);
    h.feed(digits(30) + "\r\n\x1b[2;4r\x1b[6;1H");
    h.vt.resize(10, 6);
    h.check_invariants();
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 20u);
    EXPECT_EQ(h.vt.lines()[1].cells.size(), 10u);
    EXPECT_EQ(h.vt.scroll_region_bottom(), 5u);

    h.feed("\x1b[?1049h" + digits(30));
    h.vt.resize(5, 6);
    h.check_invariants();
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 10u);
    h.feed("\x1b[?1049l");
    h.check_invariants();
    EXPECT_EQ(h.line_text(0), digits(20)) << "the parked main buffer was not touched";
}

TEST_F(Reflow, TheAlternateScreenReleasesTheLinesAHeightReductionPushesOut) {
    VtHarness h(10, 8);
    h.feed("main\r\n\x1b[?1049h");
    for (int i = 0; i < 8; ++i) h.feed("\x1b[" + std::to_string(i + 1) + ";1Halt" + std::to_string(i));
    h.draw();
    h.vt.resize(10, 3);
    h.check_invariants();
    ASSERT_EQ(h.vt.lines().size(), 3u) << "no scrollback on the alternate screen";
    EXPECT_EQ(h.screen(), "alt5\nalt6\nalt7");
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "alt7");
    h.feed("\x1b[?1049l");
    h.check_invariants();
    EXPECT_EQ(h.line_text(0), "main");
    EXPECT_EQ(h.vt.lines().size(), 3u);
}

TEST_F(Reflow, FewerRowsReleaseEmptyLinesBelowTheCursorFirst) {
    VtHarness h(20, 24);
    h.feed("\x1b[11;1Hrow 10");
    h.vt.resize(20, 20);
    h.check_invariants();
    EXPECT_EQ(h.vt.lines().size(), 20u);
    EXPECT_EQ(h.vt.screen_top(), 0u);

    VtHarness bottom(20, 24);
    bottom.feed("top\x1b[24;1Hlast");
    bottom.vt.resize(20, 20);
    bottom.check_invariants();
    EXPECT_EQ(bottom.vt.lines().size(), 24u);
    EXPECT_EQ(bottom.vt.screen_top(), 4u);
    EXPECT_EQ(bottom.line_text(0), "top");
    EXPECT_EQ(bottom.line_text(bottom.vt.cursor_row()), "last");

    bottom.vt.resize(20, 30);
    bottom.check_invariants();
    EXPECT_EQ(bottom.vt.screen_top(), 4u) << "scrollback is not pulled back into view";
}

TEST_F(Reflow, SizesBelowTwoByTwoChangeNothing) {
    VtHarness h(20, 5);
    h.feed(digits(30) + "\x1b[2;4r");
    const std::string before = h.state_fingerprint();
    h.vt.resize(1, 5);
    h.vt.resize(20, 1);
    h.vt.resize(0, 0);
    EXPECT_EQ(h.state_fingerprint(), before);
    EXPECT_EQ(h.vt.cols(), 20u);
}

TEST_F(Reflow, TenThousandLinesNarrowedAndWidenedBackAreIdentical) {
    settings().scrollback = 40000;
    VtHarness h(120, 24);
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        const std::size_t length = static_cast<std::size_t>((i * 37) % 301);
        text += (i % 7 == 0 ? "\x1b[32m" : "") + digits(length) + "\x1b[m\r\n";
    }
    h.feed(text + "$ ");
    const std::string before = lines_dump(h.vt);
    const std::size_t cursor = h.vt.cursor_row();
    h.vt.resize(40, 24);
    h.check_invariants();
    EXPECT_GT(h.vt.lines().size(), 20000u);
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "$");
    h.vt.resize(120, 24);
    h.check_invariants();
    EXPECT_EQ(lines_dump(h.vt), before);
    EXPECT_EQ(h.vt.cursor_row(), cursor);
}

TEST_F(Reflow, ASelectionFollowsItsCellsAndARectangleIsCleared) {
    VtHarness h(20, 6);
    h.feed(digits(30) + "\r\n$ ");
    VtSelection& selection = h.vt.selection();
    selection.begin(VT_SELECTION_NORMAL, {0, 15});
    selection.activate();
    selection.set_end(h.vt.lines(), {1, 4});
    ASSERT_EQ(selection.text(h.vt.lines()), "56789" "01234");
    h.vt.resize(10, 6);
    EXPECT_EQ(selection.start(), (VtTextPoint{1, 5}));
    EXPECT_EQ(selection.end(), (VtTextPoint{2, 4}));
    EXPECT_EQ(selection.text(h.vt.lines()), "56789" "01234");
    h.vt.resize(30, 6);
    EXPECT_EQ(selection.text(h.vt.lines()), "56789" "01234");

    selection.begin(VT_SELECTION_RECTANGLE, {0, 1});
    selection.activate();
    selection.set_end(h.vt.lines(), {0, 3});
    h.vt.resize(20, 6);
    EXPECT_FALSE(selection.active());
}

TEST_F(Reflow, LinksMarksAndCommandRowsMoveWithTheirCells) {
    VtHarness h(10, 5);
    h.feed(digits(10) + "abc\r\nnext\r\n$ ");
    std::vector<VtLine>& lines = h.vt.lines();
    lines[1].cells[1].link = static_cast<std::uint16_t>(lines[1].add_link("https://x/") + 1);
    lines[0].cells[8].link = static_cast<std::uint16_t>(lines[0].add_link("https://y/") + 1);
    lines[1].mark_command_output_end = true;
    lines[0].mark_command_output_start = true;
    auto command = std::make_shared<VtCommand>();
    command->output_start_row = 0;
    command->output_end_row = 2;
    h.vt.command_history().push_back(command);

    h.vt.resize(20, 5);
    ASSERT_EQ(h.line_text(0), digits(10) + "abc");
    const VtLine& joined = h.vt.lines()[0];
    ASSERT_TRUE(joined.links);
    EXPECT_EQ(joined.links->at(joined.cells[8].link - 1u), "https://y/");
    EXPECT_EQ(joined.links->at(joined.cells[11].link - 1u), "https://x/");
    EXPECT_TRUE(joined.mark_command_output_start);
    EXPECT_TRUE(joined.mark_command_output_end);
    EXPECT_EQ(command->output_start_row, 0u);
    EXPECT_EQ(command->output_end_row, 1u);

    h.vt.resize(5, 5);
    EXPECT_EQ(h.line_text(2), "abc");
    EXPECT_EQ(h.vt.lines()[2].links->at(h.vt.lines()[2].cells[1].link - 1u), "https://x/");
    EXPECT_FALSE(h.vt.lines()[0].mark_command_output_end);
    EXPECT_TRUE(h.vt.lines()[2].mark_command_output_end);
    EXPECT_EQ(command->output_end_row, 3u);
}

TEST_F(Reflow, AScrolledBackViewAndATrackedLineStayOnTheirTextAndAFrozenPictureEnds) {
    VtHarness h(20, 4);
    for (int i = 0; i < 30; ++i) h.feed("line " + std::to_string(i) + " " + digits(20) + "\r\n");
    h.vt.view_scroll_to(10, true);
    std::size_t tracked = 12;
    h.vt.set_tracked_line_index(&tracked);
    ASSERT_EQ(h.line_text(h.vt.view_top()), "line 5 " + digits(13));
    ASSERT_EQ(h.line_text(tracked), "line 6 " + digits(13));
    h.feed("\x1b[?2026h");
    ASSERT_TRUE(h.vt.in_synchronized_update());
    h.vt.resize(40, 4);
    h.check_invariants();
    EXPECT_FALSE(h.vt.in_synchronized_update());
    ASSERT_TRUE(h.vt.scrolled_back());
    EXPECT_EQ(h.vt.view_top(), 5u);
    EXPECT_EQ(h.line_text(h.vt.view_top()), "line 5 " + digits(20));
    EXPECT_EQ(h.line_text(tracked), "line 6 " + digits(20));
    h.vt.set_tracked_line_index(nullptr);
}

// Words, spaces, colours and line ends at random; no blanks before a line end, since those
// are not content and go at the first narrowing.
std::string random_output(std::mt19937& rng) {
    std::string text;
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int i = 0; i < 300; ++i) {
        switch (pick(8)) {
        case 0:
            while (!text.empty() && text.back() == ' ') text.pop_back();
            text += "\r\n";
            break;
        case 1: text += std::string(static_cast<std::size_t>(1 + pick(3)), ' '); break;
        case 2: text += pick(2) ? "\x1b[3" + std::to_string(pick(8)) + "m" : "\x1b[m"; [[fallthrough]];
        default:
            for (int n = 1 + pick(12); n > 0; --n) text += static_cast<char>('a' + pick(26));
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\x1b[m\r\n$ ";
}

TEST_F(Reflow, RandomOutputThroughRandomWidthsComesBackCellForCell) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 30; ++round) {
        VtHarness h(30, 8);
        h.feed(random_output(rng));
        // Some letter pairs become wide characters, so that random widths cut through them.
        for (VtLine& line : h.vt.lines()) {
            for (std::size_t c = 0; c + 1 < line.cells.size(); ++c) {
                if (line.cells[c].code < U'a' || line.cells[c + 1].code < U'a' || rng() % 4 != 0) continue;
                line.cells[c].code = U'\u4e00' + line.cells[c].code;
                line.cells[c + 1].code = VT_WIDE_CHAR_TAIL;
                ++c;
            }
        }
        const std::string before = lines_dump(h.vt);
        const std::string before_text = lines_text(h);
        for (int step = 0; step < 6; ++step) {
            const std::uint32_t cols = 2 + rng() % 70;
            h.vt.resize(cols, 8);
            h.check_invariants();
            h.draw();
            if (rng() % 2) {
                h.vt.resize(30, 8);
                h.check_invariants();
                ASSERT_TRUE(lines_dump(h.vt) == before)
                    << "round " << round << " through " << cols << "\n" << before_text << "\nnow\n" << lines_text(h);
            }
        }
        h.vt.resize(30, 8);
        ASSERT_TRUE(lines_dump(h.vt) == before) << "round " << round << "\n" << before_text << "\nnow\n" << lines_text(h);
        // Rows as well: only the invariants hold, as lines enter the scrollback and empty ones
        // come at the bottom.
        for (int step = 0; step < 6; ++step) {
            h.vt.resize(2 + rng() % 70, 2 + rng() % 12);
            h.check_invariants();
            h.feed("x\r\n" + digits(rng() % 50));
        }
    }
}

TEST_F(Reflow, ALongLineIsCutToTheOldWidthOnTheNextResize) {
    VtHarness h(20, 4);
    h.feed("$ " + digits(18));
    h.vt.resize(10, 4);
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 20u) << "the cursor's line is left to the child";
    h.vt.resize(10, 4);
    EXPECT_EQ(h.vt.lines()[0].cells.size(), 10u);
    h.check_invariants();
}

// Pixel sizes of 7 x 15 cells, plus what the terminal was asked.
struct PixelCallbacks : VtCallbacks {
    std::uint32_t cell_width = 7;
    PixelSize get_pixel_size_for_cells(std::uint32_t cols, std::uint32_t rows) override {
        return {cols * cell_width, rows * 15};
    }
};

struct MasterPty {
    MasterPty() {
        fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd >= 0 && (grantpt(fd) != 0 || unlockpt(fd) != 0)) {
            close(fd);
            fd = -1;
        }
    }
    ~MasterPty() {
        if (fd >= 0) close(fd);
    }
    winsize size() const {
        winsize ws{};
        ioctl(fd, TIOCGWINSZ, &ws);
        return ws;
    }
    int fd = -1;
};

TEST_F(Reflow, TheSameGridKeepsTheRegionAndTabsButStillSetsThePtySize) {
    MasterPty pty;
    ASSERT_GE(pty.fd, 2);
    PixelCallbacks callbacks;
    Vt vt(30, 8, callbacks);
    vt.set_pty_fd(pty.fd);
    vt.interpret(digits(40) + "\x1b[2;5r\x1b[1;3H\x1bH");
    for (VtLine& line : vt.lines()) line.damage.type = VT_LINE_DAMAGE_NONE;
    vt.resize(30, 8);
    EXPECT_EQ(vt.scroll_region_top(), 1u);
    EXPECT_EQ(vt.scroll_region_bottom(), 4u);
    EXPECT_TRUE(vt.tab_stops()[2]);
    for (const VtLine& line : vt.lines()) EXPECT_EQ(line.damage.type, VT_LINE_DAMAGE_NONE);
    winsize ws = pty.size();
    EXPECT_EQ(ws.ws_col, 30u);
    EXPECT_EQ(ws.ws_row, 8u);
    EXPECT_EQ(ws.ws_xpixel, 210u);
    EXPECT_EQ(ws.ws_ypixel, 120u);

    callbacks.cell_width = 9;  // a new font of the same grid
    vt.resize(30, 8);
    EXPECT_EQ(pty.size().ws_xpixel, 270u);
    EXPECT_DOUBLE_EQ(vt.cell_width(), 9.0);
    EXPECT_DOUBLE_EQ(vt.cell_height(), 15.0);

    vt.resize(1, 8);
    EXPECT_EQ(pty.size().ws_col, 30u);
    vt.resize(50, 20);
    ws = pty.size();
    EXPECT_EQ(ws.ws_col, 50u);
    EXPECT_EQ(ws.ws_row, 20u);
    EXPECT_EQ(ws.ws_xpixel, 450u);
    EXPECT_EQ(ws.ws_ypixel, 300u);
}

TEST_F(Reflow, AFailedPtySizeIsReportedAndTheNewSizeKept) {
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    PixelCallbacks callbacks;
    Vt vt(30, 8, callbacks);
    vt.set_pty_fd(pipe_fds[0]);
    testing::internal::CaptureStderr();
    vt.resize(40, 10);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ioctl(" + std::to_string(pipe_fds[0]) +
                       ", TIOCSWINSZ, winsize { 40, 10, 280, 150 }) failed:  " + std::strerror(ENOTTY) + "\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(vt.cols(), 40u);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

TEST_F(Reflow, TheChildSeesTheNewSizeWithStty) {
    settings().command_argv = {"/bin/sh", "-c", "read go; stty size"};
    settings().command_path = "/bin/sh";
    Pty pty;
    pty.start(80, 24);
    PixelCallbacks callbacks;
    Vt vt(80, 24, callbacks);
    vt.set_pty_fd(pty.master_fd());
    vt.resize(57, 13);
    ASSERT_EQ(pty.write("go\n"), 3);
    std::string output;
    const MonoTime deadline = mono_add_ms(mono_now(), 10'000);
    while (!pty.output_ended() && output.find("13 57") == std::string::npos && mono_now() < deadline) {
        pty.wait(50);
        for (std::string_view chunk; !(chunk = pty.read()).empty();) output.append(chunk);
    }
    EXPECT_NE(output.find("13 57\r\n"), std::string::npos) << output;
}

}  // namespace
}  // namespace zelto
