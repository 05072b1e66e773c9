#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.hpp"

namespace zelto {

// "*" matches any run of characters, "?" any one; the whole name must match. An empty glob or
// name (a missing one) never matches.
bool output_glob_matches(std::string_view glob, std::string_view name);

// "Undefined", "None", "Horizontal RGB", ... for LCD orders 0-5; "" for others.
const char* lcd_order_name(std::uint32_t order);

struct OutputChange {
    std::uint32_t lcd_order;
    std::uint16_t dpi;
};

// The LCD order and DPI the `output` rules choose for the output the window entered (its index,
// name, own subpixel layout numbered like LcdMode, reported DPI), or none when both stay as they
// are. The caller stores them as the current order and DPI and reloads the fonts.
std::optional<OutputChange> output_change(const Settings& s, std::uint32_t index,
                                          std::string_view name, std::uint32_t subpixel,
                                          std::uint16_t reported_dpi);

// "Window moved to output %u '%s' %s, %u(%u) dpi." for the info message.
std::string output_change_message(std::uint32_t index, std::string_view name,
                                  const OutputChange& change, std::uint16_t reported_dpi);

}  // namespace zelto
