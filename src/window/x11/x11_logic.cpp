#include "window/x11/x11_logic.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelto {

namespace {

bool spans_overlap(std::int64_t monitor_start, std::int64_t monitor_length,
                   std::int64_t window_start, std::int64_t window_length) {
    return monitor_start < window_start + window_length &&
           window_start + 1 < monitor_start + monitor_length;
}

double linear_from_srgb(std::uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

bool monitor_overlaps(const MonitorGeometry& monitor, const WindowGeometry& window) {
    return spans_overlap(monitor.x, monitor.width, window.x, window.w) &&
           spans_overlap(monitor.y, monitor.height, window.y, window.h);
}

std::optional<std::size_t> choose_monitor(std::span<const MonitorGeometry> monitors,
                                          std::optional<std::size_t> previous,
                                          const WindowGeometry& window) {
    if (previous && *previous < monitors.size() && monitor_overlaps(monitors[*previous], window)) {
        return previous;
    }
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (monitor_overlaps(monitors[i], window)) {
            return i;
        }
    }
    return std::nullopt;
}

std::uint16_t monitor_dpi(std::uint32_t pixel_width, std::uint32_t mm_width) {
    if (mm_width == 0) {
        return 0;
    }
    const double dpi = pixel_width / (mm_width * 0.03937008);
    return static_cast<std::uint16_t>(
        std::min(dpi, static_cast<double>(std::numeric_limits<std::uint16_t>::max())));
}

double frame_interval_for_rate(double refresh_hz) {
    return refresh_hz > 0.0 ? 1000.0 / refresh_hz : DEFAULT_FRAME_INTERVAL_MS;
}

std::vector<std::array<char, 20>> startup_remove_message_pieces(std::string_view id) {
    std::vector<std::array<char, 20>> pieces;
    if (id.empty()) {
        return pieces;
    }
    std::string message = "remove: ID=";
    message.append(id);
    message.push_back('\0');
    for (std::size_t offset = 0; offset < message.size(); offset += 20) {
        std::array<char, 20> piece{};
        const std::size_t length = std::min<std::size_t>(20, message.size() - offset);
        std::copy_n(message.data() + offset, length, piece.begin());
        pieces.push_back(piece);
    }
    return pieces;
}

const char* gtk_theme_variant(DecorationTheme theme, ColorRGBA background) {
    if (theme == DECORATION_THEME_DARK) {
        return "dark";
    }
    if (theme != DECORATION_THEME_AUTO) {
        return nullptr;
    }
    const double luminance = 0.2126 * linear_from_srgb(background.r) +
                             0.7152 * linear_from_srgb(background.g) +
                             0.0722 * linear_from_srgb(background.b);
    return luminance <= 0.04 ? "dark" : nullptr;
}

}  // namespace zelto
