// Starting outside programs detached from the terminal: the URI handler and its kin.
#include "app/spawn_process.hpp"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/diagnostics.hpp"

namespace zelto {

namespace {

// What the terminal ignores or handles itself must reach the program in its default state.
constexpr int DEFAULT_SIGNALS[] = {SIGCHLD, SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void restore_signals() {
    for (int sig : DEFAULT_SIGNALS) signal(sig, SIG_DFL);
    sigset_t empty;
    sigemptyset(&empty);
    sigprocmask(SIG_SETMASK, &empty, nullptr);
}

// Descriptors of the terminal (the pty master, the display connection, GPU devices) must not
// leak into the program, whether or not their owners asked for close-on-exec.
void close_inherited_on_exec() {
    if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
    const long limit = sysconf(_SC_OPEN_MAX);
    const int last = limit > 0 && limit < 65536 ? static_cast<int>(limit) : 65536;
    for (int fd = 3; fd < last; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

void enter_work_dir(const char* work_dir) {
    if (work_dir && chdir(work_dir) != 0) {
        warn("forked process failed to change work directory: %s\n", std::strerror(errno));
    }
}

// Runs in the forked child and never returns: _exit keeps the terminal's exit handlers (which
// hang its own child up) from running here.
[[noreturn]] void run_child(const SpawnRequest& request, char* const argv[], const int pipe_fds[2]) {
    restore_signals();
    if (request.with_pipe) {
        if (dup2(pipe_fds[0], STDIN_FILENO) < 0) _exit(1);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
    }
    close_inherited_on_exec();
    enter_work_dir(request.work_dir);
    if (request.detach) {
        if (setsid() < 0) _exit(1);
        const pid_t pid = fork();
        if (pid < 0) _exit(1);
        if (pid > 0) _exit(0);
        enter_work_dir(request.work_dir);
    }
    // The file creation mask stays the user's: the program's files get the modes they expect.
    execvp(request.executable.c_str(), argv);
    warn("failed to execute '%s' %s\n", request.executable.c_str(), std::strerror(errno));
    _exit(1);
}

// The intermediate process of a detached start exits at once; collecting it here leaves no
// zombie, whoever else reaps children.
void collect(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

UniqueFd spawn_process(const SpawnRequest& request) {
    int pipe_fds[2] = {-1, -1};
    if (request.with_pipe && pipe2(pipe_fds, O_CLOEXEC) != 0) {
        warn("cannot start new process, failed to open pipe: %s\n", std::strerror(errno));
        return {};
    }
    UniqueFd read_end(pipe_fds[0]), write_end(pipe_fds[1]);

    std::vector<char*> argv;
    if (request.argv.empty()) {
        argv.push_back(const_cast<char*>(request.executable.c_str()));
    } else {
        for (const std::string& arg : request.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) run_child(request, argv.data(), pipe_fds);
    if (pid < 0) {
        warn("failed to fork\n");
        return {};
    }
    if (request.detach) collect(pid);
    return write_end;
}

}  // namespace zelto
