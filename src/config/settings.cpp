#include "config/settings.hpp"

#include <getopt.h>
#include <strings.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/config_file.hpp"
#include "config/options.hpp"
#include "util/diagnostics.hpp"
#include "util/format.hpp"

namespace zelto {

namespace {

constexpr const char* PROGRAM_NAME = "zelto";
constexpr const char* SHORT_OPTIONS = "+XctDGFhvloHb";
// getopt_long reports options without a short letter as this plus their table index.
constexpr int LONG_OPTION_BASE = 1000;

std::vector<option> long_options() {
    std::vector<option> out;
    for (std::size_t i = 0; i < OPTIONS.size(); ++i) {
        const OptionInfo& o = OPTIONS[i];
        int has_arg = o.argument == OPTION_ARGUMENT_NONE       ? no_argument
                      : o.argument == OPTION_ARGUMENT_REQUIRED ? required_argument
                                                               : optional_argument;
        int val = o.short_letter ? o.short_letter : LONG_OPTION_BASE + static_cast<int>(i);
        out.push_back({o.name, has_arg, nullptr, val});
    }
    out.push_back({nullptr, 0, nullptr, 0});
    return out;
}

bool is_command_marker(const char* arg) {
    return std::strcmp(arg, "-e") == 0 || std::strcmp(arg, "-x") == 0;
}

// One pass of the option scanner over argv, stopping at "-e"/"-x" so that nothing after them is
// ever scanned or reordered. `apply` gets the short letter or 0, the table index and the value.
template <typename Apply>
void scan_command_line(int argc, char** argv, bool report_errors, Apply apply) {
    auto options = long_options();
    optind = 0;  // a full restart of the scanner
    opterr = report_errors ? 1 : 0;
    while (optind < argc) {
        if (optind > 0 && is_command_marker(argv[optind])) break;
        if (optind == 0 && argc > 1 && is_command_marker(argv[1])) break;
        int long_index = -1;
        int c = getopt_long(argc, argv, SHORT_OPTIONS, options.data(), &long_index);
        if (c == -1) break;
        if (c == '?' || c == ':') continue;
        if (c >= LONG_OPTION_BASE) {
            apply(0, c - LONG_OPTION_BASE, optarg);
        } else {
            int index = long_index >= 0 ? long_index : -1;
            for (std::size_t i = 0; index < 0 && i < OPTIONS.size(); ++i) {
                if (OPTIONS[i].short_letter == c) index = static_cast<int>(i);
            }
            apply(static_cast<char>(c), index, optarg);
        }
    }
    optind = 0;
}

std::string default_config_path() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return format_string("%s/%s/%s", xdg, PROGRAM_NAME, "config");
    const char* home = std::getenv("HOME");
    if (home && *home) return format_string("%s/.config/%s/%s", home, PROGRAM_NAME, "config");
    warn("Could not find config directory\n");
    return {};
}

bool is_true_or_one(const std::optional<std::string>& value) {
    if (!value || value->empty() || *value == "1") return true;
    return value->size() == 4 && strncasecmp(value->c_str(), "true", 4) == 0;
}

void warn_invalid_option(unsigned line, const std::string& key) {
    warn("Error in config on line %u: invalid option '%s'. '%s -h' to list options\n", line,
         key.c_str(), PROGRAM_NAME);
}

void apply_config_entry(OptionHandler& handler, const std::string& key,
                        const std::optional<std::string>& value, unsigned line) {
    int index = option_index(key);
    if (index < 0) {
        warn_invalid_option(line, key);
        return;
    }
    const OptionInfo& o = OPTIONS[static_cast<std::size_t>(index)];
    if (o.argument == OPTION_ARGUMENT_REQUIRED) {
        handler.handle_option(0, index, value ? value->c_str() : "");
        return;
    }
    if (!is_true_or_one(value)) {
        warn_invalid_option(line, key);
        return;
    }
    // Printing help or the version from the file would stop every start, so only the command
    // line runs them.
    if (o.short_letter == 'h' || o.short_letter == 'v') return;
    handler.handle_option(o.short_letter, index, nullptr);
}

void read_config_file(OptionHandler& handler, const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"),
                                                         std::fclose);
    if (!file) {
        warn("'%s' - %s\n", path.c_str(), std::strerror(errno));
        return;
    }
    read_config(
        file.get(),
        [&](const std::string& key, const std::optional<std::string>& value, unsigned line) {
            apply_config_entry(handler, key, value, line);
        },
        [](unsigned line, const std::string& message) {
            warn("error in config on line %u: %s\n", line, message.c_str());
            return false;
        });
    if (std::ferror(file.get())) warn("'%s' - %s\n", path.c_str(), std::strerror(errno));
}

void choose_command(Settings& s, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!is_command_marker(argv[i])) continue;
        if (i + 1 < argc) s.command_argv.assign(argv + i + 1, argv + argc);
        break;
    }
    if (s.command_argv.empty()) {
        const char* shell = std::getenv("SHELL");
        s.command_argv.emplace_back(shell && *shell ? shell : "/bin/sh");
    }
    s.command_path = s.command_argv.front();
}

void apply_locale(const Settings& s) {
    std::string name = s.locale;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        if (!name.empty()) break;
        const char* v = std::getenv(variable);
        if (v && *v) name = v;
    }
    if (name.empty()) name = "C";
    std::setlocale(LC_CTYPE, name.c_str());
}

}  // namespace

Settings& settings() {
    static Settings instance;
    return instance;
}

void settings_init(int argc, char** argv) {
    Settings& s = settings();
    s = Settings{};
    s.saved_argv.assign(argv, argv + argc);
    OptionHandler handler(s);

    bool config_file_given = false;
    scan_command_line(argc, argv, true, [&](char letter, int index, const char* value) {
        if (letter == 'c') {
            s.skip_config = true;
        } else if (index == option_index("config-file")) {
            s.config_file = value ? value : "";
            config_file_given = true;
        }
    });
    if (!config_file_given) s.config_file = default_config_path();
    if (!s.skip_config && (config_file_given || !s.config_file.empty()))
        read_config_file(handler, s.config_file);

    scan_command_line(argc, argv, false, [&](char letter, int index, const char* value) {
        handler.handle_option(letter, index, value);
    });
    choose_command(s, argc, argv);

    if (!s.exclude_lcd_given && s.exclude_lcd.empty()) {
        s.exclude_lcd = {{0x2500, 0x25FF}, {0xE0B0, 0xE0BF}};
    }
    apply_locale(s);
    handler.apply_color_scheme();
    s.dpi = s.current_dpi;
}

void settings_cleanup() {
    settings() = Settings{};
}

}  // namespace zelto
