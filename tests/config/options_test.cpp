// Every option of the table, set from the configuration file or the command line, with the
// stored value observed.
#include "config/settings_fixture.hpp"

namespace zelto {
namespace {

using testing_support::SettingsTest;
using Strings = std::vector<std::string>;
using Ranges = std::vector<CodepointRange>;

class OptionsTest : public SettingsTest {};

TEST_F(OptionsTest, TextOptions) {
    const Settings& s = from_file(
        "term = xterm-kitty\n"
        "vte-version = 7000\n"
        "title = \" My Term \"\n"
        "title-format = {sVtTitle}\n"
        "locale = C.UTF-8\n"
        "directory = [/tmp, ignored]\n"
        "uri-handler = firefox --new-tab\n"
        "style-regular = Medium\n"
        "style-bold = [Heavy]\n"
        "style-italic = Oblique\n"
        "style-bolditalic = Heavy Oblique\n");
    EXPECT_EQ(s.term, "xterm-kitty");
    EXPECT_EQ(s.vte_version, "7000");
    EXPECT_EQ(s.title, " My Term ");
    EXPECT_EQ(s.title_format, "{sVtTitle}");
    EXPECT_EQ(s.locale, "C.UTF-8");
    EXPECT_EQ(s.directory, "/tmp");
    EXPECT_EQ(s.uri_handler, "firefox --new-tab");
    EXPECT_EQ(s.style_regular, "Medium");
    EXPECT_EQ(s.style_bold, "[Heavy]");
    EXPECT_EQ(s.style_italic, "Oblique");
    EXPECT_EQ(s.style_bolditalic, "Heavy Oblique");
    EXPECT_EQ(from_file("uri-handler = \"\"\n").uri_handler, "xdg-open");
    EXPECT_EQ(from_file("term = [a, b]\n").term, "[a, b]");  // a list is stored with its brackets
}

TEST_F(OptionsTest, AppId) {
    const Settings& s = from_file("app-id = [myterm, MyTerm]\n");
    EXPECT_EQ(s.app_id, "myterm");
    EXPECT_EQ(s.app_class, "MyTerm");
    from_file("app-id = single\n");
    EXPECT_EQ(settings().app_id, "single");
    EXPECT_EQ(settings().app_class, "single");
    init({"--app-id="});
    EXPECT_EQ(settings().app_id, "Zelto");
    EXPECT_EQ(settings().app_class, "Zelto");
}

TEST_F(OptionsTest, RowsAndColumnsAreRangeChecked) {
    EXPECT_EQ(init({"--rows=65535", "--columns=1"}).rows, 65535u);
    EXPECT_EQ(settings().columns, 1u);
    const Settings& s = from_file("rows = 0\ncolumns = 65536\nrows = 99999999999999999999999\n");
    EXPECT_EQ(s.rows, 24u);
    EXPECT_EQ(s.columns, 80u);
    EXPECT_TRUE(warned("Unknown value '0' for option 'rows'\n"));
    EXPECT_TRUE(warned("Unknown value '65536' for option 'columns'\n"));
    EXPECT_TRUE(warned("Unknown value '99999999999999999999999' for option 'rows'\n"));
    EXPECT_EQ(from_file("rows = 50abc\n").rows, 50u);  // read as far as digits go
}

TEST_F(OptionsTest, WindowOptions) {
    const Settings& s = from_file(
        "decorations = Minimal\n"
        "incremental-resize = false\n"
        "decoration-theme = dark\n"
        "hide-pointer = false\n"
        "windowops = false:true\n"
        "bg-blur = 0\n"
        "force-csd\n");
    EXPECT_EQ(s.decorations, DECORATIONS_MINIMAL);
    EXPECT_FALSE(s.incremental_resize);
    EXPECT_EQ(s.decoration_theme, DECORATION_THEME_DARK);
    EXPECT_EQ(s.hide_pointer, HIDE_POINTER_TRUE);  // accepted, not interpreted
    EXPECT_FALSE(s.windowops.manipulation);
    EXPECT_TRUE(s.windowops.information);
    EXPECT_FALSE(s.bg_blur);
    EXPECT_TRUE(s.force_csd);

    from_file("decorations = fancy\ndecoration-theme = pink\ndecoration-theme = none\n");
    EXPECT_TRUE(warned("Unknown value 'fancy' for option 'decorations'\n"));
    EXPECT_EQ(settings().decorations, DECORATIONS_FULL);
    EXPECT_EQ(settings().decoration_theme, DECORATION_THEME_NONE);
    EXPECT_EQ(init({"--decorations", "none"}).decorations, DECORATIONS_NONE);
    EXPECT_FALSE(init({"--windowops=0:0:1"}).windowops.information);
    EXPECT_TRUE(warned("Unexpected extra argument '1' for option 'windowops'\n"));
}

TEST_F(OptionsTest, Booleans) {
    for (const char* t : {"TRUE", "1", "10", "truelove"}) {
        EXPECT_TRUE(
            init({"--bold-is-bright=false", std::string("--bold-is-bright=") + t}).bold_is_bright)
            << t;
    }
    for (const char* f : {"False", "0", "falsetto"}) {
        EXPECT_FALSE(init({std::string("--bold-is-bright=") + f}).bold_is_bright) << f;
    }
    EXPECT_FALSE(init({"--bold-is-bright=0", "--bold-is-bright=yes"}).bold_is_bright);
    EXPECT_TRUE(warned("Failed to parse 'yes' as bool for option 'bold-is-bright'\n"));
    EXPECT_FALSE(from_file("always-underline-links = false\n").always_underline_links);
    EXPECT_TRUE(warned("invalid option 'always-underline-links'"));
}

TEST_F(OptionsTest, CursorAnimAndStyleAndBlink) {
    const Settings& s = from_file(
        "cursor-anim = true:1:0.5\n"
        "cursor-style = Beam:false\n"
        "blink = false:500:250:-1\n");
    EXPECT_TRUE(s.cursor_anim.move);
    EXPECT_TRUE(s.cursor_anim.blink_fade);
    EXPECT_FLOAT_EQ(s.cursor_anim.period, 0.5f);
    EXPECT_EQ(s.cursor_style.shape, CURSOR_SHAPE_BEAM);
    EXPECT_FALSE(s.cursor_style.blinking);
    EXPECT_FALSE(s.blink.enabled);
    EXPECT_EQ(s.blink.rate_ms, 500);
    EXPECT_EQ(s.blink.suspend_ms, 250);
    EXPECT_EQ(s.blink.end_s, -1);

    from_file("cursor-anim = false:false:1.5\n");
    EXPECT_FLOAT_EQ(settings().cursor_anim.period, 0.3f);
    EXPECT_TRUE(
        warned("Failed to parse 'false:false:1.5' as float in range 0.0 - 1.0 for option "
               "'cursor-anim'\n"));
    EXPECT_FLOAT_EQ(init({"--cursor-anim=1:0:0"}).cursor_anim.period, 0.3f);
    EXPECT_EQ(init({"--cursor-style=underline"}).cursor_style.shape, CURSOR_SHAPE_UNDERLINE);
    EXPECT_EQ(init({"--cursor-style=blob:1:2"}).cursor_style.shape, CURSOR_SHAPE_BLOCK);
    EXPECT_TRUE(warned("Unexpected extra argument '2' for option 'cursor-style'\n"));
}

TEST_F(OptionsTest, IoChunkDelayPaddingScrolling) {
    const Settings& s = from_file(
        "io-chunk-delay = 300:20\n"
        "padding = false:999\n"
        "scroll-lines = 2.9\n"
        "scrollback = -5\n");
    EXPECT_EQ(s.io_chunk_delay.time_us, 300u);
    EXPECT_EQ(s.io_chunk_delay.timeout_ms, 20u);
    EXPECT_FALSE(s.padding.center);
    EXPECT_EQ(s.padding.extra, 255);
    EXPECT_EQ(s.scroll_lines, 2);
    EXPECT_EQ(s.scrollback, 0u);
    EXPECT_EQ(init({"--io-chunk-delay=-4"}).io_chunk_delay.time_us, 0u);
    EXPECT_EQ(init({"--padding=1:-3"}).padding.extra, 0);
    EXPECT_EQ(init({"--scroll-lines=1000"}).scroll_lines, 255);
    EXPECT_EQ(init({"--scroll-lines=-1"}).scroll_lines, 255);
    EXPECT_EQ(init({"--scrollback=100000"}).scrollback, 100000u);
}

TEST_F(OptionsTest, Scrollbar) {
    const Settings& s = init({"--scrollbar=8"});
    EXPECT_EQ(s.scrollbar.width, 8);
    EXPECT_EQ(s.scrollbar.min_length, 20u);
    EXPECT_EQ(s.scrollbar.hide_delay_ms, 2000u);
    EXPECT_EQ(s.scrollbar.fade_time_ms, 150u);
    init({"--scrollbar=300:40000:-1:100:7"});
    EXPECT_EQ(settings().scrollbar.width, 255);
    EXPECT_EQ(settings().scrollbar.min_length, 32767u);
    EXPECT_EQ(settings().scrollbar.hide_delay_ms, 0u);
    EXPECT_EQ(settings().scrollbar.fade_time_ms, 100u);
    EXPECT_TRUE(warned("Unexpected extra argument '7' for option 'scrollbar'\n"));
    EXPECT_FALSE(warned("300"));
}

TEST_F(OptionsTest, ColorsAndTheSchemeFillsOnlyTheRest) {
    const Settings& s = from_file(
        "colorscheme = xterm\n"
        "color-1 = \"#010203\"\n"
        "color-15 = rgb:ff/00/00\n"
        "bg-color = \"#11223344\"\n"
        "cursor-bg-color = \"#aabbcc\"\n"
        "cursor-fg-color = \"#ddeeff\"\n"
        "highlight-bg-color = \"#01020304\"\n"
        "highlight-fg-color = \"#050607\"\n"
        "visual-bell = \"#ffffff10\"\n"
        "unfocused-tint = \"#00000080\"\n"
        "bold-is-bright = false\n");
    EXPECT_EQ(s.colorscheme, 2);
    EXPECT_EQ(s.colors[0], (ColorRGB{0, 0, 0}));
    EXPECT_EQ(s.colors[1], (ColorRGB{1, 2, 3}));
    EXPECT_EQ(s.colors[2], (ColorRGB{0, 0xCD, 0}));
    EXPECT_EQ(s.colors[15], (ColorRGB{255, 0, 0}));
    EXPECT_EQ(s.bg_color, (ColorRGBA{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(s.fg_color, (ColorRGB{255, 255, 255}));
    EXPECT_EQ(s.cursor_bg_color, (ColorRGBA{0xAA, 0xBB, 0xCC, 255}));
    EXPECT_EQ(s.cursor_fg_color, (ColorRGB{0xDD, 0xEE, 0xFF}));
    EXPECT_EQ(s.highlight_bg_color, (ColorRGBA{1, 2, 3, 4}));
    EXPECT_EQ(s.highlight_fg_color, (ColorRGB{5, 6, 7}));
    EXPECT_EQ(s.visual_bell, (ColorRGBA{255, 255, 255, 0x10}));
    EXPECT_EQ(s.unfocused_tint, (ColorRGBA{0, 0, 0, 0x80}));
    EXPECT_FALSE(s.bold_is_bright);

    const Settings& t = init({"-c", "--colorscheme=8", "--fg-color=#123456"});
    EXPECT_EQ(t.colors[0], (ColorRGB{0x1d, 0x20, 0x21}));
    EXPECT_EQ(t.bg_color, (ColorRGBA{0x28, 0x28, 0x28, 255}));
    EXPECT_EQ(t.fg_color, (ColorRGB{0x12, 0x34, 0x56}));
    for (const char* name :
         {"zelto", "linux", "xterm", "rxvt", "yaru", "tango", "orchis", "solarized", "GRUVBOX"}) {
        init({std::string("--colorscheme=") + name});
        EXPECT_EQ(stderr_.find("colorscheme"), std::string::npos) << name;
    }
    EXPECT_EQ(init({"--colorscheme=solarized"}).fg_color, (ColorRGB{0x83, 0x94, 0x96}));
}

TEST_F(OptionsTest, ColorNoneForms) {
    init({"--cursor-bg-color=#123456", "--cursor-bg-color=NONE", "--cursor-fg-color=#123456",
          "--cursor-fg-color=none", "--visual-bell=none"});
    EXPECT_FALSE(settings().cursor_bg_color);
    EXPECT_FALSE(settings().cursor_fg_color);
    EXPECT_FALSE(settings().visual_bell);
    init({"--visual-bell=None"});
    EXPECT_EQ(settings().visual_bell, (ColorRGBA{0xC8, 0xC8, 0xC8, 0x1E}));
    EXPECT_TRUE(warned("Failed to parse 'None' as color for option 'visual-bell'.\n"));
}

TEST_F(OptionsTest, BadColorsAndSchemesKeepThePreviousValue) {
    const Settings& s =
        from_file("color-3 = \"#12\"\nbg-color = nope\ncolorscheme = 9\ncolorscheme = monokai\n");
    EXPECT_EQ(s.colors[3], (ColorRGB{0xFF, 0x7D, 0x00}));
    EXPECT_EQ(s.bg_color, (ColorRGBA{0, 0, 0, 0xEE}));
    EXPECT_EQ(s.colorscheme, 0);
    EXPECT_TRUE(warned("Failed to parse '#12' as color for option 'color-3'.\n"));
    EXPECT_TRUE(warned("Failed to parse 'nope' as color for option 'bg-color'.\n"));
    EXPECT_TRUE(warned("Unknown value '9' for option 'colorscheme'\n"));
    EXPECT_TRUE(warned("Unknown value 'monokai' for option 'colorscheme'\n"));
}

TEST_F(OptionsTest, EveryBaseColorOption) {
    std::string text;
    for (int i = 0; i < 16; ++i)
        text += "color-" + std::to_string(i) + " = 00000" + "0123456789abcdef"[i] + "\n";
    const Settings& s = from_file(text);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(s.colors[static_cast<std::size_t>(i)].b, i) << i;
}

TEST_F(OptionsTest, FontLists) {
    const Settings& s = from_file(
        "font = [Fira Code, Noto Sans Mono:2:U+E000..U+F8FF]\n"
        "# comment\n"
        "font-symbol = [Symbols Nerd Font:-200:u+e0a0..57600, Other:3..]\n"
        "font-color = Noto Color Emoji\n");
    ASSERT_EQ(s.font.size(), 2u);
    EXPECT_EQ(s.font[0].family, "Fira Code");
    EXPECT_EQ(s.font[1].family, "Noto Sans Mono");
    EXPECT_EQ(s.font[1].size_offset, 2);
    EXPECT_EQ(s.font[1].ranges, (Ranges{{0xE000, 0xF8FF}}));
    ASSERT_EQ(s.font_symbol.size(), 2u);
    EXPECT_EQ(s.font_symbol[0].size_offset, -128);
    EXPECT_EQ(s.font_symbol[0].ranges, (Ranges{{0xE0A0, 57600}}));
    EXPECT_EQ(s.font_symbol[1].ranges, (Ranges{{3, 0xFFFFFFFF}}));
    ASSERT_EQ(s.font_color.size(), 1u);
    EXPECT_EQ(s.font_color[0].family, "Noto Color Emoji");
    EXPECT_EQ(s.font_size, 9u);

    const Settings& t = init({"--font=[Fira Code:2:U+E000..U+F8FF]"});
    ASSERT_EQ(t.font.size(), 1u);
    EXPECT_EQ(t.font[0].size_offset, 2);
    EXPECT_TRUE(warned(
        "Error in config: '[Fira Code:2:U+E000..U+F8FF]' is a single element list, did you mean "
        "'\\[Fira Code:2:U+E000..U+F8FF\\]'?\n"));
    init({"--font=A:U+20..U+10"});
    EXPECT_TRUE(warned("invalid codepoint range in font\n"));
    EXPECT_TRUE(settings().font[0].ranges.empty());
}

TEST_F(OptionsTest, FontFlagsSizeAndDpi) {
    const Settings& s = init({"--flush-fc-cache", "--preload-all-fonts", "--font-box-chars",
                              "--font-size=14:3", "--dpi=120"});
    EXPECT_TRUE(s.flush_fc_cache);
    EXPECT_TRUE(s.preload_all_fonts);
    EXPECT_TRUE(s.font_box_chars);
    EXPECT_EQ(s.font_size, 14u);
    EXPECT_EQ(s.dpi, 120u);
    EXPECT_EQ(s.current_dpi, 120u);
    EXPECT_FALSE(s.dpi_auto);

    init({"--font-size=0", "--font-size=201", "--font-size=12:1:2"});
    EXPECT_EQ(settings().font_size, 12u);
    EXPECT_TRUE(warned("Unknown value '0' for option 'font-size'\n"));
    EXPECT_TRUE(warned("Unknown value '201' for option 'font-size'\n"));
    EXPECT_TRUE(warned("Unexpected extra argument '2' for option 'font-size'\n"));

    const Settings& a = init({"--dpi=Auto"});
    EXPECT_TRUE(a.dpi_auto);
    EXPECT_EQ(a.dpi, 96u);
    EXPECT_EQ(a.current_dpi, 96u);
}

TEST_F(OptionsTest, ExcludeLcd) {
    EXPECT_EQ(init({"--exclude-lcd=[U+2500..U+257F, 0xff..1, U+30..U+20]"}).exclude_lcd,
              (Ranges{{0x2500, 0x257F}}));
    EXPECT_TRUE(warned("invalid codepoint range in exclude-lcd\n"));
    EXPECT_EQ(init({"--exclude-lcd=[U+2500..U+257F, 57344..]"}).exclude_lcd,
              (Ranges{{0x2500, 0x257F}, {57344, 0xFFFFFFFF}}));
    EXPECT_EQ(init({"--exclude-lcd=U+20..U+7E"}).exclude_lcd, (Ranges{{0x20, 0x7E}}));
    // A first element shorter than four characters is ignored, and the defaults are not restored.
    EXPECT_TRUE(init({"--exclude-lcd=1.."}).exclude_lcd.empty());
}

TEST_F(OptionsTest, GlyphPaddingAndAlign) {
    const Settings& s = init({"--glyph-padding=-3:200", "--glyph-align=x:3:-200"});
    EXPECT_EQ(s.glyph_padding.horizontal, 0);
    EXPECT_EQ(s.glyph_padding.vertical, 127);
    EXPECT_EQ(s.glyph_align.center, 'x');
    EXPECT_EQ(s.glyph_align.y_offset, 3);
    EXPECT_EQ(s.glyph_align.x_offset, -128);

    const Settings& t = init({"--glyph-align=x"});
    EXPECT_EQ(t.glyph_align.center, 'x');
    EXPECT_EQ(t.glyph_align.y_offset, 0);
    init({"--glyph-align= :5"});
    EXPECT_TRUE(warned("Cannot align to ' '(32), must be graphic ASCII character\n"));
    EXPECT_EQ(settings().glyph_align.center, '(');
    EXPECT_EQ(settings().glyph_align.y_offset, 5);
    init({"--glyph-align="});
    EXPECT_TRUE(warned("Cannot align to ''(0), must be graphic ASCII character\n"));
}

TEST_F(OptionsTest, FixedLcdOrder) {
    struct Case {
        const char* name;
        std::uint32_t order;
    };
    for (auto c : {Case{"rgb", 2}, Case{"BGR", 3}, Case{"vrgb", 4}, Case{"rgbv", 4},
                   Case{"vbgr", 5}, Case{"bgrv", 5}, Case{"none", 1}}) {
        const Settings& s = init({std::string("--fixed-lcd-order=") + c.name});
        EXPECT_EQ(s.fixed_lcd_order, c.order) << c.name;
        EXPECT_EQ(s.current_lcd_order, c.order) << c.name;
    }
    EXPECT_EQ(init({"--fixed-lcd-order=bgr", "--fixed-lcd-order=diagonal"}).fixed_lcd_order, 3u);
    EXPECT_TRUE(warned("Unknown value 'diagonal' for option 'fixed-lcd-order'\n"));
}

TEST_F(OptionsTest, OutputRules) {
    const Settings& s = from_file(
        "output = DP-*:bgr:120\n"
        "output = 2:none\n"
        "output = 0:vrgb:auto\n"
        "output = HDMI-1:sideways\n"
        "output = eDP-1:nope:144\n"
        "output = DP-*:rgb\n"
        "output = X:rgb:96:extra\n"
        "output = Y:rgb:lots\n");
    ASSERT_EQ(s.output.size(), 6u);
    EXPECT_EQ(s.output[0].glob, "DP-*");
    EXPECT_EQ(s.output[0].lcd_order, 2u);  // replaced by the later DP-* rule
    EXPECT_EQ(s.output[0].dpi, 0u);
    EXPECT_FALSE(s.output[1].glob);
    EXPECT_EQ(s.output[1].index, 2u);
    EXPECT_EQ(s.output[1].lcd_order, 1u);
    EXPECT_EQ(s.output[2].glob, "0");
    EXPECT_EQ(s.output[2].lcd_order, 4u);
    EXPECT_EQ(s.output[3].glob, "eDP-1");
    EXPECT_EQ(s.output[3].lcd_order, 0u);
    EXPECT_EQ(s.output[3].dpi, 144u);
    EXPECT_EQ(s.output[4].glob, "X");
    EXPECT_EQ(s.output[4].dpi, 96u);
    EXPECT_EQ(s.output[5].glob, "Y");  // an unreadable DPI means automatic
    EXPECT_EQ(s.output[5].dpi, 0u);
    EXPECT_TRUE(warned("Unknown value 'sideways' for option 'output'(1)\n"));
    EXPECT_TRUE(warned("Duplicate entry for option output output glob: 'DP-*'\n"));
    EXPECT_TRUE(warned("Unexpected extra argument 'extra' for option 'output'\n"));
    EXPECT_TRUE(warned("Unknown value 'Y:rgb:lots' for option 'output'\n"));

    init({"-c", "--output=3:rgb", "--output=3:bgr"});
    ASSERT_EQ(settings().output.size(), 1u);
    EXPECT_EQ(settings().output[0].lcd_order, 3u);
    EXPECT_TRUE(warned("Duplicate entry for option output output glob: ''\n"));
}

TEST_F(OptionsTest, ExternPipe) {
    const Settings& s = init({"--extern-pipe=/usr/bin/less:Screen"});
    EXPECT_EQ(s.extern_pipe.program, "/usr/bin/less");
    EXPECT_EQ(s.extern_pipe.mode, EXTERN_PIPE_MODE_SCREEN);
    EXPECT_EQ(init({"--extern-pipe=cat:viewport"}).extern_pipe.mode, EXTERN_PIPE_MODE_SCREEN);
    EXPECT_EQ(init({"--extern-pipe=cat:buffer"}).extern_pipe.mode, EXTERN_PIPE_MODE_BUFFER);
    const Settings& t = init({"--extern-pipe=cat"});
    EXPECT_EQ(t.extern_pipe.program, "cat");
    EXPECT_EQ(t.extern_pipe.mode, EXTERN_PIPE_MODE_COMMAND);
    init({"--extern-pipe=cat:everything"});
    EXPECT_TRUE(warned("Unknown value 'cat:everything' for option 'extern-pipe'\n"));
    EXPECT_EQ(settings().extern_pipe.mode, EXTERN_PIPE_MODE_COMMAND);
}

TEST_F(OptionsTest, KeyBindingsAreStoredForLaterResolution) {
    EXPECT_EQ(init().bind_key_copy.key, static_cast<std::uint32_t>('c'));
    EXPECT_FALSE(settings().bind_key_copy.is_name);
    EXPECT_EQ(settings().bind_key_copy.mods, MODIFIER_CTRL | MODIFIER_SHIFT);
    EXPECT_EQ(settings().bind_key_pg_up.key, KEY_SYM_PAGE_UP);
    EXPECT_EQ(settings().bind_key_quit.key, 0u);

    const char* options[] = {"copy",      "paste",       "enlarge",     "shrink",     "unicode",
                             "pg-up",     "pg-down",     "ln-up",       "ln-down",    "mark-up",
                             "mark-down", "copy-output", "extern-pipe", "kbd-select", "open-pwd",
                             "html-dump", "duplicate",   "debug",       "quit"};
    std::string text;
    for (const char* o : options) text += std::string("bind-key-") + o + " = Ctrl+Alt+" + o + "\n";
    const Settings& s = from_file(text);
    const KeyBinding* bindings[] = {
        &s.bind_key_copy,        &s.bind_key_paste,      &s.bind_key_enlarge,
        &s.bind_key_shrink,      &s.bind_key_unicode,    &s.bind_key_pg_up,
        &s.bind_key_pg_down,     &s.bind_key_ln_up,      &s.bind_key_ln_down,
        &s.bind_key_mark_up,     &s.bind_key_mark_down,  &s.bind_key_copy_output,
        &s.bind_key_extern_pipe, &s.bind_key_kbd_select, &s.bind_key_open_pwd,
        &s.bind_key_html_dump,   &s.bind_key_duplicate,  &s.bind_key_debug,
        &s.bind_key_quit};
    for (std::size_t i = 0; i < std::size(options); ++i) {
        EXPECT_TRUE(bindings[i]->is_name) << options[i];
        EXPECT_EQ(bindings[i]->name, options[i]);
        EXPECT_EQ(bindings[i]->mods, MODIFIER_CTRL | MODIFIER_ALT) << options[i];
    }

    init({"--bind-key-copy=co+m+SH+x", "--bind-key-paste=Hyper+S+v", "--bind-key-debug=F1"});
    EXPECT_EQ(settings().bind_key_copy.mods, MODIFIER_CTRL | MODIFIER_ALT | MODIFIER_SHIFT);
    EXPECT_EQ(settings().bind_key_copy.name, "x");
    EXPECT_EQ(settings().bind_key_paste.mods, MODIFIER_SHIFT);
    EXPECT_TRUE(warned("Invalid modifier key name 'Hyper'\n"));
    EXPECT_EQ(settings().bind_key_debug.mods, 0u);
    EXPECT_EQ(settings().bind_key_debug.name, "F1");
}

TEST_F(OptionsTest, DebugOptions) {
    const Settings& s = init({"--debug-pty", "--debug-vt=250", "--debug-gfx", "--debug-font"});
    EXPECT_TRUE(s.debug_pty);
    EXPECT_EQ(s.debug_vt, 250u);
    EXPECT_TRUE(s.debug_gfx);
    EXPECT_TRUE(s.debug_font);
    EXPECT_EQ(init().debug_vt, 0u);
}

TEST_F(OptionsTest, LocaleIsAppliedForCharacterClassification) {
    init({"--locale=C"});
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
}

}  // namespace
}  // namespace zelto
