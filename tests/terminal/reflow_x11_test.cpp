// zelto on a private X server: a new window size changes the grid, the shell's `stty size` says
// so, and a long line flows to the new width. The screen is read back from HTML dumps (bound to
// F10) and from the window's pixels.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "window/process_support.hpp"
#include "window/xvfb_server.hpp"

// Last: Xlib's macros (None, Status) clash with the names of other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zelto {
namespace {

namespace fs = std::filesystem;
using test::run_output;
using test::slurp;
using test::wait_for;

// The rightmost column of the window that shows anything but the background (the bottom-right
// pixel, which lies in the padding); -1 for a blank window.
int rightmost_lit_column(Display* display, ::Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return -1;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) return -1;
    const unsigned long background = XGetPixel(image, attributes.width - 1, attributes.height - 1);
    int rightmost = -1;
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = rightmost + 1; x < attributes.width; ++x) {
            if (XGetPixel(image, x, y) != background) rightmost = x;
        }
    }
    XDestroyImage(image);
    return rightmost;
}

// 150 letters a..z over and over: every piece of the wrapped line reads differently.
std::string long_line() {
    std::string s;
    for (int i = 0; i < 150; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

class ReflowX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        char pattern[] = "/tmp/zelto-reflow-x11-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config" / "zelto");
        fs::create_directories(dir_ / "cwd");
        std::ofstream(dir_ / "config" / "zelto" / "config") << "bind-key-html-dump = F10\n";
        display_ = XOpenDisplay(server_.display_name().c_str());
        ASSERT_NE(display_, nullptr);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (display_) XCloseDisplay(display_);
        fs::remove_all(dir_);
    }

    void start(const std::string& script) {
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            if (chdir((dir_ / "cwd").c_str()) != 0) _exit(127);
            execl(ZELTO_EXECUTABLE, ZELTO_EXECUTABLE, "-X", "-e", "sh", "-c", script.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        id_ = run_output("timeout 10 xdotool search --sync --pid " + std::to_string(pid_) +
                         " 2>/dev/null | head -n 1");
        ASSERT_FALSE(id_.empty()) << "no window appeared";
        id_.erase(id_.find_last_not_of("\n") + 1);
        window_ = static_cast<::Window>(std::stoul(id_));
        ASSERT_EQ(std::system(("xdotool windowfocus --sync " + id_ + " 2>/dev/null").c_str()), 0);
    }

    std::string dump() {
        for (const auto& entry : fs::directory_iterator(dir_ / "cwd")) fs::remove(entry.path());
        if (std::system(("xdotool key F10 2>/dev/null")) != 0) return {};
        std::optional<fs::path> written;
        wait_for(
            [&] {
                for (const auto& entry : fs::directory_iterator(dir_ / "cwd")) {
                    if (entry.path().extension() == ".html" && fs::file_size(entry.path()) > 0) {
                        written = entry.path();
                    }
                }
                return written.has_value() && slurp(*written).find("</html>") != std::string::npos;
            },
            5'000);
        return written ? slurp(*written) : std::string();
    }

    test::XvfbServer server_;
    fs::path dir_;
    pid_t pid_ = -1;
    Display* display_ = nullptr;
    std::string id_;
    ::Window window_ = 0;
};

TEST_F(ReflowX11, ANewWindowSizeReachesTheShellAndTheTextFlowsToTheNewWidth) {
    // The shell prints its size at start and again on every window-size signal.
    start("trap 'stty size' WINCH; printf '%s\\n' " + long_line() +
          "; stty size; while :; do sleep 1 & wait $!; done");
    std::string text;
    ASSERT_TRUE(wait_for([&] {
        text = dump();
        return text.find(">24 80<") != std::string::npos;
    })) << text;
    ASSERT_NE(text.find(">" + long_line().substr(0, 80) + "<"), std::string::npos) << text;
    int wide_extent = -1;
    ASSERT_TRUE(wait_for([&] { return (wide_extent = rightmost_lit_column(display_, window_)) > 0; }))
        << "nothing drawn";

    ASSERT_EQ(std::system(("xdotool windowsize --sync " + id_ + " 300 260 2>/dev/null").c_str()), 0);
    const std::regex size_line(">([0-9]+) ([0-9]+)<");
    int rows = 0, cols = 0;
    ASSERT_TRUE(wait_for([&] {
        text = dump();
        for (auto it = std::sregex_iterator(text.begin(), text.end(), size_line); it != std::sregex_iterator(); ++it) {
            const int r = std::stoi((*it)[1]);
            const int c = std::stoi((*it)[2]);
            if (r != 24 || c != 80) {
                rows = r;
                cols = c;
                return true;
            }
        }
        return false;
    })) << text;
    EXPECT_LT(cols, 80);
    EXPECT_LT(rows, 24);
    ASSERT_GT(cols, 1);
    // The long line reads in pieces of the new width.
    const std::string line = long_line();
    for (std::size_t at = 0; at < line.size(); at += static_cast<std::size_t>(cols)) {
        EXPECT_NE(text.find(">" + line.substr(at, static_cast<std::size_t>(cols)) + "<"), std::string::npos)
            << "piece at " << at << " of width " << cols << " in\n"
            << text;
    }
    // The window shows the text re-wrapped: lit, and narrower than the 80-column line was.
    int narrow_extent = -1;
    EXPECT_TRUE(wait_for([&] {
        narrow_extent = rightmost_lit_column(display_, window_);
        return narrow_extent > 0 && narrow_extent < wide_extent && narrow_extent < 300;
    })) << wide_extent << " -> " << narrow_extent;
}

}  // namespace
}  // namespace zelto
