#pragma once

#include <poll.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace zelto {

// The child program on a pseudo-terminal: its master side, non-blocking, and the poll set the
// main loop waits on (pty master, window connection, child-exit wake-up).
class Pty {
  public:
    static constexpr std::size_t READ_CHUNK = 128;

    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Starts the child with a terminal of cols x rows and registers it; returns after that.
    void start(std::uint16_t cols, std::uint16_t rows);

    // One poll over the master, the window connection and the child-exit wake-up; exits of
    // children are reported (message, callback, registry removal) before it returns. With
    // `until_writable` it also returns once the master can take bytes again.
    void wait(int timeout_ms, bool until_writable = false);
    bool window_readable() const;

    // Reads at most one chunk (one byte with `debug-vt`). The bytes, or an empty view when
    // nothing was there.
    std::string_view read();

    // Bytes written, or -1 when the pty cannot take them now.
    long write(std::string_view bytes);

    void hangup();
    void set_window_fd(int fd);
    void set_exit_callback(std::function<void()> callback) { exit_callback_ = std::move(callback); }

    int master_fd() const { return master_fd_; }
    pid_t child_pid() const { return child_pid_; }
    bool child_exited() const { return child_exited_; }
    // The child side is gone and everything it wrote has been read.
    bool output_ended() const { return output_ended_; }

    // Collects finished children and reports the exits of registered ones.
    static void reap_children();

  private:
    enum PollEntry { POLL_MASTER, POLL_WINDOW, POLL_CHILD_EXIT, POLL_COUNT };

    void on_exit(pid_t pid, int status);
    void end_output();
    bool master_readable();

    int master_fd_ = -1;
    std::array<pollfd, POLL_COUNT> poll_set_{};
    bool poll_fresh_ = false;
    pid_t child_pid_ = 0;
    bool closed_ = true;
    bool child_exited_ = false;
    bool output_ended_ = false;
    char buffer_[READ_CHUNK] = {};
    std::function<void()> exit_callback_;

    friend struct PtyRegistry;
};

}  // namespace zelto
