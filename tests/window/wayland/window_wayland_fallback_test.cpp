// Start-up order of the window backends: with no compositor answering, the Wayland window is
// unavailable and the X11 one comes up in its place.
#include <gtest/gtest.h>

#include <cstdlib>

#include "config/settings.hpp"
#include "gfx_gl2/ui_state.hpp"
#include "window/wayland/window_wayland.hpp"
#include "window/x11/window_x11.hpp"
#include "window/xvfb_server.hpp"

namespace zelto {
namespace {

TEST(WindowFallback, WithoutACompositorTheX11WindowOpens) {
    test::XvfbServer xvfb;
    ASSERT_TRUE(xvfb.start()) << xvfb.error();
    setenv("WAYLAND_DISPLAY", "/nonexistent/zelto-no-compositor", 1);
    settings() = Settings{};
    UiState ui;
    const WindowContextRequest context;
    std::unique_ptr<Window> window = window_wayland_create(400, 300, 8, 16, context, &ui);
    EXPECT_EQ(window, nullptr);
    if (!window) {
        window = window_x11_create(400, 300, 8, 16, context, &ui);
    }
    ASSERT_NE(window, nullptr);
    EXPECT_GE(window->get_window_id(), 0);  // an X window id: the X11 backend answered
}

}  // namespace
}  // namespace zelto
