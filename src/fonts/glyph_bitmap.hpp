#pragma once

#include <cstdint>

#include "fonts/lcd_mode.hpp"

namespace zelto {

// Which face of a primary font drew a glyph; FONT_STYLE_NONE for symbol and colour fonts.
enum FontStyle : std::uint8_t {
    FONT_STYLE_NONE = 0,
    FONT_STYLE_REGULAR = 1,
    FONT_STYLE_BOLD = 2,
    FONT_STYLE_ITALIC = 3,
    FONT_STYLE_BOLD_ITALIC = 4,
};

// A cell's style (0 normal, 1 bold, 2 italic, 3 bold italic) as a font style.
constexpr FontStyle font_style_for_cell(unsigned cell_style) {
    return cell_style <= 3 ? static_cast<FontStyle>(cell_style + 1) : FONT_STYLE_REGULAR;
}

// One rasterised glyph. `data` is borrowed from the font set and valid until its next render
// call. Rows are `pitch` bytes apart, top row first; `pitch` is a multiple of `alignment`.
struct GlyphBitmap {
    std::int16_t width = 0;  // pixels (subpixel triples count once)
    std::int16_t height = 0;
    std::int16_t left = 0;  // bearings in pixels
    std::int16_t top = 0;
    std::uint8_t alignment = 1;
    std::uint32_t pitch = 0;
    const std::uint8_t* data = nullptr;
    // LCD_MODE_NONE: one coverage byte per pixel; H/V RGB: R, G, B; H/V BGR: B, G, R;
    // LCD_MODE_COLOR: B, G, R, A.
    LcdMode format = LCD_MODE_NONE;
    FontStyle style = FONT_STYLE_NONE;
};

constexpr unsigned bytes_per_pixel(LcdMode format) {
    return format == LCD_MODE_NONE ? 1 : format == LCD_MODE_COLOR ? 4 : 3;
}

}  // namespace zelto
