#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "terminal/vt_line.hpp"

namespace zelto {

class App;

// One key event as the window reports it.
struct KeyEvent {
    std::uint32_t key = 0;         // code point when the key has text, else the key symbol
    std::uint32_t raw_keysym = 0;  // the key symbol of the key without modifiers; 0: unknown
    std::uint32_t modifiers = 0;   // MODIFIER_* bits
};

// What a binding compares with: the key's unmodified value, so that Ctrl+Shift+c is 'c' even
// though Control turns its text into 3 and Shift into 'C'. The value follows the key-name
// lookup of the window backends: the code point of the symbol's character, else the symbol.
std::uint32_t unmodified_key_value(const KeyEvent& event);

enum KeyCommand : std::uint8_t {
    KEY_COMMAND_NONE,
    KEY_COMMAND_COPY,
    KEY_COMMAND_PASTE,
    KEY_COMMAND_SHRINK,
    KEY_COMMAND_ENLARGE,
    KEY_COMMAND_HTML_DUMP,
    KEY_COMMAND_DEBUG,
    KEY_COMMAND_UNICODE,
    KEY_COMMAND_KBD_SELECT,
    KEY_COMMAND_LN_UP,
    KEY_COMMAND_LN_DOWN,
    KEY_COMMAND_PG_UP,
    KEY_COMMAND_PG_DOWN,
    KEY_COMMAND_MARK_UP,
    KEY_COMMAND_MARK_DOWN,
    KEY_COMMAND_DUPLICATE,
    KEY_COMMAND_COPY_OUTPUT,
    KEY_COMMAND_EXTERN_PIPE,
    KEY_COMMAND_OPEN_PWD,
};

// Modifiers must be exactly the binding's; an unbound (0) binding never matches.
bool key_binding_matches(const KeyBinding& binding, const KeyEvent& event);

// The first binding, in the fixed matching order, that the event matches.
KeyCommand match_key_command(const Settings& s, const KeyEvent& event);

// Whether a key that goes to the child hides the pointer under the `hide-pointer` mode.
bool key_hides_pointer(HidePointer mode, bool mouse_reporting);

// Font sizes stay where a glyph still fits a page of the renderer's glyph atlas at `dpi`.
std::uint16_t max_font_size(std::uint16_t dpi);

// Mark navigation over the active buffer: the line the view top moves to, or none.
std::optional<std::size_t> mark_up_target(const std::vector<VtLine>& lines, std::size_t rows,
                                          bool scrolled_back, std::size_t view_top);
std::optional<std::size_t> mark_down_target(const std::vector<VtLine>& lines, std::size_t rows,
                                            bool scrolled_back, std::size_t view_top);

// The commands of the key bindings and of keyboard select mode, run against the App.
class KeyCommands {
  public:
    explicit KeyCommands(App& app) : app_(app) {}

    // Runs the command of the first matching binding; false when none matched.
    bool run_binding(const KeyEvent& event);
    void run(KeyCommand command);

    void copy_selection();
    void change_font_size(int delta);
    void scroll_lines(bool up, std::size_t count);
    void mark_up();
    void mark_down();
    // A key that went to the child hides the pointer when the pointer mode says so.
    void hide_pointer_for_key();

    void start_unicode_entry();
    // Commands whose machinery comes later: they do nothing and say nothing yet.
    void pipe_to_extern_program();
    void open_working_directory();
    void duplicate_instance();
    void print_debug_dump();
    void copy_command_output();

    void open_uri(const std::string& uri);

  private:
    App& app_;
};

}  // namespace zelto
