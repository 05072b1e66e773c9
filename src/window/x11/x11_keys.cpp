#include "window/x11/x11_keys.hpp"

// clang-format off
// The settings come before the X headers, whose macros (CursorShape) clash with their names.
#include "config/settings.hpp"
#include "util/utf8.hpp"

#include <X11/X.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>
// clang-format on

namespace zelto {

namespace {

// Keys that reach the encoder by their symbol even though they carry no text.
bool is_reported_without_text(std::uint32_t keysym) {
    return keysym == XK_Return || (keysym >= XK_Home && keysym <= XK_Begin) ||
           keysym == XK_Insert || keysym == XK_KP_Enter ||
           (keysym >= XK_KP_F1 && keysym <= XK_KP_F4) ||
           (keysym >= XK_KP_Home && keysym <= XK_KP_Delete) ||
           (keysym >= XK_F1 && keysym <= XK_F35) || keysym == XK_Delete;
}

// The keypad's navigation keys never carry text worth sending: the encoder needs their symbol.
bool is_keypad_navigation(std::uint32_t keysym) {
    return keysym >= XK_KP_Home && keysym <= XK_KP_Delete;
}

}  // namespace

std::uint32_t modifiers_from_x11_state(unsigned int state) {
    std::uint32_t mods = 0;
    if (state & ShiftMask) {
        mods |= MODIFIER_SHIFT;
    }
    if (state & Mod1Mask) {
        mods |= MODIFIER_ALT;
    }
    if (state & ControlMask) {
        mods |= MODIFIER_CTRL;
    }
    return mods;
}

std::optional<KeyReport> translate_key_press(const KeyLookup& lookup) {
    const std::uint32_t mods = modifiers_from_x11_state(lookup.state);
    // Shift+Tab arrives as ISO_Left_Tab; the encoder knows it as Tab with Shift.
    if (lookup.keysym == XK_ISO_Left_Tab) {
        return KeyReport{XK_Tab, lookup.raw_keysym, mods | MODIFIER_SHIFT};
    }
    if (is_keypad_navigation(lookup.keysym) || lookup.keysym == XK_Begin) {
        return KeyReport{lookup.keysym, lookup.raw_keysym, mods};
    }
    if (!lookup.text.empty()) {
        if (auto code_point = decode_single_code_point(lookup.text)) {
            return KeyReport{static_cast<std::uint32_t>(*code_point), lookup.raw_keysym, mods};
        }
    }
    if (lookup.keysym != 0 && is_reported_without_text(lookup.keysym)) {
        return KeyReport{lookup.keysym, lookup.raw_keysym, mods};
    }
    return std::nullopt;
}

std::uint32_t key_value_from_name(const char* name) {
    KeySym keysym = XStringToKeysym(name);
    if (keysym == NoSymbol) {
        // Names are exact first ("A" is not "a"); otherwise case does not matter, as on Wayland.
        keysym = xkb_keysym_from_name(name, XKB_KEYSYM_CASE_INSENSITIVE);
    }
    if (keysym == NoSymbol) {
        return 0;
    }
    const std::uint32_t code_point = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
    return code_point != 0 ? code_point : static_cast<std::uint32_t>(keysym);
}

std::optional<char32_t> decode_single_code_point(std::string_view text) {
    const std::optional<Utf8Sequence> sequence = decode_utf8_sequence(text);
    if (!sequence || sequence->length != text.size()) return std::nullopt;
    return sequence->code;
}

}  // namespace zelto
