#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gfx_gl2/ui_state.hpp"
#include "util/mono_time.hpp"

namespace zelto {

// Height the client-side title bar takes inside the window when the compositor draws nothing.
inline constexpr std::uint32_t CSD_TITLE_BAR_RESERVATION = 37;

// What one key event hands to `key_handler`.
struct WaylandKeyReport {
    std::uint32_t key = 0;         // code point when the key has text, else the key symbol
    std::uint32_t raw_keysym = 0;  // the keycode's symbol without modifiers
    std::uint32_t modifiers = 0;   // MODIFIER_* bits
};

// Lock, modifier and input-method keys: pressing them alone reports nothing.
bool is_bare_modifier_keysym(std::uint32_t keysym);

// Which key a press reports, if any. `text` is the key's code point (0 when it has none).
// Keys with text report it; Control with `@` or `` ` `` reports 0; other keys report their key
// symbol unless they are dead keys, multimedia keys or the like.
std::optional<WaylandKeyReport> wayland_key_report(std::uint32_t keysym, std::uint32_t text,
                                                   std::uint32_t raw_keysym,
                                                   std::uint32_t modifiers);

// Key repeat driven by the main loop's timers. The compositor tells the rate (repeats per second,
// 0 disables repeat) and the delay before the first repeat.
class KeyRepeat {
  public:
    void set_info(std::int32_t rate, std::int32_t delay_ms);
    std::int32_t rate() const { return rate_; }
    std::int32_t delay_ms() const { return delay_ms_; }
    // Milliseconds between repeats; never below 1.
    std::int64_t interval_ms() const;

    // A press that came from the compositor: the key repeats after the delay.
    void press(std::uint32_t keycode, MonoTime now);
    void stop() { held_ = 0; }
    std::uint32_t held() const { return held_; }

    // Whether the held key is due for a repeat at `now`; when it is, the deadline moves on by one
    // interval, or restarts from `now` when the loop stalled for longer than that.
    bool take_due(MonoTime now);
    // The next repeat deadline, none when no key repeats.
    std::optional<MonoTime> deadline() const;

  private:
    std::uint32_t held_ = 0;  // keycode, 0: none
    std::int32_t rate_ = 30;
    std::int32_t delay_ms_ = 500;
    MonoTime deadline_;
};

// Dots per inch across an output, truncated; 0 (unknown) when it reports no physical width.
std::uint16_t output_dpi(std::int32_t pixel_width, std::int32_t mm_width);
// Milliseconds per frame at a refresh of `refresh_mhz` millihertz; 16 when it is unknown.
double refresh_interval_ms(std::int32_t refresh_mhz);

// Client-side decoration modes: 1 decorated with shadow, 2 decorated without shadow (maximized or
// tiled), 3 no decorations (fullscreen).
enum CsdMode : std::uint32_t { CSD_MODE_SHADOW = 1, CSD_MODE_NO_SHADOW = 2, CSD_MODE_NONE = 3 };

struct ToplevelStates {
    bool maximized = false;
    bool fullscreen = false;
    bool tiled = false;
};

CsdMode csd_mode_for(const ToplevelStates& states);
// The `UiState` decoration mode the renderer and App see: 0 none, 1 decorated, 2 no shadow.
std::uint32_t ui_decoration_mode(CsdMode mode);

// The shadow around a client-side decorated window of `w` x `h`: the buffer is 80 pixels wider and
// taller, the window covering x 40 .. w + 39 and y 34 .. h + 33 of it.
inline constexpr std::int32_t SHADOW_LEFT = 40;
inline constexpr std::int32_t SHADOW_TOP = 34;
inline constexpr std::int32_t SHADOW_EXTRA = 80;
std::uint8_t shadow_alpha(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

// Edges of the shadow the pointer can grab, numbered as xdg-shell's resize edges.
enum ResizeEdge : std::uint32_t {
    RESIZE_EDGE_NONE = 0,
    RESIZE_EDGE_TOP = 1,
    RESIZE_EDGE_BOTTOM = 2,
    RESIZE_EDGE_LEFT = 4,
    RESIZE_EDGE_TOP_LEFT = 5,
    RESIZE_EDGE_BOTTOM_LEFT = 6,
    RESIZE_EDGE_RIGHT = 8,
    RESIZE_EDGE_TOP_RIGHT = 9,
    RESIZE_EDGE_BOTTOM_RIGHT = 10,
};
// The edge under pointer position (x, y) on the shadow surface of a `w` x `h` window.
ResizeEdge shadow_hit_edge(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
// The pointer style (MousePointerStyle) showing the resize cursor of an edge.
std::uint32_t pointer_style_for_edge(ResizeEdge edge);

// What a press does on a window with client-side decorations.
enum CsdPressAction {
    CSD_PRESS_REPORT,        // an ordinary press for the terminal
    CSD_PRESS_RESIZE,        // on the shadow: resize from the edge under the pointer
    CSD_PRESS_TITLE_BUTTON,  // on a title-bar button: remembered for the App
    CSD_PRESS_MOVE,          // elsewhere on the title bar: move the window
    CSD_PRESS_WINDOW_MENU,   // right button on the title bar: the compositor's window menu
    CSD_PRESS_NONE,          // other buttons on the title bar
};
struct CsdPress {
    bool on_shadow = false;
    bool on_title_bar = false;  // the main surface's top 37 rows, while decorations are drawn
    std::uint32_t button = 0;   // 1 left, 2 middle, 3 right
    bool near_title_button = false;
};
CsdPressAction csd_press_action(const CsdPress& press);
// Whether (x, y) lies within 12 pixels of a title-bar button's centre.
bool near_title_button(const std::vector<TitleBarButton>& buttons, std::int32_t x, std::int32_t y);

// Linux button codes 272 left, 273 right, 274 middle become 1, 3, 2; any other c becomes c - 271.
std::uint32_t button_from_linux_code(std::uint32_t code);

// Turns the pointer's axis events into wheel buttons: a discrete step reports once and the
// continuous event that follows it is swallowed.
class WheelTranslator {
  public:
    struct Wheel {
        std::uint32_t button = 0;  // 65 up, 66 down
        std::int32_t steps = 0;    // steps of a continuous scroll, 0 for a discrete one
    };
    Wheel discrete(std::int32_t steps);
    // `value` in 1/256 units, as wl_fixed_t carries it.
    std::optional<Wheel> axis(std::int32_t value);

  private:
    bool swallow_next_ = false;
};

// Longest text sent in one request: a protocol message holds at most 4096 bytes, and a request
// that does not fit breaks the connection.
inline constexpr std::size_t MAX_REQUEST_TEXT = 2048;
// `text` as a request may carry it: invalid UTF-8 replaced by U+FFFD, NUL bytes dropped, cut to
// `max_bytes` at a character boundary.
std::string protocol_text(std::string_view text, std::size_t max_bytes = MAX_REQUEST_TEXT);

// The name of a shared-memory file: "/wl_shm-" and six letters taken from the clock's
// nanoseconds, five bits a letter.
std::string shm_file_name(std::int64_t nanoseconds);

}  // namespace zelto
