// The cursor handed to the renderer, and its sliding column.
#include <gtest/gtest.h>

#include "app/app.hpp"
#include "app/fake_window.hpp"
#include "config/settings.hpp"
#include "gfx_gl2/gfx_null.hpp"

namespace zelto {
namespace {

AppBackends fake_backends() {
    AppBackends backends;
    backends.x11 = [](std::uint32_t w, std::uint32_t h, std::uint32_t, std::uint32_t,
                      WindowContextRequest, UiState*) -> std::unique_ptr<Window> {
        return std::make_unique<testing::FakeWindow>(w, h, 5);
    };
    backends.make_gfx = [](FontSet*) { return std::make_unique<GfxNull>(8, 16, 0); };
    return backends;
}

// A shell that prints `text` a moment after the App's first passes, and then waits.
class CursorAnimation : public ::testing::Test {
  protected:
    void start(const std::string& text, bool move, std::int32_t blink_rate_ms = 750) {
        settings() = Settings{};
        settings().blink.rate_ms = blink_rate_ms;
        settings().command_argv = {"/bin/sh", "-c", "sleep 0.1; printf '" + text + "'; sleep 5"};
        settings().command_path = "/bin/sh";
        settings().cursor_anim.move = move;
        app = std::make_unique<App>(fake_backends());
        app->start();
        app->window().repeat_rate = 200;
        app->loop_pass();  // the cursor's row is known before the text arrives
    }
    void TearDown() override {
        if (app) app->shutdown();
        settings() = Settings{};
    }
    template <typename Done>
    bool run_until(Done done) {
        const MonoTime deadline = mono_add_ms(mono_now(), 5000);
        while (!done() && mono_now() < deadline) app->loop_pass();
        return done();
    }
    std::unique_ptr<App> app;
};

TEST_F(CursorAnimation, WithoutTheMoveAnimationTheDrawnColumnIsTheCursorColumn) {
    start("abc", false);
    ASSERT_TRUE(run_until([&] { return app->vt().cursor_col() == 3; }));
    app->loop_pass();
    ASSERT_TRUE(app->ui().cursor.has_value());
    EXPECT_EQ(app->ui().cursor->col, 3);
    EXPECT_EQ(app->ui().cursor->row, app->vt().cursor_row());
    EXPECT_EQ(app->ui().drawn_cursor_column, 3.0);
}

TEST_F(CursorAnimation, OnTheSameRowTheColumnSlidesToItsTarget) {
    start("abcdefghij", true);
    ASSERT_TRUE(run_until([&] { return app->vt().cursor_col() == 10; }));
    bool between = false;
    ASSERT_TRUE(run_until([&] {
        const double c = app->ui().drawn_cursor_column;
        between |= c > 0.0 && c < 10.0;
        return c == 10.0;
    }));
    EXPECT_TRUE(between);
    EXPECT_EQ(app->ui().animation_target_column, 10);
}

TEST_F(CursorAnimation, KeyboardSelectModeHasItsOwnCursor) {
    start("abc\\r\\nde", false);
    ASSERT_TRUE(run_until([&] { return app->vt().cursor_col() == 2; }));
    app->keyboard_select().enter();
    app->loop_pass();
    const VtTextPoint select = app->keyboard_select().cursor();
    ASSERT_TRUE(app->ui().cursor.has_value());
    EXPECT_EQ(app->ui().cursor->row, select.line);
    EXPECT_EQ(app->ui().cursor->col, select.col);
    EXPECT_EQ(app->ui().cursor->shape, CURSOR_SHAPE_BLOCK);
    app->keyboard_select().leave();
}

TEST_F(CursorAnimation, BlinkRateBelowOneKeepsTheCursorSolidWithoutSpinning) {
    start("abc", false, 0);
    ASSERT_TRUE(run_until([&] { return app->vt().cursor_col() == 3; }));
    for (int i = 0; i < 3; ++i) app->loop_pass();
    EXPECT_NE(app->compute_wait(), 0);
    EXPECT_TRUE(app->ui().cursor_visible);
    EXPECT_EQ(app->ui().cursor_alpha, 1.0);
}

}  // namespace
}  // namespace zelto
