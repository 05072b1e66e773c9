#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelto {

// The modes that decide how input is encoded for the child.
struct VtInputModes {
    bool application_cursor_keys = false;  // DECCKM (?1)
    bool no_alt_escape = false;            // ?1039 reset: Alt does not prefix ESC
    bool bracketed_paste = false;          // ?2004
    bool focus_event_reporting = false;    // ?1004
    bool x10_mouse_reporting = false;      // ?9
    bool mouse_button_reporting = false;   // ?1000
    bool mouse_motion_on_button_reporting = false;  // ?1002
    bool mouse_motion_reporting = false;   // ?1003
    bool extended_mouse_reporting = false; // ?1006: SGR encoding
    bool pixel_mouse_reporting = false;    // ?1016: SGR encoding in pixels
    bool send_del_on_delete = false;       // ?1037: the Delete key sends DEL
    bool auto_repeat = false;              // DECARM (?8): recorded, key repeat is the window's
    bool local_echo = false;               // SM 12: typed characters are also printed

    // Only these enable reports; the others choose an encoding.
    bool mouse_reporting() const {
        return x10_mouse_reporting || mouse_button_reporting || mouse_motion_on_button_reporting ||
               mouse_motion_reporting;
    }
};

// X11 keysyms the encoder knows.
enum KeySym : std::uint32_t {
    KEYSYM_TAB = 0xFF09,
    KEYSYM_HOME = 0xFF50,
    KEYSYM_LEFT = 0xFF51,
    KEYSYM_UP = 0xFF52,
    KEYSYM_RIGHT = 0xFF53,
    KEYSYM_DOWN = 0xFF54,
    KEYSYM_PRIOR = 0xFF55,
    KEYSYM_NEXT = 0xFF56,
    KEYSYM_END = 0xFF57,
    KEYSYM_BEGIN = 0xFF58,
    KEYSYM_INSERT = 0xFF63,
    KEYSYM_KP_SPACE = 0xFF80,
    KEYSYM_KP_TAB = 0xFF89,
    KEYSYM_KP_ENTER = 0xFF8D,
    KEYSYM_KP_F1 = 0xFF91,
    KEYSYM_KP_F4 = 0xFF94,
    KEYSYM_KP_HOME = 0xFF95,
    KEYSYM_KP_LEFT = 0xFF96,
    KEYSYM_KP_UP = 0xFF97,
    KEYSYM_KP_RIGHT = 0xFF98,
    KEYSYM_KP_DOWN = 0xFF99,
    KEYSYM_KP_PRIOR = 0xFF9A,
    KEYSYM_KP_NEXT = 0xFF9B,
    KEYSYM_KP_END = 0xFF9C,
    KEYSYM_KP_BEGIN = 0xFF9D,
    KEYSYM_KP_INSERT = 0xFF9E,
    KEYSYM_KP_DELETE = 0xFF9F,
    KEYSYM_KP_EQUAL = 0xFFBD,
    KEYSYM_KP_MULTIPLY = 0xFFAA,
    KEYSYM_KP_ADD = 0xFFAB,
    KEYSYM_KP_SEPARATOR = 0xFFAC,
    KEYSYM_KP_SUBTRACT = 0xFFAD,
    KEYSYM_KP_DECIMAL = 0xFFAE,
    KEYSYM_KP_DIVIDE = 0xFFAF,
    KEYSYM_KP_0 = 0xFFB0,
    KEYSYM_KP_9 = 0xFFB9,
    KEYSYM_F1 = 0xFFBE,
    KEYSYM_F4 = 0xFFC1,
    KEYSYM_F5 = 0xFFC2,
    KEYSYM_F10 = 0xFFC7,
    KEYSYM_F11 = 0xFFC8,
    KEYSYM_F35 = 0xFFE0,
    KEYSYM_DELETE = 0xFFFF,
};

// A key press as the window reports it: its text as one code point when it has one (Control
// already applied by the layout), else its keysym.
struct VtKey {
    std::uint32_t value = 0;
    bool has_text = false;
    std::uint32_t modifiers = 0;  // bit 0 Shift, bit 1 Alt, bit 2 Control
};

// The bytes a key press sends; empty for keys that have no encoding.
std::string encode_key(const VtInputModes& modes, VtKey key);

// Pasted text: CR LF and LF become CR; in bracketed mode the text is wrapped and loses its ESC
// bytes, so it can never end the bracket early.
std::string encode_paste(const VtInputModes& modes, std::string_view text);

// "\e[I" / "\e[O" when focus events are reported, else nothing.
std::string encode_focus(const VtInputModes& modes, bool focused);

// Mouse reports in the encoding the modes choose. Positions are pixels inside the text area.
class VtMouseEncoder {
public:
    struct Geometry {
        double cell_width = 1;
        double cell_height = 1;
        std::uint32_t cols = 1;
        std::uint32_t rows = 1;
        std::uint32_t width = 0;   // text area in pixels
        std::uint32_t height = 0;
    };

    // Buttons 1 left, 2 middle, 3 right, 65 wheel up, 66 wheel down.
    std::string button(const VtInputModes& modes, const Geometry& geometry, std::uint32_t button,
                       bool pressed, std::int32_t x, std::int32_t y, std::uint32_t modifiers);
    std::string motion(const VtInputModes& modes, const Geometry& geometry,
                       std::uint32_t button_held, std::uint32_t modifiers, std::int32_t x,
                       std::int32_t y);

private:
    struct Cell {
        std::uint32_t col = 0;
        std::uint32_t row = 0;
        friend bool operator==(const Cell&, const Cell&) = default;
    };
    static std::optional<Cell> cell_at(const Geometry& geometry, std::int32_t x, std::int32_t y);

    std::optional<Cell> last_reported_;
};

// Typing a code point by its hexadecimal digits; Return sends it.
class VtUnicodeEntry {
public:
    enum Outcome { UNICODE_ENTRY_CHANGED, UNICODE_ENTRY_REJECTED };

    bool active() const { return active_; }
    const std::string& digits() const { return digits_; }
    void start() { active_ = true; }

    // Takes one key while active. `send` receives the UTF-8 of a completed code point.
    Outcome key(VtKey key, std::string& send);

private:
    static constexpr std::size_t MAX_DIGITS = 9;

    bool active_ = false;
    std::string digits_;
};

}  // namespace zelto
