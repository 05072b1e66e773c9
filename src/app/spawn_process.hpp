#pragma once

#include <string>
#include <vector>

namespace zelto {

// An owned file descriptor, closed when it goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();

  private:
    int fd_ = -1;
};

struct SpawnRequest {
    const char* work_dir = nullptr;  // none: the terminal's own
    std::string executable;          // searched in PATH
    std::vector<std::string> argv;   // empty: just the executable
    // The program runs in a session of its own, adopted by the system: the terminal neither
    // waits for it nor leaves a zombie behind.
    bool detach = true;
    bool with_pipe = false;
};

// Starts a program without a shell: every argument reaches it as given. The write end of a pipe
// into its standard input with `with_pipe` (invalid when that failed), else an invalid one.
// Failures are warnings, the child's own ones on the inherited standard error.
UniqueFd spawn_process(const SpawnRequest& request);

}  // namespace zelto
