#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zelto::test {

// A private headless compositor for one test program, in a runtime directory of its own, stopped
// by its pid. `start` exports WAYLAND_DISPLAY (the socket's full path) and XDG_RUNTIME_DIR, with
// Mesa's software renderer, so the window under test and helper clients find it.
class HeadlessCompositor {
  public:
    enum Kind { WESTON, SWAY };

    explicit HeadlessCompositor(Kind kind) : kind_(kind) {}
    HeadlessCompositor(const HeadlessCompositor&) = delete;
    HeadlessCompositor& operator=(const HeadlessCompositor&) = delete;
    ~HeadlessCompositor() { stop(); }

    // False when the compositor could not be started; `error()` says why.
    bool start();
    void stop();
    bool running();

    const std::string& socket_path() const { return socket_path_; }
    const std::string& runtime_dir() const { return runtime_dir_; }
    const std::string& error() const { return error_; }

    // Runs a client of the compositor to completion; its exit status (-1 when it did not exit).
    int run_client(const std::vector<std::string>& argv) const;
    // Starts a client that runs beside the test; `client_done` reaps it once it has exited.
    pid_t spawn_client(const std::vector<std::string>& argv) const;
    static bool client_done(pid_t pid);
    // Starts a client whose standard input is the write end returned in `input`.
    pid_t spawn_client_with_input(const std::vector<std::string>& argv, int& input) const;
    // sway's IPC socket, for swaymsg; empty for weston.
    std::string ipc_socket() const;

  private:
    bool make_runtime_dir();
    pid_t spawn();
    bool wait_for_socket(pid_t pid);

    Kind kind_;
    pid_t pid_ = -1;
    std::string runtime_dir_;
    std::string socket_path_;
    std::string error_;
};

}  // namespace zelto::test
