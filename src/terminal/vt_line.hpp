#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace zelto {

// Attribute flags of a cell, first flag byte.
enum : std::uint8_t {
    VT_CELL_BG_IS_PALETTE_INDEX = 1u << 0,
    VT_CELL_FG_IS_PALETTE_INDEX = 1u << 1,
    VT_CELL_LINE_COLOR_IS_PALETTE_INDEX = 1u << 2,
    VT_CELL_LINE_COLOR_SET = 1u << 3,
    VT_CELL_INVERTED = 1u << 4,
    VT_CELL_DIM = 1u << 5,
    VT_CELL_HIDDEN = 1u << 6,
    VT_CELL_BLINKING = 1u << 7,
};

// Decoration flags of a cell, second flag byte.
enum : std::uint8_t {
    VT_CELL_UNDERLINED = 1u << 0,
    VT_CELL_STRIKETHROUGH = 1u << 1,
    VT_CELL_DOUBLE_UNDERLINE = 1u << 2,
    VT_CELL_CURLY_UNDERLINE = 1u << 3,
    VT_CELL_OVERLINE = 1u << 4,
};

enum : std::uint8_t {
    VT_FONT_STYLE_NORMAL = 0,
    VT_FONT_STYLE_BOLD = 1,
    VT_FONT_STYLE_ITALIC = 2,
    VT_FONT_STYLE_BOLD_ITALIC = 3,
};

inline constexpr std::uint16_t VT_DEFAULT_FG_INDEX = 0xFFFF;
inline constexpr std::int16_t VT_DEFAULT_BG_INDEX = -1;
// The code of the right half of a wide character.
inline constexpr char32_t VT_WIDE_CHAR_TAIL = 0x1B;

// One character cell. Cells are compared as 32 raw bytes, so every unused byte stays zero.
struct VtCell {
    char32_t code = 0;
    char32_t combine[2] = {0, 0};
    std::uint8_t font_style = 0;
    std::uint8_t reserved[3] = {0, 0, 0};
    // Each colour holds either RGB(A) bytes or a palette index in its first two bytes.
    std::uint8_t line_color[4] = {0, 0, 0, 0};
    std::uint8_t fg[4] = {0, 0, 0, 0};
    std::uint8_t bg[4] = {0, 0, 0, 0};
    std::uint16_t link = 0;
    std::uint8_t flags = 0;
    std::uint8_t decorations = 0;

    bool has(std::uint8_t flag) const { return (flags & flag) != 0; }

    std::uint16_t fg_index() const { return read_u16(fg); }
    std::int16_t bg_index() const { return static_cast<std::int16_t>(read_u16(bg)); }
    std::uint16_t line_color_index() const { return read_u16(line_color); }
    void set_fg_index(std::uint16_t index) {
        set_index(fg, index);
        flags |= VT_CELL_FG_IS_PALETTE_INDEX;
    }
    void set_bg_index(std::int16_t index) {
        set_index(bg, static_cast<std::uint16_t>(index));
        flags |= VT_CELL_BG_IS_PALETTE_INDEX;
    }

    friend bool operator==(const VtCell& a, const VtCell& b) {
        return std::memcmp(&a, &b, sizeof(VtCell)) == 0;
    }

private:
    static std::uint16_t read_u16(const std::uint8_t* bytes) {
        std::uint16_t value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    static void set_index(std::uint8_t* bytes, std::uint16_t index) {
        std::memcpy(bytes, &index, sizeof index);
        bytes[2] = bytes[3] = 0;
    }
};

static_assert(sizeof(VtCell) == 32);
static_assert(std::is_trivially_copyable_v<VtCell>);
static_assert(std::has_unique_object_representations_v<VtCell>);

// Cell storage that grows without a zero fill: the printing paths write every cell they add
// whole, and filling first doubles the stores of a line of text. Everything else that grows a
// line gives the new cells their value (resize(n, cell), append_copies). In debug builds the new
// cells hold garbage, so a path that forgets one shows it in the tests.
template <class T>
struct VtCellAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = VtCellAllocator<U>;
    };
    VtCellAllocator() = default;
    template <class U>
    VtCellAllocator(const VtCellAllocator<U>&) noexcept {}
    // A cell is an implicit-lifetime type: the allocation already holds it.
    void construct(T* cell) noexcept {
#ifndef NDEBUG
        std::memset(static_cast<void*>(cell), 0xA5, sizeof(T));
#else
        static_cast<void>(cell);
#endif
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        std::construct_at(p, std::forward<Args>(args)...);
    }
};

using VtCells = std::vector<VtCell, VtCellAllocator<VtCell>>;

// Appends `count` copies of `cell`. Copied as raw bytes from where `cell` lives: a copy through
// a stack temporary costs a store-forwarding stall per cell on the printing path.
inline void append_copies(VtCells& cells, std::size_t count, const VtCell& cell) {
    const std::size_t start = cells.size();
    cells.resize(start + count);
    VtCell* out = cells.data() + start;
    for (std::size_t i = 0; i < count; ++i) std::memcpy(static_cast<void*>(out + i), &cell, sizeof(VtCell));
}

// The four "blank" questions the terminal asks about cells; each has its own rule.

// Blank for the screen model: nothing drawn and the default background.
inline bool is_blank_cell(const VtCell& cell) {
    return (cell.code == 0 || cell.code == U' ') && cell.combine[0] == 0 &&
           cell.has(VT_CELL_BG_IS_PALETTE_INDEX) && cell.bg_index() == VT_DEFAULT_BG_INDEX;
}

// Blank enough to be trimmed from a line end by resize: also no decoration and default colours.
inline bool is_trimmable_blank_cell(const VtCell& cell) {
    constexpr std::uint8_t visible_flags = VT_CELL_INVERTED | VT_CELL_BLINKING;
    return is_blank_cell(cell) && cell.decorations == 0 && (cell.flags & visible_flags) == 0 &&
           cell.has(VT_CELL_FG_IS_PALETTE_INDEX) && cell.fg_index() == VT_DEFAULT_FG_INDEX;
}

// A cell beyond the end of the shorter line that a synchronized-update end does not count as
// changed: a space or nothing, without any colour of its own.
inline bool is_unchanged_filler_cell(const VtCell& cell) {
    return is_blank_cell(cell) &&
           (!cell.has(VT_CELL_FG_IS_PALETTE_INDEX) || cell.fg_index() == VT_DEFAULT_FG_INDEX) &&
           !cell.has(VT_CELL_LINE_COLOR_IS_PALETTE_INDEX);
}

// Renderer handles of a line's textures; the screen model only zeroes, moves and releases them.
struct VtLineProxy {
    std::uint32_t slots[4] = {0, 0, 0, 0};

    bool empty() const { return (slots[0] | slots[1] | slots[2] | slots[3]) == 0; }
    friend bool operator==(const VtLineProxy&, const VtLineProxy&) = default;
};

enum VtLineDamageType : std::uint32_t {
    VT_LINE_DAMAGE_NONE = 0,
    VT_LINE_DAMAGE_FULL = 1,
    VT_LINE_DAMAGE_RANGE = 3,
    VT_LINE_DAMAGE_PROXIES_MOVED_TO_CLONE = 4,
};

struct VtLineDamage {
    // First damaged cell (RANGE) or the index of the line's snapshot copy (PROXIES_MOVED_TO_CLONE).
    std::uint16_t front = 0;
    // Last damaged cell, inclusive (RANGE).
    std::uint16_t end = 0;
    std::uint8_t shift = 0;
    VtLineDamageType type = VT_LINE_DAMAGE_FULL;

    void mark_full() {
        type = VT_LINE_DAMAGE_FULL;
        front = end = 0;
    }
    void mark_cell(std::uint16_t column) { mark_range(column, column); }
    void mark_range(std::uint16_t first, std::uint16_t last) {
        if (type == VT_LINE_DAMAGE_NONE) {
            type = VT_LINE_DAMAGE_RANGE;
            front = first;
            end = last;
        } else if (type == VT_LINE_DAMAGE_RANGE) {
            if (first < front) front = first;
            if (last > end) end = last;
        }
    }
};

// Moves one stored line index after lines were inserted (delta > 0) at `at`, or removed
// (delta < 0) from `at` on. An index inside the removed range lands on `at` instead of wrapping.
inline void shift_line_index(std::size_t& index, std::size_t at, std::ptrdiff_t delta) {
    if (index < at) return;
    if (delta >= 0) {
        index += static_cast<std::size_t>(delta);
        return;
    }
    const auto removed = static_cast<std::size_t>(-delta);
    index = index - at < removed ? at : index - removed;
}

// A shell-integration command whose rows are stored line indexes.
struct VtCommand {
    std::string command_text;
    int exit_status = 0;
    bool finished = false;
    std::size_t start_row = 0;
    std::size_t output_start_row = 0;
    std::size_t output_end_row = 0;
};

struct VtLine {
    VtCells cells;
    VtLineProxy proxy;
    // URIs the cells refer to by 1-based index; entries are only added while the line lives.
    std::unique_ptr<std::vector<std::string>> links;
    std::shared_ptr<VtCommand> command;
    VtLineDamage damage;
    bool reflowable = true;
    bool rejoinable = false;
    bool was_wrapped = false;
    bool mark_explicit = false;
    bool mark_command_invoke = false;
    bool mark_command_output_start = false;
    bool mark_command_output_end = false;

    // Cells a line's first short text gets room for; longer text gets the full width at once.
    static constexpr std::size_t INITIAL_CAPACITY = 4;

    // No storage until something is written: a blank line costs no allocation, and a line that
    // scrolls in takes the storage of one that scrolled away once text lands on it.
    // User-provided, so that a new line is built from its member initializers alone: a defaulted
    // constructor makes value-initialization zero the whole line first, a string instruction
    // slower than the stores themselves on every line feed.
    VtLine() noexcept {}
    // A new line that takes over `storage` for its cells, emptied.
    explicit VtLine(VtCells storage) : cells(std::move(storage)) { cells.clear(); }
    VtLine(VtLine&&) noexcept = default;
    VtLine& operator=(VtLine&&) noexcept = default;
    VtLine(const VtLine&) = delete;
    VtLine& operator=(const VtLine&) = delete;

    // A deep copy for the synchronized-update snapshot (the proxy is moved separately).
    VtLine copy_content() const;

    // Index of `text` in `links`, appended when absent.
    std::size_t add_link(const std::string& text);

    // Inserts `cell` before cell `index`, shifting the rest right; an index past the end is ignored.
    void insert_cell(std::size_t index, const VtCell& cell) {
        if (index > cells.size()) return;
        cells.insert(cells.begin() + static_cast<std::ptrdiff_t>(index), cell);
    }
};

}  // namespace zelto
