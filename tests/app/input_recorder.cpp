// Records what a terminal sends for typed keys and pointer actions, for the end-to-end input
// tests: `input_recorder OUT MODES...` puts its terminal in raw mode and, for each MODES string
// in turn ("\e" stands for ESC), writes it to the terminal, waits until the terminal has taken
// it, writes the phase number to OUT.ready and then appends every byte it reads to OUT in hex
// ("1b 5b 41 ") until Ctrl+backslash (0x1c) ends the phase with a line end.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr unsigned char END_OF_PHASE = 0x1c;

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'e') {
            out += '\x1b';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Whole files only: the test polls them while they are written.
bool write_file(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool written = write_all(fd, text);
    close(fd);
    return written && rename(partial.c_str(), path.c_str()) == 0;
}

// A terminal answers "\e[5n" after everything sent before it, so the modes are in effect once
// "\e[0n" has come back.
bool apply_modes(const std::string& modes) {
    if (!write_all(STDOUT_FILENO, modes + "\x1b[5n")) return false;
    std::string reply;
    char c = 0;
    while (reply.find("\x1b[0n") == std::string::npos) {
        if (read(STDIN_FILENO, &c, 1) != 1) return false;
        reply += c;
    }
    return true;
}

bool record_phase(int out) {
    unsigned char buffer[256];
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) return false;
        std::string hex;
        bool ended = false;
        for (ssize_t i = 0; i < n && !ended; ++i) {
            if (buffer[i] == END_OF_PHASE) {
                hex += '\n';
                ended = true;
            } else {
                char byte[4];
                std::snprintf(byte, sizeof byte, "%02x ", buffer[i]);
                hex += byte;
            }
        }
        if (!write_all(out, hex)) return false;
        if (ended) return true;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: input_recorder OUT MODES...\n", stderr);
        return 2;
    }
    const std::string out_path = argv[1];
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return 1;
    termios raw = saved;
    cfmakeraw(&raw);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return 1;
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    bool ok = out >= 0;
    winsize size{};
    ioctl(STDIN_FILENO, TIOCGWINSZ, &size);
    for (int phase = 2; ok && phase < argc; ++phase) {
        ok = apply_modes(unescape(argv[phase])) &&
             write_file(out_path + ".ready", std::to_string(phase - 1) + " " +
                                                 std::to_string(size.ws_col) + " " +
                                                 std::to_string(size.ws_row) + "\n") &&
             record_phase(out);
    }
    if (out >= 0) close(out);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return ok ? 0 : 1;
}
