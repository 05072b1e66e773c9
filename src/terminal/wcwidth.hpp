#pragma once

namespace zelto {

// Columns a character takes in a fixed-pitch grid: 0 for combining marks and zero-width
// formatting characters, 2 for East Asian wide and fullwidth characters, -1 for controls,
// 1 otherwise. The HTML dump measures text with it; the printing path asks utf8proc directly.
int wcwidth(char32_t ch);

}  // namespace zelto
