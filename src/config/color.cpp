#include "config/color.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zelto {

namespace {

// clang-format off
constexpr const char* COLOR_NAMES[240] = {
    "Grey0", "NavyBlue", "DarkBlue", "Blue3", "Blue3", "Blue1", "DarkGreen", "DeepSkyBlue4",
    "DeepSkyBlue4", "DeepSkyBlue4", "DodgerBlue3", "DodgerBlue2", "Green4", "SpringGreen4",
    "Turquoise4", "DeepSkyBlue3", "DeepSkyBlue3", "DodgerBlue1", "Green3", "SpringGreen3",
    "DarkCyan", "LightSeaGreen", "DeepSkyBlue2", "DeepSkyBlue1", "Green3", "SpringGreen3",
    "SpringGreen2", "Cyan3", "DarkTurquoise", "Turquoise2", "Green1", "SpringGreen2",
    "SpringGreen1", "MediumSpringGreen", "Cyan2", "Cyan1", "DarkRed", "DeepPink4", "Purple4",
    "Purple4", "Purple3", "BlueViolet", "Orange4", "Grey37", "MediumPurple4", "SlateBlue3",
    "SlateBlue3", "RoyalBlue1", "Chartreuse4", "DarkSeaGreen4", "PaleTurquoise4", "SteelBlue",
    "SteelBlue3", "CornflowerBlue", "Chartreuse3", "DarkSeaGreen4", "CadetBlue", "CadetBlue",
    "SkyBlue3", "SteelBlue1", "Chartreuse3", "PaleGreen3", "SeaGreen3", "Aquamarine3",
    "MediumTurquoise", "SteelBlue1", "Chartreuse2", "SeaGreen2", "SeaGreen1", "SeaGreen1",
    "Aquamarine1", "DarkSlateGray2", "DarkRed", "DeepPink4", "DarkMagenta", "DarkMagenta",
    "DarkViolet", "Purple", "Orange4", "LightPink4", "Plum4", "MediumPurple3", "MediumPurple3",
    "SlateBlue1", "Yellow4", "Wheat4", "Grey53", "LightSlateGrey", "MediumPurple",
    "LightSlateBlue", "Yellow4", "DarkOliveGreen3", "DarkSeaGreen", "LightSkyBlue3",
    "LightSkyBlue3", "SkyBlue2", "Chartreuse2", "DarkOliveGreen3", "PaleGreen3", "DarkSeaGreen3",
    "DarkSlateGray3", "SkyBlue1", "Chartreuse1", "LightGreen", "LightGreen", "PaleGreen1",
    "Aquamarine1", "DarkSlateGray1", "Red3", "DeepPink4", "MediumVioletRed", "Magenta3",
    "DarkViolet", "Purple", "DarkOrange3", "IndianRed", "HotPink3", "MediumOrchid3",
    "MediumOrchid", "MediumPurple2", "DarkGoldenrod", "LightSalmon3", "RosyBrown", "Grey63",
    "MediumPurple2", "MediumPurple1", "Gold3", "DarkKhaki", "NavajoWhite3", "Grey69",
    "LightSteelBlue3", "LightSteelBlue", "Yellow3", "DarkOliveGreen3", "DarkSeaGreen3",
    "DarkSeaGreen2", "LightCyan3", "LightSkyBlue1", "GreenYellow", "DarkOliveGreen2",
    "PaleGreen1", "DarkSeaGreen2", "DarkSeaGreen1", "PaleTurquoise1", "Red3", "DeepPink3",
    "DeepPink3", "Magenta3", "Magenta3", "Magenta2", "DarkOrange3", "IndianRed", "HotPink3",
    "HotPink2", "Orchid", "MediumOrchid1", "Orange3", "LightSalmon3", "LightPink3", "Pink3",
    "Plum3", "Violet", "Gold3", "LightGoldenrod3", "Tan", "MistyRose3", "Thistle3", "Plum2",
    "Yellow3", "Khaki3", "LightGoldenrod2", "LightYellow3", "Grey84", "LightSteelBlue1",
    "Yellow2", "DarkOliveGreen1", "DarkOliveGreen1", "DarkSeaGreen1", "Honeydew2", "LightCyan1",
    "Red1", "DeepPink2", "DeepPink1", "DeepPink1", "Magenta2", "Magenta1", "OrangeRed1",
    "IndianRed1", "IndianRed1", "HotPink", "HotPink", "MediumOrchid1", "DarkOrange", "Salmon1",
    "LightCoral", "PaleVioletRed1", "Orchid2", "Orchid1", "Orange1", "SandyBrown",
    "LightSalmon1", "LightPink1", "Pink1", "Plum1", "Gold1", "LightGoldenrod2",
    "LightGoldenrod2", "NavajoWhite1", "MistyRose1", "Thistle1", "Yellow1", "LightGoldenrod1",
    "Khaki1", "Wheat1", "Cornsilk1", "Grey100", "Grey3", "Grey7", "Grey11", "Grey15", "Grey19",
    "Grey23", "Grey27", "Grey30", "Grey35", "Grey39", "Grey42", "Grey46", "Grey50", "Grey54",
    "Grey58", "Grey62", "Grey66", "Grey70", "Grey74", "Grey78", "Grey82", "Grey85", "Grey89",
    "Grey93",
};
// clang-format on

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

// A hexadecimal group of 1-4 digits scaled to a channel; a 2-digit group is the channel itself.
std::optional<std::uint8_t> scaled_hex_group(std::string_view digits) {
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        int v = hex_value(c);
        if (v < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(v);
    }
    if (digits.size() == 2) return static_cast<std::uint8_t>(value);
    unsigned max = (1u << (4 * digits.size())) - 1;
    return static_cast<std::uint8_t>(value * 255 / max);
}

std::optional<std::uint8_t> hex_pair(std::string_view text) {
    int hi = hex_value(text[0]);
    int lo = hex_value(text[1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    return static_cast<std::uint8_t>(hi * 16 + lo);
}

// The first `count` hexadecimal pairs of `text`, which must be long enough.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> hex_pairs(std::string_view text) {
    if (text.size() < 2 * N) return std::nullopt;
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        auto v = hex_pair(text.substr(2 * i, 2));
        if (!v) return std::nullopt;
        out[i] = *v;
    }
    return out;
}

ColorRGB rgb_from(const std::array<std::uint8_t, 3>& c) {
    return {c[0], c[1], c[2]};
}
ColorRGBA opaque(ColorRGB c) {
    return {c.r, c.g, c.b, 255};
}

// 3, 6, 9 or 12 digits after the "#", split into three equal groups.
std::optional<ColorRGB> parse_hex_groups(std::string_view digits) {
    if (digits.empty() || hex_value(digits[0]) < 0) return std::nullopt;
    if (digits.size() % 3 != 0 || digits.size() > 12) return std::nullopt;
    std::size_t n = digits.size() / 3;
    auto r = scaled_hex_group(digits.substr(0, n));
    auto g = scaled_hex_group(digits.substr(n, n));
    auto b = scaled_hex_group(digits.substr(2 * n, n));
    if (!r || !g || !b) return std::nullopt;
    return ColorRGB{*r, *g, *b};
}

// R/G/B with 1-4 hexadecimal digits per group.
std::optional<ColorRGB> parse_x11(std::string_view text) {
    std::array<std::uint8_t, 3> channels{};
    for (std::size_t i = 0; i < 3; ++i) {
        std::size_t slash = text.find('/');
        std::string_view group = i < 2 ? text.substr(0, slash) : text;
        if (i < 2 && slash == std::string_view::npos) return std::nullopt;
        auto v = scaled_hex_group(group);
        if (!v) return std::nullopt;
        channels[i] = *v;
        if (i < 2) text.remove_prefix(slash + 1);
    }
    return rgb_from(channels);
}

// A decimal number: optional sign, digits, optional fraction. Huge values saturate instead of
// becoming infinite, so later arithmetic never meets inf or NaN.
std::optional<double> read_decimal(std::string_view& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || !is_digit(text[i])) return std::nullopt;
    double value = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        if (value < 1e300) value = value * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && is_digit(text[i]); ++i, scale /= 10)
            value += (text[i] - '0') * scale;
    }
    text.remove_prefix(i);
    return negative ? -value : value;
}

std::uint8_t fraction_to_channel(double f) {
    if (f >= 1) return 255;
    if (f <= 0) return 0;
    return static_cast<std::uint8_t>(f * 255);
}

// Intensities R/G/B, fractions 0..1; blanks, "," and "/" separate them.
std::optional<ColorRGB> parse_intensity(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    if (text.empty() || !is_digit(text.front())) return std::nullopt;
    std::array<std::uint8_t, 3> channels{};
    for (std::size_t i = 0; i < 3; ++i) {
        while (!text.empty() &&
               (is_blank(text.front()) || text.front() == ',' || text.front() == '/'))
            text.remove_prefix(1);
        auto v = read_decimal(text);
        if (!v) return std::nullopt;
        channels[i] = fraction_to_channel(*v);
    }
    return rgb_from(channels);
}

bool is_separator(char c) {
    return c == ',' || c == '/' || is_blank(c);
}

void skip_separators(std::string_view& text) {
    while (!text.empty() && is_separator(text.front())) text.remove_prefix(1);
}

// The next component of a functional form, up to a separator or ")".
std::string_view next_component(std::string_view& text) {
    skip_separators(text);
    std::size_t end = 0;
    while (end < text.size() && !is_separator(text[end]) && text[end] != ')') ++end;
    std::string_view component = text.substr(0, end);
    text.remove_prefix(end);
    return component;
}

// An rgb() component: a percentage, a fraction or an integer clamped to 0..255.
std::optional<std::uint8_t> rgb_component(std::string_view component) {
    bool fraction = component.find('.') != std::string_view::npos;
    auto value = read_decimal(component);
    if (!value) return std::nullopt;
    if (component == "%") return fraction_to_channel(*value / 100);
    if (!component.empty()) return std::nullopt;
    if (fraction) return fraction_to_channel(*value);
    return static_cast<std::uint8_t>(std::clamp(*value, 0.0, 255.0));
}

// The text after `keyword` and "(" up to the closing ")", or nothing without a ")".
std::optional<std::string_view> functional_body(std::string_view text, std::string_view keyword) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    if (text.substr(0, keyword.size()) == keyword) {
        text.remove_prefix(keyword.size());
    } else if (text.empty() || !is_digit(text.front())) {
        return std::nullopt;
    }
    std::size_t close = text.find(')');
    if (close == std::string_view::npos) return std::nullopt;
    return text.substr(0, close);
}

// `count` rgb() components filling the whole body.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> rgb_components(std::string_view body) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        auto v = rgb_component(next_component(body));
        if (!v) return std::nullopt;
        out[i] = *v;
    }
    skip_separators(body);
    if (!body.empty()) return std::nullopt;
    return out;
}

std::optional<ColorRGB> parse_functional_rgb(std::string_view text) {
    auto body = functional_body(text, "rgb(");
    if (!body) return std::nullopt;
    auto c = rgb_components<3>(*body);
    if (!c) return std::nullopt;
    return rgb_from(*c);
}

std::optional<ColorRGBA> parse_functional_rgba(std::string_view text) {
    auto body = functional_body(text, "rgba(");
    if (!body) return std::nullopt;
    auto c = rgb_components<4>(*body);
    if (!c) return std::nullopt;
    return ColorRGBA{(*c)[0], (*c)[1], (*c)[2], (*c)[3]};
}

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

// A hue in turns 0..1: degrees by default or with "deg", also "rad", "grad", "turn" and "%".
std::optional<double> hue_component(std::string_view component) {
    auto value = read_decimal(component);
    if (!value) return std::nullopt;
    double period;
    if (component.empty() || component == "deg") {
        period = 360;
    } else if (component == "rad") {
        period = 2 * std::numbers::pi;
    } else if (component == "grad") {
        period = 400;
    } else if (component == "turn") {
        period = 1;
    } else if (component == "%") {
        period = 100;
    } else {
        return std::nullopt;
    }
    double wrapped = std::fmod(*value, period);
    if (wrapped < 0) wrapped += period;
    return wrapped / period;
}

// Saturation, lightness or alpha: a percentage or a fraction, clamped to 0..1.
std::optional<double> fraction_component(std::string_view component) {
    auto value = read_decimal(component);
    if (!value) return std::nullopt;
    if (component == "%") return clamp01(*value / 100);
    if (!component.empty()) return std::nullopt;
    return clamp01(*value);
}

std::optional<ColorRGBA> parse_functional_hsl(std::string_view text, bool with_alpha) {
    auto body = functional_body(text, with_alpha ? "hsla(" : "hsl(");
    if (!body) return std::nullopt;
    auto h = hue_component(next_component(*body));
    auto s = fraction_component(next_component(*body));
    auto l = fraction_component(next_component(*body));
    if (!h || !s || !l) return std::nullopt;
    ColorRGBA out = opaque(hsl_to_rgb(*h, *s, *l));
    if (with_alpha) {
        auto a = fraction_component(next_component(*body));
        if (!a) return std::nullopt;
        out.a = fraction_to_channel(*a);
    }
    skip_separators(*body);
    if (!body->empty()) return std::nullopt;
    return out;
}

bool contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

std::string_view after(std::string_view text, std::string_view what) {
    return text.substr(text.find(what) + what.size());
}

std::optional<ColorRGB> parse_x11_unprefixed(std::string_view text) {
    if (text.size() <= 4 || hex_value(text[0]) < 0) return std::nullopt;
    return parse_x11(text);
}

// The forms shared by parse_rgb and parse_rgba after the "#" forms, as RGBA.
std::optional<ColorRGBA> parse_common(std::string_view text, bool with_alpha) {
    auto lift = [](std::optional<ColorRGB> c) -> std::optional<ColorRGBA> {
        if (!c) return std::nullopt;
        return opaque(*c);
    };
    if (contains(text, "rgbi:")) return lift(parse_intensity(after(text, "rgbi:")));
    if (contains(text, "rgb:")) return lift(parse_x11(after(text, "rgb:")));
    if (contains(text, "rgb(")) return lift(parse_functional_rgb(text.substr(text.find("rgb("))));
    if (with_alpha && contains(text, "rgba("))
        return parse_functional_rgba(text.substr(text.find("rgba(")));
    if (contains(text, "hsl(")) return parse_functional_hsl(text.substr(text.find("hsl(")), false);
    if (with_alpha && contains(text, "hsla("))
        return parse_functional_hsl(text.substr(text.find("hsla(")), true);

    std::string_view bare = text;
    if (!bare.empty() && bare.front() == ' ') bare.remove_prefix(1);
    if (with_alpha) {
        if (auto c = hex_pairs<4>(bare)) return ColorRGBA{(*c)[0], (*c)[1], (*c)[2], (*c)[3]};
    }
    if (auto c = hex_pairs<3>(bare)) return opaque(rgb_from(*c));
    if (auto c = parse_x11_unprefixed(text)) return opaque(*c);
    return lift(parse_intensity(text));
}

}  // namespace

std::optional<ColorRGB> parse_rgb(std::string_view text) {
    if (!text.empty() && text.front() == '#') {
        std::string_view digits = text.substr(1);
        if (auto c = hex_pairs<3>(digits)) return rgb_from(*c);
        return parse_hex_groups(digits);
    }
    auto c = parse_common(text, false);
    if (!c) return std::nullopt;
    return ColorRGB{c->r, c->g, c->b};
}

std::optional<ColorRGBA> parse_rgba(std::string_view text) {
    if (!text.empty() && text.front() == '#') {
        std::string_view digits = text.substr(1);
        if (digits.size() >= 8) {
            if (auto c = hex_pairs<4>(digits)) return ColorRGBA{(*c)[0], (*c)[1], (*c)[2], (*c)[3]};
        } else if (auto c = hex_pairs<3>(digits)) {
            return opaque(rgb_from(*c));
        }
        auto c = parse_hex_groups(digits);
        if (!c) return std::nullopt;
        return opaque(*c);
    }
    return parse_common(text, true);
}

std::optional<ColorRGB> parse_color_spec(std::string_view text) {
    if (contains(text, "rgbi:")) return parse_intensity(after(text, "rgbi:"));
    if (contains(text, "rgb:")) return parse_x11(after(text, "rgb:"));
    if (!text.empty() && text.front() == '#') return parse_hex_groups(text.substr(1));
    return color_value_by_name(text);
}

ColorRGB extended_palette_color(unsigned index) {
    if (index < 232) {
        unsigned i = index - 16;
        auto level = [](unsigned step) { return static_cast<std::uint8_t>(step * 255.0 / 5.0); };
        return {level(i / 36), level((i / 6) % 6), level(i % 6)};
    }
    auto gray = static_cast<std::uint8_t>((index * 10.0 - 2312.0) * 255.0 / 256.0);
    return {gray, gray, gray};
}

ColorRGB palette_color(const std::array<ColorRGB, 16>& base, unsigned index) {
    if (index < 16) return base[index];
    if (index > 255) return {};
    return extended_palette_color(index);
}

std::array<ColorRGB, 256> build_palette(const std::array<ColorRGB, 16>& base) {
    std::array<ColorRGB, 256> palette{};
    for (unsigned i = 0; i < 256; ++i) palette[i] = palette_color(base, i);
    return palette;
}

unsigned color_by_name(std::string_view name) {
    for (unsigned k = 0; k < 240; ++k) {
        if (equal_ignoring_case(name, COLOR_NAMES[k])) return 16 + k;
    }
    return 0;
}

std::optional<ColorRGB> color_value_by_name(std::string_view name) {
    unsigned index = color_by_name(name);
    if (index == 0) return std::nullopt;
    return extended_palette_color(index);
}

namespace {

double hue_channel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 1.0 / 2) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

std::uint8_t unit_to_channel(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 1.0) * 255);
}

}  // namespace

ColorRGB hsl_to_rgb(double h, double s, double l) {
    h = clamp01(h);
    s = clamp01(s);
    l = clamp01(l);
    if (s == 0) {
        std::uint8_t v = unit_to_channel(l);
        return {v, v, v};
    }
    double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
    double p = 2 * l - q;
    return {unit_to_channel(hue_channel(p, q, h + 1.0 / 3)), unit_to_channel(hue_channel(p, q, h)),
            unit_to_channel(hue_channel(p, q, h - 1.0 / 3))};
}

double relative_luminance(ColorRGB color) {
    auto linear = [](std::uint8_t c) {
        double v = c / 255.0;
        return v < 0.03938 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.r) + 0.7152 * linear(color.g) + 0.0722 * linear(color.b);
}

const std::array<ColorScheme, COLOR_SCHEME_COUNT> COLOR_SCHEMES = {{
    {"zelto",
     {"000000", "AB1F00", "D2FF00", "FF7D00", "00518C", "B7006F", "00AEA0", "AAAAAA", "545454",
      "BB3939", "AFFF52", "FFA855", "107BC9", "FF368A", "40FFEF", "FFFFFF", "000000EE", "FFFFFF"}},
    {"linux",
     {"000000", "AA0000", "00AA00", "AA5500", "0000AA", "AA00AA", "00AAAA", "AAAAAA", "555555",
      "FF5555", "55FF55", "FFFF55", "5555FF", "FF55FF", "55FFFF", "FFFFFF", "000000", "FFFFFF"}},
    {"xterm",
     {"000000", "CD0000", "00CD00", "CDCD00", "0000EE", "CD00CD", "00CDCD", "E5E5E5", "7F7F7F",
      "FF0000", "00FF00", "FFFF00", "5C5CFF", "FF00FF", "00FFFF", "FFFFFF", "000000", "FFFFFF"}},
    {"rxvt",
     {"000000", "CD0000", "00CD00", "CDCD00", "0000CD", "CD00CD", "00CDCD", "FAEBD7", "404040",
      "FF0000", "00FF00", "FFFF00", "0000FF", "FF00FF", "00FFFF", "FFFFFF", "000000", "FFFFFF"}},
    {"yaru",
     {"2E3436", "CC0000", "4E9A06", "C4A000", "3465A4", "75507B", "06989A", "D3D7CF", "555753",
      "EF2929", "8AE234", "FCE94F", "729FCF", "AD7FA8", "34E2E2", "EEEEEC", "300A24", "FFFFFF"}},
    {"tango",
     {"000000", "CC0000", "4D9A05", "C3A000", "3464A3", "754F7B", "05979A", "D3D6CF", "545652",
      "EF2828", "89E234", "FBE84F", "729ECF", "AC7EA8", "34E2E2", "EDEDEB", "2D2D2D", "EEEEEC"}},
    {"orchis",
     {"000000", "CC0000", "4D9A05", "C3A000", "3464A3", "754F7B", "05979A", "D3D6CF", "545652",
      "EF2828", "89E234", "FBE84F", "729ECF", "AC7EA8", "34E2E2", "EDEDEB", "303030", "EFEFEF"}},
    {"solarized",
     {"073642", "DC322F", "859900", "B58900", "268BD2", "D33682", "2AA198", "EEE8D5", "002B36",
      "CB4B16", "586E75", "657B83", "839496", "6C71C4", "93A1A1", "FDF6E3", "002B36", "839496"}},
    {"gruvbox",
     {"1d2021", "cc241d", "98971a", "d79921", "458588", "b16286", "689d6a", "a89984", "928374",
      "fb4934", "b8bb26", "fabd2f", "93a598", "d3869b", "8ec07c", "ebdbb2", "282828", "ebdbb2"}},
}};

int color_scheme_by_name(std::string_view name) {
    for (int i = 0; i < COLOR_SCHEME_COUNT; ++i) {
        if (equal_ignoring_case(name, COLOR_SCHEMES[static_cast<std::size_t>(i)].name)) return i;
    }
    return -1;
}

}  // namespace zelto
