// The Wayland window against a real headless weston: a compositor without a decoration manager
// and without a seat, drawn in software.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "config/settings.hpp"
#include "gfx_gl2/ui_state.hpp"
#include "window/wayland/headless_compositor.hpp"
#include "window/wayland/recording_callbacks.hpp"
#include "window/wayland/window_wayland.hpp"

namespace zelto {
namespace {

using test::HeadlessCompositor;
using test::loop_pass;
using test::RecordingCallbacks;
using test::run_until;

int open_fd_count() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

class WestonTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        weston = new HeadlessCompositor(HeadlessCompositor::WESTON);
        if (!weston->start()) {
            delete weston;
            weston = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete weston;
        weston = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(weston, nullptr) << "weston headless did not start";
        settings() = Settings{};
    }

    std::unique_ptr<Window> open(std::uint32_t width = 400, std::uint32_t height = 300) {
        auto window = window_wayland_create(width, height, 8, 16, WindowContextRequest{}, &ui);
        if (window) {
            window->callbacks = &callbacks;
        }
        return window;
    }
    static WaylandWindowInfo& info(Window& window) {
        return dynamic_cast<WaylandWindowInfo&>(window);
    }

    static HeadlessCompositor* weston;
    UiState ui;
    RecordingCallbacks callbacks;
};

HeadlessCompositor* WestonTest::weston = nullptr;

TEST_F(WestonTest, WithoutADecorationManagerTheWindowReservesTheTitleBar) {
    auto window = open(400, 300);
    ASSERT_TRUE(window);
    EXPECT_TRUE(info(*window).client_side_decorations());
    EXPECT_EQ(window->w, 400u);
    EXPECT_EQ(window->h, 337u);
    EXPECT_TRUE(window->paint);
    EXPECT_EQ(window->get_window_id(), -1);
    // The configure that mapped the window came before the callbacks were wired; it left the
    // mode in the shared UI state, and the shadow around the window.
    EXPECT_EQ(ui.decoration_mode, 1u);
    EXPECT_TRUE(info(*window).shadow_shown());
    EXPECT_TRUE(callbacks.decoration_modes.empty());
    EXPECT_EQ(callbacks.frames, 0);
}

TEST_F(WestonTest, NoDecorationsMeansNoReservation) {
    settings().decorations = DECORATIONS_NONE;
    auto window = open(400, 300);
    ASSERT_TRUE(window);
    EXPECT_FALSE(info(*window).client_side_decorations());
    EXPECT_EQ(window->h, 300u);
    EXPECT_FALSE(info(*window).shadow_shown());
}

TEST_F(WestonTest, FramesKeepComingWhileThereIsSomethingToDraw) {
    auto window = open();
    ASSERT_TRUE(window);
    window->set_swap_interval(1);
    int presented = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (presented < 10 && std::chrono::steady_clock::now() < deadline) {
        window->paint = true;
        presented += loop_pass(*window) ? 1 : 0;
    }
    EXPECT_EQ(presented, 10);
    EXPECT_EQ(callbacks.frames, presented);
}

TEST_F(WestonTest, AnIdleWindowPresentsNothing) {
    auto window = open();
    ASSERT_TRUE(window);
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.frames == 1; }));
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).frame_arrived(); }));
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(loop_pass(*window, 5));
    }
    EXPECT_EQ(callbacks.frames, 1);
    window->paint = true;
    EXPECT_TRUE(loop_pass(*window, 0));
}

TEST_F(WestonTest, TheOutputIsReportedOnceTheAppListens) {
    auto window = open();
    ASSERT_TRUE(window);
    ASSERT_TRUE(run_until(*window, [&] { return !callbacks.outputs.empty(); }));
    EXPECT_EQ(info(*window).bound_output_count(), 1u);
    EXPECT_FALSE(window->has_flag(WINDOW_IS_MINIMIZED));
    EXPECT_EQ(callbacks.outputs.front().name, window->output_name);
    EXPECT_FALSE(window->output_name.empty());
    EXPECT_GT(window->frame_interval_ms(), 0.0);
}

TEST_F(WestonTest, ASeatlessCompositorLeavesTheWindowRunning) {
    auto window = open();
    ASSERT_TRUE(window);
    for (int i = 0; i < 20; ++i) {
        window->paint = true;
        loop_pass(*window, 5);
    }
    EXPECT_FALSE(window->process_timers());
    EXPECT_FALSE(window->has_flag(WINDOW_IS_CLOSED));
    EXPECT_TRUE(weston->running());
}

TEST_F(WestonTest, FullscreenAndMaximizedChangeTheDecorationMode) {
    auto window = open(400, 300);
    ASSERT_TRUE(window);
    // Each change is drawn before the next is asked for, as a user's toggles are.
    auto settle_in_mode = [&](std::uint32_t mode) {
        const int frames = callbacks.frames;
        return run_until(*window, [&] {
            return !callbacks.decoration_modes.empty() &&
                   callbacks.decoration_modes.back() == mode && callbacks.frames > frames;
        });
    };
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.frames > 0; }));
    window->set_fullscreen(true);
    ASSERT_TRUE(settle_in_mode(0));
    EXPECT_EQ(ui.decoration_mode, 0u);
    EXPECT_FALSE(info(*window).shadow_shown());
    EXPECT_TRUE(window->has_flag(WINDOW_IS_FULLSCREEN));
    EXPECT_GT(window->w, 400u);
    window->set_fullscreen(false);
    ASSERT_TRUE(settle_in_mode(1));
    EXPECT_TRUE(info(*window).shadow_shown());
    EXPECT_EQ(window->w, 400u);
    EXPECT_EQ(window->h, 337u);

    window->set_maximized(true);
    ASSERT_TRUE(settle_in_mode(2));
    EXPECT_FALSE(info(*window).shadow_shown());
    window->set_maximized(false);
    ASSERT_TRUE(settle_in_mode(1));
    EXPECT_TRUE(info(*window).shadow_shown());
}

TEST_F(WestonTest, ResizingManyTimesLeaksNoDescriptors) {
    auto window = open(300, 200);
    ASSERT_TRUE(window);
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.frames >= 1; }));
    const int before = open_fd_count();
    for (int i = 0; i < 200; ++i) {
        window->resize(300 + static_cast<std::uint32_t>(i % 7) * 10, 200 + (i % 5) * 10);
        ASSERT_TRUE(run_until(*window, [&] { return !window->paint; }));
    }
    EXPECT_EQ(open_fd_count(), before);
    EXPECT_TRUE(info(*window).shadow_shown());
}

TEST_F(WestonTest, KeyNamesResolveWithoutAKeyboard) {
    auto window = open();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->get_keysym_from_name("Page_Up"), 0xFF55u);
    EXPECT_EQ(window->get_keysym_from_name("plus"), static_cast<std::uint32_t>('+'));
    EXPECT_NE(window->get_gl_proc_address("glClear"), nullptr);
}

TEST_F(WestonTest, OpenGlEsContextsAreOffered) {
    auto es = window_wayland_create(200, 100, 8, 16, {WINDOW_API_GLES, 2, 0}, &ui);
    ASSERT_TRUE(es);
    es->callbacks = &callbacks;
    EXPECT_TRUE(run_until(*es, [&] { return callbacks.frames > 0; }));
}

TEST_F(WestonTest, VulkanIsRefused) {
    // The refusal comes before any GL set-up, so the forked child has no driver state to trip on.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(window_wayland_create(200, 100, 8, 16, {WINDOW_API_VULKAN, 1, 0}, &ui),
                ::testing::ExitedWithCode(1), "vulkan context not implemented for wayland");
}

TEST(WaylandWithoutCompositor, CreateReturnsNull) {
    const char* saved = std::getenv("WAYLAND_DISPLAY");
    const std::string restore = saved ? saved : "";
    setenv("WAYLAND_DISPLAY", "/nonexistent/zelto-no-compositor", 1);
    UiState ui;
    EXPECT_EQ(window_wayland_create(400, 300, 8, 16, WindowContextRequest{}, &ui), nullptr);
    if (saved) {
        setenv("WAYLAND_DISPLAY", restore.c_str(), 1);
    } else {
        unsetenv("WAYLAND_DISPLAY");
    }
}

}  // namespace
}  // namespace zelto
