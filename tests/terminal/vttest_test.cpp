// vttest, the VT100 test program, on a real pty whose output feeds a Vt that answers its reports.
// Every screen vttest pauses on is compared with the picture kept in fixtures/vttest, which says
// what the screen should look like ("There should be...", borders of '*' and '+'). Run with
// ZELTO_RECORD_VTTEST=1 (scripts/record-vttest) to rewrite the pictures; inspect them before
// committing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* MAIN_MENU_PROMPT = "Enter choice number (0 - 12):";
constexpr const char* PAUSE_PROMPT = "Push <RETURN>";

bool recording() {
    const char* value = std::getenv("ZELTO_RECORD_VTTEST");
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

std::string fixture_path(const std::string& name) {
    return std::string(ZELTO_SOURCE_DIR) + "/tests/terminal/fixtures/vttest/" + name + ".txt";
}

bool file_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// vttest on the slave side of a pty of 80 x 24; its output goes through a Vt.
class VttestSession {
  public:
    VttestSession() {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        pid_ = forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            setenv("TERM", "xterm", 1);
            // The size argument keeps the 132-column passes at 80 columns.
            execlp("vttest", "vttest", "24x80.80", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ > 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }

    ~VttestSession() {
        if (master_ >= 0) close(master_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    VttestSession(const VttestSession&) = delete;
    VttestSession& operator=(const VttestSession&) = delete;

    bool started() const { return pid_ > 0; }
    std::string screen() const { return harness_.screen(); }

    void send(const std::string& keys) {
        std::size_t at = 0;
        while (at < keys.size()) {
            const ssize_t n = write(master_, keys.data() + at, keys.size() - at);
            if (n > 0)
                at += static_cast<std::size_t>(n);
            else
                pump(10);
        }
        sent_since_idle_ += keys.size();
    }

    // Feeds output until vttest sits in read() with nothing left unread and everything sent to
    // it taken in: the screen it wants looked at is complete. False when it exited or the time
    // ran out.
    bool wait_until_waiting_for_input(std::chrono::seconds limit = std::chrono::seconds(20)) {
        const auto deadline = Clock::now() + limit;
        auto quiet_since = Clock::now();
        while (Clock::now() < deadline) {
            if (pump(5)) {
                quiet_since = Clock::now();
                continue;
            }
            if (exited()) return false;
            if (!blocked_in_read()) {
                quiet_since = Clock::now();
                continue;
            }
            // Keys and replies reach its read() some time after they were written; vttest may
            // also throw pending input away, hence the second, slower way out.
            const long taken = bytes_read() - bytes_read_at_idle_;
            const bool all_taken = taken >= static_cast<long>(sent_since_idle_);
            if (!all_taken && Clock::now() - quiet_since < std::chrono::seconds(5)) continue;
            // What vttest wrote last can still be on its way through the pty when it already
            // sits in read(): the screen counts as complete once that much time brought nothing.
            if (pump(QUIET_MS)) {
                quiet_since = Clock::now();
                continue;
            }
            bytes_read_at_idle_ = bytes_read();
            sent_since_idle_ = 0;
            return true;
        }
        return false;
    }

    bool wait_for_exit(std::chrono::seconds limit = std::chrono::seconds(10)) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            pump(10);
            if (exited()) return true;
        }
        return false;
    }

  private:
    static constexpr int QUIET_MS = 60;

    // Reads what is there (waiting at most `timeout_ms` for it) and answers the Vt's replies.
    // True when bytes arrived.
    bool pump(int timeout_ms) {
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, timeout_ms) <= 0 || (pfd.revents & POLLIN) == 0) return false;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;
        harness_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        const std::string replies(harness_.vt.pending_output(SIZE_MAX));
        harness_.vt.consume_output(replies.size());
        send(replies);
        return true;
    }

    bool blocked_in_read() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/syscall");
        long number = -1;
        in >> number;
        return number == SYS_read;
    }

    // Everything the child read so far; after startup it reads nothing but the terminal.
    long bytes_read() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/io");
        std::string key;
        long value = 0;
        while (in >> key >> value) {
            if (key == "rchar:") return value;
        }
        return 0;
    }

    bool exited() {
        if (reaped_) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
        return reaped_;
    }

    VtHarness harness_{80, 24};
    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::size_t sent_since_idle_ = 0;
    long bytes_read_at_idle_ = 0;
};

struct VttestMenu {
    const char* choice;
    const char* name;
};

void PrintTo(const VttestMenu& menu, std::ostream* out) {
    *out << "menu " << menu.choice << " (" << menu.name << ")";
}

// "cursor-movements-03": the third pause of that menu.
std::string screen_name(const VttestMenu& menu, int number) {
    const std::string digits = std::to_string(number);
    return std::string(menu.name) + "-" + (digits.size() < 2 ? "0" : "") + digits;
}

// Chooses `menu` from the main menu and goes through its screens, pressing Return at each pause,
// until vttest is back at the main menu.
void run_menu(VttestSession& session, const VttestMenu& menu) {
    // On a loaded machine vttest can sit in read() before its menu has come through the pty.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (session.screen().find(MAIN_MENU_PROMPT) == std::string::npos) {
        ASSERT_TRUE(Clock::now() < deadline && session.wait_until_waiting_for_input())
            << session.screen();
    }
    session.send(std::string(menu.choice) + "\r");
    int count = 0;
    for (;;) {
        ASSERT_TRUE(session.wait_until_waiting_for_input()) << session.screen();
        const std::string screen = session.screen() + "\n";
        if (screen.find(MAIN_MENU_PROMPT) != std::string::npos) break;
        ASSERT_NE(screen.find(PAUSE_PROMPT), std::string::npos)
            << "vttest waits for something else:\n"
            << screen;
        const std::string name = screen_name(menu, ++count);
        const std::string path = fixture_path(name);
        if (recording()) {
            std::ofstream(path, std::ios::binary) << screen;
        } else {
            ASSERT_TRUE(file_exists(path)) << "no picture " << name << " for:\n" << screen;
            EXPECT_EQ(screen, read_file(path)) << "screen " << name;
        }
        session.send("\r");
    }
    EXPECT_FALSE(!recording() && file_exists(fixture_path(screen_name(menu, count + 1))))
        << menu.name << " showed only " << count << " screens";
}

class Vttest : public testing::TestWithParam<VttestMenu> {};

TEST_P(Vttest, EveryScreenLooksAsVttestDescribesIt) {
    ASSERT_EQ(std::system("command -v vttest >/dev/null"), 0)
        << "vttest is not on PATH (scripts/bootstrap installs it)";
    VttestSession session;
    ASSERT_TRUE(session.started());
    run_menu(session, GetParam());
    if (HasFatalFailure()) return;
    ASSERT_TRUE(session.wait_until_waiting_for_input());
    session.send("0\r");
    EXPECT_TRUE(session.wait_for_exit());
}

INSTANTIATE_TEST_SUITE_P(Menus, Vttest,
                         testing::Values(VttestMenu{"1", "cursor-movements"},
                                         VttestMenu{"2", "screen-features"},
                                         VttestMenu{"8", "insert-delete"}),
                         [](const testing::TestParamInfo<VttestMenu>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c) {
                                 if (*c != '-') name += *c;
                             }
                             return name;
                         });

}  // namespace
}  // namespace zelto::test
