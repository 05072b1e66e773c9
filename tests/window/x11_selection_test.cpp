// Clipboard, primary selection and drops on a private Xvfb. The other client is xclip or "the
// peer", a second connection of the test that plays owner, requestor or drag source step by
// step, so each exchange happens in a known order.

// clang-format off
// gtest and zelto's headers come before the X headers, whose macros (None, CursorShape) clash.
#include <gtest/gtest.h>

#include "window/x11/window_x11.hpp"
#include "window/x11/x11_connection.hpp"
#include "window/xvfb_server.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
// clang-format on

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zelto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ClipboardCallbacks : public WindowCallbacks {
  public:
    void key_handler(std::uint32_t, std::uint32_t, std::uint32_t) override {}
    void button_handler(std::uint32_t, bool, std::int32_t, std::int32_t, std::int32_t,
                        std::uint32_t) override {}
    void motion_handler(std::uint32_t, std::int32_t, std::int32_t) override {}
    void on_clipboard_data(std::string_view text) override { pastes.emplace_back(text); }
    void on_activity() override {}
    std::optional<std::vector<DamageRect>> draw(std::uint8_t) override {
        if (during_draw) {
            during_draw();
        }
        return std::nullopt;
    }
    void on_focus_changed(bool) override {}
    void on_selection_lost() override {}
    void on_output_changed(std::uint32_t, const std::string&, std::uint32_t,
                           std::uint16_t) override {}
    void invalidate() override { ++invalidations; }
    void on_decoration_mode_changed(std::uint32_t) override {}

    std::vector<std::string> pastes;
    std::function<void()> during_draw;
    int invalidations = 0;
};

// A shell command running beside the test; killed by its pid if it outlives the test.
class Background {
  public:
    explicit Background(const std::string& command) {
        pid_ = fork();
        if (pid_ == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background() {
        if (!finished()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool finished() {
        if (done_) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            done_ = true;
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return done_;
    }
    int exit_code() const { return exit_code_; }

  private:
    pid_t pid_ = -1;
    bool done_ = false;
    int exit_code_ = -1;
};

// Varied text with line breaks and multi-byte characters, the same for the same size.
std::string sample_text(std::size_t size) {
    static const std::string words[] = {"zelto ", "caf\xC3\xA9 ", "\xE2\x94\x80\xE2\x94\x80 ",
                                        "line\n", "$HOME ",       "tab\t",
                                        "12345 "};
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        text += words[(i * 7 + i / 3) % std::size(words)];
    }
    text.resize(size);
    return text;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool is_type(const XEvent& event, int type, Atom message_type) {
    return event.type == type &&
           (type != ClientMessage || event.xclient.message_type == message_type);
}

class X11SelectionTest : public ::testing::Test {
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
        char pattern[] = "/tmp/zelto-x11-selection-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        peer_ = XOpenDisplay(server_->display_name().c_str());
        ASSERT_NE(peer_, nullptr);
        peer_window_ = XCreateSimpleWindow(peer_, DefaultRootWindow(peer_), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(peer_, peer_window_, PropertyChangeMask);
        window_ = window_x11_create(640, 480, 8, 16, WindowContextRequest{}, &ui_);
        ASSERT_NE(window_, nullptr);
        window_->callbacks = &callbacks_;
        id_ = static_cast<::Window>(window_->get_window_id());
        XSync(peer_, False);
    }

    void TearDown() override {
        window_.reset();
        if (peer_) {
            XDestroyWindow(peer_, peer_window_);
            XCloseDisplay(peer_);
        }
        fs::remove_all(dir_);
    }

    Atom atom(const char* name) { return XInternAtom(peer_, name, False); }

    // Runs the window's loop (events and timers) until `done` holds; false after `limit`.
    bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            pollfd fd{window_->get_connection_fd(), POLLIN, 0};
            poll(&fd, 1, 10);
            window_->events();
            window_->process_timers();
        }
        return true;
    }

    void settle_window() {
        XSync(peer_, False);
        pump_for(std::chrono::milliseconds(50));
    }

    void pump_for(std::chrono::milliseconds time) {
        pump_until([] { return false; }, time);
    }

    // Waits, running the window, for the peer to receive an event of `type`.
    std::optional<XEvent> peer_event(int type, Atom message_type = None,
                                     std::chrono::milliseconds limit = 10s) {
        XEvent found{};
        const bool got = pump_until(
            [&] {
                XSync(peer_, False);
                const int count = XEventsQueued(peer_, QueuedAlready);
                for (int i = 0; i < count; ++i) {
                    XEvent event;
                    XNextEvent(peer_, &event);
                    if (is_type(event, type, message_type)) {
                        found = event;
                        return true;
                    }
                }
                return false;
            },
            limit);
        if (!got) {
            return std::nullopt;
        }
        return found;
    }

    void peer_reply(const XSelectionRequestEvent& request, Atom property) {
        XEvent event{};
        event.xselection.type = SelectionNotify;
        event.xselection.requestor = request.requestor;
        event.xselection.selection = request.selection;
        event.xselection.target = request.target;
        event.xselection.property = property;
        event.xselection.time = request.time;
        XSendEvent(peer_, request.requestor, False, NoEventMask, &event);
        XSync(peer_, False);
    }

    void peer_answer(const XSelectionRequestEvent& request, Atom type, const std::string& text) {
        XChangeProperty(peer_, request.requestor, request.property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
        peer_reply(request, request.property);
    }

    void peer_owns(Atom selection) {
        XSetSelectionOwner(peer_, selection, peer_window_, CurrentTime);
        XSync(peer_, False);
    }

    struct Property {
        Atom type = None;
        int format = 0;
        std::string bytes;
        std::vector<long> items;
    };

    Property peer_property(Atom property, bool remove, ::Window on = None) {
        Property result;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(peer_, on != None ? on : peer_window_, property, 0, 1 << 24,
                           remove ? True : False, AnyPropertyType, &result.type, &result.format,
                           &count, &after, &data);
        if (data && result.format == 8) {
            result.bytes.assign(reinterpret_cast<char*>(data), count);
        } else if (data && result.format == 32) {
            result.items.assign(reinterpret_cast<long*>(data),
                                reinterpret_cast<long*>(data) + count);
        }
        XFree(data);
        XSync(peer_, False);
        return result;
    }

    // Asks zelto for `selection` as the peer and waits for the answer.
    std::optional<XSelectionEvent> peer_request(Atom selection, Atom target, Atom property) {
        XConvertSelection(peer_, selection, target, property, peer_window_, CurrentTime);
        XSync(peer_, False);
        const auto event = peer_event(SelectionNotify);
        if (!event) {
            return std::nullopt;
        }
        return event->xselection;
    }

    // Runs xclip to read a selection; its output, or nullopt when it failed.
    std::optional<std::string> xclip_out(const std::string& args) {
        const fs::path out = dir_ / "out";
        Background xclip("exec xclip -o " + args + " > " + out.string() + " 2>/dev/null");
        if (!pump_until([&] { return xclip.finished(); }, 20s) || xclip.exit_code() != 0) {
            return std::nullopt;
        }
        return slurp(out);
    }

    // xclip takes `selection` with `text` and serves one request (it stays in the background).
    void xclip_in(const std::string& selection, const std::string& text) {
        const fs::path in = dir_ / "in";
        std::ofstream(in, std::ios::binary) << text;
        const std::string command =
            "xclip -i -l 1 -selection " + selection + " " + in.string() + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const Atom atom_ = atom(selection == "primary" ? "PRIMARY" : "CLIPBOARD");
        ASSERT_TRUE(pump_until([&] {
            const ::Window owner = XGetSelectionOwner(peer_, atom_);
            return owner != None && owner != id_;
        }));
    }

    static inline test::XvfbServer* server_ = nullptr;
    fs::path dir_;
    Display* peer_ = nullptr;
    ::Window peer_window_ = 0;
    UiState ui_;
    ClipboardCallbacks callbacks_;
    std::unique_ptr<Window> window_;
    ::Window id_ = 0;
};

TEST_F(X11SelectionTest, CopiedTextIsReadByXclip) {
    window_->clipboard_send("caf\xC3\xA9 $HOME\nsecond line");
    EXPECT_EQ(xclip_out("-selection clipboard"), "caf\xC3\xA9 $HOME\nsecond line");
    EXPECT_EQ(XGetSelectionOwner(peer_, atom("CLIPBOARD")), id_);
}

TEST_F(X11SelectionTest, TargetsListExactlyFourTextTypes) {
    window_->clipboard_send("x");
    EXPECT_EQ(xclip_out("-selection clipboard -t TARGETS"),
              "UTF8_STRING\ntext/plain;charset=utf-8\ntext/plain\nSTRING\n");
    const auto reply = peer_request(atom("CLIPBOARD"), atom("TARGETS"), atom("T"));
    ASSERT_TRUE(reply);
    const Property list = peer_property(atom("T"), true);
    EXPECT_EQ(list.type, XA_ATOM);
    EXPECT_EQ(list.format, 32);
    EXPECT_EQ(list.items.size(), 4u);
}

TEST_F(X11SelectionTest, EveryTextTypeIsServedAndOthersRefused) {
    window_->clipboard_send("typed");
    for (const char* target : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING"}) {
        EXPECT_EQ(xclip_out(std::string("-selection clipboard -t '") + target + "'"), "typed")
            << target;
    }
    const auto refused = peer_request(atom("CLIPBOARD"), atom("image/png"), atom("P"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->property, static_cast<Atom>(None));
    const auto unowned = peer_request(XA_PRIMARY, atom("UTF8_STRING"), atom("P"));
    if (unowned) {
        EXPECT_EQ(unowned->property, static_cast<Atom>(None));
    }
}

TEST_F(X11SelectionTest, TextSetByXclipIsPasted) {
    xclip_in("clipboard", "echo pasted\n\xE2\x94\x80");
    window_->clipboard_get();
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"echo pasted\n\xE2\x94\x80"});
}

TEST_F(X11SelectionTest, LargeTextsGoBothWaysIncrementally) {
    for (const std::size_t size : {std::size_t{1} << 20, std::size_t{4} << 20}) {
        const std::string text = sample_text(size);
        window_->clipboard_send(text);
        const auto copied = xclip_out("-selection clipboard");
        ASSERT_TRUE(copied) << size;
        EXPECT_EQ(copied->size(), size);
        EXPECT_TRUE(*copied == text) << "bytes differ at size " << size;

        const std::string other = sample_text(size + 7).substr(7);
        xclip_in("clipboard", other);
        callbacks_.pastes.clear();
        window_->clipboard_get();
        ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }, 20s)) << size;
        ASSERT_EQ(callbacks_.pastes.size(), 1u);
        EXPECT_EQ(callbacks_.pastes[0].size(), size);
        EXPECT_TRUE(callbacks_.pastes[0] == other) << "bytes differ at size " << size;
    }
}

TEST_F(X11SelectionTest, PrimaryGoesBothWays) {
    window_->primary_send("selected words");
    window_->primary_send("");  // nothing to offer: the selection stays
    EXPECT_EQ(xclip_out("-selection primary"), "selected words");
    xclip_in("primary", "from xclip");
    window_->primary_get();
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"from xclip"});
}

TEST_F(X11SelectionTest, PastingOwnTextNeedsNoOtherClient) {
    window_->clipboard_send("mine");
    window_->clipboard_get();
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"mine"}) << "delivered at once";
    window_->primary_get();
    EXPECT_EQ(callbacks_.pastes.size(), 1u) << "nobody owns PRIMARY: nothing happens";
}

TEST_F(X11SelectionTest, LosingTheSelectionForgetsTheText) {
    window_->clipboard_send("old");
    peer_owns(atom("CLIPBOARD"));
    window_->clipboard_get();  // before the window has read its SelectionClear
    EXPECT_TRUE(callbacks_.pastes.empty()) << "the old text is not pasted";
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request) << "the new owner is asked";
    peer_answer(request->xselectionrequest, atom("UTF8_STRING"), "new");
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"new"});
    window_->clipboard_get();
    EXPECT_EQ(callbacks_.pastes.size(), 1u) << "nor later, once the loss was read";
}

TEST_F(X11SelectionTest, ARefusedConversionDeliversNothing) {
    peer_owns(atom("CLIPBOARD"));
    window_->clipboard_get();
    auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->xselectionrequest.target, atom("UTF8_STRING"));
    EXPECT_EQ(request->xselectionrequest.property, atom("CLIPBOARD"));
    peer_reply(request->xselectionrequest, None);
    ASSERT_TRUE(pump_until([&] { return !window_->process_timers(); })) << "the paste is over";
    EXPECT_TRUE(callbacks_.pastes.empty());

    // The next paste is not held up by the refused one.
    window_->clipboard_get();
    request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    peer_answer(request->xselectionrequest, atom("UTF8_STRING"), "after");
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"after"});
}

TEST_F(X11SelectionTest, PastingAgainWhileAnAnswerIsComingAsksOnce) {
    peer_owns(atom("CLIPBOARD"));
    window_->clipboard_get();
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    window_->clipboard_get();
    window_->primary_get();  // nobody owns PRIMARY: nothing to ask
    EXPECT_FALSE(peer_event(SelectionRequest, None, std::chrono::milliseconds(300)));
    peer_answer(request->xselectionrequest, atom("UTF8_STRING"), "once");
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    pump_for(std::chrono::milliseconds(100));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"once"});
}

TEST_F(X11SelectionTest, DataNotInEightBitFormatIsIgnored) {
    peer_owns(atom("CLIPBOARD"));
    window_->clipboard_get();
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    long words[2] = {0x41414141, 0x42424242};
    XChangeProperty(peer_, id_, request->xselectionrequest.property, atom("UTF8_STRING"), 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(words), 2);
    testing::internal::CaptureStderr();
    peer_reply(request->xselectionrequest, request->xselectionrequest.property);
    pump_until([&] { return !window_->process_timers(); });
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(callbacks_.pastes.empty());
    EXPECT_NE(output.find("format 32"), std::string::npos) << output;
}

TEST_F(X11SelectionTest, AnAnswerNobodyAskedForIsNeverTyped) {
    const std::string command = "rm -rf ~\n";
    XChangeProperty(peer_, id_, atom("CLIPBOARD"), atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(command.data()),
                    static_cast<int>(command.size()));
    XEvent event{};
    event.xselection.type = SelectionNotify;
    event.xselection.requestor = id_;
    event.xselection.selection = atom("CLIPBOARD");
    event.xselection.target = atom("UTF8_STRING");
    event.xselection.property = atom("CLIPBOARD");
    XSendEvent(peer_, id_, False, NoEventMask, &event);
    XSync(peer_, False);
    pump_for(200ms);
    EXPECT_TRUE(callbacks_.pastes.empty());
}

TEST_F(X11SelectionTest, AnOwnerThatNeverAnswersIsGivenUpAfterTwoSeconds) {
    peer_owns(atom("CLIPBOARD"));
    const MonoTime before = mono_now();
    window_->clipboard_get();
    const MonoTime after = mono_now();
    const std::optional<MonoTime> deadline = window_->process_timers();
    ASSERT_TRUE(deadline) << "the loop is told when to look again";
    EXPECT_GE(mono_diff_ms(*deadline, before), 2000);
    EXPECT_LE(mono_diff_ms(*deadline, after), 2000);
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(pump_until([&] { return !window_->process_timers(); }, 4s));
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("Cooperating client (xid: " + std::to_string(peer_window_) +
                          ") failed to communicate"),
              std::string::npos)
        << output;
    peer_answer(request->xselectionrequest, atom("UTF8_STRING"), "too late");
    pump_for(200ms);
    EXPECT_TRUE(callbacks_.pastes.empty());
}

TEST_F(X11SelectionTest, IncrementalPasteFromAPeerArrivesWhole) {
    peer_owns(atom("CLIPBOARD"));
    window_->clipboard_get();
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    const XSelectionRequestEvent& r = request->xselectionrequest;
    XSelectInput(peer_, r.requestor, PropertyChangeMask);
    long length = 12;
    XChangeProperty(peer_, r.requestor, r.property, atom("INCR"), 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&length), 1);
    peer_reply(r, r.property);
    for (const std::string piece : {"first ", "second", ""}) {
        // Each piece waits for the window to take the previous one.
        while (true) {
            const auto deleted = peer_event(PropertyNotify);
            ASSERT_TRUE(deleted);
            if (deleted->xproperty.state == PropertyDelete) break;
        }
        XChangeProperty(peer_, r.requestor, r.property, atom("UTF8_STRING"), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(piece.data()),
                        static_cast<int>(piece.size()));
        XSync(peer_, False);
    }
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"first second"});
    XSelectInput(peer_, r.requestor, NoEventMask);
    XSync(peer_, False);
}

// The peer plays a requestor that takes two pieces and then stops reading.
TEST_F(X11SelectionTest, ARequestorThatStopsReadingHoldsNothingUp) {
    const std::string text = sample_text(std::size_t{4} << 20);
    window_->clipboard_send(text);
    const auto reply = peer_request(atom("CLIPBOARD"), atom("UTF8_STRING"), atom("STALL"));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->property, atom("STALL"));
    Property start = peer_property(atom("STALL"), false);
    EXPECT_EQ(start.type, atom("INCR"));
    EXPECT_EQ(start.format, 32);
    EXPECT_EQ(start.items, std::vector<long>{static_cast<long>(text.size())})
        << "the length as one 32-bit item";
    std::string received;
    const std::size_t chunk = 262143;  // a quarter of Xvfb's request size, in bytes
    peer_property(atom("STALL"), true);
    auto last_taken = std::chrono::steady_clock::now();
    for (int piece = 0; piece < 2; ++piece) {
        ASSERT_TRUE(pump_until([&] {
            XSync(peer_, False);
            return peer_property(atom("STALL"), false).type != None;
        }));
        last_taken = std::chrono::steady_clock::now();
        const Property next = peer_property(atom("STALL"), true);
        EXPECT_EQ(next.type, atom("UTF8_STRING"));
        EXPECT_EQ(next.bytes.size(), chunk);
        received += next.bytes;
    }
    EXPECT_TRUE(received == text.substr(0, received.size()));

    // Now it reads no more. A second large request meanwhile is refused, with the warning.
    testing::internal::CaptureStderr();
    const auto second = peer_request(atom("CLIPBOARD"), atom("UTF8_STRING"), atom("SECOND"));
    const std::string output = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(second);
    // Only a loaded machine takes that long; the transfer is then stale, and replaced.
    if (std::chrono::steady_clock::now() - last_taken < 450ms) {
        EXPECT_EQ(second->property, static_cast<Atom>(None));
        EXPECT_NE(output.find("Previous INCR transfer in progress, refusing selection request"),
                  std::string::npos)
            << output;
    }

    // The window goes on with everything else: a small selection is served at once...
    window_->primary_send("small");
    EXPECT_EQ(xclip_out("-selection primary"), "small");
    // ...and once the stalled transfer is idle for half a second, a new reader gets it all.
    pump_for(600ms);
    const auto copied = xclip_out("-selection clipboard");
    ASSERT_TRUE(copied);
    EXPECT_TRUE(*copied == text);
}

TEST_F(X11SelectionTest, ARequestorItAlreadyWatchesStaysWatched) {
    const std::string text = sample_text(std::size_t{1} << 20);
    window_->clipboard_send(text);
    const ::Window root = DefaultRootWindow(peer_);
    const Atom property = atom("ROOT_PASTE");
    XConvertSelection(peer_, atom("CLIPBOARD"), atom("UTF8_STRING"), property, root, CurrentTime);
    XSync(peer_, False);
    // The answer itself goes to the root window's creator, which is nobody.
    ASSERT_TRUE(
        pump_until([&] { return peer_property(property, false, root).type == atom("INCR"); }));
    peer_property(property, true, root);
    std::string received;
    for (;;) {
        ASSERT_TRUE(pump_until([&] { return peer_property(property, false, root).type != None; }));
        const Property piece = peer_property(property, true, root);
        if (piece.bytes.empty()) break;
        received += piece.bytes;
    }
    EXPECT_TRUE(received == text);
    settle_window();
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(peer_, root, &attributes));
    EXPECT_TRUE(attributes.all_event_masks & StructureNotifyMask)
        << "the window still follows the screen's configuration";
}

TEST_F(X11SelectionTest, ASlowRequestorStillGetsEveryByte) {
    const std::string text = sample_text(std::size_t{1} << 20);
    window_->clipboard_send(text);
    const auto reply = peer_request(atom("CLIPBOARD"), atom("UTF8_STRING"), atom("SLOW"));
    ASSERT_TRUE(reply);
    ASSERT_EQ(peer_property(atom("SLOW"), true).type, atom("INCR"));
    std::string received;
    for (int piece = 0;; ++piece) {
        ASSERT_TRUE(pump_until([&] { return peer_property(atom("SLOW"), false).type != None; }));
        if (piece == 1) {
            pump_for(700ms);  // idle past the point where a new request could replace it
        }
        const Property next = peer_property(atom("SLOW"), true);
        if (next.bytes.empty()) break;
        received += next.bytes;
    }
    EXPECT_EQ(received.size(), text.size());
    EXPECT_TRUE(received == text);
}

// Draws that wait on the server make Xlib queue the events that arrive meanwhile; they are
// handled before the loop sleeps on the connection again.
TEST_F(X11SelectionTest, EventsQueuedWhilePresentingAreHandled) {
    const auto* connection = static_cast<const X11Connection*>(window_->get_backend_state());
    ASSERT_TRUE(pump_until([&] {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(peer_, id_, &attributes) && attributes.map_state == IsViewable;
    }));
    window_->swap_if_needed(true);
    const int before = callbacks_.invalidations;
    callbacks_.during_draw = [&] {
        XClearArea(peer_, id_, 0, 0, 10, 10, True);
        XSync(peer_, False);
        XSync(connection->display, False);  // reads the Expose into Xlib's queue
    };
    window_->paint = true;
    ASSERT_TRUE(window_->swap_if_needed(true));
    callbacks_.during_draw = nullptr;
    EXPECT_GT(callbacks_.invalidations, before);
    EXPECT_TRUE(window_->paint) << "the Expose asks for the next frame";
    EXPECT_EQ(XEventsQueued(connection->display, QueuedAlready), 0);
}

// --- Drag and drop, the peer being the drag source ---

class X11DropTest : public X11SelectionTest {
  protected:
    void send_to_window(const char* type, long l0, long l1, long l2, long l3, long l4) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = id_;
        event.xclient.message_type = atom(type);
        event.xclient.format = 32;
        event.xclient.data.l[0] = l0;
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = l3;
        event.xclient.data.l[4] = l4;
        XSendEvent(peer_, id_, False, NoEventMask, &event);
        XSync(peer_, False);
    }

    long source() const { return static_cast<long>(peer_window_); }

    void enter(std::vector<Atom> types, bool list_in_property = false) {
        long more = 0;
        if (list_in_property) {
            more = 1;
        } else {
            types.resize(3, None);
        }
        send_to_window("XdndEnter", source(), (5L << 24) | more,
                       list_in_property ? 0 : static_cast<long>(types[0]),
                       list_in_property ? 0 : static_cast<long>(types[1]),
                       list_in_property ? 0 : static_cast<long>(types[2]));
    }

    std::optional<XClientMessageEvent> position(const char* action = "XdndActionCopy") {
        send_to_window("XdndPosition", source(), 0, (20L << 16) | 30, CurrentTime,
                       static_cast<long>(atom(action)));
        const auto status = peer_event(ClientMessage, atom("XdndStatus"));
        if (!status) {
            return std::nullopt;
        }
        return status->xclient;
    }

    std::optional<XClientMessageEvent> finished() {
        const auto message = peer_event(ClientMessage, atom("XdndFinished"));
        if (!message) {
            return std::nullopt;
        }
        return message->xclient;
    }
};

TEST_F(X11DropTest, TheWindowAnnouncesXdndVersionFive) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(peer_, id_, atom("XdndAware"), 0, 1, False, AnyPropertyType, &type,
                                 &format, &count, &after, &data),
              Success);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(type, XA_ATOM);
    EXPECT_EQ(*reinterpret_cast<long*>(data), 5);
    XFree(data);
}

TEST_F(X11DropTest, DroppedFilesArePastedAsPaths) {
    peer_owns(atom("XdndSelection"));
    enter({atom("UTF8_STRING"), atom("text/uri-list"), atom("image/png")});
    const auto status = position("XdndActionMove");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[0], static_cast<long>(id_));
    EXPECT_EQ(status->data.l[1] & 1, 1) << "accepted";
    EXPECT_EQ(status->data.l[4], static_cast<long>(atom("XdndActionCopy")))
        << "never a move: the source would delete its files";
    EXPECT_EQ(status->data.l[3], (640L << 16) | 480);

    send_to_window("XdndDrop", source(), 0, CurrentTime, 0, 0);
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->xselectionrequest.selection, atom("XdndSelection"));
    EXPECT_EQ(request->xselectionrequest.target, atom("text/uri-list")) << "the best type";
    peer_answer(request->xselectionrequest, atom("text/uri-list"),
                "file:///a/b.txt\r\nfile:///tmp/two%20words\r\n");
    const auto done = finished();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->data.l[0], static_cast<long>(id_));
    EXPECT_EQ(done->data.l[1] & 1, 1);
    EXPECT_EQ(done->data.l[2], static_cast<long>(atom("XdndActionCopy")));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"/a/b.txt /tmp/two%20words"});
}

TEST_F(X11DropTest, TypesBeyondThreeComeFromTheSourcesList) {
    peer_owns(atom("XdndSelection"));
    std::vector<Atom> types = {atom("image/png"), atom("text/html"), atom("application/x-a"),
                               atom("text/plain"), atom("text/plain;charset=utf-8")};
    XChangeProperty(peer_, peer_window_, atom("XdndTypeList"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(types.data()), static_cast<int>(types.size()));
    enter({}, true);
    const auto status = position();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[1] & 1, 1);
    send_to_window("XdndDrop", source(), 0, CurrentTime, 0, 0);
    const auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->xselectionrequest.target, atom("text/plain;charset=utf-8"));
    peer_answer(request->xselectionrequest, atom("text/plain;charset=utf-8"), "dropped text");
    ASSERT_TRUE(finished());
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"dropped text"});
}

TEST_F(X11DropTest, ATypeListOfTheWrongTypeOffersNothing) {
    std::vector<long> fake = {static_cast<long>(atom("text/uri-list"))};
    XChangeProperty(peer_, peer_window_, atom("XdndTypeList"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(fake.data()), 1);
    enter({}, true);
    const auto status = position();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[1] & 1, 0) << "nothing offered can be taken";
    EXPECT_EQ(status->data.l[4], static_cast<long>(None));
    send_to_window("XdndDrop", source(), 0, CurrentTime, 0, 0);
    const auto done = finished();
    ASSERT_TRUE(done) << "the source is told at once";
    EXPECT_EQ(done->data.l[1] & 1, 0);
    EXPECT_TRUE(callbacks_.pastes.empty());
}

TEST_F(X11DropTest, OnlyPicturesOfferedIsNeverAccepted) {
    enter({atom("image/png"), atom("image/jpeg")});
    const auto status = position();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[1] & 1, 0);
}

TEST_F(X11DropTest, ARefusedDropFinishesUnacceptedAndTheNextDragWorks) {
    peer_owns(atom("XdndSelection"));
    enter({atom("text/uri-list")});
    ASSERT_TRUE(position());
    send_to_window("XdndDrop", source(), 0, CurrentTime, 0, 0);
    auto request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    peer_reply(request->xselectionrequest, None);
    auto done = finished();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->data.l[1] & 1, 0) << "not accepted";
    EXPECT_EQ(done->data.l[2], static_cast<long>(None));
    EXPECT_TRUE(callbacks_.pastes.empty());

    // A position without a new enter is not accepted: the drag state was reset.
    auto status = position();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[1] & 1, 0);

    enter({atom("text/uri-list")});
    status = position();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[1] & 1, 1);
    send_to_window("XdndDrop", source(), 0, CurrentTime, 0, 0);
    request = peer_event(SelectionRequest);
    ASSERT_TRUE(request);
    peer_answer(request->xselectionrequest, atom("text/uri-list"), "file:///a/b.txt");
    ASSERT_TRUE(finished());
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"/a/b.txt"});
}

TEST_F(X11DropTest, ADropWhileAPasteIsComingIsRefusedAtOnce) {
    peer_owns(atom("CLIPBOARD"));
    peer_owns(atom("XdndSelection"));
    window_->clipboard_get();
    const auto paste = peer_event(SelectionRequest);
    ASSERT_TRUE(paste);
    enter({atom("text/uri-list")});
    ASSERT_TRUE(position());
    send_to_window("XdndDrop", source(), 0, CurrentTime, 0, 0);
    const auto done = finished();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->data.l[1] & 1, 0);
    peer_answer(paste->xselectionrequest, atom("UTF8_STRING"), "the paste");
    ASSERT_TRUE(pump_until([&] { return !callbacks_.pastes.empty(); }));
    EXPECT_EQ(callbacks_.pastes, std::vector<std::string>{"the paste"});
}

TEST_F(X11DropTest, LeavingForgetsTheDrag) {
    enter({atom("text/uri-list")});
    send_to_window("XdndLeave", source(), 0, 0, 0, 0);
    const auto status = position();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->data.l[1] & 1, 0);
}

}  // namespace
}  // namespace zelto
