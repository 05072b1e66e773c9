#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_links.hpp"
#include "app/quiet_app.hpp"
#include "app/spawn_process.hpp"

namespace zelto {
namespace {

using testing::FakeWindow;

constexpr std::int32_t CW = testing::FAKE_CELL_WIDTH;
constexpr std::int32_t CH = testing::FAKE_CELL_HEIGHT;
constexpr std::uint32_t LEFT = 1;

MonoTime fake_now{1000, 0};
MonoTime fake_clock() {
    return fake_now;
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits up to 20 s: spawned programs start slowly on a loaded machine.
bool wait_for_file(const std::string& path) {
    for (int i = 0; i < 2000; ++i) {
        if (exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The processes whose parent is this one, zombies included.
std::vector<pid_t> own_children() {
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    if (!proc) return children;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        const std::string stat = read_file("/proc/" + std::string(entry->d_name) + "/stat");
        // pid (comm) state ppid ...: comm may hold blanks and parentheses, so read after the last ')'.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == getpid()) children.push_back(pid);
    }
    closedir(proc);
    return children;
}

// A directory with a URI handler that writes its argument count and arguments, one per line in
// brackets, to "argv" beside itself (renamed into place, so a present file is complete).
class HandlerDir {
  public:
    HandlerDir() {
        char templ[] = "/tmp/zelto_links_XXXXXX";
        dir_ = mkdtemp(templ);
        handler = dir_ + "/handler";
        argv_file = dir_ + "/argv";
        std::ofstream(handler) << "#!/bin/sh\n"
                                  "out=\"$(dirname \"$0\")/argv\"\n"
                                  "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > "
                                  "\"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n";
        chmod(handler.c_str(), 0755);
    }
    ~HandlerDir() { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string handler;
    std::string argv_file;

  private:
    std::string dir_;
};

// An App with a 40x5 grid of 8x16 cells whose URI handler records its arguments.
class Links : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::use_quiet_child(40, 5);
        settings().uri_handler = handler_.handler;
        app_.emplace(testing::fake_backends());
        app_->set_clock(fake_clock);
        app_->start();
    }
    void TearDown() override { app_->shutdown(); }

    FakeWindow& window() { return dynamic_cast<FakeWindow&>(app_->window()); }
    Vt& vt() { return app_->vt(); }
    const UiState& ui() { return app_->ui(); }

    static std::int32_t px(int col) { return col * CW + CW / 2; }
    static std::int32_t py(int row) { return row * CH + CH / 2; }

    // The text of the link in a cell of the visible grid, or "<none>".
    std::string link_at(int col, int row) {
        const VtLine& line = vt().lines()[vt().visible_top() + row];
        const std::size_t c = static_cast<std::size_t>(col);
        if (c >= line.cells.size() || line.cells[c].link == 0 || !line.links) return "<none>";
        return (*line.links)[line.cells[c].link - 1u];
    }
    // Links every written cell of a visible row to `uri`, as a link announced by the child does.
    void announce_link(int row, const std::string& uri) {
        VtLine& line = vt().lines()[vt().visible_top() + row];
        const std::uint16_t link = add_cell_link(line, uri);
        for (VtCell& cell : line.cells) {
            if (cell.code != 0) cell.link = link;
        }
    }
    void hover(int col, int row) { app_->motion_handler(0, px(col), py(row)); }
    // Each click comes long after the one before: no double clicks.
    void click(int col, int row, std::uint32_t mods) {
        fake_now = mono_add_ms(fake_now, 1000);
        app_->button_handler(LEFT, true, px(col), py(row), 0, mods);
        app_->button_handler(LEFT, false, px(col), py(row), 0, mods);
    }
    // The handler's record of one run, or "<not run>" after the wait.
    std::string handler_record() {
        if (!wait_for_file(handler_.argv_file)) return "<not run>";
        const std::string record = read_file(handler_.argv_file);
        unlink(handler_.argv_file.c_str());
        return record;
    }
    // Nothing must start: the App had its chance, and a wrongly started handler would be done
    // by now on any machine.
    bool handler_stays_idle() {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return !exists(handler_.argv_file);
    }

    HandlerDir handler_;
    std::optional<App> app_;
};

TEST_F(Links, HoveringAPrintedUrlShowsTheHandAndUnderlinesExactlyIt) {
    vt().interpret("see https://example.org/x1 now");
    hover(10, 0);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_HAND);
    ASSERT_TRUE(ui().link_hovered);
    const std::size_t top = vt().visible_top();
    EXPECT_EQ(ui().hovered_link_first_line, top);
    EXPECT_EQ(ui().hovered_link_last_line, top);
    EXPECT_EQ(ui().hovered_link_first_column, 4);
    EXPECT_EQ(ui().hovered_link_last_column, 25);
    EXPECT_TRUE(window().paint);

    hover(27, 0);  // "now"
    EXPECT_FALSE(ui().link_hovered);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_ARROW);
    hover(4, 0);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_HAND);
    hover(3, 0);  // the blank before it
    EXPECT_FALSE(ui().link_hovered);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_ARROW);
}

TEST_F(Links, AWrappedLinkIsUnderlinedOnBothLines) {
    vt().interpret("0123456789012345678901234567890123 http://a.b/cdefgh end");
    hover(2, 1);
    ASSERT_TRUE(ui().link_hovered);
    const std::size_t top = vt().visible_top();
    EXPECT_EQ(ui().hovered_link_first_line, top);
    EXPECT_EQ(ui().hovered_link_first_column, 35);
    EXPECT_EQ(ui().hovered_link_last_line, top + 1);
    EXPECT_EQ(ui().hovered_link_last_column, 11);
}

TEST_F(Links, TextPrintedUnderTheRestingPointerChangesItsShape) {
    window().pointer_x = px(3);
    window().pointer_y = py(0);
    vt().interpret("www.example.com\r\n");
    app_->on_activity();  // what every read from the child does
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_HAND);
    vt().interpret("\x1b[H\x1b[2J");
    app_->loop_pass();
    EXPECT_FALSE(ui().link_hovered);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_ARROW);
}

TEST_F(Links, CtrlClickRunsTheHandlerWithTheUriAsItsOneArgument) {
    vt().interpret("go to https://example.org/a?b=1&c=2 please");
    click(8, 0, 0);
    EXPECT_TRUE(handler_stays_idle()) << "a plain click only selects";
    click(8, 0, MODIFIER_CTRL);
    EXPECT_EQ(handler_record(), "1\n[https://example.org/a?b=1&c=2]\n");
    click(1, 0, MODIFIER_CTRL);
    EXPECT_TRUE(handler_stays_idle()) << "no link under the pointer";
}

TEST_F(Links, ACtrlDragSelectsARectangleAndOpensNothing) {
    vt().interpret("https://example.org/abc\r\nhttps://example.org/def");
    app_->button_handler(LEFT, true, px(2), py(0), 0, MODIFIER_CTRL);
    app_->motion_handler(LEFT, px(6), py(1));
    app_->button_handler(LEFT, false, px(6), py(1), 0, MODIFIER_CTRL);
    EXPECT_TRUE(vt().selection().active());
    EXPECT_TRUE(handler_stays_idle());
}

TEST_F(Links, ShellSyntaxInALinkReachesTheHandlerAsTextAndRunsNothing) {
    const std::string victim = handler_.path("pwned");
    const std::string substitution = "http://x/$(touch$IFS" + victim + ")";
    const std::string list = "http://x/;touch$IFS" + victim + "&";
    vt().interpret(substitution + "\r\n" + list + " ");
    ASSERT_EQ(link_at(2, 0), substitution);
    ASSERT_EQ(link_at(2, 2), list);
    click(2, 1, MODIFIER_CTRL);  // on the wrapped part
    EXPECT_EQ(handler_record(), "1\n[" + substitution + "]\n");
    click(2, 2, MODIFIER_CTRL);
    EXPECT_EQ(handler_record(), "1\n[" + list + "]\n");
    EXPECT_FALSE(exists(victim));
}

TEST_F(Links, WithMouseReportingCtrlClickGoesToTheChildAndShiftOverridesIt) {
    vt().interpret("https://example.org/r\x1b[?1000h\x1b[?1006h");
    hover(3, 0);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_HAND) << "hovering stays local";
    click(3, 0, MODIFIER_CTRL);
    EXPECT_NE(vt().pending_output(100), "");
    EXPECT_TRUE(handler_stays_idle());
    vt().consume_output(100);
    click(3, 0, MODIFIER_CTRL | MODIFIER_SHIFT);
    EXPECT_EQ(vt().pending_output(100), "");
    EXPECT_EQ(handler_record(), "1\n[https://example.org/r]\n");
}

// Links the child announces itself carry any text: cells marked like that are refused when the
// text holds controls or could pass for an option of the handler.
TEST_F(Links, AnAnnouncedLinkWithControlsOrNoSchemeIsRefusedWithAWarning) {
    vt().interpret("first\r\nsecond\r\nthird");
    announce_link(0, "http://x/\x1b]2;pwned\x07");
    announce_link(1, "--help");
    announce_link(2, "https://example.org/ok");
    hover(2, 0);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_HAND);
    ::testing::internal::CaptureStderr();
    click(2, 0, MODIFIER_CTRL);
    click(2, 1, MODIFIER_CTRL);
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("not opening link 'http://x/\\x1b]2;pwned\\x07': it contains control "
                            "characters\n"),
              std::string::npos)
        << warnings;
    EXPECT_NE(warnings.find("not opening link '--help': it does not start with a known scheme\n"),
              std::string::npos)
        << warnings;
    EXPECT_TRUE(handler_stays_idle());
    click(2, 2, MODIFIER_CTRL);
    EXPECT_EQ(handler_record(), "1\n[https://example.org/ok]\n");
}

TEST_F(Links, ControlReturnInKeyboardSelectModeOpensTheLinkUnderItsCursor) {
    vt().interpret("https://example.org/k ");
    app_->key_handler(11, 'k', MODIFIER_CTRL | MODIFIER_SHIFT);
    ASSERT_TRUE(app_->keyboard_select().active());
    app_->key_handler('0', 0, 0);  // to the start of the line, where the link is
    app_->key_handler('\r', 0xff0d, MODIFIER_CTRL);
    EXPECT_EQ(handler_record(), "1\n[https://example.org/k]\n");
}

TEST_F(Links, NoZombieIsLeftAfterTheHandlerOrAMissingHandler) {
    const auto before = own_children();  // the shell, and those of earlier tests
    vt().interpret("https://example.org/z ");
    click(3, 0, MODIFIER_CTRL);
    EXPECT_EQ(handler_record(), "1\n[https://example.org/z]\n");
    settings().uri_handler = handler_.path("no-such-handler");
    click(3, 0, MODIFIER_CTRL);
    EXPECT_EQ(own_children(), before);
}

TEST(UriRefusal, OnlyLinksWithoutControlsAndWithAKnownSchemeOpen) {
    EXPECT_EQ(uri_refusal("https://example.org/"), nullptr);
    EXPECT_EQ(uri_refusal("HTTP://example.org/"), nullptr);
    EXPECT_EQ(uri_refusal("mailto:someone@example.org"), nullptr);
    EXPECT_EQ(uri_refusal("www.example.org"), nullptr);
    EXPECT_EQ(uri_refusal("http://x/a b $(id) `id` ;|&"), nullptr) << "text, never a shell's";
    EXPECT_NE(uri_refusal(""), nullptr);
    EXPECT_NE(uri_refusal("--help"), nullptr) << "would be an option to the handler";
    EXPECT_NE(uri_refusal("-e http://x.y/"), nullptr);
    EXPECT_NE(uri_refusal("javascript:alert(1)"), nullptr);
    EXPECT_NE(uri_refusal("/etc/passwd"), nullptr);
    EXPECT_NE(uri_refusal("www."), nullptr);
    EXPECT_NE(uri_refusal("http://x/\n--help"), nullptr);
    EXPECT_NE(uri_refusal("http://x/\x1b]0;t\x07"), nullptr);
    EXPECT_NE(uri_refusal("http://x/\xc2\x9b" "31m"), nullptr) << "C1 CSI in UTF-8";
    EXPECT_EQ(uri_refusal("http://x/\xc3\xa9"), nullptr) << "other UTF-8 is fine";
    EXPECT_EQ(printable_uri("a\x1b[1m\\\xc3\xa9", 200), "a\\x1b[1m\\x5c\\xc3\\xa9");
    EXPECT_EQ(printable_uri("abcdef", 3), "abc...");
}

TEST(SpawnProcess, APipeFeedsTheProgramAndTheWorkingDirectoryIsItsOwn) {
    HandlerDir dir;
    const auto before = own_children();
    const std::string out = dir.path("out");
    const std::string script = "cat > '" + out + ".tmp'; pwd >> '" + out + ".tmp'; mv '" + out +
                               ".tmp' '" + out + "'";
    UniqueFd input = spawn_process({dir.path("").c_str(), "/bin/sh", {"sh", "-c", script}, true, true});
    ASSERT_TRUE(input);
    ASSERT_EQ(write(input.get(), "piped\n", 6), 6);
    input.reset();
    ASSERT_TRUE(wait_for_file(out));
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.path("").c_str(), real), nullptr);
    EXPECT_EQ(read_file(out), "piped\n" + std::string(real) + "\n");
    EXPECT_EQ(own_children(), before);
}

}  // namespace
}  // namespace zelto
