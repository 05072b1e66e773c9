#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelto {

// The one configuration record, filled by settings_init before anything else runs. Members are
// named after their options.
struct Settings {
    std::vector<std::string> saved_argv;

    // The child program: `command_argv[0]` is the path.
    std::string command_path;
    std::vector<std::string> command_argv;

    std::string term = "xterm-256color";
    std::string vte_version = "6201";  // empty: VTE_VERSION is not set
    std::string title = "Zelto";
    bool xorg_only = false;
    bool hold = false;
    std::uint32_t rows = 24;
    std::uint32_t columns = 80;
    std::string directory;  // empty: stay where we are

    struct IoChunkDelay {
        std::uint32_t time_us = 0;
        std::uint32_t timeout_ms = 5;
    } io_chunk_delay;

    struct Padding {
        bool center = true;
        std::uint8_t extra = 0;
    } padding;

    struct Scrollbar {
        std::uint8_t width = 10;
        std::uint32_t min_length = 20;
        std::uint32_t hide_delay_ms = 2000;
        std::uint32_t fade_time_ms = 150;
    } scrollbar;

    std::uint32_t scrollback = 2000;
    bool debug_pty = false;
    std::uint32_t debug_vt = 0;  // microseconds per byte; 0 is off
};

Settings& settings();

// Builds `settings()` from the defaults and the command line.
void settings_init(int argc, char** argv);
void settings_cleanup();

}  // namespace zelto
