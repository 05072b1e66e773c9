// The X11 window on a real server: a private Xvfb with Mesa's software GL. Input comes from
// xdotool and from a second client ("the peer") that plays window manager and screenshot tool.

// clang-format off
// gtest and zelto's headers come before the X headers, whose macros (None, CursorShape) clash.
#include <gtest/gtest.h>

#include "window/x11/window_x11.hpp"
#include "window/xvfb_server.hpp"

#include <GL/gl.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>
// clang-format on

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "window/xvfb_server.hpp"

namespace zelto {
namespace {

constexpr std::uint32_t CELL_W = 8;
constexpr std::uint32_t CELL_H = 16;

struct KeyEvent {
    std::uint32_t key;
    std::uint32_t raw_keysym;
    std::uint32_t modifiers;
};

struct ButtonEvent {
    std::uint32_t button;
    bool pressed;
    std::int32_t x;
    std::int32_t y;
    std::uint32_t modifiers;
};

struct MotionEvent {
    std::uint32_t button;
    std::int32_t x;
    std::int32_t y;
};

struct OutputEvent {
    std::uint32_t index;
    std::string name;
    std::uint16_t dpi;
};

// Records what the window reports; draws by clearing to `clear_colour`.
class RecordingCallbacks : public WindowCallbacks {
  public:
    void key_handler(std::uint32_t key, std::uint32_t raw, std::uint32_t mods) override {
        keys.push_back({key, raw, mods});
    }
    void button_handler(std::uint32_t button, bool pressed, std::int32_t x, std::int32_t y,
                        std::int32_t, std::uint32_t mods) override {
        buttons.push_back({button, pressed, x, y, mods});
    }
    void motion_handler(std::uint32_t button, std::int32_t x, std::int32_t y) override {
        motions.push_back({button, x, y});
    }
    void on_clipboard_data(std::string_view) override {}
    void on_activity() override {}
    std::optional<std::vector<DamageRect>> draw(std::uint8_t) override {
        ++draws;
        glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        return std::nullopt;
    }
    void on_focus_changed(bool focused) override { focus_changes.push_back(focused); }
    void on_selection_lost() override { ++selections_lost; }
    void on_output_changed(std::uint32_t index, const std::string& name, std::uint32_t,
                           std::uint16_t dpi) override {
        outputs.push_back({index, name, dpi});
    }
    void invalidate() override { ++invalidations; }
    void on_decoration_mode_changed(std::uint32_t) override {}

    std::vector<KeyEvent> keys;
    std::vector<ButtonEvent> buttons;
    std::vector<MotionEvent> motions;
    std::vector<bool> focus_changes;
    std::vector<OutputEvent> outputs;
    int draws = 0;
    int selections_lost = 0;
    int invalidations = 0;
    float clear_colour[3] = {0.0f, 0.0f, 0.0f};
};

class WindowX11Test : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::setlocale(LC_ALL, "C.UTF-8");
        server_ = new test::XvfbServer();
        ASSERT_TRUE(server_->start()) << server_->error();
    }

    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(server_, nullptr);
        peer_ = XOpenDisplay(server_->display_name().c_str());
        ASSERT_NE(peer_, nullptr);
        window_ = window_x11_create(640, 480, CELL_W, CELL_H, WindowContextRequest{}, &ui_);
        ASSERT_NE(window_, nullptr);
        id_ = static_cast<::Window>(window_->get_window_id());
        ASSERT_TRUE(pump_until([&] { return is_viewable(); })) << "the window never mapped";
    }

    void TearDown() override {
        window_.reset();
        if (peer_) {
            XCloseDisplay(peer_);
        }
    }

    bool is_viewable() {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(peer_, id_, &attributes) && attributes.map_state == IsViewable;
    }

    // Dispatches the window's events until `done` holds; false after five seconds.
    bool pump_until(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            pollfd fd{window_->get_connection_fd(), POLLIN, 0};
            poll(&fd, 1, 20);
            window_->events();
        }
        return true;
    }

    // The peer's requests have reached the server, and the window has seen what followed.
    void settle() {
        XSync(peer_, False);
        window_->events();
    }

    void wire() { window_->callbacks = &callbacks_; }

    void focus_window() {
        XSetInputFocus(peer_, id_, RevertToPointerRoot, CurrentTime);
        XSync(peer_, False);
        ASSERT_TRUE(pump_until([&] { return window_->has_flag(WINDOW_IS_FOCUSED); }));
    }

    static int run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str());
    }

    std::string window_arg() const { return std::to_string(id_); }

    std::vector<unsigned char> property(const char* name, Atom* type = nullptr,
                                        int* format = nullptr) {
        const Atom atom = XInternAtom(peer_, name, False);
        Atom actual_type = None;
        int actual_format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::vector<unsigned char> bytes;
        if (XGetWindowProperty(peer_, id_, atom, 0, 1024, False, AnyPropertyType, &actual_type,
                               &actual_format, &count, &after, &data) == Success &&
            data) {
            const std::size_t item = actual_format == 32 ? sizeof(long) : actual_format / 8;
            bytes.assign(data, data + count * item);
            XFree(data);
        }
        if (type) {
            *type = actual_type;
        }
        if (format) {
            *format = actual_format;
        }
        return bytes;
    }

    std::vector<long> long_property(const char* name) {
        const auto bytes = property(name);
        std::vector<long> values(bytes.size() / sizeof(long));
        std::memcpy(values.data(), bytes.data(), values.size() * sizeof(long));
        return values;
    }

    std::string string_property(const char* name) {
        const auto bytes = property(name);
        return std::string(bytes.begin(), bytes.end());
    }

    unsigned long pixel_at(int px, int py) {
        XImage* image = XGetImage(peer_, id_, px, py, 1, 1, AllPlanes, ZPixmap);
        if (!image) {
            return ~0ul;
        }
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    bool draw_cleared_to(float r, float g, float b) {
        callbacks_.clear_colour[0] = r;
        callbacks_.clear_colour[1] = g;
        callbacks_.clear_colour[2] = b;
        window_->paint = true;
        return window_->swap_if_needed(true);
    }

    static inline test::XvfbServer* server_ = nullptr;
    Display* peer_ = nullptr;
    UiState ui_;
    RecordingCallbacks callbacks_;
    std::unique_ptr<Window> window_;
    ::Window id_ = 0;
};

TEST_F(WindowX11Test, OpensWithTheRequestedSizeAndWindowManagerProperties) {
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(peer_, id_, &attributes));
    EXPECT_EQ(attributes.width, 640);
    EXPECT_EQ(attributes.height, 480);
    EXPECT_EQ(attributes.depth, 32) << "the window is not transparent";
    EXPECT_EQ(window_->w, 640u);
    EXPECT_EQ(window_->h, 480u);

    EXPECT_EQ(string_property("WM_NAME"), "Zelto");
    Atom type = None;
    const auto net_name = property("_NET_WM_NAME", &type);
    EXPECT_EQ(std::string(net_name.begin(), net_name.end()), "Zelto");
    EXPECT_EQ(type, XInternAtom(peer_, "UTF8_STRING", False));
    EXPECT_EQ(string_property("WM_CLASS"), std::string("Zelto\0Zelto\0", 12));
    EXPECT_EQ(long_property("_NET_WM_PID"), std::vector<long>{getpid()});
    EXPECT_EQ(long_property("_NET_WM_WINDOW_TYPE"),
              std::vector<long>{
                  static_cast<long>(XInternAtom(peer_, "_NET_WM_WINDOW_TYPE_NORMAL", False))});
    const auto protocols = long_property("WM_PROTOCOLS");
    EXPECT_EQ(protocols,
              (std::vector<long>{static_cast<long>(XInternAtom(peer_, "WM_DELETE_WINDOW", False)),
                                 static_cast<long>(XInternAtom(peer_, "_NET_WM_PING", False))}));
    EXPECT_EQ(string_property("_GTK_THEME_VARIANT"), "dark");  // the default black background
    property("_KDE_NET_WM_BLUR_BEHIND_REGION", &type);
    EXPECT_EQ(type, XA_CARDINAL);

    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(peer_, id_, &hints, &supplied));
    EXPECT_EQ(hints.min_width, 3 * static_cast<int>(CELL_W));
    EXPECT_EQ(hints.min_height, 3 * static_cast<int>(CELL_H));
    EXPECT_EQ(hints.base_width, 2 * static_cast<int>(CELL_W));
    EXPECT_EQ(hints.base_height, 2 * static_cast<int>(CELL_H));
    ASSERT_TRUE(hints.flags & PResizeInc);
    EXPECT_EQ(hints.width_inc, static_cast<int>(CELL_W));
    EXPECT_EQ(hints.height_inc, static_cast<int>(CELL_H));
    EXPECT_EQ(hints.win_gravity, NorthWestGravity);

    XWMHints* wm_hints = XGetWMHints(peer_, id_);
    ASSERT_NE(wm_hints, nullptr);
    EXPECT_TRUE(wm_hints->flags & InputHint);
    EXPECT_TRUE(wm_hints->input);
    XFree(wm_hints);

    // What other programs read with xprop.
    EXPECT_EQ(run("xprop -id " + window_arg() + " WM_CLASS | grep -q '\"Zelto\", \"Zelto\"'"), 0);
}

TEST_F(WindowX11Test, TitleAndResizeHintsFollowLaterChanges) {
    window_->set_title("caf\xC3\xA9 \xE2\x80\x94 vim");
    settings().padding.extra = 4;
    window_->set_incremental_resize(10, 20);
    settings().padding.extra = 0;
    EXPECT_TRUE(pump_until(
        [&] { return string_property("_NET_WM_NAME") == "caf\xC3\xA9 \xE2\x80\x94 vim"; }));
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(pump_until(
        [&] { return XGetWMNormalHints(peer_, id_, &hints, &supplied) && hints.width_inc == 10; }));
    EXPECT_EQ(hints.height_inc, 20);
    EXPECT_EQ(hints.min_width, 34);
    EXPECT_EQ(hints.base_height, 44);
    // The class set from the application id survives the rewrite of the size hints.
    EXPECT_EQ(string_property("WM_CLASS"), std::string("Zelto\0Zelto\0", 12));
}

TEST_F(WindowX11Test, TypedKeysArriveWithKeyValueRawSymbolAndModifiers) {
    wire();
    focus_window();
    ASSERT_EQ(run("xdotool key a shift+a ctrl+a alt+x Return F5 KP_Home shift+Tab Shift_L"), 0);
    ASSERT_TRUE(pump_until([&] { return callbacks_.keys.size() >= 8; }));
    settle();
    ASSERT_EQ(callbacks_.keys.size(), 8u) << "a bare Shift must report nothing";
    const auto& k = callbacks_.keys;
    EXPECT_EQ(k[0].key, 'a');
    EXPECT_EQ(k[0].raw_keysym, 'a');
    EXPECT_EQ(k[0].modifiers, 0u);
    EXPECT_EQ(k[1].key, 'A');
    EXPECT_EQ(k[1].raw_keysym, 'a');
    EXPECT_EQ(k[1].modifiers, MODIFIER_SHIFT);
    EXPECT_EQ(k[2].key, 1u);  // Ctrl+A types ^A
    EXPECT_EQ(k[2].raw_keysym, 'a');
    EXPECT_EQ(k[2].modifiers, MODIFIER_CTRL);
    EXPECT_EQ(k[3].key, 'x');
    EXPECT_EQ(k[3].modifiers, MODIFIER_ALT);
    EXPECT_EQ(k[4].key, 13u);
    EXPECT_EQ(k[4].raw_keysym, 0xff0du);
    EXPECT_EQ(k[5].key, 0xffc2u);
    EXPECT_EQ(k[6].key, 0xff95u);
    EXPECT_EQ(k[7].key, 0xff09u);
    EXPECT_EQ(k[7].modifiers, MODIFIER_SHIFT);
}

// Binds `keysym` to a spare keycode unless the keymap has it: xdotool's own temporary mapping
// races with the client's lazy keymap reload and would lose the key.
void ensure_keysym_in_keymap(Display* display, KeySym keysym) {
    if (XKeysymToKeycode(display, keysym) != 0) {
        return;
    }
    int min_keycode = 0;
    int max_keycode = 0;
    XDisplayKeycodes(display, &min_keycode, &max_keycode);
    for (int keycode = max_keycode; keycode >= min_keycode; --keycode) {
        int per_keycode = 0;
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(keycode), 1, &per_keycode);
        const bool unused = syms && (per_keycode == 0 || syms[0] == NoSymbol);
        XFree(syms);
        if (unused) {
            XChangeKeyboardMapping(display, keycode, 1, &keysym, 1);
            XSync(display, False);
            return;
        }
    }
}

TEST_F(WindowX11Test, ComposeSequenceTypesOneCharacter) {
    ensure_keysym_in_keymap(peer_, XK_dead_acute);
    wire();
    focus_window();
    ASSERT_EQ(run("xdotool key dead_acute e"), 0);
    ASSERT_TRUE(pump_until([&] { return !callbacks_.keys.empty(); }));
    settle();
    ASSERT_EQ(callbacks_.keys.size(), 1u) << "the dead key itself reports nothing";
    EXPECT_EQ(callbacks_.keys[0].key, 0xe9u);
}

TEST_F(WindowX11Test, ButtonsWheelAndMotionArriveWithPositions) {
    wire();
    ASSERT_EQ(run("xdotool mousemove --window " + window_arg() + " 30 40"), 0);
    ASSERT_TRUE(pump_until(
        [&] { return !callbacks_.motions.empty() && callbacks_.motions.back().x == 30; }));
    EXPECT_EQ(callbacks_.motions.back().y, 40);
    EXPECT_EQ(callbacks_.motions.back().button, 0u);
    EXPECT_EQ(window_->pointer_x, 30);
    EXPECT_EQ(window_->pointer_y, 40);

    ASSERT_EQ(run("xdotool click 1 click 4 click 5 keydown ctrl click 3 keyup ctrl"), 0);
    ASSERT_TRUE(pump_until([&] { return callbacks_.buttons.size() >= 6; }));
    settle();
    const auto& b = callbacks_.buttons;
    ASSERT_EQ(b.size(), 6u) << "wheel releases are not reported";
    EXPECT_EQ(b[0].button, 1u);
    EXPECT_TRUE(b[0].pressed);
    EXPECT_EQ(b[0].x, 30);
    EXPECT_EQ(b[0].y, 40);
    EXPECT_EQ(b[1].button, 1u);
    EXPECT_FALSE(b[1].pressed);
    EXPECT_EQ(b[2].button, 65u);
    EXPECT_TRUE(b[2].pressed);
    EXPECT_EQ(b[3].button, 66u);
    EXPECT_TRUE(b[3].pressed);
    EXPECT_EQ(b[4].button, 3u);
    EXPECT_EQ(b[4].modifiers, MODIFIER_CTRL);
    EXPECT_FALSE(b[5].pressed);

    callbacks_.motions.clear();
    ASSERT_EQ(run("xdotool mousedown 1 mousemove --window " + window_arg() + " 50 60 mouseup 1"),
              0);
    ASSERT_TRUE(pump_until(
        [&] { return !callbacks_.motions.empty() && callbacks_.motions.back().x == 50; }));
    EXPECT_EQ(callbacks_.motions.back().button, 1u) << "a drag reports the held button";
}

TEST_F(WindowX11Test, FocusChangesAreReportedAndRecordedBeforeWiring) {
    focus_window();  // not wired yet: only the flag records it
    EXPECT_TRUE(callbacks_.focus_changes.empty());
    wire();
    XSetInputFocus(peer_, None, RevertToNone, CurrentTime);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return !window_->has_flag(WINDOW_IS_FOCUSED); }));
    EXPECT_EQ(callbacks_.focus_changes.back(), false);
    focus_window();
    EXPECT_EQ(callbacks_.focus_changes.back(), true);
    EXPECT_GE(callbacks_.selections_lost, 1) << "nobody owns PRIMARY";
}

TEST_F(WindowX11Test, PointerStylesHideAndMotionShowsAgain) {
    wire();
    window_->set_pointer_style(MOUSE_POINTER_HIDDEN);
    EXPECT_TRUE(window_->has_flag(WINDOW_IS_POINTER_HIDDEN));
    ASSERT_EQ(run("xdotool mousemove --window " + window_arg() + " 5 5"), 0);
    ASSERT_TRUE(pump_until([&] { return !window_->has_flag(WINDOW_IS_POINTER_HIDDEN); }));
    window_->set_pointer_style(MOUSE_POINTER_HIDDEN);
    window_->set_pointer_style(MOUSE_POINTER_I_BEAM);
    EXPECT_FALSE(window_->has_flag(WINDOW_IS_POINTER_HIDDEN));
}

TEST_F(WindowX11Test, CloseButtonMessageClosesTheWindow) {
    EXPECT_FALSE(window_->has_flag(WINDOW_IS_CLOSED));
    ASSERT_EQ(run(std::string(SEND_WM_DELETE) + " " + window_arg()), 0);
    ASSERT_TRUE(pump_until([&] { return window_->has_flag(WINDOW_IS_CLOSED); }));
}

TEST_F(WindowX11Test, PingIsAnsweredToTheRootWindow) {
    XSelectInput(peer_, DefaultRootWindow(peer_), SubstructureNotifyMask);
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = id_;
    ping.xclient.message_type = XInternAtom(peer_, "WM_PROTOCOLS", False);
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(XInternAtom(peer_, "_NET_WM_PING", False));
    ping.xclient.data.l[1] = 4242;
    ping.xclient.data.l[2] = static_cast<long>(id_);
    XSendEvent(peer_, id_, False, NoEventMask, &ping);
    XSync(peer_, False);
    XEvent reply{};
    ASSERT_TRUE(pump_until([&] {
        while (XCheckTypedEvent(peer_, ClientMessage, &reply)) {
            if (reply.xclient.data.l[1] == 4242) {
                return true;
            }
        }
        return false;
    }));
    EXPECT_EQ(reply.xclient.window, DefaultRootWindow(peer_));
    EXPECT_FALSE(window_->has_flag(WINDOW_IS_CLOSED));
}

TEST_F(WindowX11Test, WindowDestroyedFromOutsideIsClosed) {
    XDestroyWindow(peer_, id_);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return window_->has_flag(WINDOW_IS_CLOSED); }));
    wire();
    window_->paint = true;
    EXPECT_FALSE(window_->swap_if_needed(true));
    EXPECT_EQ(callbacks_.draws, 0);
}

TEST_F(WindowX11Test, ProtocolErrorsAreWarningsAndTheProgramGoesOn) {
    XDestroyWindow(peer_, id_);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return window_->has_flag(WINDOW_IS_CLOSED); }));
    testing::internal::CaptureStderr();
    window_->raise_or_lower(true);
    window_->get_keysym_from_name("a");
    // Any round trip of the window's connection has the error come back.
    window_->events();
    XSync(peer_, False);
    pump_until([&] { return false; }, std::chrono::milliseconds(200));
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("X11 protocol error: BadWindow"), std::string::npos) << output;
}

TEST_F(WindowX11Test, DrawsOnlyWhenPaintIsSetAndTheWindowIsShown) {
    wire();
    ASSERT_TRUE(window_->swap_if_needed(true)) << "a new window has paint set";
    EXPECT_EQ(callbacks_.draws, 1);
    EXPECT_FALSE(window_->swap_if_needed(true));
    window_->paint = true;
    EXPECT_FALSE(window_->swap_if_needed(false));
    EXPECT_TRUE(window_->paint);
    EXPECT_EQ(callbacks_.draws, 1);

    XUnmapWindow(peer_, id_);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return window_->has_flag(WINDOW_IS_MINIMIZED); }));
    EXPECT_FALSE(window_->swap_if_needed(true));
    EXPECT_TRUE(window_->paint) << "paint waits for the window to come back";
    EXPECT_EQ(callbacks_.draws, 1);

    XMapWindow(peer_, id_);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return !window_->has_flag(WINDOW_IS_MINIMIZED); }));
    EXPECT_TRUE(window_->swap_if_needed(true));
    EXPECT_EQ(callbacks_.draws, 2);
    EXPECT_FALSE(window_->paint);
}

TEST_F(WindowX11Test, ExposeAsksForAFullRedraw) {
    wire();
    window_->swap_if_needed(true);
    const int before = callbacks_.invalidations;
    XClearArea(peer_, id_, 0, 0, 10, 10, True);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return callbacks_.invalidations > before; }));
    EXPECT_TRUE(window_->paint);
}

// The peer takes the window manager's seat and reads the state requests sent to the root window.
TEST_F(WindowX11Test, StateRequestsGoToTheWindowManager) {
    const ::Window root = DefaultRootWindow(peer_);
    XSelectInput(peer_, root, SubstructureRedirectMask);
    XSync(peer_, False);
    window_->set_fullscreen(true);
    window_->set_maximized(true);
    window_->set_urgent();
    std::vector<std::pair<long, std::string>> requests;
    ASSERT_TRUE(pump_until([&] {
        XEvent event;
        while (XCheckTypedEvent(peer_, ClientMessage, &event)) {
            EXPECT_EQ(event.xclient.window, id_);
            EXPECT_EQ(event.xclient.message_type, XInternAtom(peer_, "_NET_WM_STATE", False));
            char* name = XGetAtomName(peer_, static_cast<Atom>(event.xclient.data.l[1]));
            requests.emplace_back(event.xclient.data.l[0], name ? name : "");
            XFree(name);
        }
        return requests.size() >= 5;
    }));
    const std::vector<std::pair<long, std::string>> expected = {
        {1, "_NET_WM_STATE_FULLSCREEN"},
        {0, "_NET_WM_STATE_FULLSCREEN"},  // maximizing leaves fullscreen first
        {1, "_NET_WM_STATE_MAXIMIZED_VERT"},
        {1, "_NET_WM_STATE_MAXIMIZED_HORZ"},
        {1, "_NET_WM_STATE_DEMANDS_ATTENTION"},
    };
    EXPECT_EQ(requests, expected);
    EXPECT_FALSE(window_->has_flag(WINDOW_IS_FULLSCREEN));
    EXPECT_TRUE(window_->has_flag(WINDOW_IS_MAXIMIZED));
    XSelectInput(peer_, root, NoEventMask);
}

TEST_F(WindowX11Test, PositionIsInRootCoordinatesInsideAWindowManagerFrame) {
    const ::Window root = DefaultRootWindow(peer_);
    const ::Window frame = XCreateSimpleWindow(peer_, root, 600, 100, 700, 520, 0, 0, 0);
    XMapWindow(peer_, frame);
    XReparentWindow(peer_, id_, frame, 0, 0);
    XMoveWindow(peer_, id_, 5, 7);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return window_->x == 605 && window_->y == 107; }))
        << "at " << window_->x << "," << window_->y;
    XReparentWindow(peer_, id_, root, 0, 0);
    XDestroyWindow(peer_, frame);
    XSync(peer_, False);
}

TEST_F(WindowX11Test, SwapHandlesPendingEventsBeforeDeciding) {
    wire();
    window_->swap_if_needed(true);
    ASSERT_FALSE(window_->paint);
    XClearArea(peer_, id_, 0, 0, 10, 10, True);  // an Expose the window has not read yet
    XSync(peer_, False);
    EXPECT_TRUE(window_->swap_if_needed(true));
    EXPECT_EQ(callbacks_.draws, 2);
}

TEST_F(WindowX11Test, InputBeforeWiringIsDroppedSafely) {
    focus_window();
    ASSERT_EQ(run("xdotool mousemove --window " + window_arg() + " 7 9 click 1 key a"), 0);
    ASSERT_TRUE(pump_until([&] { return window_->pointer_x == 7; }));
    pump_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(window_->pointer_y, 9);
    wire();
    settle();
    EXPECT_TRUE(callbacks_.keys.empty());
    EXPECT_TRUE(callbacks_.buttons.empty());
}

TEST_F(WindowX11Test, ScreenshotShowsTheClearColour) {
    wire();
    window_->set_swap_interval(0);
    ASSERT_TRUE(draw_cleared_to(1.0f, 0.0f, 0.0f));
    XSync(peer_, False);
    EXPECT_EQ(pixel_at(0, 0), 0xFF0000u);
    EXPECT_EQ(pixel_at(639, 479), 0xFF0000u);
    ASSERT_TRUE(draw_cleared_to(0.0f, 0.0f, 1.0f));
    XSync(peer_, False);
    EXPECT_EQ(pixel_at(320, 240), 0x0000FFu);
}

TEST_F(WindowX11Test, ResizeReachesTheServerAndAsksForPaint) {
    window_->swap_if_needed(true);
    window_->resize(300, 200);
    EXPECT_TRUE(window_->paint);
    ASSERT_TRUE(pump_until([&] {
        XWindowAttributes attributes{};
        XGetWindowAttributes(peer_, id_, &attributes);
        return attributes.width == 300 && attributes.height == 200;
    }));
    EXPECT_EQ(window_->w, 300u);
    EXPECT_EQ(window_->h, 200u);

    // A window manager's resize arrives as a ConfigureNotify.
    XResizeWindow(peer_, id_, 410, 330);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return window_->w == 410 && window_->h == 330; }));
}

TEST_F(WindowX11Test, ReportsItsMonitorAndFramePacing) {
    EXPECT_EQ(window_->output_index, 1u);
    EXPECT_FALSE(window_->output_name.empty());
    EXPECT_GE(window_->output_dpi, 90u);
    EXPECT_LE(window_->output_dpi, 100u);
    EXPECT_GT(window_->frame_interval_ms(), 0.0);
    EXPECT_LT(window_->frame_interval_ms(), 1000.0);
    EXPECT_GT(window_->repeat_rate, 0u) << "the server's auto-repeat interval";
}

TEST_F(WindowX11Test, MovingOntoAnotherMonitorReportsItOnce) {
    wire();
    const ::Window root = DefaultRootWindow(peer_);
    // The left monitor takes over the server's only output, so its own monitor goes away.
    XRRScreenResources* resources = XRRGetScreenResources(peer_, root);
    ASSERT_NE(resources, nullptr);
    ASSERT_GE(resources->noutput, 1);
    const RROutput output = resources->outputs[0];
    XRRFreeScreenResources(resources);
    auto add_monitor = [&](const char* name, int mx, int mm, bool with_output) {
        XRRMonitorInfo* info = XRRAllocateMonitor(peer_, with_output ? 1 : 0);
        info->name = XInternAtom(peer_, name, False);
        info->x = mx;
        info->y = 0;
        info->width = 512;
        info->height = 768;
        info->mwidth = mm;
        info->mheight = 200;
        if (with_output) {
            info->outputs[0] = output;
        }
        XRRSetMonitor(peer_, root, info);
        XRRFreeMonitors(info);
    };
    add_monitor("LEFT-1", 0, 135, true);
    add_monitor("RIGHT-1", 512, 271, false);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] {
        return !callbacks_.outputs.empty() && callbacks_.outputs.back().name == "LEFT-1";
    })) << "a new monitor list reports the window's monitor";
    EXPECT_EQ(callbacks_.outputs.back().dpi, 96u);  // 512 px over 135 mm
    XMoveWindow(peer_, id_, 600, 100);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] {
        return !callbacks_.outputs.empty() && callbacks_.outputs.back().name == "RIGHT-1";
    })) << "last output: "
        << (callbacks_.outputs.empty() ? "none" : callbacks_.outputs.back().name);
    const OutputEvent right = callbacks_.outputs.back();
    EXPECT_EQ(right.dpi, 47u);  // 512 px over 271 mm
    EXPECT_EQ(window_->output_name, "RIGHT-1");
    EXPECT_EQ(window_->output_index, right.index);
    const std::size_t reports = callbacks_.outputs.size();
    XMoveWindow(peer_, id_, 620, 120);
    XSync(peer_, False);
    settle();
    pump_until([&] { return window_->x == 620; });
    EXPECT_EQ(callbacks_.outputs.size(), reports) << "a move within the monitor reports nothing";

    XRRDeleteMonitor(peer_, root, XInternAtom(peer_, "LEFT-1", False));
    XRRDeleteMonitor(peer_, root, XInternAtom(peer_, "RIGHT-1", False));
    XSync(peer_, False);
}

TEST_F(WindowX11Test, AScreenChangeIsReportedOnce) {
    wire();
    const ::Window root = DefaultRootWindow(peer_);
    XRRSelectInput(peer_, root, RRScreenChangeNotifyMask);
    XRRSetScreenSize(peer_, root, 1024, 768, 542, 203);
    XSync(peer_, False);
    ASSERT_TRUE(pump_until([&] { return !callbacks_.outputs.empty(); }));
    pump_until([] { return false; }, std::chrono::milliseconds(200));
    ASSERT_EQ(callbacks_.outputs.size(), 1u) << "the root window's ConfigureNotify reports again";
    EXPECT_EQ(callbacks_.outputs[0].index, 1u);
}

TEST_F(WindowX11Test, StartupCompleteIsBroadcastInPieces) {
    const ::Window root = DefaultRootWindow(peer_);
    XSelectInput(peer_, root, PropertyChangeMask);
    XSync(peer_, False);
    const std::string id(30, 'q');
    window_->notify_startup_complete(id);
    const Atom begin = XInternAtom(peer_, "_NET_STARTUP_INFO_BEGIN", False);
    const Atom more = XInternAtom(peer_, "_NET_STARTUP_INFO", False);
    std::vector<Atom> types;
    std::string text;
    ASSERT_TRUE(pump_until([&] {
        XEvent event;
        while (XCheckTypedEvent(peer_, ClientMessage, &event)) {
            types.push_back(event.xclient.message_type);
            text.append(event.xclient.data.b, 20);
        }
        return types.size() >= 3;
    }));
    EXPECT_EQ(types, (std::vector<Atom>{begin, more, more}));
    EXPECT_EQ(text.substr(0, 42), "remove: ID=" + id + '\0');
}

TEST_F(WindowX11Test, GlEntryPointsAndKeyNamesResolve) {
    EXPECT_NE(window_->get_gl_proc_address("glCreateShader"), nullptr);
    EXPECT_EQ(window_->get_keysym_from_name("Page_Down"), 0xff56u);
    EXPECT_EQ(window_->get_keysym_from_name("q"), 'q');
    EXPECT_EQ(window_->get_keysym_from_name("nonsense"), 0u);
}

TEST_F(WindowX11Test, OptionsShapeClassDecorationsBlurAndTheme) {
    Settings saved = settings();
    settings().app_id = "myterm";
    settings().app_class = "MyTerm";
    settings().decorations = DECORATIONS_MINIMAL;
    settings().bg_blur = false;
    settings().decoration_theme = DECORATION_THEME_AUTO;
    settings().bg_color = ColorRGBA{0xF0, 0xF0, 0xF0, 0xFF};
    settings().incremental_resize = false;
    settings().title = "second";
    auto second = window_x11_create(200, 100, CELL_W, CELL_H, WindowContextRequest{}, &ui_);
    settings() = saved;
    ASSERT_NE(second, nullptr);
    id_ = static_cast<::Window>(second->get_window_id());
    XSync(peer_, False);
    EXPECT_EQ(string_property("WM_NAME"), "second");
    EXPECT_EQ(string_property("WM_CLASS"), std::string("myterm\0MyTerm\0", 14));
    EXPECT_EQ(long_property("_MOTIF_WM_HINTS"), (std::vector<long>{2, 0, 2, 0, 0}));
    Atom type = None;
    property("_KDE_NET_WM_BLUR_BEHIND_REGION", &type);
    EXPECT_EQ(type, None);
    property("_GTK_THEME_VARIANT", &type);
    EXPECT_EQ(type, None) << "a light background keeps the default theme";
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(peer_, id_, &hints, &supplied));
    EXPECT_FALSE(hints.flags & PResizeInc);
}

TEST(WindowX11NoDisplay, CreateReturnsNullWithoutADisplay) {
    const char* saved = std::getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    setenv("DISPLAY", ":1999", 1);
    UiState ui;
    EXPECT_EQ(window_x11_create(640, 480, CELL_W, CELL_H, WindowContextRequest{}, &ui), nullptr);
    unsetenv("DISPLAY");
    EXPECT_EQ(window_x11_create(640, 480, CELL_W, CELL_H, WindowContextRequest{}, &ui), nullptr);
    if (saved) {
        setenv("DISPLAY", previous.c_str(), 1);
    }
}

TEST(WindowX11Opaque, WithoutThirtyTwoBitVisualsTheWindowIsOpaque) {
    test::XvfbServer server;
    ASSERT_TRUE(server.start({"-extension", "Composite"})) << server.error();
    UiState ui;
    testing::internal::CaptureStderr();
    auto window = window_x11_create(64, 64, CELL_W, CELL_H, WindowContextRequest{}, &ui);
    const std::string output = testing::internal::GetCapturedStderr();
    ASSERT_NE(window, nullptr);
    const std::string warning = "No transparent framebuffer found\n";
    const std::size_t at = output.find(warning);
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_EQ(output.find(warning, at + 1), std::string::npos) << "warned more than once";
    Display* peer = XOpenDisplay(server.display_name().c_str());
    ASSERT_NE(peer, nullptr);
    XWindowAttributes attributes{};
    ASSERT_TRUE(
        XGetWindowAttributes(peer, static_cast<::Window>(window->get_window_id()), &attributes));
    EXPECT_EQ(attributes.depth, 24);
    XCloseDisplay(peer);
    window.reset();
}

// Opens a window on a server of its own, stops the server and goes on dispatching.
[[noreturn]] void dispatch_after_the_server_is_gone() {
    test::XvfbServer server;
    if (!server.start()) {
        std::exit(3);
    }
    UiState ui;
    auto window = window_x11_create(64, 64, CELL_W, CELL_H, WindowContextRequest{}, &ui);
    server.stop();
    for (;;) {
        pollfd fd{window->get_connection_fd(), POLLIN, 0};
        poll(&fd, 1, 100);
        window->events();
    }
}

// A server that goes away ends zelto with an error instead of a hang or a crash.
TEST(WindowX11ServerLoss, LosingTheServerIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(dispatch_after_the_server_is_gone(), testing::ExitedWithCode(1),
                "fatal I/O error in Xlib");
}

}  // namespace
}  // namespace zelto
