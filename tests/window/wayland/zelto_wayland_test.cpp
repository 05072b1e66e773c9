// The zelto program on headless compositors: keys typed on the Wayland seat reach the shell,
// a seatless compositor does not stop it, and without a compositor it comes up on X11.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "window/wayland/headless_compositor.hpp"
#include "window/xvfb_server.hpp"

namespace zelto {
namespace {

using test::HeadlessCompositor;

// One zelto process running `script` in sh, stopped by its pid.
class ZeltoProcess {
  public:
    explicit ZeltoProcess(const std::string& script) {
        pid_ = fork();
        if (pid_ == 0) {
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            execl(ZELTO_EXECUTABLE, ZELTO_EXECUTABLE, "-c", "-e", "sh", "-c", script.c_str(),
                  static_cast<char*>(nullptr));
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
    // wtype waits a moment first: the seat has a keyboard only while wtype's virtual keyboard
    // exists, and zelto must take it and its focus before the keys come.
    int type(std::vector<std::string> actions) {
        actions.insert(actions.begin(), {"wtype", "-s", "700"});
        return sway.run_client(actions);
    }

    HeadlessCompositor sway{HeadlessCompositor::SWAY};
    std::string out;
};

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
