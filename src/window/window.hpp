#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.hpp"  // ModifierMask of key and button events
#include "config/settings.hpp"
#include "gfx_gl2/gfx.hpp"
#include "util/mono_time.hpp"

namespace zelto {

enum WindowStateFlag : std::uint16_t {
    WINDOW_IS_CLOSED = 0x01,
    WINDOW_IS_FULLSCREEN = 0x02,
    WINDOW_IS_FOCUSED = 0x08,
    WINDOW_IS_MAXIMIZED = 0x10,
    WINDOW_IS_POINTER_HIDDEN = 0x20,
    WINDOW_IS_MINIMIZED = 0x40,
};

enum MousePointerStyle : std::uint32_t {
    MOUSE_POINTER_HIDDEN,
    MOUSE_POINTER_ARROW,
    MOUSE_POINTER_I_BEAM,
    MOUSE_POINTER_HAND,
    MOUSE_POINTER_TOP,
    MOUSE_POINTER_BOTTOM,
    MOUSE_POINTER_LEFT,
    MOUSE_POINTER_RIGHT,
    MOUSE_POINTER_TOP_LEFT,
    MOUSE_POINTER_TOP_RIGHT,
    MOUSE_POINTER_BOTTOM_LEFT,
    MOUSE_POINTER_BOTTOM_RIGHT,
    MOUSE_POINTER_MOVE,
};

enum WindowApi : std::uint32_t { WINDOW_API_GLES = 0, WINDOW_API_GL = 1, WINDOW_API_VULKAN = 2 };

struct WindowContextRequest {
    WindowApi api = WINDOW_API_GL;
    std::uint32_t major = 2;
    std::uint32_t minor = 1;
};

// What the window reports to its owner. The App implements every member. A backend calls them
// only from its event dispatch and `swap_if_needed`, and only once `Window::callbacks` is set:
// what happens before (focus, the first output) stays in the window state for the App to read.
class WindowCallbacks {
  public:
    virtual ~WindowCallbacks() = default;

    // `key` is the character's code point when the key has text, else its key symbol.
    virtual void key_handler(std::uint32_t key, std::uint32_t raw_keysym,
                             std::uint32_t modifiers) = 0;
    virtual void button_handler(std::uint32_t button, bool pressed, std::int32_t x, std::int32_t y,
                                std::int32_t steps, std::uint32_t modifiers) = 0;
    // Buttons 1 left, 2 middle, 3 right; the wheel arrives as 65 (up) and 66 (down), pressed.
    // `steps` counts the steps of a continuous scroll, 0 otherwise.
    virtual void motion_handler(std::uint32_t button, std::int32_t x, std::int32_t y) = 0;
    virtual void on_clipboard_data(std::string_view text) = 0;
    virtual void on_activity() = 0;
    virtual std::optional<std::vector<DamageRect>> draw(std::uint8_t buffer_age) = 0;
    virtual void on_focus_changed(bool focused) = 0;
    virtual void on_selection_lost() = 0;
    virtual void on_output_changed(std::uint32_t index, const std::string& name,
                                   std::uint32_t subpixel, std::uint16_t dpi) = 0;
    virtual void invalidate() = 0;
    virtual void on_decoration_mode_changed(std::uint32_t mode) = 0;
};

// The seam to the window system: one implementation per backend. Destroying it releases the
// window and closes the connection.
class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    virtual void set_fullscreen(bool fullscreen) = 0;
    virtual void set_maximized(bool maximized) = 0;
    virtual void minimize() = 0;
    virtual void resize(std::uint32_t width, std::uint32_t height) = 0;
    virtual void events() = 0;
    // Emits due key repeats; the next repeat deadline, if any.
    virtual std::optional<MonoTime> process_timers() = 0;
    virtual void set_title(const std::string& title) = 0;
    // Draws through the `draw` callback and presents when `paint` is set, drawing is allowed and
    // the window can show it; whether a frame was presented.
    virtual bool swap_if_needed(bool allow_drawing) = 0;
    virtual int get_connection_fd() const = 0;
    virtual void clipboard_send(std::string text) = 0;
    virtual void clipboard_get() = 0;
    virtual void primary_send(std::string text) = 0;
    virtual void primary_get() = 0;
    virtual void set_swap_interval(int interval) = 0;
    virtual void set_current_context(bool current) = 0;
    virtual void set_incremental_resize(std::uint32_t cell_width, std::uint32_t cell_height) = 0;
    virtual void set_pointer_style(MousePointerStyle style) = 0;
    virtual void* get_gl_proc_address(const char* name) = 0;
    // The key value a key binding compares with: the code point of a key with a character, the
    // key symbol of one without (Page_Up, F10); 0 for an unknown name.
    virtual std::uint32_t get_keysym_from_name(const char* name) = 0;
    virtual void set_urgent() = 0;
    virtual void raise_or_lower(bool raise) = 0;
    // The window system's id of the window, or -1 when it has none to share.
    virtual std::int64_t get_window_id() const = 0;
    virtual void notify_startup_complete(const std::string& id) = 0;
    // The backend's connection record; its first member is the minimum frame interval in ms.
    virtual const void* get_backend_state() const = 0;

    bool has_flag(WindowStateFlag flag) const { return (state_flags & flag) != 0; }
    void set_flag(WindowStateFlag flag, bool on) {
        state_flags = static_cast<std::uint16_t>(on ? state_flags | flag : state_flags & ~flag);
    }
    double frame_interval_ms() const {
        const void* state = get_backend_state();
        return state ? *static_cast<const double*>(state) : 0.0;
    }

    std::uint32_t w = 0;
    std::uint32_t h = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t previous_w = 0;
    std::uint32_t previous_h = 0;
    std::int32_t pointer_x = 0;
    std::int32_t pointer_y = 0;
    std::uint32_t repeat_rate = 0;
    std::uint16_t state_flags = 0;  // WindowStateFlag bits
    bool paint = false;             // a repaint is due; cleared when a frame is drawn
    // 0 unknown, 1 none, 2 horizontal RGB, 3 horizontal BGR, 4 vertical RGB, 5 vertical BGR
    std::uint32_t output_subpixel = 0;
    std::uint16_t output_dpi = 0;  // 0: unknown
    std::uint32_t output_index = 0;
    std::string output_name;
    UiState* ui = nullptr;
    WindowCallbacks* callbacks = nullptr;
};

// Creates a window of one backend, or returns null when that backend has no display.
using WindowFactory = std::unique_ptr<Window> (*)(std::uint32_t width, std::uint32_t height,
                                                  std::uint32_t cell_width,
                                                  std::uint32_t cell_height,
                                                  WindowContextRequest context, UiState* ui);

}  // namespace zelto
