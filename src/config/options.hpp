#pragma once

#include <array>
#include <bitset>
#include <string>
#include <string_view>

#include "config/settings.hpp"

namespace zelto {

enum OptionArgument : std::uint8_t {
    OPTION_ARGUMENT_NONE,
    OPTION_ARGUMENT_REQUIRED,
    OPTION_ARGUMENT_OPTIONAL,
};

struct OptionInfo {
    const char* name;
    char short_letter;  // 0: none
    OptionArgument argument;
    const char* syntax;  // null for options without a value
    const char* help;
};

inline constexpr std::size_t OPTION_COUNT = 100;
extern const std::array<OptionInfo, OPTION_COUNT> OPTIONS;

// Index of the option with exactly this long name, or -1.
int option_index(std::string_view name);

// The help output.
std::string usage_text();
[[noreturn]] void usage();
std::string version_text();

// Applies option values to a Settings record; used by the command line and the file. It remembers
// which colours the user set so that the colour scheme fills only the others.
class OptionHandler {
  public:
    explicit OptionHandler(Settings& settings) : s_(settings) {}

    // `letter` is the short letter of a flag option (its value is then ignored), or 0 to apply
    // the option at `index` with `value`; a null value means none was given.
    void handle_option(char letter, int index, const char* value);

    // Fills every colour the user did not set from the selected colour scheme.
    void apply_color_scheme();

  private:
    void handle_flag(char letter);
    void handle_value(int index, const std::string& value, bool given);

    Settings& s_;
    // Background, foreground, then base colours 0-15.
    std::bitset<18> user_colors_;
};

}  // namespace zelto
