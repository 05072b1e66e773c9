#include "config/output_rules.hpp"

#include "util/format.hpp"

namespace zelto {

bool output_glob_matches(std::string_view glob, std::string_view name) {
    if (glob.empty() || name.empty()) return false;
    // Greedy matching with one backtrack point: the last "*" seen. Linear in practice and never
    // exponential, whatever the glob.
    std::size_t g = 0, n = 0;
    std::size_t star = std::string_view::npos, star_n = 0;
    while (n < name.size()) {
        if (g < glob.size() && (glob[g] == '?' || (glob[g] != '*' && glob[g] == name[n]))) {
            ++g;
            ++n;
        } else if (g < glob.size() && glob[g] == '*') {
            star = g++;
            star_n = n;
        } else if (star != std::string_view::npos) {
            g = star + 1;
            n = ++star_n;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == '*') ++g;
    return g == glob.size();
}

const char* lcd_order_name(std::uint32_t order) {
    constexpr const char* NAMES[] = {"Undefined",      "None",         "Horizontal RGB",
                                     "Horizontal BGR", "Vertical RGB", "Vertical BGR"};
    return order < std::size(NAMES) ? NAMES[order] : "";
}

namespace {

const OutputRule* matching_rule(const Settings& s, std::uint32_t index, std::string_view name) {
    for (const auto& rule : s.output) {
        if (rule.glob && output_glob_matches(*rule.glob, name)) return &rule;
        if (index != 0 && !rule.glob && rule.index == index) return &rule;
    }
    return nullptr;
}

}  // namespace

std::optional<OutputChange> output_change(const Settings& s, std::uint32_t index,
                                          std::string_view name, std::uint32_t subpixel,
                                          std::uint16_t reported_dpi) {
    OutputChange change{};
    if (const OutputRule* rule = matching_rule(s, index, name)) {
        std::uint16_t dpi = s.dpi_auto && reported_dpi != 0 ? reported_dpi : s.current_dpi;
        if (rule->dpi != 0) dpi = rule->dpi;
        // An output that reports its own subpixel layout knows better than a rule.
        change.lcd_order = subpixel > 1 || rule->lcd_order == 0 ? 0 : rule->lcd_order;
        change.dpi = dpi;
    } else {
        change.lcd_order = s.fixed_lcd_order;
        change.dpi = s.dpi;
    }
    if (change.dpi == s.current_dpi &&
        (change.lcd_order == 0 || change.lcd_order == s.current_lcd_order))
        return std::nullopt;
    return change;
}

std::string output_change_message(std::uint32_t index, std::string_view name,
                                  const OutputChange& change, std::uint16_t reported_dpi) {
    return format_string("Window moved to output %u '%.*s' %s, %u(%u) dpi.", index,
                         static_cast<int>(name.size()), name.data(),
                         lcd_order_name(change.lcd_order), static_cast<unsigned>(change.dpi),
                         static_cast<unsigned>(reported_dpi));
}

}  // namespace zelto
