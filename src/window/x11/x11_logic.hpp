#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/color.hpp"
#include "config/settings.hpp"

namespace zelto {

// Used when the server reports no refresh rate.
inline constexpr double DEFAULT_FRAME_INTERVAL_MS = 1000.0 / 60.0;

struct MonitorGeometry {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;   // pixels
    std::uint32_t height = 0;  // pixels
    std::uint32_t mm_width = 0;
    std::string name;  // empty when the monitor's name atom has no name

    friend bool operator==(const MonitorGeometry&, const MonitorGeometry&) = default;
};

struct WindowGeometry {
    std::int32_t x = 0;  // root coordinates
    std::int32_t y = 0;
    std::uint32_t w = 0;
    std::uint32_t h = 0;
};

// Whether the window covers part of the monitor. The window's first column and row do not
// count, so a window whose frame edge touches the neighbouring monitor stays where it is.
bool monitor_overlaps(const MonitorGeometry& monitor, const WindowGeometry& window);

// The monitor the window is on: the previous one while it still overlaps, else the first
// overlapping one in list order; none when the window is on no monitor.
std::optional<std::size_t> choose_monitor(std::span<const MonitorGeometry> monitors,
                                          std::optional<std::size_t> previous,
                                          const WindowGeometry& window);

// Dots per inch across the monitor, truncated; 0 (unknown) when the monitor reports no width.
std::uint16_t monitor_dpi(std::uint32_t pixel_width, std::uint32_t mm_width);

double frame_interval_for_rate(double refresh_hz);

// The startup-notification "remove" message cut into the 20-byte pieces of client messages,
// its terminating NUL included; no pieces for an empty id.
std::vector<std::array<char, 20>> startup_remove_message_pieces(std::string_view id);

// The _GTK_THEME_VARIANT a decoration theme asks for over a background colour, or null.
const char* gtk_theme_variant(DecorationTheme theme, ColorRGBA background);

}  // namespace zelto
