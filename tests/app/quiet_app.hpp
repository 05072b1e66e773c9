#pragma once

#include <memory>

#include "app/app.hpp"
#include "app/fake_window.hpp"
#include "config/settings.hpp"
#include "gfx_gl2/gfx_null.hpp"

namespace zelto::testing {

constexpr std::uint32_t FAKE_CELL_WIDTH = 8;
constexpr std::uint32_t FAKE_CELL_HEIGHT = 16;

// Settings for an App of cols x rows whose child stays quiet, so that tests write the screen
// themselves; no blinking cursor to wait for.
inline void use_quiet_child(std::uint32_t cols, std::uint32_t rows) {
    settings() = Settings{};
    settings().command_argv = {"/bin/sh", "-c", "sleep 10"};
    settings().command_path = "/bin/sh";
    settings().columns = cols;
    settings().rows = rows;
    settings().blink.enabled = false;
}

inline std::unique_ptr<Window> make_fake_window(std::uint32_t width, std::uint32_t height,
                                                std::uint32_t, std::uint32_t,
                                                WindowContextRequest, UiState*) {
    return std::make_unique<FakeWindow>(width, height);
}

// A fake window and the no-op renderer with 8x16 cells.
inline AppBackends fake_backends(WindowFactory window = make_fake_window) {
    AppBackends backends;
    backends.x11 = window;
    backends.make_gfx = [](FontSet*) {
        return std::make_unique<GfxNull>(FAKE_CELL_WIDTH, FAKE_CELL_HEIGHT,
                                         settings().padding.extra);
    };
    return backends;
}

}  // namespace zelto::testing
