#pragma once

#include "window/window.hpp"

namespace zelto {

// The backend of a machine without a display: it never creates a window.
std::unique_ptr<Window> window_headless_create(std::uint32_t width, std::uint32_t height,
                                               std::uint32_t cell_width, std::uint32_t cell_height,
                                               WindowContextRequest context, UiState* ui);

}  // namespace zelto
