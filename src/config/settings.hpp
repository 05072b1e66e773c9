#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/color.hpp"

namespace zelto {

// A code point range, both ends inclusive.
struct CodepointRange {
    char32_t first = 0;
    char32_t last = 0xFFFFFFFF;
    friend bool operator==(const CodepointRange&, const CodepointRange&) = default;
};

// One `font` entry. The file paths are empty until the fonts are resolved, and stay empty for
// styles that have no file.
struct PrimaryFont {
    std::string family;
    std::string regular_file;
    std::string bold_file;
    std::string italic_file;
    std::string bold_italic_file;
    std::int8_t size_offset = 0;
    std::vector<CodepointRange> ranges;  // empty: every code point
};

// One `font-symbol` or `font-color` entry.
struct UnstyledFont {
    std::string family;
    std::string file;
    std::int8_t size_offset = 0;
    std::vector<CodepointRange> ranges;  // empty: every code point
};

// One `output` rule: which outputs it matches and what it applies there.
struct OutputRule {
    std::optional<std::string> glob;  // matched against the output name
    std::uint32_t index = 0;          // output index; 0 is none
    std::uint32_t lcd_order = 0;      // numbered like LcdMode; 0: unset
    std::uint16_t dpi = 0;            // 0: automatic
};

// Modifier mask bits of key bindings and key events.
enum ModifierMask : std::uint32_t {
    MODIFIER_SHIFT = 1,
    MODIFIER_ALT = 2,
    MODIFIER_CTRL = 4,
};

// A `bind-key-*` option. Defaults hold key values; a configured binding holds a key name until
// the App resolves it through the Window once that exists.
struct KeyBinding {
    std::uint32_t key = 0;  // key value (character code or key symbol); 0: unbound
    std::string name;       // key name waiting for resolution
    bool is_name = false;   // `name` is set and `key` not yet resolved
    std::uint32_t mods = 0;
};

enum Decorations : std::uint8_t {
    DECORATIONS_FULL = 0,
    DECORATIONS_MINIMAL = 1,
    DECORATIONS_NONE = 2,
};

enum DecorationTheme : std::uint8_t {
    DECORATION_THEME_NONE = 0,
    DECORATION_THEME_AUTO = 2,
    DECORATION_THEME_DARK = 3,
};

enum HidePointer : std::uint8_t {
    HIDE_POINTER_FALSE = 0,
    HIDE_POINTER_TRUE = 1,
    HIDE_POINTER_FORCE_FALSE = 2,
    HIDE_POINTER_FORCE_TRUE = 3,
    HIDE_POINTER_IF_NOT_REPORTING = 4,
};

enum CursorShape : std::uint8_t {
    CURSOR_SHAPE_BLOCK = 0,
    CURSOR_SHAPE_BEAM = 1,
    CURSOR_SHAPE_UNDERLINE = 2,
};

enum ExternPipeMode : std::uint8_t {
    EXTERN_PIPE_MODE_BUFFER = 0,
    EXTERN_PIPE_MODE_SCREEN = 1,
    EXTERN_PIPE_MODE_COMMAND = 2,
};

inline constexpr const char* DEFAULT_TITLE_FORMAT =
    "{?sVtTitle:{sVtTitle} - }{?bCommandIsRunning && !bIsAltBufferEnabled && "
    "i32CommandTimeSec > 1: ({sRunningCommand}) }{sAppTitle}";

// Key symbol values of the default bindings (the X11/xkb numbering).
inline constexpr std::uint32_t KEY_SYM_PAGE_UP = 0xff55;
inline constexpr std::uint32_t KEY_SYM_PAGE_DOWN = 0xff56;
inline constexpr std::uint32_t KEY_SYM_LEFT = 0xff51;
inline constexpr std::uint32_t KEY_SYM_UP = 0xff52;
inline constexpr std::uint32_t KEY_SYM_RIGHT = 0xff53;
inline constexpr std::uint32_t KEY_SYM_DOWN = 0xff54;
inline constexpr std::uint32_t KEY_SYM_F10 = 0xffc7;
inline constexpr std::uint32_t KEY_SYM_F12 = 0xffc9;

// The one configuration record, filled by settings_init before anything else runs. Members are
// named after their options.
struct Settings {
    std::vector<std::string> saved_argv;

    // The child program: `command_argv[0]` is the path.
    std::string command_path;
    std::vector<std::string> command_argv;

    std::string config_file;  // the file read (or that would have been read); empty: none
    bool skip_config = false;
    bool xorg_only = false;
    std::string term = "xterm-256color";
    std::string vte_version = "6201";  // empty: VTE_VERSION is not set
    std::string title = "Zelto";
    bool hold = false;
    bool no_dynamic_title = false;
    std::string title_format = DEFAULT_TITLE_FORMAT;
    std::string app_id = "Zelto";     // Wayland app id, X11 instance name
    std::string app_class = "Zelto";  // X11 class
    std::string locale;               // as given; empty: from the environment
    std::uint32_t rows = 24;
    std::uint32_t columns = 80;
    Decorations decorations = DECORATIONS_FULL;
    bool incremental_resize = true;
    DecorationTheme decoration_theme = DECORATION_THEME_AUTO;
    HidePointer hide_pointer = HIDE_POINTER_TRUE;

    struct CursorAnim {
        bool move = false;
        bool blink_fade = false;
        float period = 0.3f;  // fade period as a fraction of the blink rate
    } cursor_anim;

    std::string directory;  // empty: stay where we are

    struct Windowops {
        bool manipulation = true;
        bool information = true;
    } windowops;

    struct IoChunkDelay {
        std::uint32_t time_us = 0;
        std::uint32_t timeout_ms = 5;
    } io_chunk_delay;

    // Colours: the scheme fills every one the user did not set (see settings_init).
    ColorRGBA bg_color{0x00, 0x00, 0x00, 0xEE};
    ColorRGB fg_color{0xFF, 0xFF, 0xFF};
    // color-0 ... color-15; these defaults are those of the default scheme.
    std::array<ColorRGB, 16> colors{{{0x00, 0x00, 0x00},
                                     {0xAB, 0x1F, 0x00},
                                     {0xD2, 0xFF, 0x00},
                                     {0xFF, 0x7D, 0x00},
                                     {0x00, 0x51, 0x8C},
                                     {0xB7, 0x00, 0x6F},
                                     {0x00, 0xAE, 0xA0},
                                     {0xAA, 0xAA, 0xAA},
                                     {0x54, 0x54, 0x54},
                                     {0xBB, 0x39, 0x39},
                                     {0xAF, 0xFF, 0x52},
                                     {0xFF, 0xA8, 0x55},
                                     {0x10, 0x7B, 0xC9},
                                     {0xFF, 0x36, 0x8A},
                                     {0x40, 0xFF, 0xEF},
                                     {0xFF, 0xFF, 0xFF}}};
    std::optional<ColorRGBA> cursor_bg_color;  // none: no own cursor background
    std::optional<ColorRGB> cursor_fg_color;   // none: no own cursor foreground
    ColorRGBA highlight_bg_color{0x32, 0x32, 0x32, 0xFF};
    std::optional<ColorRGB> highlight_fg_color;                                // none: not used
    std::optional<ColorRGBA> visual_bell = ColorRGBA{0xC8, 0xC8, 0xC8, 0x1E};  // none: off
    bool bold_is_bright = true;
    std::uint8_t colorscheme = 0;
    ColorRGBA unfocused_tint{0, 0, 0, 0};  // alpha 0: no tint

    // Fonts. An empty `font` list means "Monospace".
    std::vector<PrimaryFont> font;
    std::string style_regular;  // empty: the family's default style
    std::string style_bold = "Bold";
    std::string style_italic = "Italic";
    std::string style_bolditalic = "Bold:Italic";
    std::vector<UnstyledFont> font_symbol;
    std::vector<UnstyledFont> font_color;
    bool flush_fc_cache = false;
    bool preload_all_fonts = true;
    std::vector<CodepointRange> exclude_lcd;  // filled with the defaults unless given
    bool exclude_lcd_given = false;
    std::uint16_t font_size = 9;
    std::uint16_t dpi = 96;          // configured (default) DPI
    std::uint16_t current_dpi = 96;  // changed by `output` rules
    bool dpi_auto = false;

    struct GlyphPadding {
        std::uint8_t horizontal = 0;
        std::uint8_t vertical = 0;
    } glyph_padding;

    struct GlyphAlign {
        char center = '(';
        std::int8_t y_offset = 0;
        std::int8_t x_offset = 0;
    } glyph_align;

    // LCD orders are numbered like the fonts' LcdMode (2: horizontal RGB).
    std::uint32_t fixed_lcd_order = 2;    // configured (default) order
    std::uint32_t current_lcd_order = 2;  // changed by `output` rules
    bool font_box_chars = false;
    std::vector<OutputRule> output;

    // Set while the font files are resolved.
    bool has_bold_font = false;
    bool has_italic_font = false;
    bool has_bold_italic_font = false;
    bool has_symbol_font = false;
    bool has_color_font = false;

    struct CursorStyle {
        CursorShape shape = CURSOR_SHAPE_BLOCK;
        bool blinking = true;
    } cursor_style;

    bool bg_blur = true;

    struct Blink {
        bool enabled = true;
        std::int32_t rate_ms = 750;
        std::int32_t suspend_ms = 500;
        std::int32_t end_s = 15;  // below 0: never stop blinking
    } blink;

    struct Padding {
        bool center = true;
        std::uint8_t extra = 0;
    } padding;

    bool always_underline_links = false;

    struct Scrollbar {
        std::uint8_t width = 10;
        std::uint32_t min_length = 20;
        std::uint32_t hide_delay_ms = 2000;
        std::uint32_t fade_time_ms = 150;
    } scrollbar;

    std::uint8_t scroll_lines = 3;
    std::uint32_t scrollback = 2000;
    std::string uri_handler = "xdg-open";

    struct ExternPipe {
        std::string program;  // empty: not configured
        ExternPipeMode mode = EXTERN_PIPE_MODE_COMMAND;
    } extern_pipe;

    bool force_csd = false;

    KeyBinding bind_key_copy{'c', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_paste{'v', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_enlarge{'=', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_shrink{'-', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_unicode{'u', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_pg_up{KEY_SYM_PAGE_UP, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_pg_down{KEY_SYM_PAGE_DOWN, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_ln_up{KEY_SYM_UP, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_ln_down{KEY_SYM_DOWN, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_mark_up{KEY_SYM_LEFT, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_mark_down{KEY_SYM_RIGHT, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_copy_output{'x', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_extern_pipe{'\\', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_kbd_select{'k', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_open_pwd{KEY_SYM_F10, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_html_dump{KEY_SYM_F12, {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_duplicate{'d', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_debug{'/', {}, false, MODIFIER_CTRL | MODIFIER_SHIFT};
    KeyBinding bind_key_quit{};

    bool debug_pty = false;
    std::uint32_t debug_vt = 0;  // microseconds per byte; 0 is off

    bool debug_gfx = false;
    bool debug_font = false;
};

Settings& settings();

// Builds `settings()`: defaults, the configuration file, the command line, the locale and the
// colour scheme. "--help" and "--version" print and exit with status 0 from here.
void settings_init(int argc, char** argv);
void settings_cleanup();

}  // namespace zelto
