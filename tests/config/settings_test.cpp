#include "config/settings_fixture.hpp"

namespace zelto {
namespace {

using testing_support::read_file;
using testing_support::SettingsTest;

// ---- the command line ------------------------------------------------------------------------

TEST_F(SettingsTest, HelpMatchesTheFixtureByteForByte) {
    auto result = init_and_exit({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, read_file(ZELTO_SOURCE_DIR "/tests/config/fixtures/help.txt"));
    auto short_form = init_and_exit({"-h", "-c"});
    EXPECT_EQ(short_form.status, 0);
    EXPECT_EQ(short_form.out, result.out);
}

TEST_F(SettingsTest, Version) {
    const char* expected =
        "version: 0.0.0\n wayland:  enabled\n X11:      enabled\n utf8proc: enabled\n renderer: "
        "OpenGL 2.1\n";
    for (const char* arg : {"--version", "-v"}) {
        auto result = init_and_exit({arg});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected);
    }
}

TEST_F(SettingsTest, DefaultsWithoutAnyOption) {
    const Settings& s = init();
    EXPECT_EQ(s.term, "xterm-256color");
    EXPECT_EQ(s.vte_version, "6201");
    EXPECT_EQ(s.title, "Zelto");
    EXPECT_EQ(s.rows, 24u);
    EXPECT_EQ(s.columns, 80u);
    EXPECT_EQ(s.scrollback, 2000u);
    EXPECT_EQ(s.scrollbar.hide_delay_ms, 2000u);
    EXPECT_EQ(s.io_chunk_delay.timeout_ms, 5u);
    EXPECT_EQ(s.font_size, 9u);
    EXPECT_EQ(s.dpi, 96u);
    EXPECT_TRUE(s.font.empty());
    EXPECT_EQ(s.exclude_lcd, (std::vector<CodepointRange>{{0x2500, 0x25FF}, {0xE0B0, 0xE0BF}}));
    EXPECT_EQ(s.bg_color, (ColorRGBA{0, 0, 0, 0xEE}));
    EXPECT_EQ(s.colors[1], (ColorRGB{0xAB, 0x1F, 0x00}));
    EXPECT_EQ(s.colors[15], (ColorRGB{255, 255, 255}));
    EXPECT_EQ(s.command_argv, std::vector<std::string>{"/bin/test-shell"});
    EXPECT_EQ(s.command_path, "/bin/test-shell");
    EXPECT_EQ(s.config_file, dir_ + "/xdg/zelto/config");
    EXPECT_TRUE(warned("'" + dir_ + "/xdg/zelto/config' - No such file or directory\n"));
    EXPECT_EQ(s.saved_argv, std::vector<std::string>{"zelto"});
}

TEST_F(SettingsTest, ShortLetters) {
    const Settings& s = init({"-XtDGFloHb"});
    EXPECT_TRUE(s.xorg_only);
    EXPECT_TRUE(s.no_dynamic_title);
    EXPECT_TRUE(s.debug_pty);
    EXPECT_TRUE(s.debug_gfx);
    EXPECT_TRUE(s.debug_font);
    EXPECT_TRUE(s.flush_fc_cache);
    EXPECT_TRUE(s.preload_all_fonts);
    EXPECT_TRUE(s.hold);
    EXPECT_TRUE(s.font_box_chars);

    write_config("rows = 40\n");
    EXPECT_EQ(init({"-c"}).rows, 24u);
    EXPECT_TRUE(settings().skip_config);
    EXPECT_EQ(init({"-X", "-c", "-t"}).rows, 24u);
    EXPECT_TRUE(settings().xorg_only && settings().no_dynamic_title);
}

TEST_F(SettingsTest, LongOptionsWithAndWithoutEquals) {
    const Settings& s = init({"--rows=30", "--columns", "100", "--title", "-e", "--term=vt100",
                              "--xorg-only", "--always-underline-links", "--hold=false"});
    EXPECT_EQ(s.rows, 30u);
    EXPECT_EQ(s.columns, 100u);
    EXPECT_EQ(s.title, "-e");  // a value, not the command marker
    EXPECT_EQ(s.term, "vt100");
    EXPECT_TRUE(s.xorg_only);
    EXPECT_TRUE(s.always_underline_links);
    EXPECT_TRUE(s.hold);  // a flag: its value is ignored
    EXPECT_FALSE(init({"--always-underline-links=false"}).always_underline_links);
    EXPECT_TRUE(init({"--force-csd"}).force_csd);
    EXPECT_EQ(init({"--scrollbac=5"}).scrollback, 5u);  // unambiguous abbreviation
}

TEST_F(SettingsTest, UnknownOptionsAreReportedAndSkipped) {
    const Settings& s = init({"--no-such-option", "--rows=33", "-Q"});
    EXPECT_EQ(s.rows, 33u);
    EXPECT_TRUE(warned("no-such-option"));
    EXPECT_TRUE(warned("-- 'Q'"));
}

TEST_F(SettingsTest, CommandAfterEIsNeverScanned) {
    const Settings& s = init({"-e", "ls", "-l", "--color"});
    EXPECT_EQ(s.command_argv, (std::vector<std::string>{"ls", "-l", "--color"}));
    EXPECT_EQ(s.command_path, "ls");
    EXPECT_FALSE(s.flush_fc_cache);
    EXPECT_EQ(s.saved_argv, (std::vector<std::string>{"zelto", "-e", "ls", "-l", "--color"}));

    const Settings& t = init({"-H", "-x", "sh", "-X", "--rows=3"});
    EXPECT_EQ(t.command_argv, (std::vector<std::string>{"sh", "-X", "--rows=3"}));
    EXPECT_TRUE(t.hold);
    EXPECT_FALSE(t.xorg_only);
    EXPECT_EQ(t.rows, 24u);
    EXPECT_EQ(t.saved_argv,
              (std::vector<std::string>{"zelto", "-H", "-x", "sh", "-X", "--rows=3"}));

    EXPECT_EQ(init({"-e", "vim", "file"}).command_argv, (std::vector<std::string>{"vim", "file"}));
    EXPECT_EQ(init({"-x"}).command_argv, std::vector<std::string>{"/bin/test-shell"});
    shell_.unset();
    EXPECT_EQ(init({"-e"}).command_path, "/bin/sh");
}

// ---- where the configuration file is ---------------------------------------------------------

TEST_F(SettingsTest, ConfigFileFoundThroughXdgConfigHome) {
    EXPECT_EQ(from_file("rows = 40\n").rows, 40u);
}

TEST_F(SettingsTest, ConfigFileFoundThroughHome) {
    xdg_.unset();
    write(dir_ + "/home/.config/zelto/config", "rows = 41\n");
    EXPECT_EQ(init().rows, 41u);
    EXPECT_EQ(settings().config_file, dir_ + "/home/.config/zelto/config");
}

TEST_F(SettingsTest, NoConfigDirectory) {
    xdg_.unset();
    home_.unset();
    EXPECT_EQ(init().rows, 24u);
    EXPECT_TRUE(warned("Could not find config directory\n"));
}

TEST_F(SettingsTest, ConfigFileOptionReplacesTheDefaultFile) {
    write_config("rows = 40\n");
    write(dir_ + "/other", "rows = 42\ncolumns = 7\n");
    const Settings& s = init({"--config-file", dir_ + "/other"});
    EXPECT_EQ(s.rows, 42u);
    EXPECT_EQ(s.config_file, dir_ + "/other");
    EXPECT_EQ(init({"--config-file=" + dir_ + "/other", "-c"}).rows, 24u);
    init({"--config-file=" + dir_ + "/missing"});
    EXPECT_TRUE(warned("'" + dir_ + "/missing' - No such file or directory\n"));
    init({"--config-file=" + dir_});
    EXPECT_TRUE(warned("'" + dir_ + "' - Is a directory\n"));
    init({"--config-file="});
    EXPECT_TRUE(warned("'' - No such file or directory\n"));
}

TEST_F(SettingsTest, CommandLineWinsOverTheFile) {
    write_config("rows = 40\ntitle = file\n");
    const Settings& s = init({"--rows", "30"});
    EXPECT_EQ(s.rows, 30u);
    EXPECT_EQ(s.title, "file");
}

// ---- entries of the file ---------------------------------------------------------------------

TEST_F(SettingsTest, FileEntriesAndTheirWarnings) {
    const Settings& s = from_file(
        "font size = 12\n"
        "hold = false\n"
        "xorg-only\n"
        "debug-pty = 1\n"
        "debug-gfx = TRUE\n"
        "always-underline-links = true\n"
        "nonsense = 3\n"
        "title = Term # comment\n"
        "title-format = \"{sAppTitle}\"\n"
        "help\n"
        "config-file = /nowhere\n"
        "skip-config\n");
    EXPECT_TRUE(warned(
        "Error in config on line 1: invalid option 'fontsize'. 'zelto -h' to list options\n"));
    EXPECT_TRUE(
        warned("Error in config on line 2: invalid option 'hold'. 'zelto -h' to list options\n"));
    EXPECT_TRUE(warned(
        "Error in config on line 7: invalid option 'nonsense'. 'zelto -h' to list options\n"));
    EXPECT_FALSE(s.hold);
    EXPECT_TRUE(s.xorg_only);
    EXPECT_TRUE(s.debug_pty);
    EXPECT_TRUE(s.debug_gfx);
    EXPECT_TRUE(s.always_underline_links);
    EXPECT_EQ(s.title, "Term");
    EXPECT_EQ(s.title_format, "{sAppTitle}");
    EXPECT_EQ(s.config_file, dir_ + "/xdg/zelto/config");
    EXPECT_FALSE(s.skip_config);
}

TEST_F(SettingsTest, SyntaxErrorsAreWarningsWithLineNumbers) {
    from_file("title = \"open\nrows = 5\nterm = x\\q\nfont = [a\n");
    EXPECT_TRUE(warned(
        "[\x1b[33mwarning\x1b[m] error in config on line 1: '\"' expected before end of line\n"));
    EXPECT_TRUE(
        warned("error in config on line 3: escape character 'q' invalid in this context\n"));
    EXPECT_TRUE(warned("error in config on line 5: ']' expected before end of file\n"));
    EXPECT_EQ(settings().rows, 5u);
    EXPECT_EQ(settings().title, "open");
}

TEST_F(SettingsTest, CrlfFile) {
    const Settings& s = from_file("title = Term\r\nrows = 33\r\nterm = \"x\"\r\nhold\r\n");
    EXPECT_EQ(s.title, "Term");
    EXPECT_EQ(s.rows, 33u);
    EXPECT_EQ(s.term, "x");
    EXPECT_TRUE(s.hold);
    EXPECT_EQ(stderr_, "");
}

TEST_F(SettingsTest, MissingValuesReachTheReadersAsEmptyText) {
    const Settings& s = from_file("vte-version =\nrows\ndebug-vt\ncolumns = 1\n");
    EXPECT_EQ(s.vte_version, "");
    EXPECT_EQ(s.rows, 24u);
    EXPECT_TRUE(warned("Unknown value '' for option 'rows'\n"));
    EXPECT_EQ(s.debug_vt, 5000u);
    EXPECT_EQ(s.columns, 1u);
    EXPECT_EQ(from_file("vte-version = [\"\", x]\n").vte_version, "");
    EXPECT_EQ(from_file("debug-vt = 200\n").debug_vt, 200u);
    from_file("fg-color =\n");
    EXPECT_TRUE(
        warned("Failed to parse '' as color for option 'fg-color', expected syntax =\"#rrggbb\" or "
               "=rrggbb.\n"));
}

}  // namespace
}  // namespace zelto
