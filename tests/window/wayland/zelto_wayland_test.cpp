// The zelto program on headless compositors: the shell's output reaches the screen, frames keep
// coming while it prints, keys typed on the Wayland seat reach the shell, so does a paste, a
// seatless compositor does not stop it, and without a compositor it comes up on X11.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "window/wayland/headless_compositor.hpp"
#include "window/xvfb_server.hpp"

namespace zelto {
namespace {

using test::HeadlessCompositor;

// One zelto process running `script` in sh, stopped by its pid. With a `protocol_log`, libwayland
// writes every request and event of zelto's connection there (its standard error).
class ZeltoProcess {
  public:
    explicit ZeltoProcess(const std::string& script) : ZeltoProcess({}, script) {}
    ZeltoProcess(std::vector<std::string> options, const std::string& script,
                 const std::string& protocol_log = {}) {
        options.insert(options.begin(), {ZELTO_EXECUTABLE, "-c"});
        options.insert(options.end(), {"-e", "sh", "-c", script});
        pid_ = fork();
        if (pid_ == 0) {
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            if (!protocol_log.empty()) {
                log_protocol_to(protocol_log);
            }
            std::vector<char*> argv;
            for (std::string& arg : options) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(ZELTO_EXECUTABLE, argv.data());
            _exit(127);
        }
    }
    ZeltoProcess(const ZeltoProcess&) = delete;
    ZeltoProcess& operator=(const ZeltoProcess&) = delete;
    ~ZeltoProcess() {
        if (running()) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    bool running() {
        if (pid_ <= 0) {
            return false;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

  private:
    static void log_protocol_to(const std::string& path) {
        setenv("WAYLAND_DEBUG", "client", 1);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
    }

    pid_t pid_ = -1;
};

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Waits up to ten seconds for `done`, checking every 20 ms.
template <typename Done>
bool wait_for(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The output of a command, through the shell.
std::string command_output(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, n);
        }
        pclose(pipe);
    }
    return output;
}

// Frames zelto presented, from its protocol log: the buffers attached to the surface of its
// toplevel, named by the request "get_xdg_surface(new id xdg_surface@N, wl_surface@M)".
int presented_frames(const std::string& protocol_log) {
    const std::string log = read_file(protocol_log);
    const std::size_t request = log.find("get_xdg_surface(");
    const std::size_t surface = log.find("wl_surface@", request);
    const std::size_t end = log.find(')', surface);
    if (request == std::string::npos || surface == std::string::npos || end == std::string::npos) {
        return 0;
    }
    const std::string attach = log.substr(surface, end - surface) + ".attach(";
    int frames = 0;
    for (std::size_t at = log.find(attach); at != std::string::npos;
         at = log.find(attach, at + attach.size())) {
        ++frames;
    }
    return frames;
}

// A binary PPM screenshot; empty when it cannot be read.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::string pixels;  // three bytes each

    static Screenshot read(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        std::string magic;
        Screenshot shot;
        int max = 0;
        file >> magic >> shot.width >> shot.height >> max;
        file.get();
        shot.pixels.assign(std::istreambuf_iterator<char>(file), {});
        if (magic != "P6" || shot.width <= 0 || shot.height <= 0 ||
            shot.pixels.size() != 3u * static_cast<std::size_t>(shot.width * shot.height)) {
            return {};
        }
        return shot;
    }
    bool empty() const { return pixels.empty(); }
    std::string pixel(int x, int y) const {
        return pixels.substr(3u * static_cast<std::size_t>(y * width + x), 3);
    }
};

class ZeltoOnSway : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sway.start()) << sway.error();
        unsetenv("DISPLAY");
        out = sway.runtime_dir() + "/out";
    }
    // The window is mapped once sway's tree holds it.
    bool window_mapped() {
        return command_output("swaymsg -s " + sway.ipc_socket() + " -t get_tree")
                   .find("\"app_id\": \"Zelto\"") != std::string::npos;
    }
    // The window's contents on the output, as grim's geometry "x,y widthxheight": the window
    // rectangle sway gives inside its container, whose rectangle comes just before the app id.
    std::string window_geometry() {
        const std::string tree = command_output("swaymsg -s " + sway.ipc_socket() + " -t get_tree");
        const std::size_t app_id = tree.find("\"app_id\": \"Zelto\"");
        const std::size_t rect = tree.rfind("\"rect\": {", app_id);
        if (app_id == std::string::npos || rect == std::string::npos) {
            return {};
        }
        const std::regex box(
            R"("x": (-?\d+),\s*"y": (-?\d+),\s*"width": (\d+),\s*"height": (\d+))");
        std::smatch outer;
        std::smatch inner;
        const std::string node = tree.substr(rect, app_id - rect);
        const std::size_t window_rect = node.find("\"window_rect\": {");
        if (window_rect == std::string::npos ||
            !std::regex_search(node.begin(), node.end(), outer, box) ||
            !std::regex_search(node.begin() + static_cast<std::ptrdiff_t>(window_rect), node.end(),
                               inner, box)) {
            return {};
        }
        return std::to_string(std::stoi(outer[1]) + std::stoi(inner[1])) + "," +
               std::to_string(std::stoi(outer[2]) + std::stoi(inner[2])) + " " + inner[3].str() +
               "x" + inner[4].str();
    }
    // The window's contents as grim sees them on the output.
    Screenshot shoot() {
        const std::string geometry = window_geometry();
        const std::string path = sway.runtime_dir() + "/window.ppm";
        if (geometry.empty() || sway.run_client({"grim", "-t", "ppm", "-g", geometry, path}) != 0) {
            return {};
        }
        return Screenshot::read(path);
    }
    // Whether any pixel of cell (col, row) differs from the background, which the bottom right
    // cell shows in these tests. A glyph's edge may reach a pixel into the cells beside it, so
    // the outermost pixel columns of the cell are not looked at.
    static bool has_ink(const Screenshot& shot, int col, int row) {
        const int width = shot.width / COLUMNS;
        const int height = shot.height / ROWS;
        const std::string background = shot.pixel(shot.width - 1, shot.height - 1);
        for (int y = row * height; y < (row + 1) * height; ++y) {
            for (int x = col * width + 1; x < (col + 1) * width - 1; ++x) {
                if (shot.pixel(x, y) != background) {
                    return true;
                }
            }
        }
        return false;
    }
    static std::vector<std::string> grid() {
        return {"--columns", std::to_string(COLUMNS), "--rows", std::to_string(ROWS), "--blink",
                "false"};
    }

    static constexpr int COLUMNS = 20;
    static constexpr int ROWS = 5;

    // wtype waits a moment first: the seat has a keyboard only while wtype's virtual keyboard
    // exists, and zelto must take it and its focus before the keys come.
    int type(std::vector<std::string> actions) {
        actions.insert(actions.begin(), {"wtype", "-s", "700"});
        return sway.run_client(actions);
    }

    HeadlessCompositor sway{HeadlessCompositor::SWAY};
    std::string out;
};

TEST_F(ZeltoOnSway, TheShellsOutputAppearsInItsCells) {
    ZeltoProcess zelto(grid(), "printf 'hello\\n\\n  world\\n'; sleep 30");
    ASSERT_TRUE(wait_for([&] { return window_mapped(); }));
    Screenshot shot;
    ASSERT_TRUE(wait_for([&] {
        shot = shoot();
        return !shot.empty() && has_ink(shot, 0, 0) && has_ink(shot, 6, 2);
    })) << "the printed lines never showed";
    EXPECT_EQ(shot.width % COLUMNS, 0) << "the window is the grid, without padding";
    EXPECT_EQ(shot.height % ROWS, 0);
    // Row 0 holds "hello", row 2 "  world", the cursor waits at the start of row 3.
    for (int col = 0; col < COLUMNS; ++col) {
        EXPECT_EQ(has_ink(shot, col, 0), col < 5) << "row 0, column " << col;
        EXPECT_FALSE(has_ink(shot, col, 1)) << "row 1, column " << col;
        EXPECT_EQ(has_ink(shot, col, 2), col >= 2 && col < 7) << "row 2, column " << col;
        EXPECT_FALSE(has_ink(shot, col, 4)) << "row 4, column " << col;
    }
    EXPECT_TRUE(zelto.running());
}

TEST_F(ZeltoOnSway, FramesKeepBeingPresentedWhileYesRuns) {
    const std::string log = sway.runtime_dir() + "/protocol.log";
    ZeltoProcess zelto(grid(), "yes", log);
    ASSERT_TRUE(wait_for([&] { return window_mapped(); }));
    // Counted from the first frame that shows the output, so the start-up frames do not count.
    ASSERT_TRUE(wait_for([&] {
        const Screenshot shot = shoot();
        return !shot.empty() && has_ink(shot, 0, 0);
    }));
    int frames = presented_frames(log);
    for (int round = 0; round < 5; ++round) {
        const int before = frames;
        ASSERT_TRUE(wait_for([&] { return (frames = presented_frames(log)) > before; }))
            << "no frame after frame " << before << ", round " << round;
    }
    EXPECT_TRUE(zelto.running());
}

TEST_F(ZeltoOnSway, AnIdleWindowPresentsNoFrames) {
    const std::string log = sway.runtime_dir() + "/protocol.log";
    ZeltoProcess zelto(grid(), "echo idle; sleep 30", log);
    ASSERT_TRUE(wait_for([&] { return window_mapped(); }));
    ASSERT_TRUE(wait_for([&] {
        const Screenshot shot = shoot();
        return !shot.empty() && has_ink(shot, 0, 0);
    }));
    // Nothing changes and nothing blinks: half a second of it tells.
    const int frames = presented_frames(log);
    ASSERT_GT(frames, 0);
    for (int i = 0; i < 25; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(presented_frames(log), frames);
    }
    EXPECT_TRUE(zelto.running());
}

TEST_F(ZeltoOnSway, TypedTextReachesTheShell) {
    ZeltoProcess zelto("head -c 8 > " + out);
    ASSERT_TRUE(wait_for([&] { return window_mapped(); }));
    EXPECT_EQ(type({"echo hi", "-k", "Return"}), 0);
    ASSERT_TRUE(wait_for([&] { return read_file(out).size() >= 8; }));
    // The shell reads through a cooked tty: Return arrives as a newline.
    EXPECT_EQ(read_file(out), "echo hi\n");
}

TEST_F(ZeltoOnSway, ControlCInterruptsTheProgram) {
    ZeltoProcess zelto("trap 'echo interrupted > " + out +
                       "; exit' INT; while :; do sleep 0.05; done");
    ASSERT_TRUE(wait_for([&] { return window_mapped(); }));
    EXPECT_EQ(type({"-M", "ctrl", "-k", "c", "-m", "ctrl"}), 0);
    ASSERT_TRUE(wait_for([&] { return !read_file(out).empty(); }));
    EXPECT_EQ(read_file(out), "interrupted\n");
}

TEST_F(ZeltoOnSway, ThePasteKeyTypesTheClipboardIntoTheShell) {
    // Raw and silent, so the shell reads exactly what the paste wrote.
    ZeltoProcess zelto("stty raw -echo; head -c 24 > " + out);
    ASSERT_TRUE(wait_for([&] { return window_mapped(); }));
    ASSERT_EQ(sway.run_client({"wl-copy", "text from another client"}), 0);
    EXPECT_EQ(type({"-M", "ctrl", "-M", "shift", "-k", "v", "-m", "shift", "-m", "ctrl"}), 0);
    ASSERT_TRUE(wait_for([&] { return read_file(out).size() >= 24; }));
    EXPECT_EQ(read_file(out), "text from another client");
    EXPECT_TRUE(zelto.running());
}

TEST(ZeltoOnWeston, ASeatlessCompositorDoesNotStopIt) {
    HeadlessCompositor weston(HeadlessCompositor::WESTON);
    ASSERT_TRUE(weston.start()) << weston.error();
    unsetenv("DISPLAY");
    const std::string marker = weston.runtime_dir() + "/started";
    ZeltoProcess zelto("touch " + marker + "; sleep 30");
    ASSERT_TRUE(wait_for([&] { return access(marker.c_str(), F_OK) == 0; }));
    // A seatless run has nothing that would end it: a few hundred milliseconds of it tell.
    for (int i = 0; i < 25; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(zelto.running());
    }
    EXPECT_TRUE(weston.running());
}

TEST(ZeltoWithoutCompositor, ComesUpOnX11) {
    test::XvfbServer xvfb;
    ASSERT_TRUE(xvfb.start()) << xvfb.error();
    setenv("WAYLAND_DISPLAY", "/nonexistent/zelto-no-compositor", 1);
    ZeltoProcess zelto("sleep 30");
    ASSERT_TRUE(wait_for([&] {
        return command_output("xwininfo -root -tree 2>/dev/null").find("\"Zelto\"") !=
               std::string::npos;
    }));
    EXPECT_TRUE(zelto.running());
}

}  // namespace
}  // namespace zelto
