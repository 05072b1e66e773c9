#include "pty/pty.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.hpp"
#include "util/mono_time.hpp"

namespace zelto {
namespace {

void use_command(std::vector<std::string> argv) {
    settings() = Settings{};
    settings().command_argv = std::move(argv);
    settings().command_path = settings().command_argv.front();
}

// Reads the child's output until it ends (or `done` says enough, or 10 s pass).
template <typename Done>
std::string read_until(Pty& pty, Done done) {
    std::string output;
    const MonoTime deadline = mono_add_ms(mono_now(), 10'000);
    while (!pty.output_ended() && !done(output) && mono_now() < deadline) {
        pty.wait(50);
        for (std::string_view chunk; !(chunk = pty.read()).empty();) output.append(chunk);
    }
    return output;
}

std::string read_all(Pty& pty) {
    return read_until(pty, [](const std::string&) { return false; });
}

void wait_for_exit(Pty& pty) {
    const MonoTime deadline = mono_add_ms(mono_now(), 10'000);
    while (!pty.child_exited() && mono_now() < deadline) pty.wait(50);
}

TEST(PtyChild, GetsTheTerminalEnvironmentAndSize) {
    setenv("COLUMNS", "1", 1);
    setenv("LINES", "2", 1);
    setenv("TERMCAP", "x", 1);
    setenv("COLORTERM", "no", 1);
    use_command({"/bin/sh", "-c",
                 "echo TERM=$TERM; echo COLORTERM=$COLORTERM; echo VTE=${VTE_VERSION-unset};"
                 "echo REMOVED=${COLUMNS-}${LINES-}${TERMCAP-}; stty size"});
    Pty pty;
    pty.start(100, 31);
    const std::string out = read_all(pty);
    EXPECT_NE(out.find("TERM=xterm-256color\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COLORTERM=truecolor\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("VTE=6201\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("REMOVED=\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("31 100\r\n"), std::string::npos) << out;
    unsetenv("COLUMNS");
    unsetenv("LINES");
    unsetenv("TERMCAP");
    unsetenv("COLORTERM");
}

TEST(PtyChild, EmptyVteVersionRemovesAnInheritedOne) {
    setenv("VTE_VERSION", "1234", 1);
    use_command({"/bin/sh", "-c", "echo VTE=${VTE_VERSION-unset} TERM=$TERM"});
    settings().vte_version = "";
    settings().term = "vt220";
    Pty pty;
    pty.start(80, 24);
    EXPECT_NE(read_all(pty).find("VTE=unset TERM=vt220"), std::string::npos);
    unsetenv("VTE_VERSION");
}

TEST(PtyChild, SignalsIgnoredByTheParentAreDefaultAgainInTheChild) {
    signal(SIGINT, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    use_command({"/bin/sh", "-c", "grep -E '^Sig(Ign|Blk)' /proc/self/status"});
    Pty pty;
    pty.start(80, 24);
    const std::string out = read_all(pty);
    signal(SIGINT, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    EXPECT_NE(out.find("SigBlk:\t0000000000000000"), std::string::npos) << out;
    // SIGINT is bit 1 of the ignored set; the shell itself ignores nothing else here.
    const std::size_t ign = out.find("SigIgn:\t");
    ASSERT_NE(ign, std::string::npos);
    const unsigned long long mask = std::stoull(out.substr(ign + 8, 16), nullptr, 16);
    EXPECT_EQ(mask & (1ull << (SIGINT - 1)), 0u) << out;
}

TEST(PtyChild, DescriptorsOfTheTerminalAreNotInherited) {
    use_command({"/bin/sh", "-c", "ls -l /proc/$$/fd"});
    Pty pty;
    pty.start(80, 24);
    const std::string out = read_all(pty);
    EXPECT_EQ(out.find("ptmx"), std::string::npos) << out;
    EXPECT_EQ(out.find(" " + std::to_string(pty.master_fd()) + " ->"), std::string::npos) << out;
}

TEST(PtyExecFailure, ShowsTheCommandAndArgumentsUntilCtrlC) {
    use_command({"/nonexistent/zelto-test", "a b", "-c"});
    Pty pty;
    int exits = 0;
    pty.set_exit_callback([&] { ++exits; });
    pty.start(80, 24);
    const std::string expected =
        "\x1b[31mFailed to execute command: '/nonexistent/zelto-test'.\r\n"
        "No such file or directory\r\n\r\n"
        "arguments: '/nonexistent/zelto-test', 'a b', '-c'\r\n"
        "Press Ctrl-c to exit\r\n";
    const std::string out = read_until(
        pty, [&](const std::string& o) { return o.size() >= expected.size(); });
    EXPECT_EQ(out, expected);

    testing::internal::CaptureStderr();
    ASSERT_EQ(pty.write("\x03"), 1);
    wait_for_exit(pty);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(exits, 1);
    EXPECT_NE(warning.find("exited with code 130\n"), std::string::npos) << warning;
}

TEST(PtyExit, NonZeroCodeWarnsZeroIsSilentCallbackOnce) {
    use_command({"/bin/sh", "-c", "exit 3"});
    {
        Pty pty;
        int exits = 0;
        pty.set_exit_callback([&] { ++exits; });
        testing::internal::CaptureStderr();
        pty.start(80, 24);
        const pid_t pid = pty.child_pid();
        wait_for_exit(pty);
        read_all(pty);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, "[\x1b[33mwarning\x1b[m] Child process '/bin/sh' (pid: " +
                           std::to_string(pid) + ") exited with code 3\n");
        EXPECT_EQ(exits, 1);
        EXPECT_EQ(pty.child_pid(), 0) << "an exited child's pid is never signalled again";
    }
    use_command({"/bin/true"});
    Pty pty;
    int exits = 0;
    pty.set_exit_callback([&] { ++exits; });
    testing::internal::CaptureStderr();
    pty.start(80, 24);
    wait_for_exit(pty);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(exits, 1);
}

TEST(PtyExit, KilledChildReportsOneHundredTwentyEightPlusSignal) {
    use_command({"/bin/sh", "-c", "kill -TERM $$"});
    Pty pty;
    testing::internal::CaptureStderr();
    pty.start(80, 24);
    wait_for_exit(pty);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("exited with code 143\n"),
              std::string::npos);
}

TEST(PtyExit, TwoHundredQuickChildrenNeverLoseAnExit) {
    use_command({"true"});
    int exits = 0;
    for (int i = 0; i < 200; ++i) {
        Pty pty;
        pty.set_exit_callback([&] { ++exits; });
        pty.start(80, 24);
        wait_for_exit(pty);
        ASSERT_TRUE(pty.child_exited()) << "exit of child " << i << " was lost";
    }
    EXPECT_EQ(exits, 200);
}

TEST(PtyRead, EndsOutputAfterTheLastByteAndStopsPollingTheMaster) {
    use_command({"/bin/sh", "-c", "printf 'last words'"});
    Pty pty;
    pty.start(80, 24);
    EXPECT_EQ(read_all(pty), "last words");
    EXPECT_TRUE(pty.output_ended());
    wait_for_exit(pty);
    // With the master out of the poll set an idle wait really waits.
    const MonoTime before = mono_now();
    pty.wait(100);
    EXPECT_GE(mono_diff_ms(mono_now(), before), 90);
    EXPECT_EQ(pty.write("x"), -1);
}

TEST(PtyRead, ReadsAtMostOneChunkOrOneByteWhenDebugging) {
    use_command({"/bin/sh", "-c", "head -c 1000 /dev/zero | tr '\\0' a; sleep 0.2"});
    Pty pty;
    pty.start(80, 24);
    std::size_t total = 0;
    const MonoTime until = mono_add_ms(mono_now(), 5000);
    while (total < 1000 && mono_now() < until) {
        pty.wait(50);
        for (std::string_view c; !(c = pty.read()).empty(); total += c.size()) {
            ASSERT_LE(c.size(), Pty::READ_CHUNK);
        }
    }
    EXPECT_EQ(total, 1000u);

    use_command({"/bin/sh", "-c", "printf abc; sleep 0.2"});
    settings().debug_vt = 5000;
    Pty single;
    single.start(80, 24);
    std::vector<std::size_t> sizes;
    const MonoTime deadline = mono_add_ms(mono_now(), 5000);
    while (sizes.size() < 3 && mono_now() < deadline) {
        single.wait(50);
        if (std::string_view c = single.read(); !c.empty()) sizes.push_back(c.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1, 1, 1}));
}

TEST(PtyHangup, ProcessExitHangsUpEveryLiveChild) {
    const std::string marker = testing::TempDir() + "zelto-hup-marker";
    std::remove(marker.c_str());
    const std::string ready = marker + ".ready";
    std::remove(ready.c_str());
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        use_command({"/bin/sh", "-c",
                     "trap 'echo hup > " + marker + "; exit 0' HUP; touch " + ready +
                         "; while :; do sleep 0.05; done"});
        static Pty pty;  // still alive when the exit handlers run
        pty.start(80, 24);
        for (int i = 0; i < 200 && access(ready.c_str(), F_OK) != 0; ++i) usleep(10'000);
        std::exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::string content;
    for (int i = 0; i < 200 && content.empty(); ++i) {
        usleep(10'000);
        std::ifstream(marker) >> content;
    }
    EXPECT_EQ(content, "hup");
}

}  // namespace
}  // namespace zelto
