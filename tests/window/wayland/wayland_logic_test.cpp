#include "window/wayland/wayland_logic.hpp"

#include <gtest/gtest.h>

#include <set>

#include "config/settings.hpp"

namespace zelto {
namespace {

MonoTime at_ms(std::int64_t ms) {
    return mono_add_ms(MonoTime{1000, 0}, ms);
}

TEST(WaylandKeyReport, TextWinsAndKeysWithoutTextReportTheirSymbol) {
    auto a = wayland_key_report('a', 'a', 'a', 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->key, 'a');
    auto page_up = wayland_key_report(0xFF55, 0, 0xFF55, MODIFIER_CTRL);
    ASSERT_TRUE(page_up);
    EXPECT_EQ(page_up->key, 0xFF55u);
    EXPECT_EQ(page_up->modifiers, static_cast<std::uint32_t>(MODIFIER_CTRL));
    auto f1 = wayland_key_report(0xFFBE, 0, 0xFFBE, 0);
    ASSERT_TRUE(f1);
    EXPECT_EQ(f1->key, 0xFFBEu);
}

TEST(WaylandKeyReport, ShiftTabIsTabWithShiftAndNoText) {
    auto report = wayland_key_report(0xFE20, 0, 0xFF09, 0);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->key, 0xFF09u);
    EXPECT_EQ(report->modifiers & MODIFIER_SHIFT, static_cast<std::uint32_t>(MODIFIER_SHIFT));
}

TEST(WaylandKeyReport, InsertReachesTheEncoderAsAKey) {
    auto insert = wayland_key_report(0xFF63, 0, 0xFF63, MODIFIER_SHIFT);
    ASSERT_TRUE(insert);
    EXPECT_EQ(insert->key, 0xFF63u);
}

TEST(WaylandKeyReport, ControlAtAndBacktickSendNul) {
    for (std::uint32_t keysym : {std::uint32_t{'@'}, std::uint32_t{'`'}}) {
        auto report = wayland_key_report(keysym, 0, keysym, MODIFIER_CTRL);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->key, 0u);
    }
}

TEST(WaylandKeyReport, SilentKeysReportNothing) {
    // dead_acute, Menu, Num_Lock, XF86AudioMute, XF86MonBrightnessUp, Pause, no symbol
    for (std::uint32_t keysym :
         {0xFE51u, 0xFF67u, 0xFF7Fu, 0x1008FF12u, 0x1008FF02u, 0xFF13u, 0u}) {
        EXPECT_FALSE(wayland_key_report(keysym, 0, keysym, 0)) << std::hex << keysym;
    }
    // A character symbol without text (a key swallowed by composing) is never sent as that
    // character.
    EXPECT_FALSE(wayland_key_report('e', 0, 'e', 0));
    EXPECT_FALSE(wayland_key_report(0x010020AC, 0, 0x010020AC, 0));
}

TEST(WaylandKeyReport, BareModifiersAreRecognised) {
    for (std::uint32_t keysym : {0xFFE1u, 0xFFE3u, 0xFFE9u, 0xFFEEu, 0xFE03u, 0xFF20u}) {
        EXPECT_TRUE(is_bare_modifier_keysym(keysym)) << std::hex << keysym;
    }
    EXPECT_FALSE(is_bare_modifier_keysym('a'));
    EXPECT_FALSE(is_bare_modifier_keysym(0xFF09));
}

TEST(KeyRepeat, RepeatsAfterTheDelayAtTheRate) {
    KeyRepeat repeat;
    repeat.set_info(25, 600);
    repeat.press(30, at_ms(0));
    EXPECT_FALSE(repeat.take_due(at_ms(599)));
    EXPECT_TRUE(repeat.take_due(at_ms(600)));
    EXPECT_EQ(*repeat.deadline(), at_ms(640));
    EXPECT_FALSE(repeat.take_due(at_ms(639)));
    EXPECT_TRUE(repeat.take_due(at_ms(641)));
    EXPECT_EQ(*repeat.deadline(), at_ms(680));
    repeat.stop();
    EXPECT_FALSE(repeat.deadline());
    EXPECT_FALSE(repeat.take_due(at_ms(2000)));
}

TEST(KeyRepeat, RateZeroDisablesRepeat) {
    KeyRepeat repeat;
    repeat.set_info(0, 300);
    repeat.press(30, at_ms(0));
    EXPECT_FALSE(repeat.deadline());
    EXPECT_FALSE(repeat.take_due(at_ms(10000)));
}

TEST(KeyRepeat, DelayZeroMeansHalfASecond) {
    KeyRepeat repeat;
    repeat.set_info(30, 0);
    repeat.press(30, at_ms(0));
    EXPECT_EQ(*repeat.deadline(), at_ms(500));
}

TEST(KeyRepeat, HighRatesRepeatEveryMillisecond) {
    KeyRepeat repeat;
    repeat.set_info(5000, 100);
    EXPECT_EQ(repeat.interval_ms(), 1);
    repeat.press(30, at_ms(0));
    EXPECT_TRUE(repeat.take_due(at_ms(100)));
    EXPECT_EQ(*repeat.deadline(), at_ms(101));
}

TEST(KeyRepeat, AStalledLoopGetsOneRepeatNotABurst) {
    KeyRepeat repeat;
    repeat.set_info(50, 200);
    repeat.press(30, at_ms(0));
    EXPECT_TRUE(repeat.take_due(at_ms(5000)));
    EXPECT_EQ(*repeat.deadline(), at_ms(5020));
    EXPECT_FALSE(repeat.take_due(at_ms(5001)));
}

TEST(OutputMetrics, DpiAndRefresh) {
    EXPECT_EQ(output_dpi(1920, 500), 97);
    EXPECT_EQ(output_dpi(3840, 344), 283);
    EXPECT_EQ(output_dpi(1024, 0), 0);  // unknown physical size
    EXPECT_DOUBLE_EQ(refresh_interval_ms(60000), 1000000.0 / 60000);
    EXPECT_DOUBLE_EQ(refresh_interval_ms(0), 16.0);
}

TEST(CsdModes, FromToplevelStates) {
    EXPECT_EQ(csd_mode_for({}), CSD_MODE_SHADOW);
    EXPECT_EQ(csd_mode_for({.maximized = true}), CSD_MODE_NO_SHADOW);
    EXPECT_EQ(csd_mode_for({.tiled = true}), CSD_MODE_NO_SHADOW);
    EXPECT_EQ(csd_mode_for({.maximized = true, .fullscreen = true}), CSD_MODE_NONE);
    EXPECT_EQ(ui_decoration_mode(CSD_MODE_NONE), 0u);
    EXPECT_EQ(ui_decoration_mode(CSD_MODE_SHADOW), 1u);
    EXPECT_EQ(ui_decoration_mode(CSD_MODE_NO_SHADOW), 2u);
}

TEST(Shadow, FadesOutwardAndLeavesTheWindowClear) {
    const int w = 300;
    const int h = 200;
    EXPECT_EQ(shadow_alpha(40 + w / 2, 34 + h / 2, w, h), 0);  // middle of the window
    EXPECT_EQ(shadow_alpha(0, 100, w, h), 0);                  // outer edge of the left band
    EXPECT_EQ(shadow_alpha(39, 100, w, h), static_cast<int>(255 * 0.2 * (39 / 40.0) * (39 / 40.0)));
    EXPECT_EQ(shadow_alpha(w + 41, 100, w, h), shadow_alpha(39, 100, w, h));
    EXPECT_LT(shadow_alpha(20, 100, w, h), shadow_alpha(39, 100, w, h));
    EXPECT_EQ(shadow_alpha(150, 33, w, h), static_cast<int>(255 * 0.2 * (33 / 40.0) * (33 / 40.0)));
    EXPECT_GT(shadow_alpha(150, h + 34, w, h), 0);  // below the window
    EXPECT_EQ(shadow_alpha(0, 0, w, h), 0);         // far corner
    EXPECT_GT(shadow_alpha(45, 45, w, h), 0);       // rounded top-left corner of the window
}

TEST(Shadow, HitTestFindsTheGrabbedEdge) {
    const int w = 300;
    const int h = 200;
    EXPECT_EQ(shadow_hit_edge(35, 100, w, h), RESIZE_EDGE_LEFT);
    EXPECT_EQ(shadow_hit_edge(w + 45, 100, w, h), RESIZE_EDGE_RIGHT);
    EXPECT_EQ(shadow_hit_edge(150, 28, w, h), RESIZE_EDGE_TOP);
    EXPECT_EQ(shadow_hit_edge(150, h + 40, w, h), RESIZE_EDGE_BOTTOM);
    EXPECT_EQ(shadow_hit_edge(35, 28, w, h), RESIZE_EDGE_TOP_LEFT);
    EXPECT_EQ(shadow_hit_edge(w + 45, 28, w, h), RESIZE_EDGE_TOP_RIGHT);
    EXPECT_EQ(shadow_hit_edge(35, h + 40, w, h), RESIZE_EDGE_BOTTOM_LEFT);
    EXPECT_EQ(shadow_hit_edge(w + 45, h + 40, w, h), RESIZE_EDGE_BOTTOM_RIGHT);
    // The top band near the right end is still the top edge, as it is near the left end.
    EXPECT_EQ(shadow_hit_edge(w + 10, 28, w, h), RESIZE_EDGE_TOP);
    EXPECT_EQ(shadow_hit_edge(45, 28, w, h), RESIZE_EDGE_TOP);
    EXPECT_EQ(pointer_style_for_edge(RESIZE_EDGE_TOP_RIGHT), 9u);
    EXPECT_EQ(pointer_style_for_edge(RESIZE_EDGE_BOTTOM), 5u);
}

TEST(CsdPresses, TheTitleBarMovesTheWindowAndTheShadowResizesIt) {
    EXPECT_EQ(csd_press_action({.on_shadow = true, .button = 1}), CSD_PRESS_RESIZE);
    EXPECT_EQ(csd_press_action({.on_title_bar = true, .button = 1}), CSD_PRESS_MOVE);
    EXPECT_EQ(csd_press_action({.on_title_bar = true, .button = 1, .near_title_button = true}),
              CSD_PRESS_TITLE_BUTTON);
    EXPECT_EQ(csd_press_action({.on_title_bar = true, .button = 3}), CSD_PRESS_WINDOW_MENU);
    EXPECT_EQ(csd_press_action({.on_title_bar = true, .button = 2}), CSD_PRESS_NONE);
    EXPECT_EQ(csd_press_action({.button = 1}), CSD_PRESS_REPORT);
    EXPECT_EQ(csd_press_action({.button = 2, .near_title_button = true}), CSD_PRESS_REPORT);
}

TEST(CsdPresses, TitleButtonsTakePressesNearTheirCentre) {
    const std::vector<TitleBarButton> buttons = {{0, 0.0f, 100, 18}, {1, 0.0f, 130, 18}};
    EXPECT_TRUE(near_title_button(buttons, 100, 18));
    EXPECT_TRUE(near_title_button(buttons, 112, 18));   // 12 pixels away
    EXPECT_FALSE(near_title_button(buttons, 113, 18));  // 13 pixels away
    EXPECT_TRUE(near_title_button(buttons, 138, 26));   // 8² + 8² = 128
    EXPECT_FALSE(near_title_button(buttons, 115, 30));
    EXPECT_FALSE(near_title_button({}, 100, 18));
}

TEST(PointerButtons, LinuxCodesBecomeTerminalButtons) {
    EXPECT_EQ(button_from_linux_code(272), 1u);
    EXPECT_EQ(button_from_linux_code(273), 3u);
    EXPECT_EQ(button_from_linux_code(274), 2u);
    EXPECT_EQ(button_from_linux_code(275), 4u);
}

TEST(Wheel, DiscreteStepReportsOnceAndSwallowsTheAxisEvent) {
    WheelTranslator wheel;
    EXPECT_EQ(wheel.discrete(-1).button, 65u);
    EXPECT_EQ(wheel.discrete(-1).steps, 0);
    EXPECT_FALSE(wheel.axis(-10 * 256));
    auto down = wheel.discrete(2);
    EXPECT_EQ(down.button, 66u);
    EXPECT_FALSE(wheel.axis(15 * 256));
    // Continuous scrolling (touchpads) carries its step count.
    auto smooth = wheel.axis(3 * 256 + 100);
    ASSERT_TRUE(smooth);
    EXPECT_EQ(smooth->button, 66u);
    EXPECT_EQ(smooth->steps, 3);
    auto up = wheel.axis(-512);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->button, 65u);
    EXPECT_EQ(up->steps, 2);
    EXPECT_FALSE(wheel.axis(255));
}

TEST(ProtocolText, InvalidUtf8AndNulNeverReachARequest) {
    EXPECT_EQ(protocol_text("vim \xc3\xa9t\xc3\xa9"), "vim \xc3\xa9t\xc3\xa9");
    EXPECT_EQ(protocol_text("a\xff"
                            "b"),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(protocol_text("\xc3"), "\xef\xbf\xbd");  // cut sequence
    EXPECT_EQ(protocol_text("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // surrogate
    EXPECT_EQ(protocol_text("\xc0\xaf"), "\xef\xbf\xbd\xef\xbf\xbd");                  // overlong
    EXPECT_EQ(protocol_text(std::string_view("a\0b", 3)), "ab");
}

TEST(ProtocolText, LongTextsAreCutAtACharacterBoundary) {
    const std::string long_title(100000, 'x');
    EXPECT_EQ(protocol_text(long_title).size(), MAX_REQUEST_TEXT);
    std::string accents;
    for (int i = 0; i < 5; ++i) {
        accents += "\xc3\xa9";
    }
    EXPECT_EQ(protocol_text(accents, 5), "\xc3\xa9\xc3\xa9");
}

TEST(SharedMemory, FileNamesComeFromTheClock) {
    EXPECT_EQ(shm_file_name(0), "/wl_shm-AAAAAA");
    // 0b10001 → 'b'; 0b00010 → 'C'
    EXPECT_EQ(shm_file_name(17 | (2 << 5)), "/wl_shm-bCAAAA");
    std::set<std::string> names;
    for (std::int64_t ns = 0; ns < 1000; ++ns) {
        names.insert(shm_file_name(ns * 7919));
    }
    EXPECT_EQ(names.size(), 1000u);
}

}  // namespace
}  // namespace zelto
