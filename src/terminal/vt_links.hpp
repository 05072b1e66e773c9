#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "terminal/vt_line.hpp"
#include "terminal/vt_selection.hpp"

namespace zelto {

enum VtUriState : std::uint8_t {
    VT_URI_STATE_IDLE,
    VT_URI_STATE_SCHEME,     // letters of a scheme or "www"
    VT_URI_STATE_COLON,      // a known scheme and ':'
    VT_URI_STATE_SLASH,      // ... and one '/'
    VT_URI_STATE_AUTHORITY,  // ... "://" and the host part
    VT_URI_STATE_PATH,       // after the host part's '/'
    VT_URI_STATE_WWW_DOT,    // "www."
};

// One of the schemes that make a link, compared without regard to case.
bool is_link_scheme(std::string_view text);

// Watches printed characters for things that look like links: a known scheme with "://" and
// more, or a host name starting "www.". It knows nothing of the screen: the terminal says where
// each character lands and links the cells when a candidate is complete.
class VtLinkDetector {
public:
    // Candidates are finished at this length: every line a link covers keeps its text, so a
    // longer one would cost its length times its line count.
    static constexpr std::size_t MAX_LENGTH = 8192;

    // Only letters start a candidate: everything else costs the terminal this one test.
    static bool can_start(char32_t ch) { return ((ch | 0x20) - 'a') < 26; }
    bool idle() const { return state_ == VT_URI_STATE_IDLE; }
    // Nothing to do for this character.
    bool ignores(char32_t ch) const { return idle() & !can_start(ch); }

    // One character printed at `at`. True when it ended a candidate that is a link: then the
    // caller links `text()` from `start` up to `at` (exclusive), calls `reset()` and feeds the
    // character again, as it may start the next candidate.
    bool step(char32_t ch, VtTextPoint at);
    // `step` over ASCII text printed from `at` on along one line. Returns the offset of the
    // character that ended a link (link it, `reset()` and scan on from there), else the length.
    std::size_t scan(std::string_view text, VtTextPoint at);
    // The text before a control ends: true when it is a link (then link it and `reset()`). Most
    // lines end in a word, which holds no text yet: that case is inline.
    bool finish() {
        if (state_ > VT_URI_STATE_SCHEME) return finish_text();
        state_ = VT_URI_STATE_IDLE;
        scheme_length_ = 0;
        return false;
    }
    void reset() {
        state_ = VT_URI_STATE_IDLE;
        scheme_length_ = 0;
        text_.clear();
        if (text_.capacity() > 256) std::string().swap(text_);
    }

    const std::string& text() const { return text_; }
    VtUriState state() const { return state_; }
    // The first character's place; it moves with the lines like every stored line index.
    VtTextPoint start;

    static constexpr std::size_t MAX_SCHEME_LETTERS = 10;

private:
    bool is_link() const;
    bool finish_text();
    void begin(char32_t letter, VtTextPoint at);
    void end_scheme(char32_t ch);

    VtUriState state_ = VT_URI_STATE_IDLE;
    // The letters of a scheme are kept apart: most words are no scheme, and they cost no
    // string operations.
    char scheme_[MAX_SCHEME_LETTERS] = {};
    std::uint8_t scheme_length_ = 0;
    std::string text_;
};

// 1 + the index of `text` in the line's links, added when absent, for a cell's `link`. Entries
// no cell refers to any more are dropped before the list would outgrow the cells or the cell
// index; 0 when every index is taken.
std::uint16_t add_cell_link(VtLine& line, const std::string& text);

}  // namespace zelto
