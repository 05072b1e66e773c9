#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zelto {

// What a key press hands to `key_handler`.
struct KeyReport {
    std::uint32_t key = 0;         // code point when the key has text, else the key symbol
    std::uint32_t raw_keysym = 0;  // the keycode's symbol in group 0, level 0
    std::uint32_t modifiers = 0;   // MODIFIER_* bits
};

// The result of looking a key event up through the input context.
struct KeyLookup {
    std::string_view text;     // UTF-8, empty when the lookup gave no characters
    std::uint32_t keysym = 0;  // 0 when the lookup gave no symbol
    std::uint32_t raw_keysym = 0;
    unsigned int state = 0;  // the event's modifier state
};

// Shift and Control keep their bits; Mod1 becomes Alt.
std::uint32_t modifiers_from_x11_state(unsigned int state);

// Which key a press reports, if any: keys with text as their code point, the editing,
// navigation, keypad and function keys without text as their key symbol. Bare modifiers and
// other keys without text report nothing.
std::optional<KeyReport> translate_key_press(const KeyLookup& lookup);

// The key value for a key-binding name (an X key symbol name, matched exactly, else ignoring
// case): the code point of the symbol's character, else the full key symbol; 0 when the name is
// unknown.
std::uint32_t key_value_from_name(const char* name);

// The one code point of a short UTF-8 text, or none when it is not exactly one valid sequence.
std::optional<char32_t> decode_single_code_point(std::string_view text);

}  // namespace zelto
