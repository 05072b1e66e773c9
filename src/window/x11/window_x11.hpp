#pragma once

#include <memory>

#include "window/window.hpp"

namespace zelto {

// Opens a GLX window of `width` x `height` pixels on the default X display, mapped and with
// `paint` set. The cell size drives the window manager's size hints. Null when no display can be
// reached (or its GLX is too old); any failure after that ends the process.
std::unique_ptr<Window> window_x11_create(std::uint32_t width, std::uint32_t height,
                                          std::uint32_t cell_width, std::uint32_t cell_height,
                                          WindowContextRequest context, UiState* ui);

}  // namespace zelto
