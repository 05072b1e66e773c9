// C0 controls, ESC sequences, character sets and the full reset.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "config/settings.hpp"
#include "terminal/debug_text.hpp"
#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

// DEC Special Graphics for `a` to `~`.
constexpr char32_t DEC_GRAPHICS[] = {
    0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B, 0x2518,
    0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C,
    0x2524, 0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};

char32_t translate_with(VtCharset charset, std::uint8_t byte) {
    switch (charset) {
    case VT_CHARSET_UK: return byte == '#' ? U'\u00A3' : byte;
    case VT_CHARSET_DEC_SPECIAL_GRAPHICS:
        if (byte == '`') return U'\u25C6';
        return byte >= 'a' && byte <= '~' ? DEC_GRAPHICS[byte - 'a'] : byte;
    case VT_CHARSET_ASCII: break;
    }
    return byte;
}

}  // namespace

// Character sets --------------------------------------------------------------------------------

char32_t Vt::translate(std::uint8_t byte) {
    if (single_shift_ >= 0) {
        const VtCharset shifted = charsets_[static_cast<std::size_t>(single_shift_)];
        if (shifted != VT_CHARSET_ASCII) {
            single_shift_ = -1;
            return translate_with(shifted, byte);
        }
    }
    return gl_ >= 0 ? translate_with(charsets_[static_cast<std::size_t>(gl_)], byte) : byte;
}

// C0 controls -----------------------------------------------------------------------------------

void Vt::execute(std::uint8_t control) {
    end_text(control != 0x07 && control != 0x0E && control != 0x0F);
    switch (control) {
    case 0x07: bell(); break;
    case 0x08: backspace(); break;
    case 0x09: horizontal_tab(); break;
    case 0x0A:
    case 0x0B:
    case 0x0C: line_feed(); break;
    case 0x0D: carriage_return(); break;
    case 0x0E: gl_ = 1; break;  // SO
    case 0x0F: gl_ = 0; break;  // SI
    default: break;  // NUL and the controls the terminal does not execute leave no trace
    }
}

void Vt::bell() {
    const Settings& s = settings();
    if (s.visual_bell) callbacks_.on_visual_bell();
    if (modes_.raise_on_bell) callbacks_.raise_window();
    if (modes_.urgent_on_bell) callbacks_.request_attention();
}

void Vt::backspace() {
    const std::size_t top = screen_top();
    if (col_ > 0) {
        place_cursor(row_ - top, col_ - 1u);
    } else if (modes_.reverse_auto_wrap && row_ > top) {
        place_cursor(row_ - top - 1, cols_ - 1u);
    } else {
        wrap_pending_ = false;
    }
}

void Vt::horizontal_tab() {
    std::size_t c = col_ + 1u;
    while (c < cols_ && !tab_stops_[c]) ++c;
    place_cursor(row_ - screen_top(), static_cast<std::uint32_t>(std::min<std::size_t>(c, cols_ - 1u)));
}

void Vt::carriage_return() {
    last_char_.recorded = false;
    place_cursor(row_ - screen_top(), 0);
}

void Vt::place_cursor(std::size_t row, std::uint32_t col) {
    if (modes_.origin) {
        row = std::clamp<std::size_t>(row, scroll_region_top_, scroll_region_bottom_);
    } else {
        row = std::min<std::size_t>(row, rows_ - 1u);
    }
    row_ = screen_top() + row;
    if (row_ >= lines_.size()) ensure_cursor_line();
    col_ = static_cast<std::uint16_t>(std::min<std::uint32_t>(col, cols_ - 1u));
    wrap_pending_ = false;
    repaint_required_ = true;
}

// ESC sequences ---------------------------------------------------------------------------------

void Vt::unknown_escape(std::uint8_t final) {
    static constexpr const char* FORMAT = "Unknown escape sequence: '%s\x1b[m' (%d)\n";
    if (!warnings_.allow(FORMAT)) return;
    const char c = static_cast<char>(final);
    warn(FORMAT, visualise({&c, 1}).c_str(), static_cast<int>(static_cast<signed char>(final)));
}

void Vt::not_implemented(const char* what) {
    static constexpr const char* FORMAT = "%s not implemented\n";
    if (warnings_.allow(FORMAT)) warn(FORMAT, what);
}

void Vt::esc_dispatch(std::uint8_t intermediate, std::uint8_t final) {
    switch (intermediate) {
    case '(': designate(0, final); return;
    case ')': designate(1, final); return;
    case '*': designate(2, final); return;
    case '+': designate(3, final); return;
    case ' ':
    case '%': not_implemented("character set select/ANSI conformance/switch 7 or 8 bit controls"); return;
    case '#':
        if (final == '8') {
            dec_alignment_test();
        } else if (warnings_.allow("Unknown DEC escape\n")) {
            warn("Unknown DEC escape\n");
        }
        return;
    default: break;
    }
    switch (final) {
    case '6':
    case '9': not_implemented("DECBI/DECFI"); break;
    case '7': save_cursor(); break;                            // DECSC
    case '8': restore_cursor(); break;                         // DECRC
    case '=': modes_.application_keypad = true; break;         // DECKPAM
    case '>': modes_.application_keypad = false; break;        // DECKPNM
    case 'D': line_feed(); break;                              // IND
    case 'E':                                                  // NEL
        col_ = 0;
        line_feed();
        break;
    case 'H': tab_stops_[col_] = true; break;                  // HTS
    case 'M': reverse_index(); break;                          // RI
    case 'N': single_shift_ = 2; break;                        // SS2
    case 'O': single_shift_ = 3; break;                        // SS3
    case 'V':
    case 'W': not_implemented("SGA/EGA"); break;
    case 'X': not_implemented("SOS"); break;
    case '`':
    case 'b': not_implemented("EMI/DMI"); break;
    case 'c': full_reset(); break;                             // RIS
    case 'd': not_implemented("CMD"); break;
    case 'g': bell(); break;
    case 'n': gl_ = 2; break;                                  // LS2
    case 'o': gl_ = 3; break;                                  // LS3
    case '|': gr_ = 3; break;                                  // LS3R
    case '}': gr_ = 2; break;                                  // LS2R
    case '~': gr_ = 1; break;                                  // LS1R
    default: unknown_escape(final); break;
    }
}

void Vt::designate(int slot, std::uint8_t code) {
    if (gl_ < 0) gl_ = 0;
    if (gr_ < 0) gr_ = 1;
    VtCharset& charset = charsets_[static_cast<std::size_t>(slot)];
    switch (code) {
    case 'A': charset = VT_CHARSET_UK; break;
    case 'B': charset = VT_CHARSET_ASCII; break;
    case '0': charset = VT_CHARSET_DEC_SPECIAL_GRAPHICS; break;
    default: {
        static constexpr const char* FORMAT = "Unknown character set code %c\n";
        if (!warnings_.allow(FORMAT)) break;
        if (code >= 0x20 && code < 0x7F) {
            warn(FORMAT, static_cast<char>(code));
        } else {
            const char c = static_cast<char>(code);
            warn("Unknown character set code %s\n", visualise({&c, 1}).c_str());
        }
        break;
    }
    }
}

// DECSC also keeps the attributes, origin mode and character sets, as VT100 and xterm do:
// status-line programs save, recolour, draw line graphics and restore.
void Vt::save_cursor() {
    saved_cursor_.row = static_cast<std::uint16_t>(row_ - screen_top());
    saved_cursor_.col = col_;
    saved_cursor_.attributes = current_attributes_;
    saved_cursor_.origin = modes_.origin;
    saved_cursor_.charsets = charsets_;
    saved_cursor_.gl = gl_;
    saved_cursor_.gr = gr_;
}

void Vt::restore_cursor() {
    current_attributes_ = saved_cursor_.attributes;
    modes_.origin = saved_cursor_.origin;
    charsets_ = saved_cursor_.charsets;
    gl_ = saved_cursor_.gl;
    gr_ = saved_cursor_.gr;
    last_char_.recorded = false;
    // The saved row is screen-relative; origin mode clamps it into the region.
    place_cursor(saved_cursor_.row, saved_cursor_.col);
}

void Vt::dec_alignment_test() {
    scroll_region_top_ = 0;
    scroll_region_bottom_ = static_cast<std::uint16_t>(rows_ - 1);
    left_margin_ = 0;
    right_margin_ = static_cast<std::uint16_t>(cols_ - 1);
    place_cursor(0, 0);
    VtCell e = blank_cell_;
    e.code = U'E';
    for (std::size_t i = screen_top(); i < lines_.size(); ++i) {
        VtLine& line = lines_[i];
        reserve_cells(line, cols_);
        line.cells.resize(std::max<std::size_t>(line.cells.size(), cols_), blank_cell_);
        std::fill(line.cells.begin(), line.cells.end(), e);
        mark_full(line);
    }
}

// Alternate screen ------------------------------------------------------------------------------

void Vt::enter_alternate_screen(bool save_cursor_position) {
    if (alternate_screen_active()) return;
    // The frozen picture goes first, so its renderer caches are back in the lines that
    // damage_all releases.
    end_synchronized_update();
    damage_all();
    attach_view();
    selection_clear();
    if (save_cursor_position) {
        alt_saved_col_ = col_;
        alt_saved_row_ = static_cast<std::uint16_t>(row_ - screen_top());
    }
    alt_lines_ = std::move(lines_);
    lines_ = std::vector<VtLine>();
    lines_.reserve(rows_);
    for (std::uint16_t i = 0; i < rows_; ++i) lines_.emplace_back();
    row_ = 0;
    wrap_pending_ = false;
    changed_ = repaint_required_ = true;
    callbacks_.on_buffer_switched();
}

void Vt::leave_alternate_screen(bool restore_cursor_position) {
    if (!alternate_screen_active()) return;
    end_synchronized_update();
    selection_clear();
    // The cursor's row is screen-relative both ways, so it never lands in the scrollback.
    std::size_t row = row_ - screen_top();
    release_lines(lines_);
    lines_ = std::move(alt_lines_);
    alt_lines_ = std::vector<VtLine>();
    if (restore_cursor_position) {
        row = alt_saved_row_;
        col_ = std::min<std::uint16_t>(alt_saved_col_, static_cast<std::uint16_t>(cols_ - 1));
    }
    row_ = std::clamp(screen_top() + std::min<std::size_t>(row, rows_ - 1u), screen_top(), lines_.size() - 1);
    wrap_pending_ = false;
    scrolled_back_ = false;
    scroll_region_top_ = 0;
    scroll_region_bottom_ = static_cast<std::uint16_t>(rows_ - 1);
    damage_all();
    changed_ = repaint_required_ = true;
    callbacks_.on_buffer_switched();
}

// Full reset (RIS) ------------------------------------------------------------------------------

void Vt::full_reset() {
    modes_ = VtModes{};
    input_modes_ = VtInputModes{};
    alt_screen_cursor_saved_ = false;
    // Ended before the buffers change, so the frozen lines are compared with their own lines.
    end_synchronized_update();
    selection_clear();
    if (alternate_screen_active()) {
        release_lines(lines_);
        lines_ = std::move(alt_lines_);
        alt_lines_ = std::vector<VtLine>();
        scroll_region_top_ = 0;
        scroll_region_bottom_ = static_cast<std::uint16_t>(rows_ - 1);
        scrolled_back_ = false;
        view_top_ = 0;
        callbacks_.on_buffer_switched();
    }
    const bool was_scrolled_back = scrolled_back_;
    scrolled_back_ = false;
    view_top_ = 0;
    // A garbled terminal also loses its colours before the new lines are made.
    reset_attributes();
    reset_lines(lines_, true);
    changed_ = repaint_required_ = true;
    row_ = 0;
    col_ = 0;
    wrap_pending_ = false;
    last_char_.recorded = false;
    cursor_hidden_ = false;
    command_history_.clear();
    if (was_scrolled_back) scrollback_grew_while_viewing_ = true;
    scroll_region_top_ = 0;
    scroll_region_bottom_ = static_cast<std::uint16_t>(rows_ - 1);
    left_margin_ = 0;
    right_margin_ = static_cast<std::uint16_t>(cols_ - 1);
    parser_.reset();
    charsets_.fill(VT_CHARSET_ASCII);
    single_shift_ = -1;
    gl_ = -1;
    gr_ = -1;
    title_.clear();
    load_colors();
    reset_tab_stops();
    save_cursor();
}

}  // namespace zelto
