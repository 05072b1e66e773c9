// Key bindings: matching a key event against the bound commands, and the commands themselves.
#include "app/key_commands.hpp"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <utility>

#include "app/app.hpp"
#include "app/html_dump.hpp"

namespace zelto {

namespace {

// The renderer's glyph atlas packs glyphs on square pages of this many pixels.
constexpr std::uint32_t ATLAS_PAGE_PIXELS = 1024;

std::uint32_t fold_ascii_case(std::uint32_t key) {
    return key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key;
}

bool is_marked(const VtLine& line) {
    return line.mark_explicit || line.mark_command_output_start;
}

std::size_t bottom_of(std::size_t lines, std::size_t rows) {
    return lines > rows ? lines - rows : 0;
}

}  // namespace

std::uint32_t unmodified_key_value(const KeyEvent& event) {
    if (event.raw_keysym == 0) return event.key;
    const std::uint32_t code_point = xkb_keysym_to_utf32(event.raw_keysym);
    return code_point != 0 ? code_point : event.raw_keysym;
}

// A binding named "C" means the key c: the name lookup of one backend keeps the case, the other
// does not, and the unmodified key is the lower-case one.
bool key_binding_matches(const KeyBinding& binding, const KeyEvent& event) {
    if (binding.key == 0 || binding.is_name || binding.mods != event.modifiers) return false;
    return fold_ascii_case(binding.key) == fold_ascii_case(unmodified_key_value(event));
}

KeyCommand match_key_command(const Settings& s, const KeyEvent& event) {
    const std::array<std::pair<const KeyBinding*, KeyCommand>, 18> order{{
        {&s.bind_key_copy, KEY_COMMAND_COPY},
        {&s.bind_key_paste, KEY_COMMAND_PASTE},
        {&s.bind_key_shrink, KEY_COMMAND_SHRINK},
        {&s.bind_key_enlarge, KEY_COMMAND_ENLARGE},
        {&s.bind_key_html_dump, KEY_COMMAND_HTML_DUMP},
        {&s.bind_key_debug, KEY_COMMAND_DEBUG},
        {&s.bind_key_unicode, KEY_COMMAND_UNICODE},
        {&s.bind_key_kbd_select, KEY_COMMAND_KBD_SELECT},
        {&s.bind_key_ln_up, KEY_COMMAND_LN_UP},
        {&s.bind_key_ln_down, KEY_COMMAND_LN_DOWN},
        {&s.bind_key_pg_up, KEY_COMMAND_PG_UP},
        {&s.bind_key_pg_down, KEY_COMMAND_PG_DOWN},
        {&s.bind_key_mark_up, KEY_COMMAND_MARK_UP},
        {&s.bind_key_mark_down, KEY_COMMAND_MARK_DOWN},
        {&s.bind_key_duplicate, KEY_COMMAND_DUPLICATE},
        {&s.bind_key_copy_output, KEY_COMMAND_COPY_OUTPUT},
        {&s.bind_key_extern_pipe, KEY_COMMAND_EXTERN_PIPE},
        {&s.bind_key_open_pwd, KEY_COMMAND_OPEN_PWD},
    }};
    for (const auto& [binding, command] : order) {
        if (key_binding_matches(*binding, event)) return command;
    }
    return KEY_COMMAND_NONE;
}

bool key_hides_pointer(HidePointer mode, bool mouse_reporting) {
    switch (mode) {
        case HIDE_POINTER_TRUE:
        case HIDE_POINTER_FORCE_TRUE:
            return true;
        case HIDE_POINTER_IF_NOT_REPORTING:
            return !mouse_reporting;
        case HIDE_POINTER_FALSE:
        case HIDE_POINTER_FORCE_FALSE:
            break;
    }
    return false;
}

// A glyph may be two cells wide and reach beyond its em square: twice the em in pixels must
// still fit a page, or the renderer could not place it at all.
std::uint16_t max_font_size(std::uint16_t dpi) {
    const std::uint32_t effective_dpi = std::max<std::uint32_t>(dpi, 1);
    const std::uint32_t points = ATLAS_PAGE_PIXELS * 72 / (2 * effective_dpi);
    return static_cast<std::uint16_t>(std::clamp<std::uint32_t>(points, 1, UINT16_MAX));
}

std::optional<std::size_t> mark_up_target(const std::vector<VtLine>& lines, std::size_t rows,
                                          bool scrolled_back, std::size_t view_top) {
    const std::size_t start = scrolled_back ? view_top : bottom_of(lines.size(), rows);
    if (start == 0 || start >= lines.size()) return std::nullopt;
    for (std::size_t i = start + 1; i-- > 0;) {
        if (is_marked(lines[i])) return i == 0 ? 0 : i - 1;
    }
    return std::nullopt;
}

// A jump shows the mark just under the top line; the next jump down passes over that one. Any
// other mark below the top is the next one to show, wherever the view was moved to.
std::optional<std::size_t> mark_down_target(const std::vector<VtLine>& lines, std::size_t rows,
                                            bool scrolled_back, std::size_t view_top) {
    const std::size_t bottom = bottom_of(lines.size(), rows);
    const std::size_t top = scrolled_back ? view_top : bottom;
    for (std::size_t i = top + 1; i + 1 < lines.size(); ++i) {
        if (!is_marked(lines[i]) || i == top + 1) continue;
        return i - 1;
    }
    if (!scrolled_back) return std::nullopt;
    return bottom;
}

bool KeyCommands::run_binding(const KeyEvent& event) {
    const KeyCommand command = match_key_command(settings(), event);
    if (command == KEY_COMMAND_NONE) return false;
    run(command);
    return true;
}

// clang-format off
void KeyCommands::run(KeyCommand command) {
    const std::size_t page = std::max<std::size_t>(app_.vt_->rows(), 1);
    switch (command) {
    case KEY_COMMAND_NONE: break;
    case KEY_COMMAND_COPY: copy_selection(); break;
    case KEY_COMMAND_PASTE: app_.window_->clipboard_get(); break;
    case KEY_COMMAND_SHRINK: change_font_size(-1); break;
    case KEY_COMMAND_ENLARGE: change_font_size(1); break;
    case KEY_COMMAND_HTML_DUMP: html_dump(*app_.vt_); break;
    case KEY_COMMAND_DEBUG: print_debug_dump(); break;
    case KEY_COMMAND_UNICODE: start_unicode_entry(); break;
    case KEY_COMMAND_KBD_SELECT: app_.keyboard_select_.enter(); break;
    case KEY_COMMAND_LN_UP: scroll_lines(true, 1); break;
    case KEY_COMMAND_LN_DOWN: scroll_lines(false, 1); break;
    case KEY_COMMAND_PG_UP: scroll_lines(true, page); break;
    case KEY_COMMAND_PG_DOWN: scroll_lines(false, page); break;
    case KEY_COMMAND_MARK_UP: mark_up(); break;
    case KEY_COMMAND_MARK_DOWN: mark_down(); break;
    case KEY_COMMAND_DUPLICATE: duplicate_instance(); break;
    case KEY_COMMAND_COPY_OUTPUT: copy_command_output(); break;
    case KEY_COMMAND_EXTERN_PIPE: pipe_to_extern_program(); break;
    case KEY_COMMAND_OPEN_PWD: open_working_directory(); break;
    }
}
// clang-format on

void KeyCommands::copy_selection() {
    Vt& vt = *app_.vt_;
    if (!vt.selection().active()) return;
    app_.window_->clipboard_send(vt.selection().text(vt.lines()));
}

void KeyCommands::change_font_size(int delta) {
    Settings& s = settings();
    const int size = std::clamp(static_cast<int>(s.font_size) + delta, 1,
                                static_cast<int>(max_font_size(s.current_dpi)));
    if (size == s.font_size) return;
    s.font_size = static_cast<std::uint16_t>(size);
    Vt& vt = *app_.vt_;
    vt.end_synchronized_update();
    vt.damage_all();
    app_.gfx_->destroy_line_proxy(app_.ui_.overlay_proxy);
    app_.on_font_changed();
    app_.relayout(app_.window_size_.width, app_.window_size_.height);
    const PixelSize cell = app_.gfx_->get_pixel_size({1, 1});
    app_.window_->set_incremental_resize(cell.width, cell.height);
}

// The view moves one line at a time so that it stops where the history ends.
void KeyCommands::scroll_lines(bool up, std::size_t count) {
    Vt& vt = *app_.vt_;
    for (std::size_t i = 0; i < count; ++i) {
        if (!(up ? vt.view_line_up(true) : vt.view_line_down(true))) break;
    }
    app_.show_scrollbar();
    app_.window_->paint = true;
}

void KeyCommands::mark_up() {
    Vt& vt = *app_.vt_;
    if (vt.alternate_screen_active()) return;
    const auto target = mark_up_target(vt.lines(), vt.rows(), vt.scrolled_back(), vt.view_top());
    if (!target) return;
    vt.view_scroll_to(*target, true);
    app_.show_scrollbar();
    app_.window_->paint = true;
}

void KeyCommands::mark_down() {
    Vt& vt = *app_.vt_;
    if (vt.alternate_screen_active()) return;
    const auto target = mark_down_target(vt.lines(), vt.rows(), vt.scrolled_back(), vt.view_top());
    if (!target) return;
    vt.view_scroll_to(*target, true);
    app_.show_scrollbar();
    app_.window_->paint = true;
}

void KeyCommands::hide_pointer_for_key() {
    Window& window = *app_.window_;
    if (!key_hides_pointer(settings().hide_pointer, app_.vt_->mouse_reporting())) return;
    if (window.has_flag(WINDOW_IS_POINTER_HIDDEN)) return;
    app_.set_pointer_shape(MOUSE_POINTER_HIDDEN);
}

void App::on_font_changed() {
    if (fonts_) fonts_->reload();
    gfx_->reload_font();
    gfx_->draw(*vt_, ui_, 0);
    place_grid();
    window_->paint = true;
    gfx_->invalidate();
    window_->swap_if_needed(true);
}

void KeyCommands::start_unicode_entry() {
    app_.vt_->unicode_entry().start();
}

void KeyCommands::pipe_to_extern_program() {}

void KeyCommands::open_working_directory() {}

void KeyCommands::duplicate_instance() {}

void KeyCommands::print_debug_dump() {}

void KeyCommands::copy_command_output() {}

void KeyCommands::open_uri(const std::string& uri) {
    app_.open_uri(uri);
}

}  // namespace zelto
