#include "config/color.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zelto {

void PrintTo(const ColorRGB& c, std::ostream* os) {
    *os << "(" << +c.r << "," << +c.g << "," << +c.b << ")";
}
void PrintTo(const ColorRGBA& c, std::ostream* os) {
    *os << "(" << +c.r << "," << +c.g << "," << +c.b << "," << +c.a << ")";
}

namespace {

struct RgbCase {
    const char* text;
    std::optional<ColorRGB> expected;
};

constexpr std::nullopt_t FAILS = std::nullopt;

TEST(ParseRgb, EveryFormInOrder) {
    const RgbCase cases[] = {
        {"#f00", ColorRGB{255, 0, 0}},
        {"#888", ColorRGB{136, 136, 136}},
        {"#123456", ColorRGB{0x12, 0x34, 0x56}},
        {"#AbCdEf", ColorRGB{0xAB, 0xCD, 0xEF}},
        {"#123456789", ColorRGB{0x12, 0x34, 0x56}},  // longer text: its first six digits
        {"#fff000fff", ColorRGB{0xFF, 0xF0, 0x00}},
        {"#fffzzzfff", FAILS},  // not hex at all
        {"#ffff00000000", ColorRGB{0xFF, 0xFF, 0x00}},
        {"#fff0", FAILS},
        {"#", FAILS},
        {"#g00", FAILS},
        {"rgb:8/8/8", ColorRGB{136, 136, 136}},
        {"rgb:ffff/0/8000", ColorRGB{255, 0, 127}},
        {"rgb:ff/80/00", ColorRGB{255, 0x80, 0}},
        {"rgb:fff/000/800", ColorRGB{255, 0, 127}},
        {"rgb:fffff/0/0", FAILS},
        {"rgb:ff/00", FAILS},
        {"rgb:ff//00", FAILS},
        {"rgbi:1/0.5/0", ColorRGB{255, 127, 0}},
        {"rgbi: 1, 0.5 ,0", ColorRGB{255, 127, 0}},
        {"rgbi:7/-3/0.25", ColorRGB{255, 0, 63}},  // clamped to 0..1
        {"rgbi:1/0.5", FAILS},
        {"rgbi:x/0/0", FAILS},
        {"rgb(100%, 50%, 0)", ColorRGB{255, 127, 0}},
        {"rgb(300, 0.5, 1.5)", ColorRGB{255, 127, 255}},
        {"rgb(-20, 100, 255)", ColorRGB{0, 100, 255}},
        {"rgb(1 2 3)", ColorRGB{1, 2, 3}},
        {"rgb(1/2/3)", ColorRGB{1, 2, 3}},
        {"rgb(99999999999999999999999999999, 0, 0)", ColorRGB{255, 0, 0}},
        {"rgb(1, 2)", FAILS},
        {"rgb(1, 2, 3", FAILS},
        {"rgb(1, x, 3)", FAILS},
        {"hsl(120, 100%, 50%)", ColorRGB{0, 255, 0}},
        {"hsl(0, 0%, 50%)", ColorRGB{127, 127, 127}},
        {"hsl(480, 100%, 50%)", ColorRGB{0, 255, 0}},  // wraps by 360
        {"hsl(-240, 100%, 50%)", ColorRGB{0, 255, 0}},
        {"hsl(120deg, 100%, 50%)", ColorRGB{0, 255, 0}},
        {"hsl(1e999999, 100%, 50%)", FAILS},
        {"hsl(0, 200%, -5%)", ColorRGB{0, 0, 0}},
        {"123456", ColorRGB{0x12, 0x34, 0x56}},
        {" 123456", ColorRGB{0x12, 0x34, 0x56}},
        {"ff/0/0", ColorRGB{255, 0, 0}},
        {"0.5/0.5/0.5", ColorRGB{127, 127, 127}},
        {"red", FAILS},
        {"", FAILS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_rgb(c.text), c.expected) << "text: '" << c.text << "'";
    }
    EXPECT_TRUE(parse_rgb("hsl(" + std::string(400, '9') + ", 100%, 50%)"));
}

TEST(ParseRgba, AlphaForms) {
    struct Case {
        const char* text;
        std::optional<ColorRGBA> expected;
    };
    const Case cases[] = {
        {"#12345678", ColorRGBA{0x12, 0x34, 0x56, 0x78}},
        {"#123456", ColorRGBA{0x12, 0x34, 0x56, 255}},
        {"#1234567", ColorRGBA{0x12, 0x34, 0x56, 255}},
        {"#123456789", ColorRGBA{0x12, 0x34, 0x56, 0x78}},
        {"#fff", ColorRGBA{255, 255, 255, 255}},
        {"#fff0000zzzzz", FAILS},
        {"rgba(255, 0, 0, 50%)", ColorRGBA{255, 0, 0, 127}},
        {"rgba(255, 0, 0, 0.5)", ColorRGBA{255, 0, 0, 127}},
        {"rgba(255, 0, 0)", FAILS},
        {"rgb(1, 2, 3)", ColorRGBA{1, 2, 3, 255}},
        {"hsla(120, 100%, 50%, 0.5)", ColorRGBA{0, 255, 0, 127}},
        {"hsla(120, 100%, 50%, 7)", ColorRGBA{0, 255, 0, 255}},
        {"rgb:ff/ff/ff", ColorRGBA{255, 255, 255, 255}},
        {"11223344", ColorRGBA{0x11, 0x22, 0x33, 0x44}},
        {"112233", ColorRGBA{0x11, 0x22, 0x33, 255}},
        {"none", FAILS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_rgba(c.text), c.expected) << "text: '" << c.text << "'";
    }
}

TEST(ParseColorSpec, RequestsFromTheChild) {
    EXPECT_EQ(parse_color_spec("rgb:ffff/0/8000"), (ColorRGB{255, 0, 127}));
    EXPECT_EQ(parse_color_spec("rgbi:0/1/0"), (ColorRGB{0, 255, 0}));
    EXPECT_EQ(parse_color_spec("#abc"), (ColorRGB{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(parse_color_spec("#aabbcc"), (ColorRGB{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(parse_color_spec("#aaabbbccc"), (ColorRGB{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(parse_color_spec("#aaaabbbbcccc"), (ColorRGB{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(parse_color_spec("#aabbc"), FAILS);
    EXPECT_EQ(parse_color_spec("DeepSkyBlue4"), (ColorRGB{0, 51, 51}));
    EXPECT_EQ(parse_color_spec("grey100"), (ColorRGB{255, 255, 255}));
    EXPECT_EQ(parse_color_spec("rgb(1,2,3)"), FAILS);
    EXPECT_EQ(parse_color_spec("nosuchcolor"), FAILS);
    EXPECT_EQ(parse_color_spec(""), FAILS);
}

TEST(Palette, CubeAndGrayRampBoundaries) {
    std::array<ColorRGB, 16> base{};
    base[1] = {1, 2, 3};
    base[15] = {4, 5, 6};
    EXPECT_EQ(palette_color(base, 1), (ColorRGB{1, 2, 3}));
    EXPECT_EQ(palette_color(base, 15), (ColorRGB{4, 5, 6}));
    EXPECT_EQ(palette_color(base, 16), (ColorRGB{0, 0, 0}));
    EXPECT_EQ(palette_color(base, 21), (ColorRGB{0, 0, 255}));
    EXPECT_EQ(palette_color(base, 196), (ColorRGB{255, 0, 0}));
    EXPECT_EQ(palette_color(base, 231), (ColorRGB{255, 255, 255}));
    EXPECT_EQ(palette_color(base, 232), (ColorRGB{7, 7, 7}));
    EXPECT_EQ(palette_color(base, 244), (ColorRGB{127, 127, 127}));
    EXPECT_EQ(palette_color(base, 255), (ColorRGB{237, 237, 237}));
    auto palette = build_palette(base);
    EXPECT_EQ(palette[102], (ColorRGB{102, 102, 102}));
    for (unsigned i = 233; i < 256; ++i) {
        int step = palette[i].r - palette[i - 1].r;
        EXPECT_TRUE(step == 9 || step == 10) << i;
    }
}

TEST(ColorNames, FirstMatchWinsIgnoringCase) {
    EXPECT_EQ(color_by_name("Grey0"), 16u);
    EXPECT_EQ(color_by_name("gREY0"), 16u);
    EXPECT_EQ(color_by_name("DeepSkyBlue4"), 23u);
    EXPECT_EQ(color_by_name("Blue3"), 19u);  // also the name of 20
    EXPECT_EQ(color_by_name("Grey93"), 255u);
    EXPECT_EQ(color_by_name("Grey"), 0u);
    EXPECT_EQ(color_by_name(""), 0u);
    EXPECT_EQ(color_value_by_name("grey0"), (ColorRGB{0, 0, 0}));
    EXPECT_EQ(color_value_by_name("Red1"), (ColorRGB{255, 0, 0}));
    EXPECT_EQ(color_value_by_name("nope"), FAILS);
}

TEST(Hsl, ConversionClampsItsInputs) {
    EXPECT_EQ(hsl_to_rgb(0, 1, 0.5), (ColorRGB{255, 0, 0}));
    EXPECT_EQ(hsl_to_rgb(2.0 / 3, 1, 0.5), (ColorRGB{0, 0, 255}));
    EXPECT_EQ(hsl_to_rgb(0.5, 0, 1), (ColorRGB{255, 255, 255}));
    EXPECT_EQ(hsl_to_rgb(-3, 5, 0.25), hsl_to_rgb(0, 1, 0.25));
    EXPECT_EQ(hsl_to_rgb(0, 1, 0.25), (ColorRGB{127, 0, 0}));
}

TEST(Luminance, BlackWhiteAndGreen) {
    EXPECT_DOUBLE_EQ(relative_luminance({0, 0, 0}), 0.0);
    EXPECT_NEAR(relative_luminance({255, 255, 255}), 1.0, 1e-9);
    EXPECT_NEAR(relative_luminance({0, 255, 0}), 0.7152, 1e-9);
    EXPECT_LT(relative_luminance({0x30, 0x0A, 0x24}), 0.05);
}

TEST(ColorSchemes, NineSchemesParseAndAreNamed) {
    EXPECT_EQ(color_scheme_by_name("zelto"), 0);
    EXPECT_EQ(color_scheme_by_name("GRUVBOX"), 8);
    EXPECT_EQ(color_scheme_by_name("solarized"), 7);
    EXPECT_EQ(color_scheme_by_name("monokai"), -1);
    for (const auto& scheme : COLOR_SCHEMES) {
        for (std::size_t i = 0; i < 16; ++i) {
            EXPECT_TRUE(parse_rgb(std::string("#") + scheme.colors[i])) << scheme.name << i;
        }
        EXPECT_TRUE(parse_rgba(std::string("#") + scheme.colors[16])) << scheme.name;
        EXPECT_TRUE(parse_rgb(std::string("#") + scheme.colors[17])) << scheme.name;
    }
    EXPECT_EQ(parse_rgba(std::string("#") + COLOR_SCHEMES[0].colors[16]),
              (ColorRGBA{0, 0, 0, 0xEE}));
}

}  // namespace
}  // namespace zelto

namespace zelto {
namespace {

// Colour texts come from the child program: no input may crash or trip the sanitizers.
TEST(ColorParsing, SurvivesArbitraryText) {
    const char alphabet[] = "#0123456789abcdefABCDEFxyz:/,.%() -+rgbihsladegtun\t";
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245 + 12345;
        return seed >> 16;
    };
    const char* prefixes[] = {"", "#", "rgb:", "rgbi:", "rgb(", "rgba(", "hsl(", "hsla("};
    for (int i = 0; i < 20000; ++i) {
        std::string text = prefixes[next() % std::size(prefixes)];
        std::size_t length = next() % 24;
        for (std::size_t k = 0; k < length; ++k) text += alphabet[next() % (sizeof alphabet - 1)];
        (void)parse_rgb(text);
        (void)parse_rgba(text);
        (void)parse_color_spec(text);
    }
    std::string binary;
    for (int c = 0; c < 256; ++c) binary += static_cast<char>(c);
    EXPECT_FALSE(parse_color_spec(binary));
    EXPECT_FALSE(parse_rgb(std::string_view("rgb(\0,1,2)", 10)));
}

}  // namespace
}  // namespace zelto
