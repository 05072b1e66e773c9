// Control sequences. The screen-model operations are reachable here; the full CSI and SGR
// repertoire is built on top of this dispatcher.
#include <algorithm>

#include "terminal/debug_text.hpp"
#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

constexpr std::uint32_t MODE_SYNCHRONIZED_UPDATE = 2026;

}  // namespace

void Vt::csi_dispatch(const VtCsi& csi) {
    repaint_required_ = true;
    if (csi.malformed) return;
    const std::size_t top = screen_top();
    const std::uint8_t selector = csi.intermediate_count ? 0xFF : csi.leader;
    switch (csi.final | (selector << 8)) {
    case 'H':  // CUP
    case 'f':  // HVP
    {
        std::size_t row = csi.count_param(0, 1) - 1u;
        if (modes_.origin) row += scroll_region_top_;
        last_char_.recorded = false;
        place_cursor(row, csi.count_param(1, 1) - 1u);
        break;
    }
    case 'J':  // ED
        switch (csi.param(0, 0)) {
        case 0: erase_below(); break;
        case 2: {
            const std::size_t saved = row_;
            row_ = top;
            const std::uint16_t col = col_;
            col_ = 0;
            erase_below();
            row_ = saved;
            col_ = col;
            break;
        }
        default: break;
        }
        break;
    case 'K':  // EL
        switch (csi.param(0, 0)) {
        case 0: erase_to_end_of_line(); break;
        case 1: erase_to_start_of_line(); break;
        default: break;
        }
        break;
    case 'L': {  // IL
        const std::uint32_t n = std::min<std::uint32_t>(csi.count_param(0, 1), rows_);
        for (std::uint32_t i = 0; i < n; ++i) insert_line_at_cursor();
        break;
    }
    case 'M': {  // DL
        const std::uint32_t n = std::min<std::uint32_t>(csi.count_param(0, 1), rows_);
        for (std::uint32_t i = 0; i < n; ++i) delete_line_at_cursor();
        break;
    }
    case 'S': {  // SU
        const std::uint32_t n = std::min<std::uint32_t>(csi.count_param(0, 1), rows_);
        for (std::uint32_t i = 0; i < n; ++i) scroll_region_up();
        break;
    }
    case 'T': {  // SD
        const std::uint32_t n = std::min<std::uint32_t>(csi.count_param(0, 1), rows_);
        for (std::uint32_t i = 0; i < n; ++i) scroll_region_down();
        break;
    }
    case 'r':  // DECSTBM
        set_scroll_region(csi.count_param(0, 1) - 1u, csi.count_param(1, rows_) - 1u);
        place_cursor(modes_.origin ? scroll_region_top_ : 0, 0);
        break;
    case 'm': select_graphic_rendition(csi); break;  // SGR
    case 'h' | ('?' << 8):  // DECSET
    case 'l' | ('?' << 8):  // DECRST
        set_mode(csi, csi.final == 'h');
        break;
    default: {
        static constexpr const char* FORMAT = "Unknown control sequence: '%s'\n";
        if (warnings_.allow(FORMAT)) {
            warn(FORMAT, visualise(std::string("\x1b[").append(csi.raw_text())).c_str());
        }
        break;
    }
    }
}

// The basic colours and reset; the full attribute set is built on this.
void Vt::select_graphic_rendition(const VtCsi& csi) {
    const std::size_t count = std::max<std::size_t>(csi.count, 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = csi.param(i, 0);
        if (p == 0) {
            reset_attributes();
        } else if (p == 7) {
            current_attributes_.flags |= VT_CELL_INVERTED;
        } else if (p == 27) {
            current_attributes_.flags &= static_cast<std::uint8_t>(~VT_CELL_INVERTED);
        } else if (p >= 30 && p <= 37) {
            current_attributes_.set_fg_index(static_cast<std::uint16_t>(p - 30));
        } else if (p == 39) {
            current_attributes_.set_fg_index(VT_DEFAULT_FG_INDEX);
        } else if (p >= 40 && p <= 47) {
            current_attributes_.set_bg_index(static_cast<std::int16_t>(p - 40));
        } else if (p == 49) {
            current_attributes_.set_bg_index(VT_DEFAULT_BG_INDEX);
        }
    }
}

void Vt::set_mode(const VtCsi& csi, bool on) {
    for (std::size_t i = 0; i < csi.count; ++i) {
        if (!csi.present[i]) continue;
        switch (csi.values[i]) {
        case 6:
            modes_.origin = on;
            place_cursor(on ? scroll_region_top_ : 0, 0);
            break;
        case 1: input_modes_.application_cursor_keys = on; break;
        case 7: modes_.no_auto_wrap = !on; break;
        case 9: input_modes_.x10_mouse_reporting = on; break;
        case 1000: input_modes_.mouse_button_reporting = on; break;
        case 1002: input_modes_.mouse_motion_on_button_reporting = on; break;
        case 1003: input_modes_.mouse_motion_reporting = on; break;
        case 1004: input_modes_.focus_event_reporting = on; break;
        case 1006: input_modes_.extended_mouse_reporting = on; break;
        case 1016: input_modes_.pixel_mouse_reporting = on; break;
        case 1039: input_modes_.no_alt_escape = !on; break;
        case 2004: input_modes_.bracketed_paste = on; break;
        case 25: cursor_hidden_ = !on; break;
        case 45: modes_.reverse_auto_wrap = on; break;
        case 47:
        case 1047:
            if (on) {
                enter_alternate_screen(false);
            } else {
                leave_alternate_screen(false);
            }
            break;
        case 1049:
            if (on) {
                enter_alternate_screen(true);
            } else {
                leave_alternate_screen(true);
            }
            break;
        case MODE_SYNCHRONIZED_UPDATE:
            if (on) {
                begin_synchronized_update();
            } else {
                end_synchronized_update();
            }
            break;
        default: break;
        }
    }
}

}  // namespace zelto
