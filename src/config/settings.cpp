#include "config/settings.hpp"

#include <cstdlib>
#include <cstring>

namespace zelto {

Settings& settings() {
    static Settings instance;
    return instance;
}

void settings_init(int argc, char** argv) {
    Settings& s = settings();
    s = Settings{};
    s.saved_argv.assign(argv, argv + argc);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-e") == 0 || std::strcmp(argv[i], "-x") == 0) {
            if (i + 1 < argc) s.command_argv.assign(argv + i + 1, argv + argc);
            break;
        }
        if (std::strcmp(argv[i], "-H") == 0 || std::strcmp(argv[i], "--hold") == 0) s.hold = true;
        if (std::strcmp(argv[i], "-X") == 0) s.xorg_only = true;
    }
    if (s.command_argv.empty()) {
        const char* shell = std::getenv("SHELL");
        s.command_argv.emplace_back(shell ? shell : "/bin/sh");
    }
    s.command_path = s.command_argv.front();
}

void settings_cleanup() { settings() = Settings{}; }

}  // namespace zelto
