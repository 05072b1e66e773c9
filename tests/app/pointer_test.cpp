#include <gtest/gtest.h>

#include <string>

#include "app/quiet_app.hpp"

namespace zelto {
namespace {

using testing::FakeWindow;

constexpr std::int32_t CW = testing::FAKE_CELL_WIDTH;
constexpr std::int32_t CH = testing::FAKE_CELL_HEIGHT;
constexpr std::uint32_t LEFT = 1, MIDDLE = 2, RIGHT = 3, WHEEL_UP = 65;

MonoTime fake_now{1000, 0};
MonoTime fake_clock() {
    return fake_now;
}
void advance_ms(std::int64_t ms) {
    fake_now = mono_add_ms(fake_now, ms);
}

// An App with a 20x5 grid of 8x16 cells whose child stays quiet; the test writes the screen.
class Pointer : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::use_quiet_child(20, 5);
        app_.emplace(testing::fake_backends());
        app_->set_clock(fake_clock);
        app_->start();
    }
    void TearDown() override { app_->shutdown(); }

    FakeWindow& window() { return dynamic_cast<FakeWindow&>(app_->window()); }
    Vt& vt() { return app_->vt(); }
    std::string selected() { return vt().selection().text(vt().lines()); }

    // Pixel centre of a cell of the visible grid.
    static std::int32_t px(int col) { return col * CW + CW / 2; }
    static std::int32_t py(int row) { return row * CH + CH / 2; }

    void press(std::uint32_t button, int col, int row, std::uint32_t mods = 0) {
        app_->button_handler(button, true, px(col), py(row), 0, mods);
    }
    void release(std::uint32_t button, int col, int row, std::uint32_t mods = 0) {
        app_->button_handler(button, false, px(col), py(row), 0, mods);
    }
    void drag(int from_col, int from_row, int to_col, int to_row, std::uint32_t mods = 0) {
        press(LEFT, from_col, from_row, mods);
        app_->motion_handler(LEFT, px(to_col), py(to_row));
        release(LEFT, to_col, to_row, mods);
    }
    void click(int col, int row) {
        press(LEFT, col, row);
        release(LEFT, col, row);
    }

    std::optional<App> app_;
};

TEST_F(Pointer, DragSelectsAndAPlainClickClearsWithoutSelecting) {
    vt().interpret("hello world\r\nsecond line");
    drag(6, 0, 3, 1);
    EXPECT_EQ(selected(), "world\nseco");
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_I_BEAM);
    advance_ms(1000);
    click(2, 0);
    EXPECT_FALSE(vt().selection().active());
    EXPECT_EQ(selected(), "");
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_ARROW);
}

TEST_F(Pointer, DoubleClickWordTripleClickLineFourthClickWordAgain) {
    vt().interpret("say hello there");
    click(5, 0);
    advance_ms(100);
    click(5, 0);
    EXPECT_EQ(selected(), "hello");
    advance_ms(100);
    click(5, 0);
    EXPECT_EQ(selected(), "say hello there");
    // The count restarted after the triple click: a fourth click is a double click again.
    advance_ms(100);
    click(5, 0);
    EXPECT_EQ(selected(), "hello");
    advance_ms(400);
    click(5, 0);
    EXPECT_FALSE(vt().selection().active()) << "too late for a double click";
}

TEST_F(Pointer, CtrlDragSelectsARectangle) {
    vt().interpret("abcdef\r\nghijkl\r\nmnopqr");
    drag(4, 0, 1, 2, MODIFIER_CTRL);
    EXPECT_EQ(selected(), "bcde\nhijk\nnopq");
}

TEST_F(Pointer, RightPressExtendsTheNearerEnd) {
    vt().interpret("0123456789abcdefghij");
    drag(5, 0, 9, 0);
    EXPECT_EQ(selected(), "56789");
    press(RIGHT, 2, 0);
    app_->motion_handler(RIGHT, px(2), py(0));
    release(RIGHT, 2, 0);
    EXPECT_EQ(selected(), "23456789");
    press(RIGHT, 15, 0);
    app_->motion_handler(RIGHT, px(15), py(0));
    EXPECT_EQ(selected(), "23456789abcdef");
}

TEST_F(Pointer, MiddlePastesTheSelectionOrAsksForThePrimary) {
    vt().interpret("copy me");
    press(MIDDLE, 0, 0);
    EXPECT_EQ(window().primary_requests, 1);
    drag(0, 0, 3, 0);
    press(MIDDLE, 0, 0);
    EXPECT_EQ(vt().pending_output(100), "copy");
}

TEST_F(Pointer, LosingFocusPutsTheSelectionIntoThePrimary) {
    vt().interpret("primary text");
    drag(0, 0, 6, 0);
    app_->on_focus_changed(false);
    EXPECT_EQ(window().primary, "primary");
    app_->on_selection_lost();
    EXPECT_FALSE(vt().selection().active());
}

TEST_F(Pointer, SelectionOfAWrappedLineHasNoNewlineAtTheWrap) {
    vt().interpret("aaaaaaaaaaaaaaaaaaaabbbb\r\nc");
    drag(18, 0, 1, 1);
    EXPECT_EQ(selected(), "aabb");
}

TEST_F(Pointer, WheelScrollsTheViewAndShowsTheScrollbar) {
    for (int i = 0; i < 30; ++i) vt().interpret("line " + std::to_string(i) + "\r\n");
    const std::size_t bottom = vt().screen_top();
    app_->button_handler(WHEEL_UP, true, px(1), py(1), 0, 0);
    EXPECT_TRUE(vt().scrolled_back());
    EXPECT_EQ(vt().view_top(), bottom - 3);
    EXPECT_TRUE(app_->ui().scrollbar_shown);
    EXPECT_LT(app_->ui().scrollbar_top + app_->ui().scrollbar_length, 2.0f);
    app_->button_handler(WHEEL_UP, true, px(1), py(1), 100, 0);
    EXPECT_EQ(vt().view_top(), 0u) << "stops at the first line";
    EXPECT_FLOAT_EQ(app_->ui().scrollbar_top, 0.0f);
}

TEST_F(Pointer, DraggingToTheTopEdgeAutoscrollsAndExtendsTheSelection) {
    for (int i = 0; i < 30; ++i) vt().interpret("line " + std::to_string(i) + "\r\n");
    const std::size_t bottom = vt().screen_top();
    press(LEFT, 2, 3);
    app_->motion_handler(LEFT, px(2), 0);
    EXPECT_TRUE(vt().selection().active());
    // The autoscroll timer runs on the real clock.
    const MonoTime until = mono_add_ms(mono_now(), 200);
    while (mono_now() < until) app_->loop_pass();
    EXPECT_TRUE(vt().scrolled_back());
    EXPECT_LT(vt().view_top(), bottom);
    EXPECT_EQ(vt().selection().end().line, vt().view_top());
    release(LEFT, 2, 0);
    const std::size_t stopped_at = vt().view_top();
    const MonoTime later = mono_add_ms(mono_now(), 100);
    while (mono_now() < later) app_->loop_pass();
    EXPECT_EQ(vt().view_top(), stopped_at) << "autoscroll ends with the button";
}

TEST_F(Pointer, TitleBarButtonsActOnReleaseOverTheirCircle) {
    app_->on_decoration_mode_changed(1);
    app_->loop_pass();  // the pending relayout makes room for the bar
    ASSERT_EQ(app_->ui().title_bar_buttons.size(), 3u);
    const std::int32_t width = static_cast<std::int32_t>(window().w);
    const TitleBarButton& maximise = app_->ui().title_bar_buttons[1];
    EXPECT_EQ(maximise.x, width - 54);
    EXPECT_EQ(maximise.y, 18);
    app_->motion_handler(0, width - 54, 18);
    EXPECT_EQ(app_->ui().title_bar_buttons[1].hover, 1.0f);
    app_->button_handler(LEFT, true, width - 54, 18, 0, 0);
    EXPECT_FALSE(window().has_flag(WINDOW_IS_MAXIMIZED)) << "a press alone does nothing";
    app_->button_handler(LEFT, false, width - 54, 18, 0, 0);
    EXPECT_TRUE(window().has_flag(WINDOW_IS_MAXIMIZED));
    app_->button_handler(LEFT, false, width - 17 - 13, 18, 0, 0);
    EXPECT_FALSE(app_->exit_requested()) << "outside the close circle";
    app_->button_handler(LEFT, false, width - 17, 18 + 11, 0, 0);
    EXPECT_TRUE(app_->exit_requested());
}

TEST_F(Pointer, ReportingChildGetsTheMouseUnlessShiftIsHeld) {
    vt().interpret("some text\x1b[?1000h\x1b[?1006h");
    press(LEFT, 4, 2);
    release(LEFT, 4, 2);
    app_->button_handler(WHEEL_UP, true, px(1), py(0), 0, 0);
    EXPECT_EQ(vt().pending_output(100), "\x1b[<0;5;3M\x1b[<0;5;3m\x1b[<64;2;1M");
    EXPECT_FALSE(vt().scrolled_back());
    vt().consume_output(100);
    drag(0, 0, 3, 0, MODIFIER_SHIFT);
    EXPECT_EQ(vt().pending_output(100), "");
    EXPECT_EQ(selected(), "some");
}

}  // namespace
}  // namespace zelto
