#include "terminal/vt_selection.hpp"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "util/utf8.hpp"

namespace zelto {

namespace {

bool is_word_break(const VtCell& cell) {
    if (cell.code == VT_WIDE_CHAR_TAIL) return false;  // belongs to the character before it
    return cell.code == 0 || std::iswspace(static_cast<wint_t>(cell.code));
}

// Reading order: the earlier point first.
std::pair<VtTextPoint, VtTextPoint> ordered(VtTextPoint a, VtTextPoint b) {
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    return {a, b};
}

}  // namespace

std::string line_text(const VtLine& line, std::size_t first, std::size_t end,
                      std::string_view tail) {
    std::string text;
    const std::size_t count = line.cells.size();
    // Nothing is written from `first` on: only the tail (an empty line has no cells at all).
    if (first >= count) return std::string(tail);
    if (end == 0 || end > count) end = count;
    for (std::size_t i = first; i < end; ++i) {
        const VtCell& cell = line.cells[i];
        if (cell.code == VT_WIDE_CHAR_TAIL) continue;
        append_utf8(text, cell.code == 0 ? U' ' : cell.code);
        for (char32_t combining : cell.combine) {
            if (combining == 0) break;
            append_utf8(text, combining);
        }
    }
    text += tail;
    return text;
}

void VtSelection::begin(VtSelectionMode mode, VtTextPoint anchor) {
    pending_mode_ = mode;
    pending_anchor_ = anchor;
}

void VtSelection::activate() {
    if (pending_mode_ == VT_SELECTION_NONE) return;
    mode_ = pending_mode_;
    start_ = end_ = pending_anchor_;
    pending_mode_ = VT_SELECTION_NONE;
}

void VtSelection::damage_between(std::vector<VtLine>& lines, std::size_t a, std::size_t b) const {
    if (a > b) std::swap(a, b);
    for (std::size_t i = a; i <= b && i < lines.size(); ++i) lines[i].damage.mark_full();
}

void VtSelection::move_point(std::vector<VtLine>& lines, VtTextPoint& point, VtTextPoint to) {
    if (!active()) return;
    // A rectangle's columns change on every line it spans, not only on the moved lines.
    if (mode_ == VT_SELECTION_RECTANGLE) {
        damage_between(lines, std::min({start_.line, end_.line, to.line}),
                       std::max({start_.line, end_.line, to.line}));
    } else {
        damage_between(lines, point.line, to.line);
    }
    point = to;
}

void VtSelection::set_end(std::vector<VtLine>& lines, VtTextPoint point) {
    move_point(lines, end_, point);
}

void VtSelection::set_start(std::vector<VtLine>& lines, VtTextPoint point) {
    move_point(lines, start_, point);
}

void VtSelection::select_word(std::vector<VtLine>& lines, VtTextPoint point) {
    mode_ = VT_SELECTION_NORMAL;
    start_ = end_ = point;
    if (point.line >= lines.size()) return;
    const VtCells& cells = lines[point.line].cells;
    if (point.col < cells.size() && !is_word_break(cells[point.col])) {
        std::size_t first = point.col;
        std::size_t last = point.col;
        while (first > 0 && !is_word_break(cells[first - 1])) --first;
        while (last + 1 < cells.size() && !is_word_break(cells[last + 1])) ++last;
        start_.col = static_cast<std::uint16_t>(first);
        end_.col = static_cast<std::uint16_t>(last);
    }
    lines[point.line].damage.mark_full();
}

void VtSelection::select_line(std::vector<VtLine>& lines, std::size_t line, std::uint16_t cols) {
    mode_ = VT_SELECTION_NORMAL;
    start_ = {line, 0};
    end_ = {line, static_cast<std::uint16_t>(cols > 0 ? cols - 1 : 0)};
    if (line < lines.size()) lines[line].damage.mark_full();
}

bool VtSelection::clear(std::vector<VtLine>& lines) {
    pending_mode_ = VT_SELECTION_NONE;
    if (!active()) return false;
    damage_between(lines, start_.line, end_.line);
    mode_ = VT_SELECTION_NONE;
    return true;
}

bool VtSelection::contains(std::uint16_t col, std::size_t line) const {
    if (mode_ == VT_SELECTION_RECTANGLE) {
        return line >= std::min(start_.line, end_.line) &&
               line <= std::max(start_.line, end_.line) &&
               col >= std::min(start_.col, end_.col) && col <= std::max(start_.col, end_.col);
    }
    if (mode_ != VT_SELECTION_NORMAL) return false;
    const auto [first, last] = ordered(start_, end_);
    if (line < first.line || line > last.line) return false;
    if (first.line == last.line) return col >= first.col && col <= last.col;
    if (line == first.line) return col >= first.col;
    if (line == last.line) return col <= last.col;
    return true;
}

std::string VtSelection::text(const std::vector<VtLine>& lines) const {
    if (!active()) return {};
    const auto at = [&](std::size_t i) -> const VtLine* {
        return i < lines.size() ? &lines[i] : nullptr;
    };
    if (start_.line == end_.line) {
        const VtLine* line = at(start_.line);
        if (!line) return {};
        const auto [low, high] = std::minmax(start_.col, end_.col);
        return line_text(*line, low, high + 1u);
    }
    const auto [first, last] = ordered(start_, end_);
    std::string text;
    for (std::size_t i = first.line; i <= last.line; ++i) {
        const VtLine* line = at(i);
        if (!line) break;
        const bool is_last = i == last.line;
        if (mode_ == VT_SELECTION_RECTANGLE) {
            const auto [low, high] = std::minmax(start_.col, end_.col);
            text += line_text(*line, low, high + 1u, is_last ? "" : "\n");
            continue;
        }
        const std::size_t from = i == first.line ? first.col : 0;
        const std::size_t to = is_last ? last.col + 1u : 0;
        const VtLine* next = at(i + 1);
        const bool joins_next = next && next->rejoinable;
        text += line_text(*line, from, to, is_last || joins_next ? "" : "\n");
    }
    return text;
}

void VtSelection::shift(std::size_t at, std::ptrdiff_t delta) {
    if (delta < 0 && active()) {
        const auto removed = static_cast<std::size_t>(-delta);
        const auto [first, last] = ordered(start_, end_);
        if (first.line >= at && last.line - at < removed) {
            mode_ = VT_SELECTION_NONE;
            return;
        }
    }
    shift_line_index(start_.line, at, delta);
    shift_line_index(end_.line, at, delta);
    shift_line_index(pending_anchor_.line, at, delta);
}

void VtSelection::remap(const std::function<VtTextPoint(VtTextPoint)>& map) {
    start_ = map(start_);
    end_ = map(end_);
    pending_anchor_ = map(pending_anchor_);
}

}  // namespace zelto
