#include "window/wayland/wayland_keyboard.hpp"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.hpp"

namespace zelto {
namespace {

// Linux input keycodes, as wl_keyboard reports them.
constexpr std::uint32_t KEY_2 = 3;
constexpr std::uint32_t KEY_TAB = 15;
constexpr std::uint32_t KEY_E = 18;
constexpr std::uint32_t KEY_O = 24;
constexpr std::uint32_t KEY_A = 30;
constexpr std::uint32_t KEY_APOSTROPHE = 40;
constexpr std::uint32_t KEY_LEFTSHIFT = 42;
constexpr std::uint32_t KEY_C = 46;
constexpr std::uint32_t KEY_F1 = 59;
constexpr std::uint32_t KEY_RIGHTALT = 100;
constexpr std::uint32_t KEY_INSERT = 110;
constexpr std::uint32_t KEY_MUTE = 113;

// Modifier masks of the evdev keymaps: Shift, Control and Mod1 are the first, third and fourth.
constexpr std::uint32_t SHIFT = 1;
constexpr std::uint32_t CONTROL = 4;
constexpr std::uint32_t MOD1 = 8;

MonoTime at_ms(std::int64_t ms) {
    return mono_add_ms(MonoTime{500, 0}, ms);
}

// A compose file of its own, so the test does not depend on the machine's locale files.
class ComposeFile {
  public:
    ComposeFile() {
        char name[] = "/tmp/zelto-compose-XXXXXX";
        const int fd = mkstemp(name);
        close(fd);
        path_ = name;
        std::ofstream(path_) << "<dead_acute> <e> : \"\xc3\xa9\" eacute\n"
                                "<Multi_key> <o> <c> : \"\xc2\xa9\" copyright\n";
        setenv("XCOMPOSEFILE", path_.c_str(), 1);
    }
    ~ComposeFile() {
        unsetenv("XCOMPOSEFILE");
        unlink(path_.c_str());
    }

  private:
    std::string path_;
};

class WaylandKeyboardTest : public ::testing::Test {
  protected:
    void load(const char* layout, const char* variant = "", const char* options = "") {
        ASSERT_TRUE(keyboard.set_keymap_names(layout, variant, options));
        keyboard.set_repeat_info(25, 600);
    }
    std::optional<WaylandKeyReport> tap(std::uint32_t keycode) {
        auto report = keyboard.key(keycode, true, at_ms(0));
        keyboard.key(keycode, false, at_ms(1));
        return report;
    }

    ComposeFile compose;
    WaylandKeyboard keyboard;
};

TEST_F(WaylandKeyboardTest, LettersCarryTheirTextAndModifiers) {
    load("us");
    auto a = tap(KEY_A);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->key, 'a');
    EXPECT_EQ(a->raw_keysym, 'a');
    EXPECT_EQ(a->modifiers, 0u);

    keyboard.update_modifiers(SHIFT, 0, 0, 0);
    auto shifted = tap(KEY_A);
    ASSERT_TRUE(shifted);
    EXPECT_EQ(shifted->key, 'A');
    EXPECT_EQ(shifted->raw_keysym, 'a');  // the plain state never sees the modifiers
    EXPECT_EQ(shifted->modifiers, static_cast<std::uint32_t>(MODIFIER_SHIFT));

    keyboard.update_modifiers(MOD1, 0, 0, 0);
    auto alt = tap(KEY_A);
    ASSERT_TRUE(alt);
    EXPECT_EQ(alt->key, 'a');
    EXPECT_EQ(alt->modifiers, static_cast<std::uint32_t>(MODIFIER_ALT));
}

TEST_F(WaylandKeyboardTest, ControlKeysGiveTheirControlCharacters) {
    load("us");
    keyboard.update_modifiers(CONTROL, 0, 0, 0);
    auto ctrl_c = tap(KEY_C);
    ASSERT_TRUE(ctrl_c);
    EXPECT_EQ(ctrl_c->key, 3u);
    EXPECT_EQ(ctrl_c->modifiers, static_cast<std::uint32_t>(MODIFIER_CTRL));

    keyboard.update_modifiers(CONTROL | SHIFT, 0, 0, 0);
    auto ctrl_at = tap(KEY_2);
    ASSERT_TRUE(ctrl_at);
    EXPECT_EQ(ctrl_at->key, 0u);
}

TEST_F(WaylandKeyboardTest, ShiftAloneReportsNothing) {
    load("us");
    EXPECT_FALSE(keyboard.key(KEY_LEFTSHIFT, true, at_ms(0)));
    EXPECT_FALSE(keyboard.repeat().deadline());
    keyboard.update_modifiers(SHIFT, 0, 0, 0);
    EXPECT_FALSE(keyboard.key(KEY_LEFTSHIFT, false, at_ms(10)));
}

TEST_F(WaylandKeyboardTest, ShiftTabIsTabWithShift) {
    load("us");
    keyboard.update_modifiers(SHIFT, 0, 0, 0);
    auto report = tap(KEY_TAB);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->key, 0xFF09u);
    EXPECT_EQ(report->modifiers, static_cast<std::uint32_t>(MODIFIER_SHIFT));
    keyboard.update_modifiers(0, 0, 0, 0);
    EXPECT_EQ(tap(KEY_TAB)->key, 9u);
}

TEST_F(WaylandKeyboardTest, KeysWithoutTextReportTheirSymbolOrNothing) {
    load("us");
    EXPECT_EQ(tap(KEY_F1)->key, 0xFFBEu);
    EXPECT_EQ(tap(KEY_INSERT)->key, 0xFF63u);
    EXPECT_FALSE(tap(KEY_MUTE));
}

TEST_F(WaylandKeyboardTest, DeadKeysCompose) {
    load("us", "intl");
    EXPECT_FALSE(tap(KEY_APOSTROPHE));  // dead_acute starts a sequence
    auto composed = tap(KEY_E);
    ASSERT_TRUE(composed);
    EXPECT_EQ(composed->key, 0xE9u);
    EXPECT_EQ(tap(KEY_E)->key, 'e');  // the sequence is over
}

TEST_F(WaylandKeyboardTest, MultiKeyStartsASequence) {
    load("us", "", "compose:ralt");
    EXPECT_FALSE(tap(KEY_RIGHTALT));
    EXPECT_FALSE(tap(KEY_O));  // mid-sequence keys are not sent as characters
    auto composed = tap(KEY_C);
    ASSERT_TRUE(composed);
    EXPECT_EQ(composed->key, 0xA9u);
}

TEST_F(WaylandKeyboardTest, AHeldKeyRepeatsUntilReleased) {
    load("us");
    ASSERT_TRUE(keyboard.key(KEY_A, true, at_ms(0)));
    EXPECT_EQ(*keyboard.repeat().deadline(), at_ms(600));
    EXPECT_FALSE(keyboard.repeat_due(at_ms(599)));
    std::vector<std::uint32_t> repeats;
    for (std::int64_t t = 600; t <= 720; t += 10) {
        if (auto report = keyboard.repeat_due(at_ms(t))) {
            repeats.push_back(report->key);
        }
    }
    // Due at 600, 640, 680 and 720.
    EXPECT_EQ(repeats, (std::vector<std::uint32_t>{'a', 'a', 'a', 'a'}));
    EXPECT_FALSE(keyboard.key(KEY_A, false, at_ms(730)));
    EXPECT_FALSE(keyboard.repeat().deadline());
    EXPECT_FALSE(keyboard.repeat_due(at_ms(2000)));
}

TEST_F(WaylandKeyboardTest, RepeatFollowsTheNewestKeyAndTheModifiers) {
    load("us");
    keyboard.key(KEY_A, true, at_ms(0));
    keyboard.key(KEY_C, true, at_ms(100));
    // Releasing the older key keeps the newer one repeating.
    keyboard.key(KEY_A, false, at_ms(200));
    keyboard.update_modifiers(SHIFT, 0, 0, 0);
    auto repeat = keyboard.repeat_due(at_ms(700));
    ASSERT_TRUE(repeat);
    EXPECT_EQ(repeat->key, 'C');
}

TEST_F(WaylandKeyboardTest, RateZeroNeverRepeats) {
    load("us");
    keyboard.set_repeat_info(0, 200);
    ASSERT_TRUE(keyboard.key(KEY_A, true, at_ms(0)));
    EXPECT_FALSE(keyboard.repeat().deadline());
    EXPECT_FALSE(keyboard.repeat_due(at_ms(5000)));
}

TEST_F(WaylandKeyboardTest, KeymapTextFromTheCompositor) {
    load("us");
    // The compositor hands the keymap as text, NUL-terminated.
    WaylandKeyboard other;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", "de", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string with_nul(text, std::strlen(text) + 1);
    other.set_keymap_text(with_nul);
    std::free(text);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    auto z = other.key(21, true, at_ms(0));  // the Y key is Z on a German layout
    ASSERT_TRUE(z);
    EXPECT_EQ(z->key, 'z');
}

TEST(WaylandKeyNames, NamesResolveCaseInsensitively) {
    EXPECT_EQ(WaylandKeyboard::key_value_from_name("Page_Up"), 0xFF55u);
    EXPECT_EQ(WaylandKeyboard::key_value_from_name("page_up"), 0xFF55u);
    EXPECT_EQ(WaylandKeyboard::key_value_from_name("F10"), 0xFFC7u);
    EXPECT_EQ(WaylandKeyboard::key_value_from_name("a"), 'a');
    EXPECT_EQ(WaylandKeyboard::key_value_from_name("space"), ' ');
    EXPECT_EQ(WaylandKeyboard::key_value_from_name("no_such_key"), 0u);
}

}  // namespace
}  // namespace zelto
