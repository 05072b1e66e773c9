#include "window/wayland/headless_compositor.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace zelto::test {

namespace {

void silence_output() {
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
    }
}

// The display socket a compositor made in `dir` (sway picks its own name, and adds an IPC
// socket beside it).
std::string find_socket(const std::string& dir) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".lock") ||
            !(name.starts_with("wayland-") || name.starts_with("zelto-test-"))) {
            continue;
        }
        struct stat info {};
        if (stat(entry.path().c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            return entry.path().string();
        }
    }
    return {};
}

// The socket exists a moment before the compositor serves it.
bool answers(const std::string& socket) {
    wl_display* display = wl_display_connect(socket.c_str());
    if (!display) {
        return false;
    }
    const bool ok = wl_display_roundtrip(display) >= 0;
    wl_display_disconnect(display);
    return ok;
}

// Compositors still running when the test program exits without unwinding (a fatal error in the
// code under test calls exit): stopped then by the process that started them, never by a forked
// child that exits.
struct LiveCompositor {
    pid_t owner;
    pid_t pid;
    std::string runtime_dir;
};
// Never destroyed: the exit handler reads it after static objects are gone.
std::vector<LiveCompositor>& live_compositors() {
    static auto* live = new std::vector<LiveCompositor>;
    return *live;
}

void stop_live_compositors() {
    for (const LiveCompositor& compositor : live_compositors()) {
        if (compositor.owner == getpid()) {
            kill(compositor.pid, SIGTERM);
            std::error_code error;
            std::filesystem::remove_all(compositor.runtime_dir, error);
        }
    }
}

void remember(pid_t pid, const std::string& runtime_dir) {
    static const bool registered = std::atexit(stop_live_compositors) == 0;
    (void)registered;
    live_compositors().push_back({getpid(), pid, runtime_dir});
}

void forget(pid_t pid) {
    std::erase_if(live_compositors(), [&](const LiveCompositor& c) { return c.pid == pid; });
}

}  // namespace

bool HeadlessCompositor::make_runtime_dir() {
    char dir[] = "/tmp/zelto-wayland-XXXXXX";
    if (!mkdtemp(dir)) {
        error_ = "mkdtemp failed";
        return false;
    }
    runtime_dir_ = dir;
    chmod(dir, 0700);
    if (kind_ == SWAY) {
        // sway refuses to run as root: it runs as nobody, in a directory that user owns.
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(dir, nobody->pw_uid, nobody->pw_gid) != 0) {
            error_ = "cannot hand the runtime directory to nobody";
            return false;
        }
        std::ofstream(runtime_dir_ + "/config")
            << "xwayland disable\n"
               "output * resolution 1024x768\n"
               "for_window [app_id=\"Zelto\"] floating enable\n";
    }
    return true;
}

pid_t HeadlessCompositor::spawn() {
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    silence_output();
    setenv("XDG_RUNTIME_DIR", runtime_dir_.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    if (kind_ == WESTON) {
        const std::string socket = "--socket=zelto-test-" + std::to_string(getpid());
        execlp("weston", "weston", "--backend=headless-backend.so", socket.c_str(), "--idle-time=0",
               "--use-pixman", static_cast<char*>(nullptr));
    } else {
        setenv("WLR_BACKENDS", "headless", 1);
        setenv("WLR_RENDERER", "pixman", 1);
        setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
        setenv("HOME", runtime_dir_.c_str(), 1);
        const std::string config = runtime_dir_ + "/config";
        execlp("setpriv", "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "sway",
               "-c", config.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
}

bool HeadlessCompositor::wait_for_socket(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            error_ = "the compositor exited at start-up";
            forget(pid_);
            pid_ = -1;
            return false;
        }
        socket_path_ = find_socket(runtime_dir_);
        if (!socket_path_.empty() && answers(socket_path_)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "no compositor socket appeared";
    return false;
}

bool HeadlessCompositor::start() {
    if (!make_runtime_dir()) {
        return false;
    }
    pid_ = spawn();
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    remember(pid_, runtime_dir_);
    if (!wait_for_socket(pid_)) {
        stop();
        return false;
    }
    setenv("XDG_RUNTIME_DIR", runtime_dir_.c_str(), 1);
    setenv("WAYLAND_DISPLAY", socket_path_.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    return true;
}

bool HeadlessCompositor::running() {
    if (pid_ < 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        forget(pid_);
        pid_ = -1;
        return false;
    }
    return true;
}

void HeadlessCompositor::stop() {
    if (pid_ > 0) {
        forget(pid_);
        kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    if (!runtime_dir_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(runtime_dir_, error);
        runtime_dir_.clear();
    }
}

pid_t HeadlessCompositor::spawn_client(const std::vector<std::string>& argv) const {
    const pid_t pid = fork();
    if (pid == 0) {
        silence_output();
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

pid_t HeadlessCompositor::spawn_client_with_input(const std::vector<std::string>& argv,
                                                  int& input) const {
    // Clients started later must not inherit the write end: this one's input would never end.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        silence_output();
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[0]);
    input = fds[1];
    return pid;
}

bool HeadlessCompositor::client_done(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

std::string HeadlessCompositor::ipc_socket() const {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runtime_dir_, error)) {
        if (entry.path().filename().string().starts_with("sway-ipc.")) {
            return entry.path().string();
        }
    }
    return {};
}

int HeadlessCompositor::run_client(const std::vector<std::string>& argv) const {
    const pid_t pid = spawn_client(argv);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace zelto::test
