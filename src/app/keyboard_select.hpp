#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/key_commands.hpp"
#include "terminal/vt_cursor.hpp"
#include "terminal/vt_selection.hpp"
#include "util/mono_time.hpp"

namespace zelto {

class App;

// Keyboard select mode: a vi-like cursor of its own over the text and the history, moving the
// view, selecting and copying, while no key reaches the child.
class KeyboardSelect {
  public:
    // A count typed more than this long after the previous key is forgotten.
    static constexpr std::int64_t COUNT_TIMEOUT_NS = 1'001'000'000;
    static constexpr std::size_t MAX_COUNT_DIGITS = 3;

    explicit KeyboardSelect(App& app) : app_(app) {}
    ~KeyboardSelect();
    KeyboardSelect(const KeyboardSelect&) = delete;
    KeyboardSelect& operator=(const KeyboardSelect&) = delete;

    bool active() const { return active_; }
    // The cursor as an absolute line index into the buffer and a column.
    VtTextPoint cursor() const { return {cursor_.row, cursor_.col}; }
    // The cursor the renderer draws while the mode is on: it never blinks.
    const VtCursor& drawn_cursor() const { return cursor_; }
    const std::string& digits() const { return digits_; }

    void enter();
    void leave();
    // The whole key event, while the mode is on.
    void handle_key(const KeyEvent& event);
    // Keeps the cursor on the visible lines and inside the grid, after the view moved or the
    // grid changed.
    void clamp_into_view();

  private:
    enum class ViewMove { UP, DOWN };

    bool take_digit(const KeyEvent& event);
    std::size_t count() const;
    bool run_plain_key(std::uint32_t key, std::size_t n);
    bool run_control_key(std::uint32_t key, std::size_t n);
    bool run_symbol_key(std::uint32_t keysym, std::size_t n);
    void run_other_key(const KeyEvent& event);

    // Motions.
    void move_columns(bool left, std::size_t n);
    void move_lines(bool up, std::size_t n);
    void to_first_nonblank();
    void to_last_nonblank();
    void next_word_start(std::size_t n);
    void word_start_back(std::size_t n);
    void word_end(std::size_t n);
    void to_middle_row();
    void to_line(std::size_t line);
    void to_last_line();
    void after_motion();

    // View moves.
    void scroll_view(ViewMove direction, std::size_t lines, bool keep_row);
    void after_view_move();

    // Selection.
    void toggle_selection(bool rectangular);
    void open_link_or_toggle_selection();
    void copy_and_clear_selection();
    void follow_with_selection();

    void clamp_to_line();
    void keep_cursor_visible();
    void changed();

    App& app_;
    bool active_ = false;
    VtCursor cursor_;  // `row` is an absolute line index; the terminal keeps it on its line
    std::string digits_;
    MonoTime last_key_;
    bool has_last_key_ = false;
};

}  // namespace zelto
