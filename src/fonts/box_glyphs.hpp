#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zelto {

// Box-drawing, block and Powerline glyphs the terminal draws itself, sized exactly to the cell
// so that neighbouring cells join without seams whatever the font.

// Cells narrower or lower than this get no built-in glyphs (the fonts draw them).
inline constexpr unsigned BUILTIN_GLYPH_MIN_CELL = 5;

std::span<const char32_t> builtin_glyph_code_points();
bool is_builtin_glyph(char32_t code_point);

// The coverage of one glyph in a cell of width x height pixels: width x height bytes, top row
// first. Empty when the code point is not built in or the cell is too small.
std::vector<std::uint8_t> draw_builtin_glyph(char32_t code_point, unsigned width, unsigned height);

}  // namespace zelto
