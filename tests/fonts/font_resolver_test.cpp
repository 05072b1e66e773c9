#include "fonts/font_resolver.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace zelto {
namespace {

TEST(FontResolver, QueryTextJoinsFamilySizeAndStyle) {
    EXPECT_EQ(font_query_text("Monospace", 9, "Bold"), "Monospace-9:Bold");
    EXPECT_EQ(font_query_text("Monospace", 0, ""), "Monospace");
    EXPECT_EQ(font_query_text("", 12, "Bold:Italic"), "-12:Bold:Italic");
    EXPECT_EQ(font_query_text("Foo-Bar:X", 9, ""), "Foo\\-Bar\\:X-9");
}

TEST(FontResolver, FamilyWithSeparatorsStaysOneFamily) {
    FontConfigSession fc;
    const auto match = fc.query("DejaVu Sans Mono-Nonexistent", 9, "", false);
    ASSERT_TRUE(match);
    EXPECT_FALSE(match->exact_family);
    const auto exact = fc.query("DejaVu Sans Mono", 9, "Bold", false);
    ASSERT_TRUE(exact);
    EXPECT_TRUE(exact->exact_family);
    EXPECT_NE(exact->file.find("Bold"), std::string::npos);
}

TEST(FontResolver, NoFontOptionResolvesMonospaceWithItsStyles) {
    Settings s;
    resolve_fonts(s);
    ASSERT_EQ(s.font.size(), 1u);
    const PrimaryFont& mono = s.font[0];
    EXPECT_EQ(mono.family, "Monospace");
    EXPECT_TRUE(std::filesystem::exists(mono.regular_file)) << mono.regular_file;
    // DejaVu Sans Mono has real styled files, none of them fontconfig's fallback.
    EXPECT_TRUE(std::filesystem::exists(mono.bold_file)) << mono.bold_file;
    EXPECT_TRUE(std::filesystem::exists(mono.italic_file)) << mono.italic_file;
    EXPECT_TRUE(std::filesystem::exists(mono.bold_italic_file)) << mono.bold_italic_file;
    EXPECT_NE(mono.regular_file, mono.bold_file);
    EXPECT_TRUE(s.has_bold_font && s.has_italic_font && s.has_bold_italic_font);
}

TEST(FontResolver, NamedFamilyThatIsAlsoTheDefaultKeepsItsStyles) {
    Settings s;
    s.font.resize(1);
    s.font[0].family = "DejaVu Sans";
    resolve_fonts(s);
    EXPECT_NE(s.font[0].regular_file.find("DejaVuSans"), std::string::npos);
    EXPECT_FALSE(s.font[0].bold_file.empty());
}

TEST(FontResolver, UnknownFamilyKeepsOnlyTheFallbackRegular) {
    Settings s;
    s.font.resize(2);
    s.font[0].family = "No Such Family Zz";
    s.font[1].family = "Monospace";
    s.debug_font = true;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    resolve_fonts(s);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(s.font[0].regular_file.empty());
    EXPECT_TRUE(s.font[0].bold_file.empty());
    EXPECT_TRUE(s.font[0].italic_file.empty());
    EXPECT_TRUE(s.font[0].bold_italic_file.empty());
    EXPECT_NE(err.find("Match result for 'No Such Family Zz-9:Bold':\n"), std::string::npos);
    EXPECT_NE(err.find("Dropping redundant font file '"), std::string::npos);
    EXPECT_NE(out.find("Loaded styled font:\n  regular:     "), std::string::npos);
    EXPECT_NE(out.find("  bold:        (none)\n"), std::string::npos);
}

TEST(FontResolver, SymbolFontReplacedByTheDefaultIsDropped) {
    Settings s;
    s.font_symbol.resize(2);
    s.font_symbol[0].family = "No Such Symbol Font Zz";
    s.font_symbol[1].family = "DejaVu Sans";
    s.font_color.resize(1);
    s.font_color[0].family = "Noto Color Emoji";
    testing::internal::CaptureStderr();
    resolve_fonts(s);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(s.font_symbol[0].file.empty());
    EXPECT_NE(err.find("Could not find font 'No Such Symbol Font Zz'\n"), std::string::npos);
    EXPECT_FALSE(s.font_symbol[1].file.empty());
    EXPECT_TRUE(s.has_symbol_font);
    if (s.font_color[0].file.find("NotoColorEmoji") == std::string::npos) {
        GTEST_SKIP() << "no colour emoji font installed";
    }
    EXPECT_TRUE(s.has_color_font);
}

}  // namespace
}  // namespace zelto
