#pragma once

#include <cstddef>
#include <cstdint>

#include "config/settings.hpp"

namespace zelto {

// Where the cursor is and how it looks, as the renderer draws it. `row` is an absolute line index.
struct VtCursor {
    std::size_t row = 0;
    std::uint16_t col = 0;
    CursorShape shape = CURSOR_SHAPE_BLOCK;
    bool blinking = true;
    bool hidden = false;
};

}  // namespace zelto
