#include "terminal/vt_input.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zelto {
namespace {

constexpr std::uint32_t SHIFT = 1, ALT = 2, CTRL = 4;

std::string key(std::uint32_t sym, std::uint32_t mods = 0, VtInputModes modes = {}) {
    return encode_key(modes, {sym, false, mods});
}
std::string text(char32_t c, std::uint32_t mods = 0, VtInputModes modes = {}) {
    return encode_key(modes, {c, true, mods});
}
VtInputModes application_cursor() {
    VtInputModes modes;
    modes.application_cursor_keys = true;
    return modes;
}

TEST(KeyEncoding, CursorKeysFollowTheCursorKeyModeUnlessModified) {
    EXPECT_EQ(key(KEYSYM_UP), "\x1b[A");
    EXPECT_EQ(key(KEYSYM_UP, 0, application_cursor()), "\x1bOA");
    EXPECT_EQ(key(KEYSYM_UP, SHIFT), "\x1b[1;2A");
    EXPECT_EQ(key(KEYSYM_UP, SHIFT, application_cursor()), "\x1b[1;2A");
    EXPECT_EQ(key(KEYSYM_UP, CTRL | ALT), "\x1b[1;7A");
    EXPECT_EQ(key(KEYSYM_HOME), "\x1b[H");
    EXPECT_EQ(key(KEYSYM_END, 0, application_cursor()), "\x1bOF");
    EXPECT_EQ(key(KEYSYM_LEFT, CTRL), "\x1b[1;5D");
    EXPECT_EQ(key(KEYSYM_RIGHT), "\x1b[C");
    EXPECT_EQ(key(KEYSYM_DOWN, CTRL | ALT | SHIFT), "\x1b[1;8B");
}

TEST(KeyEncoding, FunctionAndEditingKeys) {
    EXPECT_EQ(key(KEYSYM_F1), "\x1bOP");
    EXPECT_EQ(key(KEYSYM_F4), "\x1bOS");
    EXPECT_EQ(key(KEYSYM_F1, CTRL), "\x1b[1;5P");
    EXPECT_EQ(key(KEYSYM_F5), "\x1b[15~");
    EXPECT_EQ(key(KEYSYM_F5, SHIFT), "\x1b[15;2~");
    EXPECT_EQ(key(KEYSYM_F5 + 1), "\x1b[17~");
    EXPECT_EQ(key(KEYSYM_F10), "\x1b[21~");
    EXPECT_EQ(key(KEYSYM_F11), "\x1b[23~");
    EXPECT_EQ(key(KEYSYM_F11 + 1), "\x1b[24~");
    EXPECT_EQ(key(KEYSYM_F11 + 1, SHIFT), "\x1b[24;2~");
    EXPECT_EQ(key(KEYSYM_F35), "\x1b[47~");
    EXPECT_EQ(key(KEYSYM_INSERT), "\x1b[2~");
    EXPECT_EQ(key(KEYSYM_DELETE, ALT), "\x1b[3;3~");
    EXPECT_EQ(key(KEYSYM_PRIOR), "\x1b[5~");
    EXPECT_EQ(key(KEYSYM_NEXT, CTRL), "\x1b[6;5~");
}

TEST(KeyEncoding, DeleteBackspaceAltAndControl) {
    EXPECT_EQ(text(127), "\x1b[3~");
    EXPECT_EQ(text(127, SHIFT), "\x1b[3;2~");
    EXPECT_EQ(text(8), "\x7f");
    EXPECT_EQ(text(8, ALT), "\x1b\x7f");
    EXPECT_EQ(text(8, CTRL), "\x08");
    EXPECT_EQ(text(8, SHIFT), "\x08");
    EXPECT_EQ(text('x', ALT), "\x1bx");
    VtInputModes no_escape;
    no_escape.no_alt_escape = true;
    EXPECT_EQ(text('x', ALT, no_escape), "x");
    EXPECT_EQ(text('c', CTRL), "\x03");
    EXPECT_EQ(text('C', CTRL | SHIFT), "\x03");
    EXPECT_EQ(text(' ', CTRL), std::string(1, '\0'));
    EXPECT_EQ(text(3), "\x03") << "Control already applied by the layout";
    EXPECT_EQ(text(U'\u00e9'), "\xc3\xa9");
    EXPECT_EQ(text(0xD800), "") << "a surrogate has no UTF-8 form";
}

TEST(KeyEncoding, KeysymsWithoutTextAreNeverCharacters) {
    EXPECT_EQ(text(0xFF50), "\xef\xbd\x90") << "U+FF50 typed as text";
    EXPECT_EQ(key(KEYSYM_BEGIN), "");
    EXPECT_EQ(key(0xFFE1), "") << "a bare Shift_L";
    EXPECT_EQ(key(KEYSYM_TAB, SHIFT), "\x1b[Z");
    EXPECT_EQ(key(KEYSYM_TAB), "\t");
}

TEST(KeyEncoding, KeypadKeysTranslateBeforeEncoding) {
    EXPECT_EQ(key(KEYSYM_KP_0 + 7), "7");
    EXPECT_EQ(key(KEYSYM_KP_ADD), "+");
    EXPECT_EQ(key(KEYSYM_KP_SEPARATOR), ".");
    EXPECT_EQ(key(KEYSYM_KP_DIVIDE, ALT), "\x1b/");
    EXPECT_EQ(key(KEYSYM_KP_SPACE, CTRL), std::string(1, '\0'));
    EXPECT_EQ(key(KEYSYM_KP_ENTER), "\r");
    EXPECT_EQ(key(KEYSYM_KP_UP), "\x1b[A");
    EXPECT_EQ(key(KEYSYM_KP_UP, 0, application_cursor()), "\x1bOA");
    EXPECT_EQ(key(KEYSYM_KP_HOME, SHIFT), "\x1b[1;2H");
    EXPECT_EQ(key(KEYSYM_KP_F1 + 1), "\x1bOQ");
    EXPECT_EQ(key(KEYSYM_KP_PRIOR), "\x1b[5~");
    EXPECT_EQ(key(KEYSYM_KP_DELETE), "\x1b[3~");
    EXPECT_EQ(key(KEYSYM_KP_INSERT, CTRL), "\x1b[2;5~");
}

TEST(PasteEncoding, NewlinesBecomeCarriageReturnsAndBracketsDropEscapes) {
    VtInputModes modes;
    EXPECT_EQ(encode_paste(modes, "a\r\nb\nc"), "a\rb\rc");
    EXPECT_EQ(encode_paste(modes, ""), "");
    EXPECT_EQ(encode_paste(modes, "\x1b[201~x"), "\x1b[201~x") << "outside brackets, as is";
    modes.bracketed_paste = true;
    EXPECT_EQ(encode_paste(modes, "a\r\nb\nc"), "\x1b[200~a\rb\rc\x1b[201~");
    EXPECT_EQ(encode_paste(modes, "evil\x1b[201~rm -rf ~\n"), "\x1b[200~evil[201~rm -rf ~\r\x1b[201~");
    EXPECT_EQ(encode_paste(modes, ""), "");
}

TEST(FocusEncoding, OnlyWhenReported) {
    VtInputModes modes;
    EXPECT_EQ(encode_focus(modes, true), "");
    modes.focus_event_reporting = true;
    EXPECT_EQ(encode_focus(modes, true), "\x1b[I");
    EXPECT_EQ(encode_focus(modes, false), "\x1b[O");
}

// A 300x100 text area of 10x20 cells: 30 columns, 5 rows.
const VtMouseEncoder::Geometry GRID{10, 20, 30, 5, 300, 100};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

TEST(MouseEncoding, NormalAndSgrPressAndRelease) {
    VtInputModes modes;
    modes.mouse_button_reporting = true;
    VtMouseEncoder mouse;
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, 2, 3, 0), bytes({27, '[', 'M', 32, 33, 33}));
    EXPECT_EQ(mouse.button(modes, GRID, 1, false, 2, 3, 0), bytes({27, '[', 'M', 35, 33, 33}));
    EXPECT_EQ(mouse.button(modes, GRID, 65, true, 45, 50, 0), bytes({27, '[', 'M', 96, 37, 35}));
    EXPECT_EQ(mouse.button(modes, GRID, 3, true, 0, 0, 1 | 4), bytes({27, '[', 'M', 32 + 2 + 20, 33, 33}));
    modes.extended_mouse_reporting = true;
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, 2, 3, 0), "\x1b[<0;1;1M");
    EXPECT_EQ(mouse.button(modes, GRID, 1, false, 2, 3, 0), "\x1b[<0;1;1m");
    EXPECT_EQ(mouse.button(modes, GRID, 65, true, 45, 50, 0), "\x1b[<64;5;3M");
    EXPECT_EQ(mouse.button(modes, GRID, 2, true, 45, 50, 2), "\x1b[<9;5;3M");
    modes.pixel_mouse_reporting = true;
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, 45, 50, 0), "\x1b[<0;46;51M");
}

TEST(MouseEncoding, EncodingModesAloneReportNothing) {
    VtInputModes modes;
    modes.extended_mouse_reporting = true;
    modes.pixel_mouse_reporting = true;
    VtMouseEncoder mouse;
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, 2, 3, 0), "");
    EXPECT_EQ(mouse.motion(modes, GRID, 1, 0, 50, 50), "");
}

TEST(MouseEncoding, EdgesMapToTheLastCellAndOutsideIsIgnored) {
    VtInputModes modes;
    modes.mouse_button_reporting = true;
    modes.extended_mouse_reporting = true;
    VtMouseEncoder mouse;
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, 300, 100, 0), "\x1b[<0;30;5M");
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, 301, 50, 0), "");
    EXPECT_EQ(mouse.button(modes, GRID, 1, true, -1, 50, 0), "");
}

TEST(MouseEncoding, LegacyPositionsPast223AreNotReported) {
    VtInputModes modes;
    modes.mouse_button_reporting = true;
    const VtMouseEncoder::Geometry wide{1, 1, 400, 400, 400, 400};
    VtMouseEncoder mouse;
    EXPECT_EQ(mouse.button(modes, wide, 1, true, 222, 0, 0), bytes({27, '[', 'M', 32, 255, 33}));
    EXPECT_EQ(mouse.button(modes, wide, 1, true, 223, 0, 0), "");
    modes.extended_mouse_reporting = true;
    EXPECT_EQ(mouse.button(modes, wide, 1, true, 300, 0, 0), "\x1b[<0;301;1M");
}

TEST(MouseEncoding, X10ReportsPressesOnlyWithoutModifiers) {
    VtInputModes modes;
    modes.x10_mouse_reporting = true;
    VtMouseEncoder mouse;
    EXPECT_EQ(mouse.button(modes, GRID, 2, true, 2, 3, 4), bytes({27, '[', 'M', 33, 33, 33}));
    EXPECT_EQ(mouse.button(modes, GRID, 2, false, 2, 3, 0), "");
    EXPECT_EQ(mouse.motion(modes, GRID, 2, 0, 100, 3), "");
}

TEST(MouseEncoding, MotionOnlyOnCellChangesAndDragsNeedTheirModes) {
    VtInputModes modes;
    modes.mouse_button_reporting = true;
    VtMouseEncoder mouse;
    mouse.button(modes, GRID, 1, true, 2, 3, 0);
    EXPECT_EQ(mouse.motion(modes, GRID, 1, 0, 15, 3), "") << "1000 reports no drags";
    modes.mouse_motion_on_button_reporting = true;
    EXPECT_EQ(mouse.motion(modes, GRID, 1, 0, 5, 3), "") << "same cell";
    EXPECT_EQ(mouse.motion(modes, GRID, 1, 0, 15, 3), bytes({27, '[', 'M', 64, 34, 33}));
    EXPECT_EQ(mouse.motion(modes, GRID, 0, 0, 25, 3), "") << "1002 reports no bare motion";
    modes.mouse_motion_reporting = true;
    EXPECT_EQ(mouse.motion(modes, GRID, 0, 0, 25, 3), bytes({27, '[', 'M', 67, 35, 33}));
    modes.extended_mouse_reporting = true;
    EXPECT_EQ(mouse.motion(modes, GRID, 0, 1, 35, 3), "\x1b[<39;4;1M");
    EXPECT_EQ(mouse.motion(modes, GRID, 3, 0, 45, 3), "\x1b[<34;5;1M");
}

TEST(UnicodeEntry, HexDigitsAndReturnSendTheCodePoint) {
    VtUnicodeEntry entry;
    entry.start();
    std::string sent;
    for (char32_t c : std::u32string(U"1F600")) {
        EXPECT_EQ(entry.key({c, true, 0}, sent), VtUnicodeEntry::UNICODE_ENTRY_CHANGED);
    }
    EXPECT_EQ(entry.digits(), "1F600");
    entry.key({13, true, 0}, sent);
    EXPECT_EQ(sent, "\xf0\x9f\x98\x80");
    EXPECT_FALSE(entry.active());
}

TEST(UnicodeEntry, RejectsWhatCannotBeACharacter) {
    VtUnicodeEntry entry;
    std::string sent;
    entry.start();
    EXPECT_EQ(entry.key({'g', true, 0}, sent), VtUnicodeEntry::UNICODE_ENTRY_REJECTED);
    ::testing::internal::CaptureStderr();
    entry.key({13, true, 0}, sent);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[\x1b[33mwarning\x1b[m] Failed to parse ''\n");
    EXPECT_EQ(sent, "");

    entry.start();
    for (char c : std::string("110000")) entry.key({static_cast<char32_t>(c), true, 0}, sent);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(entry.key({13, true, 0}, sent), VtUnicodeEntry::UNICODE_ENTRY_REJECTED);
    ::testing::internal::GetCapturedStderr();
    entry.start();
    for (char c : std::string("d800")) entry.key({static_cast<char32_t>(c), true, 0}, sent);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(entry.key({13, true, 0}, sent), VtUnicodeEntry::UNICODE_ENTRY_REJECTED);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sent, "");

    entry.start();
    for (int i = 0; i < 9; ++i) entry.key({'1', true, 0}, sent);
    EXPECT_EQ(entry.key({'1', true, 0}, sent), VtUnicodeEntry::UNICODE_ENTRY_REJECTED);
    EXPECT_EQ(entry.digits().size(), 9u);
}

TEST(UnicodeEntry, EscapeAndBackspaceLeave) {
    VtUnicodeEntry entry;
    std::string sent;
    entry.start();
    entry.key({'4', true, 0}, sent);
    entry.key({KEYSYM_KP_0 + 1, false, 0}, sent);
    EXPECT_EQ(entry.digits(), "41");
    entry.key({8, true, 0}, sent);
    entry.key({8, true, 0}, sent);
    EXPECT_FALSE(entry.active());
    entry.start();
    entry.key({'4', true, 0}, sent);
    entry.key({27, true, 0}, sent);
    EXPECT_FALSE(entry.active());
    EXPECT_EQ(entry.digits(), "");
    EXPECT_EQ(sent, "");
}

}  // namespace
}  // namespace zelto
