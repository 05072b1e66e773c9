#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelto {

struct ColorRGB {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const ColorRGB&, const ColorRGB&) = default;
};

struct ColorRGBA {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 255;
    friend bool operator==(const ColorRGBA&, const ColorRGBA&) = default;
};

static_assert(sizeof(ColorRGB) == 3);
static_assert(sizeof(ColorRGBA) == 4);

inline constexpr int COLOR_SCHEME_COUNT = 9;

// Colour option texts: "#RRGGBB[AA]", "#RGB" and friends, "rgb:R/G/B", "rgbi:R/G/B", "rgb()",
// "rgba()", "hsl()", "hsla()" and bare hexadecimal. Every form is accepted in either case.
std::optional<ColorRGB> parse_rgb(std::string_view text);
std::optional<ColorRGBA> parse_rgba(std::string_view text);

// Colours requested by the child program (OSC 4/10/11...): "rgbi:", "rgb:", "#hex" or a name.
std::optional<ColorRGB> parse_color_spec(std::string_view text);

// The 256-colour palette, entries 0-15 taken from `base`.
ColorRGB palette_color(const std::array<ColorRGB, 16>& base, unsigned index);
// Entries 16-255 alone (the colour cube and the gray ramp); index must be in 16..255.
ColorRGB extended_palette_color(unsigned index);
std::array<ColorRGB, 256> build_palette(const std::array<ColorRGB, 16>& base);

// Palette index 16..255 named by `name` (case-insensitive, first match wins), 0 when unknown.
unsigned color_by_name(std::string_view name);
std::optional<ColorRGB> color_value_by_name(std::string_view name);

// h, s and l are fractions 0..1 (clamped).
ColorRGB hsl_to_rgb(double h, double s, double l);
double relative_luminance(ColorRGB color);

struct ColorScheme {
    const char* name;
    // Base colours 0-15, then the background, then the foreground.
    std::array<const char*, 18> colors;
};

extern const std::array<ColorScheme, COLOR_SCHEME_COUNT> COLOR_SCHEMES;

// Index of the scheme called `name` (ignoring case), or -1.
int color_scheme_by_name(std::string_view name);

}  // namespace zelto
