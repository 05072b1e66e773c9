// The settings fixture first: it means ::testing where zelto::testing (the fake window) is not
// declared yet.
#include "config/settings_fixture.hpp"
// clang-format off
#include "app/key_commands.hpp"
// clang-format on

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/quiet_app.hpp"
#include "config/settings.hpp"

namespace zelto {
namespace {

using testing::FakeWindow;

constexpr std::uint32_t CS = MODIFIER_CTRL | MODIFIER_SHIFT;
constexpr std::uint32_t XK_c = 'c', XK_equal = '=', XK_minus = '-';

std::unique_ptr<Window> make_window(std::uint32_t w, std::uint32_t h, std::uint32_t, std::uint32_t,
                                    WindowContextRequest, UiState*) {
    auto window = std::make_unique<FakeWindow>(w, h);
    window->key_names = {{"F10", KEY_SYM_F10}, {"y", 'y'}};
    return window;
}

// An App with a 20x5 grid whose child stays quiet; the tests write the screen themselves.
class KeyCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::use_quiet_child(20, 5);
    }
    void start() {
        app_.emplace(testing::fake_backends(make_window));
        app_->start();
    }
    void TearDown() override {
        if (app_) app_->shutdown();
    }

    FakeWindow& window() { return dynamic_cast<FakeWindow&>(app_->window()); }
    Vt& vt() { return app_->vt(); }
    void key(std::uint32_t key, std::uint32_t raw, std::uint32_t mods) {
        app_->key_handler(key, raw, mods);
    }
    std::string to_child() { return std::string(vt().pending_output(SIZE_MAX)); }

    // `count` numbered lines, the last one left unfinished at the cursor.
    void print_lines(int count) {
        for (int i = 0; i < count; ++i) {
            vt().interpret((i ? "\r\nline " : "line ") + std::to_string(i));
        }
    }
    std::string top_line_text() { return line_text(vt().lines()[vt().visible_top()], 0, 0); }

    std::optional<App> app_;
};

// Matching --------------------------------------------------------------------------------------

TEST(KeyBindingMatch, ComparesTheUnmodifiedKeyWithExactModifiers) {
    const Settings s;
    // Control turns the text of c into 3 and Shift would make it C: the key is still c.
    EXPECT_EQ(match_key_command(s, {3, XK_c, CS}), KEY_COMMAND_COPY);
    EXPECT_EQ(match_key_command(s, {'C', XK_c, CS}), KEY_COMMAND_COPY);
    EXPECT_EQ(match_key_command(s, {3, XK_c, CS | MODIFIER_ALT}), KEY_COMMAND_NONE);
    EXPECT_EQ(match_key_command(s, {3, XK_c, MODIFIER_CTRL}), KEY_COMMAND_NONE);
    // Shift+= types +, the key is =.
    EXPECT_EQ(match_key_command(s, {'+', XK_equal, CS}), KEY_COMMAND_ENLARGE);
    EXPECT_EQ(match_key_command(s, {'_', XK_minus, CS}), KEY_COMMAND_SHRINK);
    // Keys without a character compare as their symbol.
    EXPECT_EQ(match_key_command(s, {KEY_SYM_PAGE_UP, KEY_SYM_PAGE_UP, CS}), KEY_COMMAND_PG_UP);
    EXPECT_EQ(match_key_command(s, {KEY_SYM_F12, KEY_SYM_F12, CS}), KEY_COMMAND_HTML_DUMP);
    EXPECT_EQ(match_key_command(s, {KEY_SYM_LEFT, KEY_SYM_LEFT, CS}), KEY_COMMAND_MARK_UP);
    EXPECT_EQ(match_key_command(s, {KEY_SYM_UP, KEY_SYM_UP, MODIFIER_SHIFT}), KEY_COMMAND_NONE);
    // Without a known symbol the key's own value is used.
    EXPECT_EQ(match_key_command(s, {'k', 0, CS}), KEY_COMMAND_KBD_SELECT);
}

TEST(KeyBindingMatch, NamesInEitherCaseUnboundAndUnresolvedBindingsAndQuit) {
    Settings s;
    s.bind_key_debug = {'Q', {}, false, MODIFIER_ALT};  // resolved from the name "Q"
    EXPECT_EQ(match_key_command(s, {'q', 'q', MODIFIER_ALT}), KEY_COMMAND_DEBUG);
    s.bind_key_copy = {0, {}, false, CS};  // an unknown name resolves to 0
    EXPECT_EQ(match_key_command(s, {0, 0, CS}), KEY_COMMAND_NONE);
    s.bind_key_paste = {'v', "v", true, CS};  // not resolved yet
    EXPECT_EQ(match_key_command(s, {'v', 'v', CS}), KEY_COMMAND_NONE);
    s.bind_key_quit = {'w', {}, false, MODIFIER_CTRL};
    EXPECT_EQ(match_key_command(s, {23, 'w', MODIFIER_CTRL}), KEY_COMMAND_NONE);
}

TEST(KeyBindingMatch, TheFirstBindingInTheFixedOrderWins) {
    Settings s;
    KeyBinding* in_order[] = {
        &s.bind_key_copy,        &s.bind_key_paste,       &s.bind_key_shrink,
        &s.bind_key_enlarge,     &s.bind_key_html_dump,   &s.bind_key_debug,
        &s.bind_key_unicode,     &s.bind_key_kbd_select,  &s.bind_key_ln_up,
        &s.bind_key_ln_down,     &s.bind_key_pg_up,       &s.bind_key_pg_down,
        &s.bind_key_mark_up,     &s.bind_key_mark_down,   &s.bind_key_duplicate,
        &s.bind_key_copy_output, &s.bind_key_extern_pipe, &s.bind_key_open_pwd};
    const KeyCommand expected[] = {
        KEY_COMMAND_COPY,        KEY_COMMAND_PASTE,       KEY_COMMAND_SHRINK,
        KEY_COMMAND_ENLARGE,     KEY_COMMAND_HTML_DUMP,   KEY_COMMAND_DEBUG,
        KEY_COMMAND_UNICODE,     KEY_COMMAND_KBD_SELECT,  KEY_COMMAND_LN_UP,
        KEY_COMMAND_LN_DOWN,     KEY_COMMAND_PG_UP,       KEY_COMMAND_PG_DOWN,
        KEY_COMMAND_MARK_UP,     KEY_COMMAND_MARK_DOWN,   KEY_COMMAND_DUPLICATE,
        KEY_COMMAND_COPY_OUTPUT, KEY_COMMAND_EXTERN_PIPE, KEY_COMMAND_OPEN_PWD};
    for (KeyBinding* binding : in_order) *binding = {KEY_SYM_F10, {}, false, MODIFIER_ALT};
    const KeyEvent f10{KEY_SYM_F10, KEY_SYM_F10, MODIFIER_ALT};
    for (std::size_t i = 0; i < std::size(in_order); ++i) {
        EXPECT_EQ(match_key_command(s, f10), expected[i]) << i;
        in_order[i]->key = 0;
    }
    EXPECT_EQ(match_key_command(s, f10), KEY_COMMAND_NONE);
}

TEST(KeyBindingMatch, PointerHidingFollowsTheMode) {
    EXPECT_TRUE(key_hides_pointer(HIDE_POINTER_TRUE, true));
    EXPECT_TRUE(key_hides_pointer(HIDE_POINTER_FORCE_TRUE, true));
    EXPECT_TRUE(key_hides_pointer(HIDE_POINTER_IF_NOT_REPORTING, false));
    EXPECT_FALSE(key_hides_pointer(HIDE_POINTER_IF_NOT_REPORTING, true));
    EXPECT_FALSE(key_hides_pointer(HIDE_POINTER_FALSE, false));
    EXPECT_FALSE(key_hides_pointer(HIDE_POINTER_FORCE_FALSE, false));
}

// Parsing and resolution ------------------------------------------------------------------------

class KeyBindingText : public testing_support::SettingsTest {};

TEST_F(KeyBindingText, ModifierNamesAndPrefixesInvalidOnesWarn) {
    init({"--bind-key-copy=Control+Alt+y", "--bind-key-paste=Ctr+y", "--bind-key-debug=Hyper+y"});
    EXPECT_EQ(settings().bind_key_copy.mods, 6u);
    EXPECT_EQ(settings().bind_key_copy.name, "y");
    EXPECT_EQ(settings().bind_key_paste.mods, static_cast<std::uint32_t>(MODIFIER_CTRL));
    EXPECT_EQ(settings().bind_key_debug.mods, 0u);
    EXPECT_EQ(settings().bind_key_debug.name, "y");
    EXPECT_TRUE(warned("Invalid modifier key name 'Hyper'\n"));
}

TEST_F(KeyBindingText, AConfiguredNameWorksOnceResolvedAndAnUnknownOneWarnsOnce) {
    write_config("bind-key-html-dump = C+F10\nbind-key-debug = C+NoSuchKey\n");
    init();
    settings().command_argv = {"/bin/sh", "-c", "sleep 10"};
    settings().command_path = "/bin/sh";
    AppBackends backends;
    backends.x11 = make_window;
    backends.make_gfx = [](FontSet*) { return std::make_unique<GfxNull>(8, 16, 0); };
    App app(std::move(backends));
    ::testing::internal::CaptureStderr();
    app.start();
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(warnings, "[\x1b[33mwarning\x1b[m] Invalid key name 'NoSuchKey'\n");
    EXPECT_EQ(match_key_command(settings(), {KEY_SYM_F10, KEY_SYM_F10, MODIFIER_CTRL}),
              KEY_COMMAND_HTML_DUMP);
    app.shutdown();
}

// Commands --------------------------------------------------------------------------------------

TEST_F(KeyCommandsTest, CopyWithoutSelectionDoesNothingAndSendsNothing) {
    start();
    key(3, XK_c, CS);
    EXPECT_EQ(to_child(), "");
    EXPECT_EQ(window().clipboard, "");

    vt().interpret("hello world");
    vt().selection().begin(VT_SELECTION_NORMAL, {vt().screen_top(), 0});
    vt().selection().activate();
    vt().selection().set_end(vt().lines(), {vt().screen_top(), 4});
    key(3, XK_c, CS);
    EXPECT_EQ(window().clipboard, "hello");
    EXPECT_EQ(to_child(), "");
}

TEST_F(KeyCommandsTest, ExtraModifiersGoToTheChildAndUnmatchedKeysHideThePointer) {
    start();
    key(3, XK_c, CS | MODIFIER_ALT);
    ASSERT_FALSE(to_child().empty());
    EXPECT_EQ(to_child().back(), '\x03');
    vt().consume_output(to_child().size());
    EXPECT_EQ(app_->last_key_modifiers(), CS | MODIFIER_ALT);
    EXPECT_EQ(window().pointer_style, MOUSE_POINTER_HIDDEN);
    EXPECT_TRUE(window().has_flag(WINDOW_IS_POINTER_HIDDEN));

    // Already hidden: no second request.
    const int calls = window().pointer_style_calls;
    key('a', 'a', 0);
    EXPECT_EQ(window().pointer_style_calls, calls);

    // A matched binding neither reaches the child nor counts as the last key.
    key('V', 'v', CS);
    EXPECT_EQ(window().clipboard_requests, 1);
    EXPECT_EQ(app_->last_key_modifiers(), 0u);
    EXPECT_EQ(to_child(), "a");
}

TEST_F(KeyCommandsTest, WhileTheChildReportsTheMouseKeysHideThePointerOnlyWhenForced) {
    settings().hide_pointer = HIDE_POINTER_IF_NOT_REPORTING;
    start();
    vt().interpret("\x1b[?1000h");
    ASSERT_TRUE(vt().mouse_reporting());
    key('a', 'a', 0);
    EXPECT_FALSE(window().has_flag(WINDOW_IS_POINTER_HIDDEN));
    vt().interpret("\x1b[?1000l");
    key('a', 'a', 0);
    EXPECT_TRUE(window().has_flag(WINDOW_IS_POINTER_HIDDEN));
}

TEST_F(KeyCommandsTest, UnicodeEntryStartsInTheTerminal) {
    start();
    key(21, 'u', CS);
    EXPECT_TRUE(vt().unicode_entry().active());
    EXPECT_EQ(to_child(), "");
}

TEST_F(KeyCommandsTest, WithHidePointerOffKeysLeaveThePointerAlone) {
    settings().hide_pointer = HIDE_POINTER_FALSE;
    start();
    key('a', 'a', 0);
    EXPECT_NE(window().pointer_style, MOUSE_POINTER_HIDDEN);
    EXPECT_FALSE(window().has_flag(WINDOW_IS_POINTER_HIDDEN));
}

TEST_F(KeyCommandsTest, FontSizeStaysBetweenOneAndWhatAnAtlasPageHolds) {
    settings().font_size = 3;
    start();
    for (int i = 0; i < 5; ++i) key('_', XK_minus, CS);
    EXPECT_EQ(settings().font_size, 1);
    ASSERT_TRUE(window().incremental_resize.has_value());
    EXPECT_EQ(window().incremental_resize->width, 8u);
    EXPECT_EQ(window().incremental_resize->height, 16u);

    const std::uint16_t max = max_font_size(settings().current_dpi);
    EXPECT_GE(max, 100);
    settings().font_size = static_cast<std::uint16_t>(max - 1);
    key('+', XK_equal, CS);
    key('+', XK_equal, CS);
    EXPECT_EQ(settings().font_size, max);
    EXPECT_GE(vt().cols(), 1u);
    EXPECT_GE(vt().rows(), 1u);
    EXPECT_EQ(to_child(), "");
    // At 2 x 1024 pixels a glyph no longer fits one page: the limit falls with the DPI.
    EXPECT_LE(static_cast<std::uint32_t>(max_font_size(300)) * 300 * 2 / 72, 1024u);
    EXPECT_EQ(max_font_size(0), max_font_size(1));
}

TEST_F(KeyCommandsTest, LineAndPageScrollingStopAtTheEnds) {
    start();
    print_lines(20);  // lines 0..19, the screen shows 15..19
    const std::size_t bottom = vt().screen_top();
    ASSERT_EQ(bottom, 15u);

    key(KEY_SYM_UP, KEY_SYM_UP, CS);
    EXPECT_TRUE(vt().scrolled_back());
    EXPECT_EQ(vt().view_top(), 14u);
    EXPECT_TRUE(app_->ui().scrollbar_shown);
    EXPECT_TRUE(window().paint);

    key(KEY_SYM_PAGE_UP, KEY_SYM_PAGE_UP, CS);
    EXPECT_EQ(vt().view_top(), 9u);
    key(KEY_SYM_PAGE_UP, KEY_SYM_PAGE_UP, CS);
    key(KEY_SYM_PAGE_UP, KEY_SYM_PAGE_UP, CS);
    EXPECT_EQ(vt().view_top(), 0u);
    key(KEY_SYM_UP, KEY_SYM_UP, CS);
    EXPECT_EQ(vt().view_top(), 0u);
    EXPECT_EQ(top_line_text(), "line 0");

    key(KEY_SYM_DOWN, KEY_SYM_DOWN, CS);
    EXPECT_EQ(vt().view_top(), 1u);
    key(KEY_SYM_PAGE_DOWN, KEY_SYM_PAGE_DOWN, CS);
    EXPECT_EQ(vt().view_top(), 6u);
    for (int i = 0; i < 3; ++i) key(KEY_SYM_PAGE_DOWN, KEY_SYM_PAGE_DOWN, CS);
    EXPECT_FALSE(vt().scrolled_back());
    EXPECT_EQ(top_line_text(), "line 15");
    key(KEY_SYM_DOWN, KEY_SYM_DOWN, CS);
    EXPECT_FALSE(vt().scrolled_back());
    EXPECT_EQ(to_child(), "");
}

TEST_F(KeyCommandsTest, TheViewStaysPutWhileOutputArrivesBelowIt) {
    start();
    print_lines(20);
    key(KEY_SYM_PAGE_UP, KEY_SYM_PAGE_UP, CS);
    ASSERT_EQ(top_line_text(), "line 10");
    vt().interpret("\r\nmore\r\nand more\r\nstill more");
    EXPECT_TRUE(vt().scrolled_back());
    EXPECT_EQ(top_line_text(), "line 10");
    EXPECT_EQ(vt().screen_top(), 18u);
}

TEST_F(KeyCommandsTest, WithoutHistoryThePageKeysDoNothing) {
    start();
    print_lines(3);
    key(KEY_SYM_PAGE_UP, KEY_SYM_PAGE_UP, CS);
    key(KEY_SYM_UP, KEY_SYM_UP, CS);
    EXPECT_FALSE(vt().scrolled_back());
    EXPECT_EQ(vt().visible_top(), 0u);
}

TEST_F(KeyCommandsTest, MarksUpAndDownShowTheMarkedLineUnderTheTop) {
    start();
    print_lines(40);  // bottom position 35
    vt().lines()[8].mark_explicit = true;
    vt().lines()[20].mark_command_output_start = true;
    vt().lines()[30].mark_explicit = true;
    const KeyEvent up{KEY_SYM_LEFT, KEY_SYM_LEFT, CS};
    const KeyEvent down{KEY_SYM_RIGHT, KEY_SYM_RIGHT, CS};
    auto press = [&](const KeyEvent& e) { key(e.key, e.raw_keysym, e.modifiers); };

    press(up);
    EXPECT_EQ(vt().view_top(), 29u);
    press(up);
    EXPECT_EQ(vt().view_top(), 19u);
    press(up);
    EXPECT_EQ(vt().view_top(), 7u);
    EXPECT_TRUE(app_->ui().scrollbar_shown);
    // No mark above: nothing changes.
    press(up);
    EXPECT_EQ(vt().view_top(), 7u);

    press(down);
    EXPECT_EQ(vt().view_top(), 19u);
    press(down);
    EXPECT_EQ(vt().view_top(), 29u);
    // No mark below: back to the bottom.
    press(down);
    EXPECT_FALSE(vt().scrolled_back());
    press(down);
    EXPECT_FALSE(vt().scrolled_back());

    // A mark further below the top than the line under it is not passed over.
    vt().view_scroll_to(2, true);
    press(down);
    EXPECT_EQ(vt().view_top(), 7u);
    EXPECT_EQ(to_child(), "");
}

TEST_F(KeyCommandsTest, MarksOnTheFirstLineAndAtTheTop) {
    start();
    print_lines(12);
    vt().lines()[0].mark_explicit = true;
    key(KEY_SYM_LEFT, KEY_SYM_LEFT, CS);
    EXPECT_TRUE(vt().scrolled_back());
    EXPECT_EQ(vt().view_top(), 0u);
    key(KEY_SYM_LEFT, KEY_SYM_LEFT, CS);
    EXPECT_EQ(vt().view_top(), 0u);
}

TEST_F(KeyCommandsTest, MarkCommandsDoNothingOnTheAlternateScreen) {
    start();
    print_lines(20);
    vt().lines()[5].mark_explicit = true;
    vt().interpret("\x1b[?1049h");
    ASSERT_TRUE(vt().alternate_screen_active());
    key(KEY_SYM_LEFT, KEY_SYM_LEFT, CS);
    key(KEY_SYM_RIGHT, KEY_SYM_RIGHT, CS);
    EXPECT_FALSE(vt().scrolled_back());
}

TEST_F(KeyCommandsTest, CommandsStillToComeAreQuiet) {
    start();
    ::testing::internal::CaptureStderr();
    key(3, 'x', CS);
    key(28, '\\', CS);
    key(KEY_SYM_F10, KEY_SYM_F10, CS);
    key(4, 'd', CS);
    key(31, '/', CS);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(to_child(), "");
    EXPECT_EQ(window().clipboard, "");
}

}  // namespace
}  // namespace zelto
