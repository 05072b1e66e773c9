// Modes set and reset by the child, judged by the DECRQM answers, the flags the rest of the
// terminal reads, the screen and the warnings.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "terminal/vt_harness.hpp"
#include "terminal/vt_modes.hpp"

namespace zelto::test {
namespace {

// The answer digit of one DECRQM, '?' when the reply is missing or malformed.
char dec_state(Vt& vt, std::uint32_t mode) {
    take_replies(vt);
    const std::string n = std::to_string(mode);
    vt.interpret("\x1b[?" + n + "$p");
    const std::string reply = take_replies(vt);
    const std::string head = "\x1b[?" + n + ";";
    if (reply.size() != head.size() + 3 || reply.compare(0, head.size(), head) != 0) return '?';
    return reply.substr(head.size() + 1) == "$y" ? reply[head.size()] : '?';
}

char ansi_state(Vt& vt, std::uint32_t mode) {
    take_replies(vt);
    const std::string n = std::to_string(mode);
    vt.interpret("\x1b[" + n + "$p");
    const std::string reply = take_replies(vt);
    const std::string head = "\x1b[" + n + ";";
    if (reply.size() != head.size() + 3 || reply.compare(0, head.size(), head) != 0) return '?';
    return reply.substr(head.size() + 1) == "$y" ? reply[head.size()] : '?';
}

std::string set_dec(std::uint32_t mode) { return "\x1b[?" + std::to_string(mode) + "h"; }
std::string reset_dec(std::uint32_t mode) { return "\x1b[?" + std::to_string(mode) + "l"; }

std::string stderr_of(const std::function<void()>& run) {
    testing::internal::CaptureStderr();
    run();
    return testing::internal::GetCapturedStderr();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string text_of(const VtLine& line) {
    std::string out;
    for (const VtCell& cell : line.cells) out += cell.code == 0 ? std::string(" ") : utf8(cell.code);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The state the terminal is created with, as DECRQM reports it: auto-wrap on, the cursor shown,
// Alt sending ESC; blinking as configured; everything else reset.
char initial_state(const Vt& vt, std::uint32_t mode) {
    switch (mode) {
    case 7:
    case 25:
    case 1039: return '1';
    case 12:
    case 13: return vt.cursor_blinking() ? '1' : '2';
    default: return '2';
    }
}

std::vector<std::uint32_t> numbers_of_kind(std::span<const VtMode> table, std::set<VtModeKind> kinds) {
    std::vector<std::uint32_t> out;
    for (const VtMode& mode : table) {
        if (kinds.contains(mode.kind)) out.push_back(mode.number);
    }
    return out;
}

// The DEC private modes DECRQM reports with their state.
std::vector<std::uint32_t> reportable_dec_modes() {
    std::vector<std::uint32_t> out;
    for (const VtMode& mode : vt_dec_private_modes()) {
        if (mode.flag != nullptr || mode.state != nullptr) out.push_back(mode.number);
    }
    return out;
}

// Where each DEC private mode shows outside the mode report.
struct Observed {
    std::uint32_t mode;
    std::function<bool(Vt&)> set;
};

const std::vector<Observed>& observed_dec_modes() {
    static const std::vector<Observed> modes = {
        {1, [](Vt& vt) { return vt.input_modes().application_cursor_keys; }},
        {6, [](Vt& vt) { return vt.modes().origin; }},
        {7, [](Vt& vt) { return !vt.modes().no_auto_wrap; }},
        {8, [](Vt& vt) { return vt.input_modes().auto_repeat; }},
        {9, [](Vt& vt) { return vt.input_modes().x10_mouse_reporting; }},
        {12, [](Vt& vt) { return vt.cursor_blinking(); }},
        {13, [](Vt& vt) { return vt.cursor_blinking(); }},
        {25, [](Vt& vt) { return !vt.cursor_hidden(); }},
        {40, [](Vt& vt) { return vt.modes().allow_column_switch; }},
        {45, [](Vt& vt) { return vt.modes().reverse_auto_wrap; }},
        {47, [](Vt& vt) { return vt.alternate_screen_active(); }},
        {69, [](Vt& vt) { return vt.modes().left_right_margins; }},
        {80, [](Vt& vt) { return !vt.modes().sixel_scrolling; }},
        {1000, [](Vt& vt) { return vt.input_modes().mouse_button_reporting; }},
        {1002, [](Vt& vt) { return vt.input_modes().mouse_motion_on_button_reporting; }},
        {1003, [](Vt& vt) { return vt.input_modes().mouse_motion_reporting; }},
        {1004, [](Vt& vt) { return vt.input_modes().focus_event_reporting; }},
        {1006, [](Vt& vt) { return vt.input_modes().extended_mouse_reporting; }},
        {1016, [](Vt& vt) { return vt.input_modes().pixel_mouse_reporting; }},
        {1037, [](Vt& vt) { return vt.input_modes().send_del_on_delete; }},
        {1039, [](Vt& vt) { return !vt.input_modes().no_alt_escape; }},
        {1042, [](Vt& vt) { return vt.modes().urgent_on_bell; }},
        {1043, [](Vt& vt) { return vt.modes().raise_on_bell; }},
        {1047, [](Vt& vt) { return vt.alternate_screen_active(); }},
        {1049, [](Vt& vt) { return vt.alternate_screen_active(); }},
        {1070, [](Vt& vt) { return vt.modes().private_color_registers; }},
        {2004, [](Vt& vt) { return vt.input_modes().bracketed_paste; }},
        {2026, [](Vt& vt) { return vt.in_synchronized_update(); }},
        {8452, [](Vt& vt) { return vt.modes().sixel_cursor_right; }},
    };
    return modes;
}

// Every mode of the tables ------------------------------------------------------------------------

TEST(ModeTable, EveryReportedDecModeIsObservedByTheTerminal) {
    std::vector<std::uint32_t> observed;
    for (const Observed& o : observed_dec_modes()) observed.push_back(o.mode);
    EXPECT_EQ(reportable_dec_modes(), observed);
}

TEST(ModeTable, EveryDecModeIsReportedBeforeAfterSetAndAfterReset) {
    for (const Observed& o : observed_dec_modes()) {
        SCOPED_TRACE("mode " + std::to_string(o.mode));
        VtHarness h;
        const char initial = initial_state(h.vt, o.mode);
        EXPECT_EQ(dec_state(h.vt, o.mode), initial);
        EXPECT_EQ(o.set(h.vt), initial == '1');
        h.feed(set_dec(o.mode));
        EXPECT_EQ(dec_state(h.vt, o.mode), '1');
        EXPECT_TRUE(o.set(h.vt));
        h.feed(reset_dec(o.mode));
        EXPECT_EQ(dec_state(h.vt, o.mode), '2');
        EXPECT_FALSE(o.set(h.vt));
    }
}

TEST(ModeTable, NotImplementedDecModesWarnChangeNothingAndAnswerZero) {
    for (const VtMode& mode : vt_dec_private_modes()) {
        if (mode.kind != VT_MODE_NOT_IMPLEMENTED) continue;
        SCOPED_TRACE("mode " + std::to_string(mode.number));
        VtHarness h;
        const std::string before = h.state_fingerprint();
        const std::string err = stderr_of([&] { h.feed(set_dec(mode.number) + reset_dec(mode.number)); });
        EXPECT_TRUE(contains(err, std::string(mode.name) + " not implemented\n")) << err;
        EXPECT_EQ(h.state_fingerprint(), before);
        stderr_of([&] { EXPECT_EQ(dec_state(h.vt, mode.number), '0'); });
    }
}

TEST(ModeTable, IgnoredAndStatelessDecModesAnswerZeroSilently) {
    for (const std::uint32_t mode : numbers_of_kind(vt_dec_private_modes(), {VT_MODE_IGNORED})) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        VtHarness h;
        const std::string before = h.state_fingerprint();
        const std::string err = stderr_of([&] {
            h.feed(set_dec(mode) + reset_dec(mode));
            EXPECT_EQ(dec_state(h.vt, mode), '0');
        });
        EXPECT_EQ(err, "");
        EXPECT_EQ(h.state_fingerprint(), before);
    }
    VtHarness h;
    EXPECT_EQ(stderr_of([&] {
                  EXPECT_EQ(dec_state(h.vt, 3), '0');
                  EXPECT_EQ(dec_state(h.vt, 15), '0');
              }),
              "");
}

TEST(ModeTable, TheAnsiModes) {
    VtHarness h;
    EXPECT_EQ(ansi_state(h.vt, 4), '2');
    h.feed("\x1b[4h");
    EXPECT_TRUE(h.vt.modes().insert);
    EXPECT_EQ(ansi_state(h.vt, 4), '1');
    h.feed("\x1b[4l");
    EXPECT_FALSE(h.vt.modes().insert);
    EXPECT_EQ(ansi_state(h.vt, 4), '2');

    EXPECT_EQ(ansi_state(h.vt, 12), '2');
    h.feed("\x1b[12h");
    EXPECT_TRUE(h.vt.input_modes().local_echo);
    EXPECT_EQ(ansi_state(h.vt, 12), '1');
    h.feed("\x1b[12l");
    EXPECT_FALSE(h.vt.input_modes().local_echo);
    EXPECT_EQ(ansi_state(h.vt, 12), '2');

    for (const VtMode& mode : vt_ansi_modes()) {
        if (mode.kind != VT_MODE_NOT_IMPLEMENTED) continue;
        SCOPED_TRACE("mode " + std::to_string(mode.number));
        VtHarness fresh;
        const std::string before = fresh.state_fingerprint();
        const std::string n = std::to_string(mode.number);
        const std::string err = stderr_of([&] {
            fresh.feed("\x1b[" + n + "h\x1b[" + n + "l");
            EXPECT_EQ(ansi_state(fresh.vt, mode.number), '0');
        });
        EXPECT_TRUE(contains(err, std::string(mode.name) + " not implemented\n")) << err;
        EXPECT_EQ(fresh.state_fingerprint(), before);
    }
}

TEST(ModeTable, LineFeedNeverImpliesCarriageReturn) {
    VtHarness h(10, 3);
    stderr_of([&] { h.feed("\x1b[20hab\n"); });
    EXPECT_EQ(h.vt.cursor_col(), 2);
}

// Parameters and warnings ---------------------------------------------------------------------

TEST(ModeParameters, SeveralModesInOneSequence) {
    VtHarness h;
    h.feed("\x1b[?1;2004h");
    EXPECT_TRUE(h.vt.input_modes().application_cursor_keys);
    EXPECT_TRUE(h.vt.input_modes().bracketed_paste);
    h.feed("\x1b[?1:2004l");
    EXPECT_FALSE(h.vt.input_modes().application_cursor_keys);
    EXPECT_FALSE(h.vt.input_modes().bracketed_paste);
}

TEST(ModeParameters, ZeroAndMissingNumbersAreInvalidAndTheRestGoesOn) {
    VtHarness h;
    std::string err = stderr_of([&] { h.feed("\x1b[?0h"); });
    EXPECT_EQ(err, "[\x1b[33mwarning\x1b[m] Invalid DECSET argument: '0'\n");
    err = stderr_of([&] { h.feed("\x1b[?;00;1004h"); });
    EXPECT_TRUE(contains(err, "Invalid DECSET argument: ''\n")) << err;
    EXPECT_TRUE(contains(err, "Invalid DECSET argument: '00'\n")) << err;
    EXPECT_TRUE(h.vt.input_modes().focus_event_reporting);
    err = stderr_of([&] { h.feed("\x1b[?l"); });
    EXPECT_TRUE(contains(err, "Invalid DECRST argument: ''\n")) << err;
    err = stderr_of([&] { h.feed("\x1b[0;4h"); });
    EXPECT_TRUE(contains(err, "Invalid SM argument: '0'\n")) << err;
    EXPECT_TRUE(h.vt.modes().insert);
    err = stderr_of([&] { h.feed("\x1b[4;0l"); });
    EXPECT_TRUE(contains(err, "Invalid RM argument: '0'\n")) << err;
    EXPECT_FALSE(h.vt.modes().insert);
}

TEST(ModeParameters, UnknownModesWarnWithTheirNumber) {
    VtHarness h;
    const std::string before = h.state_fingerprint();
    std::string err = stderr_of([&] { h.feed("\x1b[?9999h\x1b[?9998l"); });
    EXPECT_TRUE(contains(err, "Unknown DECSET/DECRST code: 9999\n")) << err;
    EXPECT_TRUE(contains(err, "Unknown DECSET/DECRST code: 9998\n")) << err;
    err = stderr_of([&] { h.feed("\x1b[9999h\x1b[3l"); });
    EXPECT_TRUE(contains(err, "unknown SM mode: 9999\n")) << err;
    EXPECT_TRUE(contains(err, "unknown SM mode: 3\n")) << err;
    EXPECT_EQ(h.state_fingerprint(), before);
    err = stderr_of([&] { h.feed("\x1b[?1005h"); });
    EXPECT_TRUE(contains(err, "utf8 mouse mode not implemented\n")) << err;
    EXPECT_EQ(h.state_fingerprint(), before);
}

// DECRQM -----------------------------------------------------------------------------------------

TEST(ModeReport, UnknownModesAnswerZero) {
    VtHarness h;
    std::string err = stderr_of([&] { h.feed("\x1b[?9999$p"); });
    EXPECT_EQ(take_replies(h.vt), "\x1b[?9999;0$y");
    EXPECT_TRUE(contains(err, "Unknown DECRQM mode: 9999\n")) << err;
    err = stderr_of([&] { h.feed("\x1b[9999$p"); });
    EXPECT_EQ(take_replies(h.vt), "\x1b[9999;0$y");
    EXPECT_TRUE(contains(err, "Unknown DECRQM mode: 9999\n")) << err;
}

TEST(ModeReport, TheAnsiFormAsksTheAnsiModes) {
    VtHarness h;
    h.feed("\x1b[?1h\x1b[4h");
    h.feed("\x1b[4$p\x1b[?1$p");
    EXPECT_EQ(take_replies(h.vt), "\x1b[4;1$y\x1b[?1;1$y");
    // DEC mode 4 (smooth scroll) is not the ANSI insert mode.
    stderr_of([&] { h.feed("\x1b[?4$p"); });
    EXPECT_EQ(take_replies(h.vt), "\x1b[?4;0$y");
    // ANSI mode 1 is not the cursor-key mode; without a number the ANSI form asks for it.
    stderr_of([&] { h.feed("\x1b[1$p\x1b[$p"); });
    EXPECT_EQ(take_replies(h.vt), "\x1b[1;0$y\x1b[1;0$y");
}

TEST(ModeReport, TheDecFormWantsExactlyOneNumber) {
    VtHarness h;
    stderr_of([&] { h.feed("\x1b[?$p\x1b[?1;2$p\x1b[?1:2$p\x1b[1;4$p"); });
    EXPECT_EQ(take_replies(h.vt), "");
}

TEST(ModeReport, OriginModeHomesTheCursorAndIsReported) {
    VtHarness h(10, 10);
    h.feed("\x1b[3;7r\x1b[5;5H\x1b[?6h");
    EXPECT_EQ(screen_row(h.vt), 2u);
    EXPECT_EQ(h.vt.cursor_col(), 0);
    EXPECT_EQ(dec_state(h.vt, 6), '1');
    h.feed("\x1b[5;5H\x1b[?6l");
    EXPECT_EQ(screen_row(h.vt), 0u);
    EXPECT_EQ(dec_state(h.vt, 6), '2');
}

TEST(ModeReport, SynchronizedUpdateIsReportedWhileItLasts) {
    VtHarness h(10, 3);
    h.feed("\x1b[?2026habc");
    EXPECT_EQ(dec_state(h.vt, 2026), '1');
    EXPECT_EQ(h.vt.visible_line(0)->cells.size(), 0u);
    h.feed("\x1b[?2026l");
    EXPECT_EQ(dec_state(h.vt, 2026), '2');
    EXPECT_EQ(text_of(*h.vt.visible_line(0)), "abc");
}

// Actions ---------------------------------------------------------------------------------------

TEST(ModeActions, PrinterStatusIsAnsweredForSetAndReset) {
    VtHarness h;
    h.feed("\x1b[?15h\x1b[?15l");
    EXPECT_EQ(take_replies(h.vt), "\x1b[?13n\x1b[?13n");
}

TEST(ModeActions, CursorBlinkModesTellTheOwner) {
    VtHarness h;
    h.feed("\x1b[?12l");
    EXPECT_FALSE(h.vt.cursor_blinking());
    h.feed("\x1b[?13h");
    EXPECT_TRUE(h.vt.cursor_blinking());
    EXPECT_EQ(dec_state(h.vt, 12), '1');
    EXPECT_EQ(h.callbacks.calls["on_cursor_blink_changed"], 2);
}

TEST(ModeActions, CursorVisibilityIsKeptWhileTracing) {
    VtHarness h;
    settings().debug_vt = 1;
    h.feed("\x1b[?25l");
    settings().debug_vt = 0;
    EXPECT_FALSE(h.vt.cursor_hidden());
    h.feed("\x1b[?25l");
    EXPECT_TRUE(h.vt.cursor_hidden());
}

TEST(ModeActions, LeavingLeftRightMarginModeFreesTheMargins) {
    VtHarness h(10, 2);
    h.feed("\x1b[?69h\x1b[3;6s\x1b[1;1Habcdefgh\x1b[1;2H\x1b[@");
    EXPECT_EQ(h.screen(), "a bcdegh\n");
    h.feed("\x1b[?69l\x1b[1;1Habcdefgh\x1b[1;2H\x1b[@");
    EXPECT_EQ(h.screen(), "a bcdefgh\n");
}

// Mode 80 (DECSDM) in both forms.
TEST(ModeActions, SixelScrollingFollowsBothForms) {
    VtHarness h;
    EXPECT_TRUE(h.vt.modes().sixel_scrolling);
    EXPECT_EQ(dec_state(h.vt, 80), '2');
    EXPECT_EQ(ansi_state(h.vt, 80), '2');
    h.feed("\x1b[80h");
    EXPECT_FALSE(h.vt.modes().sixel_scrolling);
    EXPECT_EQ(dec_state(h.vt, 80), '1');
    EXPECT_EQ(ansi_state(h.vt, 80), '1');
    h.feed("\x1b[?80l");
    EXPECT_TRUE(h.vt.modes().sixel_scrolling);
    h.feed("\x1b[?80h");
    EXPECT_FALSE(h.vt.modes().sixel_scrolling);
    h.feed("\x1b[80l");
    EXPECT_TRUE(h.vt.modes().sixel_scrolling);
    h.feed("\x1b[?80h\x1b" "c");
    EXPECT_TRUE(h.vt.modes().sixel_scrolling);
}

// Alternate screen ------------------------------------------------------------------------------

// A 6x3 terminal with two lines of scrollback ("1", "2") and "3", "4", "5" on the screen.
VtHarness& with_scrollback(VtHarness& h) {
    h.feed("1\r\n2\r\n3\r\n4\r\n5");
    return h;
}

void expect_main_screen_intact(VtHarness& h) {
    EXPECT_FALSE(h.vt.alternate_screen_active());
    EXPECT_EQ(h.screen(), "3\n4\n5");
    ASSERT_EQ(h.vt.lines().size(), 5u);
    EXPECT_EQ(h.line_text(0), "1");
    EXPECT_EQ(h.line_text(1), "2");
    EXPECT_GE(h.vt.cursor_row(), h.vt.screen_top());
}

TEST(AlternateScreen, ModesFortySevenAndTenFortySevenKeepTheScreenPosition) {
    for (const std::uint32_t mode : {47u, 1047u}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        VtHarness h(6, 3);
        with_scrollback(h);
        h.feed("\x1b[2;3H" + set_dec(mode));
        EXPECT_TRUE(h.vt.alternate_screen_active());
        EXPECT_EQ(h.screen(), "\n\n");
        EXPECT_EQ(dec_state(h.vt, mode), '1');
        h.feed("\x1b[3;4Habc");
        EXPECT_TRUE(h.vt.wrap_pending());
        h.feed(reset_dec(mode));
        expect_main_screen_intact(h);
        EXPECT_EQ(screen_row(h.vt), 2u);
        EXPECT_EQ(h.vt.cursor_col(), 5);
        EXPECT_FALSE(h.vt.wrap_pending());
        EXPECT_EQ(dec_state(h.vt, mode), '2');
    }
}

TEST(AlternateScreen, TenFortyNineRestoresTheCursorItSaved) {
    VtHarness h(6, 3);
    with_scrollback(h);
    h.feed("\x1b[2;3H\x1b[?1049h\x1b[3;5Hx\r\n\r\n\r\n");
    EXPECT_EQ(dec_state(h.vt, 1049), '1');
    h.feed("\x1b[?1049l");
    expect_main_screen_intact(h);
    EXPECT_EQ(screen_row(h.vt), 1u);
    EXPECT_EQ(h.vt.cursor_col(), 2);
}

TEST(AlternateScreen, TenFortyNineResetWithoutItsSetLeavesTheCursor) {
    VtHarness h(6, 3);
    with_scrollback(h);
    h.feed("\x1b[1;1H\x1b[?47h\x1b[2;4H\x1b[?1049l");
    expect_main_screen_intact(h);
    EXPECT_EQ(screen_row(h.vt), 1u);
    EXPECT_EQ(h.vt.cursor_col(), 3);
    // The slot empties whichever mode leaves: a later 1049 reset does not reuse it.
    h.feed("\x1b[1;1H\x1b[?1049h\x1b[?47l\x1b[3;6H\x1b[?47h\x1b[2;2H\x1b[?1049l");
    EXPECT_EQ(screen_row(h.vt), 1u);
    EXPECT_EQ(h.vt.cursor_col(), 1);
}

TEST(AlternateScreen, TheSavedCursorStaysOnTheScreenAcrossAResize) {
    VtHarness h(6, 3);
    with_scrollback(h);
    h.feed("\x1b[3;2H\x1b[?1049h");
    h.vt.resize(6, 2);
    h.feed("\x1b[?1049l");
    EXPECT_GE(h.vt.cursor_row(), h.vt.screen_top());
    EXPECT_EQ(h.line_text(h.vt.cursor_row()), "5");
    EXPECT_EQ(h.vt.cursor_col(), 1);
    h.vt.resize(6, 4);
    h.feed("\x1b[2;3H\x1b[?1049h");
    h.vt.resize(6, 3);
    h.feed("\x1b[?1049l");
    EXPECT_GE(h.vt.cursor_row(), h.vt.screen_top());
    EXPECT_EQ(screen_row(h.vt), 1u);
}

TEST(AlternateScreen, SwitchesOnlyWhenSomethingChanges) {
    VtHarness h(6, 3);
    h.feed("\x1b[?47l");
    EXPECT_EQ(h.callbacks.calls["on_buffer_switched"], 0);
    h.feed("\x1b[?47h\x1b[?47h");
    EXPECT_EQ(h.callbacks.calls["on_buffer_switched"], 1);
    h.feed("\x1b[?1047l\x1b[?1049l");
    EXPECT_EQ(h.callbacks.calls["on_buffer_switched"], 2);
}

TEST(AlternateScreen, SwitchingClearsTheSelection) {
    VtHarness h(6, 3);
    h.feed("abc");
    h.vt.selection().begin(VT_SELECTION_NORMAL, {0, 0});
    h.vt.selection().activate();
    h.vt.selection().set_end(h.vt.lines(), {0, 2});
    ASSERT_TRUE(h.vt.selection().active());
    h.feed("\x1b[?1049h");
    EXPECT_FALSE(h.vt.selection().active());
}

// DECCOLM ---------------------------------------------------------------------------------------

struct OwnerCallbacks : VtCallbacks {
    std::vector<std::string> calls;
    PixelSize get_pixel_size_for_cells(std::uint32_t cols, std::uint32_t rows) override {
        return {cols * 10, rows * 20};
    }
    void resize_text_area(std::uint32_t w, std::uint32_t h) override {
        calls.push_back("text " + std::to_string(w) + "x" + std::to_string(h));
    }
    void request_attention() override { calls.push_back("attention"); }
    void raise_window() override { calls.push_back("raise"); }
};

class ColumnMode : public testing::Test {
protected:
    void TearDown() override { settings().windowops = Settings::Windowops{}; }
    void fill() {
        vt.interpret("1\r\n2\r\n3\r\n4\r\n5\x1b[2;3r\x1b[3;4H");
        ASSERT_EQ(vt.lines().size(), 5u);
    }
    std::string screen() {
        std::string out;
        for (std::size_t i = vt.screen_top(); i < vt.lines().size(); ++i) {
            out += text_of(vt.lines()[i]) + (i + 1 < vt.lines().size() ? "\n" : "");
        }
        return out;
    }
    OwnerCallbacks owner;
    Vt vt{6, 3, owner};
};

TEST_F(ColumnMode, DoesNothingUnlessColumnSwitchingIsAllowed) {
    fill();
    vt.interpret("\x1b[?3h\x1b[?3l");
    EXPECT_EQ(screen(), "3\n4\n5");
    EXPECT_EQ(vt.lines().size(), 5u);
    EXPECT_EQ(text_of(vt.lines()[0]), "1");
    EXPECT_EQ(screen_row(vt), 2u);
    EXPECT_EQ(vt.cursor_col(), 3);
    EXPECT_EQ(vt.scroll_region_top(), 1);
    EXPECT_TRUE(owner.calls.empty());
}

TEST_F(ColumnMode, WhenAllowedClearsTheScreenKeepsTheScrollbackAndAsksForTheSize) {
    fill();
    vt.interpret("\x1b[?40h\x1b[?3h");
    EXPECT_EQ(screen(), "\n\n");
    ASSERT_EQ(vt.lines().size(), 5u);
    EXPECT_EQ(text_of(vt.lines()[0]), "1");
    EXPECT_EQ(text_of(vt.lines()[1]), "2");
    EXPECT_EQ(screen_row(vt), 0u);
    EXPECT_EQ(vt.cursor_col(), 0);
    EXPECT_EQ(vt.scroll_region_top(), 0);
    EXPECT_EQ(vt.scroll_region_bottom(), 2);
    vt.interpret("x\x1b[?3l");
    EXPECT_EQ(screen(), "\n\n");
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"text 1320x520", "text 800x480"}));
}

TEST_F(ColumnMode, WindowManipulationCanBeRefused) {
    settings().windowops.manipulation = false;
    fill();
    vt.interpret("\x1b[?40h\x1b[?3h");
    EXPECT_EQ(screen(), "\n\n");
    EXPECT_EQ(vt.lines().size(), 5u);
    EXPECT_TRUE(owner.calls.empty());
}

// Readers of the flags --------------------------------------------------------------------------

TEST_F(ColumnMode, BellModesRaiseAndAskForAttention) {
    vt.interpret("\a");
    EXPECT_TRUE(owner.calls.empty());
    vt.interpret("\x1b[?1042h\a");
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"attention"}));
    owner.calls.clear();
    vt.interpret("\x1b[?1043h\x1b[?1042l\a");
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"raise"}));
}

TEST(ModeReaders, LocalEchoPrintsTypedCharacters) {
    VtHarness h(10, 3);
    h.vt.key_input({U'a', true, 0});
    EXPECT_EQ(take_replies(h.vt), "a");
    EXPECT_EQ(h.screen(), "\n\n");
    h.feed("\x1b[12h");
    h.vt.key_input({U'b', true, 0});
    h.vt.key_input({KEYSYM_UP, false, 0});
    h.vt.key_input({U'c', true, 0});
    EXPECT_EQ(take_replies(h.vt), "b\x1b[Ac");
    EXPECT_EQ(h.screen(), "bc\n\n");
    h.feed("\x1b[12l");
    h.vt.key_input({U'd', true, 0});
    EXPECT_EQ(h.screen(), "bc\n\n");
}

TEST(ModeReaders, DeleteSendsDelWhenAsked) {
    VtHarness h;
    h.vt.key_input({127, true, 0});
    EXPECT_EQ(take_replies(h.vt), "\x1b[3~");
    h.feed("\x1b[?1037h");
    h.vt.key_input({127, true, 0});
    h.vt.key_input({KEYSYM_DELETE, false, 0});
    h.vt.key_input({KEYSYM_KP_DELETE, false, 0});
    EXPECT_EQ(take_replies(h.vt), "\x7f\x7f\x7f");
    h.vt.key_input({KEYSYM_DELETE, false, 4});
    EXPECT_EQ(take_replies(h.vt), "\x1b[3;5~");
}

// Resets ----------------------------------------------------------------------------------------

// Every flag away from the state it was created with.
std::string every_flag_changed(const Vt& vt) {
    std::string out;
    for (const VtMode& mode : vt_dec_private_modes()) {
        if (mode.kind != VT_MODE_FLAG) continue;
        out += initial_state(vt, mode.number) == '1' ? reset_dec(mode.number) : set_dec(mode.number);
    }
    return out + "\x1b[4h\x1b[12h\x1b[80h\x1b[?25l\x1b=";
}

TEST(ModeResets, FullResetClearsEveryMode) {
    VtHarness h;
    h.feed(every_flag_changed(h.vt) + "\x1b[?1049h\x1b[?2026h");
    h.feed("\x1b" "c");
    for (const std::uint32_t mode : reportable_dec_modes()) {
        if (mode == 12 || mode == 13) continue;  // the cursor style outlives a full reset
        SCOPED_TRACE("mode " + std::to_string(mode));
        EXPECT_EQ(dec_state(h.vt, mode), initial_state(h.vt, mode));
    }
    EXPECT_FALSE(h.vt.modes().insert);
    EXPECT_FALSE(h.vt.modes().application_keypad);
    EXPECT_FALSE(h.vt.input_modes().local_echo);
    EXPECT_TRUE(h.vt.modes().sixel_scrolling);
    EXPECT_EQ(ansi_state(h.vt, 4), '2');
    EXPECT_EQ(ansi_state(h.vt, 12), '2');
    EXPECT_EQ(ansi_state(h.vt, 80), '2');
}

TEST(ModeResets, SoftResetKeepsTheFlags) {
    VtHarness h;
    std::vector<char> changed;
    for (const VtMode& mode : vt_dec_private_modes()) {
        if (mode.kind == VT_MODE_FLAG) changed.push_back(initial_state(h.vt, mode.number) == '1' ? '2' : '1');
    }
    h.feed(every_flag_changed(h.vt) + "\x1b[!p");
    std::size_t i = 0;
    for (const VtMode& mode : vt_dec_private_modes()) {
        if (mode.kind != VT_MODE_FLAG) continue;
        SCOPED_TRACE("mode " + std::to_string(mode.number));
        EXPECT_EQ(dec_state(h.vt, mode.number), changed[i++]);
    }
    EXPECT_TRUE(h.vt.input_modes().local_echo);
    EXPECT_TRUE(h.vt.modes().insert);
}

}  // namespace
}  // namespace zelto::test
