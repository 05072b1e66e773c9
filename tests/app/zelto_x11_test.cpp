// zelto itself on a private X server: its window, what typed keys and printed colours look like
// on screen, and how it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "window/process_support.hpp"
#include "window/xvfb_server.hpp"

// Last: Xlib's macros (None, Status) clash with the names of other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zelto {
namespace {

namespace fs = std::filesystem;
using test::run_output;
using test::wait_for;

constexpr int COLS = 40;
constexpr int ROWS = 8;

struct Rgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

class ZeltoX11 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        char pattern[] = "/tmp/zelto-x11-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        display_ = XOpenDisplay(server_.display_name().c_str());
        ASSERT_NE(display_, nullptr);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (display_) XCloseDisplay(display_);
        fs::remove_all(dir_);
    }

    // Starts zelto with `options` and the child command; waits for its window and focuses it.
    void start(std::vector<std::string> args) {
        args.insert(args.begin(), {ZELTO_EXECUTABLE, "-c", "-X", "--columns", std::to_string(COLS),
                                   "--rows", std::to_string(ROWS), "--blink", "false"});
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            unsetenv("WAYLAND_DISPLAY");
            setenv("PS1", "$ ", 1);
            // Mesa unloads its driver before exit, so what the driver keeps cannot be told
            // from a leak of zelto's (checked in-process elsewhere); the exit status must be
            // zelto's own.
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            std::vector<char*> argv;
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(ZELTO_EXECUTABLE, argv.data());
            _exit(127);
        }
        id_ = run_output("timeout 15 xdotool search --sync --pid " + std::to_string(pid_) +
                         " 2>/dev/null | head -n 1");
        ASSERT_FALSE(id_.empty()) << "no window appeared";
        id_.pop_back();
        window_ = static_cast<::Window>(std::stoul(id_));
        std::system(("xdotool windowfocus --sync " + id_ + " 2>/dev/null").c_str());
    }

    // Waits for zelto to end; its exit status, or -1 when it did not end in time.
    int wait_exit(int timeout_ms = 10'000) {
        int status = 0;
        const bool ended = wait_for([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                                    timeout_ms);
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string marker(const char* name) const { return (dir_ / name).string(); }

    bool exists(const char* name) const { return fs::exists(dir_ / name); }

    // Processor time zelto used, in seconds.
    double cpu_seconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 1; stat >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) {
                stime = std::stoull(field);
                break;
            }
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // The window's pixels, and the cell size they imply.
    XImage* grab() {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window_, &attributes);
        width_ = attributes.width;
        height_ = attributes.height;
        return XGetImage(display_, window_, 0, 0, static_cast<unsigned>(width_),
                         static_cast<unsigned>(height_), AllPlanes, ZPixmap);
    }

    static Rgb pixel(XImage* image, int x, int y) {
        const unsigned long p = XGetPixel(image, x, y);
        return {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
                static_cast<int>(p & 0xFF)};
    }

    // Whether any pixel of cell (col, row) differs from the background.
    bool has_ink(XImage* image, int col, int row) const {
        const int cw = width_ / COLS, ch = height_ / ROWS;
        const Rgb background = pixel(image, width_ - 1, height_ - 1);
        for (int y = row * ch; y < (row + 1) * ch; ++y) {
            for (int x = col * cw; x < (col + 1) * cw; ++x) {
                if (!(pixel(image, x, y) == background)) return true;
            }
        }
        return false;
    }

    Rgb cell_centre(XImage* image, int col, int row) const {
        const int cw = width_ / COLS, ch = height_ / ROWS;
        return pixel(image, col * cw + cw / 2, row * ch + ch / 2);
    }

    test::XvfbServer server_;
    fs::path dir_;
    Display* display_ = nullptr;
    pid_t pid_ = -1;
    std::string id_;
    ::Window window_ = 0;
    int width_ = 0, height_ = 0;
};

TEST_F(ZeltoX11, WindowHasTheGridTheTitleAndTheProperties) {
    start({"-e", "sh", "-c", "stty size > " + marker("size") + "; sleep 30"});
    ASSERT_TRUE(wait_for([&] { return exists("size"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ifstream size(dir_ / "size");
    int rows = 0, cols = 0;
    size >> rows >> cols;
    EXPECT_EQ(rows, ROWS);
    EXPECT_EQ(cols, COLS);
    const std::string props = run_output("xprop -id " + id_ + " _NET_WM_PID WM_CLASS WM_NAME");
    EXPECT_NE(props.find("_NET_WM_PID(CARDINAL) = " + std::to_string(pid_)), std::string::npos)
        << props;
    EXPECT_NE(props.find("WM_CLASS(STRING) = \"Zelto\""), std::string::npos) << props;
    EXPECT_NE(props.find("WM_NAME"), std::string::npos) << props;
    XImage* image = grab();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(width_ % COLS, 0) << "the window is the grid, without padding";
    EXPECT_EQ(height_ % ROWS, 0);
    XDestroyImage(image);
}

TEST_F(ZeltoX11, TypedCommandEchoesOnScreenAndColoursLandInTheirCells) {
    start({"--color-1", "ff0000", "--color-2", "00ff00", "-e", "sh"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(std::system("xdotool type --delay 20 'printf \"\\033[41m  \\033[42m  \\033[m\\n\"' "
                          "2>/dev/null"),
              0);
    std::system("xdotool key Return 2>/dev/null");
    // Row 0 holds the prompt and the typed command, row 1 the coloured blocks, row 2 a prompt.
    Rgb red{}, green{};
    bool drawn = wait_for([&] {
        XImage* image = grab();
        if (!image) return false;
        red = cell_centre(image, 1, 1);
        green = cell_centre(image, 3, 1);
        XDestroyImage(image);
        return red == Rgb{255, 0, 0} && green == Rgb{0, 255, 0};
    });
    EXPECT_TRUE(drawn) << "red " << red.r << "," << red.g << "," << red.b << " green " << green.r
                       << "," << green.g << "," << green.b;
    XImage* image = grab();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(has_ink(image, 0, 0)) << "the prompt";
    EXPECT_TRUE(has_ink(image, 3, 0)) << "the typed command";
    EXPECT_FALSE(has_ink(image, COLS - 1, 0));
    EXPECT_FALSE(has_ink(image, 10, 1)) << "nothing after the blocks";
    for (int row = 3; row < ROWS; ++row) EXPECT_FALSE(has_ink(image, 0, row)) << row;
    XDestroyImage(image);
}

TEST_F(ZeltoX11, ControlCInterruptsTheRunningProgram) {
    start({"-e", "sh", "-c", "trap 'echo > " + marker("int") + "; exit 0' INT; touch " +
                                 marker("ready") + "; while :; do sleep 0.1; done"});
    ASSERT_TRUE(wait_for([&] { return exists("ready"); }));
    std::system("xdotool key ctrl+c 2>/dev/null");
    EXPECT_TRUE(wait_for([&] { return exists("int"); }));
    EXPECT_EQ(wait_exit(), 0) << "the child's exit closes the window";
}

TEST_F(ZeltoX11, CloseButtonEndsZeltoAndHangsUpTheChild) {
    start({"-e", "sh", "-c", "trap 'echo > " + marker("hup") + "; exit 0' HUP; touch " +
                                 marker("ready") + "; while :; do sleep 0.1; done"});
    ASSERT_TRUE(wait_for([&] { return exists("ready"); }));
    ASSERT_EQ(std::system((std::string(SEND_WM_DELETE) + " " + id_).c_str()), 0);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_TRUE(wait_for([&] { return exists("hup"); }));
}

TEST_F(ZeltoX11, WindowDestroyedFromOutsideEndsZelto) {
    start({"-e", "sh", "-c", "sleep 30"});
    std::system(("xdotool windowclose " + id_ + " 2>/dev/null").c_str());
    EXPECT_EQ(wait_exit(), 0);
}

TEST_F(ZeltoX11, HoldKeepsTheWindowAndIdlesWithoutDrawing) {
    start({"--hold", "-e", "sh", "-c", "echo done"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(wait_exit(100), -1) << "the window went away with the child";
    const double before = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    EXPECT_LT(cpu_seconds() - before, 0.04) << "an idle held window uses the processor";
}

}  // namespace
}  // namespace zelto
