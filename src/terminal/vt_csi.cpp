// Control sequences (ESC [ ...): dispatch on the final byte with its leader and intermediate,
// cursor motion, erasing, insertion and deletion, scrolling, tab stops, reports, window
// operations and the keyboard and pointer settings programs may change.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "config/settings.hpp"
#include "terminal/debug_text.hpp"
#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

constexpr std::size_t TITLE_STACK_LIMIT = 10;
// Window sizes from the child at or above this are refused before they reach the window.
constexpr std::int64_t WINDOW_SIZE_LIMIT = 65536;

constexpr std::uint32_t csi_key(std::uint8_t leader, std::uint8_t intermediate, std::uint8_t final) {
    return static_cast<std::uint32_t>(final) | (static_cast<std::uint32_t>(intermediate) << 8) |
           (static_cast<std::uint32_t>(leader) << 16);
}

// Sequences take at most one parameter unless said otherwise.
bool single_valued(const VtCsi& csi) { return csi.count <= 1; }

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when ill-formed.
std::size_t utf8_sequence_length(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char lower = 0x80, upper = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) lower = 0xA0;
        if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) lower = 0x90;
        if (lead == 0xF4) upper = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < lower || c > upper) return 0;
        lower = 0x80;
        upper = 0xBF;
    }
    return length;
}

// A title as it may be echoed to the child: C0, DEL and C1 (raw or UTF-8 encoded) and
// ill-formed bytes removed, so a report can never smuggle a control sequence back.
std::string reportable_title(std::string_view title) {
    std::string out;
    out.reserve(title.size());
    std::size_t i = 0;
    while (i < title.size()) {
        const std::string_view rest = title.substr(i);
        const std::size_t length = utf8_sequence_length(rest);
        if (length == 0) {
            ++i;
            continue;
        }
        const auto lead = static_cast<unsigned char>(rest[0]);
        const bool control =
            length == 1 ? lead < 0x20 || lead == 0x7F : lead == 0xC2 && static_cast<unsigned char>(rest[1]) <= 0x9F;
        if (!control) out.append(rest.substr(0, length));
        i += length;
    }
    return out;
}

std::string format_reply(const char* format, long a, long b, long c) {
    char buffer[96];
    const int n = std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return std::string(buffer, n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1) : 0);
}

}  // namespace

// The CSI handlers, friends of the Vt so the dispatcher stays one switch.
struct VtCsiHandlers {
    Vt& vt;
    const VtCsi& csi;

    std::size_t top() const { return vt.screen_top(); }
    std::size_t screen_row() const { return vt.row_ - vt.screen_top(); }
    // A count (default 1, 0 reads as 1) bounded by `limit`, so no loop runs longer than the
    // screen is wide or high.
    std::uint32_t count(std::uint32_t limit) const { return std::min(csi.count_param(0, 1), limit); }

    void warn_sequence(const char* format) {
        if (vt.warnings_.allow(format)) warn(format, visualise(csi.raw_text()).c_str());
    }
    void unknown() { warn_sequence("Unknown CSI sequence: %s\n"); }
    void unexpected_arguments() { warn_sequence("Unexpected additional arguments for CSI sequence '%s'\n"); }
    // The count form: more than one parameter is refused.
    bool count_form() {
        if (single_valued(csi)) return true;
        unexpected_arguments();
        return false;
    }
    void reply(std::string_view bytes) { vt.queue_reply(bytes); }

    void move_to(std::size_t row, std::uint32_t col) {
        vt.last_char_.recorded = false;
        vt.place_cursor(row, col);
    }

    // Cursor motion --------------------------------------------------------------------------

    // CUU and CPL stop at the region's top when they start inside the region, else at row 0.
    void cursor_up(bool to_column_0) {
        if (!count_form()) return;
        const std::size_t row = screen_row();
        const std::size_t stop =
            row >= vt.scroll_region_top_ && row <= vt.scroll_region_bottom_ ? vt.scroll_region_top_ : 0;
        const std::size_t n = count(vt.rows_);
        move_to(row >= stop + n ? row - n : std::min(row, stop), to_column_0 ? 0 : vt.col_);
    }
    void cursor_down(bool to_column_0) {
        if (!count_form()) return;
        const std::size_t row = screen_row();
        const std::size_t stop =
            row >= vt.scroll_region_top_ && row <= vt.scroll_region_bottom_ ? vt.scroll_region_bottom_ : vt.rows_ - 1u;
        const std::size_t n = count(vt.rows_);
        move_to(std::max(row, std::min(row + n, stop)), to_column_0 ? 0 : vt.col_);
    }
    void cursor_forward() {
        if (!count_form()) return;
        move_to(screen_row(), vt.col_ + count(vt.cols_));
    }
    void cursor_backward() {
        if (!count_form()) return;
        const std::uint32_t n = count(vt.cols_);
        move_to(screen_row(), n >= vt.col_ ? 0 : vt.col_ - n);
    }
    void cursor_column() {
        if (!count_form()) return;
        move_to(screen_row(), count(vt.cols_) - 1u);
    }
    // VPA and CUP rows count from the region's top in origin mode.
    std::size_t origin_row(std::uint32_t p) const {
        return (vt.modes_.origin ? vt.scroll_region_top_ : 0u) + std::min<std::uint32_t>(p, vt.rows_) - 1u;
    }
    void cursor_row() {
        if (!count_form()) return;
        move_to(origin_row(csi.count_param(0, 1)), vt.col_);
    }
    // CUP and HVP: a missing number, also a missing first one (CSI ;5H), is its default.
    void cursor_position() {
        move_to(origin_row(csi.count_param(0, 1)), std::min<std::uint32_t>(csi.count_param(1, 1), vt.cols_) - 1u);
    }

    void tab_forward() {
        if (!count_form()) return;
        std::size_t c = vt.col_;
        for (std::uint32_t n = count(vt.cols_); n > 0 && c < vt.cols_ - 1u; --n) {
            ++c;
            while (c < vt.cols_ - 1u && !vt.tab_stops_[c]) ++c;
        }
        move_to(screen_row(), static_cast<std::uint32_t>(c));
    }
    void tab_backward() {
        if (!count_form()) return;
        std::size_t c = vt.col_;
        for (std::uint32_t n = count(vt.cols_); n > 0 && c > 0; --n) {
            --c;
            while (c > 0 && !vt.tab_stops_[c]) --c;
        }
        move_to(screen_row(), static_cast<std::uint32_t>(c));
    }
    // TBC: none or 0 clears the stop at the cursor, 3 every stop.
    void tab_clear() {
        if (!count_form()) return;
        switch (csi.param(0, 0)) {
        case 0: vt.tab_stops_[vt.col_] = false; break;
        case 3: std::fill(vt.tab_stops_.begin(), vt.tab_stops_.end(), false); break;
        default: break;
        }
    }

    // Erasing --------------------------------------------------------------------------------

    // The cells the current background leaves behind (background-colour erase).
    const VtCell& fill() const { return vt.current_attributes_; }

    void empty_line(VtLine& line) {
        line.cells.clear();
        if (!vt.background_is_default()) line.cells.assign(vt.cols_, fill());
        vt.destroy_proxy(line.proxy);
        vt.mark_full(line);
    }
    void erase_above() {
        vt.ensure_cursor_line();
        for (std::size_t i = top(); i < vt.row_; ++i) empty_line(vt.lines_[i]);
        vt.erase_to_start_of_line();
    }
    void erase_screen() {
        erase_above();
        vt.erase_below();
    }
    // ED 2 and 3 on the main screen keep what was shown: it scrolls into the scrollback.
    void clear_screen() {
        const bool whole_region = vt.scroll_region_top_ == 0 && vt.scroll_region_bottom_ == vt.rows_ - 1u;
        if (!vt.alternate_screen_active() && whole_region) {
            std::size_t used = 0;
            for (std::size_t i = top(); i < vt.lines_.size(); ++i) {
                const auto& cells = vt.lines_[i].cells;
                if (std::any_of(cells.begin(), cells.end(), [](const VtCell& c) { return !is_blank_cell(c); })) {
                    used = i - top() + 1;
                }
            }
            for (std::size_t i = 0; i < used; ++i) vt.add_line_with_background(vt.lines_);
            vt.row_ += used;
            if (used != 0 && vt.scrolled_back_) vt.scrollback_grew_while_viewing_ = true;
        }
        erase_screen();
    }
    void erase_display() {
        if (!count_form()) return;
        vt.last_char_.recorded = false;
        switch (csi.param(0, 0)) {
        case 0: vt.erase_below(); break;
        case 1: erase_above(); break;
        case 2:
        case 3: clear_screen(); break;
        default: break;
        }
    }
    void erase_line() {
        if (!count_form()) return;
        vt.last_char_.recorded = false;
        switch (csi.param(0, 0)) {
        case 0: vt.erase_to_end_of_line(); break;
        case 1: vt.erase_to_start_of_line(); break;
        case 2:
            vt.erase_to_start_of_line();
            vt.erase_to_end_of_line();
            break;
        default: warn_sequence("Unknown CSI(EL) sequence: %s\n"); break;
        }
    }
    // ECH: erases in place up to the last column, never past it.
    void erase_characters() {
        if (!count_form()) return;
        vt.ensure_cursor_line();
        VtLine& line = vt.lines_[vt.row_];
        const std::size_t n = count(static_cast<std::uint32_t>(vt.cols_ - vt.col_));
        vt.ensure_cell(line, vt.col_ + n - 1);
        std::fill_n(line.cells.begin() + vt.col_, n, fill());
        vt.last_char_.recorded = false;
        vt.mark_full(line);
    }

    // Insertion and deletion -----------------------------------------------------------------

    // The column the shifting of ICH and DCH stops at: the right margin when the cursor is
    // left of it, else the last column.
    std::size_t shift_limit() const { return vt.col_ <= vt.right_margin_ ? vt.right_margin_ : vt.cols_ - 1u; }
    // ICH: cells from the cursor move right, those pushed past the limit are lost. At the last
    // column it inserts in place: it never wraps or scrolls.
    void insert_characters() {
        if (!count_form()) return;
        vt.ensure_cursor_line();
        VtLine& line = vt.lines_[vt.row_];
        const std::size_t limit = shift_limit();
        const std::size_t n = count(static_cast<std::uint32_t>(limit + 1 - vt.col_));
        if (line.cells.size() > vt.col_ || !vt.background_is_default()) {
            vt.ensure_cell(line, limit);
            const auto at = line.cells.begin() + vt.col_;
            const auto end = line.cells.begin() + static_cast<std::ptrdiff_t>(limit + 1);
            std::move_backward(at, end - static_cast<std::ptrdiff_t>(n), end);
            std::fill_n(at, n, fill());
            if (line.cells.size() > vt.cols_) line.cells.resize(vt.cols_);
        }
        vt.wrap_pending_ = false;
        vt.last_char_.recorded = false;
        vt.mark_full(line);
    }
    // DCH: cells right of the cursor move left; the vacated cells at the limit take the
    // current background.
    void delete_characters() {
        if (!count_form()) return;
        vt.ensure_cursor_line();
        VtLine& line = vt.lines_[vt.row_];
        if (line.cells.size() > vt.cols_) line.cells.resize(vt.cols_);
        const std::size_t limit = shift_limit();
        const std::size_t n = count(static_cast<std::uint32_t>(limit + 1 - vt.col_));
        if (line.cells.size() > vt.col_ || !vt.background_is_default()) {
            vt.ensure_cell(line, limit);
            const auto at = line.cells.begin() + vt.col_;
            const auto end = line.cells.begin() + static_cast<std::ptrdiff_t>(limit + 1);
            std::move(at + static_cast<std::ptrdiff_t>(n), end, at);
            std::fill(end - static_cast<std::ptrdiff_t>(n), end, fill());
        }
        vt.wrap_pending_ = false;
        vt.last_char_.recorded = false;
        vt.mark_full(line);
    }
    bool cursor_in_region() const {
        const std::size_t row = screen_row();
        return row >= vt.scroll_region_top_ && row <= vt.scroll_region_bottom_;
    }
    // IL and DL work inside the scroll region only and leave the cursor in column 0.
    void insert_lines() {
        if (!count_form() || !cursor_in_region()) return;
        for (std::uint32_t n = count(vt.rows_); n > 0; --n) vt.insert_line_at_cursor();
        move_to(screen_row(), 0);
    }
    void delete_lines() {
        if (!count_form() || !cursor_in_region()) return;
        for (std::uint32_t n = count(vt.rows_); n > 0; --n) vt.delete_line_at_cursor();
        move_to(screen_row(), 0);
    }
    void scroll_up() {
        if (!count_form()) return;
        for (std::uint32_t n = count(vt.rows_); n > 0; --n) vt.scroll_region_up();
    }
    void scroll_down() {
        if (!count_form()) return;
        for (std::uint32_t n = count(vt.rows_); n > 0; --n) vt.scroll_region_down();
    }
    // REP: the last printed character again, with its own attributes and the printing rules.
    void repeat() {
        if (!count_form() || !vt.last_char_.recorded) return;
        const VtCell saved = vt.current_attributes_;
        const VtCell cell = vt.last_char_.cell;
        vt.current_attributes_ = cell;
        vt.current_attributes_.code = 0;
        vt.current_attributes_.combine[0] = vt.current_attributes_.combine[1] = 0;
        // A link index belongs to the line it was found on.
        vt.current_attributes_.link = saved.link;
        for (std::uint32_t n = count(static_cast<std::uint32_t>(vt.cols_) * vt.rows_); n > 0; --n) {
            vt.print_code_point(cell.code);
            for (const char32_t mark : cell.combine) {
                if (mark != 0) vt.print_code_point(mark);
            }
        }
        vt.current_attributes_ = saved;
    }

    // Margins --------------------------------------------------------------------------------

    // DECSTBM: a missing or out-of-range bottom is the last row. The cursor homes inside the new
    // region, so origin mode never leaves it outside.
    void set_top_bottom_margins() {
        const std::uint32_t top_row = csi.count_param(0, 1) - 1u;
        const std::uint32_t bottom = csi.count_param(1, vt.rows_);
        const std::uint32_t bottom_row = std::min<std::uint32_t>(bottom, vt.rows_) - 1u;
        if (csi.count > 2 || top_row >= bottom_row) {
            warn_sequence("Invalid DECSTBM sequence %s\n");
            return;
        }
        vt.set_scroll_region(top_row, bottom_row);
        move_to(vt.modes_.origin ? vt.scroll_region_top_ : 0, 0);
    }

    // CSI s is SCOSC, or DECSLRM while left/right margin mode is on. Only the right margin
    // affects anything (ICH and DCH).
    void save_cursor_or_set_margins() {
        if (!vt.modes_.left_right_margins) {
            vt.save_cursor();
            return;
        }
        const std::uint32_t left = std::min<std::uint32_t>(csi.count_param(0, 1), 0xFFFF);
        const std::uint32_t right = std::min<std::uint32_t>(csi.count_param(1, vt.cols_), vt.cols_);
        if (left + 1 < right) {
            vt.left_margin_ = static_cast<std::uint16_t>(left - 1);
            vt.right_margin_ = static_cast<std::uint16_t>(right - 1);
        } else {
            static constexpr const char* FORMAT = "invalid DECSLRM values\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT);
        }
        move_to(0, 0);
    }

    // Cursor style ---------------------------------------------------------------------------

    void set_cursor_style() {
        if (!count_form()) return;
        const std::uint32_t style = csi.param(0, 0);
        if (style > 6) {
            static constexpr const char* FORMAT = "Unknown DECSCUR code: %d\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT, static_cast<int>(style));
        } else {
            static constexpr CursorShape SHAPES[] = {CURSOR_SHAPE_BLOCK,     CURSOR_SHAPE_BLOCK,     CURSOR_SHAPE_BLOCK,
                                                     CURSOR_SHAPE_UNDERLINE, CURSOR_SHAPE_UNDERLINE, CURSOR_SHAPE_BEAM,
                                                     CURSOR_SHAPE_BEAM};
            vt.cursor_shape_ = SHAPES[style];
            vt.cursor_blinking_ = style <= 1 || style % 2 == 1;
        }
        vt.cursor_blink_changed_ = true;
    }

    // Reports --------------------------------------------------------------------------------

    void device_status() {
        if (!count_form()) return;
        const std::uint32_t code = csi.param(0, 0);
        if (code == 5) {
            reply("\x1b[0n");
        } else if (code == 6) {
            reply(format_reply("\x1b[%ld;%ldR", static_cast<long>(screen_row() + 1), vt.col_ + 1L, 0));
        } else {
            static constexpr const char* FORMAT = "Unimplemented DSR code: %d\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT, static_cast<int>(code));
        }
    }
    void dec_device_status() {
        const std::uint32_t code = csi.param(0, 0);
        switch (code) {
        case 6: reply(format_reply("\x1b[?%ld;%ldR", static_cast<long>(screen_row() + 1), vt.col_ + 1L, 0)); break;
        case 15: reply("\x1b[?11n"); break;
        case 26: reply("\x1b[?27;1;0;0n"); break;
        case 53: reply("\x1b[?50n"); break;
        case 56: reply("\x1b[?57;0n"); break;
        case 85: reply("\x1b[?83n"); break;
        default: {
            static constexpr const char* FORMAT = "Unimplemented DSR sequence: %d\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT, static_cast<int>(code));
            break;
        }
        }
    }
    bool parameter_absent_or_0() const { return single_valued(csi) && csi.param(0, 0) == 0; }
    void tertiary_attributes() {
        if (!single_valued(csi)) {
            unexpected_arguments();
        } else if (csi.param(0, 0) == 0) {
            reply("\x1b[?6c");
        }
    }
    // XTSMGRAPHICS: colour registers and sixel geometry.
    void graphics_attributes() {
        const long item = csi.param(0, 0), action = csi.param(1, 0);
        long status = 0, value = 0;
        switch (item) {
        case 1:
            if (action >= 1 && action <= 4) {
                value = 256;
            } else {
                status = 2;
            }
            break;
        case 2:
            if (action == 1 || action == 2 || action == 4) {
                const PixelSize size = vt.callbacks_.get_text_area_size();
                if (size.height != 0) {
                    reply(format_reply("\x1b[?2;0;%ld;%ldS", static_cast<long>(size.width),
                                       static_cast<long>(size.height), 0));
                    return;
                }
                value = static_cast<long>(size.width);
            } else if (action != 3) {
                status = 2;
            }
            break;
        case 3: status = 3; break;
        default: status = 1; break;
        }
        reply(format_reply("\x1b[?%ld;%ld;%ldS", item, status, value));
    }

    // Keyboard and pointer settings -----------------------------------------------------------

    void warn_modify_keys() { warn_sequence("Invalid XTMODKEYS command '%s'\n"); }
    static int modify_keys_slot(std::uint32_t resource) {
        switch (resource) {
        case 0: return 0;
        case 1: return 1;
        case 2: return 2;
        case 4: return 3;
        default: return -1;
        }
    }
    void set_modify_keys() {
        static constexpr std::uint8_t DEFAULTS[4] = {0, 2, 2, 0};
        if (csi.count == 0 || !csi.present[0]) {
            std::copy(std::begin(DEFAULTS), std::end(DEFAULTS), vt.modify_keys_.begin());
            return;
        }
        const int slot = modify_keys_slot(csi.values[0]);
        if (slot < 0) {
            warn_modify_keys();
            return;
        }
        const auto index = static_cast<std::size_t>(slot);
        vt.modify_keys_[index] = csi.count >= 2 && csi.present[1]
                                     ? static_cast<std::uint8_t>(std::min<std::uint32_t>(csi.values[1], 255))
                                     : DEFAULTS[index];
    }
    void disable_modify_keys() {
        if (csi.count == 0 || !csi.present[0]) {
            vt.modify_keys_[2] = 255;
            return;
        }
        const int slot = modify_keys_slot(csi.values[0]);
        if (slot < 0) {
            warn_modify_keys();
        } else {
            vt.modify_keys_[static_cast<std::size_t>(slot)] = 255;
        }
    }
    void set_pointer_mode() {
        const HidePointer user = settings().hide_pointer;
        if (user == HIDE_POINTER_FORCE_TRUE || user == HIDE_POINTER_FORCE_FALSE) {
            static constexpr const char* FORMAT = "XTSMPOINTER ignored because of user setting\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT);
            return;
        }
        const std::uint32_t value = csi.param(0, 1);
        switch (value) {
        case 0: vt.pointer_mode_ = HIDE_POINTER_FALSE; break;
        case 1: vt.pointer_mode_ = HIDE_POINTER_IF_NOT_REPORTING; break;
        case 2:
        case 3: vt.pointer_mode_ = HIDE_POINTER_TRUE; break;
        default: {
            static constexpr const char* FORMAT = "unknown XTSMPOINTER parameter '%d'\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT, static_cast<int>(value));
            break;
        }
        }
    }

    // Cursor save and restore ----------------------------------------------------------------

    void restore_cursor() {
        if (csi.count != 0) {
            static constexpr const char* FORMAT = "DECSMBV not implemented\n";
            if (vt.warnings_.allow(FORMAT)) warn(FORMAT);
            return;
        }
        vt.restore_cursor();
    }

    // DECSTR: a soft reset keeps modes, attributes and the cursor style.
    void soft_reset() {
        vt.leave_alternate_screen(false);
        vt.alt_screen_cursor_saved_ = false;
        vt.scroll_region_top_ = 0;
        vt.scroll_region_bottom_ = static_cast<std::uint16_t>(vt.rows_ - 1u);
        vt.left_margin_ = 0;
        vt.right_margin_ = static_cast<std::uint16_t>(vt.cols_ - 1u);
        move_to(vt.modes_.origin ? vt.scroll_region_top_ : 0, 0);
        vt.tab_width_ = 8;
        vt.charsets_ = {};
        vt.gl_ = -1;
        vt.gr_ = -1;
        vt.single_shift_ = -1;
        vt.title_stack_.clear();
        vt.repaint_required_ = true;
    }

    // Window operations ----------------------------------------------------------------------

    // XTWINOPS numbers: up to four, an empty or missing one is -1.
    std::int64_t winop(std::size_t i) const {
        return i < csi.count && csi.present[i] ? static_cast<std::int64_t>(csi.values[i]) : -1;
    }
    void warn_winop(const char* format) { warn_sequence(format); }

    void window_operation() {
        if (csi.count == 0) return;
        const Settings::Windowops allowed = settings().windowops;
        const std::int64_t ps = winop(0);
        switch (ps) {
        case 4:
            if (allowed.manipulation) resize_window_pixels();
            break;
        case 7:
            if (allowed.manipulation) vt.changed_ = vt.repaint_required_ = true;
            break;
        case 8:
            if (allowed.manipulation) resize_text_area_cells();
            break;
        case 9:
            if (allowed.manipulation) maximize();
            break;
        case 10:
            if (allowed.manipulation) fullscreen();
            break;
        case 22: push_title(); break;
        case 23: pop_title(); break;
        default:
            if (ps >= 24) {
                if (allowed.manipulation) resize_to_lines(ps);
            } else if (allowed.information) {
                window_report(ps);
            }
            break;
        }
    }
    void window_report(std::int64_t ps) {
        switch (ps) {
        case 11: reply(vt.callbacks_.is_minimized() ? "\x1b[2t" : "\x1b[1t"); break;
        case 13: {
            const Position p = vt.callbacks_.get_window_position();
            reply(format_reply("\x1b[3;%ld;%ldt", p.x, p.y, 0));
            break;
        }
        case 14: report_pixels(4, vt.callbacks_.get_text_area_size()); break;
        case 15: report_pixels(5, vt.callbacks_.get_window_size()); break;
        case 16:
            reply(format_reply("\x1b[6;%ld;%ldt", std::lround(vt.cell_height_), std::lround(vt.cell_width_), 0));
            break;
        case 18: reply(format_reply("\x1b[8;%ld;%ldt", vt.rows_, vt.cols_, 0)); break;
        case 19: reply(format_reply("\x1b[9;%ld;%ldt", vt.rows_, vt.cols_, 0)); break;
        case 20: reply("\x1b]L" + reportable_title(vt.title_) + "\x1b\\"); break;
        case 21: reply("\x1b]l" + reportable_title(vt.title_) + "\x1b\\"); break;
        default: break;  // 1-3, 5, 6 (iconify, move, raise, lower), 0, 12 and 17 do nothing
        }
    }
    void report_pixels(int code, PixelSize size) {
        reply(format_reply("\x1b[%ld;%ld;%ldt", code, static_cast<long>(size.height), static_cast<long>(size.width)));
    }
    void resize_window_pixels() {
        if (csi.count < 2) {
            warn_winop("Invalid XTWINOPS sequence: %s\n");
            return;
        }
        const PixelSize current = vt.callbacks_.get_window_size();
        const std::int64_t height = winop(1) < 0 ? current.height : winop(1);
        const std::int64_t width = winop(2) < 0 ? current.width : winop(2);
        if (height == 0 || width == 0) {
            vt.not_implemented("XTWINOPS display size reports");
        } else if (height < WINDOW_SIZE_LIMIT && width < WINDOW_SIZE_LIMIT) {
            vt.callbacks_.resize_window(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
        }
    }
    void resize_text_area_cells() {
        if (csi.count < 2) {
            warn_winop("Invalid XTWINOPS sequence: %s\n");
            return;
        }
        const std::int64_t rows = winop(1), cols = winop(2);
        if (rows == 0 || cols == 0) {
            vt.not_implemented("XTWINOPS display size reports");
            return;
        }
        if (rows >= WINDOW_SIZE_LIMIT || cols >= WINDOW_SIZE_LIMIT) return;
        const PixelSize wanted =
            vt.callbacks_.get_pixel_size_for_cells(static_cast<std::uint32_t>(std::max<std::int64_t>(cols, 1)),
                                                   static_cast<std::uint32_t>(std::max<std::int64_t>(rows, 1)));
        const PixelSize current = vt.callbacks_.get_text_area_size();
        vt.callbacks_.resize_text_area(cols < 0 ? current.width : wanted.width,
                                       rows < 0 ? current.height : wanted.height);
    }
    void resize_to_lines(std::int64_t lines) {
        if (lines >= WINDOW_SIZE_LIMIT) return;
        const PixelSize wanted = vt.callbacks_.get_pixel_size_for_cells(vt.cols_, static_cast<std::uint32_t>(lines));
        vt.callbacks_.resize_text_area(wanted.width, wanted.height);
    }
    void maximize() {
        const std::int64_t how = winop(1);
        if (how == 0) {
            vt.callbacks_.set_maximized(false);
        } else if (how >= 1 && how <= 3) {
            vt.callbacks_.set_maximized(true);
        } else {
            warn_winop("Invalid XTWINOPS: %s\n");
        }
    }
    void fullscreen() {
        switch (winop(1)) {
        case 0: vt.callbacks_.set_fullscreen(false); break;
        case 1: vt.callbacks_.set_fullscreen(true); break;
        case 2: vt.callbacks_.set_fullscreen(!vt.callbacks_.is_fullscreen()); break;
        default: warn_winop("Invalid XTWINOPS: %s\n"); break;
        }
    }
    void push_title() {
        if (vt.title_stack_.size() >= TITLE_STACK_LIMIT) vt.title_stack_.erase(vt.title_stack_.begin());
        vt.title_stack_.push_back(vt.title_);
    }
    void pop_title() {
        if (vt.title_stack_.empty()) {
            vt.title_.clear();
            return;
        }
        vt.title_ = std::move(vt.title_stack_.back());
        vt.title_stack_.pop_back();
        vt.callbacks_.set_title(vt.title_.c_str());
    }

    // Dispatch -------------------------------------------------------------------------------

    void dispatch() {
        const std::uint8_t intermediate = csi.intermediate();
        switch (csi_key(csi.leader, intermediate, csi.final)) {
        case csi_key(0, 0, '@'): insert_characters(); break;               // ICH
        case csi_key(0, 0, 'A'): cursor_up(false); break;                  // CUU
        case csi_key(0, 0, 'B'):                                           // CUD
        case csi_key(0, 0, 'e'): cursor_down(false); break;                // VPR
        case csi_key(0, 0, 'C'):                                           // CUF
        case csi_key(0, 0, 'a'): cursor_forward(); break;                  // HPR
        case csi_key(0, 0, 'D'): cursor_backward(); break;                 // CUB
        case csi_key(0, 0, 'E'): cursor_down(true); break;                 // CNL
        case csi_key(0, 0, 'F'): cursor_up(true); break;                   // CPL
        case csi_key(0, 0, 'G'):                                           // CHA
        case csi_key(0, 0, '`'): cursor_column(); break;                   // HPA
        case csi_key(0, 0, 'H'):                                           // CUP
        case csi_key(0, 0, 'f'): cursor_position(); break;                 // HVP
        case csi_key(0, 0, 'I'): tab_forward(); break;                     // CHT
        case csi_key(0, 0, 'J'): erase_display(); break;                   // ED
        case csi_key(0, 0, 'K'): erase_line(); break;                      // EL
        case csi_key(0, 0, 'L'): insert_lines(); break;                    // IL
        case csi_key(0, 0, 'M'): delete_lines(); break;                    // DL
        case csi_key(0, 0, 'P'): delete_characters(); break;               // DCH
        case csi_key(0, 0, 'S'): scroll_up(); break;                       // SU
        case csi_key(0, 0, 'T'): scroll_down(); break;                     // SD
        case csi_key(0, 0, 'X'): erase_characters(); break;                // ECH
        case csi_key(0, 0, 'Z'): tab_backward(); break;                    // CBT
        case csi_key(0, 0, 'b'): repeat(); break;                          // REP
        case csi_key(0, 0, 'c'): reply("\x1b[?63;1;4c"); break;            // DA1
        case csi_key(0, 0, 'd'): cursor_row(); break;                      // VPA
        case csi_key(0, 0, 'g'): tab_clear(); break;                       // TBC
        case csi_key(0, 0, 'h'): vt.set_modes(csi, false, true); break;    // SM
        case csi_key(0, 0, 'l'): vt.set_modes(csi, false, false); break;   // RM
        case csi_key(0, 0, 'i'):                                           // MC
        case csi_key(0, 0, 'q'): break;                                    // DECLL
        case csi_key(0, 0, 'm'): vt.select_graphic_rendition(csi); break;  // SGR
        case csi_key(0, 0, 'n'): device_status(); break;                   // DSR
        case csi_key(0, 0, 'r'): set_top_bottom_margins(); break;          // DECSTBM
        case csi_key(0, 0, 's'): save_cursor_or_set_margins(); break;      // SCOSC
        case csi_key(0, 0, 't'): window_operation(); break;                // XTWINOPS
        case csi_key(0, 0, 'u'): restore_cursor(); break;                  // SCORC
        case csi_key('?', 0, 'h'): vt.set_modes(csi, true, true); break;   // DECSET
        case csi_key('?', 0, 'l'): vt.set_modes(csi, true, false); break;  // DECRST
        case csi_key('?', 0, 'i'): break;                                  // MC (DEC)
        case csi_key('?', 0, 'n'): dec_device_status(); break;             // DSR (DEC)
        case csi_key('?', 0, 'S'): graphics_attributes(); break;           // XTSMGRAPHICS
        case csi_key('>', 0, 'c'):                                         // DA2
            if (parameter_absent_or_0()) reply("\x1b[>0;0;0c");
            break;
        case csi_key('>', 0, 'm'): set_modify_keys(); break;      // XTMODKEYS
        case csi_key('>', 0, 'n'): disable_modify_keys(); break;  // XTMODKEYS (disable)
        case csi_key('>', 0, 'p'): set_pointer_mode(); break;     // XTSMPOINTER
        case csi_key('>', 0, 'q'):                                // XTVERSION
            if (parameter_absent_or_0()) reply("\x1bP>|Zelto(0.0.0)\x1b\\");
            break;
        case csi_key('=', 0, 'c'): tertiary_attributes(); break;  // DA3
        case csi_key(0, '!', 'p'): soft_reset(); break;           // DECSTR
        case csi_key(0, ' ', 'q'): set_cursor_style(); break;     // DECSCUSR
        case csi_key(0, ' ', '@'): vt.not_implemented("SL"); break;
        case csi_key(0, ' ', 'A'): vt.not_implemented("SR"); break;
        case csi_key(0, '"', 'p'): vt.not_implemented("DECSCL"); break;
        case csi_key(0, '"', 'q'): vt.not_implemented("DECSCA"); break;
        case csi_key(0, '#', '{'): not_implemented_single("XTPUSHSGR"); break;
        case csi_key(0, '#', '}'):
        case csi_key(0, '#', 'q'): not_implemented_single("XTPOPSGR"); break;
        case csi_key(0, '#', '|'): not_implemented_single("XTREPORTSGR"); break;
        case csi_key(0, '#', 'P'): not_implemented_single("XTPUSHCOLORS"); break;
        case csi_key(0, '#', 'Q'): not_implemented_single("XTPOPCOLORS"); break;
        case csi_key(0, '#', 'R'): not_implemented_single("XTREPORTCOLORS"); break;
        case csi_key(0, '$', 'p'): vt.request_mode(csi, false); break;    // DECRQM
        case csi_key('?', '$', 'p'): vt.request_mode(csi, true); break;   // DECRQM (DEC)
        case csi_key(0, '$', 'u'):                             // DECRQTSR
        case csi_key(0, '\'', '|'): reply("\x1b[0&w"); break;  // DECRQLP
        case csi_key(0, '$', 'r'): vt.not_implemented("DECCARA"); break;
        case csi_key(0, '$', 't'): vt.not_implemented("DECRARA"); break;
        case csi_key(0, '$', 'w'): vt.not_implemented("DECRQPSR"); break;
        case csi_key(0, '$', 'x'): vt.not_implemented("DECFRA"); break;
        case csi_key(0, '$', 'z'): vt.not_implemented("DECERA"); break;
        case csi_key(0, '$', '{'): vt.not_implemented("DECSERA"); break;
        case csi_key(0, '$', '|'): vt.not_implemented("DECSCPP"); break;
        case csi_key(0, '\'', 'w'): vt.not_implemented("DECEFR"); break;
        case csi_key(0, '\'', 'z'): vt.not_implemented("DECELR"); break;
        case csi_key(0, '\'', '{'): vt.not_implemented("DECSLE"); break;
        case csi_key(0, '\'', '}'): vt.not_implemented("DECIC"); break;
        case csi_key(0, '\'', '~'): vt.not_implemented("DECDC"); break;
        case csi_key(0, '*', 'x'): not_implemented_single("DECSACE"); break;
        case csi_key(0, '*', 'y'): vt.not_implemented("DECRQCRA"); break;
        case csi_key(0, '*', '|'): vt.not_implemented("DECSNLS"); break;
        default:
            // Other space-intermediate sequences are ignored silently, as xterm does.
            if (csi.leader == 0 && intermediate == ' ') break;
            unknown();
            break;
        }
    }
    void not_implemented_single(const char* name) {
        if (count_form()) vt.not_implemented(name);
    }
};

void Vt::csi_dispatch(const VtCsi& csi) {
    repaint_required_ = true;
    VtCsiHandlers handlers{*this, csi};
    // SGR and CUP, by far the most frequent sequences, go straight to their handlers.
    if (csi.leader == 0 && csi.intermediate_count == 0 && !csi.malformed) {
        if (csi.final == 'm') {
            select_graphic_rendition(csi);
            return;
        }
        if (csi.final == 'H') {
            handlers.cursor_position();
            return;
        }
    }
    if (csi.malformed || csi.intermediate_count > 1) {
        handlers.unknown();
        return;
    }
    handlers.dispatch();
}

}  // namespace zelto
