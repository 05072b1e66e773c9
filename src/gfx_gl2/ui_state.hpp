#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "terminal/vt_cursor.hpp"
#include "terminal/vt_line.hpp"

namespace zelto {

struct TitleBarButton {
    std::uint32_t kind = 0;  // 0 close, 1 maximise, 2 minimise
    float hover = 0.0f;
    std::int32_t x = 0;
    std::int32_t y = 0;
};

inline constexpr std::uint32_t TITLE_BAR_HEIGHT = 37;

// The overlay state the App writes and the renderer reads when it composes a frame.
struct UiState {
    std::uint8_t grid_x_offset = 0;
    std::uint8_t grid_y_offset = 0;
    bool scrollbar_shown = false;
    bool scrollbar_dragged = false;
    std::uint8_t scrollbar_width = 0;
    float scrollbar_top = 0.0f;
    float scrollbar_length = 0.0f;
    float scrollbar_opacity = 0.0f;
    // The cursor to draw: the terminal's, or keyboard select mode's; none draws no cursor.
    std::optional<VtCursor> cursor;
    double drawn_cursor_column = 0.0;
    double animation_start_column = 0.0;
    std::uint16_t animation_target_column = 0;
    std::uint16_t cursor_row = 0;
    bool link_hovered = false;
    std::size_t hovered_link_first_line = 0;
    std::size_t hovered_link_last_line = 0;
    std::uint16_t hovered_link_first_column = 0;
    std::uint16_t hovered_link_last_column = 0;
    bool focused = false;
    double bell_intensity = 0.0;
    double cursor_alpha = 1.0;
    bool cursor_visible = true;
    bool text_blink_visible = true;
    // The renderer's cache for the cursor line; released through the Gfx's destroy_line_proxy.
    VtLineProxy overlay_proxy;
    // Full when keyboard select mode changed what the cursor line shows.
    VtLineDamage overlay_damage;
    std::uint32_t decoration_mode = 0;
    std::uint32_t decorations_suppressed = 0;
    bool title_bar_redraw = false;
    bool title_bar_attention = false;
    std::vector<TitleBarButton> title_bar_buttons;
};

}  // namespace zelto
