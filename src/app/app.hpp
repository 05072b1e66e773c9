#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/keyboard_select.hpp"
#include "app/timers.hpp"
#include "fonts/font_set.hpp"
#include "gfx_gl2/gfx.hpp"
#include "gfx_gl2/ui_state.hpp"
#include "pty/pty.hpp"
#include "terminal/vt.hpp"
#include "util/mono_time.hpp"
#include "window/window.hpp"

namespace zelto {

// Where the App gets its window and renderer from; tests hand in doubles.
struct AppBackends {
    WindowFactory wayland = nullptr;
    WindowFactory x11 = nullptr;
    // Without fonts the renderer gets none (test doubles need none).
    std::function<std::unique_ptr<FontSet>()> make_fonts;
    std::function<std::unique_ptr<Gfx>(FontSet* fonts)> make_gfx;
};

// The application: owns the terminal, the pty, the renderer and the window, and runs the loop.
class App final : public VtCallbacks, public WindowCallbacks {
  public:
    static constexpr std::size_t WRITE_CHUNK = 128;

    explicit App(AppBackends backends);
    ~App() override;
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Start-up, the loop until the end, and shutdown; the process exit status.
    int run();

    // The pieces of run(), for tests that drive the loop themselves.
    void start();
    bool should_run() const;
    void loop_pass();
    void shutdown();

    // How long the next pass may wait: 0 while bytes are queued for the child, -1 for no limit.
    int compute_wait() const;

    // The clock the App's gestures and key timing read; tests inject their own.
    void set_clock(MonoTime (*clock)()) { clock_ = clock; }
    MonoTime now() const { return clock_(); }

    Vt& vt() { return *vt_; }
    Pty& pty() { return pty_; }
    Window& window() { return *window_; }
    bool exit_requested() const { return exit_requested_; }
    const UiState& ui() const { return ui_; }
    TimerList& timers() { return timers_; }
    KeyboardSelect& keyboard_select() { return keyboard_select_; }
    // The modifiers of the last key that matched no binding.
    std::uint32_t last_key_modifiers() const { return last_key_modifiers_; }

    // Runs the URI handler with `uri` as its one argument; a text that is no link is refused.
    void open_uri(const std::string& uri);

    // VtCallbacks
    PixelSize get_window_size() override;
    PixelSize get_text_area_size() override;
    PixelSize get_pixel_size_for_cells(std::uint32_t cols, std::uint32_t rows) override;
    GridSize get_grid_size() override;
    Position get_window_position() override;
    bool is_minimized() override;
    bool is_fullscreen() override;
    void on_activity() override;
    void request_repaint() override;
    void on_visual_bell() override;
    void on_cursor_blink_changed(bool blinking) override;
    void set_maximized(bool maximized) override;
    void set_fullscreen(bool fullscreen) override;
    void resize_window(std::uint32_t width, std::uint32_t height) override;
    void resize_text_area(std::uint32_t width, std::uint32_t height) override;
    void set_title(const char* title) override;
    void request_clipboard(bool primary) override;
    void set_clipboard(std::string text) override;
    void request_attention() override;
    void raise_window() override;
    void on_buffer_switched() override;
    void on_font_changed() override;
    void update_pointer() override;
    void update_scrollbar() override;
    void on_scroll_position_changed() override;
    void destroy_line_proxy(VtLineProxy& proxy) override;
    void destroy_image_proxy(VtImageProxy& proxy) override;
    void destroy_image_view_proxy(VtImageViewProxy& proxy) override;
    void destroy_sixel_proxy(VtSixelProxy& proxy) override;

    // WindowCallbacks
    void key_handler(std::uint32_t key, std::uint32_t raw_keysym, std::uint32_t modifiers) override;
    void button_handler(std::uint32_t button, bool pressed, std::int32_t x, std::int32_t y,
                        std::int32_t steps, std::uint32_t modifiers) override;
    void motion_handler(std::uint32_t button, std::int32_t x, std::int32_t y) override;
    void on_clipboard_data(std::string_view text) override;
    std::optional<std::vector<DamageRect>> draw(std::uint8_t buffer_age) override;
    void on_focus_changed(bool focused) override;
    void on_selection_lost() override;
    void on_output_changed(std::uint32_t index, const std::string& name, std::uint32_t subpixel,
                           std::uint16_t dpi) override;
    void invalidate() override;
    void on_decoration_mode_changed(std::uint32_t mode) override;

  private:
    friend class KeyCommands;
    friend class KeyboardSelect;

    bool has_title_bar() const;
    GridSize grid_for_window() const;
    void place_grid();
    void relayout(std::uint32_t width, std::uint32_t height);
    void place_title_bar_buttons();
    GridSize fit_startup_grid() const;
    void create_window(PixelSize size, PixelSize cell);
    void resolve_key_names();
    static bool key_has_text(std::uint32_t key, std::uint32_t raw_keysym);
    void draw_frame();
    std::int64_t read_batch_budget_ms() const;
    void read_pty_batch();
    void write_pty();
    void on_child_exit();

    // Pointer gestures
    struct GridPoint {
        std::int32_t x = 0;
        std::int32_t y = 0;
    };
    enum ExtendMode : std::uint32_t { EXTEND_NONE = 0, EXTEND_START = 1, EXTEND_END = 2 };
    GridPoint to_grid(std::int32_t x, std::int32_t y) const;
    VtTextPoint cell_under(GridPoint point) const;
    const TitleBarButton* title_bar_button_at(std::int32_t x, std::int32_t y) const;
    bool handle_title_bar_button(std::uint32_t button, bool pressed, std::int32_t x,
                                 std::int32_t y);
    void update_title_bar_hover(std::int32_t x, std::int32_t y);
    void scroll_view_lines(std::int32_t lines);
    void handle_wheel(std::uint32_t button, std::int32_t steps);
    float to_scrollbar_units(std::int32_t window_y) const;
    void scroll_view_to_thumb(float thumb_top);
    bool handle_scrollbar_button(std::uint32_t button, bool pressed, std::int32_t window_x,
                                 std::int32_t window_y);
    void start_autoscroll(std::int32_t direction, bool selecting);
    void stop_autoscroll();
    void on_autoscroll();
    void left_press(GridPoint point, std::uint32_t modifiers);
    void middle_press();
    void right_press(GridPoint point);
    void drag_selection(GridPoint point);
    // Links
    struct LinkRange {
        VtTextPoint first, last;
        std::string uri;
    };
    std::optional<LinkRange> link_range_at(VtTextPoint cell) const;
    void hover_update(GridPoint point);
    void refresh_link_hover();
    void open_link_at(GridPoint point);

    void set_pointer_shape(MousePointerStyle style);
    void refresh_pointer_shape();
    void copy_selection_to_primary();
    VtMouseEncoder::Geometry mouse_geometry() const;

    // Scrollbar
    void show_scrollbar();
    void on_scrollbar_fade(bool finished, double eased);
    void update_scrollbar_geometry();

    // Timers and animations
    void register_timers();
    void run_timers();
    void update_text_blink_timer();
    void stop_cursor_blink();
    void on_blink_resume();
    void on_blink_toggle();
    void on_blink_fade(bool finished, double t);
    void on_visual_bell_frame(bool finished, double t);
    void on_text_blink();
    void repaint_if_focused();

    // Cursor movement: points `ui`'s cursor at the cursor to draw and slides its column.
    void update_cursor_animation();
    void on_cursor_move(bool finished, double t);

    AppBackends backends_;
    std::unique_ptr<Window> window_;
    std::unique_ptr<Gfx> gfx_;
    std::optional<Vt> vt_;
    std::unique_ptr<FontSet> fonts_;
    Pty pty_;
    UiState ui_;
    PixelSize window_size_{};
    std::optional<MonoTime> key_repeat_deadline_;
    MonoTime read_batch_start_{};
    std::string startup_id_;
    std::string vt_title_;
    bool exit_requested_ = false;
    bool layout_pending_ = false;
    bool frame_drawn_in_sync_ = false;
    std::int64_t last_draw_ms_ = 0;
    bool pty_full_ = false;  // the last write found no room

    MonoTime (*clock_)() = mono_now;

    // Pointer gesture state
    bool drag_active_ = false;
    ExtendMode extend_mode_ = EXTEND_NONE;
    std::int32_t autoscroll_direction_ = 0;  // 1 up, -1 down
    bool autoscroll_selecting_ = false;
    GridPoint autoscroll_position_;
    std::uint8_t multi_click_count_ = 0;
    MonoTime multi_click_deadline_;
    float scrollbar_grab_offset_ = 0.0f;
    MousePointerStyle pointer_style_ = MOUSE_POINTER_ARROW;
    // Held at the last button event: motion events carry no modifiers of their own, and those of
    // the last key may have been let go long ago.
    std::uint32_t pointer_modifiers_ = 0;

    // Key commands
    KeyboardSelect keyboard_select_{*this};
    std::uint32_t last_key_modifiers_ = 0;
    TimerList timers_;
    struct TimerIndices {
        TimerList::Index autoscroll = 0;
        TimerList::Index scrollbar_fade = 0;
        TimerList::Index visual_bell = 0;
        TimerList::Index blink_resume = 0;
        TimerList::Index blink_end = 0;
        std::optional<TimerList::Index> blink_toggle;
        std::optional<TimerList::Index> blink_fade;
        TimerList::Index text_blink = 0;
        TimerList::Index title_refresh = 0;
        TimerList::Index cursor_move = 0;
    } timer_;
    bool cursor_blink_active_ = false;
    bool cursor_blink_allowed_ = true;
    bool text_blink_armed_ = false;
    // The cursor's row relative to the screen top on the previous pass; none before the first.
    std::optional<std::size_t> cursor_anim_row_;
};

}  // namespace zelto
