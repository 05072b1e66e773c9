#pragma once

// zelto on a private X server, with F10 bound to the HTML dump so that a test can read back
// what the view shows. Test programs that include this define ZELTO_EXECUTABLE.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "window/process_support.hpp"
#include "window/xvfb_server.hpp"

// Last: Xlib's macros (None, Status) clash with the names of other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zelto::test {

// The rightmost column of the window that shows anything but the background (the bottom-right
// pixel, which lies in the padding); -1 for a blank window.
inline int rightmost_lit_column(Display* display, ::Window window) {
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

class ZeltoDumpX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        char pattern[] = "/tmp/zelto-dump-x11-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::filesystem::create_directories(dir_ / "config" / "zelto");
        std::filesystem::create_directories(dir_ / "cwd");
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
        std::filesystem::remove_all(dir_);
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
        id_ = run_output("timeout 10 xdotool search --sync --pid " + std::to_string(pid_) +
                         " 2>/dev/null | head -n 1");
        ASSERT_FALSE(id_.empty()) << "no window appeared";
        id_.erase(id_.find_last_not_of("\n") + 1);
        window_ = static_cast<::Window>(std::stoul(id_));
        ASSERT_EQ(std::system(("xdotool windowfocus --sync " + id_ + " 2>/dev/null").c_str()), 0);
    }

    void keys(const std::string& names) {
        ASSERT_EQ(std::system(("xdotool key --delay 30 " + names + " 2>/dev/null").c_str()), 0);
    }

    // Presses F10 and returns the text of the dump it writes (empty when none came in time).
    std::string dump(int timeout_ms = 15'000) {
        for (const auto& entry : std::filesystem::directory_iterator(dir_ / "cwd")) {
            std::filesystem::remove(entry.path());
        }
        if (std::system("xdotool key F10 2>/dev/null") != 0) return {};
        std::optional<std::filesystem::path> written;
        wait_for(
            [&] {
                for (const auto& entry : std::filesystem::directory_iterator(dir_ / "cwd")) {
                    if (entry.path().extension() == ".html" &&
                        std::filesystem::file_size(entry.path()) > 0) {
                        written = entry.path();
                    }
                }
                return written && slurp(*written).find("</html>") != std::string::npos;
            },
            timeout_ms);
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

    XvfbServer server_;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    Display* display_ = nullptr;
    std::string id_;
    ::Window window_ = 0;
};

}  // namespace zelto::test
