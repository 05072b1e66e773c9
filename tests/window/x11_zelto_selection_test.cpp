// The terminal itself on a private X server, with xdotool as the user and xclip as the other
// program: text dragged over is offered as the primary selection once the window loses focus,
// and the paste key and the middle button bring other programs' text to the child.

// clang-format off
#include <gtest/gtest.h>

#include "window/process_support.hpp"
#include "window/xvfb_server.hpp"

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace zelto {
namespace {

namespace fs = std::filesystem;
using test::run_output;
using test::slurp;
using test::wait_for;

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// Plays a file manager dragging `uri_list` onto `target` and dropping it there; whether the
// target accepted the drop.
bool drop_files(Display* display, ::Window target, const std::string& uri_list) {
    auto atom = [&](const char* name) { return XInternAtom(display, name, False); };
    const ::Window source =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, atom("XdndSelection"), source, CurrentTime);
    auto send = [&](const char* type, long l1, long l2, long l3, long l4) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = atom(type);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(source);
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = l3;
        event.xclient.data.l[4] = l4;
        XSendEvent(display, target, False, NoEventMask, &event);
        XFlush(display);
    };
    send("XdndEnter", 5L << 24, static_cast<long>(atom("text/uri-list")), 0, 0);
    send("XdndPosition", 0, (50L << 16) | 50, CurrentTime,
         static_cast<long>(atom("XdndActionCopy")));
    bool accepted = false;
    const bool finished = wait_for(
        [&] {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == SelectionRequest) {
                    const XSelectionRequestEvent& request = event.xselectionrequest;
                    XChangeProperty(display, request.requestor, request.property, request.target, 8,
                                    PropModeReplace,
                                    reinterpret_cast<const unsigned char*>(uri_list.data()),
                                    static_cast<int>(uri_list.size()));
                    XEvent reply{};
                    reply.xselection.type = SelectionNotify;
                    reply.xselection.requestor = request.requestor;
                    reply.xselection.selection = request.selection;
                    reply.xselection.target = request.target;
                    reply.xselection.property = request.property;
                    reply.xselection.time = request.time;
                    XSendEvent(display, request.requestor, False, NoEventMask, &reply);
                    XFlush(display);
                } else if (event.type == ClientMessage &&
                           event.xclient.message_type == atom("XdndStatus")) {
                    if (event.xclient.data.l[1] & 1) send("XdndDrop", 0, CurrentTime, 0, 0);
                } else if (event.type == ClientMessage &&
                           event.xclient.message_type == atom("XdndFinished")) {
                    accepted = event.xclient.data.l[1] & 1;
                    return true;
                }
            }
            return false;
        },
        10'000);
    XDestroyWindow(display, source);
    XSync(display, False);
    return finished && accepted;
}

class ZeltoSelectionX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        char pattern[] = "/tmp/zelto-selection-x11-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config" / "zelto");
        std::ofstream(dir_ / "config" / "zelto" / "config") << "";
        display_ = XOpenDisplay(server_.display_name().c_str());
        ASSERT_NE(display_, nullptr);
    }

    void TearDown() override {
        stop();
        if (display_) XCloseDisplay(display_);
        fs::remove_all(dir_);
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        fs::remove(dir_ / "ready");
        fs::remove(dir_ / "got");
    }

    void start(const std::string& script) {
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            if (chdir(dir_.c_str()) != 0) _exit(127);
            execl(ZELTO_EXECUTABLE, ZELTO_EXECUTABLE, "-X", "-e", "sh", "-c", script.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        id_ = run_output("timeout 10 xdotool search --sync --pid " + std::to_string(pid_) +
                         " 2>/dev/null | head -n 1");
        while (!id_.empty() && id_.back() == '\n') id_.pop_back();
        ASSERT_FALSE(id_.empty()) << "no window appeared";
        ASSERT_EQ(run("xdotool windowfocus --sync " + id_), 0);
    }

    // The child signals that it has set its terminal up by creating "ready".
    void wait_ready() {
        ASSERT_TRUE(wait_for([&] { return fs::exists(dir_ / "ready"); }));
    }

    // A window of another program takes the keyboard focus.
    void focus_elsewhere() {
        const ::Window other =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 700, 500, 50, 50, 0, 0, 0);
        XMapWindow(display_, other);
        XSync(display_, False);
        ASSERT_EQ(run("xdotool windowfocus --sync " + std::to_string(other)), 0);
    }

    void xclip_in(const std::string& selection, const std::string& text) {
        const fs::path in = dir_ / "clip";
        std::ofstream(in, std::ios::binary) << text;
        ASSERT_EQ(run("xclip -i -l 1 -selection " + selection + " " + in.string()), 0);
        ASSERT_TRUE(wait_for([&] {
            return !run_output("xclip -o -selection " + selection + " -t TARGETS 2>/dev/null")
                        .empty();
        }));
    }

    test::XvfbServer server_;
    fs::path dir_;
    pid_t pid_ = -1;
    Display* display_ = nullptr;
    std::string id_;
};

TEST_F(ZeltoSelectionX11, DraggedTextBecomesThePrimarySelectionOnFocusLoss) {
    start("printf 'hello selection world\\n'; touch ready; exec sleep 60");
    wait_ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the line is on the screen
    // Across the whole first row, from its left edge to the window's right edge.
    ASSERT_EQ(run("xdotool mousemove --window " + id_ + " 2 8 mousedown 1 mousemove --window " +
                  id_ + " 300 8 mousemove --window " + id_ + " 630 8 mouseup 1"),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    focus_elsewhere();
    std::string primary;
    EXPECT_TRUE(wait_for([&] {
        primary = run_output("xclip -o -selection primary 2>/dev/null");
        return primary == "hello selection world";
    })) << "primary: '"
        << primary << "'";
}

TEST_F(ZeltoSelectionX11, CopyKeyPutsTheSelectionOnTheClipboard) {
    start("printf 'first line\\nsecond line\\n'; touch ready; exec sleep 60");
    wait_ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(run("xdotool mousemove --window " + id_ + " 2 8 mousedown 1 mousemove --window " +
                  id_ + " 300 24 mousemove --window " + id_ + " 630 24 mouseup 1"),
              0);
    ASSERT_EQ(run("xdotool key ctrl+shift+c"), 0);
    std::string clipboard;
    EXPECT_TRUE(wait_for([&] {
        clipboard = run_output("xclip -o -selection clipboard 2>/dev/null");
        return clipboard == "first line\nsecond line";
    })) << "clipboard: '"
        << clipboard << "'";
}

// The child reads in raw mode: a cooked terminal would hold the text back until a line end.
TEST_F(ZeltoSelectionX11, PasteKeyBringsTheClipboardBracketedWithoutEscapes) {
    const std::string text = "echo one\x1b[31m two";
    // Bracketed, without the ESC: 6 + 16 + 6 bytes.
    start("printf '\\033[?2004h'; stty raw -echo; touch ready; head -c 28 > got; exec sleep 60");
    wait_ready();
    xclip_in("clipboard", text);
    ASSERT_EQ(run("xdotool windowfocus --sync " + id_ + " key ctrl+shift+v"), 0);
    ASSERT_TRUE(
        wait_for([&] { return fs::exists(dir_ / "got") && fs::file_size(dir_ / "got") >= 28; }));
    EXPECT_EQ(slurp(dir_ / "got"), "\x1b[200~echo one[31m two\x1b[201~");
}

TEST_F(ZeltoSelectionX11, MiddleClickPastesThePrimarySelection) {
    start("stty raw -echo; touch ready; head -c 12 > got; exec sleep 60");
    wait_ready();
    xclip_in("primary", "from primary");
    ASSERT_EQ(run("xdotool mousemove --window " + id_ + " 100 100 click 2"), 0);
    ASSERT_TRUE(
        wait_for([&] { return fs::exists(dir_ / "got") && fs::file_size(dir_ / "got") >= 12; }));
    EXPECT_EQ(slurp(dir_ / "got"), "from primary");
}

TEST_F(ZeltoSelectionX11, LargePastesReachTheChildWhole) {
    // One and four MiB: both arrive incrementally, the second in many pieces.
    for (const std::size_t size : {std::size_t{1} << 20, std::size_t{4} << 20}) {
        std::string text;
        for (int i = 0; text.size() < size; ++i) text += "word" + std::to_string(i % 1000) + ' ';
        text.resize(size);
        start("stty raw -echo; touch ready; head -c " + std::to_string(size) +
              " > got; exec sleep 60");
        wait_ready();
        xclip_in("clipboard", text);
        ASSERT_EQ(run("xdotool windowfocus --sync " + id_ + " key ctrl+shift+v"), 0);
        ASSERT_TRUE(wait_for(
            [&] { return fs::exists(dir_ / "got") && fs::file_size(dir_ / "got") >= size; },
            60'000))
            << size;
        EXPECT_TRUE(slurp(dir_ / "got") == text) << size;
        stop();
    }
}

TEST_F(ZeltoSelectionX11, DroppedFilesReachTheChildAsPaths) {
    start("stty raw -echo; touch ready; head -c 17 > got; exec sleep 60");
    wait_ready();
    ASSERT_TRUE(drop_files(display_, static_cast<::Window>(std::stoul(id_)),
                           "file:///a/b.txt\r\nfile:///c/d.txt\r\n"));
    ASSERT_TRUE(
        wait_for([&] { return fs::exists(dir_ / "got") && fs::file_size(dir_ / "got") >= 17; }));
    EXPECT_EQ(slurp(dir_ / "got"), "/a/b.txt /c/d.txt");
}

}  // namespace
}  // namespace zelto
