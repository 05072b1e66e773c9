#include "app/app.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/fake_window.hpp"
#include "config/settings.hpp"
#include "gfx_gl2/gfx_null.hpp"

namespace zelto {
namespace {

using testing::FakeWindow;

constexpr std::uint32_t CELL_W = 8;
constexpr std::uint32_t CELL_H = 16;

std::unique_ptr<Window> make_fake_window(std::uint32_t width, std::uint32_t height, std::uint32_t,
                                         std::uint32_t, WindowContextRequest, UiState*) {
    return std::make_unique<FakeWindow>(width, height);
}

AppBackends fake_backends() {
    AppBackends backends;
    backends.x11 = make_fake_window;
    backends.make_gfx = [](FontSet*) {
        return std::make_unique<GfxNull>(CELL_W, CELL_H, settings().padding.extra);
    };
    return backends;
}

void use_command(std::vector<std::string> argv) {
    settings() = Settings{};
    settings().command_argv = std::move(argv);
    settings().command_path = settings().command_argv.front();
}

std::string temp_path(const std::string& name) {
    return ::testing::TempDir() + "zelto-app-" + name + "-" + std::to_string(getpid());
}

bool file_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// Turns the loop until `done` holds or 10 s pass.
template <typename Done>
bool run_until(App& app, Done done) {
    const MonoTime deadline = mono_add_ms(mono_now(), 10'000);
    while (!done() && mono_now() < deadline) app.loop_pass();
    return done();
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

TEST(AppStartup, OpensTheGridItWasAskedForAndDrawsOnce) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().columns = 100;
    settings().rows = 30;
    settings().padding.extra = 4;
    App app(fake_backends());
    app.start();
    EXPECT_EQ(app.window().w, 100 * CELL_W + 8);
    EXPECT_EQ(app.window().h, 30 * CELL_H + 8);
    EXPECT_EQ(app.vt().cols(), 100u);
    EXPECT_EQ(app.vt().rows(), 30u);
    app.loop_pass();
    EXPECT_EQ(dynamic_cast<FakeWindow&>(app.window()).frames, 1);
    app.shutdown();
}

TEST(AppStartup, AGridTooLargeForAWindowIsReducedWithAWarning) {
    use_command({"/bin/sh", "-c", "stty size; sleep 5"});
    settings().columns = 65535;
    settings().rows = 3000;
    ::testing::internal::CaptureStderr();
    App app(fake_backends());
    app.start();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[\x1b[33mwarning\x1b[m] A grid of 65535 x 3000 cells does not fit in a window, "
              "using 4095 x 2047\n");
    EXPECT_LE(app.window().w, 32767u);
    EXPECT_LE(app.window().h, 32767u);
    EXPECT_EQ(app.vt().cols(), 4095u);
    EXPECT_EQ(app.vt().rows(), 2047u);
    app.shutdown();
}

TEST(AppStartup, StartupIdIsHandedToTheWindowAndHiddenFromTheChild) {
    const std::string out = temp_path("startup-id");
    use_command({"/bin/sh", "-c", "echo ${DESKTOP_STARTUP_ID-none} > " + out});
    setenv("DESKTOP_STARTUP_ID", "zelto-test-42", 1);
    {
        App app(fake_backends());
        app.start();
        EXPECT_EQ(std::getenv("DESKTOP_STARTUP_ID"), nullptr);
        EXPECT_EQ(dynamic_cast<FakeWindow&>(app.window()).startup_id, "zelto-test-42");
        run_until(app, [&] { return app.exit_requested(); });
    }
    EXPECT_EQ(slurp(out), "none\n");

    // An empty identifier counts as absent and stays where it is.
    setenv("DESKTOP_STARTUP_ID", "", 1);
    use_command({"/bin/sh", "-c", "echo \"[${DESKTOP_STARTUP_ID-none}]\" > " + out});
    {
        App app(fake_backends());
        app.start();
        ASSERT_NE(std::getenv("DESKTOP_STARTUP_ID"), nullptr);
        EXPECT_EQ(dynamic_cast<FakeWindow&>(app.window()).startup_id, "");
        run_until(app, [&] { return app.exit_requested(); });
    }
    EXPECT_EQ(slurp(out), "[]\n");
    unsetenv("DESKTOP_STARTUP_ID");
    std::remove(out.c_str());
}

TEST(AppStartup, KeyNamesAreResolvedThroughTheWindowAndUnknownOnesWarn) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().bind_key_quit = {0, "NoSuchKey", true, MODIFIER_CTRL};
    ::testing::internal::CaptureStderr();
    App app(fake_backends());
    app.start();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[\x1b[33mwarning\x1b[m] Invalid key name 'NoSuchKey'\n");
    EXPECT_EQ(settings().bind_key_quit.key, 0u);
    EXPECT_FALSE(settings().bind_key_quit.is_name);
    EXPECT_EQ(settings().bind_key_copy.key, static_cast<std::uint32_t>('c'));
    app.shutdown();
}

TEST(AppStartup, UnenterableDirectoryWarnsAndStartupGoesOn) {
    use_command({"/bin/true"});
    settings().directory = "/nonexistent/zelto";
    ::testing::internal::CaptureStderr();
    App app(fake_backends());
    app.start();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[\x1b[33mwarning\x1b[m] Failed to change directory: No such file or directory\n");
    app.shutdown();
}

TEST(AppLoop, ChildExitEndsTheLoopWithoutHold) {
    use_command({"/bin/true"});
    App app(fake_backends());
    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(app.exit_requested());
}

TEST(AppLoop, WritesAtMost128BytesAPassAndLosesNothingOnPartialWrites) {
    const std::string ready = temp_path("raw-ready");
    const std::string out = temp_path("raw-out");
    std::remove(ready.c_str());
    // The child sleeps first, so the pty's input buffer fills and writes come back short.
    use_command({"/bin/sh", "-c",
                 "stty raw -echo; touch " + ready + "; sleep 0.5; exec head -c 65536 > " + out});
    App app(fake_backends());
    app.start();
    ASSERT_TRUE(run_until(app, [&] { return file_exists(ready); }));

    std::string data;
    for (int i = 0; data.size() < 65536; ++i) data += std::to_string(i) + ",";
    data.resize(65536);
    app.vt().queue_output(data);
    EXPECT_EQ(app.compute_wait(), 0);

    std::size_t largest_step = 0;
    run_until(app, [&] {
        const std::size_t before = app.vt().pending_output(SIZE_MAX).size();
        if (before == 0) return true;
        app.loop_pass();
        largest_step = std::max(largest_step, before - app.vt().pending_output(SIZE_MAX).size());
        return false;
    });
    EXPECT_LE(largest_step, App::WRITE_CHUNK);
    ASSERT_TRUE(run_until(app, [&] { return app.exit_requested(); }));
    EXPECT_EQ(slurp(out), data);
    std::remove(ready.c_str());
    std::remove(out.c_str());
}

TEST(AppLoop, QueuedBytesForAChildThatDoesNotReadDoNotSpinTheLoop) {
    const std::string ready = temp_path("stalled-ready");
    std::remove(ready.c_str());
    use_command({"/bin/sh", "-c", "stty raw -echo; touch " + ready + "; sleep 30"});
    settings().blink.enabled = false;
    App app(fake_backends());
    app.start();
    ASSERT_TRUE(run_until(app, [&] { return file_exists(ready); }));
    app.vt().queue_output(std::string(1 << 20, 'x'));
    const double cpu_before = cpu_seconds();
    const MonoTime until = mono_add_ms(mono_now(), 1000);
    while (mono_now() < until) app.loop_pass();
    EXPECT_LT(cpu_seconds() - cpu_before, 0.3) << "the loop spins on a full pty";
    EXPECT_TRUE(app.vt().has_pending_output());
    app.shutdown();
    std::remove(ready.c_str());
}

TEST(AppLoop, WaitIsUnlimitedWhenIdleAndClampedForTimers) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().blink.enabled = false;
    App app(fake_backends());
    app.start();
    auto& window = dynamic_cast<FakeWindow&>(app.window());
    app.loop_pass();
    EXPECT_EQ(app.compute_wait(), -1);
    window.paint = true;
    EXPECT_EQ(app.compute_wait(), 16) << "a pending repaint waits one frame at most";
    app.loop_pass();

    window.next_repeat = mono_add_ms(mono_now(), std::int64_t{1} << 40);
    app.loop_pass();
    EXPECT_EQ(app.compute_wait(), 2147483647);

    window.next_repeat = mono_add_ms(mono_now(), -5000);
    app.loop_pass();
    EXPECT_EQ(app.compute_wait(), 0);

    window.next_repeat = mono_add_ms(mono_now(), 1000);
    app.loop_pass();
    EXPECT_GT(app.compute_wait(), 900);
    EXPECT_LE(app.compute_wait(), 1000);
    app.shutdown();
}

TEST(AppLoop, HoldReadsToTheEndDropsInputAndSleepsWhileIdle) {
    use_command({"/bin/sh", "-c", "head -c 20000 /dev/zero | tr '\\0' x"});
    settings().hold = true;
    App app(fake_backends());
    app.start();
    ASSERT_TRUE(run_until(app, [&] { return app.pty().child_exited(); }));
    EXPECT_FALSE(app.exit_requested());
    ASSERT_TRUE(run_until(app, [&] { return app.pty().output_ended(); }));

    app.vt().queue_output("typed after the exit");
    app.loop_pass();
    EXPECT_FALSE(app.vt().has_pending_output());

    const double cpu_before = cpu_seconds();
    const MonoTime until = mono_add_ms(mono_now(), 2000);
    while (mono_now() < until) app.loop_pass();
    EXPECT_LT(cpu_seconds() - cpu_before, 0.2) << "the held loop spins";
    app.shutdown();
}

// Records the cursor's blink phase at every pass for `ms` milliseconds.
std::vector<std::pair<std::int64_t, bool>> watch_cursor(App& app, std::int64_t ms) {
    std::vector<std::pair<std::int64_t, bool>> phases;
    const MonoTime begin = mono_now();
    while (mono_diff_ms(mono_now(), begin) < ms) {
        app.loop_pass();
        const bool visible = app.ui().cursor_visible;
        if (phases.empty() || phases.back().second != visible) {
            phases.emplace_back(mono_diff_ms(mono_now(), begin), visible);
        }
    }
    return phases;
}

TEST(AppBlink, CursorBlinksAfterTheSuspendAndEndsVisible) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().blink = {true, 100, 150, 1};
    App app(fake_backends());
    app.start();
    const auto phases = watch_cursor(app, 1400);
    // Solid for the suspend time, then a phase change every rate, and solid after the end.
    ASSERT_GE(phases.size(), 6u);
    EXPECT_TRUE(phases[0].second);
    EXPECT_GE(phases[1].first, 230);  // blink resume at 150, first toggle 100 later
    EXPECT_FALSE(phases[1].second);
    for (std::size_t i = 2; i + 1 < phases.size(); ++i) {
        EXPECT_NEAR(phases[i].first - phases[i - 1].first, 100, 60) << i;
    }
    EXPECT_TRUE(phases.back().second);
    EXPECT_LT(phases.back().first, 1250) << "blinking did not end after a second";
    app.shutdown();
}

TEST(AppBlink, ActivityKeepsTheCursorSolidAndUnfocusedWindowsShowItSolid) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().blink = {true, 40, 60, 5};
    App app(fake_backends());
    app.start();
    const MonoTime begin = mono_now();
    while (mono_diff_ms(mono_now(), begin) < 400) {
        app.on_activity();
        app.loop_pass();
        EXPECT_TRUE(app.ui().cursor_visible);
    }
    app.on_focus_changed(false);
    for (const auto& phase : watch_cursor(app, 400)) EXPECT_TRUE(phase.second);
    app.shutdown();
}

TEST(AppBlink, ChildCanForbidBlinking) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().blink = {true, 30, 30, 5};
    App app(fake_backends());
    app.start();
    app.on_cursor_blink_changed(false);
    for (const auto& phase : watch_cursor(app, 300)) EXPECT_TRUE(phase.second);
    // Allowed again, blinking comes back with the next activity.
    app.on_cursor_blink_changed(true);
    app.on_activity();
    EXPECT_GE(watch_cursor(app, 300).size(), 3u);
    app.shutdown();
}

TEST(AppBell, VisualBellFlashesAndFadesWithinItsTime) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().blink.enabled = false;
    App app(fake_backends());
    app.start();
    app.on_visual_bell();
    app.loop_pass();
    EXPECT_GT(app.ui().bell_intensity, 0.5);
    const MonoTime begin = mono_now();
    double previous = 1.0;
    while (mono_diff_ms(mono_now(), begin) < 400) {
        app.loop_pass();
        EXPECT_LE(app.ui().bell_intensity, previous);
        previous = app.ui().bell_intensity;
    }
    EXPECT_EQ(app.ui().bell_intensity, 0.0);
    app.shutdown();
}

TEST(AppLoop, UnendedSynchronizedUpdateEndsOnTimeWithoutMoreOutput) {
    use_command({"/bin/sh", "-c", "printf '\\033[?2026hframe'; sleep 5"});
    settings().blink.enabled = false;
    App app(fake_backends());
    app.start();
    ASSERT_TRUE(run_until(app, [&] { return app.vt().in_synchronized_update(); }));
    const MonoTime began = mono_now();
    EXPECT_GE(app.compute_wait(), 0);
    EXPECT_LE(app.compute_wait(), 101);
    ASSERT_TRUE(run_until(app, [&] { return !app.vt().in_synchronized_update(); }));
    EXPECT_LT(mono_diff_ms(mono_now(), began), 150);
    app.shutdown();
}

TEST(AppLayout, WindowSmallerThanItsPaddingGivesAnEmptyGrid) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    settings().padding.extra = 50;
    App app(fake_backends());
    app.start();
    const std::uint32_t cols = app.vt().cols();
    const std::uint32_t rows = app.vt().rows();
    app.window().resize(60, 60);
    app.loop_pass();
    EXPECT_EQ(app.get_grid_size().cols, 0u);
    EXPECT_EQ(app.get_grid_size().rows, 0u);
    // A grid below 2 x 2 is ignored: the terminal keeps the one it had, never a huge one.
    EXPECT_EQ(app.vt().cols(), cols);
    EXPECT_EQ(app.vt().rows(), rows);

    app.window().resize(100 + 3 * CELL_W, 100 + 2 * CELL_H);
    app.loop_pass();
    EXPECT_EQ(app.vt().cols(), 3u);
    EXPECT_EQ(app.vt().rows(), 2u);
    app.shutdown();
}

TEST(AppKeys, UnboundKeysReachTheChildThroughTheEncoder) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    App app(fake_backends());
    app.start();
    app.key_handler('a', 'a', 0);
    app.key_handler(0xE9, 0xE9, 0);
    app.key_handler(0x1F600, 0, 0);
    app.key_handler('\r', 0xFF0D, 0);
    app.key_handler(0xFF50, 0xFF50, 0);               // Home
    app.key_handler(0xFF50, 0x100FF50, 0);            // a fullwidth p typed as text
    app.key_handler(0xFF09, 0xFE20, MODIFIER_SHIFT);  // Shift+Tab
    EXPECT_EQ(app.vt().pending_output(SIZE_MAX),
              "a\xc3\xa9\xf0\x9f\x98\x80\r\x1b[H\xef\xbd\x90\x1b[Z");
    app.shutdown();
}

TEST(AppKeys, PastesAndFocusChangesFollowTheModes) {
    use_command({"/bin/sh", "-c", "sleep 5"});
    App app(fake_backends());
    app.start();
    app.vt().interpret("\x1b[?2004h\x1b[?1004h");
    app.on_clipboard_data("one\ntwo\x1b");
    app.on_focus_changed(false);
    EXPECT_EQ(app.vt().pending_output(SIZE_MAX), "\x1b[200~one\rtwo\x1b[201~\x1b[O");
    app.shutdown();
}

TEST(AppNoDisplay, SaysSoExitsWithOneAndLeavesNoChildBehind) {
    // A runtime directory without a compositor's socket in it: neither window system answers.
    char runtime_dir[] = "/tmp/zelto-no-display-XXXXXX";
    ASSERT_NE(mkdtemp(runtime_dir), nullptr);
    const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR=") +
                                runtime_dir + " " + ZELTO_EXECUTABLE + " -c -e sleep 31.41592 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    EXPECT_EQ(output, "[\x1b[31merror\x1b[m] Failed to create window\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    bool child_gone = false;
    for (int i = 0; i < 100 && !child_gone; ++i) {
        child_gone = std::system("pgrep -f 'sleep 31[.]41592' > /dev/null") != 0;
        if (!child_gone) usleep(20'000);
    }
    EXPECT_TRUE(child_gone);
    rmdir(runtime_dir);
}

}  // namespace
}  // namespace zelto
