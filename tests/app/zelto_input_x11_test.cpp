// The terminal itself on a private X server, with xdotool as the user: the bytes that typed keys
// and pointer actions bring to the child, beside what xterm sends for the same keys, and vim and
// less driven with the keyboard and the mouse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "window/zelto_dump_fixture.hpp"

namespace zelto {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::run_output;
using test::slurp;
using test::wait_for;

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// A key as xdotool names it and the bytes the child should read for it.
struct KeyBytes {
    std::string key;
    std::string bytes;
};

const std::string NORMAL = "";
const std::string APPLICATION_KEYS = "\\e[?1h\\e=";

// Keys that send the same in both cursor-key modes.
const std::vector<KeyBytes> EDITING_AND_FUNCTION_KEYS = {
    {"Insert", "\x1b[2~"},
    {"Delete", "\x1b[3~"},
    {"Prior", "\x1b[5~"},
    {"Next", "\x1b[6~"},
    {"F1", "\x1bOP"},
    {"F2", "\x1bOQ"},
    {"F3", "\x1bOR"},
    {"F4", "\x1bOS"},
    {"F5", "\x1b[15~"},
    {"F6", "\x1b[17~"},
    {"F7", "\x1b[18~"},
    {"F8", "\x1b[19~"},
    {"F9", "\x1b[20~"},
    {"F10", "\x1b[21~"},
    {"F11", "\x1b[23~"},
    {"F12", "\x1b[24~"},
    {"shift+Up", "\x1b[1;2A"},
    {"ctrl+alt+Up", "\x1b[1;7A"},
    {"ctrl+Delete", "\x1b[3;5~"},
    {"ctrl+F1", "\x1b[1;5P"},
    {"shift+F12", "\x1b[24;2~"},
};

std::vector<KeyBytes> cursor_keys(bool application) {
    const std::string prefix = application ? "\x1bO" : "\x1b[";
    return {{"Up", prefix + "A"},   {"Down", prefix + "B"}, {"Right", prefix + "C"},
            {"Left", prefix + "D"}, {"Home", prefix + "H"}, {"End", prefix + "F"}};
}

std::vector<KeyBytes> operator+(std::vector<KeyBytes> a, const std::vector<KeyBytes>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Keys that carry text, and Tab, whose Shift form has a sequence of its own.
const std::vector<KeyBytes> CHARACTER_KEYS = {
    {"a", "a"},
    {"Tab", "\t"},
    {"shift+Tab", "\x1b[Z"},
    {"BackSpace", "\x7f"},
    {"ctrl+BackSpace", "\b"},
    {"alt+BackSpace", "\x1b\x7f"},
    {"Return", "\r"},
    {"Escape", "\x1b"},
    {"alt+x", "\x1bx"},
    {"alt+shift+x", "\x1bX"},
    {"ctrl+a", "\x01"},
    {"ctrl+z", "\x1a"},
    {"ctrl+shift+a", "\x01"},
    {"ctrl+space", "\0"s},
    {"ctrl+alt+b", "\x1b\x02"},
    {"alt+eacute", "\x1b\xc3\xa9"},
};

// The keypad without Num Lock, which the application keypad mode leaves as it is.
std::vector<KeyBytes> keypad_keys(bool application_cursor) {
    const std::string prefix = application_cursor ? "\x1bO" : "\x1b[";
    return {{"KP_Up", prefix + "A"},   {"KP_Down", prefix + "B"}, {"KP_Right", prefix + "C"},
            {"KP_Left", prefix + "D"}, {"KP_Home", prefix + "H"}, {"KP_End", prefix + "F"},
            {"KP_Prior", "\x1b[5~"},   {"KP_Next", "\x1b[6~"},    {"KP_Insert", "\x1b[2~"},
            {"KP_Delete", "\x1b[3~"},  {"KP_Begin", ""},          {"KP_Add", "+"},
            {"KP_Subtract", "-"},      {"KP_Multiply", "*"},      {"KP_Divide", "/"},
            {"KP_Enter", "\r"}};
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? "'\\''"s : std::string(1, c);
    return quoted + "'";
}

std::string from_hex(const std::string& hex) {
    std::istringstream in(hex);
    std::string bytes, byte;
    while (in >> byte) bytes += static_cast<char>(std::stoi(byte, nullptr, 16));
    return bytes;
}

std::string concatenated(const std::vector<KeyBytes>& keys) {
    std::string bytes;
    for (const KeyBytes& key : keys) bytes += key.bytes;
    return bytes;
}

// The first key whose bytes are not where they should be, for the failure message.
std::string first_wrong_key(const std::vector<KeyBytes>& keys, const std::string& got) {
    std::size_t at = 0;
    for (const KeyBytes& key : keys) {
        if (got.compare(at, key.bytes.size(), key.bytes) != 0) return key.key;
        at += key.bytes.size();
    }
    return got.size() > at ? "(extra bytes at the end)" : "(none)";
}

// One terminal running the input recorder: it goes through the phases (mode strings) one after
// the other, each ended by Ctrl+backslash.
class Recording {
  public:
    explicit Recording(fs::path out) : out_(std::move(out)) {}

    std::string command(const std::vector<std::string>& phases) const {
        std::string command = shell_quote(INPUT_RECORDER) + " " + shell_quote(out_.string());
        for (const std::string& modes : phases) command += " " + shell_quote(modes);
        return command;
    }

    std::vector<std::string> argv(const std::vector<std::string>& phases) const {
        std::vector<std::string> args{INPUT_RECORDER, out_.string()};
        args.insert(args.end(), phases.begin(), phases.end());
        return args;
    }

    // Waits for the terminal to have taken the modes of phase `number` (counted from 1).
    bool wait_ready(int number) {
        return wait_for([&] {
            std::istringstream ready(slurp(out_.string() + ".ready"));
            int phase = 0;
            ready >> phase >> cols_ >> rows_;
            return phase == number;
        });
    }

    // What the child read in phase `number`; empty when the phase did not end in time.
    std::string bytes(int number) const {
        std::vector<std::string> ended;
        wait_for([&] {
            const std::string text = slurp(out_);
            ended.clear();
            for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
                 at = end + 1) {
                ended.push_back(text.substr(at, end - at));
            }
            return static_cast<int>(ended.size()) >= number;
        });
        return static_cast<int>(ended.size()) >= number
                   ? from_hex(ended[static_cast<std::size_t>(number - 1)])
                   : std::string();
    }

    int cols() const { return cols_; }
    int rows() const { return rows_; }

  private:
    fs::path out_;
    int cols_ = 0;
    int rows_ = 0;
};

std::string key_names(const std::vector<KeyBytes>& keys) {
    std::string names;
    for (const KeyBytes& key : keys) names += key.key + " ";
    return names;
}

// xdotool types a key symbol the keymap lacks by binding it to a spare key code, pressing it and
// binding the next one there. A client reads the mapping when it handles the press, so a second
// such symbol sent before a loaded client got to the first would be read for both: those keys
// are typed with `delay_ms` between them.
void type_keys(const std::string& window, const std::vector<KeyBytes>& keys, int delay_ms = 15) {
    ASSERT_EQ(run("xdotool windowfocus --sync " + window + " key --delay " +
                  std::to_string(delay_ms) + " " + key_names(keys) + "ctrl+backslash"),
              0);
}

// Ends a child process, by its pid, when the test leaves the scope in any way.
struct EndedOnExit {
    explicit EndedOnExit(pid_t child) : pid(child) {}
    EndedOnExit(const EndedOnExit&) = delete;
    EndedOnExit& operator=(const EndedOnExit&) = delete;
    ~EndedOnExit() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    pid_t pid;
};

class ZeltoInputX11 : public test::ZeltoDumpX11 {
  protected:
    // Without the dump binding, F10 reaches the child.
    void start_recording(const std::vector<std::string>& phases) {
        std::ofstream(dir_ / "config" / "zelto" / "config") << "";
        recording_.emplace(dir_ / "zelto-bytes");
        start(recording_->command(phases) + "; exec sleep 60");
    }

    // The centre of cell (col, row) in window pixels, from the window size and the grid.
    std::pair<int, int> cell_centre(int col, int row) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window_, &attributes);
        const int cell_width = attributes.width / std::max(grid_cols_, 1);
        const int cell_height = attributes.height / std::max(grid_rows_, 1);
        return {col * cell_width + cell_width / 2, row * cell_height + cell_height / 2};
    }

    std::string move_to(int col, int row) {
        const auto [x, y] = cell_centre(col, row);
        return " mousemove --window " + id_ + " " + std::to_string(x) + " " + std::to_string(y);
    }

    std::optional<Recording> recording_;
    int grid_cols_ = 0;
    int grid_rows_ = 0;
};

TEST_F(ZeltoInputX11, KeysSendTheirSequencesInNormalAndApplicationModes) {
    start_recording({NORMAL, APPLICATION_KEYS, "\\e[?1l\\e>\\e[?1039l", NORMAL});
    const std::vector<KeyBytes> normal =
        cursor_keys(false) + EDITING_AND_FUNCTION_KEYS + CHARACTER_KEYS + keypad_keys(false);
    ASSERT_TRUE(recording_->wait_ready(1));
    type_keys(id_, normal);
    const std::string got_normal = recording_->bytes(1);
    EXPECT_EQ(got_normal, concatenated(normal))
        << "first wrong: " << first_wrong_key(normal, got_normal);

    const std::vector<KeyBytes> application =
        cursor_keys(true) + EDITING_AND_FUNCTION_KEYS + CHARACTER_KEYS + keypad_keys(true);
    ASSERT_TRUE(recording_->wait_ready(2));
    type_keys(id_, application);
    const std::string got_application = recording_->bytes(2);
    EXPECT_EQ(got_application, concatenated(application))
        << "first wrong: " << first_wrong_key(application, got_application);

    // Alt without its ESC; a character typed by its code (a non-digit is refused, Escape gives
    // up) goes out as UTF-8.
    const std::vector<KeyBytes> plain_alt_and_unicode = {
        {"alt+x", "x"},
        {"ctrl+alt+b", "\x02"},
        {"ctrl+shift+u 1 f 6 0 0 Return", "\xf0\x9f\x98\x80"},
        {"ctrl+shift+u e 9 g Escape", ""},
        {"a", "a"},
        {"eacute", "\xc3\xa9"},
        {"alt+eacute", "\xc3\xa9"},
        {"U20AC", "\xe2\x82\xac"},
        {"UFF21", "\xef\xbc\xa1"},
    };
    ASSERT_TRUE(recording_->wait_ready(3));
    type_keys(id_, plain_alt_and_unicode, 150);
    const std::string got_plain = recording_->bytes(3);
    EXPECT_EQ(got_plain, concatenated(plain_alt_and_unicode))
        << "first wrong: " << first_wrong_key(plain_alt_and_unicode, got_plain);

    // A paste without brackets: CR LF and LF both become CR. The text carries the end of the
    // phase itself, so that nothing typed can overtake it.
    ASSERT_TRUE(recording_->wait_ready(4));
    std::ofstream(dir_ / "clip", std::ios::binary) << "one\r\ntwo\nthree\x1c";
    ASSERT_EQ(run("xclip -i -selection clipboard " + (dir_ / "clip").string()), 0);
    ASSERT_TRUE(wait_for([&] {
        return run_output("xclip -o -selection clipboard 2>/dev/null").starts_with("one");
    }));
    ASSERT_EQ(run("xdotool windowfocus --sync " + id_ + " key ctrl+shift+v"), 0);
    EXPECT_EQ(recording_->bytes(4), "one\rtwo\rthree");
}

// xterm as the reference, on the same server and for the same xdotool keys.
TEST_F(ZeltoInputX11, CursorEditingAndFunctionKeysSendWhatXtermSends) {
    const std::vector<std::string> phases = {NORMAL, "\\e[?1h"};
    const std::vector<KeyBytes> keys[] = {cursor_keys(false) + EDITING_AND_FUNCTION_KEYS,
                                          cursor_keys(true) + EDITING_AND_FUNCTION_KEYS};
    Recording xterm_recording(dir_ / "xterm-bytes");
    std::vector<std::string> args = {"xterm", "-tn", "xterm", "-fn", "fixed", "-geometry", "80x24"};
    for (const char* resource : {"XTerm*deleteIsDEL: false", "XTerm*modifyCursorKeys: 2"}) {
        args.insert(args.end(), {"-xrm", resource});
    }
    args.push_back("-e");
    for (const std::string& arg : xterm_recording.argv(phases)) args.push_back(arg);
    const pid_t xterm = fork();
    ASSERT_GE(xterm, 0);
    const EndedOnExit xterm_ended{xterm};
    if (xterm == 0) {
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp("xterm", argv.data());
        _exit(127);
    }
    start_recording(phases);
    std::string xterm_window = run_output("timeout 15 xdotool search --sync --pid " +
                                          std::to_string(xterm) + " 2>/dev/null | head -n 1");
    while (!xterm_window.empty() && xterm_window.back() == '\n') xterm_window.pop_back();
    for (int phase = 1; phase <= 2 && !xterm_window.empty(); ++phase) {
        const std::vector<KeyBytes>& sent = keys[phase - 1];
        ASSERT_TRUE(xterm_recording.wait_ready(phase));
        type_keys(xterm_window, sent);
        ASSERT_TRUE(recording_->wait_ready(phase));
        type_keys(id_, sent);
        const std::string from_xterm = xterm_recording.bytes(phase);
        const std::string from_zelto = recording_->bytes(phase);
        EXPECT_EQ(from_zelto, from_xterm)
            << "phase " << phase << ", first differing key: " << first_wrong_key(sent, from_zelto);
        EXPECT_EQ(from_xterm, concatenated(sent))
            << "xterm differs at " << first_wrong_key(sent, from_xterm);
    }
    ASSERT_FALSE(xterm_window.empty()) << "no xterm window appeared";
}

// The report of the byte-per-value form.
std::string legacy_report(int code, int col, int row) {
    return "\x1b[M"s + static_cast<char>(32 + code) + static_cast<char>(33 + col) +
           static_cast<char>(33 + row);
}

TEST_F(ZeltoInputX11, ClicksDragsTheWheelAndFocusAreReportedAsTheModesAsk) {
    start_recording({"\\e[?1002h\\e[?1006h", "\\e[?1006l", "\\e[?1002l\\e[?1003h\\e[?1006h",
                     "\\e[?1003l\\e[?1006l\\e[?1004h", "\\e[?1004l\\e[?1000h\\e[?1016h",
                     "\\e[?1000l\\e[?1016l\\e[?9h"});
    ASSERT_TRUE(recording_->wait_ready(1));
    grid_cols_ = recording_->cols();
    grid_rows_ = recording_->rows();
    ASSERT_GT(grid_cols_, 20);
    ASSERT_GT(grid_rows_, 10);
    // Left click on cell (3, 2); drag from (5, 4) over (6, 4) to (8, 6); right click on (0, 0)
    // with Control; the wheel on (10, 1).
    const std::string clicks_and_drag =
        move_to(3, 2) + " click 1" + move_to(5, 4) + " mousedown 1" + move_to(6, 4) +
        move_to(8, 6) + " mouseup 1" + move_to(0, 0) + " keydown ctrl click 3 keyup ctrl" +
        move_to(10, 1) + " click 4 click 5 key ctrl+backslash";
    ASSERT_EQ(run("xdotool" + clicks_and_drag), 0);
    EXPECT_EQ(recording_->bytes(1),
              "\x1b[<0;4;3M\x1b[<0;4;3m"
              "\x1b[<0;6;5M\x1b[<32;7;5M\x1b[<32;9;7M\x1b[<0;9;7m"
              "\x1b[<18;1;1M\x1b[<18;1;1m"
              "\x1b[<64;11;2M\x1b[<65;11;2M");

    // The same in the byte-per-value form, where a release has code 3. The Control of the
    // last typed key (Ctrl+backslash) is not held any more and must not mark the drag.
    ASSERT_TRUE(recording_->wait_ready(2));
    ASSERT_EQ(run("xdotool" + clicks_and_drag), 0);
    EXPECT_EQ(recording_->bytes(2), legacy_report(0, 3, 2) + legacy_report(3, 3, 2) +
                                        legacy_report(0, 5, 4) + legacy_report(32, 6, 4) +
                                        legacy_report(32, 8, 6) + legacy_report(3, 8, 6) +
                                        legacy_report(18, 0, 0) + legacy_report(19, 0, 0) +
                                        legacy_report(64, 10, 1) + legacy_report(65, 10, 1));

    // Motion without a button, once per cell; a click with Shift selects instead of reporting.
    ASSERT_TRUE(recording_->wait_ready(3));
    const auto [x, y] = cell_centre(2, 2);
    ASSERT_EQ(run("xdotool" + move_to(2, 2) + " mousemove --window " + id_ + " " +
                  std::to_string(x + 1) + " " + std::to_string(y) + move_to(4, 3) +
                  " keydown shift click 1 keyup shift key ctrl+backslash"),
              0);
    EXPECT_EQ(recording_->bytes(3), "\x1b[<35;3;3M\x1b[<35;5;4M");

    // Focus goes to another window and comes back.
    ASSERT_TRUE(recording_->wait_ready(4));
    const ::Window other =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 700, 500, 50, 50, 0, 0, 0);
    XMapWindow(display_, other);
    XSync(display_, False);
    ASSERT_EQ(run("xdotool windowfocus --sync " + std::to_string(other) + " windowfocus --sync " +
                  id_ + " key ctrl+backslash"),
              0);
    EXPECT_EQ(recording_->bytes(4), "\x1b[O\x1b[I");

    // Pixels instead of cells, counted from 1.
    ASSERT_TRUE(recording_->wait_ready(5));
    const auto [px, py] = cell_centre(3, 2);
    ASSERT_EQ(run("xdotool" + move_to(3, 2) + " click 1 key ctrl+backslash"), 0);
    const std::string at = std::to_string(px + 1) + ";" + std::to_string(py + 1);
    EXPECT_EQ(recording_->bytes(5), "\x1b[<0;" + at + "M\x1b[<0;" + at + "m");

    // X10 compatibility: presses only, without modifiers.
    ASSERT_TRUE(recording_->wait_ready(6));
    ASSERT_EQ(run("xdotool" + move_to(3, 2) + " click 1" + move_to(5, 4) +
                  " keydown ctrl click 3 keyup ctrl key ctrl+backslash"),
              0);
    EXPECT_EQ(recording_->bytes(6), legacy_report(0, 3, 2) + legacy_report(2, 5, 4));
}

// Lines "line 01 abcdefghijklmnopqrstuvwxyz" to "line 99 ...".
void write_numbered_lines(const fs::path& path) {
    std::ofstream out(path);
    for (int i = 1; i <= 99; ++i) {
        out << "line " << (i < 10 ? "0" : "") << i << " abcdefghijklmnopqrstuvwxyz\n";
    }
}

// The number of the first numbered line in a dump: the top line of the view.
int top_line(const std::string& dump) {
    const std::size_t at = dump.find("line ");
    return at == std::string::npos ? 0 : std::atoi(dump.c_str() + at + 5);
}

TEST_F(ZeltoInputX11, VimCursorFollowsTheArrowKeysAClickAndADrag) {
    write_numbered_lines(dir_ / "numbered.txt");
    const fs::path position = dir_ / "position";
    start("TERM=xterm-256color exec vim -u NONE -N -c 'set mouse=a' ../numbered.txt");
    ASSERT_EQ(top_line(dump_showing("line 01 ")), 1);
    // Vim writes the value of an expression to a file when asked.
    auto evaluate = [&](const std::string& expression) {
        fs::remove(position);
        const std::string command =
            ":call writefile([" + expression + "], '" + position.string() + "')";
        if (run("xdotool type --delay 10 " + shell_quote(command)) != 0 ||
            run("xdotool key Return") != 0) {
            return ""s;
        }
        std::string text;
        wait_for([&] {
            text = slurp(position);
            return !text.empty() && text.back() == '\n';
        });
        return text;
    };
    auto cursor = [&] { return evaluate("line('.').','.col('.')"); };
    EXPECT_EQ(cursor(), "1,1\n");
    keys("Down Down Down Right Right");
    EXPECT_EQ(cursor(), "4,3\n");
    keys("End");
    EXPECT_EQ(cursor(), "4,34\n");
    keys("Home Up");
    EXPECT_EQ(cursor(), "3,1\n");

    grid_cols_ = std::atoi(evaluate("&columns").c_str());
    grid_rows_ = std::atoi(evaluate("&lines").c_str());
    ASSERT_EQ(run("xdotool" + move_to(12, 6) + " click 1"), 0);
    EXPECT_EQ(cursor(), "7,13\n");

    // A drag selects from cell (2, 1) to cell (6, 3), even after a Control key (redraw).
    keys("ctrl+l");
    ASSERT_EQ(run("xdotool" + move_to(2, 1) + " mousedown 1" + move_to(4, 2) + move_to(6, 3) +
                  " mouseup 1"),
              0);
    keys("Escape");
    EXPECT_EQ(evaluate("line(\"'<\").','.col(\"'<\").'-'.line(\"'>\").','.col(\"'>\")"),
              "2,3-4,7\n");
    keys("colon q exclam Return");
}

TEST_F(ZeltoInputX11, LessScrollsWithTheWheel) {
    write_numbered_lines(dir_ / "numbered.txt");
    start("TERM=xterm-256color exec less --mouse --wheel-lines=2 ../numbered.txt");
    ASSERT_EQ(top_line(dump_showing("line 01 ")), 1);
    ASSERT_EQ(run("xdotool mousemove --window " + id_ + " 100 100 click 5 click 5 click 5"), 0);
    std::string shown;
    EXPECT_TRUE(wait_for([&] {
        shown = dump();
        return top_line(shown) == 7;
    })) << "top line "
        << top_line(shown);
    ASSERT_EQ(run("xdotool click 4"), 0);
    EXPECT_TRUE(wait_for([&] {
        shown = dump();
        return top_line(shown) == 5;
    })) << "top line "
        << top_line(shown);
}

}  // namespace
}  // namespace zelto
