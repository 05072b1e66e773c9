#pragma once

#include <sys/ioctl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/color.hpp"
#include "config/settings.hpp"
#include "terminal/vt_callbacks.hpp"
#include "terminal/vt_input.hpp"
#include "terminal/vt_cursor.hpp"
#include "terminal/vt_line.hpp"
#include "terminal/vt_links.hpp"
#include "terminal/vt_parser.hpp"
#include "terminal/vt_selection.hpp"
#include "terminal/warning_limiter.hpp"
#include "util/mono_time.hpp"

namespace zelto {

enum VtCharset : std::uint8_t {
    VT_CHARSET_ASCII,
    VT_CHARSET_UK,
    VT_CHARSET_DEC_SPECIAL_GRAPHICS,
};

struct VtMode;

// The mode flags the terminal core reads; the mode table sets them.
struct VtModes {
    bool application_keypad = false;
    bool origin = false;
    bool no_auto_wrap = false;
    bool reverse_auto_wrap = false;
    bool insert = false;
    // Mode 69: CSI s sets the left and right margins (DECSLRM) instead of saving the cursor.
    bool left_right_margins = false;
    bool raise_on_bell = false;
    bool urgent_on_bell = false;
    bool allow_column_switch = false;  // mode 40: DECCOLM may clear and resize
    bool private_color_registers = false;
    bool sixel_scrolling = true;  // cleared by DECSDM
    bool sixel_cursor_right = false;
};

struct VtSavedCursor {
    std::uint16_t col = 0;
    std::uint16_t row = 0;  // relative to the screen top
    VtCell attributes;
    bool origin = false;
    std::array<VtCharset, 4> charsets{};
    std::int8_t gl = -1;
    std::int8_t gr = -1;
};

struct VtLastChar {
    VtCell cell;
    std::size_t row = 0;
    std::uint16_t col = 0;
    bool recorded = false;
};

// A line of the synchronized-update picture and the live line it was taken from. `live_index`
// follows the live line as lines move; `in_use` clears when the live line goes away.
struct VtSnapshotEntry {
    VtLine copy;
    std::size_t live_index = 0;
    bool in_use = false;
};

// The terminal: screen model, interpreter and output queue.
class Vt {
public:
    Vt(std::uint32_t cols, std::uint32_t rows, VtCallbacks& callbacks);
    ~Vt();
    Vt(const Vt&) = delete;
    Vt& operator=(const Vt&) = delete;

    void set_pty_fd(int fd) { pty_fd_ = fd; }
    int pty_fd() const { return pty_fd_; }
    // A new grid: lines broken by auto-wrap flow to the new width, the pty learns the size.
    // Sizes below 2 x 2 are ignored.
    void resize(std::uint32_t cols, std::uint32_t rows);
    const winsize& pty_winsize() const { return winsize_; }
    double cell_width() const { return cell_width_; }
    double cell_height() const { return cell_height_; }

    // Everything the child printed goes through here, in chunks that may end anywhere.
    void interpret(std::string_view bytes);

    // Bytes queued for the child: at most `maximum` from the front.
    std::string_view pending_output(std::size_t maximum) const;
    void consume_output(std::size_t count);
    // Keys and pastes: always queued in full.
    void queue_output(std::string_view bytes);
    // Replies to queries: dropped (with one warning) while the child leaves too much unread.
    void queue_reply(std::string_view bytes);
    bool has_pending_output() const { return output_front_ < output_.size(); }
    static constexpr std::size_t REPLY_QUEUE_LIMIT = 1024 * 1024;

    // Synchronized update: while active the renderer draws the frozen picture.
    bool in_synchronized_update() const { return snapshot_cols_ != 0; }
    void begin_synchronized_update();
    void end_synchronized_update();
    // When an unended update times out; the main loop wakes up for it.
    std::optional<MonoTime> synchronized_update_deadline() const;
    // Ends an update whose deadline passed and notifies the owner; for a loop without output.
    void end_expired_synchronized_update(MonoTime now);
    static constexpr std::int64_t SYNCHRONIZED_UPDATE_TIMEOUT_NS = 100999999;

    // Size and buffers.
    std::uint32_t cols() const { return cols_; }
    std::uint32_t rows() const { return rows_; }
    const std::vector<VtLine>& lines() const { return lines_; }
    std::vector<VtLine>& lines() { return lines_; }
    const std::vector<VtLine>& parked_main_lines() const { return alt_lines_; }
    bool alternate_screen_active() const { return !alt_lines_.empty(); }
    std::size_t screen_top() const { return lines_.size() > rows_ ? lines_.size() - rows_ : 0; }
    // Line i (0 = top) of what the renderer shows: the frozen picture, the view or the screen.
    VtLine* visible_line(std::size_t i);
    std::size_t visible_top() const { return scrolled_back_ ? view_top_ : screen_top(); }

    // Cursor.
    std::size_t cursor_row() const { return row_; }
    std::uint16_t cursor_col() const { return col_; }
    CursorShape cursor_shape() const { return cursor_shape_; }
    bool cursor_blinking() const { return cursor_blinking_; }
    bool cursor_hidden() const { return cursor_hidden_; }
    bool wrap_pending() const { return wrap_pending_; }
    VtCursor cursor() const { return {row_, col_, cursor_shape_, cursor_blinking_, cursor_hidden_}; }

    // Input for the child, encoded as its modes ask and queued.
    const VtInputModes& input_modes() const { return input_modes_; }
    bool mouse_reporting() const { return input_modes_.mouse_reporting(); }
    void key_input(VtKey key);
    void paste(std::string_view text);
    void focus_changed(bool focused);
    // Positions are pixels relative to the text area; nothing is reported while scrolled back.
    void mouse_button(const VtMouseEncoder::Geometry& geometry, std::uint32_t button, bool pressed,
                      std::int32_t x, std::int32_t y, std::uint32_t modifiers);
    void mouse_motion(const VtMouseEncoder::Geometry& geometry, std::uint32_t button_held,
                      std::uint32_t modifiers, std::int32_t x, std::int32_t y);
    VtUnicodeEntry& unicode_entry() { return unicode_entry_; }

    // Selection over the active buffer's lines.
    VtSelection& selection() { return selection_; }
    const VtSelection& selection() const { return selection_; }
    // Clears the selection and tells the owner when there was one.
    void selection_clear();

    // Scrolled-back view.
    bool scrolled_back() const { return scrolled_back_; }
    std::size_t view_top() const { return view_top_; }
    void scroll_view_to(std::size_t top);
    void attach_view();

    // Colours.
    ColorRGB resolve_fg(const VtCell& cell) const;
    ColorRGBA resolve_bg(const VtCell& cell) const;
    ColorRGB effective_fg(const VtCell& cell) const;
    ColorRGBA effective_bg(const VtCell& cell) const;
    ColorRGB default_fg() const { return default_fg_; }
    ColorRGBA default_bg() const { return default_bg_; }

    const VtCell& current_attributes() const { return current_attributes_; }
    VtCell& current_attributes() { return current_attributes_; }
    const VtCell& blank_cell() const { return blank_cell_; }
    VtModes& modes() { return modes_; }
    const std::string& title() const { return title_; }
    std::uint16_t tab_width() const { return tab_width_; }
    const std::vector<bool>& tab_stops() const { return tab_stops_; }
    VtParserState parser_state() const { return parser_.state(); }
    bool parser_in_utf8_sequence() const { return parser_.in_utf8_sequence(); }
    std::vector<std::shared_ptr<VtCommand>>& command_history() { return command_history_; }

    // Line operations used by the escape-sequence handlers.
    void ensure_cursor_line();
    void line_feed();
    void reverse_index();
    void insert_line_at_cursor();
    void delete_line_at_cursor();
    void scroll_region_up();
    void scroll_region_down();
    void erase_to_end_of_line();
    void erase_to_start_of_line();
    void erase_below();
    void clear_alternate_screen();
    void damage_all();
    void set_scroll_region(std::uint32_t top, std::uint32_t bottom);
    std::uint16_t scroll_region_top() const { return scroll_region_top_; }
    std::uint16_t scroll_region_bottom() const { return scroll_region_bottom_; }
    // The cursor-placement step; `row` is relative to the screen top.
    void place_cursor(std::size_t row, std::uint32_t col);
    void enter_alternate_screen(bool save_cursor);
    void leave_alternate_screen(bool restore_cursor);
    void full_reset();

    // Scrollback.
    void remove_oldest_lines(std::size_t n);
    void trim_scrollback();
    void clear_scrollback();
    void enforce_scrollback_limit();
    void request_repaint();
    // True once after something asked for everything to be redrawn.
    bool take_full_repaint() { return std::exchange(repaint_everything_, false); }

private:
    friend class VtParser;
    friend struct VtCsiHandlers;

    // Parser actions.
    void print_run(std::string_view run);
    void print_code_point(char32_t code);
    void print_code_points(std::u32string_view text);
    void execute(std::uint8_t control);
    void esc_dispatch(std::uint8_t intermediate, std::uint8_t final);
    void csi_dispatch(const VtCsi& csi);
    void string_dispatch(VtStringKind kind, std::string_view text);
    void string_overflow(VtStringKind kind);

    void escape_started();

    // Printing (vt_print.cpp).
    void print_plain_run(std::string_view run);
    void print_plain_char(char32_t ch);
    // `width` is the character's own width in cells.
    void print_character(char32_t ch, int width);
    void print_non_ascii(char32_t ch);
    const char32_t* append_code_points(const char32_t* text, const char32_t* end);
    void put_cell(VtLine& line, char32_t code);
    void insert_cell(VtLine& line, const VtCell& cell);
    void record_last_char(char32_t code);
    bool is_combining(char32_t ch, int width);
    void settle_grapheme_state();
    void reset_grapheme_state(char32_t last);
    void combine_character(char32_t ch);
    bool join_mark(VtCell& cell, char32_t mark);
    void write_back_record(char32_t base);
    void wrap_to_next_line();
    // A control or escape ends the text: no more combining, and the link candidate is done.
    void end_text(bool ends_link);
    VtTextPoint link_end() const;
    void detect_link(char32_t ch, VtTextPoint at);
    void commit_link(VtTextPoint end);
    char32_t translate(std::uint8_t byte);
    // Some printable byte may not stand for itself: a national or graphics set is in GL or
    // shifted in. Asked for every run of text, so inline.
    bool translation_possible() const {
        return (gl_ >= 0 && charsets_[static_cast<std::size_t>(gl_)] != VT_CHARSET_ASCII) ||
               (single_shift_ >= 0 && charsets_[static_cast<std::size_t>(single_shift_)] != VT_CHARSET_ASCII);
    }

    // Controls and escapes.
    void bell();
    void backspace();
    void horizontal_tab();
    void carriage_return();
    void save_cursor();
    void restore_cursor();
    void designate(int slot, std::uint8_t code);
    void dec_alignment_test();
    // Modes (vt_modes.cpp): DECSET/DECRST, SM/RM and DECRQM read one table.
    friend struct VtModeTable;
    void set_modes(const VtCsi& csi, bool dec_private, bool on);
    void request_mode(const VtCsi& csi, bool dec_private);
    void set_mode(std::uint32_t number, bool on);
    void set_ansi_mode(std::uint32_t number, bool on);
    void set_mode_from(std::span<const VtMode> table, std::uint32_t number, bool on,
                       const char* unknown_format);
    void report_mode(std::uint32_t number, bool dec_private);
    void echo_typed(std::string_view bytes);
    void select_graphic_rendition(const VtCsi& csi);
    void apply_sgr_code(std::uint32_t code);
    void unknown_escape(std::uint8_t final);
    void not_implemented(const char* what);

    // Screen model.
    void add_line_with_background(std::vector<VtLine>& lines) const;
    bool background_is_default() const;
    void ensure_cell(VtLine& line, std::size_t col);
    void reserve_cells(VtLine& line, std::size_t count);
    void release_line(VtLine& line);
    void release_lines(std::vector<VtLine>& lines);
    // Releases a line that leaves the buffer and keeps its cell storage for a new line.
    void recycle_line(VtLine& line);
    // The line becomes a new line with background in the storage it has.
    void renew_line(VtLine& line);
    void destroy_proxy(VtLineProxy& proxy);
    void scroll_lines_up(std::size_t first, std::size_t last);
    void scroll_lines_down(std::size_t first, std::size_t last);
    void shift_line_indexes(std::size_t at, std::ptrdiff_t delta, bool keep_cursor);
    void shift_last_char(std::size_t at, std::ptrdiff_t delta);
    void mark_full(VtLine& line);
    void reset_lines(std::vector<VtLine>& lines, bool with_background);
    void reset_tab_stops();
    void load_colors();
    void reset_attributes();

    // Synchronized update.
    void compare_with_snapshot(VtSnapshotEntry& entry);
    void fire_notifications();

    VtCallbacks& callbacks_;
    int pty_fd_ = -1;
    std::uint16_t cols_;
    std::uint16_t rows_;

    std::vector<VtLine> lines_;
    std::vector<VtLine> alt_lines_;
    // Cell storage of lines that scrolled away, taken by the next lines that grow. The
    // scrollback is trimmed once per chunk, so the limit covers the lines of a large chunk.
    std::vector<VtCells> spare_cells_;
    std::size_t spare_cells_bytes_ = 0;
    static constexpr std::size_t SPARE_CELLS_LIMIT = 8 * 1024 * 1024;

    std::size_t row_ = 0;
    std::uint16_t col_ = 0;
    CursorShape cursor_shape_ = CURSOR_SHAPE_BLOCK;
    bool cursor_blinking_ = true;
    bool cursor_hidden_ = false;
    bool wrap_pending_ = false;
    VtSavedCursor saved_cursor_;
    // The 1049 slot; the row is relative to the screen top.
    std::uint16_t alt_saved_col_ = 0;
    std::uint16_t alt_saved_row_ = 0;

    std::uint16_t scroll_region_top_ = 0;
    std::uint16_t scroll_region_bottom_ = 0;
    std::uint16_t left_margin_ = 0;
    std::uint16_t right_margin_ = 0;
    VtLastChar last_char_;
    // The last character printed, for grapheme breaks; 0 after a control.
    char32_t last_code_point_ = 0;
    std::int32_t grapheme_state_ = 0;
    // Grapheme break questions whose answer nothing needed yet: only a character of width 0 can
    // combine, and a mark in a run of text is known to, so the state is brought up to date for a
    // zero-width character on the character path alone; a control or a run of ASCII text, which
    // start the state afresh, drop the questions. Each question is asked between a character and
    // the one before it, so the characters are kept in order: question i (from 1) is asked
    // between deferred_chars_[i - 1] and deferred_chars_[i].
    // Room for a whole run of text (VT_TEXT_RUN_MAX) beside those waiting from earlier runs.
    std::array<char32_t, 2 * VT_TEXT_RUN_MAX + 1> deferred_chars_{};
    std::uint8_t deferred_break_count_ = 0;
    VtLinkDetector link_detector_;

    bool scrolled_back_ = false;
    std::size_t view_top_ = 0;

    bool changed_ = false;
    bool repaint_required_ = false;
    bool cursor_blink_changed_ = false;
    bool scrollback_grew_while_viewing_ = false;
    bool progress_changed_ = false;
    bool repaint_everything_ = false;

    VtCell current_attributes_;
    VtCell blank_cell_;
    ColorRGB default_fg_;
    ColorRGBA default_bg_;
    std::array<ColorRGB, 256> palette_{};
    bool bold_is_bright_ = true;

    VtModes modes_;
    std::array<VtCharset, 4> charsets_{};
    std::int8_t gl_ = -1;
    std::int8_t gr_ = -1;
    std::int8_t single_shift_ = -1;
    std::vector<bool> tab_stops_;
    std::uint16_t tab_width_ = 8;
    std::string title_;
    std::vector<std::string> title_stack_;
    // XTMODKEYS: keyboard, cursor keys, function keys, other keys. Recorded, not used by the encoders.
    std::array<std::uint8_t, 4> modify_keys_{};
    HidePointer pointer_mode_ = HIDE_POINTER_TRUE;
    // Mode 1049 was set: its reset returns the cursor to where the set found it.
    bool alt_screen_cursor_saved_ = false;

    VtParser parser_;

    std::string output_;
    std::size_t output_front_ = 0;
    bool reply_dropped_warned_ = false;

    std::vector<VtSnapshotEntry> snapshot_;
    std::uint16_t snapshot_cols_ = 0;
    std::uint16_t snapshot_rows_ = 0;
    MonoTime snapshot_began_;

    std::vector<std::shared_ptr<VtCommand>> command_history_;

    WarningLimiter warnings_;
    VtSelection selection_;
    VtInputModes input_modes_;
    VtMouseEncoder mouse_encoder_;
    VtUnicodeEntry unicode_entry_;

public:
    // Moving the view (vt_view.cpp). With `detach` or `attach` false the view moves without
    // changing whether it is detached, as keyboard select mode needs. The line moves report
    // whether the view moved: false at the top, or when already at the bottom.
    bool view_line_up(bool detach);
    bool view_line_down(bool attach);
    void view_scroll_to(std::size_t line, bool detach);
    void view_attach();
    // Detaches the view where it is, so that output arriving below does not move it.
    void view_freeze();
    // A line index kept by the owner (the keyboard-select cursor) that moves with its line when
    // lines are inserted or removed, like the indexes the terminal keeps; null for none.
    void set_tracked_line_index(std::size_t* index) { tracked_line_index_ = index; }

private:
    std::size_t* tracked_line_index_ = nullptr;

    // Resize and reflow (vt_resize.cpp).
    friend class VtReflow;
    void cut_long_lines();
    void change_grid(std::uint16_t cols, std::uint16_t rows);
    void resize_rows(std::uint16_t rows);
    void remap_line_indexes(const std::function<std::size_t(std::size_t)>& line,
                            const std::function<VtTextPoint(VtTextPoint)>& point);
    void set_pty_size();
    winsize winsize_{};
    double cell_width_ = 0;
    double cell_height_ = 0;
};

}  // namespace zelto
