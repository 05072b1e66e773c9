#include "window/xvfb_server.hpp"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace zelto::test {

namespace {

bool path_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// The lock file holds the pid of the server that owns the display number.
pid_t lock_owner(int number) {
    std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
    long pid = -1;
    lock >> pid;
    return lock ? static_cast<pid_t>(pid) : -1;
}

pid_t spawn_xvfb(const std::string& display, const std::vector<std::string>& extra_args) {
    std::vector<std::string> args = {"Xvfb",        display,      "-screen", "0",
                                     "1024x768x24", "+extension", "GLX",     "+extension",
                                     "RANDR",       "+extension", "RENDER",  "-nolisten",
                                     "tcp",         "-noreset",   "-dpi",    "96"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
    }
    execvp("Xvfb", argv.data());
    _exit(127);
}

}  // namespace

bool XvfbServer::start(const std::vector<std::string>& extra_args) {
    for (int number = 90; number < 190; ++number) {
        if (try_display(number, extra_args)) {
            if (const char* previous = std::getenv("DISPLAY")) {
                previous_display_ = previous;
            }
            setenv("DISPLAY", display_name_.c_str(), 1);
            setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
            return true;
        }
    }
    if (error_.empty()) {
        error_ = "no free display number for Xvfb";
    }
    return false;
}

bool XvfbServer::try_display(int number, const std::vector<std::string>& extra_args) {
    const std::string display = ":" + std::to_string(number);
    if (path_exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
        path_exists("/tmp/.X" + std::to_string(number) + "-lock")) {
        return false;
    }
    const pid_t pid = spawn_xvfb(display, extra_args);
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
                error_ = "Xvfb could not be run";
            }
            return false;  // lost the display number to another server
        }
        // Another test program may have won this number: only our own server will do.
        if (lock_owner(number) == pid) {
            if (Display* probe = XOpenDisplay(display.c_str())) {
                XCloseDisplay(probe);
                pid_ = pid;
                display_name_ = display;
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    error_ = "Xvfb did not accept connections";
    return false;
}

void XvfbServer::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    if (previous_display_) {
        setenv("DISPLAY", previous_display_->c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    previous_display_.reset();
}

}  // namespace zelto::test
