// The printing path: text from the parser becomes cells, with wide and combining characters,
// auto-wrap, insert mode and link detection.
#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"
#include "util/utf8.hpp"

namespace zelto {

namespace {

// Everything but the code point.
bool same_attributes(const VtCell& a, const VtCell& b) {
    static_assert(offsetof(VtCell, code) == 0);
    return std::memcmp(reinterpret_cast<const char*>(&a) + sizeof(char32_t),
                       reinterpret_cast<const char*>(&b) + sizeof(char32_t), sizeof(VtCell) - sizeof(char32_t)) == 0;
}

// Marks that combine with any base even when nothing was printed before them on this run.
bool is_combining_block(char32_t ch) {
    return (ch >= 0x300 && ch <= 0x36F) || (ch >= 0x1AB0 && ch <= 0x1AFF) || (ch >= 0x1DC0 && ch <= 0x1DFF) ||
           (ch >= 0x20D0 && ch <= 0x20FF) || (ch >= 0xFE20 && ch <= 0xFE2F);
}

// Private use, dingbats and specials: their glyphs often spill into the next cell.
bool may_overhang(char32_t ch) {
    return (ch >= 0xE000 && ch <= 0xF8FF) || (ch >= 0x2700 && ch <= 0x27BF) || (ch >= 0xFFF0 && ch <= 0xFFFF);
}

// Combining marks drawn as the cell's own line decorations.
std::uint8_t decoration_of_mark(char32_t ch) {
    switch (ch) {
    case 0x332: return VT_CELL_UNDERLINED;
    case 0x333: return VT_CELL_DOUBLE_UNDERLINE;
    case 0x305: return VT_CELL_OVERLINE;
    case 0x336: return VT_CELL_STRIKETHROUGH;
    case 0x1AB6: return VT_CELL_CURLY_UNDERLINE;
    default: return 0;
    }
}

constexpr std::uint8_t MARK_DECORATIONS = VT_CELL_UNDERLINED | VT_CELL_DOUBLE_UNDERLINE | VT_CELL_OVERLINE |
                                          VT_CELL_STRIKETHROUGH | VT_CELL_CURLY_UNDERLINE;

// The cell left as a space where a wide character was cut in half.
[[gnu::noinline]] void blank_half(VtLine& line, std::size_t i) {
    VtCell& cell = line.cells[i];
    cell.code = U' ';
    cell.combine[0] = cell.combine[1] = 0;
    line.damage.mark_cell(static_cast<std::uint16_t>(i));
}

// Cells [first, end) are about to be overwritten: a wide character they cut in half goes away
// whole, its other half left as a space, so no glyph hangs over a neighbour. True if any did.
// Asked for every character printed, and nearly always false, so the test is inline.
inline bool blank_split_halves(VtLine& line, std::size_t first, std::size_t end) {
    const VtCells& cells = line.cells;
    const bool left = first > 0 && first < cells.size() && cells[first].code == VT_WIDE_CHAR_TAIL &&
                      cells[first - 1].code != VT_WIDE_CHAR_TAIL;
    const bool right = end < cells.size() && cells[end].code == VT_WIDE_CHAR_TAIL;
    if (left) blank_half(line, first - 1);
    if (right) blank_half(line, end);
    return left || right;
}

// A character's width in its low bits, and CHAR_FLOWS when text may simply flow over it: one or
// two cells, no glyph that overhangs. CHAR_MARK is a mark with no width that joins the
// character before it unless that one ends graphemes (Unicode's "never break before Extend or
// ZWJ"); marks drawn as line decorations are left out. Marks join a character with
// CHAR_JOINS_MARKS: anything but a control, CR or LF. CHAR_ASCII sets ASCII apart, which may
// start a link. CHAR_KNOWN marks the entries of the table below.
constexpr std::uint8_t CHAR_WIDTH_MASK = 0x3;
constexpr std::uint8_t CHAR_FLOWS = 0x4;
constexpr std::uint8_t CHAR_MARK = 0x8;
constexpr std::uint8_t CHAR_JOINS_MARKS = 0x10;
constexpr std::uint8_t CHAR_ASCII = 0x20;
constexpr std::uint8_t CHAR_KNOWN = 0x80;

std::uint8_t char_class_of(char32_t ch) {
    const int width = utf8proc_charwidth(static_cast<utf8proc_int32_t>(ch));
    const int bound = utf8proc_get_property(static_cast<utf8proc_int32_t>(ch))->boundclass;
    const bool flows = (width == 1 || width == 2) && !may_overhang(ch);
    const bool mark = width == 0 && (bound == UTF8PROC_BOUNDCLASS_EXTEND || bound == UTF8PROC_BOUNDCLASS_ZWJ) &&
                      decoration_of_mark(ch) == 0;
    const bool joins_marks = bound != UTF8PROC_BOUNDCLASS_CR && bound != UTF8PROC_BOUNDCLASS_LF &&
                             bound != UTF8PROC_BOUNDCLASS_CONTROL;
    return static_cast<std::uint8_t>((width & CHAR_WIDTH_MASK) | (flows ? CHAR_FLOWS : 0) | (mark ? CHAR_MARK : 0) |
                                     (joins_marks ? CHAR_JOINS_MARKS : 0) | (ch < 0x80 ? CHAR_ASCII : 0) |
                                     CHAR_KNOWN);
}

// utf8proc's character widths with the classes above, asked once per block of 256 code points
// and kept in one table indexed by code point: text comes from few blocks, and a lookup costs a
// fraction of utf8proc's. The table is zeroed statically and only the pages of blocks in use are ever
// touched (hostile text touching every block costs 1.1 MB once). Each entry is complete in
// itself and accessed atomically, so terminals on several threads may fill a block at once.
class CharWidths {
public:
    int operator()(char32_t ch) { return class_of(ch) & CHAR_WIDTH_MASK; }

    std::uint8_t class_of(char32_t ch) {
        if (ch >= CODE_POINTS) [[unlikely]] return char_class_of(ch);
        const std::uint8_t known = std::atomic_ref(classes_[ch]).load(std::memory_order_relaxed);
        if (known == 0) [[unlikely]] return fill(ch);
        return known;
    }

private:
    static constexpr std::size_t CODE_POINTS = 0x110000;

    [[gnu::noinline]] std::uint8_t fill(char32_t ch) {
        const char32_t first = ch & ~char32_t{0xFF};
        for (char32_t i = 0; i < 256; ++i) {
            std::atomic_ref(classes_[first + i]).store(char_class_of(first + i), std::memory_order_relaxed);
        }
        return std::atomic_ref(classes_[ch]).load(std::memory_order_relaxed);
    }

    // No initializer: a static table of plain bytes is zero before the program starts, with no
    // constructor to write its 1.1 MB.
    std::uint8_t classes_[CODE_POINTS];
};

CharWidths char_width;

// The grapheme break and composition answers of utf8proc depend on nothing but their
// arguments, and text repeats the same few characters: the latest answers are kept in small
// direct-mapped tables, one per thread.
struct GraphemeAnswer {
    char32_t last = 0;
    char32_t ch = 0;
    std::int32_t state_in = 0;
    std::int32_t state_out = 0;
    bool boundary = false;
    bool valid = false;
};

struct CompositionAnswer {
    char32_t base = 0;
    char32_t mark = 0;
    char32_t composition = 0;
    bool valid = false;
};

thread_local std::array<GraphemeAnswer, 1024> grapheme_answers;
thread_local std::array<CompositionAnswer, 64> composition_answers;

std::size_t answer_slot(char32_t a, char32_t b, std::size_t slots) {
    return ((a * 0x9E3779B1u) ^ (b * 0x85EBCA77u)) >> 7 & (slots - 1);
}

// True when a grapheme boundary lies between `last` and `ch`; `state` carries utf8proc's state.
bool grapheme_break(char32_t last, char32_t ch, std::int32_t& state) {
    const std::size_t slot = answer_slot(last, ch + static_cast<char32_t>(state), grapheme_answers.size());
    GraphemeAnswer& answer = grapheme_answers[slot];
    if (answer.valid && answer.last == last && answer.ch == ch && answer.state_in == state) {
        state = answer.state_out;
        return answer.boundary;
    }
    answer.last = last;
    answer.ch = ch;
    answer.state_in = state;
    answer.boundary = utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(last),
                                                       static_cast<utf8proc_int32_t>(ch), &state);
    answer.state_out = state;
    answer.valid = true;
    return answer.boundary;
}

// The NFC composition of base and mark, or 0; false when normalization failed.
bool compose_with_utf8proc(char32_t base, char32_t mark, char32_t& composition) {
    std::string text;
    append_utf8(text, base);
    append_utf8(text, mark);
    utf8proc_uint8_t* nfc = utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str()));
    if (nfc == nullptr) return false;
    const auto length = static_cast<utf8proc_ssize_t>(std::strlen(reinterpret_cast<const char*>(nfc)));
    utf8proc_int32_t code = 0;
    const utf8proc_ssize_t used = utf8proc_iterate(nfc, length, &code);
    std::free(nfc);
    // Only a single character is a composition; anything else keeps the mark apart.
    composition = used > 0 && used == length && static_cast<std::size_t>(length) != text.size()
                      ? static_cast<char32_t>(code)
                      : 0;
    return true;
}

// Asks utf8proc and keeps the answer; out of line, so that the loops that join marks keep only
// the lookup.
[[gnu::noinline]] char32_t compose_into(CompositionAnswer& answer, char32_t base, char32_t mark) {
    char32_t composition = 0;
    if (!compose_with_utf8proc(base, mark, composition)) {
        warn("Unicode normalization failed %s\n", std::strerror(ENOMEM));
        return 0;
    }
    answer = {base, mark, composition, true};
    return composition;
}

// The base with the mark composed into one character (e and U+0301 give U+00E9), or 0.
char32_t composed(char32_t base, char32_t mark) {
    CompositionAnswer& answer = composition_answers[answer_slot(base, mark, 64)];
    if (answer.valid && answer.base == base && answer.mark == mark) [[likely]] return answer.composition;
    return compose_into(answer, base, mark);
}

// A cell as two vectors of four 32-bit words, the code the first word of the front half.
struct CellHalves {
    using Half = std::uint32_t __attribute__((vector_size(16)));
    Half front;
    Half back;
};
static_assert(sizeof(CellHalves) == sizeof(VtCell));

CellHalves cell_halves(const VtCell& cell) {
    CellHalves halves;
    std::memcpy(&halves, &cell, sizeof halves);
    return halves;
}

CellHalves::Half with_code(CellHalves::Half front, char32_t code) {
    front[0] = code;
    return front;
}

void store_cell(VtCell* cell, CellHalves::Half front, CellHalves::Half back) {
    std::memcpy(reinterpret_cast<char*>(cell), &front, sizeof front);
    std::memcpy(reinterpret_cast<char*>(cell) + sizeof front, &back, sizeof back);
}

}  // namespace

// Cells ---------------------------------------------------------------------------------------

// Cell `col_` of `line` gets the current attributes and `code`, and is damaged only when that
// changes it. Written in place from the attributes, never through a copy on the stack, which
// would stall store forwarding on every character.
inline void Vt::put_cell(VtLine& line, char32_t code) {
    const VtCell& attributes = current_attributes_;
    VtCells& cells = line.cells;
    if (cells.size() <= col_) {
        if (cells.size() < col_) ensure_cell(line, col_ - 1u);
        if (cells.size() == cells.capacity()) reserve_cells(line, col_ + 1u);
        cells.push_back(attributes);
        cells.back().code = code;
    } else {
        VtCell& cell = cells[col_];
        if (cell.code == code && same_attributes(cell, attributes)) return;
        std::memcpy(static_cast<void*>(&cell), &attributes, sizeof(VtCell));
        cell.code = code;
    }
    line.damage.mark_cell(col_);
    changed_ = true;
}

// The character just written at the cursor, for the combining marks that may follow.
inline void Vt::record_last_char(char32_t code) {
    std::memcpy(static_cast<void*>(&last_char_.cell), &current_attributes_, sizeof(VtCell));
    last_char_.cell.code = code;
    last_char_.row = row_;
    last_char_.col = col_;
    last_char_.recorded = true;
}

inline bool Vt::is_combining(char32_t ch, int width) {
    if (last_code_point_ == 0) return is_combining_block(ch);
    if (width != 0) {
        // Not combining whatever the answer, but the state must follow: the question waits.
        if (deferred_break_count_ + 1u == deferred_chars_.size()) settle_grapheme_state();
        if (deferred_break_count_ == 0) deferred_chars_[0] = last_code_point_;
        deferred_chars_[++deferred_break_count_] = ch;
        return false;
    }
    settle_grapheme_state();
    return !grapheme_break(last_code_point_, ch, grapheme_state_);
}

// The mark composes with the cell's character (e and U+0301 give U+00E9) or takes a free
// combining slot; false when none is left. Inlined into the run's loop, where the call cost
// more than the join.
[[gnu::always_inline]] inline bool Vt::join_mark(VtCell& cell, char32_t mark) {
    if (cell.combine[0] == 0) {
        const char32_t composition = composed(cell.code, mark);
        if (composition != 0) {
            cell.code = composition;
        } else {
            cell.combine[0] = mark;
        }
    } else if (cell.combine[1] == 0) {
        cell.combine[1] = mark;
    } else {
        static constexpr const char* FORMAT = "Combining character limit (%zu) exceeded\n";
        if (warnings_.allow(FORMAT)) warn(FORMAT, std::size(cell.combine));
        return false;
    }
    return true;
}

// The longest prefix of `text` that flows onto the end of the cursor's line, appended in one
// pass with no branch on whether a character is wide. Marks join the character before them on
// the way.
// Returns the first character it did not take; print_non_ascii takes that one.
const char32_t* Vt::append_code_points(const char32_t* text, const char32_t* end) {
    if (wrap_pending_ || modes_.insert || row_ >= lines_.size() || lines_[row_].cells.size() != col_) return text;
    if (!link_detector_.idle()) {
        // A candidate still in its scheme or its "//" ends at any non-ASCII character with
        // nothing to link (a letter before a mark); one with text may be a link.
        if (link_detector_.state() > VT_URI_STATE_SLASH) return text;
        link_detector_.reset();
    }
    const std::size_t room = static_cast<std::size_t>(cols_ - col_);
    const std::size_t most = std::min<std::size_t>(VT_TEXT_RUN_MAX, static_cast<std::size_t>(end - text));
    // The characters' grapheme questions wait, written as the characters are taken: the answer
    // is known for all of them. The first character after a control asks none: it is written
    // where the character before the first question goes.
    if (deferred_break_count_ + most >= deferred_chars_.size()) settle_grapheme_state();
    if (deferred_break_count_ == 0) deferred_chars_[0] = last_code_point_;
    const bool first_asks = last_code_point_ != 0;
    char32_t* const questions = deferred_chars_.data() + deferred_break_count_ + first_asks;
    // An ASCII character stands for itself unless a character set is in use. A letter may start
    // a link, except before a non-ASCII character, which ends the candidate at once.
    const bool ascii_as_is = !translation_possible();
    const auto ascii_taken = [&](std::size_t at) {
        return ascii_as_is && (!VtLinkDetector::can_start(text[at]) || (at + 1 < most && text[at + 1] >= 0x80));
    };
    std::uint8_t last_class = char_width.class_of(last_code_point_);
    std::size_t n = 0;
    std::size_t taken = 0;
    const auto take = [&](char32_t ch, std::uint8_t char_class) {
        questions[taken++] = ch;
        last_class = char_class;
    };
    // Marks before the run's first character join the cell printed before it.
    for (; n < most; ++n) {
        const std::uint8_t char_class = char_width.class_of(text[n]);
        if ((char_class & CHAR_MARK) == 0 || (last_class & CHAR_JOINS_MARKS) == 0) break;
        take(text[n], char_class);
        combine_character(text[n]);
    }
    // The line grows by as much as the rest could fill and is cut back to what it did fill.
    VtLine& line = lines_[row_];
    VtCells& cells = line.cells;
    const std::size_t reach = std::min(room, 2 * (most - n));
    reserve_cells(line, col_ + reach);
    cells.resize(col_ + reach);
    // The attributes are read once, into registers: read again after each store, they would wait
    // for the store's address, which waits for the character's width.
    const CellHalves attributes = cell_halves(current_attributes_);
    const CellHalves::Half tail_front = with_code(attributes.front, VT_WIDE_CHAR_TAIL);
    VtCell* const first = cells.data() + col_;
    // The run stops where the cells just added end: at the edge, or where two cells for each
    // character would end.
    VtCell* const stop = first + reach;
    VtCell* out = first;
    // The cell the marks that follow join: the first character taken here is none, as the loop
    // above took every mark that could join.
    VtCell* base = nullptr;
    for (; n < most; ++n) {
        const char32_t ch = text[n];
        const std::uint8_t char_class = char_width.class_of(ch);
        const std::size_t width = char_class & CHAR_WIDTH_MASK;
        // One branch for most characters: those that flow, with no mark or ASCII among them.
        if ((char_class & (CHAR_FLOWS | CHAR_MARK | CHAR_ASCII)) != CHAR_FLOWS) [[unlikely]] {
            if ((char_class & CHAR_MARK) != 0 && (last_class & CHAR_JOINS_MARKS) != 0) {
                take(ch, char_class);
                join_mark(*base, ch);
                continue;
            }
            if ((char_class & CHAR_FLOWS) == 0 || !ascii_taken(n)) break;
        }
        if (out + width > stop) break;
        take(ch, char_class);
        // The tail first: a narrow character's own cell then overwrites it.
        store_cell(out + width - 1, tail_front, attributes.back);
        store_cell(out, with_code(attributes.front, ch), attributes.back);
        base = out;
        out += width;
    }
    const auto columns = static_cast<std::size_t>(out - first);
    cells.resize(col_ + columns);
    if (taken != 0) deferred_break_count_ = static_cast<std::uint8_t>(deferred_break_count_ + taken - !first_asks);
    if (n != 0) last_code_point_ = text[n - 1];
    if (base == nullptr) return text + n;
    line.damage.mark_range(col_, static_cast<std::uint16_t>(col_ + columns - 1));
    changed_ = repaint_required_ = true;
    std::memcpy(static_cast<void*>(&last_char_.cell), base, sizeof(VtCell));
    last_char_.row = row_;
    last_char_.col = static_cast<std::uint16_t>(base - cells.data());
    last_char_.recorded = true;
    col_ = static_cast<std::uint16_t>(col_ + columns);
    if (col_ >= cols_) {
        wrap_pending_ = true;
        col_ = static_cast<std::uint16_t>(cols_ - 1);
    }
    return text + n;
}

// Parser actions --------------------------------------------------------------------------------

void Vt::print_run(std::string_view run) {
    if (translation_possible() || modes_.insert) {
        for (const char c : run) {
            const char32_t ch = translate(static_cast<std::uint8_t>(c));
            print_character(ch, char_width(ch));
            // No mark or joiner is among these characters: the grapheme rules start afresh.
            reset_grapheme_state(ch);
        }
        return;
    }
    if (run.size() == 1) {
        print_plain_char(static_cast<unsigned char>(run[0]));
    } else {
        print_plain_run(run);
    }
}

inline void Vt::print_non_ascii(char32_t ch) {
    const int width = char_width(ch);
    if (is_combining(ch, width)) {
        if (!link_detector_.idle()) detect_link(ch, link_end());
        combine_character(ch);
        return;
    }
    print_character(ch, width);
}

void Vt::print_code_point(char32_t ch) { print_non_ascii(ch); }

// Most non-ASCII text comes this way: runs that flow onto the end of the line are appended
// whole, and the character paths take what stops them (a wrap, a link candidate, a mark after
// a control).
void Vt::print_code_points(std::u32string_view text) {
    const char32_t* p = text.data();
    const char32_t* const end = p + text.size();
    while (p != end) {
        p = append_code_points(p, end);
        if (p == end) break;
        const char32_t ch = *p++;
        if (ch < 0x80) {
            const char byte = static_cast<char>(ch);
            print_run({&byte, 1});
        } else {
            print_non_ascii(ch);
        }
    }
}

void Vt::escape_started() { end_text(true); }

void Vt::end_text(bool ends_link) {
    reset_grapheme_state(0);
    if (ends_link && !link_detector_.idle()) {
        if (link_detector_.finish()) commit_link(link_end());
        link_detector_.reset();
    }
}

// Characters ------------------------------------------------------------------------------------

// Answers the deferred questions in order, as if each had been asked at its character.
void Vt::settle_grapheme_state() {
    for (std::size_t i = 1; i <= deferred_break_count_; ++i) {
        grapheme_break(deferred_chars_[i - 1], deferred_chars_[i], grapheme_state_);
    }
    deferred_break_count_ = 0;
}

void Vt::reset_grapheme_state(char32_t last) {
    last_code_point_ = last;
    grapheme_state_ = 0;
    deferred_break_count_ = 0;
}

void Vt::wrap_to_next_line() {
    lines_[row_].was_wrapped = true;
    col_ = 0;
    line_feed();
    lines_[row_].rejoinable = true;
}

void Vt::print_character(char32_t ch, int char_cells) {
    // A character wider than the whole line is drawn in one cell.
    const int width = std::min<int>(char_cells, cols_);
    last_code_point_ = ch;
    repaint_required_ = true;
    if (wrap_pending_) {
        if (!modes_.no_auto_wrap) wrap_to_next_line();
        wrap_pending_ = false;
    }
    // A wide character never hangs over the right edge: it wraps first, or without auto-wrap it
    // takes the last columns.
    if (width >= 2 && col_ + width > cols_) {
        if (modes_.no_auto_wrap) {
            col_ = static_cast<std::uint16_t>(cols_ - width);
        } else {
            wrap_to_next_line();
        }
    }
    if (!link_detector_.ignores(ch)) detect_link(ch, {row_, col_});
    if (row_ >= lines_.size()) {
        ensure_cursor_line();
        if (scrolled_back_ && !alternate_screen_active()) scrollback_grew_while_viewing_ = true;
    }
    VtLine& line = lines_[row_];
    const auto cells = static_cast<std::size_t>(std::max(width, 1));
    if (modes_.insert) {
        VtCell cell = current_attributes_;
        cell.code = ch;
        insert_cell(line, cell);
        record_last_char(ch);
        ++col_;
        cell.code = VT_WIDE_CHAR_TAIL;
        for (std::size_t i = 1; i < cells; ++i, ++col_) insert_cell(line, cell);
    } else {
        if (blank_split_halves(line, col_, col_ + cells)) changed_ = true;
        put_cell(line, ch);
        record_last_char(ch);
        ++col_;
        for (std::size_t i = 1; i < cells; ++i, ++col_) put_cell(line, VT_WIDE_CHAR_TAIL);
    }
    if (width < 2 && may_overhang(ch) && col_ == line.cells.size() && col_ < cols_) {
        // Room for the glyph, only where nothing follows: redrawing the line never grows it.
        line.cells.push_back(blank_cell_);
        line.damage.mark_cell(col_);
    }
    wrap_pending_ = col_ >= cols_;
    col_ = std::min<std::uint16_t>(col_, static_cast<std::uint16_t>(cols_ - 1));
}

// Insert mode: `cell` goes in at `col_` and the rest of the line moves right.
void Vt::insert_cell(VtLine& line, const VtCell& cell) {
    if (col_ > 0) ensure_cell(line, col_ - 1u);
    line.insert_cell(col_, cell);
    if (line.cells.size() > cols_) {
        // A wide character pushed half over the edge goes away whole.
        const bool cut_in_half = line.cells[cols_].code == VT_WIDE_CHAR_TAIL &&
                                 line.cells[cols_ - 1u].code != VT_WIDE_CHAR_TAIL;
        line.cells.resize(cols_);
        if (cut_in_half) line.cells[cols_ - 1u] = blank_cell_;
    }
    mark_full(line);
}

void Vt::combine_character(char32_t ch) {
    last_code_point_ = ch;
    if (!last_char_.recorded) {
        static constexpr const char* FORMAT = "Got combining character but no previous character is recorded\n";
        if (warnings_.allow(FORMAT)) warn(FORMAT);
        return;
    }
    VtCell& record = last_char_.cell;
    const char32_t base = record.code;
    const std::uint8_t decoration = record.has(VT_CELL_LINE_COLOR_SET) ? 0 : decoration_of_mark(ch);
    if (decoration != 0) {
        record.decorations |= decoration;
    } else if (!join_mark(record, ch)) {
        return;
    }
    write_back_record(base);
}

// The recorded cell goes back to its place, unless that cell was overwritten since.
void Vt::write_back_record(char32_t base) {
    const VtCell& record = last_char_.cell;
    VtCell* cell = nullptr;
    if (last_char_.row < lines_.size() && last_char_.col < lines_[last_char_.row].cells.size()) {
        cell = &lines_[last_char_.row].cells[last_char_.col];
    }
    if (cell == nullptr || cell->code != base) {
        last_char_.recorded = false;
        return;
    }
    cell->code = record.code;
    cell->combine[0] = record.combine[0];
    cell->combine[1] = record.combine[1];
    cell->font_style = record.font_style;
    cell->decorations = static_cast<std::uint8_t>((cell->decorations & ~MARK_DECORATIONS) |
                                                  (record.decorations & MARK_DECORATIONS));
    lines_[last_char_.row].damage.mark_cell(last_char_.col);
    changed_ = repaint_required_ = true;
}

// A single ASCII character between escape sequences (colour changes, cursor motion): the
// steps of the run below for one cell, without its loops.
void Vt::print_plain_char(char32_t ch) {
    if (wrap_pending_) {
        if (!modes_.no_auto_wrap) wrap_to_next_line();
        wrap_pending_ = false;
    }
    if (row_ >= lines_.size()) ensure_cursor_line();
    VtLine& line = lines_[row_];
    if (blank_split_halves(line, col_, col_ + 1u)) changed_ = true;
    put_cell(line, ch);
    record_last_char(ch);
    if (!link_detector_.ignores(ch)) detect_link(ch, {row_, col_});
    if (col_ + 1u >= cols_) {
        wrap_pending_ = true;
    } else {
        ++col_;
    }
    reset_grapheme_state(ch);
    repaint_required_ = true;
}

// The hot path: ASCII text with the current attributes, written a line segment at a time.
void Vt::print_plain_run(std::string_view run) {
    std::size_t i = 0;
    while (i < run.size()) {
        if (wrap_pending_) {
            if (!modes_.no_auto_wrap) wrap_to_next_line();
            wrap_pending_ = false;
        }
        if (row_ >= lines_.size()) ensure_cursor_line();
        VtLine& line = lines_[row_];
        const std::size_t room = static_cast<std::size_t>(cols_ - col_);
        const std::size_t n = std::min(room, run.size() - i);
        if (line.cells.size() < col_) ensure_cell(line, col_ - 1u);
        if (blank_split_halves(line, col_, col_ + n)) changed_ = true;
        reserve_cells(line, col_ + n);
        // Cells are stored whole and then given their code (never patched on the stack and
        // copied back, which stalls store forwarding on every cell).
        const VtCell& attributes = current_attributes_;
        std::size_t first = SIZE_MAX, last = 0;
        // Cells that exist are compared, so redrawing unchanged text damages nothing...
        const std::size_t overwrite = std::min(n, line.cells.size() - col_);
        VtCell* cells = line.cells.data() + col_;
        for (std::size_t k = 0; k < overwrite; ++k) {
            const char32_t code = static_cast<unsigned char>(run[i + k]);
            if (cells[k].code != code || !same_attributes(cells[k], attributes)) {
                std::memcpy(static_cast<void*>(&cells[k]), &attributes, sizeof(VtCell));
                cells[k].code = code;
                if (first == SIZE_MAX) first = k;
                last = k;
            }
        }
        // ...and cells past the end of the line are appended.
        if (overwrite < n) {
            if (first == SIZE_MAX) first = overwrite;
            last = n - 1;
            // Grown, then each new cell written once, whole, from the attributes held in
            // registers (read again after each store, they would wait for it).
            line.cells.resize(col_ + n);
            cells = line.cells.data() + col_;
            const CellHalves halves = cell_halves(attributes);
            for (std::size_t k = overwrite; k < n; ++k) {
                store_cell(&cells[k], with_code(halves.front, static_cast<unsigned char>(run[i + k])), halves.back);
            }
        }
        if (first != SIZE_MAX) {
            line.damage.mark_range(static_cast<std::uint16_t>(col_ + first), static_cast<std::uint16_t>(col_ + last));
            changed_ = true;
        }
        std::memcpy(static_cast<void*>(&last_char_.cell), &attributes, sizeof(VtCell));
        last_char_.cell.code = static_cast<unsigned char>(run[i + n - 1]);
        last_char_.row = row_;
        last_char_.col = static_cast<std::uint16_t>(col_ + n - 1);
        last_char_.recorded = true;
        // The segment's cells are written, so a link that ends inside it covers finished cells.
        for (std::size_t k = 0; k < n;) {
            const VtTextPoint at{row_, static_cast<std::uint16_t>(col_ + k)};
            k += link_detector_.scan(run.substr(i + k, n - k), at);
            if (k == n) break;
            commit_link({row_, static_cast<std::uint16_t>(col_ + k)});
            link_detector_.reset();
        }
        i += n;
        if (col_ + n >= cols_) {
            col_ = static_cast<std::uint16_t>(cols_ - 1);
            if (modes_.no_auto_wrap && i < run.size()) {
                // The rest of the run lands in the last column: only its last byte remains.
                for (; i + 1 < run.size(); ++i) {
                    const char32_t ch = static_cast<unsigned char>(run[i]);
                    if (!link_detector_.ignores(ch)) detect_link(ch, {row_, col_});
                }
                continue;
            }
            wrap_pending_ = true;
        } else {
            col_ = static_cast<std::uint16_t>(col_ + n);
        }
    }
    reset_grapheme_state(static_cast<unsigned char>(run.back()));
    repaint_required_ = true;
}

// Links -----------------------------------------------------------------------------------------

// Where the cursor ends a link: with a wrap pending the last column is covered too.
VtTextPoint Vt::link_end() const {
    return {row_, wrap_pending_ ? cols_ : col_};
}

void Vt::detect_link(char32_t ch, VtTextPoint at) {
    if (!link_detector_.step(ch, at)) return;
    commit_link(at);
    link_detector_.reset();
    link_detector_.step(ch, at);
}

// The cells from the candidate's first character up to `end` (exclusive) get the link; each
// line stores its text once.
void Vt::commit_link(VtTextPoint end) {
    const VtTextPoint start = link_detector_.start;
    const std::string& text = link_detector_.text();
    for (std::size_t row = start.line; row <= end.line && row < lines_.size(); ++row) {
        VtLine& line = lines_[row];
        const std::size_t first = row == start.line ? start.col : 0;
        const std::size_t stop = std::min<std::size_t>(row == end.line ? end.col : cols_, line.cells.size());
        if (first >= stop) continue;
        const std::uint16_t link = add_cell_link(line, text);
        for (std::size_t c = first; c < stop; ++c) line.cells[c].link = link;
        line.damage.mark_range(static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(stop - 1));
        changed_ = repaint_required_ = true;
    }
}

}  // namespace zelto
