#pragma once

#include <cstdint>

namespace zelto {

// The subpixel layout glyphs are rendered for. Numbered as the `fixed-lcd-order` and `output`
// options number them; LCD_MODE_COLOR is used by colour fonts only.
enum LcdMode : std::uint32_t {
    LCD_MODE_UNDEFINED = 0,
    LCD_MODE_NONE = 1,
    LCD_MODE_H_RGB = 2,
    LCD_MODE_H_BGR = 3,
    LCD_MODE_V_RGB = 4,
    LCD_MODE_V_BGR = 5,
    LCD_MODE_COLOR = 6,
};

// "Undefined", "None", "Horizontal RGB", ...; null for LCD_MODE_COLOR and unknown values.
constexpr const char* lcd_mode_name(LcdMode mode) {
    constexpr const char* names[] = {"Undefined",      "None",         "Horizontal RGB",
                                     "Horizontal BGR", "Vertical RGB", "Vertical BGR"};
    return mode <= LCD_MODE_V_BGR ? names[mode] : nullptr;
}

}  // namespace zelto
