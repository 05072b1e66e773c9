#include "pty/pty.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

// Signals a child gets back in their default disposition: whatever zelto inherited or ignores
// must not reach the shell ignored (Ctrl-C has to work there).
constexpr int CHILD_DEFAULT_SIGNALS[] = {SIGINT,  SIGQUIT, SIGTERM, SIGHUP, SIGPIPE,
                                         SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU};

// The write end is touched by the SIGCHLD handler, which does nothing else: reaping, messages and
// callbacks happen in the main loop when the read end becomes readable.
int child_exit_pipe[2] = {-1, -1};

void on_sigchld(int) {
    const int saved_errno = errno;
    const char byte = 0;
    [[maybe_unused]] ssize_t ignored = ::write(child_exit_pipe[1], &byte, 1);
    errno = saved_errno;
}

void set_cloexec(int fd) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}
void set_nonblocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void create_child_exit_pipe() {
    if (child_exit_pipe[0] >= 0) return;
    if (pipe2(child_exit_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        fatal("Failed to create pipe %s", std::strerror(errno));
    }
}

void drain_child_exit_pipe() {
    char sink[64];
    while (::read(child_exit_pipe[0], sink, sizeof sink) > 0) {
    }
}

void install_sigchld_handler() {
    struct sigaction action {};
    action.sa_handler = on_sigchld;
    sigemptyset(&action.sa_mask);
    // The self-pipe wakes the loop's poll, so other blocking calls (file writes, reads of
    // pipes) may as well be restarted instead of failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGCHLD, &action, nullptr);
}

sigset_t block_sigchld() {
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGCHLD);
    sigprocmask(SIG_BLOCK, &block, &previous);
    return previous;
}

int exit_code(int status) {
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

[[noreturn]] void show_exec_failure(const std::vector<std::string>& argv, int error) {
    const Settings& s = settings();
    std::string text = "\x1b[31mFailed to execute command: '" + s.command_path + "'.\n" +
                       std::strerror(error) + "\n\narguments: ";
    for (std::size_t i = 0; i < argv.size(); ++i) {
        text += "'" + argv[i] + "'" + (i + 1 < argv.size() ? ", " : "");
    }
    text += "\nPress Ctrl-c to exit\n";
    [[maybe_unused]] ssize_t ignored = ::write(STDOUT_FILENO, text.data(), text.size());
    for (;;) pause();
}

[[noreturn]] void exec_child(int master_fd, int slave_fd) {
    for (int sig : CHILD_DEFAULT_SIGNALS) signal(sig, SIG_DFL);
    sigset_t empty;
    sigemptyset(&empty);
    sigprocmask(SIG_SETMASK, &empty, nullptr);

    close(master_fd);
    if (login_tty(slave_fd) != 0) _exit(127);

    const Settings& s = settings();
    unsetenv("COLUMNS");
    unsetenv("LINES");
    unsetenv("TERMCAP");
    setenv("COLORTERM", "truecolor", 1);
    // An empty version disables it, also when it was inherited.
    if (s.vte_version.empty()) {
        unsetenv("VTE_VERSION");
    } else {
        setenv("VTE_VERSION", s.vte_version.c_str(), 1);
    }
    setenv("TERM", s.term.c_str(), 1);

    std::vector<char*> argv;
    for (const std::string& arg : s.command_argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(s.command_path.c_str(), argv.data());
    show_exec_failure(s.command_argv, errno);
}

}  // namespace

// Live children, so that exits find their Pty and process exit can hang every child up.
struct PtyRegistry {
    struct Entry {
        pid_t pid;
        Pty* pty;
    };
    static std::vector<Entry>& entries() {
        static std::vector<Entry>* list = [] {
            auto* created = new std::vector<Entry>();
            created->reserve(4);
            std::atexit(hang_up_all);
            return created;
        }();
        return *list;
    }

    static void hang_up_all() {
        for (Entry& entry : entries()) entry.pty->hangup();
    }

    static void remove(const Pty* pty) {
        auto& list = entries();
        std::erase_if(list, [pty](const Entry& e) { return e.pty == pty; });
    }
};

Pty::Pty() {
    PtyRegistry::entries();
    create_child_exit_pipe();
    poll_set_[POLL_MASTER] = {-1, POLLIN, 0};
    poll_set_[POLL_WINDOW] = {-1, POLLIN, 0};
    poll_set_[POLL_CHILD_EXIT] = {child_exit_pipe[0], POLLIN, 0};
}

Pty::~Pty() {
    hangup();
    PtyRegistry::remove(this);
    if (master_fd_ >= 0) close(master_fd_);
}

void Pty::start(std::uint16_t cols, std::uint16_t rows) {
    install_sigchld_handler();

    winsize size{};
    size.ws_col = cols;
    size.ws_row = rows;
    int slave_fd = -1;
    if (openpty(&master_fd_, &slave_fd, nullptr, nullptr, &size) != 0) {
        fatal("Failed to open pty %s", std::strerror(errno));
    }
    set_cloexec(master_fd_);
    set_cloexec(slave_fd);

    // Until the child is in the registry its exit must not be reaped unseen.
    const sigset_t previous_mask = block_sigchld();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) exec_child(master_fd_, slave_fd);
    if (pid < 0) fatal("Failed to fork process %s", std::strerror(errno));

    close(slave_fd);
    set_nonblocking(master_fd_);
    child_pid_ = pid;
    PtyRegistry::entries().push_back({pid, this});
    closed_ = false;
    poll_set_[POLL_MASTER].fd = master_fd_;
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
}

void Pty::wait(int timeout_ms, bool until_writable) {
    for (pollfd& entry : poll_set_) entry.revents = 0;
    poll_set_[POLL_MASTER].events = static_cast<short>(POLLIN | (until_writable ? POLLOUT : 0));
    if (poll(poll_set_.data(), poll_set_.size(), timeout_ms) < 0 && errno != EINTR &&
        errno != EAGAIN) {
        fatal("poll failed %s", std::strerror(errno));
    }
    poll_fresh_ = true;
    if (poll_set_[POLL_CHILD_EXIT].revents & POLLIN) {
        drain_child_exit_pipe();
        reap_children();
    }
}

bool Pty::window_readable() const {
    return poll_set_[POLL_WINDOW].revents & POLLIN;
}

bool Pty::master_readable() {
    if (!poll_fresh_) {
        pollfd entry{master_fd_, POLLIN, 0};
        if (poll(&entry, 1, 0) < 0 && errno != EINTR && errno != EAGAIN) {
            fatal("poll failed %s\n", std::strerror(errno));
        }
        poll_set_[POLL_MASTER].revents = entry.revents;
    }
    poll_fresh_ = false;
    const short revents = poll_set_[POLL_MASTER].revents;
    // A hang-up with nothing left to read is the end of the child's output.
    if ((revents & POLLHUP) && !(revents & POLLIN)) end_output();
    return revents & POLLIN;
}

std::string_view Pty::read() {
    if (closed_ || output_ended_ || !master_readable()) return {};
    const std::size_t want = settings().debug_vt ? 1 : READ_CHUNK;
    const ssize_t n = ::read(master_fd_, buffer_, want);
    if (n > 0) return {buffer_, static_cast<std::size_t>(n)};
    // EIO once the last holder of the child side closed it: everything has been read.
    if (n == 0 || errno == EIO) end_output();
    return {};
}

void Pty::end_output() {
    output_ended_ = true;
    poll_set_[POLL_MASTER].fd = -1;  // poll ignores negative descriptors
}

long Pty::write(std::string_view bytes) {
    if (closed_ || output_ended_) return -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t n = ::write(master_fd_, bytes.data(), bytes.size());
        if (n >= 0) return n;
        if (errno == EAGAIN) return -1;
        // The child side is gone: there is nobody left to write to, which is not zelto's fault.
        if (errno == EIO) return -1;
        if (errno != EINTR) fatal("wirte to pty failed %s\n", std::strerror(errno));
    }
    warn("write to pty interrupted\n");
    return -1;
}

void Pty::hangup() {
    if (child_pid_ > 1) kill(child_pid_, SIGHUP);
    child_pid_ = 0;
}

void Pty::set_window_fd(int fd) {
    poll_set_[POLL_WINDOW].fd = fd;
}

void Pty::on_exit(pid_t pid, int status) {
    if (status != 0) {
        warn("Child process '%s' (pid: %d) exited with code %d\n", settings().command_path.c_str(),
             pid, exit_code(status));
    }
    child_exited_ = true;
    if (exit_callback_) exit_callback_();
}

void Pty::reap_children() {
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid <= 0) return;
        auto& list = PtyRegistry::entries();
        auto found = std::find_if(list.begin(), list.end(),
                                  [pid](const PtyRegistry::Entry& e) { return e.pid == pid; });
        if (found == list.end()) continue;
        Pty* pty = found->pty;
        pty->on_exit(pid, status);
        std::erase_if(list, [pid](const PtyRegistry::Entry& e) { return e.pid == pid; });
        // The pid may be reused by an unrelated process from now on: never signal it again.
        pty->child_pid_ = 0;
    }
}

}  // namespace zelto
