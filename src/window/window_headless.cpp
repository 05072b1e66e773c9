#include "window/window_headless.hpp"

namespace zelto {

std::unique_ptr<Window> window_headless_create(std::uint32_t, std::uint32_t, std::uint32_t,
                                               std::uint32_t, WindowContextRequest, UiState*) {
    return nullptr;
}

}  // namespace zelto
