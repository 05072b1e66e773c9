// Terminal modes: one table of the DEC private modes and one of the ANSI modes, read alike by
// the setters (DECSET/DECRST, SM/RM) and by the report (DECRQM).
#include "terminal/vt_modes.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "config/settings.hpp"
#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

using Flag = bool& (*)(Vt&);
using Apply = void (*)(Vt&, bool);
using State = bool (*)(const Vt&);

constexpr VtMode mode_flag(std::uint32_t number, Flag flag, bool inverted = false, Apply after = nullptr) {
    return {number, VT_MODE_FLAG, nullptr, flag, inverted, after, nullptr};
}
constexpr VtMode mode_action(std::uint32_t number, Apply apply, State state = nullptr) {
    return {number, VT_MODE_ACTION, nullptr, nullptr, false, apply, state};
}
constexpr VtMode mode_not_implemented(std::uint32_t number, const char* name) {
    return {number, VT_MODE_NOT_IMPLEMENTED, name, nullptr, false, nullptr, nullptr};
}
constexpr VtMode mode_ignored(std::uint32_t number) {
    return {number, VT_MODE_IGNORED, nullptr, nullptr, false, nullptr, nullptr};
}

const VtMode* find_mode(std::span<const VtMode> table, std::uint32_t number) {
    const auto found = std::find_if(table.begin(), table.end(),
                                    [number](const VtMode& m) { return m.number == number; });
    return found == table.end() ? nullptr : &*found;
}

// The text of parameter `i` as it arrived, for warnings. A parameter cut off from the kept text
// is shown by its value.
std::string parameter_text(const VtCsi& csi, std::size_t i) {
    std::string_view raw = csi.raw_text();
    if (csi.leader != 0 && !raw.empty()) raw.remove_prefix(1);
    const std::size_t end = raw.find_first_not_of("0123456789:;");
    const bool complete = end != std::string_view::npos;
    raw = raw.substr(0, end);
    std::size_t index = 0, start = 0;
    for (std::size_t pos = 0; pos < raw.size(); ++pos) {
        if (raw[pos] != ';' && raw[pos] != ':') continue;
        if (index == i) return std::string(raw.substr(start, pos - start));
        ++index;
        start = pos + 1;
    }
    if (index == i && complete) return std::string(raw.substr(start));
    return i < csi.count && csi.present[i] ? std::to_string(csi.values[i]) : std::string();
}

// DECCOLM asks for these grids: 132 columns when set, 80 when reset.
constexpr GridSize WIDE_GRID{132, 26};
constexpr GridSize NARROW_GRID{80, 24};

}  // namespace

// The mode tables and the actions, friends of the Vt.
struct VtModeTable {
    static const VtMode DEC_PRIVATE[];
    static const VtMode ANSI[];

    // Origin mode homes the cursor: to the region's top when on, to the screen's when off.
    static void home_for_origin(Vt& vt, bool on) {
        vt.last_char_.recorded = false;
        vt.place_cursor(on ? vt.scroll_region_top_ : 0, 0);
    }
    static void blink_changed(Vt& vt, bool) { vt.cursor_blink_changed_ = true; }
    // A slowed-down trace shows the cursor where it is, whatever the program asks.
    static void show_cursor(Vt& vt, bool on) {
        if (settings().debug_vt == 0) vt.cursor_hidden_ = !on;
    }
    static bool cursor_shown(const Vt& vt) { return !vt.cursor_hidden_; }
    static void release_side_margins(Vt& vt, bool on) {
        if (on) return;
        vt.left_margin_ = 0;
        vt.right_margin_ = static_cast<std::uint16_t>(vt.cols_ - 1u);
    }
    static void printer_status(Vt& vt, bool) { vt.queue_reply("\x1b[?13n"); }
    static bool alternate_shown(const Vt& vt) { return vt.alternate_screen_active(); }
    static bool updating(const Vt& vt) { return vt.in_synchronized_update(); }
    static void synchronized_update(Vt& vt, bool on) {
        if (on) {
            vt.begin_synchronized_update();
        } else {
            vt.end_synchronized_update();
        }
    }

    // Any way out of the alternate screen empties the 1049 slot; only 1049 itself restores the
    // cursor from it, so a reset without a set leaves the cursor where it is.
    static void leave_alternate_screen(Vt& vt, bool restore_cursor) {
        if (!vt.alternate_screen_active()) return;
        const bool saved = std::exchange(vt.alt_screen_cursor_saved_, false);
        vt.last_char_.recorded = false;
        vt.leave_alternate_screen(restore_cursor && saved);
    }
    // 47 and 1047: the cursor keeps its column and its row on the screen.
    static void alternate_screen(Vt& vt, bool on) {
        if (on) {
            vt.enter_alternate_screen(false);
        } else {
            leave_alternate_screen(vt, false);
        }
    }
    static void alternate_screen_with_cursor(Vt& vt, bool on) {
        if (!on) {
            leave_alternate_screen(vt, true);
            return;
        }
        if (vt.alternate_screen_active()) return;
        vt.alt_screen_cursor_saved_ = true;
        vt.enter_alternate_screen(true);
    }

    // DECCOLM only acts where the user allowed it (mode 40): `tput init` and `reset` send it,
    // and must not lose the scrollback. The screen is cleared, the history stays.
    static void switch_columns(Vt& vt, bool wide) {
        if (!vt.modes_.allow_column_switch) return;
        if (settings().windowops.manipulation) {
            const GridSize grid = wide ? WIDE_GRID : NARROW_GRID;
            const PixelSize size = vt.callbacks_.get_pixel_size_for_cells(grid.cols, grid.rows);
            if (size.width != 0 && size.height != 0) vt.callbacks_.resize_text_area(size.width, size.height);
        }
        vt.end_synchronized_update();
        vt.scroll_region_top_ = 0;
        vt.scroll_region_bottom_ = static_cast<std::uint16_t>(vt.rows_ - 1u);
        vt.left_margin_ = 0;
        vt.right_margin_ = static_cast<std::uint16_t>(vt.cols_ - 1u);
        vt.last_char_.recorded = false;
        vt.place_cursor(0, 0);
        vt.erase_below();
    }
};

// Sorted by number.
const VtMode VtModeTable::DEC_PRIVATE[] = {
    mode_flag(1, [](Vt& vt) -> bool& { return vt.input_modes_.application_cursor_keys; }),
    mode_action(3, switch_columns),
    mode_not_implemented(4, "DECSCLM"),
    mode_not_implemented(5, "DECSCNM"),
    mode_flag(6, [](Vt& vt) -> bool& { return vt.modes_.origin; }, false, home_for_origin),
    mode_flag(7, [](Vt& vt) -> bool& { return vt.modes_.no_auto_wrap; }, true),
    mode_flag(8, [](Vt& vt) -> bool& { return vt.input_modes_.auto_repeat; }),
    mode_flag(9, [](Vt& vt) -> bool& { return vt.input_modes_.x10_mouse_reporting; }),
    mode_ignored(10),
    mode_flag(12, [](Vt& vt) -> bool& { return vt.cursor_blinking_; }, false, blink_changed),
    mode_flag(13, [](Vt& vt) -> bool& { return vt.cursor_blinking_; }, false, blink_changed),
    mode_not_implemented(14, "DEC Private Mode 14"),
    mode_action(15, printer_status),
    mode_ignored(19),
    mode_action(25, show_cursor, cursor_shown),
    mode_flag(40, [](Vt& vt) -> bool& { return vt.modes_.allow_column_switch; }),
    mode_flag(45, [](Vt& vt) -> bool& { return vt.modes_.reverse_auto_wrap; }),
    mode_action(47, alternate_screen, alternate_shown),
    mode_not_implemented(61, "DECPCCM/DECVCCM"),
    mode_not_implemented(64, "DECPCCM/DECVCCM"),
    mode_not_implemented(66, "DECNKM"),
    mode_not_implemented(67, "DECBKM"),
    mode_not_implemented(68, "DECKBUM"),
    mode_flag(69, [](Vt& vt) -> bool& { return vt.modes_.left_right_margins; }, false, release_side_margins),
    // DECSDM: set means sixel images do not scroll.
    mode_flag(80, [](Vt& vt) -> bool& { return vt.modes_.sixel_scrolling; }, true),
    mode_flag(1000, [](Vt& vt) -> bool& { return vt.input_modes_.mouse_button_reporting; }),
    mode_not_implemented(1001, "VT200 highlight mode"),
    mode_flag(1002, [](Vt& vt) -> bool& { return vt.input_modes_.mouse_motion_on_button_reporting; }),
    mode_flag(1003, [](Vt& vt) -> bool& { return vt.input_modes_.mouse_motion_reporting; }),
    mode_flag(1004, [](Vt& vt) -> bool& { return vt.input_modes_.focus_event_reporting; }),
    mode_not_implemented(1005, "utf8 mouse mode"),
    mode_flag(1006, [](Vt& vt) -> bool& { return vt.input_modes_.extended_mouse_reporting; }),
    mode_not_implemented(1015, "urxvt mouse mode"),
    mode_flag(1016, [](Vt& vt) -> bool& { return vt.input_modes_.pixel_mouse_reporting; }),
    mode_not_implemented(1034, "xterm eightBitInput"),
    mode_not_implemented(1035, "xterm numLock"),
    mode_not_implemented(1036, "xterm metaSendsEscape"),
    mode_flag(1037, [](Vt& vt) -> bool& { return vt.input_modes_.send_del_on_delete; }),
    mode_flag(1039, [](Vt& vt) -> bool& { return vt.input_modes_.no_alt_escape; }, true),
    mode_flag(1042, [](Vt& vt) -> bool& { return vt.modes_.urgent_on_bell; }),
    mode_flag(1043, [](Vt& vt) -> bool& { return vt.modes_.raise_on_bell; }),
    mode_action(1047, alternate_screen, alternate_shown),
    mode_action(1049, alternate_screen_with_cursor, alternate_shown),
    mode_not_implemented(1051, "Sun function-key mode"),
    mode_not_implemented(1052, "HP function-key mode"),
    mode_not_implemented(1053, "SCO function-key mode"),
    mode_not_implemented(1060, "legacy keyboard emulation"),
    mode_not_implemented(1061, "VT220 keyboard emulation"),
    mode_flag(1070, [](Vt& vt) -> bool& { return vt.modes_.private_color_registers; }),
    mode_flag(2004, [](Vt& vt) -> bool& { return vt.input_modes_.bracketed_paste; }),
    mode_action(2026, synchronized_update, updating),
    mode_flag(8452, [](Vt& vt) -> bool& { return vt.modes_.sixel_cursor_right; }),
};

const VtMode VtModeTable::ANSI[] = {
    mode_not_implemented(2, "KAM"),
    mode_flag(4, [](Vt& vt) -> bool& { return vt.modes_.insert; }),
    mode_flag(12, [](Vt& vt) -> bool& { return vt.input_modes_.local_echo; }),
    // LF never implies CR.
    mode_not_implemented(20, "LNM"),
    mode_flag(80, [](Vt& vt) -> bool& { return vt.modes_.sixel_scrolling; }, true),
};

std::span<const VtMode> vt_dec_private_modes() { return VtModeTable::DEC_PRIVATE; }
std::span<const VtMode> vt_ansi_modes() { return VtModeTable::ANSI; }

namespace {

void apply_mode(Vt& vt, const VtMode& mode, bool on) {
    if (mode.flag) mode.flag(vt) = on != mode.inverted;
    if (mode.apply) mode.apply(vt, on);
}

// '1' set, '2' reset, '0' not recognised.
char mode_state(Vt& vt, const VtMode& mode) {
    if (mode.flag) return mode.flag(vt) != mode.inverted ? '1' : '2';
    if (mode.state) return mode.state(vt) ? '1' : '2';
    return '0';
}

}  // namespace

// The parameters are split at ';' and ':' alike; each one sets or resets one mode.
void Vt::set_modes(const VtCsi& csi, bool dec_private, bool on) {
    static constexpr const char* FORMAT = "Invalid %s argument: '%s'\n";
    const char* sequence = dec_private ? (on ? "DECSET" : "DECRST") : (on ? "SM" : "RM");
    // No parameter at all is one empty parameter.
    const std::size_t count = std::max<std::size_t>(csi.count, 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t number = csi.param(i, 0);
        if (number == 0) {
            if (warnings_.allow(FORMAT)) warn(FORMAT, sequence, parameter_text(csi, i).c_str());
        } else if (dec_private) {
            set_mode(number, on);
        } else {
            set_ansi_mode(number, on);
        }
    }
}

void Vt::set_mode(std::uint32_t number, bool on) {
    set_mode_from(vt_dec_private_modes(), number, on, "Unknown DECSET/DECRST code: %d\n");
}

void Vt::set_ansi_mode(std::uint32_t number, bool on) {
    set_mode_from(vt_ansi_modes(), number, on, "unknown SM mode: %d\n");
}

void Vt::set_mode_from(std::span<const VtMode> table, std::uint32_t number, bool on,
                       const char* unknown_format) {
    const VtMode* mode = find_mode(table, number);
    if (mode == nullptr) {
        if (warnings_.allow(unknown_format)) warn(unknown_format, static_cast<int>(number));
        return;
    }
    if (mode->kind == VT_MODE_NOT_IMPLEMENTED) {
        not_implemented(mode->name);
        return;
    }
    apply_mode(*this, *mode, on);
}

// DECRQM takes exactly one number; the ANSI form without one asks for mode 1.
void Vt::request_mode(const VtCsi& csi, bool dec_private) {
    if (csi.count > 1) return;
    if (csi.count == 1 && csi.present[0]) {
        report_mode(csi.values[0], dec_private);
    } else if (!dec_private) {
        report_mode(1, false);
    }
}

void Vt::report_mode(std::uint32_t number, bool dec_private) {
    const VtMode* mode = find_mode(dec_private ? vt_dec_private_modes() : vt_ansi_modes(), number);
    char state = '0';
    if (mode == nullptr) {
        static constexpr const char* FORMAT = "Unknown DECRQM mode: %d\n";
        if (warnings_.allow(FORMAT)) warn(FORMAT, static_cast<int>(number));
    } else if (mode->kind == VT_MODE_NOT_IMPLEMENTED) {
        not_implemented(mode->name);
    } else {
        state = mode_state(*this, *mode);
    }
    char reply[48];
    const int n = std::snprintf(reply, sizeof reply, dec_private ? "\x1b[?%d;%c$y" : "\x1b[%d;%c$y",
                                static_cast<int>(number), state);
    queue_reply({reply, static_cast<std::size_t>(std::max(n, 0))});
}

}  // namespace zelto
