#include "app/keyboard_select.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "app/quiet_app.hpp"
#include "config/settings.hpp"

namespace zelto {
namespace {

using testing::FakeWindow;

constexpr std::uint32_t CS = MODIFIER_CTRL | MODIFIER_SHIFT;
constexpr std::uint32_t XK_Return = 0xff0d, XK_Escape = 0xff1b;

MonoTime fake_now{1000, 0};
MonoTime fake_clock() {
    return fake_now;
}
void advance_ns(std::int64_t ns) {
    fake_now.nsec += ns;
    fake_now.sec += fake_now.nsec / 1'000'000'000;
    fake_now.nsec %= 1'000'000'000;
}

// A 20x5 grid over 30 numbered lines ("line 0" .. "line 29"); the screen shows 25 .. 29 and the
// terminal cursor stands at the end of the last line.
class KeyboardSelectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::use_quiet_child(20, 5);
        app_.emplace(testing::fake_backends());
        app_->set_clock(fake_clock);
        app_->start();
        for (int i = 0; i < 30; ++i)
            vt().interpret((i ? "\r\nline " : "line ") + std::to_string(i));
    }
    void TearDown() override { app_->shutdown(); }

    FakeWindow& window() { return dynamic_cast<FakeWindow&>(app_->window()); }
    Vt& vt() { return app_->vt(); }
    KeyboardSelect& mode() { return app_->keyboard_select(); }
    std::size_t line() { return mode().cursor().line; }
    std::uint16_t col() { return mode().cursor().col; }

    void enter() { app_->key_handler(11, 'k', CS); }
    // Typed keys: their character, Shift when it is a shifted one.
    void type(const std::string& keys) {
        for (char c : keys) {
            const bool shifted =
                std::isupper(static_cast<unsigned char>(c)) || c == '$' || c == '^';
            advance_ns(1'000'000);
            app_->key_handler(static_cast<unsigned char>(c), 0, shifted ? MODIFIER_SHIFT : 0u);
        }
    }
    void ctrl(char c) {
        advance_ns(1'000'000);
        app_->key_handler(static_cast<std::uint32_t>(c & 0x1f), static_cast<unsigned char>(c),
                          MODIFIER_CTRL);
    }
    void symbol(std::uint32_t keysym, std::uint32_t mods = 0) {
        advance_ns(1'000'000);
        app_->key_handler(keysym, keysym, mods);
    }
    // Puts the cursor on an absolute line at a column, through the mode's own motions.
    void go_to(std::size_t target_line, std::uint16_t target_col) {
        type(std::to_string(target_line) + "g0");
        if (target_col) type(std::to_string(target_col) + "l");
    }
    void set_line(std::size_t index, const std::string& text) {
        vt().lines()[index].cells.clear();
        const std::size_t saved_row = vt().cursor_row();
        // The line is emptied above: an erase would fill it with blank cells to the edge.
        vt().interpret("\x1b[" + std::to_string(index - vt().screen_top() + 1) + ";1H" + text +
                       "\x1b[" + std::to_string(saved_row - vt().screen_top() + 1) + ";1H");
    }

    std::optional<App> app_;
};

TEST_F(KeyboardSelectTest, EnteringFreezesTheViewAndTakesTheTerminalCursor) {
    enter();
    ASSERT_TRUE(mode().active());
    EXPECT_EQ(line(), 29u);
    EXPECT_EQ(col(), 7u);
    EXPECT_TRUE(vt().scrolled_back());
    EXPECT_EQ(vt().view_top(), 25u);
    EXPECT_TRUE(app_->ui().scrollbar_shown);
    // The renderer draws this cursor, steady, and redraws its line.
    ASSERT_TRUE(app_->ui().cursor.has_value());
    EXPECT_EQ(app_->ui().cursor->row, 29u);
    EXPECT_FALSE(app_->ui().cursor->blinking);
    EXPECT_EQ(app_->ui().overlay_damage.type, VT_LINE_DAMAGE_FULL);
    type("k");
    EXPECT_EQ(app_->ui().cursor->row, 28u);

    // No key reaches the child, not even an unbound one, while the mode is on.
    type("aqx");
    app_->key_handler(3, 'c', CS | MODIFIER_ALT);
    EXPECT_EQ(vt().pending_output(SIZE_MAX), "");

    // Output arriving below does not move the frozen view.
    vt().interpret("\r\nnew");
    EXPECT_EQ(vt().view_top(), 25u);
}

TEST_F(KeyboardSelectTest, EnteringWhileScrolledBackPutsTheCursorOnTheNearestVisibleLine) {
    vt().view_scroll_to(3, true);
    enter();
    EXPECT_EQ(vt().view_top(), 3u);
    EXPECT_EQ(line(), 7u);
}

TEST_F(KeyboardSelectTest, CountsAreDigitsTypedWithinTheTimeout) {
    enter();
    type("k");
    EXPECT_EQ(line(), 28u);
    type("12k");
    EXPECT_EQ(line(), 16u);
    EXPECT_EQ(vt().view_top(), 16u);  // the view followed, by the least it had to

    type("1");
    advance_ns(KeyboardSelect::COUNT_TIMEOUT_NS);
    app_->key_handler('j', 0, 0);
    EXPECT_EQ(line(), 17u);

    type("2");
    advance_ns(KeyboardSelect::COUNT_TIMEOUT_NS - 2'000'000);
    type("j");
    EXPECT_EQ(line(), 19u);

    // A count holds three digits at most and 0 only after another digit.
    type("1000j");
    EXPECT_EQ(line(), 29u);
    EXPECT_EQ(mode().digits(), "");
    type("3l0");
    EXPECT_EQ(col(), 0u);
}

TEST_F(KeyboardSelectTest, GoToLinesAndTheMiddleOfTheView) {
    enter();
    type("g");
    EXPECT_EQ(line(), 0u);
    EXPECT_EQ(vt().view_top(), 0u);
    type("5g");
    EXPECT_EQ(line(), 5u);
    EXPECT_EQ(vt().view_top(), 1u);
    type("m");
    EXPECT_EQ(line(), 3u);
    type("999g");
    EXPECT_EQ(line(), 29u);
    EXPECT_EQ(vt().view_top(), 25u);
    type("g");
    type("G");
    EXPECT_EQ(line(), 29u);
    EXPECT_EQ(vt().view_top(), 25u);
    EXPECT_TRUE(vt().scrolled_back());
}

TEST_F(KeyboardSelectTest, ColumnAndWordMotionsStayOnTheLine) {
    set_line(27, "  foo bar   baz!");
    enter();
    go_to(27, 0);
    type("^");
    EXPECT_EQ(col(), 2u);
    type("$");
    EXPECT_EQ(col(), 15u);
    type("0w");
    EXPECT_EQ(col(), 2u);
    type("w");
    EXPECT_EQ(col(), 6u);
    type("w");
    EXPECT_EQ(col(), 12u);
    type("w");  // no word after the last one
    EXPECT_EQ(col(), 12u);
    type("b");
    EXPECT_EQ(col(), 6u);
    type("2b");
    EXPECT_EQ(col(), 2u);
    type("b");
    EXPECT_EQ(col(), 2u);
    type("e");
    EXPECT_EQ(col(), 4u);
    type("2e");
    EXPECT_EQ(col(), 15u);
    type("e");
    EXPECT_EQ(col(), 15u);

    type("5h");
    EXPECT_EQ(col(), 10u);
    type("99h");
    EXPECT_EQ(col(), 0u);
    type("99l");
    EXPECT_EQ(col(), 15u);  // the line's last cell
    symbol(KEY_SYM_LEFT);
    EXPECT_EQ(col(), 14u);
    symbol(KEY_SYM_RIGHT);
    EXPECT_EQ(col(), 15u);
    symbol(KEY_SYM_UP);
    EXPECT_EQ(line(), 26u);
    symbol(KEY_SYM_DOWN);
    EXPECT_EQ(line(), 27u);
    // With another modifier an arrow is not a motion.
    symbol(KEY_SYM_UP, MODIFIER_SHIFT);
    EXPECT_EQ(line(), 27u);
}

TEST_F(KeyboardSelectTest, ViewMovesByPageHalfPageAndLineKeepTheCursorInView) {
    enter();
    ctrl('b');  // rows - 2 = 3 lines
    EXPECT_EQ(vt().view_top(), 22u);
    EXPECT_EQ(line(), 26u);
    symbol(KEY_SYM_PAGE_UP);
    EXPECT_EQ(vt().view_top(), 19u);
    EXPECT_EQ(line(), 23u);
    type("2");
    ctrl('f');
    EXPECT_EQ(vt().view_top(), 25u);
    symbol(KEY_SYM_PAGE_DOWN);
    EXPECT_EQ(vt().view_top(), 25u);
    EXPECT_TRUE(vt().scrolled_back());

    EXPECT_EQ(line(), 25u);  // clamped into the view
    type("G2k");             // row 2 of the view
    EXPECT_EQ(line(), 27u);
    ctrl('u');  // rows / 2 = 2 lines; the cursor keeps its row
    EXPECT_EQ(vt().view_top(), 23u);
    EXPECT_EQ(line(), 25u);
    type("3");
    ctrl('d');
    EXPECT_EQ(vt().view_top(), 25u);
    EXPECT_EQ(line(), 27u);

    ctrl('y');
    EXPECT_EQ(vt().view_top(), 24u);
    type("30");
    ctrl('y');
    EXPECT_EQ(vt().view_top(), 0u);
    EXPECT_EQ(line(), 4u);  // clamped into the view
    ctrl('e');
    EXPECT_EQ(vt().view_top(), 1u);
    EXPECT_EQ(vt().pending_output(SIZE_MAX), "");
}

TEST_F(KeyboardSelectTest, SelectMoveAndCopyReachTheClipboard) {
    enter();
    go_to(26, 0);
    type("v");
    ASSERT_TRUE(vt().selection().active());
    type("jl");
    type("y");
    EXPECT_EQ(window().clipboard, "line 26\nli");
    EXPECT_FALSE(vt().selection().active());

    // Return starts and ends a selection too; c copies like y.
    window().clipboard.clear();
    app_->key_handler('\r', XK_Return, 0);
    ASSERT_TRUE(vt().selection().active());
    app_->key_handler('\r', XK_Return, 0);
    EXPECT_FALSE(vt().selection().active());
    type("c");  // nothing selected: nothing copied
    EXPECT_EQ(window().clipboard, "");
    type("0");
    app_->key_handler('\r', XK_Return, 0);
    type("$c");
    EXPECT_EQ(window().clipboard, "line 27");
}

TEST_F(KeyboardSelectTest, RectangularSelectionWithControlAndTheCopyBinding) {
    enter();
    go_to(25, 1);
    ctrl('v');
    ASSERT_EQ(vt().selection().mode(), VT_SELECTION_RECTANGLE);
    type("2j2l");
    app_->key_handler(3, 'c', CS);  // the copy binding also copies here
    EXPECT_EQ(window().clipboard, "ine\nine\nine");
    EXPECT_FALSE(vt().selection().active());

    // Ctrl+Return off a link selects rectangularly too.
    app_->key_handler('\r', XK_Return, MODIFIER_CTRL);
    EXPECT_EQ(vt().selection().mode(), VT_SELECTION_RECTANGLE);
}

TEST_F(KeyboardSelectTest, EscapeAndZLeaveAndReturnToTheBottom) {
    enter();
    type("g");
    ASSERT_EQ(vt().view_top(), 0u);
    type("v");
    app_->key_handler(0x1b, XK_Escape, 0);
    EXPECT_FALSE(mode().active());
    EXPECT_FALSE(vt().scrolled_back());
    EXPECT_FALSE(vt().selection().active());
    EXPECT_EQ(vt().visible_top(), 25u);
    ASSERT_TRUE(app_->ui().cursor.has_value());
    EXPECT_EQ(app_->ui().cursor->row, vt().cursor_row());
    EXPECT_EQ(app_->ui().cursor->col, vt().cursor_col());

    // Keys reach the child again.
    type("a");
    EXPECT_EQ(vt().pending_output(SIZE_MAX), "a");
    vt().consume_output(1);

    enter();
    type("g");
    type("Z");
    EXPECT_FALSE(mode().active());
    EXPECT_FALSE(vt().scrolled_back());
}

TEST_F(KeyboardSelectTest, TheCursorFollowsItsLineWhenTheHistoryIsTrimmed) {
    settings().scrollback = 10;
    enter();
    go_to(27, 0);
    const std::string text = line_text(vt().lines()[line()], 0, 0);
    ASSERT_EQ(text, "line 27");
    // Far more output than the history keeps, even while it is being read.
    for (int i = 0; i < 60; ++i) vt().interpret("\r\nflood " + std::to_string(i));
    ASSERT_LT(vt().lines().size(), 60u);
    ASSERT_LT(line(), vt().lines().size());
    type("j");
    EXPECT_LT(line(), vt().lines().size());
    type("G");
    EXPECT_EQ(line(), vt().lines().size() - 1);
    app_->key_handler(0x1b, XK_Escape, 0);
}

TEST_F(KeyboardSelectTest, TheCursorMovesWithItsLineWhenTheOldestLinesGo) {
    enter();
    go_to(27, 2);
    vt().remove_oldest_lines(5);
    EXPECT_EQ(line(), 22u);
    EXPECT_EQ(col(), 2u);
    EXPECT_EQ(line_text(vt().lines()[line()], 0, 0), "line 27");
    type("v$y");
    EXPECT_EQ(window().clipboard, "ne 27");
}

TEST_F(KeyboardSelectTest, ControlReturnOnALinkDoesNotSelect) {
    settings().uri_handler = "true";  // opening the link must start no browser
    VtLine& linked = vt().lines()[28];
    linked.cells.at(0).link =
        static_cast<std::uint16_t>(linked.add_link("https://example.org") + 1);
    enter();
    go_to(28, 0);
    app_->key_handler('\r', XK_Return, MODIFIER_CTRL);
    EXPECT_FALSE(vt().selection().active());
    type("l");
    app_->key_handler('\r', XK_Return, MODIFIER_CTRL);
    EXPECT_TRUE(vt().selection().active());
}

TEST_F(KeyboardSelectTest, TheCursorStaysOnItsLineWhenLinesAreInsertedAbove) {
    enter();
    go_to(27, 0);
    // Insert a line above the cursor's line, on the screen: the line moves down with it.
    vt().interpret("\x1b[2;1H\x1b[L");
    EXPECT_EQ(line(), 28u);
    EXPECT_EQ(line_text(vt().lines()[line()], 0, 0), "line 27");
}

}  // namespace
}  // namespace zelto
