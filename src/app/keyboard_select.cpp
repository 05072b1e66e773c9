// Keyboard select mode: motions, counts, view moves, selecting and copying.
#include "app/keyboard_select.hpp"

#include <algorithm>

#include "app/app.hpp"

namespace zelto {

namespace {

// Above this a key event's value is a key symbol, below it the character the key typed.
constexpr std::uint32_t MAX_CHARACTER_KEY = 65000;

constexpr std::uint32_t KEY_RETURN = '\r';
constexpr std::uint32_t KEY_ESCAPE = 0x1b;

bool is_blank_at(const VtLine& line, std::size_t col) {
    if (col >= line.cells.size()) return true;
    const char32_t code = line.cells[col].code;
    return code == 0 || code == U' ';
}

}  // namespace

KeyboardSelect::~KeyboardSelect() {
    if (active_ && app_.vt_) app_.vt_->set_tracked_line_index(nullptr);
}

void KeyboardSelect::enter() {
    Vt& vt = *app_.vt_;
    cursor_ = vt.cursor();
    cursor_.blinking = false;
    cursor_.hidden = false;
    digits_.clear();
    has_last_key_ = false;
    active_ = true;
    vt.set_tracked_line_index(&cursor_.row);
    vt.view_freeze();
    app_.show_scrollbar();
    clamp_into_view();
    changed();
}

void KeyboardSelect::leave() {
    Vt& vt = *app_.vt_;
    vt.selection_clear();
    active_ = false;
    vt.set_tracked_line_index(nullptr);
    vt.view_attach();
    app_.ui_.cursor = vt.cursor();
    changed();
}

void KeyboardSelect::handle_key(const KeyEvent& event) {
    const MonoTime now = app_.now();
    if (has_last_key_ && mono_diff_ns(now, last_key_) >= COUNT_TIMEOUT_NS) digits_.clear();
    last_key_ = now;
    has_last_key_ = true;
    if (take_digit(event)) return;

    const std::size_t n = count();
    const bool typed = event.key <= MAX_CHARACTER_KEY;
    bool handled = false;
    if (event.modifiers == MODIFIER_CTRL) {
        handled = run_control_key(unmodified_key_value(event), n);
    } else if (typed && (event.modifiers & (MODIFIER_CTRL | MODIFIER_ALT)) == 0) {
        // Shift is in the character itself: $ is Shift+4 on one keyboard and a key of its own
        // on another.
        handled = run_plain_key(event.key, n);
    } else if (!typed && event.modifiers == 0) {
        handled = run_symbol_key(event.key, n);
    }
    if (!handled) run_other_key(event);
    digits_.clear();
}

bool KeyboardSelect::take_digit(const KeyEvent& event) {
    if (event.modifiers & (MODIFIER_CTRL | MODIFIER_ALT)) return false;
    const bool digit =
        (event.key >= '1' && event.key <= '9') || (event.key == '0' && !digits_.empty());
    if (!digit) return false;
    if (digits_.size() < MAX_COUNT_DIGITS) digits_.push_back(static_cast<char>(event.key));
    return true;
}

std::size_t KeyboardSelect::count() const {
    return digits_.empty() ? 1 : std::max<std::size_t>(std::stoul(digits_), 1);
}

// The keys of the mode, as a table.
// clang-format off
bool KeyboardSelect::run_plain_key(std::uint32_t key, std::size_t n) {
    switch (key) {
    case '0': cursor_.col = 0; after_motion(); break;
    case '$': to_last_nonblank(); break;
    case '^': to_first_nonblank(); break;
    case 'h': move_columns(true, n); break;
    case 'l': move_columns(false, n); break;
    case 'k': move_lines(true, n); break;
    case 'j': move_lines(false, n); break;
    case 'w': next_word_start(n); break;
    case 'b': word_start_back(n); break;
    case 'e': word_end(n); break;
    case 'm': to_middle_row(); break;
    case 'g': to_line(digits_.empty() ? 0 : n); break;
    case 'G': to_last_line(); break;
    case 'v':
    case KEY_RETURN: toggle_selection(false); break;
    case 'y':
    case 'c': copy_and_clear_selection(); break;
    case KEY_ESCAPE:
    case 'Z': leave(); break;
    default: return false;
    }
    return true;
}

bool KeyboardSelect::run_control_key(std::uint32_t key, std::size_t n) {
    const std::size_t rows = app_.vt_->rows();
    const std::size_t page = rows > 2 ? rows - 2 : 1;
    switch (key) {
    case 'b': scroll_view(ViewMove::UP, page * n, false); break;
    case 'f': scroll_view(ViewMove::DOWN, page * n, false); break;
    case 'u': scroll_view(ViewMove::UP, rows / 2 * n, true); break;
    case 'd': scroll_view(ViewMove::DOWN, rows / 2 * n, true); break;
    case 'y': scroll_view(ViewMove::UP, n, false); break;
    case 'e': scroll_view(ViewMove::DOWN, n, false); break;
    case 'v': toggle_selection(true); break;
    case KEY_RETURN: open_link_or_toggle_selection(); break;
    default: return false;
    }
    return true;
}

bool KeyboardSelect::run_symbol_key(std::uint32_t keysym, std::size_t n) {
    const std::size_t rows = app_.vt_->rows();
    const std::size_t page = rows > 2 ? rows - 2 : 1;
    switch (keysym) {
    case KEY_SYM_LEFT: move_columns(true, n); break;
    case KEY_SYM_RIGHT: move_columns(false, n); break;
    case KEY_SYM_UP: move_lines(true, n); break;
    case KEY_SYM_DOWN: move_lines(false, n); break;
    case KEY_SYM_PAGE_UP: scroll_view(ViewMove::UP, page * n, false); break;
    case KEY_SYM_PAGE_DOWN: scroll_view(ViewMove::DOWN, page * n, false); break;
    default: return false;
    }
    return true;
}
// clang-format on

void KeyboardSelect::run_other_key(const KeyEvent& event) {
    if (!key_binding_matches(settings().bind_key_copy, event)) return;
    copy_and_clear_selection();
}

// Motions -----------------------------------------------------------------------------------

void KeyboardSelect::move_columns(bool left, std::size_t n) {
    if (left) {
        cursor_.col =
            static_cast<std::uint16_t>(cursor_.col - std::min<std::size_t>(cursor_.col, n));
    } else {
        cursor_.col =
            static_cast<std::uint16_t>(std::min<std::size_t>(cursor_.col + n, UINT16_MAX));
    }
    after_motion();
}

void KeyboardSelect::move_lines(bool up, std::size_t n) {
    const std::size_t last = app_.vt_->lines().size() - 1;
    cursor_.row = up ? cursor_.row - std::min(cursor_.row, n)
                     : std::min(last, cursor_.row + std::min(n, last));
    after_motion();
}

void KeyboardSelect::to_first_nonblank() {
    const VtLine& line = app_.vt_->lines()[cursor_.row];
    std::size_t col = 0;
    while (col < line.cells.size() && is_blank_at(line, col)) ++col;
    if (col < line.cells.size()) cursor_.col = static_cast<std::uint16_t>(col);
    after_motion();
}

void KeyboardSelect::to_last_nonblank() {
    const VtLine& line = app_.vt_->lines()[cursor_.row];
    std::size_t col = line.cells.size();
    while (col > 0 && is_blank_at(line, col - 1)) --col;
    if (col > 0) {
        --col;
        // The right half of a wide character belongs to the cell before it.
        if (col > 0 && line.cells[col].code == VT_WIDE_CHAR_TAIL) --col;
        cursor_.col = static_cast<std::uint16_t>(col);
    }
    after_motion();
}

// Words are runs of non-blank cells; a motion that finds no word on the line stays.
void KeyboardSelect::next_word_start(std::size_t n) {
    const VtLine& line = app_.vt_->lines()[cursor_.row];
    const std::size_t end = line.cells.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t col = cursor_.col;
        while (col < end && !is_blank_at(line, col)) ++col;
        while (col < end && is_blank_at(line, col)) ++col;
        if (col >= end) break;
        cursor_.col = static_cast<std::uint16_t>(col);
    }
    after_motion();
}

void KeyboardSelect::word_start_back(std::size_t n) {
    const VtLine& line = app_.vt_->lines()[cursor_.row];
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t col = std::min<std::size_t>(cursor_.col, line.cells.size());
        while (col > 0 && is_blank_at(line, col - 1)) --col;
        if (col == 0) break;
        while (col > 0 && !is_blank_at(line, col - 1)) --col;
        cursor_.col = static_cast<std::uint16_t>(col);
    }
    after_motion();
}

void KeyboardSelect::word_end(std::size_t n) {
    const VtLine& line = app_.vt_->lines()[cursor_.row];
    const std::size_t end = line.cells.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t col = static_cast<std::size_t>(cursor_.col) + 1;
        while (col < end && is_blank_at(line, col)) ++col;
        if (col >= end) break;
        while (col + 1 < end && !is_blank_at(line, col + 1)) ++col;
        cursor_.col = static_cast<std::uint16_t>(col);
    }
    after_motion();
}

void KeyboardSelect::to_middle_row() {
    Vt& vt = *app_.vt_;
    cursor_.row = vt.visible_top() + vt.rows() / 2;
    after_motion();
}

void KeyboardSelect::to_line(std::size_t line) {
    cursor_.row = line;
    after_motion();
}

void KeyboardSelect::to_last_line() {
    Vt& vt = *app_.vt_;
    cursor_.row = vt.lines().size() - 1;
    vt.view_scroll_to(vt.screen_top(), false);
    after_motion();
}

void KeyboardSelect::after_motion() {
    clamp_to_line();
    keep_cursor_visible();
    follow_with_selection();
    app_.show_scrollbar();
    app_.on_activity();
    changed();
}

// View moves --------------------------------------------------------------------------------

void KeyboardSelect::scroll_view(ViewMove direction, std::size_t lines, bool keep_row) {
    Vt& vt = *app_.vt_;
    vt.view_freeze();
    const std::size_t top = vt.visible_top();
    const std::size_t row = cursor_.row >= top ? cursor_.row - top : 0;
    const std::size_t bottom = vt.screen_top();
    const std::size_t target = direction == ViewMove::UP ? top - std::min(top, lines)
                                                         : top + std::min(lines, bottom - top);
    vt.view_scroll_to(target, false);
    if (keep_row) cursor_.row = vt.visible_top() + row;
    after_view_move();
}

void KeyboardSelect::after_view_move() {
    clamp_into_view();
    follow_with_selection();
    app_.on_activity();
    app_.show_scrollbar();
    changed();
}

// Selection ---------------------------------------------------------------------------------

void KeyboardSelect::toggle_selection(bool rectangular) {
    Vt& vt = *app_.vt_;
    if (vt.selection().active()) {
        vt.selection_clear();
    } else {
        vt.selection().begin(rectangular ? VT_SELECTION_RECTANGLE : VT_SELECTION_NORMAL, cursor());
        vt.selection().activate();
    }
    changed();
}

void KeyboardSelect::open_link_or_toggle_selection() {
    const VtLine& line = app_.vt_->lines()[cursor_.row];
    const std::uint16_t link = cursor_.col < line.cells.size() ? line.cells[cursor_.col].link : 0;
    if (link != 0 && line.links && link <= line.links->size()) {
        KeyCommands(app_).open_uri((*line.links)[link - 1]);
        return;
    }
    toggle_selection(true);
}

void KeyboardSelect::copy_and_clear_selection() {
    Vt& vt = *app_.vt_;
    if (!vt.selection().active()) return;
    std::string text = vt.selection().text(vt.lines());
    if (!text.empty()) app_.window_->clipboard_send(std::move(text));
    vt.selection_clear();
    changed();
}

void KeyboardSelect::follow_with_selection() {
    Vt& vt = *app_.vt_;
    if (vt.selection().active()) vt.selection().set_end(vt.lines(), cursor());
}

// Keeping the cursor in place ---------------------------------------------------------------

// Lines that were removed under the cursor leave it past the end; it never points there.
void KeyboardSelect::clamp_to_line() {
    const std::vector<VtLine>& lines = app_.vt_->lines();
    cursor_.row = std::min(cursor_.row, lines.size() - 1);
    const std::size_t cells =
        std::min<std::size_t>(lines[cursor_.row].cells.size(), app_.vt_->cols());
    cursor_.col =
        static_cast<std::uint16_t>(std::min<std::size_t>(cursor_.col, cells > 0 ? cells - 1 : 0));
}

void KeyboardSelect::keep_cursor_visible() {
    Vt& vt = *app_.vt_;
    vt.view_freeze();
    const std::size_t top = vt.visible_top();
    const std::size_t rows = vt.rows();
    if (cursor_.row < top) {
        vt.view_scroll_to(cursor_.row, false);
    } else if (cursor_.row >= top + rows) {
        vt.view_scroll_to(cursor_.row - rows + 1, false);
    }
}

void KeyboardSelect::clamp_into_view() {
    Vt& vt = *app_.vt_;
    const std::size_t size = vt.lines().size();
    const std::size_t top = std::min(vt.visible_top(), size - 1);
    const std::size_t last = std::min(top + vt.rows(), size) - 1;
    cursor_.row = std::clamp(cursor_.row, top, last);
    cursor_.col = std::min<std::uint16_t>(cursor_.col, static_cast<std::uint16_t>(vt.cols() - 1));
}

// The renderer redraws the cursor line from the overlay when it is damaged.
void KeyboardSelect::changed() {
    if (active_) app_.ui_.cursor = cursor_;
    app_.ui_.overlay_damage.mark_full();
    app_.request_repaint();
}

}  // namespace zelto
