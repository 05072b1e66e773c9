// The X11 backend's decisions that need no server: which keys are reported and how, key names
// for bindings, the monitor a window is on, DPI, frame pacing, startup messages, theme variant.
#include "window/x11/x11_logic.hpp"

#include <gtest/gtest.h>

#include "config/settings.hpp"
#include "window/x11/x11_keys.hpp"

namespace zelto {
namespace {

constexpr unsigned SHIFT = 1u << 0;  // ShiftMask
constexpr unsigned CONTROL = 1u << 2;
constexpr unsigned MOD1 = 1u << 3;
constexpr unsigned MOD4 = 1u << 6;

std::optional<KeyReport> press(std::string_view text, std::uint32_t keysym, unsigned state = 0,
                               std::uint32_t raw = 0) {
    return translate_key_press(KeyLookup{text, keysym, raw ? raw : keysym, state});
}

TEST(X11Keys, TextKeysReportTheirCodePointAndRawSymbol) {
    auto a = press("a", 'a');
    ASSERT_TRUE(a);
    EXPECT_EQ(a->key, 'a');
    EXPECT_EQ(a->raw_keysym, 'a');
    EXPECT_EQ(a->modifiers, 0u);

    auto shifted = press("A", 'A', SHIFT, 'a');
    ASSERT_TRUE(shifted);
    EXPECT_EQ(shifted->key, 'A');
    EXPECT_EQ(shifted->raw_keysym, 'a');
    EXPECT_EQ(shifted->modifiers, MODIFIER_SHIFT);

    auto euro = press("\xE2\x82\xAC", 0x20ac);
    ASSERT_TRUE(euro);
    EXPECT_EQ(euro->key, 0x20acu);
}

TEST(X11Keys, ModifiersMapShiftAltControlAndDropTheRest) {
    EXPECT_EQ(modifiers_from_x11_state(SHIFT | CONTROL | MOD1 | MOD4),
              MODIFIER_SHIFT | MODIFIER_ALT | MODIFIER_CTRL);
    EXPECT_EQ(modifiers_from_x11_state(MOD4), 0u);
    auto ctrl_c = press("\x03", 'c', CONTROL);
    ASSERT_TRUE(ctrl_c);
    EXPECT_EQ(ctrl_c->key, 3u);
    EXPECT_EQ(ctrl_c->modifiers, MODIFIER_CTRL);
}

TEST(X11Keys, ReturnAndKeypadEnterWithTextAreCarriageReturn) {
    EXPECT_EQ(press("\r", 0xff0d)->key, 13u);
    EXPECT_EQ(press("\r", 0xff8d)->key, 13u);
    EXPECT_EQ(press("", 0xff0d)->key, 0xff0du);
}

TEST(X11Keys, EditingNavigationAndFunctionKeysWithoutTextReportTheirSymbol) {
    for (std::uint32_t keysym : {0xff50u, 0xff51u, 0xff55u, 0xff57u, 0xff63u, 0xff91u, 0xff94u,
                                 0xffbeu, 0xffc2u, 0xffe0u, 0xffffu}) {
        auto key = press("", keysym);
        ASSERT_TRUE(key) << std::hex << keysym;
        EXPECT_EQ(key->key, keysym);
    }
}

TEST(X11Keys, KeypadNavigationAndBeginNeverCarryText) {
    for (std::uint32_t keysym = 0xff95; keysym <= 0xff9f; ++keysym) {
        auto key = press("", keysym);
        ASSERT_TRUE(key) << std::hex << keysym;
        EXPECT_EQ(key->key, keysym);
    }
    EXPECT_EQ(press("", 0xff58)->key, 0xff58u);
    EXPECT_EQ(press("7", 0xff95)->key, 0xff95u);
}

TEST(X11Keys, ShiftTabIsTabWithShiftAndNoText) {
    auto key = press("", 0xfe20, SHIFT, 0xff09);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->key, 0xff09u);
    EXPECT_EQ(key->raw_keysym, 0xff09u);
    EXPECT_EQ(key->modifiers, MODIFIER_SHIFT);
}

TEST(X11Keys, BareModifiersAndTextlessOtherKeysReportNothing) {
    EXPECT_FALSE(press("", 0xffe1));  // Shift_L
    EXPECT_FALSE(press("", 0xffe3));  // Control_L
    EXPECT_FALSE(press("", 0xff13));  // Pause
    EXPECT_FALSE(press("", 0));
}

TEST(X11Keys, BrokenTextFallsBackToTheSymbolRules) {
    EXPECT_FALSE(press("\xC3", 'a'));
    EXPECT_FALSE(press("\xC0\x80", 'a'));                    // overlong NUL
    EXPECT_EQ(press("\xED\xA0\x80", 0xff0d)->key, 0xff0du);  // surrogate
}

TEST(X11Keys, DecodingAcceptsExactlyOneValidSequence) {
    EXPECT_EQ(decode_single_code_point("\xF0\x9F\x98\x80"), U'\U0001F600');
    EXPECT_EQ(decode_single_code_point("\xC3\xA9"), U'\u00e9');
    EXPECT_FALSE(decode_single_code_point("ab"));
    EXPECT_FALSE(decode_single_code_point("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(decode_single_code_point("\x80"));
    EXPECT_FALSE(decode_single_code_point(""));
}

TEST(X11Keys, KeyNamesResolveToWhatAPressReports) {
    EXPECT_EQ(key_value_from_name("a"), 'a');
    EXPECT_EQ(key_value_from_name("C"), 'C');
    EXPECT_EQ(key_value_from_name("Return"), 13u);
    EXPECT_EQ(key_value_from_name("eacute"), 0xe9u);
    EXPECT_EQ(key_value_from_name("Cyrillic_a"), 0x430u);
    EXPECT_EQ(key_value_from_name("Page_Up"), KEY_SYM_PAGE_UP);
    EXPECT_EQ(key_value_from_name("F10"), KEY_SYM_F10);
    EXPECT_EQ(key_value_from_name("Left"), KEY_SYM_LEFT);
    EXPECT_EQ(key_value_from_name("KP_Home"), 0xff95u);
    EXPECT_EQ(key_value_from_name("page_down"), KEY_SYM_PAGE_DOWN);
    EXPECT_EQ(key_value_from_name("NoSuchKey"), 0u);
    EXPECT_EQ(key_value_from_name(""), 0u);
}

std::vector<MonitorGeometry> two_side_by_side() {
    return {MonitorGeometry{0, 0, 1920, 1080, 510, "DP-1"},
            MonitorGeometry{1920, 0, 1280, 1024, 340, "HDMI-1"}};
}

TEST(X11Monitor, WindowIsOnTheMonitorItOverlaps) {
    const auto monitors = two_side_by_side();
    EXPECT_EQ(choose_monitor(monitors, std::nullopt, {100, 100, 640, 480}), 0u);
    EXPECT_EQ(choose_monitor(monitors, std::nullopt, {2000, 100, 640, 480}), 1u);
    EXPECT_FALSE(choose_monitor(monitors, std::nullopt, {5000, 100, 640, 480}));
    EXPECT_FALSE(choose_monitor({}, std::nullopt, {0, 0, 640, 480}));
}

TEST(X11Monitor, AWindowAcrossTwoMonitorsStaysOnTheCurrentOne) {
    const auto monitors = two_side_by_side();
    const WindowGeometry straddling{1800, 100, 640, 480};
    EXPECT_EQ(choose_monitor(monitors, std::nullopt, straddling), 0u);
    EXPECT_EQ(choose_monitor(monitors, 1u, straddling), 1u);
    EXPECT_EQ(choose_monitor(monitors, 1u, {100, 100, 640, 480}), 0u);
    EXPECT_EQ(choose_monitor(monitors, 7u, {100, 100, 640, 480}), 0u);
}

TEST(X11Monitor, TheWindowsFirstColumnDoesNotCount) {
    const auto monitors = two_side_by_side();
    // The window's left edge is exactly the last column of the first monitor.
    EXPECT_EQ(choose_monitor(monitors, std::nullopt, {1919, 0, 640, 480}), 1u);
    EXPECT_TRUE(monitor_overlaps(monitors[0], {1918, 0, 640, 480}));
    // Ending exactly at a monitor's start does not reach it.
    EXPECT_FALSE(monitor_overlaps(monitors[1], {1280, 0, 640, 480}));
    EXPECT_FALSE(monitor_overlaps(monitors[0], {-640, 0, 640, 480}));
    EXPECT_TRUE(monitor_overlaps(monitors[0], {-639, -479, 640, 480}));
}

TEST(X11Monitor, DpiIsTruncatedAndUnknownWithoutAWidth) {
    EXPECT_EQ(monitor_dpi(1920, 510), 95u);
    EXPECT_EQ(monitor_dpi(1024, 271), 95u);
    EXPECT_EQ(monitor_dpi(3840, 0), 0u);
    EXPECT_EQ(monitor_dpi(3840, 1), 65535u);
}

TEST(X11Monitor, FrameIntervalFollowsTheRefreshRate) {
    EXPECT_DOUBLE_EQ(frame_interval_for_rate(50.0), 20.0);
    EXPECT_NEAR(frame_interval_for_rate(144.0), 6.944, 0.001);
    EXPECT_NEAR(frame_interval_for_rate(0.0), 16.667, 0.001);
    EXPECT_NEAR(frame_interval_for_rate(-5.0), 16.667, 0.001);
}

std::string joined(const std::vector<std::array<char, 20>>& pieces) {
    std::string text;
    for (const auto& piece : pieces) {
        text.append(piece.data(), piece.size());
    }
    return text;
}

TEST(X11StartupNotification, MessageIsCutIntoTwentyBytePiecesWithItsNul) {
    const std::string id30(30, 'x');
    const auto three = startup_remove_message_pieces(id30);
    ASSERT_EQ(three.size(), 3u);
    const std::string text = joined(three);
    EXPECT_EQ(text.substr(0, 42), "remove: ID=" + id30 + '\0');
    EXPECT_EQ(text.substr(42), std::string(18, '\0'));

    const auto two = startup_remove_message_pieces(std::string(28, 'y'));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(joined(two), "remove: ID=" + std::string(28, 'y') + '\0');

    EXPECT_EQ(startup_remove_message_pieces(std::string(29, 'z')).size(), 3u);
    EXPECT_TRUE(startup_remove_message_pieces("").empty());
}

TEST(X11Theme, DarkVariantForDarkBackgroundsOrWhenAskedFor) {
    EXPECT_STREQ(gtk_theme_variant(DECORATION_THEME_AUTO, {0, 0, 0, 0xEE}), "dark");
    EXPECT_STREQ(gtk_theme_variant(DECORATION_THEME_AUTO, {0x38, 0x38, 0x38, 0xFF}), "dark");
    EXPECT_EQ(gtk_theme_variant(DECORATION_THEME_AUTO, {0x3C, 0x3C, 0x3C, 0xFF}), nullptr);
    EXPECT_EQ(gtk_theme_variant(DECORATION_THEME_AUTO, {0xFF, 0xFF, 0xFF, 0xFF}), nullptr);
    EXPECT_STREQ(gtk_theme_variant(DECORATION_THEME_DARK, {0xFF, 0xFF, 0xFF, 0xFF}), "dark");
    EXPECT_EQ(gtk_theme_variant(DECORATION_THEME_NONE, {0, 0, 0, 0xFF}), nullptr);
}

}  // namespace
}  // namespace zelto
