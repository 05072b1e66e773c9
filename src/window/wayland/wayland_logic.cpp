#include "window/wayland/wayland_logic.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "config/settings.hpp"
#include "util/utf8.hpp"

namespace zelto {

namespace {

constexpr std::uint32_t KEYSYM_TAB = 0xFF09;
constexpr std::uint32_t KEYSYM_ISO_LEFT_TAB = 0xFE20;
constexpr std::uint32_t KEYSYM_INSERT = 0xFF63;

bool in_range(std::uint32_t value, std::uint32_t first, std::uint32_t last) {
    return value >= first && value <= last;
}

// Dead keys, keypad function groups, editing-menu keys, multimedia keys and the like: without
// text they mean nothing to the terminal.
bool is_silent_without_text(std::uint32_t keysym) {
    if (keysym == KEYSYM_INSERT) {
        return false;
    }
    return keysym == 0 || in_range(keysym, 0xFE50, 0xFE6F) || in_range(keysym, 0xFE80, 0xFE8C) ||
           in_range(keysym, 0xFF60, 0xFF7F) || in_range(keysym, 0x1008FF10, 0x1008FFB7) ||
           in_range(keysym, 0x1008FF01, 0x1008FF07) || in_range(keysym, 0xFF13, 0xFF15);
}

// Latin-1 and Unicode key symbols stand for characters: without text they must not reach the
// terminal, where their value would read as that character.
bool is_character_keysym(std::uint32_t keysym) {
    return (keysym >= 0x20 && keysym <= 0xFF) || (keysym >= 0x01000100 && keysym <= 0x0110FFFF);
}

}  // namespace

bool is_bare_modifier_keysym(std::uint32_t keysym) {
    return in_range(keysym, 0xFE01, 0xFE0F) || in_range(keysym, 0xFFE1, 0xFFEE) ||
           in_range(keysym, 0xFF20, 0xFF3E);
}

std::optional<WaylandKeyReport> wayland_key_report(std::uint32_t keysym, std::uint32_t text,
                                                   std::uint32_t raw_keysym,
                                                   std::uint32_t modifiers) {
    // Shift+Tab arrives as ISO_Left_Tab; the encoder knows it as Tab with Shift.
    if (keysym == KEYSYM_ISO_LEFT_TAB) {
        return WaylandKeyReport{KEYSYM_TAB, raw_keysym, modifiers | MODIFIER_SHIFT};
    }
    if (text != 0) {
        return WaylandKeyReport{text, raw_keysym, modifiers};
    }
    // Control turns these into NUL, which the terminal sends as such.
    if ((keysym == '@' || keysym == '`') && (modifiers & MODIFIER_CTRL)) {
        return WaylandKeyReport{0, raw_keysym, modifiers};
    }
    if (is_character_keysym(keysym) || is_silent_without_text(keysym)) {
        return std::nullopt;
    }
    return WaylandKeyReport{keysym, raw_keysym, modifiers};
}

void KeyRepeat::set_info(std::int32_t rate, std::int32_t delay_ms) {
    rate_ = std::max(rate, 0);
    delay_ms_ = delay_ms > 0 ? delay_ms : 500;
    if (rate_ == 0) {
        held_ = 0;
    }
}

std::int64_t KeyRepeat::interval_ms() const {
    return rate_ > 0 ? std::max<std::int64_t>(1000 / rate_, 1) : 0;
}

void KeyRepeat::press(std::uint32_t keycode, MonoTime now) {
    if (rate_ == 0) {
        held_ = 0;
        return;
    }
    held_ = keycode;
    deadline_ = mono_add_ms(now, delay_ms_);
}

bool KeyRepeat::take_due(MonoTime now) {
    if (held_ == 0 || now < deadline_) {
        return false;
    }
    deadline_ = mono_add_ms(deadline_, interval_ms());
    // After a stall the missed repeats are dropped rather than sent in one burst.
    if (deadline_ <= now) {
        deadline_ = mono_add_ms(now, interval_ms());
    }
    return true;
}

std::optional<MonoTime> KeyRepeat::deadline() const {
    if (held_ == 0) {
        return std::nullopt;
    }
    return deadline_;
}

std::uint16_t output_dpi(std::int32_t pixel_width, std::int32_t mm_width) {
    if (mm_width <= 0 || pixel_width <= 0) {
        return 0;
    }
    const double dpi = pixel_width / (mm_width * 0.03937008);
    return static_cast<std::uint16_t>(std::min(dpi, 65535.0));
}

double refresh_interval_ms(std::int32_t refresh_mhz) {
    return refresh_mhz > 0 ? 1000000.0 / refresh_mhz : 16.0;
}

CsdMode csd_mode_for(const ToplevelStates& states) {
    if (states.fullscreen) {
        return CSD_MODE_NONE;
    }
    if (states.maximized || states.tiled) {
        return CSD_MODE_NO_SHADOW;
    }
    return CSD_MODE_SHADOW;
}

std::uint32_t ui_decoration_mode(CsdMode mode) {
    return mode == CSD_MODE_NONE ? 0 : static_cast<std::uint32_t>(mode);
}

namespace {

std::uint8_t alpha_for_strength(double s) {
    const double q = s / 40.0;
    return static_cast<std::uint8_t>(255.0 * 0.2 * q * q);
}

double corner_strength(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    const double px[2] = {50.0, w + 30.0};
    const double py[2] = {50.0, h + 30.0};
    double d = 1e9;
    for (double cx : px) {
        for (double cy : py) {
            d = std::min(d, std::hypot(x - cx, y - cy));
        }
    }
    return 50.0 - std::min(d, 50.0);
}

}  // namespace

std::uint8_t shadow_alpha(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    const bool corner_columns = x < 50 || x >= w + 30;
    const bool inside =
        x >= SHADOW_LEFT && x < w + SHADOW_LEFT && y >= SHADOW_TOP && y < h + SHADOW_TOP;
    if (inside) {
        return corner_columns && y < 50 ? alpha_for_strength(corner_strength(x, y, w, h)) : 0;
    }
    const bool side_rows = y >= 44 && y < h + 24;
    if (x < SHADOW_LEFT && side_rows) {
        return alpha_for_strength(x);
    }
    if (x >= w + SHADOW_LEFT && side_rows) {
        return alpha_for_strength(w + SHADOW_EXTRA - x);
    }
    if (!corner_columns && y < SHADOW_TOP) {
        return alpha_for_strength(y);
    }
    if (!corner_columns && y >= h + SHADOW_TOP) {
        return alpha_for_strength(h + SHADOW_EXTRA - y);
    }
    if (corner_columns && (y < 44 || y >= h + 24)) {
        return alpha_for_strength(corner_strength(x, y, w, h));
    }
    return 0;
}

ResizeEdge shadow_hit_edge(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    // The grab band lies just outside the window on every side, so each edge is judged against
    // the window's own border and the corners are where two bands meet.
    const bool left = x < SHADOW_LEFT;
    const bool right = x >= w + SHADOW_LEFT;
    const bool top = y < SHADOW_TOP;
    const bool bottom = y >= h + SHADOW_TOP;
    std::uint32_t edge = RESIZE_EDGE_NONE;
    if (top) edge |= RESIZE_EDGE_TOP;
    if (bottom) edge |= RESIZE_EDGE_BOTTOM;
    if (left) edge |= RESIZE_EDGE_LEFT;
    if (right) edge |= RESIZE_EDGE_RIGHT;
    return static_cast<ResizeEdge>(edge);
}

std::uint32_t pointer_style_for_edge(ResizeEdge edge) {
    switch (edge) {
        case RESIZE_EDGE_TOP:
            return 4;
        case RESIZE_EDGE_BOTTOM:
            return 5;
        case RESIZE_EDGE_LEFT:
            return 6;
        case RESIZE_EDGE_RIGHT:
            return 7;
        case RESIZE_EDGE_TOP_LEFT:
            return 8;
        case RESIZE_EDGE_TOP_RIGHT:
            return 9;
        case RESIZE_EDGE_BOTTOM_LEFT:
            return 10;
        case RESIZE_EDGE_BOTTOM_RIGHT:
            return 11;
        case RESIZE_EDGE_NONE:
            break;
    }
    return 0;
}

CsdPressAction csd_press_action(const CsdPress& press) {
    if (press.on_shadow) {
        return CSD_PRESS_RESIZE;
    }
    if (!press.on_title_bar) {
        return CSD_PRESS_REPORT;
    }
    switch (press.button) {
        case 1:
            return press.near_title_button ? CSD_PRESS_TITLE_BUTTON : CSD_PRESS_MOVE;
        case 3:
            return CSD_PRESS_WINDOW_MENU;
        default:
            return CSD_PRESS_NONE;
    }
}

bool near_title_button(const std::vector<TitleBarButton>& buttons, std::int32_t x, std::int32_t y) {
    for (const TitleBarButton& button : buttons) {
        const std::int64_t dx = x - button.x;
        const std::int64_t dy = y - button.y;
        if (dx * dx + dy * dy <= 144) {
            return true;
        }
    }
    return false;
}

std::uint32_t button_from_linux_code(std::uint32_t code) {
    switch (code) {
        case 272:
            return 1;
        case 273:
            return 3;
        case 274:
            return 2;
        default:
            return code - 271;
    }
}

WheelTranslator::Wheel WheelTranslator::discrete(std::int32_t steps) {
    swallow_next_ = true;
    return Wheel{steps < 0 ? 65u : 66u, 0};
}

std::optional<WheelTranslator::Wheel> WheelTranslator::axis(std::int32_t value) {
    if (swallow_next_) {
        swallow_next_ = false;
        return std::nullopt;
    }
    if (std::abs(value) < 256) {
        return std::nullopt;
    }
    return Wheel{value < -255 ? 65u : 66u, std::abs(value / 256)};
}

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, 0 when it is not one.
std::size_t valid_sequence_length(std::string_view text) {
    const std::optional<Utf8Sequence> sequence = decode_utf8_sequence(text);
    return sequence ? sequence->length : 0;
}

}  // namespace

std::string protocol_text(std::string_view text, std::size_t max_bytes) {
    static constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";
    std::string result;
    while (!text.empty()) {
        const std::size_t length = valid_sequence_length(text);
        const std::string_view piece = length ? text.substr(0, length) : REPLACEMENT;
        text.remove_prefix(length ? length : 1);
        if (piece == std::string_view("\0", 1)) {
            continue;
        }
        if (result.size() + piece.size() > max_bytes) {
            break;
        }
        result += piece;
    }
    return result;
}

std::string shm_file_name(std::int64_t nanoseconds) {
    std::string name = "/wl_shm-";
    auto bits = static_cast<std::uint64_t>(nanoseconds);
    for (int i = 0; i < 6; ++i) {
        const auto letter = static_cast<char>('A' + (bits & 15));
        name += (bits & 16) ? static_cast<char>(letter + ('a' - 'A')) : letter;
        bits >>= 5;
    }
    return name;
}

}  // namespace zelto
