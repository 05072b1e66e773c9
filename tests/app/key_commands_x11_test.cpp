// The terminal itself on a private X server: keys typed through XTest reach the key commands.
// What the view shows is read back from HTML dumps (bound to F10 in the configuration file) and
// from the window's pixels.
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

// How far right the window shows anything but the background (the bottom-right pixel, which
// lies in the padding): -1 for a blank window.
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

class KeyCommandsX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        char pattern[] = "/tmp/zelto-keys-x11-XXXXXX";
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

    // Starts the terminal on `script`, waits for its window and gives it the keyboard focus.
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
        const std::string id = run_output("timeout 10 xdotool search --sync --pid " +
                                          std::to_string(pid_) + " 2>/dev/null | head -n 1");
        ASSERT_FALSE(id.empty()) << "no window appeared";
        window_ = static_cast<::Window>(std::stoul(id));
        ASSERT_EQ(std::system(("xdotool windowfocus --sync " + id + " 2>/dev/null").c_str()), 0);
    }

    void keys(const std::string& names) {
        ASSERT_EQ(std::system(("xdotool key --delay 30 " + names + " 2>/dev/null").c_str()), 0);
    }

    // Presses F10 and returns the text of the dump it writes.
    std::string dump() {
        for (const auto& entry : fs::directory_iterator(dir_ / "cwd")) fs::remove(entry.path());
        keys("F10");
        std::optional<fs::path> written;
        wait_for([&] {
            for (const auto& entry : fs::directory_iterator(dir_ / "cwd")) {
                if (entry.path().extension() == ".html" && fs::file_size(entry.path()) > 0) {
                    written = entry.path();
                }
            }
            return written.has_value() && slurp(*written).find("</html>") != std::string::npos;
        });
        return written ? slurp(*written) : std::string();
    }

    // Dumps until `wanted` shows up (the child may still be printing).
    std::string dump_showing(const std::string& wanted) {
        std::string text;
        wait_for([&] {
            text = dump();
            return text.find(wanted) != std::string::npos;
        });
        return text;
    }

    test::XvfbServer server_;
    fs::path dir_;
    pid_t pid_ = -1;
    Display* display_ = nullptr;
    ::Window window_ = 0;
};

// "older 1" .. "older 200": the screen shows the last of them.
const char* const NUMBERED =
    "i=1; while [ $i -le 200 ]; do echo older $i; i=$((i+1)); done; exec sleep 60";

TEST_F(KeyCommandsX11, PageUpShowsOlderOutputAndAConfiguredF10Binding) {
    start(NUMBERED);
    const std::string bottom = dump_showing("older 200<");
    ASSERT_NE(bottom.find("older 200<"), std::string::npos) << bottom;
    EXPECT_EQ(bottom.find("older 165<"), std::string::npos);

    // One screen up from 24 rows (the last one the cursor's empty line).
    keys("ctrl+shift+Prior");
    const std::string back = dump();
    EXPECT_EQ(back.find("older 200<"), std::string::npos);
    EXPECT_NE(back.find("older 165<"), std::string::npos) << back;

    keys("ctrl+shift+Next ctrl+shift+Next");
    EXPECT_NE(dump().find("older 200<"), std::string::npos);
}

TEST_F(KeyCommandsX11, EnlargingTheFontLeavesFewerCellsInTheWindow) {
    start(NUMBERED);
    const std::string before = dump_showing("older 200<");
    ASSERT_NE(before.find("font-size: 9;"), std::string::npos) << before;
    // Every line is "older " and a number: the longest are as wide as the widest glyphs go.
    int extent_before = -1;
    ASSERT_TRUE(wait_for([&] {
        extent_before = rightmost_lit_column(display_, window_);
        return extent_before > 0;
    })) << "nothing drawn";

    keys("ctrl+shift+equal ctrl+shift+equal ctrl+shift+equal ctrl+shift+equal");
    const std::string after = dump_showing("font-size: 13;");
    ASSERT_NE(after.find("font-size: 13;"), std::string::npos);
    // The same window holds fewer rows: older lines left the top of the screen.
    auto shown = [](const std::string& text) {
        int count = 0;
        for (std::size_t at = 0; (at = text.find("older ", at)) != std::string::npos; ++at) ++count;
        return count;
    };
    EXPECT_LT(shown(after), shown(before));
    EXPECT_NE(after.find("older 200<"), std::string::npos);

    // The screenshot shows the same lines in larger glyphs.
    int extent_after = -1;
    EXPECT_TRUE(wait_for([&] {
        extent_after = rightmost_lit_column(display_, window_);
        return extent_after > extent_before * 5 / 4;
    })) << extent_before
        << " -> " << extent_after;

    keys("ctrl+shift+minus ctrl+shift+minus ctrl+shift+minus ctrl+shift+minus");
    EXPECT_NE(dump_showing("font-size: 9;").find("font-size: 9;"), std::string::npos);
}

}  // namespace
}  // namespace zelto
