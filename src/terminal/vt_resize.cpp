// Resize and reflow: the grid takes a new size, lines that auto-wrap broke flow to the new width
// (scrollback included), rows come and go at the bottom, and the child learns the size.
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>

#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

std::uint16_t to_u16(std::uint32_t value) {
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 0xFFFF));
}

// Trailing blanks of a line that ended with a newline are not content: they go before the
// line is re-wrapped narrower, so they do not wrap into lines of their own.
bool is_reflow_blank(const VtCell& cell) { return cell.link == 0 && is_trimmable_blank_cell(cell); }

void trim_trailing_blanks(VtCells& cells) {
    auto end = cells.end();
    while (end != cells.begin() && is_reflow_blank(*(end - 1))) --end;
    cells.erase(end, cells.end());
}

// The end of the line that starts at `from` when at most `cols` cells fit: a wide character
// that would straddle the edge moves whole to the next line.
std::size_t wrap_end(const VtCells& cells, std::size_t from, std::size_t cols) {
    const std::size_t end = from + cols;
    if (end >= cells.size()) return cells.size();
    std::size_t head = end;
    while (head > from && cells[head].code == VT_WIDE_CHAR_TAIL) --head;
    return head > from ? head : end;
}

}  // namespace

// Rebuilds the line list in one pass: every logical line above the cursor's (a line and the
// `rejoinable` lines that continue it) is joined and re-wrapped at the new width, and every
// stored index is remapped by the same pass. The cursor's logical line and everything below it
// belong to the child, which redraws them after the size change.
class VtReflow {
public:
    VtReflow(Vt& vt, std::uint16_t cols)
        : vt_(vt), old_(vt.lines_), cols_(cols), narrower_(cols < vt.cols_) {}

    void run() {
        const std::size_t count = old_.size();
        std::size_t cursor_start = vt_.row_;
        while (cursor_start > 0 && old_[cursor_start].rejoinable) --cursor_start;
        collect_points();
        out_.reserve(narrower_ ? estimated_count(cursor_start) : count);
        line_map_.resize(count);
        for (std::size_t first = 0; first < cursor_start;) {
            const std::size_t end = logical_line_end(first, cursor_start);
            if (end == first + 1 && fits_as_is(old_[first])) {
                keep(first);
            } else {
                rewrap(first, end);
            }
            first = end;
        }
        for (std::size_t i = cursor_start; i < count; ++i) keep(i);
        fit_height(line_map_[vt_.row_], count);
        vt_.lines_ = std::move(out_);
        remap_indexes(count);
    }

private:
    // The flags of a logical line that its new lines share out.
    struct Marks {
        bool rejoinable = false;
        bool was_wrapped = false;
        bool mark_explicit = false;
        bool mark_command_invoke = false;
        bool mark_command_output_start = false;
        bool mark_command_output_end = false;
        std::shared_ptr<VtCommand> command;
    };

    struct Point {
        VtTextPoint from;
        VtTextPoint to;
        bool mapped = false;
    };

    void collect_points() {
        points_[0].from = vt_.selection_.start();
        points_[1].from = vt_.selection_.end();
    }

    // An upper bound of the new line count when narrowing: every line re-wrapped on its own.
    std::size_t estimated_count(std::size_t limit) const {
        std::size_t count = old_.size() - limit;
        for (std::size_t i = 0; i < limit; ++i) {
            count += std::max<std::size_t>(1, (old_[i].cells.size() + cols_ - 1) / cols_);
        }
        return count;
    }

    std::size_t logical_line_end(std::size_t first, std::size_t limit) const {
        std::size_t end = first + 1;
        if (!old_[first].reflowable) return end;
        while (end < limit && old_[end].rejoinable && old_[end].reflowable) ++end;
        return end;
    }

    bool fits_as_is(VtLine& line) const {
        if (!line.reflowable) return true;
        if (narrower_ && !line.was_wrapped) trim_trailing_blanks(line.cells);
        return line.cells.size() <= cols_;
    }

    void keep(std::size_t index) {
        line_map_[index] = out_.size();
        out_.push_back(std::move(old_[index]));
    }

    void rewrap(std::size_t first, std::size_t end) {
        join(first, end);
        split();
        const std::size_t first_new = out_.size();
        for (std::size_t piece = 0; piece < starts_.size(); ++piece) {
            // The old lines lend their storage to the new ones: their cells are in `cells_`.
            const std::size_t shell = first + piece;
            out_.push_back(make_line(shell < end ? recycle(old_[shell]) : VtLine{}, piece));
        }
        map_old_lines(first, end, first_new);
        for (std::size_t i = first + starts_.size(); i < end; ++i) vt_.release_line(old_[i]);
    }

    VtLine recycle(VtLine& old) {
        VtLine line = std::move(old);
        vt_.destroy_proxy(line.proxy);
        line.links.reset();
        line.command.reset();
        line.damage.mark_full();
        line.reflowable = true;
        line.mark_explicit = line.mark_command_invoke = false;
        line.mark_command_output_start = line.mark_command_output_end = false;
        return line;
    }

    // The cells of old lines [first, end) end to end in `cells_`; their links are numbered in
    // `links_` for the whole logical line.
    void join(std::size_t first, std::size_t end) {
        cells_.clear();
        offsets_.clear();
        links_.clear();
        link_index_.clear();
        for (std::size_t i = first; i < end; ++i) {
            VtLine& line = old_[i];
            if (narrower_ && !line.was_wrapped) trim_trailing_blanks(line.cells);
            offsets_.push_back(cells_.size());
            const std::size_t at = cells_.size();
            cells_.insert(cells_.end(), line.cells.begin(), line.cells.end());
            if (line.links) renumber_links(line, at);
        }
        collect_marks(first, end);
    }

    void collect_marks(std::size_t first, std::size_t end) {
        marks_ = Marks{};
        marks_.rejoinable = old_[first].rejoinable;
        marks_.was_wrapped = old_[end - 1].was_wrapped;
        for (std::size_t i = first; i < end; ++i) {
            const VtLine& line = old_[i];
            marks_.mark_explicit = marks_.mark_explicit || line.mark_explicit;
            marks_.mark_command_invoke = marks_.mark_command_invoke || line.mark_command_invoke;
            marks_.mark_command_output_start = marks_.mark_command_output_start || line.mark_command_output_start;
            marks_.mark_command_output_end = marks_.mark_command_output_end || line.mark_command_output_end;
            if (!marks_.command) marks_.command = line.command;
        }
    }

    void renumber_links(const VtLine& line, std::size_t at) {
        std::vector<std::uint16_t> renumbered(line.links->size(), 0);
        for (std::size_t i = 0; i < line.links->size(); ++i) {
            const std::string& text = (*line.links)[i];
            auto [it, added] = link_index_.try_emplace(text, links_.size());
            if (added) links_.push_back(text);
            // A logical line with more links than a cell can name loses the excess links.
            renumbered[i] = it->second < 0xFFFF ? static_cast<std::uint16_t>(it->second + 1) : 0;
        }
        for (std::size_t c = at; c < cells_.size(); ++c) {
            VtCell& cell = cells_[c];
            if (cell.link != 0) cell.link = cell.link <= renumbered.size() ? renumbered[cell.link - 1u] : 0;
        }
    }

    // Where each new line starts in `cells_`; an empty logical line is one empty line.
    void split() {
        starts_.clear();
        std::size_t at = 0;
        do {
            starts_.push_back(at);
            at = wrap_end(cells_, at, cols_);
        } while (at < cells_.size());
    }

    std::size_t piece_end(std::size_t piece) const {
        return piece + 1 < starts_.size() ? starts_[piece + 1] : cells_.size();
    }

    VtLine make_line(VtLine line, std::size_t piece) {
        const auto from = cells_.begin() + static_cast<std::ptrdiff_t>(starts_[piece]);
        const auto to = cells_.begin() + static_cast<std::ptrdiff_t>(piece_end(piece));
        line.cells.assign(from, to);
        // A recycled long line does not keep room for cells that went to the lines after it.
        if (line.cells.capacity() > 2 * line.cells.size() + VtLine::INITIAL_CAPACITY) line.cells.shrink_to_fit();
        if (!links_.empty()) register_links(line);
        const bool is_first = piece == 0;
        const bool is_last = piece + 1 == starts_.size();
        line.rejoinable = is_first ? marks_.rejoinable : true;
        line.was_wrapped = is_last ? marks_.was_wrapped : true;
        // The logical line's start marks go to its first line, its end mark to the last, and a
        // typed command covers every line.
        if (is_first) {
            line.mark_explicit = marks_.mark_explicit;
            line.mark_command_output_start = marks_.mark_command_output_start;
            line.command = marks_.command;
        }
        line.mark_command_output_end = is_last && marks_.mark_command_output_end;
        line.mark_command_invoke = marks_.mark_command_invoke;
        return line;
    }

    void register_links(VtLine& line) {
        for (VtCell& cell : line.cells) {
            if (cell.link == 0) continue;
            cell.link = to_u16(static_cast<std::uint32_t>(line.add_link(links_[cell.link - 1u]) + 1));
        }
    }

    std::size_t piece_of(std::size_t offset) const {
        const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
        return static_cast<std::size_t>(after - starts_.begin()) - 1;
    }

    void map_old_lines(std::size_t first, std::size_t end, std::size_t first_new) {
        for (std::size_t i = first; i < end; ++i) {
            line_map_[i] = first_new + piece_of(offsets_[i - first]);
        }
        for (Point& point : points_) {
            if (point.mapped || point.from.line < first || point.from.line >= end) continue;
            const std::size_t offset = offsets_[point.from.line - first] + point.from.col;
            const std::size_t piece = piece_of(offset);
            const std::size_t col = std::min<std::size_t>(offset - starts_[piece], cols_ - 1u);
            point.to = {first_new + piece, static_cast<std::uint16_t>(col)};
            point.mapped = true;
        }
    }

    // Narrowing added lines: as many go from the bottom again, below the cursor only and while
    // the screen stays full, so short output does not scroll away. Widening removed lines: the
    // screen is filled up with empty ones.
    void fit_height(std::size_t cursor, std::size_t old_count) {
        std::size_t excess = out_.size() > old_count ? out_.size() - old_count : 0;
        while (excess > 0 && out_.size() > cursor + 1 && out_.size() > vt_.rows_) {
            vt_.release_line(out_.back());
            out_.pop_back();
            --excess;
        }
        while (out_.size() < vt_.rows_) out_.emplace_back();
    }

    void remap_indexes(std::size_t old_count) {
        const std::size_t last = vt_.lines_.size() - 1;
        const auto line = [&](std::size_t index) {
            return index < old_count ? std::min(line_map_[index], last) : last;
        };
        const auto point = [&](VtTextPoint p) {
            for (const Point& known : points_) {
                if (known.mapped && known.from == p) return known.to;
            }
            return VtTextPoint{line(p.line), p.col};
        };
        vt_.remap_line_indexes(line, point);
        // The saved cursor row is relative to the screen; it follows its line too.
        const std::size_t old_top = old_count > vt_.rows_ ? old_count - vt_.rows_ : 0;
        const std::size_t saved = line(old_top + vt_.saved_cursor_.row);
        const std::size_t top = vt_.screen_top();
        vt_.saved_cursor_.row = to_u16(static_cast<std::uint32_t>(saved > top ? saved - top : 0));
    }

    Vt& vt_;
    std::vector<VtLine>& old_;
    const std::uint16_t cols_;
    const bool narrower_;
    std::vector<VtLine> out_;
    // The new index of the first cell of every old line.
    std::vector<std::size_t> line_map_;
    std::array<Point, 2> points_{};
    Marks marks_;
    VtCells cells_;
    std::vector<std::size_t> offsets_;
    std::vector<std::size_t> starts_;
    std::vector<std::string> links_;
    std::map<std::string, std::size_t> link_index_;
};

void Vt::resize(std::uint32_t cols, std::uint32_t rows) {
    if (cols < 2 || rows < 2) return;
    end_synchronized_update();
    if (!alternate_screen_active()) cut_long_lines();
    const std::uint16_t new_cols = to_u16(cols);
    const std::uint16_t new_rows = to_u16(rows);
    // The same grid again keeps the scroll region, margins and tab stops the child set up.
    if (new_cols != cols_ || new_rows != rows_) change_grid(new_cols, new_rows);
    saved_cursor_.col = std::min<std::uint16_t>(saved_cursor_.col, static_cast<std::uint16_t>(cols_ - 1));
    saved_cursor_.row = std::min<std::uint16_t>(saved_cursor_.row, static_cast<std::uint16_t>(rows_ - 1));
    set_pty_size();
}

// Cells past the old width are not shown; they go, and with them the blanks that ended a line.
// A wide character whose head is inside keeps its tail.
void Vt::cut_long_lines() {
    for (VtLine& line : lines_) {
        std::size_t end = cols_;
        while (end < line.cells.size() && line.cells[end].code == VT_WIDE_CHAR_TAIL) ++end;
        if (line.cells.size() <= end) continue;
        line.cells.resize(end);
        if (!line.was_wrapped) {
            while (!line.cells.empty() && line.cells.back().code == U' ' &&
                   effective_bg(line.cells.back()) == default_bg_) {
                line.cells.pop_back();
            }
        }
        mark_full(line);
        destroy_proxy(line.proxy);
    }
}

void Vt::change_grid(std::uint16_t cols, std::uint16_t rows) {
    const bool whole_screen = scroll_region_top_ == 0 && scroll_region_bottom_ == rows_ - 1;
    const bool reflow = !alternate_screen_active() && whole_screen;
    // A rectangle has no meaning across a reflow; elsewhere the lines do not follow their text.
    if (!reflow || selection_.mode() == VT_SELECTION_RECTANGLE) selection_clear();
    if (reflow && cols != cols_) VtReflow(*this, cols).run();
    resize_rows(rows);
    cols_ = cols;
    rows_ = rows;
    scroll_region_top_ = 0;
    scroll_region_bottom_ = static_cast<std::uint16_t>(rows_ - 1);
    left_margin_ = 0;
    right_margin_ = static_cast<std::uint16_t>(cols_ - 1);
    tab_stops_.assign(cols_, false);
    for (std::size_t c = 0; c < cols_; c += tab_width_) tab_stops_[c] = true;
    // The column is clamped now, before a tab stop, an erase or a print can use it.
    col_ = std::min<std::uint16_t>(col_, static_cast<std::uint16_t>(cols_ - 1));
    wrap_pending_ = false;
    last_char_.recorded = false;
    if (scrolled_back_ && view_top_ > screen_top()) attach_view();
    damage_all();
    request_repaint();
}

// Fewer rows release the lines below the cursor first; the rest of the difference moves lines
// into the scrollback, or on the alternate screen, which has none, releases them from the top.
void Vt::resize_rows(std::uint16_t rows) {
    const auto fit = [&](std::vector<VtLine>& lines, std::size_t cursor_row) {
        std::size_t excess = rows < rows_ ? rows_ - rows : 0;
        while (excess > 0 && lines.size() > cursor_row + 1) {
            release_line(lines.back());
            lines.pop_back();
            --excess;
        }
        // More rows are new lines at the bottom: the scrollback is not pulled back into view.
        for (std::size_t added = rows_; added < rows; ++added) lines.emplace_back();
        while (lines.size() < rows) lines.emplace_back();
        return excess;
    };
    if (alternate_screen_active()) {
        // The 1049 slot keeps its line of the parked buffer, whose lines below it go first.
        const auto top = [&](std::size_t screen_rows) {
            return alt_lines_.size() > screen_rows ? alt_lines_.size() - screen_rows : 0;
        };
        const std::size_t saved = std::min(top(rows_) + alt_saved_row_, alt_lines_.size() - 1);
        fit(alt_lines_, saved);
        const std::size_t new_top = top(rows);
        const std::size_t row = saved > new_top ? saved - new_top : 0;
        alt_saved_row_ = to_u16(static_cast<std::uint32_t>(std::min<std::size_t>(row, rows - 1u)));
    }
    const std::size_t excess = fit(lines_, row_);
    if (alternate_screen_active() && excess > 0) {
        for (std::size_t i = 0; i < excess; ++i) release_line(lines_[i]);
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(excess));
        shift_line_indexes(0, -static_cast<std::ptrdiff_t>(excess), false);
        while (lines_.size() < rows) lines_.emplace_back();
    }
    const std::size_t last = lines_.size() - 1;
    const auto clamp = [last](std::size_t index) { return std::min(index, last); };
    remap_line_indexes(clamp, [&](VtTextPoint p) { return VtTextPoint{clamp(p.line), p.col}; });
}

void Vt::remap_line_indexes(const std::function<std::size_t(std::size_t)>& line,
                            const std::function<VtTextPoint(VtTextPoint)>& point) {
    row_ = line(row_);
    if (scrolled_back_) view_top_ = line(view_top_);
    if (tracked_line_index_) *tracked_line_index_ = line(*tracked_line_index_);
    for (const auto& command : command_history_) {
        command->start_row = line(command->start_row);
        command->output_start_row = line(command->output_start_row);
        command->output_end_row = line(command->output_end_row);
    }
    selection_.remap(point);
    link_detector_.start = point(link_detector_.start);
}

// The child learns the grid and its pixel size from the kernel's window-size signal.
void Vt::set_pty_size() {
    const PixelSize pixels = callbacks_.get_pixel_size_for_cells(cols_, rows_);
    winsize_ = {rows_, cols_, to_u16(pixels.width), to_u16(pixels.height)};
    cell_width_ = static_cast<double>(pixels.width) / cols_;
    cell_height_ = static_cast<double>(pixels.height) / rows_;
    if (pty_fd_ <= 1) return;
    if (ioctl(pty_fd_, TIOCSWINSZ, &winsize_) != 0) {
        warn("ioctl(%d, TIOCSWINSZ, winsize { %d, %d, %d, %d }) failed:  %s\n", pty_fd_,
             winsize_.ws_col, winsize_.ws_row, winsize_.ws_xpixel, winsize_.ws_ypixel, std::strerror(errno));
    }
}

}  // namespace zelto
