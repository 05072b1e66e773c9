// The Wayland window against a real headless sway: server-side decorations, a seat whose keys
// come from wtype, screenshots from grim, resizes from swaymsg.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "config/settings.hpp"
#include "gfx_gl2/ui_state.hpp"
#include "window/wayland/headless_compositor.hpp"
#include "window/wayland/recording_callbacks.hpp"
#include "window/wayland/window_wayland.hpp"

namespace zelto {
namespace {

using test::HeadlessCompositor;
using test::loop_pass;
using test::RecordingCallbacks;
using test::run_until;

int open_fd_count() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

// The pixels of a binary PPM screenshot, three bytes each; empty when it cannot be read.
std::string screenshot_pixels(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int max = 0;
    file >> magic >> width >> height >> max;
    file.get();
    if (magic != "P6" || width <= 0 || height <= 0) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool has_colour(const std::string& pixels, unsigned char r, unsigned char g, unsigned char b) {
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
        if (static_cast<unsigned char>(pixels[i]) == r &&
            static_cast<unsigned char>(pixels[i + 1]) == g &&
            static_cast<unsigned char>(pixels[i + 2]) == b) {
            return true;
        }
    }
    return false;
}

class SwayTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        sway = new HeadlessCompositor(HeadlessCompositor::SWAY);
        if (!sway->start()) {
            delete sway;
            sway = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete sway;
        sway = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(sway, nullptr) << "sway headless did not start";
        settings() = Settings{};
    }

    std::unique_ptr<Window> open(std::uint32_t width = 400, std::uint32_t height = 300) {
        auto window = window_wayland_create(width, height, 8, 16, WindowContextRequest{}, &ui);
        if (window) {
            window->callbacks = &callbacks;
            window->set_swap_interval(1);
        }
        return window;
    }
    // Opens a window and waits until it is drawn.
    std::unique_ptr<Window> open_drawn() {
        auto window = open();
        if (window && !run_until(*window, [&] { return callbacks.frames > 0; })) {
            return nullptr;
        }
        return window;
    }
    // The seat has a keyboard only while wtype's virtual keyboard exists: wtype waits a moment
    // first, so the window can take the new keyboard and its focus before the keys come.
    bool type_beside(Window& window, std::vector<std::string> actions) {
        actions.insert(actions.begin(), {"wtype", "-s", "700"});
        return run_client_beside(window, actions);
    }
    // Runs a client while the window keeps handling events, as the App's loop would.
    bool run_client_beside(Window& window, const std::vector<std::string>& argv) {
        const pid_t pid = sway->spawn_client(argv);
        return run_until(window, [&] { return HeadlessCompositor::client_done(pid); });
    }
    std::string keys_text() const {
        std::string text;
        for (const auto& key : callbacks.keys) {
            text += key.key < 0x80 ? static_cast<char>(key.key) : '?';
        }
        return text;
    }
    static WaylandWindowInfo& info(Window& window) {
        return dynamic_cast<WaylandWindowInfo&>(window);
    }

    static HeadlessCompositor* sway;
    UiState ui;
    RecordingCallbacks callbacks;
};

HeadlessCompositor* SwayTest::sway = nullptr;

TEST_F(SwayTest, TheCompositorDrawsTheDecorations) {
    auto window = open(400, 300);
    ASSERT_TRUE(window);
    EXPECT_FALSE(info(*window).client_side_decorations());
    EXPECT_EQ(window->w, 400u);
    EXPECT_EQ(window->h, 300u);
    EXPECT_FALSE(info(*window).shadow_shown());
}

TEST_F(SwayTest, AnyTitleAProgramSetsKeepsTheConnection) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    std::string title(20000, 't');
    title[5] = '\xff';
    window->set_title(title);
    window->set_title("after");
    const int frames = callbacks.frames;
    window->paint = true;
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.frames > frames; }));
    const std::string tree = [&] {
        std::string output;
        const std::string command = "swaymsg -s " + sway->ipc_socket() + " -t get_tree";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                output.append(buffer, n);
            }
            pclose(pipe);
        }
        return output;
    }();
    EXPECT_NE(tree.find("\"name\": \"after\""), std::string::npos);
}

TEST_F(SwayTest, ForcedClientSideDecorationsTakeNoExtraHeight) {
    settings().force_csd = true;
    auto window = open(400, 300);
    ASSERT_TRUE(window);
    EXPECT_TRUE(info(*window).client_side_decorations());
    EXPECT_EQ(window->h, 300u);
    EXPECT_EQ(ui.decoration_mode, 1u);
}

TEST_F(SwayTest, TheOutputIsNamedByItsConnector) {
    auto window = open();
    ASSERT_TRUE(window);
    ASSERT_TRUE(run_until(*window, [&] { return !callbacks.outputs.empty(); }));
    // Output rules match connector names ("HEADLESS-*", "DP-*"), not the model text.
    EXPECT_EQ(window->output_name, "HEADLESS-1");
    EXPECT_EQ(callbacks.outputs.size(), 1u);
    EXPECT_EQ(callbacks.outputs.front().name, "HEADLESS-1");
    // The headless output reports no physical size: its DPI is unknown rather than infinite.
    EXPECT_EQ(callbacks.outputs.front().dpi, 0u);
    EXPECT_NEAR(window->frame_interval_ms(), 1000.0 / 60.0, 0.01);
}

TEST_F(SwayTest, TypedTextReachesTheKeyHandler) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    ASSERT_TRUE(type_beside(*window, {"echo hi"}));
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.keys.size() >= 7; }));
    EXPECT_EQ(keys_text(), "echo hi");
    ASSERT_FALSE(callbacks.focus_changes.empty());
    EXPECT_TRUE(callbacks.focus_changes.front());
}

TEST_F(SwayTest, ControlCIsTheInterruptCharacter) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    ASSERT_TRUE(type_beside(*window, {"-M", "ctrl", "-k", "c", "-m", "ctrl"}));
    ASSERT_TRUE(run_until(*window, [&] { return !callbacks.keys.empty(); }));
    EXPECT_EQ(callbacks.keys.front().key, 3u);
    EXPECT_EQ(callbacks.keys.front().modifiers, static_cast<std::uint32_t>(MODIFIER_CTRL));
}

TEST_F(SwayTest, AHeldKeyRepeatsAndStopsAtRelease) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    ASSERT_TRUE(type_beside(*window, {"-P", "x", "-s", "1500", "-p", "x"}));
    EXPECT_GT(window->repeat_rate, 0u);
    const std::size_t held = callbacks.keys.size();
    EXPECT_GT(held, 2u) << "the press and at least two repeats";
    for (const auto& key : callbacks.keys) {
        EXPECT_EQ(key.key, 'x');
    }
    EXPECT_FALSE(window->process_timers());
    for (int i = 0; i < 20; ++i) {
        loop_pass(*window, 20);
    }
    EXPECT_EQ(callbacks.keys.size(), held);
}

// Drives a virtual pointer on sway's seat, one line of commands at a time.
class VirtualPointer {
  public:
    explicit VirtualPointer(const HeadlessCompositor& sway)
        : pid_(sway.spawn_client_with_input({VIRTUAL_POINTER}, input_)) {}
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;
    ~VirtualPointer() {
        close(input_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

  private:
    int input_ = -1;
    pid_t pid_;
};

TEST_F(SwayTest, PointerMotionButtonsAndTheWheel) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    VirtualPointer pointer(*sway);
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).has_pointer(); }));

    // The screen's centre lies inside the centred floating window.
    pointer.send("move 512 384");
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.activity > 0; }));
    EXPECT_FALSE(window->has_flag(WINDOW_IS_POINTER_HIDDEN));
    const std::int32_t x = window->pointer_x;
    const std::int32_t y = window->pointer_y;
    EXPECT_GT(x, 0);
    EXPECT_LT(x, 400);
    EXPECT_GT(y, 0);
    EXPECT_LT(y, 300);
    pointer.send("move 522 389");
    ASSERT_TRUE(run_until(*window, [&] { return !callbacks.motions.empty(); }));
    EXPECT_EQ(callbacks.motions.back().button, 0u);
    EXPECT_EQ(callbacks.motions.back().x, x + 10);
    EXPECT_EQ(callbacks.motions.back().y, y + 5);

    // A left drag reports the held button with the motion; right and middle map to 3 and 2.
    pointer.send("button 272 1");
    pointer.send("move 532 389");
    pointer.send("button 272 0");
    pointer.send("button 273 1");
    pointer.send("button 273 0");
    pointer.send("button 274 1");
    pointer.send("button 274 0");
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.buttons.size() >= 6; }));
    ASSERT_EQ(callbacks.buttons.size(), 6u);
    EXPECT_EQ(callbacks.buttons[0].button, 1u);
    EXPECT_TRUE(callbacks.buttons[0].pressed);
    EXPECT_EQ(callbacks.buttons[0].x, x + 10);
    EXPECT_EQ(callbacks.motions.back().button, 1u);
    EXPECT_EQ(callbacks.motions.back().x, x + 20);
    EXPECT_EQ(callbacks.buttons[1].button, 1u);
    EXPECT_FALSE(callbacks.buttons[1].pressed);
    EXPECT_EQ(callbacks.buttons[2].button, 3u);
    EXPECT_EQ(callbacks.buttons[4].button, 2u);
    callbacks.buttons.clear();

    // A wheel notch is one report, however the compositor also describes it continuously.
    pointer.send("wheel -1");
    pointer.send("wheel 2");
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.buttons.size() >= 2; }));
    // A touchpad's continuous scroll carries its step count.
    pointer.send("scroll 10");
    pointer.send("scroll -5");
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.buttons.size() >= 4; }));
    ASSERT_EQ(callbacks.buttons.size(), 4u);
    EXPECT_EQ(callbacks.buttons[0].button, 65u);
    EXPECT_EQ(callbacks.buttons[0].steps, 0);
    EXPECT_TRUE(callbacks.buttons[0].pressed);
    EXPECT_EQ(callbacks.buttons[1].button, 66u);
    EXPECT_EQ(callbacks.buttons[1].steps, 0);
    EXPECT_EQ(callbacks.buttons[2].button, 66u);
    EXPECT_EQ(callbacks.buttons[2].steps, 10);
    EXPECT_EQ(callbacks.buttons[3].button, 65u);
    EXPECT_EQ(callbacks.buttons[3].steps, 5);

    window->set_pointer_style(MOUSE_POINTER_HIDDEN);
    EXPECT_TRUE(window->has_flag(WINDOW_IS_POINTER_HIDDEN));
    pointer.send("move 540 389");
    const std::size_t motions = callbacks.motions.size();
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.motions.size() > motions; }));
    EXPECT_FALSE(window->has_flag(WINDOW_IS_POINTER_HIDDEN));  // moving shows it again
}

TEST_F(SwayTest, FullscreenByTheCompositorIsKnownToTheWindow) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    const std::string ipc = sway->ipc_socket();
    ASSERT_TRUE(run_client_beside(*window, {"swaymsg", "-s", ipc, "fullscreen enable"}));
    ASSERT_TRUE(run_until(*window, [&] { return window->has_flag(WINDOW_IS_FULLSCREEN); }));
    EXPECT_EQ(window->w, 1024u);
    EXPECT_EQ(window->h, 768u);
    // Leaving it from zelto's side brings the size from before back.
    window->set_fullscreen(false);
    ASSERT_TRUE(run_until(*window, [&] { return window->w == 400 && !window->paint; }));
    EXPECT_FALSE(window->has_flag(WINDOW_IS_FULLSCREEN));
    EXPECT_EQ(window->h, 300u);
}

TEST_F(SwayTest, OffersFromOtherClientsDoNotPileUp) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    for (int i = 0; i < 10; ++i) {
        const std::string text = "copy " + std::to_string(i);
        // wl-copy stays behind to serve its text until the next copy replaces it.
        ASSERT_TRUE(run_client_beside(*window, {"wl-copy", text}));
        ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "--primary", text}));
    }
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).live_offer_count() == 2; }));
    for (int i = 0; i < 10; ++i) {
        loop_pass(*window, 10);
    }
    EXPECT_EQ(info(*window).live_offer_count(), 2u);  // the clipboard's and the primary's
    ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "--clear"}));
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).live_offer_count() == 1; }));
}

TEST_F(SwayTest, FramesReachTheScreenAndKeepChanging) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    const std::string first = sway->runtime_dir() + "/first.ppm";
    const std::string second = sway->runtime_dir() + "/second.ppm";
    auto shoot = [&](const std::string& path) {
        // The frame on screen alternates between a red and a black clear.
        const int frames = callbacks.frames;
        window->paint = true;
        EXPECT_TRUE(run_until(*window, [&] { return callbacks.frames > frames; }));
        EXPECT_TRUE(run_until(*window, [&] { return info(*window).frame_arrived(); }));
        return run_client_beside(*window, {"grim", "-t", "ppm", path});
    };
    ASSERT_TRUE(shoot(first));
    const bool first_red = callbacks.frames % 2 == 1;
    ASSERT_TRUE(shoot(second));
    const std::string a = screenshot_pixels(first);
    const std::string b = screenshot_pixels(second);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    // Clear colours (1, 0.2, 0.4) and (0, 0.2, 0.4) land as these bytes.
    EXPECT_TRUE(has_colour(first_red ? a : b, 255, 51, 102));
    EXPECT_TRUE(has_colour(first_red ? b : a, 0, 51, 102));
}

TEST_F(SwayTest, MovingBetweenOutputsReportsEachOne) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    const std::string ipc = sway->ipc_socket();
    ASSERT_TRUE(run_client_beside(*window, {"swaymsg", "-s", ipc, "create_output"}));
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).bound_output_count() == 2; }));
    ASSERT_TRUE(
        run_client_beside(*window, {"swaymsg", "-s", ipc, "move container to output HEADLESS-2"}));
    ASSERT_TRUE(run_until(*window, [&] {
        return !callbacks.outputs.empty() && callbacks.outputs.back().name == "HEADLESS-2";
    }));
    EXPECT_EQ(window->output_name, "HEADLESS-2");
    EXPECT_EQ(callbacks.outputs.back().index, 1u);
    EXPECT_FALSE(window->has_flag(WINDOW_IS_MINIMIZED));

    ASSERT_TRUE(run_client_beside(
        *window, {"swaymsg", "-s", ipc, "[app_id=Zelto] move container to output HEADLESS-1"}));
    ASSERT_TRUE(run_until(*window, [&] { return window->output_name == "HEADLESS-1"; }));
    EXPECT_EQ(callbacks.outputs.back().index, 0u);
}

TEST_F(SwayTest, AHiddenWindowDrawsNothingUntilShownAgain) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    const std::string ipc = sway->ipc_socket();
    ASSERT_TRUE(
        run_client_beside(*window, {"swaymsg", "-s", ipc, "move container to workspace 9"}));
    // Whatever frame was pending is drawn; after that the compositor asks for none.
    for (int i = 0; i < 10; ++i) {
        window->paint = true;
        loop_pass(*window, 10);
    }
    const int frames = callbacks.frames;
    for (int i = 0; i < 20; ++i) {
        window->paint = true;
        EXPECT_FALSE(loop_pass(*window, 10));
    }
    EXPECT_EQ(callbacks.frames, frames);
    EXPECT_TRUE(window->paint);  // the repaint waits, it is not lost
    ASSERT_TRUE(run_client_beside(*window, {"swaymsg", "-s", ipc, "workspace 9"}));
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.frames > frames; }));
}

TEST_F(SwayTest, ResizingTheWindowManyTimesLeaksNoDescriptors) {
    auto window = open_drawn();
    ASSERT_TRUE(window);
    const std::string ipc = sway->ipc_socket();
    ASSERT_FALSE(ipc.empty());
    // Widths alternate, so each resize changes the size and is drawn before the next.
    auto resize_to = [&](int width, int height) {
        const std::uint32_t old_w = window->w;
        const std::string command =
            "resize set " + std::to_string(width) + " " + std::to_string(height);
        EXPECT_TRUE(run_client_beside(*window, {"swaymsg", "-s", ipc, command}));
        return run_until(*window, [&] { return window->w != old_w && !window->paint; });
    };
    ASSERT_TRUE(resize_to(420, 320));
    const int before = open_fd_count();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(resize_to(440 + (i % 2) * 20, 330 + (i % 3) * 10)) << "resize " << i;
    }
    EXPECT_EQ(open_fd_count(), before);
}

// Clipboard and primary selection against wl-copy and wl-paste, which talk to sway through its
// data-control protocol and so need no focus of their own. sway lets a client set a selection
// only with the serial of an input event it was given that is newer than the current
// selection's: the window takes one from a key typed by wtype (the seat's keyboard exists only
// while wtype runs, and sway gives the new window its focus) right before it copies.
class SwayClipboardTest : public SwayTest {
  protected:
    void SetUp() override {
        SwayTest::SetUp();
        window = open_drawn();
        ASSERT_TRUE(window);
        // Nothing from an earlier test stays on the clipboard.
        ASSERT_TRUE(shell("wl-copy --clear; wl-copy --primary --clear"));
    }
    bool take_input_serial() { return type_beside(*window, {"x"}); }
    bool shell(const std::string& command) {
        return run_client_beside(*window, {"sh", "-c", command});
    }
    // What `command` prints, while the window keeps serving.
    std::string output_of(const std::string& command) {
        const std::string path = sway->runtime_dir() + "/output";
        std::remove(path.c_str());
        if (!shell(command + " > " + path)) {
            return "(did not finish)";
        }
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    std::string write_file(const std::string& name, const std::string& text) {
        const std::string path = sway->runtime_dir() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Waits until the clipboard offer from another client's copy has come.
    bool offers_change(std::size_t before) {
        return run_until(*window, [&] { return info(*window).live_offer_count() != before; });
    }
    bool pasted_one() {
        return run_until(*window, [&] { return !callbacks.pasted.empty(); });
    }
    static std::string pattern(std::size_t size) {
        std::string text(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            text[i] = static_cast<char>(i % 61 == 60 ? '\n' : 'a' + i % 26);
        }
        return text;
    }

    std::unique_ptr<Window> window;
};

TEST_F(SwayClipboardTest, AnotherClientsCopyIsPasted) {
    const std::size_t before = info(*window).live_offer_count();
    ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "from wl-copy"}));
    ASSERT_TRUE(offers_change(before));
    window->clipboard_get();
    ASSERT_TRUE(pasted_one());
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"from wl-copy"});
}

TEST_F(SwayClipboardTest, ZeltosCopyIsReadExactly) {
    ASSERT_TRUE(take_input_serial());
    window->clipboard_send("zelto's\ttext\nwith two lines");
    EXPECT_EQ(output_of("wl-paste -n"), "zelto's\ttext\nwith two lines");
    // Every text type is served.
    EXPECT_EQ(output_of("wl-paste -n -t UTF8_STRING"), "zelto's\ttext\nwith two lines");
    EXPECT_EQ(output_of("wl-paste -n -t STRING"), "zelto's\ttext\nwith two lines");
    // Our own selection, come back as an offer, is pasted without asking anyone.
    window->clipboard_get();
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"zelto's\ttext\nwith two lines"});
}

TEST_F(SwayClipboardTest, AMebibyteGoesBothWays) {
    const std::string text = pattern(1 << 20);
    ASSERT_TRUE(take_input_serial());
    window->clipboard_send(text);
    const std::string read = output_of("wl-paste -n");
    EXPECT_EQ(read.size(), text.size());
    EXPECT_TRUE(read == text);

    const std::string path = write_file("big", pattern((1 << 20) + 7));
    ASSERT_TRUE(shell("wl-copy < " + path));
    ASSERT_TRUE(run_until(*window, [&] {
        callbacks.pasted.clear();
        window->clipboard_get();
        // A paste of our own text arrives at once; the other client's takes some passes.
        for (int i = 0; i < 100 && callbacks.pasted.empty(); ++i) loop_pass(*window, 20);
        return !callbacks.pasted.empty() && callbacks.pasted.front().size() != text.size();
    }));
    ASSERT_EQ(callbacks.pasted.size(), 1u);
    EXPECT_EQ(callbacks.pasted.front().size(), (1u << 20) + 7);
    EXPECT_TRUE(callbacks.pasted.front() == pattern((1 << 20) + 7));
}

TEST_F(SwayClipboardTest, PastingItsOwnLargeCopyNeedsNoPipe) {
    const std::string text = pattern(200 * 1024);
    ASSERT_TRUE(take_input_serial());
    window->clipboard_send(text);
    window->clipboard_get();
    // Delivered before the call returns: no other client, and no wait on ourselves.
    ASSERT_EQ(callbacks.pasted.size(), 1u);
    EXPECT_TRUE(callbacks.pasted.front() == text);
    EXPECT_EQ(info(*window).serving_count(), 0u);
}

TEST_F(SwayClipboardTest, ARequestorThatStopsReadingFreezesNothing) {
    const std::string text = pattern(1 << 20);
    ASSERT_TRUE(take_input_serial());
    window->clipboard_send(text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(output_of("wl-paste | head -c 10"), text.substr(0, 10));
    // One that takes a little and then sleeps: the window serves others meanwhile.
    const pid_t stalled = sway->spawn_client({"sh", "-c", "wl-paste | sleep 3"});
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).serving_count() > 0; }));
    const std::string read = output_of("wl-paste -n");
    EXPECT_EQ(read.size(), text.size());
    EXPECT_TRUE(read == text);
    ASSERT_TRUE(run_until(*window, [&] { return HeadlessCompositor::client_done(stalled); }));
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).serving_count() == 0; }));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not write to pipe"),
              std::string::npos);
}

TEST_F(SwayClipboardTest, AnImageIsNeverPasted) {
    const std::size_t before = info(*window).live_offer_count();
    ASSERT_TRUE(shell("printf 'not text' | wl-copy --type image/png"));
    ASSERT_TRUE(offers_change(before));
    window->clipboard_get();
    for (int i = 0; i < 20; ++i) loop_pass(*window, 20);
    EXPECT_TRUE(callbacks.pasted.empty());
}

TEST_F(SwayClipboardTest, CopiedFilesPasteAsPathsAndTextAfterThemAsText) {
    std::size_t before = info(*window).live_offer_count();
    ASSERT_TRUE(
        shell("printf 'file:///tmp/a.txt\\r\\n# comment\\r\\nfile:///tmp/b c\\r\\n' | "
              "wl-copy --type text/uri-list"));
    ASSERT_TRUE(offers_change(before));
    window->clipboard_get();
    ASSERT_TRUE(pasted_one());
    EXPECT_EQ(callbacks.pasted.front(), "/tmp/a.txt /tmp/b c");
    callbacks.pasted.clear();

    ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "plain after the list"}));
    // The new offer replaces the list's: the count stays, so wait for the text itself.
    ASSERT_TRUE(run_until(*window, [&] {
        callbacks.pasted.clear();
        window->clipboard_get();
        for (int i = 0; i < 50 && callbacks.pasted.empty(); ++i) loop_pass(*window, 20);
        return !callbacks.pasted.empty() && callbacks.pasted.front() != "/tmp/a.txt /tmp/b c";
    }));
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"plain after the list"});
}

TEST_F(SwayClipboardTest, ThePrimarySelectionGoesBothWays) {
    const std::size_t before = info(*window).live_offer_count();
    const int lost = callbacks.selections_lost;
    ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "--primary", "highlighted elsewhere"}));
    ASSERT_TRUE(offers_change(before));
    EXPECT_GT(callbacks.selections_lost, lost) << "another client owns the primary selection";
    window->primary_get();
    ASSERT_TRUE(pasted_one());
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"highlighted elsewhere"});

    ASSERT_TRUE(take_input_serial());
    window->primary_send("highlighted in zelto");
    EXPECT_EQ(output_of("wl-paste --primary -n"), "highlighted in zelto");
    // Our own selection comes back as an offer on each focus-in (the keyboard wtype brings
    // enters the window again): the user's highlight is not lost to it.
    const int own = callbacks.selections_lost;
    ASSERT_TRUE(take_input_serial());
    for (int i = 0; i < 10; ++i) loop_pass(*window, 20);
    EXPECT_EQ(callbacks.selections_lost, own);
    // Given up, it is nobody's.
    window->primary_send("");
    EXPECT_EQ(output_of("wl-paste --primary -n 2>/dev/null; true"), "");
}

// sway ignores a copy whose serial is older than the current selection's, and says nothing
// about it: the source it was given is never cancelled, yet the selection is not ours.
TEST_F(SwayClipboardTest, AnIgnoredCopyLeavesTheOtherClientsTextToPaste) {
    ASSERT_TRUE(take_input_serial());
    const std::size_t before = info(*window).live_offer_count();
    ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "newer"}));
    ASSERT_TRUE(offers_change(before));
    window->clipboard_send("stale");
    for (int i = 0; i < 20; ++i) loop_pass(*window, 20);
    EXPECT_EQ(output_of("wl-paste -n"), "newer");
    window->clipboard_get();
    ASSERT_TRUE(pasted_one());
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"newer"});
}

// An owner that takes the request and never writes nor closes: the paste is given up after two
// seconds of silence, and the window went on working all along.
TEST_F(SwayClipboardTest, AnOwnerThatNeverAnswersIsGivenUp) {
    VirtualPointer pointer(*sway);
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).has_pointer(); }));
    const std::string status = sway->runtime_dir() + "/silent_status";
    std::remove(status.c_str());
    auto status_has = [&](const std::string& word) {
        std::ifstream file(status);
        const std::string text(std::istreambuf_iterator<char>(file), {});
        return text.find(word) != std::string::npos;
    };
    const pid_t owner = sway->spawn_client({DRAG_SOURCE, "silent-copy", "-", status});
    ASSERT_TRUE(run_until(*window, [&] { return status_has("ready"); }));
    const std::size_t before = info(*window).live_offer_count();
    // Outside the floating window, on the owner's.
    pointer.send("move 40 40");
    pointer.send("button 272 1");
    pointer.send("button 272 0");
    ASSERT_TRUE(run_until(*window, [&] { return status_has("copied"); }));
    // The owner's window took the focus; selections are announced to the focused client.
    ASSERT_TRUE(
        run_client_beside(*window, {"swaymsg", "-s", sway->ipc_socket(), "[app_id=Zelto] focus"}));
    ASSERT_TRUE(offers_change(before));
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    window->clipboard_get();
    ASSERT_TRUE(run_until(*window, [&] { return status_has("asked"); }));
    // Frames are still drawn while the paste waits.
    const int frames = callbacks.frames;
    window->paint = true;
    ASSERT_TRUE(run_until(*window, [&] { return callbacks.frames > frames; }));
    // The window's loop sleeps until the give-up deadline, which it reports as a timer.
    EXPECT_TRUE(window->process_timers());
    ASSERT_TRUE(run_until(*window, [&] { return !window->process_timers(); }));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("abandoned"), std::string::npos);
    EXPECT_TRUE(callbacks.pasted.empty());
    // The next copy pastes as usual.
    ASSERT_TRUE(run_client_beside(*window, {"wl-copy", "after the silence"}));
    ASSERT_TRUE(run_until(*window, [&] { return HeadlessCompositor::client_done(owner); }));
    window->clipboard_get();
    ASSERT_TRUE(pasted_one());
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"after the silence"});
}

// A drag starts on drag_source's window (tiled, under the floating window) and is dropped on the
// window: the virtual pointer presses on the source, moves over the window and lets go.
TEST_F(SwayClipboardTest, DroppedFilesArePastedAsTheirPaths) {
    VirtualPointer pointer(*sway);
    ASSERT_TRUE(run_until(*window, [&] { return info(*window).has_pointer(); }));
    const std::string status = sway->runtime_dir() + "/drag_status";
    std::remove(status.c_str());
    auto status_has = [&](const std::string& word) {
        std::ifstream file(status);
        const std::string text(std::istreambuf_iterator<char>(file), {});
        return text.find(word) != std::string::npos;
    };
    const pid_t source = sway->spawn_client(
        {DRAG_SOURCE, "text/uri-list", "file:///tmp/a b.txt\r\nfile:///tmp/c.txt\r\n", status});
    ASSERT_TRUE(run_until(*window, [&] { return status_has("ready"); }));
    pointer.send("move 40 40");
    pointer.send("button 272 1");
    ASSERT_TRUE(run_until(*window, [&] { return status_has("dragging"); }));
    for (int x = 60; x <= 512; x += 40) {
        pointer.send("move " + std::to_string(x) + " " + std::to_string(x * 384 / 512));
        loop_pass(*window, 10);
    }
    pointer.send("move 512 384");
    for (int i = 0; i < 10; ++i) loop_pass(*window, 10);
    pointer.send("button 272 0");
    ASSERT_TRUE(pasted_one());
    EXPECT_EQ(callbacks.pasted, std::vector<std::string>{"/tmp/a b.txt /tmp/c.txt"});
    ASSERT_TRUE(run_until(*window, [&] { return HeadlessCompositor::client_done(source); }));
    EXPECT_TRUE(status_has("finished")) << "the source hears that the drop was taken";
    EXPECT_EQ(info(*window).live_offer_count(), 0u);
}

}  // namespace
}  // namespace zelto
