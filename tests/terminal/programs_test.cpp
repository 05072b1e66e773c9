// Output streams of real programs (vim, less, man, htop, tmux, tput) recorded in tmux at 80 x 24
// by scripts/record-program-fixtures, fed to a Vt and compared at each recorded moment with the
// screen tmux showed for the same bytes. The recordings avoid what tmux itself gets wrong (vttest
// shows some: DECCOLM and origin mode after it), so every row must match.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

constexpr std::size_t ROWS = 24;

// One moment of a recording: the screen tmux showed once it had read `offset` bytes.
struct Shot {
    std::size_t offset = 0;
    std::vector<std::string> rows;
};

struct Recording {
    const char* name;
    // The stream, relative to tests/terminal/fixtures; the chunking test's captures are reused.
    const char* stream;
};

// The VT100 line-drawing set, as tmux draws it for characters between SO and SI in a capture.
std::string line_drawing(char c) {
    static const char32_t TABLE[] = {
        0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1,  // ` a b c d e f g
        0x2424, 0x240B, 0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0x23BA,  // h i j k l m n o
        0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524, 0x2534, 0x252C,  // p q r s t u v w
        0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,          // x y z { | } ~
    };
    if (c < '`' || c > '~') return std::string(1, c);
    return utf8(TABLE[c - '`']);
}

// A row of `capture-pane -e` as plain text: attributes dropped, line drawing decoded.
std::string capture_text(const std::string& row, bool& line_drawing_on) {
    std::string text;
    for (std::size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (c == '\x1b' && i + 1 < row.size() && row[i + 1] == '[') {
            i += 2;
            while (i < row.size() && (row[i] < 0x40 || row[i] > 0x7e)) ++i;
        } else if (c == '\x0e') {
            line_drawing_on = true;
        } else if (c == '\x0f') {
            line_drawing_on = false;
        } else {
            text += line_drawing_on ? line_drawing(c) : std::string(1, c);
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::vector<Shot> read_shots(const std::string& name) {
    std::istringstream in(read_fixture("programs/" + name + ".screens"));
    std::vector<Shot> shots;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("@@ ", 0) != 0) continue;
        Shot shot;
        shot.offset = std::stoul(line.substr(3));
        bool line_drawing_on = false;
        for (std::size_t row = 0; row < ROWS && std::getline(in, line); ++row) {
            shot.rows.push_back(capture_text(line, line_drawing_on));
        }
        shots.push_back(std::move(shot));
    }
    return shots;
}

std::vector<std::string> screen_rows(const VtHarness& h) {
    std::vector<std::string> rows;
    std::istringstream in(h.screen());
    for (std::string line; std::getline(in, line);) rows.push_back(line);
    rows.resize(ROWS);
    return rows;
}

class Programs : public testing::TestWithParam<Recording> {};

TEST_P(Programs, EveryRecordedScreenMatchesTmux) {
    const Recording& recording = GetParam();
    const std::string stream = read_fixture(recording.stream);
    ASSERT_FALSE(stream.empty()) << recording.stream;
    const std::vector<Shot> shots = read_shots(recording.name);
    ASSERT_FALSE(shots.empty()) << recording.name;
    VtHarness h(80, 24);
    std::size_t fed = 0;
    for (std::size_t s = 0; s < shots.size(); ++s) {
        const Shot& shot = shots[s];
        ASSERT_LE(shot.offset, stream.size());
        ASSERT_GE(shot.offset, fed);
        ASSERT_EQ(shot.rows.size(), ROWS) << "shot " << s;
        // In chunks of at most 128 bytes, as the main loop reads the pty.
        h.feed(std::string_view(stream).substr(fed, shot.offset - fed), 128);
        fed = shot.offset;
        const std::vector<std::string> rows = screen_rows(h);
        std::string differences;
        for (std::size_t r = 0; r < ROWS; ++r) {
            if (rows[r] == shot.rows[r]) continue;
            differences += "row " + std::to_string(r) + "\n  tmux:  " + shot.rows[r] +
                           "\n  zelto: " + rows[r] + "\n";
        }
        EXPECT_TRUE(differences.empty())
            << recording.name << " shot " << s << " (offset " << shot.offset << ")\n"
            << differences;
    }
}

void PrintTo(const Recording& recording, std::ostream* out) {
    *out << recording.name;
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, Programs,
    testing::Values(Recording{"vim", "programs/vim.stream"},
                    Recording{"less", "programs/less.stream"},
                    Recording{"man", "programs/man.stream"},
                    Recording{"htop", "programs/htop.stream"},
                    Recording{"tmux", "programs/tmux.stream"},
                    Recording{"tput", "programs/tput.stream"}, Recording{"replay_vim", "vim.bin"},
                    Recording{"replay_less", "less.bin"}, Recording{"replay_man", "man.bin"},
                    Recording{"replay_htop", "htop.bin"}, Recording{"replay_tmux", "tmux.bin"}),
    [](const testing::TestParamInfo<Recording>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelto::test
