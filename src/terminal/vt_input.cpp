#include "terminal/vt_input.hpp"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"
#include "util/format.hpp"
#include "util/utf8.hpp"

namespace zelto {

namespace {

constexpr std::uint32_t MOD_SHIFT = 1, MOD_ALT = 2, MOD_CTRL = 4;
constexpr char32_t BACKSPACE = 8, RETURN = 13, ESCAPE = 27, DEL = 127;

// Keypad keys become the keys they stand for; `cursor` tells that it is a cursor-moving key.
struct Translated {
    VtKey key;
    bool cursor = false;
};

Translated translate_keypad(VtKey key) {
    if (key.has_text) return {key};
    const std::uint32_t v = key.value;
    const auto text = [&](char32_t c) { return Translated{{c, true, key.modifiers}}; };
    const auto sym = [&](std::uint32_t s, bool cursor = false) {
        return Translated{{s, false, key.modifiers}, cursor};
    };
    switch (v) {
        case KEYSYM_KP_SPACE: return text(U' ');
        case KEYSYM_KP_TAB: return sym(KEYSYM_TAB);
        case KEYSYM_KP_ENTER: return text(RETURN);
        case KEYSYM_KP_PRIOR: return sym(KEYSYM_PRIOR);
        case KEYSYM_KP_NEXT: return sym(KEYSYM_NEXT);
        case KEYSYM_KP_BEGIN: return sym(KEYSYM_BEGIN);
        case KEYSYM_KP_INSERT: return sym(KEYSYM_INSERT);
        case KEYSYM_KP_DELETE: return sym(KEYSYM_DELETE);
        case KEYSYM_KP_MULTIPLY: return text(U'*');
        case KEYSYM_KP_ADD: return text(U'+');
        case KEYSYM_KP_SEPARATOR: return text(U'.');
        case KEYSYM_KP_SUBTRACT: return text(U'-');
        case KEYSYM_KP_DECIMAL: return text(U'.');
        case KEYSYM_KP_DIVIDE: return text(U'/');
        case KEYSYM_KP_EQUAL: return text(U'=');
        case KEYSYM_KP_HOME: return sym(KEYSYM_HOME, true);
        case KEYSYM_KP_LEFT: return sym(KEYSYM_LEFT, true);
        case KEYSYM_KP_UP: return sym(KEYSYM_UP, true);
        case KEYSYM_KP_RIGHT: return sym(KEYSYM_RIGHT, true);
        case KEYSYM_KP_DOWN: return sym(KEYSYM_DOWN, true);
        case KEYSYM_KP_END: return sym(KEYSYM_END, true);
        default: break;
    }
    if (v >= KEYSYM_KP_F1 && v <= KEYSYM_KP_F4) return sym(KEYSYM_F1 + (v - KEYSYM_KP_F1));
    if (v >= KEYSYM_KP_0 && v <= KEYSYM_KP_9) return text(U'0' + (v - KEYSYM_KP_0));
    return {key};
}

// Home, End and the arrows, and the Delete key that arrives as text 127.
std::optional<char> cursor_key_final(VtKey key) {
    if (key.has_text) return key.value == DEL ? std::optional<char>('~') : std::nullopt;
    switch (key.value) {
        case KEYSYM_HOME: return 'H';
        case KEYSYM_END: return 'F';
        case KEYSYM_UP: return 'A';
        case KEYSYM_DOWN: return 'B';
        case KEYSYM_RIGHT: return 'C';
        case KEYSYM_LEFT: return 'D';
        default: return std::nullopt;
    }
}

std::string cursor_key(const VtInputModes& modes, char final, std::uint32_t modifiers) {
    const unsigned p = modifiers + 1;
    if (final == '~') return modifiers ? format_string("\x1b[3;%u~", p) : "\x1b[3~";
    if (modifiers) return format_string("\x1b[1;%u%c", p, final);
    return std::string(modes.application_cursor_keys ? "\x1bO" : "\x1b[") + final;
}

// Function and editing keys: the number of their "CSI n ~" form, or 0 for F1-F4.
std::optional<unsigned> special_key_number(std::uint32_t sym) {
    if (sym >= KEYSYM_F1 && sym <= KEYSYM_F4) return 0;
    if (sym == KEYSYM_F5) return 15;
    if (sym > KEYSYM_F5 && sym <= KEYSYM_F10) return sym - 65458;
    if (sym >= KEYSYM_F11 && sym <= KEYSYM_F35) return sym - 65457;
    switch (sym) {
        case KEYSYM_INSERT: return 2;
        case KEYSYM_DELETE: return 3;
        case KEYSYM_PRIOR: return 5;
        case KEYSYM_NEXT: return 6;
        default: return std::nullopt;
    }
}

std::string special_key(std::uint32_t sym, unsigned number, std::uint32_t modifiers) {
    const unsigned p = modifiers + 1;
    if (number == 0) {
        const char final = static_cast<char>('P' + (sym - KEYSYM_F1));
        return modifiers ? format_string("\x1b[1;%u%c", p, final) : std::string("\x1bO") + final;
    }
    return modifiers ? format_string("\x1b[%u;%u~", number, p) : format_string("\x1b[%u~", number);
}

std::string character_key(const VtInputModes& modes, VtKey key) {
    std::string out;
    std::uint32_t code = key.value;
    if ((key.modifiers & MOD_ALT) && !modes.no_alt_escape) out += '\x1b';
    if (key.modifiers & MOD_CTRL) {
        if (code == U' ') {
            code = 0;
        } else if ((code >= U'a' && code <= U'z') || (code >= U'A' && code <= U'Z')) {
            code = (code & 0x1F);
        }
    }
    if (code == BACKSPACE && !(key.modifiers & (MOD_SHIFT | MOD_CTRL))) code = DEL;
    append_utf8(out, code);
    return out;
}

bool is_delete_key(VtKey key) {
    return key.has_text ? key.value == DEL : key.value == KEYSYM_DELETE;
}

// The keys that have no sequence of their own and are sent as their character.
bool sent_as_character(VtKey key) {
    key = translate_keypad(key).key;
    return key.has_text && !is_delete_key(key);
}

}  // namespace

std::string encode_key(const VtInputModes& modes, VtKey key) {
    const Translated translated = translate_keypad(key);
    key = translated.key;
    if (modes.send_del_on_delete && key.modifiers == 0 && is_delete_key(key)) return "\x7f";
    if (const auto final = cursor_key_final(key)) return cursor_key(modes, *final, key.modifiers);
    if (!key.has_text) {
        if (const auto number = special_key_number(key.value)) {
            return special_key(key.value, *number, key.modifiers);
        }
        if (key.value == KEYSYM_TAB) return key.modifiers & MOD_SHIFT ? "\x1b[Z" : "\t";
        // A keysym without text that has no encoding of its own is never sent as a character.
        return {};
    }
    return character_key(modes, key);
}

std::string encode_paste(const VtInputModes& modes, std::string_view text) {
    if (text.empty()) return {};
    std::string out;
    out.reserve(text.size() + 12);
    if (modes.bracketed_paste) out += "\x1b[200~";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            if (i == 0 || text[i - 1] != '\r') out += '\r';
        } else if (c != '\x1b' || !modes.bracketed_paste) {
            out += c;
        }
    }
    if (modes.bracketed_paste) out += "\x1b[201~";
    return out;
}

std::string encode_focus(const VtInputModes& modes, bool focused) {
    if (!modes.focus_event_reporting) return {};
    return focused ? "\x1b[I" : "\x1b[O";
}

// Positions at the right or bottom edge belong to the last column or row.
std::optional<VtMouseEncoder::Cell> VtMouseEncoder::cell_at(const Geometry& g, std::int32_t x,
                                                           std::int32_t y) {
    if (x < 0 || y < 0 || static_cast<std::uint32_t>(x) > g.width ||
        static_cast<std::uint32_t>(y) > g.height || g.cols == 0 || g.rows == 0) {
        return std::nullopt;
    }
    auto col = static_cast<std::uint32_t>(x / g.cell_width);
    auto row = static_cast<std::uint32_t>(y / g.cell_height);
    return Cell{std::min(col, g.cols - 1), std::min(row, g.rows - 1)};
}

namespace {

std::string sgr_report(unsigned code, std::int64_t x, std::int64_t y, bool press) {
    return format_string("\x1b[<%u;%lld;%lld%c", code, static_cast<long long>(x),
                         static_cast<long long>(y), press ? 'M' : 'm');
}

// The legacy form carries every value in one byte: positions past 223 cannot be reported.
std::string legacy_report(unsigned code, std::uint32_t col, std::uint32_t row) {
    if (col > 222 || row > 222 || code > 223) return {};
    return std::string("\x1b[M") + static_cast<char>(32 + code) + static_cast<char>(33 + col) +
           static_cast<char>(33 + row);
}

}  // namespace

std::string VtMouseEncoder::button(const VtInputModes& modes, const Geometry& geometry,
                                   std::uint32_t button, bool pressed, std::int32_t x,
                                   std::int32_t y, std::uint32_t modifiers) {
    if (!modes.mouse_reporting()) return {};
    const std::optional<Cell> cell = cell_at(geometry, x, y);
    if (!cell) return {};
    const bool x10_only = modes.x10_mouse_reporting && !modes.mouse_button_reporting &&
                          !modes.mouse_motion_on_button_reporting && !modes.mouse_motion_reporting;
    // X10 reports presses only, without modifiers.
    if (x10_only && !pressed) return {};
    const unsigned modifier_bits = x10_only ? 0 : (modifiers & 7) * 4;
    const unsigned code = (button - 1) + modifier_bits;
    std::string report;
    if (modes.pixel_mouse_reporting) {
        report = sgr_report(code, x + 1, y + 1, pressed);
    } else if (modes.extended_mouse_reporting) {
        report = sgr_report(code, cell->col + 1, cell->row + 1, pressed);
    } else {
        report = legacy_report(pressed ? code : 3 + modifier_bits, cell->col, cell->row);
    }
    last_reported_ = cell;
    return report;
}

std::string VtMouseEncoder::motion(const VtInputModes& modes, const Geometry& geometry,
                                   std::uint32_t button_held, std::uint32_t modifiers,
                                   std::int32_t x, std::int32_t y) {
    const std::optional<Cell> cell = cell_at(geometry, x, y);
    if (!cell || cell == last_reported_) return {};
    const bool drags = modes.mouse_motion_on_button_reporting || modes.mouse_motion_reporting;
    if (button_held ? !drags : !modes.mouse_motion_reporting) return {};
    const unsigned modifier_bits = (modifiers & 7) * 4;
    const unsigned code = (button_held ? 31 + button_held : 35) + modifier_bits;
    std::string report;
    if (modes.pixel_mouse_reporting) {
        report = sgr_report(code, x + 1, y + 1, true);
    } else if (modes.extended_mouse_reporting) {
        report = sgr_report(code, cell->col + 1, cell->row + 1, true);
    } else {
        report = legacy_report(code, cell->col, cell->row);
    }
    last_reported_ = cell;
    return report;
}

VtUnicodeEntry::Outcome VtUnicodeEntry::key(VtKey key, std::string& send) {
    key = translate_keypad(key).key;
    const std::uint32_t v = key.has_text ? key.value : 0;
    if (v == RETURN) {
        active_ = false;
        const std::string digits = std::exchange(digits_, {});
        const unsigned long code = std::strtoul(digits.c_str(), nullptr, 16);
        const bool encodable = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (code == 0 || !encodable) {
            warn("Failed to parse '%s'\n", digits.c_str());
            return code == 0 ? UNICODE_ENTRY_CHANGED : UNICODE_ENTRY_REJECTED;
        }
        append_utf8(send, static_cast<std::uint32_t>(code));
        return UNICODE_ENTRY_CHANGED;
    }
    if (v == ESCAPE) {
        active_ = false;
        digits_.clear();
        return UNICODE_ENTRY_CHANGED;
    }
    if (v == BACKSPACE) {
        if (!digits_.empty()) digits_.pop_back();
        if (digits_.empty()) active_ = false;
        return UNICODE_ENTRY_CHANGED;
    }
    const bool hex = (v >= U'0' && v <= U'9') || (v >= U'a' && v <= U'f') || (v >= U'A' && v <= U'F');
    if (!hex || digits_.size() >= MAX_DIGITS) return UNICODE_ENTRY_REJECTED;
    digits_ += static_cast<char>(v);
    return UNICODE_ENTRY_CHANGED;
}

void Vt::key_input(VtKey key) {
    if (unicode_entry_.active()) {
        std::string typed;
        if (unicode_entry_.key(key, typed) == VtUnicodeEntry::UNICODE_ENTRY_REJECTED) {
            callbacks_.on_visual_bell();
        }
        queue_output(typed);
        echo_typed(typed);
        request_repaint();
        return;
    }
    const std::string bytes = encode_key(input_modes_, key);
    queue_output(bytes);
    if (sent_as_character(key)) echo_typed(bytes);
}

// Local echo: typed characters reach the screen as if the child had printed them.
void Vt::echo_typed(std::string_view bytes) {
    if (input_modes_.local_echo && !bytes.empty()) interpret(bytes);
}

void Vt::paste(std::string_view text) { queue_output(encode_paste(input_modes_, text)); }

void Vt::focus_changed(bool focused) { queue_output(encode_focus(input_modes_, focused)); }

void Vt::mouse_button(const VtMouseEncoder::Geometry& geometry, std::uint32_t button,
                      bool pressed, std::int32_t x, std::int32_t y, std::uint32_t modifiers) {
    if (scrolled_back_) return;
    queue_output(mouse_encoder_.button(input_modes_, geometry, button, pressed, x, y, modifiers));
}

void Vt::mouse_motion(const VtMouseEncoder::Geometry& geometry, std::uint32_t button_held,
                      std::uint32_t modifiers, std::int32_t x, std::int32_t y) {
    if (scrolled_back_) return;
    queue_output(mouse_encoder_.motion(input_modes_, geometry, button_held, modifiers, x, y));
}

}  // namespace zelto
