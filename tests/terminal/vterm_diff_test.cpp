// Differential test: zelto and libvterm fed the same streams of plain text, C0 controls, ESC
// sequences and character sets must show the same text and cursor.
#include <gtest/gtest.h>
#include <vterm.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "terminal/vt_harness.hpp"

namespace zelto::test {
namespace {

constexpr int COLS = 20;
constexpr int ROWS = 6;

struct Reference {
    Reference() : vt(vterm_new(ROWS, COLS)) {
        vterm_set_utf8(vt, 1);
        screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
    }
    ~Reference() { vterm_free(vt); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    void feed(const std::string& bytes) { vterm_input_write(vt, bytes.data(), bytes.size()); }

    std::string screen_text() const {
        std::string out;
        for (int r = 0; r < ROWS; ++r) {
            std::string line;
            for (int c = 0; c < COLS; ++c) {
                VTermScreenCell cell;
                vterm_screen_get_cell(screen, VTermPos{r, c}, &cell);
                line += cell.chars[0] == 0 ? std::string(" ") : utf8(cell.chars[0]);
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            if (r != 0) out += '\n';
            out += line;
        }
        return out;
    }

    std::pair<int, int> cursor() const {
        VTermPos pos;
        vterm_state_get_cursorpos(vterm_obtain_state(vt), &pos);
        return {pos.row, pos.col};
    }

    VTerm* vt;
    VTermScreen* screen;
};

// The pieces streams are made of. Deliberate differences are left out, each with its reason:
// - ESC N / ESC O (single shifts): libvterm has no single shift of G2/G3.
// - ESC c (full reset): libvterm keeps the cursor-save slot and the character-set shift state.
// - ESC # 8 (DECALN): libvterm leaves the cursor where it was; zelto homes it, as xterm does.
// - DEC Special Graphics `_`: libvterm draws a blank (U+00A0), zelto keeps the underscore.
// - DEC Special Graphics `y` and `z`: libvterm draws the slanted U+2A7D/U+2A7E, zelto the
//   standard U+2264/U+2265 (less-than or equal, greater-than or equal).
// - ESC SP SP: zelto takes the byte after ESC SP as its final (a warning), libvterm collects
//   both spaces as intermediates; ESC is therefore never followed by a space in the corpus.
// - a pending wrap (text up to the last column) survives a scrolling LF/IND, RI, HT and DECSC in
//   libvterm; zelto's cursor placement ends it. Those controls come after a BS
//   (which ends a pending wrap in both) in the corpus.
// - DECRC: libvterm brings back neither the G0/G1 designations nor which of them is shifted in;
//   zelto brings both back, as VT100 and xterm do (vttest checks it). DECRC is therefore
//   followed by fresh designations of G0 and G1 and an SI in the corpus.
// - lines ending in spaces: zelto's text rendering trims them, as the comparison does for both.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> p = {
        "hello", "wide world", "x", "0123456789", "abcdefghijklmnopqrstuvwx", " ", "  ",
        "\r", "\b\n", "\r\n", "\b", "\b\t", "\b\x0b", "\b\x0c", "\a", std::string(1, '\0'), "\x7f",
        "\b\x1b" "7", "\x1b" "8\x1b(B\x1b)0\x0f", "\b\x1b" "D", "\x1b" "E", "\b\x1b" "M", "\x1b" "H",
        "\x1b(0", "\x1b(B", "\x1b(A", "\x1b)0", "\x0e", "\x0f", "lqkxmj#",
        "\x1b\r" "7", "\x1b\x18", "\x1b=", "\x1b>",
    };
    return p;
}

std::string random_stream(std::mt19937& rng, int length) {
    std::uniform_int_distribution<std::size_t> pick(0, pieces().size() - 1);
    std::string s;
    for (int i = 0; i < length; ++i) s += pieces()[pick(rng)];
    return s;
}

void expect_same(const std::string& stream) {
    VtHarness ours(COLS, ROWS);
    Reference ref;
    ours.feed(stream);
    ref.feed(stream);
    if (ours.screen() != ref.screen_text() && std::getenv("ZELTO_DIFF_DUMP")) {
        std::FILE* f = std::fopen(std::getenv("ZELTO_DIFF_DUMP"), "wb");
        std::fwrite(stream.data(), 1, stream.size(), f);
        std::fclose(f);
    }
    ASSERT_EQ(ours.screen(), ref.screen_text()) << "stream: " << ::testing::PrintToString(stream);
    const auto [row, col] = ref.cursor();
    ASSERT_EQ(ours.vt.cursor_row() - ours.vt.screen_top(), static_cast<std::size_t>(row))
        << ::testing::PrintToString(stream);
    ASSERT_EQ(ours.vt.cursor_col(), col) << ::testing::PrintToString(stream);
}

TEST(VtermDifferential, HandPickedStreams) {
    expect_same("hello\r\nworld\tx\by");
    expect_same(std::string(45, 'a') + "\r\n" + std::string(20, 'b'));
    expect_same("\x1b(0lqqqk\r\nx   x\r\nmqqqj\x1b(Bq");
    expect_same("\x1b)0\x0eqqq\x0fqqq");
    expect_same("ab\x1b" "7\r\n\r\n\r\n\r\n\r\n\r\n\r\ncd\x1b" "8ef");
    expect_same("top\x1bMup\x1b" "Dnext\x1b" "Enl");
    expect_same("\x1b(A#\r\n\x1b\rZ");
}

TEST(VtermDifferential, RandomStreams) {
    std::mt19937 rng(2026);
    for (int i = 0; i < 400; ++i) {
        expect_same(random_stream(rng, 40));
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace zelto::test
