#include "config/options.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

#include "config/config_file.hpp"
#include "util/diagnostics.hpp"
#include "util/format.hpp"

namespace zelto {

namespace {

constexpr OptionArgument NONE = OPTION_ARGUMENT_NONE;
constexpr OptionArgument REQUIRED = OPTION_ARGUMENT_REQUIRED;
constexpr OptionArgument OPTIONAL = OPTION_ARGUMENT_OPTIONAL;

}  // namespace

const std::array<OptionInfo, OPTION_COUNT> OPTIONS = {{
    {"config-file", 0, REQUIRED, "path", "Use configuration file"},
    {"skip-config", 'c', NONE, nullptr, "Ignore default configuration file"},
    {"xorg-only", 'X', NONE, nullptr, "Always use X11"},
    {"term", 0, REQUIRED, "string", "TERM value (default: xterm-256color)"},
    {"vte-version", 0, REQUIRED, "string",
     "Report VTE compatibility, might break some programs (empty to disable) (default: 6201)"},
    {"title", 0, REQUIRED, "string", "Window title"},
    {"hold", 'H', OPTIONAL, "bool?", "Retain window after program exit"},
    {"no-dynamic-title", 't', NONE, nullptr, "Do not allow programs to change the window title"},
    {"title-format", 0, REQUIRED, "string", "Window title format string"},
    {"app-id", 0, REQUIRED, "[string, string?]", "Application ID / WM_CLASS"},
    {"locale", 0, REQUIRED, "string", "Override locale"},
    {"rows", 0, REQUIRED, "int", "Number of rows (default: 24)"},
    {"columns", 0, REQUIRED, "int", "Number of columns (default: 80)"},
    {"decorations", 0, REQUIRED, "name",
     "Window decoration type: full, minimal, none (default: full)"},
    {"incremental-resize", 0, REQUIRED, "bool", "Use cell size as window resize increments"},
    {"decoration-theme", 0, REQUIRED, "name",
     "Window decoration theme: none, dark, auto (default: auto)"},
    {"hide-pointer", 0, REQUIRED, "name",
     "Hide pointer: true, false, force_true, force_false, if_not_reporting (default: true)"},
    {"cursor-anim", 0, REQUIRED, "bool:bool:float",
     "Animate cursor - enable move:enable blink:blink fade period(0.0 - 1.0)"},
    {"directory", 0, REQUIRED, "path", "Start in directory"},
    {"windowops", 0, REQUIRED, "bool:bool?",
     "Allow window interactions - manipulation:information (default: true:true)"},
    {"io-chunk-delay", 0, REQUIRED, "int:int?",
     "Wait for data chunks (min/max latency) - time[usec]:timeout[ms] (default: 0:5)"},
    {"bg-color", 0, REQUIRED, "#RRGGBBAA", "Background color"},
    {"fg-color", 0, REQUIRED, "#RRGGBB", "Foreground color"},
    {"color-0", 0, REQUIRED, "#RRGGBB", "Palette color black"},
    {"color-1", 0, REQUIRED, "#RRGGBB", "Palette color red"},
    {"color-2", 0, REQUIRED, "#RRGGBB", "Palette color green"},
    {"color-3", 0, REQUIRED, "#RRGGBB", "Palette color yellow"},
    {"color-4", 0, REQUIRED, "#RRGGBB", "Palette color blue"},
    {"color-5", 0, REQUIRED, "#RRGGBB", "Palette color magenta"},
    {"color-6", 0, REQUIRED, "#RRGGBB", "Palette color cyan"},
    {"color-7", 0, REQUIRED, "#RRGGBB", "Palette color gray"},
    {"color-8", 0, REQUIRED, "#RRGGBB", "Palette color bright black"},
    {"color-9", 0, REQUIRED, "#RRGGBB", "Palette color bright red"},
    {"color-10", 0, REQUIRED, "#RRGGBB", "Palette color bright green"},
    {"color-11", 0, REQUIRED, "#RRGGBB", "Palette color bright yellow"},
    {"color-12", 0, REQUIRED, "#RRGGBB", "Palette color bright blue"},
    {"color-13", 0, REQUIRED, "#RRGGBB", "Palette color bright magenta"},
    {"color-14", 0, REQUIRED, "#RRGGBB", "Palette color bright cyan"},
    {"color-15", 0, REQUIRED, "#RRGGBB", "Palette color bright gray"},
    {"cursor-bg-color", 0, REQUIRED, "#RRGGBBAA/none", "Cursor background color"},
    {"cursor-fg-color", 0, REQUIRED, "#RRGGBB/none", "Cursor foreground color"},
    {"highlight-bg-color", 0, REQUIRED, "#RRGGBBAA", "Highlighted text background color"},
    {"highlight-fg-color", 0, REQUIRED, "#RRGGBB", "Highlighted text foreground color"},
    {"visual-bell", 0, REQUIRED, "#RRGGBBAA/name", "Visual bell effect - overlay color/none"},
    {"bold-is-bright", 0, REQUIRED, "bool", "Show bold text in bright colors (default: true)"},
    {"colorscheme", 0, REQUIRED, "name/int",
     "Colorscheme name/index: zelto, linux, xterm, rxvt, yaru, tango, orchis, solarized"},
    {"unfocused-tint", 0, REQUIRED, "#RRGGBBAA", "Tint window when out of focus"},
    {"font", 0, REQUIRED, "[font, ...]", "Primary fonts (default: Monospace)"},
    {"style-regular", 0, REQUIRED, "name", "Font style to use as default (default: Regular)"},
    {"style-bold", 0, REQUIRED, "name", "Font style to use as bold (default: Bold)"},
    {"style-italic", 0, REQUIRED, "name", "Font style to use as italic (default: Italic)"},
    {"style-bolditalic", 0, REQUIRED, "name",
     "Font style to use as bold italic (default: Bold:Italic)"},
    {"font-symbol", 0, REQUIRED, "[font, ...]", "Symbol fonts"},
    {"font-color", 0, REQUIRED, "[font, ...]", "Color bitmap fonts"},
    {"flush-fc-cache", 'l', NONE, nullptr, "Rebuild fontconfig cache"},
    {"preload-all-fonts", 'o', NONE, nullptr, "Load all fonts on startup"},
    {"exclude-lcd", 0, REQUIRED, "[chr..chr, ...]", "Ranges of characters without lcd filtering"},
    {"font-size", 0, REQUIRED, "int", "Font size"},
    {"dpi", 0, REQUIRED, "int/auto", "Fixed font dpi (default: 96)"},
    {"glyph-padding", 0, REQUIRED, "int:int?", "Glyph padding - horizontal[px]:vertical[px]"},
    {"glyph-align", 0, REQUIRED, "char:int?:int?",
     "Adjust glyph alignment - center character:y offset[px]:x offset[px] (default: (:0:0)"},
    {"fixed-lcd-order", 0, REQUIRED, "name",
     "Force LCD subpixel order: none, rgb, bgr, vrgb, vbgr"},
    {"font-box-chars", 'b', NONE, nullptr, "Use box drawing characters contained in font"},
    {"output", 0, REQUIRED, "glob/int:none/rgb/bgr/vrgb/vbgr:int?/auto",
     "Set lcd order and DPI rules for a display"},
    {"cursor-style", 0, REQUIRED, "name:bool?",
     "Set initial cursor style - block/beam/underline:blinking (default: block:true)"},
    {"bg-blur", 0, REQUIRED, "bool", "Request background blur on KDE Plasma (default: true)"},
    {"blink", 0, REQUIRED, "bool:int?:int?:int?",
     "Blinking cursor - enable:rate[ms]:suspend[ms]:end[s](<0 never)"},
    {"padding", 0, REQUIRED, "bool:int?",
     "Pad screen content: center:extra padding[px] (default: true:0)"},
    {"always-underline-links", 0, OPTIONAL, "bool", "Draw links underlined (default: false)"},
    {"scrollbar", 0, REQUIRED, "int:int?:int?:int?",
     "width[px]:min length[px]:hide delay[ms]:fade time[ms] (default: 10:20:1500:150)"},
    {"scroll-lines", 0, REQUIRED, "int", "Lines scrolled per wheel click (default: 3)"},
    {"scrollback", 0, REQUIRED, "int", "Scrollback buffer size (default: 2000)"},
    {"uri-handler", 0, REQUIRED, "string", "URI handler program (default: xdg-open)"},
    {"extern-pipe", 0, REQUIRED, "string:name?",
     "Extern pipe handler and mode - executable:command/screen/buffer (default: none:command)"},
    {"force-csd", 0, OPTIONAL, "bool?", "Always use CSD's on wayland (dafault: false)"},
    {"bind-key-copy", 0, REQUIRED, "key", "Copy key command (default: C+S+c)"},
    {"bind-key-paste", 0, REQUIRED, "key", "Paste key command (default: C+S+v)"},
    {"bind-key-enlarge", 0, REQUIRED, "key", "Enlagre font key command (default: C+S+equal)"},
    {"bind-key-shrink", 0, REQUIRED, "key", "Shrink font key command (default: C+S+minus)"},
    {"bind-key-unicode", 0, REQUIRED, "key",
     "Unicode entry mode activation key command (default: C+S+u)"},
    {"bind-key-pg-up", 0, REQUIRED, "key", "Scroll up by page key command (default: C+S+Page_Up)"},
    {"bind-key-pg-down", 0, REQUIRED, "key",
     "Scroll down by page key command (default: C+S+Page_Down)"},
    {"bind-key-ln-up", 0, REQUIRED, "key", "Scroll up by line key command (default: C+S+Up)"},
    {"bind-key-ln-down", 0, REQUIRED, "key", "Scroll down by line key command (default: C+S+Down)"},
    {"bind-key-mark-up", 0, REQUIRED, "key",
     "Scroll up to previous mark or command output key command (default: C+S+Left)"},
    {"bind-key-mark-down", 0, REQUIRED, "key",
     "Scroll down to next mark or command output key command (default: C+S+Right)"},
    {"bind-key-copy-output", 0, REQUIRED, "key",
     "Copy last command output to clipboard key command (default: C+S+x)"},
    {"bind-key-extern-pipe", 0, REQUIRED, "key",
     "Pipe content to external program (default: C+S+backslash)"},
    {"bind-key-kbd-select", 0, REQUIRED, "key",
     "Enter keyboard select mode key command (default: C+S+k)"},
    {"bind-key-open-pwd", 0, REQUIRED, "key", "Open working directory as URI (default: C+S+F10)"},
    {"bind-key-html-dump", 0, REQUIRED, "key", "HTML screen dump key command (default: C+S+F12)"},
    {"bind-key-duplicate", 0, REQUIRED, "key",
     "New instance in work directory key command (default: C+S+d)"},
    {"bind-key-debug", 0, REQUIRED, "key", "Debug info key command (default: C+S+slash)"},
    {"bind-key-quit", 0, REQUIRED, "key", "Quit key command"},
    {"debug-pty", 'D', NONE, nullptr, "Output pty communication to stderr"},
    {"debug-vt", 0, REQUIRED, "int?", "Slow down the interpreter to usec/byte (default: 5000)"},
    {"debug-gfx", 'G', NONE, nullptr, "Run renderer in debug mode"},
    {"debug-font", 'F', NONE, nullptr, "Show font information"},
    {"version", 'v', NONE, nullptr, "Show version"},
    {"help", 'h', NONE, nullptr, "Show this message"},
}};

namespace {

// Option indices in table order.
enum OptionId : int {
    OPT_CONFIG_FILE,
    OPT_SKIP_CONFIG,
    OPT_XORG_ONLY,
    OPT_TERM,
    OPT_VTE_VERSION,
    OPT_TITLE,
    OPT_HOLD,
    OPT_NO_DYNAMIC_TITLE,
    OPT_TITLE_FORMAT,
    OPT_APP_ID,
    OPT_LOCALE,
    OPT_ROWS,
    OPT_COLUMNS,
    OPT_DECORATIONS,
    OPT_INCREMENTAL_RESIZE,
    OPT_DECORATION_THEME,
    OPT_HIDE_POINTER,
    OPT_CURSOR_ANIM,
    OPT_DIRECTORY,
    OPT_WINDOWOPS,
    OPT_IO_CHUNK_DELAY,
    OPT_BG_COLOR,
    OPT_FG_COLOR,
    OPT_COLOR_0,
    OPT_COLOR_15 = OPT_COLOR_0 + 15,
    OPT_CURSOR_BG_COLOR,
    OPT_CURSOR_FG_COLOR,
    OPT_HIGHLIGHT_BG_COLOR,
    OPT_HIGHLIGHT_FG_COLOR,
    OPT_VISUAL_BELL,
    OPT_BOLD_IS_BRIGHT,
    OPT_COLORSCHEME,
    OPT_UNFOCUSED_TINT,
    OPT_FONT,
    OPT_STYLE_REGULAR,
    OPT_STYLE_BOLD,
    OPT_STYLE_ITALIC,
    OPT_STYLE_BOLDITALIC,
    OPT_FONT_SYMBOL,
    OPT_FONT_COLOR,
    OPT_FLUSH_FC_CACHE,
    OPT_PRELOAD_ALL_FONTS,
    OPT_EXCLUDE_LCD,
    OPT_FONT_SIZE,
    OPT_DPI,
    OPT_GLYPH_PADDING,
    OPT_GLYPH_ALIGN,
    OPT_FIXED_LCD_ORDER,
    OPT_FONT_BOX_CHARS,
    OPT_OUTPUT,
    OPT_CURSOR_STYLE,
    OPT_BG_BLUR,
    OPT_BLINK,
    OPT_PADDING,
    OPT_ALWAYS_UNDERLINE_LINKS,
    OPT_SCROLLBAR,
    OPT_SCROLL_LINES,
    OPT_SCROLLBACK,
    OPT_URI_HANDLER,
    OPT_EXTERN_PIPE,
    OPT_FORCE_CSD,
    OPT_BIND_KEY_COPY,
    OPT_BIND_KEY_QUIT = OPT_BIND_KEY_COPY + 18,
    OPT_DEBUG_PTY,
    OPT_DEBUG_VT,
    OPT_DEBUG_GFX,
    OPT_DEBUG_FONT,
    OPT_VERSION,
    OPT_HELP,
};

static_assert(OPT_HELP + 1 == OPTION_COUNT);

constexpr const char* PROGRAM_NAME = "zelto";

// ---- value readers ----------------------------------------------------------------------------

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal integer read as far as digits go; no digits read as 0. Saturates instead of
// overflowing.
long long read_integer(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    constexpr long long LIMIT = std::numeric_limits<long long>::max() / 10 - 10;
    long long value = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        if (value < LIMIT) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), is_digit);
}

long long clamp_integer(std::string_view text, long long low, long long high) {
    return std::clamp(read_integer(text), low, high);
}

// A decimal fraction ("0.25", "-1", "3."); none when the text does not start with a number.
std::optional<double> read_fraction(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || !(is_digit(text[i]) || text[i] == '.')) return std::nullopt;
    double value = 0;
    bool digits = false;
    for (; i < text.size() && is_digit(text[i]); ++i, digits = true) {
        if (value < 1e300) value = value * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && is_digit(text[i]); ++i, scale /= 10, digits = true)
            value += (text[i] - '0') * scale;
    }
    if (!digits) return std::nullopt;
    return negative ? -value : value;
}

std::vector<std::string_view> split_fields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        std::size_t colon = text.find(':');
        fields.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    return fields;
}

bool field_boolean(std::string_view field) {
    return starts_with_ignoring_case(field, "true") || (!field.empty() && field.front() == '1');
}

void warn_extra_fields(const std::vector<std::string_view>& fields, std::size_t expected,
                       const char* option) {
    for (std::size_t i = expected; i < fields.size(); ++i) {
        std::string field(fields[i]);
        warn("Unexpected extra argument '%s' for option '%s'\n", field.c_str(), option);
    }
}

void warn_unknown_value(const std::string& value, const char* option) {
    warn("Unknown value '%s' for option '%s'\n", value.c_str(), option);
}

std::vector<std::string> value_list(std::string_view text) {
    return read_list(
        text, [](const std::string& message) { warn("Error in config: %s\n", message.c_str()); });
}

// Boolean option value: absent is true; "true…"/"1…" true, "fals…"/"0…" false.
void read_boolean(bool& target, const std::string& value, bool given, const char* option) {
    if (!given) {
        target = true;
    } else if (starts_with_ignoring_case(value, "true") ||
               (!value.empty() && value.front() == '1')) {
        target = true;
    } else if (starts_with_ignoring_case(value, "fals") ||
               (!value.empty() && value.front() == '0')) {
        target = false;
    } else {
        warn("Failed to parse '%s' as bool for option '%s'\n", value.c_str(), option);
    }
}

void warn_color(const std::string& value, const char* option) {
    warn("Failed to parse '%s' as color for option '%s'%s.\n", value.c_str(), option,
         value.empty() ? ", expected syntax =\"#rrggbb\" or =rrggbb" : "");
}

bool read_rgb(ColorRGB& target, const std::string& value, const char* option) {
    auto c = parse_rgb(value);
    if (!c) {
        warn_color(value, option);
        return false;
    }
    target = *c;
    return true;
}

bool read_rgba(ColorRGBA& target, const std::string& value, const char* option) {
    auto c = parse_rgba(value);
    if (!c) {
        warn_color(value, option);
        return false;
    }
    target = *c;
    return true;
}

// One side of a code point range: "U+hex" or decimal.
std::optional<char32_t> read_codepoint(std::string_view text) {
    if (text.empty()) return std::nullopt;
    unsigned long long value = 0;
    if (text.size() > 2 && (text[0] == 'U' || text[0] == 'u') && text[1] == '+') {
        text.remove_prefix(2);
        for (char c : text) {
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
            if (digit < 0) return std::nullopt;
            value = std::min<unsigned long long>(value * 16 + static_cast<unsigned>(digit),
                                                 0xFFFFFFFFull);
        }
    } else {
        if (!all_digits(text)) return std::nullopt;
        value = static_cast<unsigned long long>(
            std::clamp<long long>(read_integer(text), 0, 0xFFFFFFFFll));
    }
    return static_cast<char32_t>(value);
}

// "first..last" or "first.."; none for invalid text.
std::optional<CodepointRange> read_codepoint_range(std::string_view text) {
    if (text.size() <= 2) return std::nullopt;
    std::size_t dots = text.find("..");
    if (dots == std::string_view::npos) return std::nullopt;
    auto first = read_codepoint(text.substr(0, dots));
    if (!first) return std::nullopt;
    CodepointRange range{*first, 0xFFFFFFFF};
    std::string_view rest = text.substr(dots + 2);
    if (!rest.empty()) {
        auto last = read_codepoint(rest);
        if (!last) return std::nullopt;
        range.last = *last;
    }
    if (range.last < range.first) return std::nullopt;
    return range;
}

// A font list element: family, then ":"-separated size offset and code point ranges.
template <typename Font>
Font read_font_entry(std::string_view element, const char* option) {
    auto fields = split_fields(element);
    Font font;
    font.family = std::string(fields[0]);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        if (fields[i].find("..") != std::string_view::npos) {
            if (auto range = read_codepoint_range(fields[i])) {
                font.ranges.push_back(*range);
            } else {
                warn("invalid codepoint range in %s\n", option);
            }
        } else {
            font.size_offset = static_cast<std::int8_t>(clamp_integer(fields[i], -128, 127));
        }
    }
    return font;
}

template <typename Font>
std::vector<Font> read_font_list(const std::string& value, const char* option) {
    std::vector<Font> fonts;
    for (const auto& element : value_list(value)) {
        if (!element.empty()) fonts.push_back(read_font_entry<Font>(element, option));
    }
    return fonts;
}

std::optional<std::uint32_t> lcd_order_by_name(std::string_view name) {
    if (equal_ignoring_case(name, "rgb")) return 2;
    if (equal_ignoring_case(name, "bgr")) return 3;
    if (equal_ignoring_case(name, "vrgb") || equal_ignoring_case(name, "rgbv")) return 4;
    if (equal_ignoring_case(name, "vbgr") || equal_ignoring_case(name, "bgrv")) return 5;
    if (equal_ignoring_case(name, "none")) return 1;
    return std::nullopt;
}

void read_output_rule(std::vector<OutputRule>& rules, const std::string& value,
                      const char* option) {
    auto fields = split_fields(value);
    OutputRule rule;
    std::string_view target = fields[0];
    if (all_digits(target) && target.front() != '0') {
        rule.index = static_cast<std::uint32_t>(clamp_integer(target, 1, 0xFFFFFFFFll));
    } else {
        rule.glob = std::string(target);
    }
    bool order_valid = false;
    if (fields.size() > 1) {
        if (auto order = lcd_order_by_name(fields[1])) {
            rule.lcd_order = *order;
            order_valid = true;
        } else {
            std::string field(fields[1]);
            warn("Unknown value '%s' for option '%s'(1)\n", field.c_str(), option);
        }
    }
    bool dpi_given = fields.size() > 2;
    if (dpi_given && !equal_ignoring_case(fields[2], "auto")) {
        if (all_digits(fields[2])) {
            rule.dpi = static_cast<std::uint16_t>(clamp_integer(fields[2], 0, 65535));
        } else {
            warn_unknown_value(value, option);
        }
    }
    warn_extra_fields(fields, 3, option);
    if (!order_valid && !dpi_given) return;
    for (auto& existing : rules) {
        bool same = rule.glob ? (existing.glob && *existing.glob == *rule.glob)
                              : (!existing.glob && existing.index == rule.index);
        if (same) {
            warn("Duplicate entry for option %s output glob: '%s'\n", option,
                 existing.glob ? existing.glob->c_str() : "");
            existing = rule;
            return;
        }
    }
    rules.push_back(rule);
}

// "C+S+minus": modifier names each followed by "+", then the key name.
void read_key_binding(KeyBinding& binding, std::string_view text) {
    struct Modifier {
        const char* name;
        std::uint32_t mask;
    };
    static constexpr Modifier MODIFIERS[] = {
        {"C", MODIFIER_CTRL},   {"Ctrl", MODIFIER_CTRL}, {"Control", MODIFIER_CTRL},
        {"A", MODIFIER_ALT},    {"M", MODIFIER_ALT},     {"Alt", MODIFIER_ALT},
        {"Meta", MODIFIER_ALT}, {"S", MODIFIER_SHIFT},   {"Shift", MODIFIER_SHIFT},
    };
    std::uint32_t mods = 0;
    std::size_t plus;
    while ((plus = text.find('+')) != std::string_view::npos) {
        std::string_view name = text.substr(0, plus);
        const Modifier* found = nullptr;
        for (const auto& m : MODIFIERS) {
            if (!name.empty() && starts_with_ignoring_case(m.name, name)) {
                found = &m;
                break;
            }
        }
        if (found) {
            mods |= found->mask;
        } else {
            warn("Invalid modifier key name '%.*s'\n", static_cast<int>(name.size()), name.data());
        }
        text.remove_prefix(plus + 1);
    }
    binding.mods = mods;
    binding.key = 0;
    binding.name = std::string(text);
    binding.is_name = true;
}

KeyBinding* key_binding(Settings& s, int index) {
    KeyBinding* bindings[] = {
        &s.bind_key_copy,        &s.bind_key_paste,      &s.bind_key_enlarge,
        &s.bind_key_shrink,      &s.bind_key_unicode,    &s.bind_key_pg_up,
        &s.bind_key_pg_down,     &s.bind_key_ln_up,      &s.bind_key_ln_down,
        &s.bind_key_mark_up,     &s.bind_key_mark_down,  &s.bind_key_copy_output,
        &s.bind_key_extern_pipe, &s.bind_key_kbd_select, &s.bind_key_open_pwd,
        &s.bind_key_html_dump,   &s.bind_key_duplicate,  &s.bind_key_debug,
        &s.bind_key_quit,
    };
    static_assert(std::size(bindings) == OPT_BIND_KEY_QUIT - OPT_BIND_KEY_COPY + 1);
    return bindings[index - OPT_BIND_KEY_COPY];
}

// An integer option checked against its range: out of range warns and keeps the old value.
template <typename T>
void read_ranged(T& target, const std::string& value, long long low, long long high,
                 const char* option) {
    long long v = read_integer(value);
    if (v < low || v > high) {
        warn_unknown_value(value, option);
        return;
    }
    target = static_cast<T>(v);
}

}  // namespace

int option_index(std::string_view name) {
    for (std::size_t i = 0; i < OPTIONS.size(); ++i) {
        if (name == OPTIONS[i].name) return static_cast<int>(i);
    }
    return -1;
}

std::string usage_text() {
    std::string out = format_string(
        "Usage:\n      \x1b[1m%s\x1b[m [options...] [-e/x command args...]\n\nOptions:\n",
        PROGRAM_NAME);
    for (const auto& o : OPTIONS) {
        if (o.argument != OPTION_ARGUMENT_REQUIRED && o.short_letter) {
            out += format_string(" \x1b[1m-%c\x1b[m, ", o.short_letter);
        } else {
            out += "     ";
        }
        int name_length = static_cast<int>(std::string_view(o.name).size());
        if (o.argument == OPTION_ARGUMENT_REQUIRED) {
            int sum = name_length + static_cast<int>(std::string_view(o.syntax).size());
            out += format_string(" \x1b[1m--%-s \x1b[m<%s>%-*s", o.name, o.syntax,
                                 sum < 28 ? 28 - sum : 1, "");
        } else {
            out += format_string(" \x1b[1m--%s\x1b[m %*s", o.name,
                                 name_length < 28 ? 30 - name_length : 1, "");
        }
        out += o.help;
        out += '\n';
    }
    return out;
}

void usage() {
    std::fputs(usage_text().c_str(), stdout);
    std::exit(0);
}

std::string version_text() {
    return "version: 0.0.0\n wayland:  enabled\n X11:      enabled\n utf8proc: enabled\n renderer: "
           "OpenGL 2.1\n";
}

void OptionHandler::handle_option(char letter, int index, const char* value) {
    if (letter) {
        handle_flag(letter);
        return;
    }
    if (index < 0 || index >= static_cast<int>(OPTION_COUNT)) return;
    // A missing value reaches the readers as the empty text, as "key =" does in the file.
    handle_value(index, value ? value : "", value != nullptr);
}

void OptionHandler::handle_flag(char letter) {
    switch (letter) {
        case 'X':
            s_.xorg_only = true;
            break;
        case 'H':
            s_.hold = true;
            break;
        case 't':
            s_.no_dynamic_title = true;
            break;
        case 'l':
            s_.flush_fc_cache = true;
            break;
        case 'o':
            s_.preload_all_fonts = true;
            break;
        case 'b':
            s_.font_box_chars = true;
            break;
        case 'D':
            s_.debug_pty = true;
            break;
        case 'G':
            s_.debug_gfx = true;
            break;
        case 'F':
            s_.debug_font = true;
            break;
        case 'v':
            std::fputs(version_text().c_str(), stdout);
            std::exit(0);
        case 'h':
            usage();
        default:
            break;  // 'c' acts in the first command-line pass only
    }
}

void OptionHandler::handle_value(int index, const std::string& value, bool given) {
    const char* name = OPTIONS[static_cast<std::size_t>(index)].name;
    if (index >= OPT_COLOR_0 && index <= OPT_COLOR_15) {
        std::size_t n = static_cast<std::size_t>(index - OPT_COLOR_0);
        if (read_rgb(s_.colors[n], value, name)) user_colors_.set(2 + n);
        return;
    }
    if (index >= OPT_BIND_KEY_COPY && index <= OPT_BIND_KEY_QUIT) {
        read_key_binding(*key_binding(s_, index), value);
        return;
    }
    switch (index) {
        case OPT_CONFIG_FILE:
            break;  // first command-line pass only
        case OPT_TERM:
            value_list(value);
            s_.term = value;
            break;
        case OPT_TITLE:
            value_list(value);
            s_.title = value;
            break;
        case OPT_TITLE_FORMAT:
            value_list(value);
            s_.title_format = value;
            break;
        case OPT_LOCALE:
            value_list(value);
            s_.locale = value;
            break;
        case OPT_VTE_VERSION:
            s_.vte_version = value_list(value).front();
            break;
        case OPT_APP_ID: {
            auto elements = value_list(value);
            if (elements.front().empty()) {
                s_.app_id = s_.app_class = "Zelto";
            } else {
                s_.app_id = elements[0];
                s_.app_class = elements.size() > 1 ? elements[1] : elements[0];
            }
            break;
        }
        case OPT_DIRECTORY:
            s_.directory = value_list(value).front();
            break;
        case OPT_URI_HANDLER:
            if (!value_list(value).front().empty()) s_.uri_handler = value;
            break;
        case OPT_ROWS:
            read_ranged(s_.rows, value, 1, 65535, name);
            break;
        case OPT_COLUMNS:
            read_ranged(s_.columns, value, 1, 65535, name);
            break;
        case OPT_DECORATIONS:
            if (equal_ignoring_case(value, "full")) {
                s_.decorations = DECORATIONS_FULL;
            } else if (equal_ignoring_case(value, "minimal")) {
                s_.decorations = DECORATIONS_MINIMAL;
            } else if (equal_ignoring_case(value, "none")) {
                s_.decorations = DECORATIONS_NONE;
            } else {
                warn_unknown_value(value, name);
            }
            break;
        case OPT_INCREMENTAL_RESIZE:
            read_boolean(s_.incremental_resize, value, given, name);
            break;
        case OPT_BOLD_IS_BRIGHT:
            read_boolean(s_.bold_is_bright, value, given, name);
            break;
        case OPT_BG_BLUR:
            read_boolean(s_.bg_blur, value, given, name);
            break;
        case OPT_ALWAYS_UNDERLINE_LINKS:
            read_boolean(s_.always_underline_links, value, given, name);
            break;
        case OPT_FORCE_CSD:
            read_boolean(s_.force_csd, value, given, name);
            break;
        case OPT_DECORATION_THEME:
            if (equal_ignoring_case(value, "dark")) {
                s_.decoration_theme = DECORATION_THEME_DARK;
            } else if (equal_ignoring_case(value, "none")) {
                s_.decoration_theme = DECORATION_THEME_NONE;
            } else if (equal_ignoring_case(value, "auto")) {
                s_.decoration_theme = DECORATION_THEME_AUTO;
            }
            break;
        case OPT_HIDE_POINTER:
            break;  // accepted; the pointer mode stays "true"
        case OPT_CURSOR_ANIM: {
            auto fields = split_fields(value);
            s_.cursor_anim.move = field_boolean(fields[0]);
            if (fields.size() > 1) s_.cursor_anim.blink_fade = field_boolean(fields[1]);
            if (fields.size() > 2) {
                auto period = read_fraction(fields[2]);
                if (period && *period > 0 && *period <= 1) {
                    s_.cursor_anim.period = static_cast<float>(*period);
                } else {
                    warn("Failed to parse '%s' as float in range 0.0 - 1.0 for option '%s'\n",
                         value.c_str(), name);
                }
            }
            warn_extra_fields(fields, 3, name);
            break;
        }
        case OPT_WINDOWOPS: {
            auto fields = split_fields(value);
            s_.windowops.manipulation = field_boolean(fields[0]);
            if (fields.size() > 1) s_.windowops.information = field_boolean(fields[1]);
            warn_extra_fields(fields, 2, name);
            break;
        }
        case OPT_IO_CHUNK_DELAY: {
            auto fields = split_fields(value);
            s_.io_chunk_delay.time_us =
                static_cast<std::uint32_t>(clamp_integer(fields[0], 0, 0xFFFFFFFFll));
            if (fields.size() > 1)
                s_.io_chunk_delay.timeout_ms =
                    static_cast<std::uint32_t>(clamp_integer(fields[1], 0, 0xFFFFFFFFll));
            warn_extra_fields(fields, 2, name);
            break;
        }
        case OPT_BG_COLOR:
            if (read_rgba(s_.bg_color, value, name)) user_colors_.set(0);
            break;
        case OPT_FG_COLOR:
            if (read_rgb(s_.fg_color, value, name)) user_colors_.set(1);
            break;
        case OPT_CURSOR_BG_COLOR: {
            ColorRGBA c;
            if (equal_ignoring_case(value, "none")) {
                s_.cursor_bg_color.reset();
            } else if (read_rgba(c, value, name)) {
                s_.cursor_bg_color = c;
            }
            break;
        }
        case OPT_CURSOR_FG_COLOR: {
            ColorRGB c;
            if (equal_ignoring_case(value, "none")) {
                s_.cursor_fg_color.reset();
            } else if (read_rgb(c, value, name)) {
                s_.cursor_fg_color = c;
            }
            break;
        }
        case OPT_HIGHLIGHT_BG_COLOR:
            read_rgba(s_.highlight_bg_color, value, name);
            break;
        case OPT_HIGHLIGHT_FG_COLOR: {
            ColorRGB c;
            if (read_rgb(c, value, name)) s_.highlight_fg_color = c;
            break;
        }
        case OPT_VISUAL_BELL: {
            ColorRGBA c;
            if (value == "none") {
                s_.visual_bell.reset();
            } else if (read_rgba(c, value, name)) {
                s_.visual_bell = c;
            }
            break;
        }
        case OPT_COLORSCHEME: {
            int scheme = color_scheme_by_name(value);
            if (scheme < 0 && all_digits(value))
                scheme = static_cast<int>(clamp_integer(value, 0, 1000));
            if (scheme < 0 || scheme >= COLOR_SCHEME_COUNT) {
                warn_unknown_value(value, name);
            } else {
                s_.colorscheme = static_cast<std::uint8_t>(scheme);
            }
            break;
        }
        case OPT_UNFOCUSED_TINT:
            read_rgba(s_.unfocused_tint, value, name);
            break;
        case OPT_FONT:
            s_.font = read_font_list<PrimaryFont>(value, name);
            break;
        case OPT_FONT_SYMBOL:
            s_.font_symbol = read_font_list<UnstyledFont>(value, name);
            break;
        case OPT_FONT_COLOR:
            s_.font_color = read_font_list<UnstyledFont>(value, name);
            break;
        case OPT_STYLE_REGULAR:
            value_list(value);
            s_.style_regular = value;
            break;
        case OPT_STYLE_BOLD:
            value_list(value);
            s_.style_bold = value;
            break;
        case OPT_STYLE_ITALIC:
            value_list(value);
            s_.style_italic = value;
            break;
        case OPT_STYLE_BOLDITALIC:
            value_list(value);
            s_.style_bolditalic = value;
            break;
        case OPT_EXCLUDE_LCD: {
            s_.exclude_lcd_given = true;
            auto elements = value_list(value);
            if (elements.front().size() < 4) break;
            s_.exclude_lcd.clear();
            for (const auto& element : elements) {
                if (auto range = read_codepoint_range(element)) {
                    s_.exclude_lcd.push_back(*range);
                } else {
                    warn("invalid codepoint range in %s\n", name);
                }
            }
            break;
        }
        case OPT_FONT_SIZE: {
            auto fields = split_fields(value);
            std::string size(fields[0]);
            read_ranged(s_.font_size, size, 1, 200, name);
            warn_extra_fields(fields, 2, name);
            break;
        }
        case OPT_DPI:
            if (equal_ignoring_case(value, "auto")) {
                s_.dpi_auto = true;
            } else {
                read_ranged(s_.dpi, value, 1, 65535, name);
                s_.current_dpi = s_.dpi;
            }
            break;
        case OPT_GLYPH_PADDING: {
            auto fields = split_fields(value);
            s_.glyph_padding.horizontal =
                static_cast<std::uint8_t>(clamp_integer(fields[0], 0, 127));
            if (fields.size() > 1)
                s_.glyph_padding.vertical =
                    static_cast<std::uint8_t>(clamp_integer(fields[1], 0, 127));
            warn_extra_fields(fields, 2, name);
            break;
        }
        case OPT_GLYPH_ALIGN: {
            char center = value.empty() ? '\0' : value[0];
            if (center >= 0x21 && center <= 0x7e) {
                s_.glyph_align.center = center;
            } else if (center == '\0') {
                warn("Cannot align to '%s'(%d), must be graphic ASCII character\n", "", 0);
            } else {
                warn("Cannot align to '%c'(%d), must be graphic ASCII character\n", center, center);
            }
            if (value.size() > 1 && value[1] == ':') {
                auto fields = split_fields(std::string_view(value).substr(2));
                s_.glyph_align.y_offset =
                    static_cast<std::int8_t>(clamp_integer(fields[0], -128, 127));
                if (fields.size() > 1)
                    s_.glyph_align.x_offset =
                        static_cast<std::int8_t>(clamp_integer(fields[1], -128, 127));
                warn_extra_fields(fields, 2, name);
            }
            break;
        }
        case OPT_FIXED_LCD_ORDER:
            if (auto order = lcd_order_by_name(value)) {
                s_.fixed_lcd_order = s_.current_lcd_order = *order;
            } else {
                warn_unknown_value(value, name);
                s_.fixed_lcd_order = s_.current_lcd_order;
            }
            break;
        case OPT_OUTPUT:
            read_output_rule(s_.output, value, name);
            break;
        case OPT_CURSOR_STYLE: {
            auto fields = split_fields(value);
            if (equal_ignoring_case(fields[0], "block")) {
                s_.cursor_style.shape = CURSOR_SHAPE_BLOCK;
            } else if (equal_ignoring_case(fields[0], "beam")) {
                s_.cursor_style.shape = CURSOR_SHAPE_BEAM;
            } else if (equal_ignoring_case(fields[0], "underline")) {
                s_.cursor_style.shape = CURSOR_SHAPE_UNDERLINE;
            }
            if (fields.size() > 1) s_.cursor_style.blinking = field_boolean(fields[1]);
            warn_extra_fields(fields, 2, name);
            break;
        }
        case OPT_BLINK: {
            auto fields = split_fields(value);
            s_.blink.enabled = field_boolean(fields[0]);
            constexpr long long LOW = std::numeric_limits<std::int32_t>::min();
            constexpr long long HIGH = std::numeric_limits<std::int32_t>::max();
            if (fields.size() > 1)
                s_.blink.rate_ms = static_cast<std::int32_t>(clamp_integer(fields[1], LOW, HIGH));
            if (fields.size() > 2)
                s_.blink.suspend_ms =
                    static_cast<std::int32_t>(clamp_integer(fields[2], LOW, HIGH));
            if (fields.size() > 3)
                s_.blink.end_s = static_cast<std::int32_t>(clamp_integer(fields[3], LOW, HIGH));
            warn_extra_fields(fields, 4, name);
            break;
        }
        case OPT_PADDING: {
            auto fields = split_fields(value);
            s_.padding.center = field_boolean(fields[0]);
            if (fields.size() > 1)
                s_.padding.extra = static_cast<std::uint8_t>(clamp_integer(fields[1], 0, 255));
            warn_extra_fields(fields, 2, name);
            break;
        }
        case OPT_SCROLLBAR: {
            auto fields = split_fields(value);
            // The width is kept in a byte; wider bars are cut to 255 like the other clamps.
            s_.scrollbar.width = static_cast<std::uint8_t>(clamp_integer(fields[0], 0, 255));
            std::uint32_t* rest[] = {&s_.scrollbar.min_length, &s_.scrollbar.hide_delay_ms,
                                     &s_.scrollbar.fade_time_ms};
            for (std::size_t i = 1; i < fields.size() && i < 4; ++i)
                *rest[i - 1] = static_cast<std::uint32_t>(clamp_integer(fields[i], 0, 32767));
            warn_extra_fields(fields, 4, name);
            break;
        }
        case OPT_SCROLL_LINES: {
            double lines = std::clamp(read_fraction(value).value_or(0), -1e9, 1e9);
            s_.scroll_lines =
                lines >= 255 ? 255 : static_cast<std::uint8_t>(static_cast<long long>(lines));
            break;
        }
        case OPT_SCROLLBACK:
            s_.scrollback = static_cast<std::uint32_t>(clamp_integer(value, 0, 0xFFFFFFFFll));
            break;
        case OPT_EXTERN_PIPE: {
            std::size_t colon = value.find(':');
            std::string program = value.substr(0, colon);
            value_list(program);
            s_.extern_pipe.program = program;
            if (colon == std::string::npos) break;
            std::string_view mode = std::string_view(value).substr(colon + 1);
            if (equal_ignoring_case(mode, "buffer")) {
                s_.extern_pipe.mode = EXTERN_PIPE_MODE_BUFFER;
            } else if (equal_ignoring_case(mode, "screen") ||
                       equal_ignoring_case(mode, "viewport")) {
                s_.extern_pipe.mode = EXTERN_PIPE_MODE_SCREEN;
            } else if (equal_ignoring_case(mode, "command")) {
                s_.extern_pipe.mode = EXTERN_PIPE_MODE_COMMAND;
            } else {
                warn_unknown_value(value, name);
            }
            break;
        }
        case OPT_DEBUG_VT: {
            bool number = !value.empty() && is_digit(value.front());
            s_.debug_vt =
                number ? static_cast<std::uint32_t>(clamp_integer(value, 0, 0xFFFFFFFFll)) : 5000;
            break;
        }
        default:
            break;
    }
}

void OptionHandler::apply_color_scheme() {
    const ColorScheme& scheme =
        COLOR_SCHEMES[std::min<std::size_t>(s_.colorscheme, COLOR_SCHEME_COUNT - 1)];
    auto hex = [](const char* text) { return std::string("#") + text; };
    for (std::size_t i = 0; i < 16; ++i) {
        if (!user_colors_.test(2 + i))
            s_.colors[i] = parse_rgb(hex(scheme.colors[i])).value_or(ColorRGB{});
    }
    if (!user_colors_.test(0))
        s_.bg_color = parse_rgba(hex(scheme.colors[16])).value_or(ColorRGBA{});
    if (!user_colors_.test(1)) s_.fg_color = parse_rgb(hex(scheme.colors[17])).value_or(ColorRGB{});
    user_colors_.reset();
}

}  // namespace zelto
