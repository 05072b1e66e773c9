// Line list operations of the screen model: every change of the lines goes through here, and
// every stored line index follows the lines it refers to.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "config/settings.hpp"
#include "terminal/vt.hpp"

namespace zelto {

VtLine VtLine::copy_content() const {
    VtLine copy;
    copy.cells = cells;
    if (links) copy.links = std::make_unique<std::vector<std::string>>(*links);
    copy.command = command;
    copy.damage = damage;
    copy.reflowable = reflowable;
    copy.rejoinable = rejoinable;
    copy.was_wrapped = was_wrapped;
    copy.mark_explicit = mark_explicit;
    copy.mark_command_invoke = mark_command_invoke;
    copy.mark_command_output_start = mark_command_output_start;
    copy.mark_command_output_end = mark_command_output_end;
    return copy;
}

std::size_t VtLine::add_link(const std::string& text) {
    if (!links) {
        links = std::make_unique<std::vector<std::string>>();
        links->reserve(1);
    }
    const auto found = std::find(links->begin(), links->end(), text);
    if (found != links->end()) return static_cast<std::size_t>(found - links->begin());
    links->push_back(text);
    return links->size() - 1;
}

// A line the renderer never drew has no proxy to give back: most lines that scroll away in a flood.
void Vt::destroy_proxy(VtLineProxy& proxy) {
    if (proxy.empty()) return;
    callbacks_.destroy_line_proxy(proxy);
    proxy = VtLineProxy{};
}

void Vt::release_line(VtLine& line) {
    line.links.reset();
    destroy_proxy(line.proxy);
    line.cells = VtCells();
    line.command.reset();
}

void Vt::release_lines(std::vector<VtLine>& lines) {
    for (VtLine& line : lines) release_line(line);
    lines.clear();
}

void Vt::mark_full(VtLine& line) {
    line.damage.mark_full();
    changed_ = repaint_required_ = true;
}

// The effective background of the current attributes differs from the default background:
// new and erased lines then carry it (background-colour erase).
bool Vt::background_is_default() const {
    return effective_bg(current_attributes_) == default_bg_;
}

// Built in place: a line is large enough that a temporary costs its zeroing, its move and its
// destruction on every line feed.
void Vt::add_line_with_background(std::vector<VtLine>& lines) const {
    VtLine& line = lines.emplace_back();
    if (!background_is_default()) line.cells.assign(cols_, current_attributes_);
}

void Vt::reserve_cells(VtLine& line, std::size_t count) {
    // Short text gets a few cells; anything longer is sized for the full width at once, so a
    // scrollback line costs one allocation of `cols` cells, or none when a line that scrolled
    // away left its storage.
    if (count <= line.cells.capacity()) return;
    if (count <= VtLine::INITIAL_CAPACITY) {
        line.cells.reserve(VtLine::INITIAL_CAPACITY);
        return;
    }
    const std::size_t wanted = std::max<std::size_t>(count, cols_);
    if (!spare_cells_.empty() && spare_cells_.back().capacity() >= wanted) {
        VtCells cells = std::move(spare_cells_.back());
        spare_cells_.pop_back();
        spare_cells_bytes_ -= cells.capacity() * sizeof(VtCell);
        cells.assign(line.cells.begin(), line.cells.end());
        line.cells.swap(cells);
        return;
    }
    line.cells.reserve(wanted);
}

void Vt::recycle_line(VtLine& line) {
    VtCells cells = std::move(line.cells);
    release_line(line);
    const std::size_t bytes = cells.capacity() * sizeof(VtCell);
    if (cells.capacity() < cols_ || spare_cells_bytes_ + bytes > SPARE_CELLS_LIMIT) return;
    cells.clear();
    spare_cells_.push_back(std::move(cells));
    spare_cells_bytes_ += bytes;
}

void Vt::renew_line(VtLine& line) {
    VtCells cells = std::move(line.cells);
    release_line(line);
    line = VtLine(std::move(cells));
    if (!background_is_default()) line.cells.assign(cols_, current_attributes_);
}

void Vt::ensure_cell(VtLine& line, std::size_t col) {
    if (line.cells.size() > col) return;
    reserve_cells(line, col + 1);
    append_copies(line.cells, col + 1 - line.cells.size(), blank_cell_);
}

void Vt::ensure_cursor_line() {
    while (lines_.size() <= row_) lines_.emplace_back();
}

// Index bookkeeping -----------------------------------------------------------------------------

void Vt::shift_line_indexes(std::size_t at, std::ptrdiff_t delta, bool keep_cursor) {
    if (scrolled_back_ && !alternate_screen_active()) scrollback_grew_while_viewing_ = true;
    if (!keep_cursor) {
        shift_line_index(row_, at, delta);
        if (scrolled_back_) shift_line_index(view_top_, at, delta);
    }
    selection_.shift(at, delta);
    shift_last_char(at, delta);
    if (tracked_line_index_) shift_line_index(*tracked_line_index_, at, delta);
    shift_line_index(link_detector_.start.line, at, delta);
    for (const auto& command : command_history_) {
        shift_line_index(command->start_row, at, delta);
        shift_line_index(command->output_start_row, at, delta);
        shift_line_index(command->output_end_row, at, delta);
    }
    if (in_synchronized_update()) {
        const auto removed = delta < 0 ? static_cast<std::size_t>(-delta) : 0;
        for (VtSnapshotEntry& entry : snapshot_) {
            if (!entry.in_use) continue;
            if (removed != 0 && entry.live_index >= at && entry.live_index - at < removed) {
                entry.in_use = false;
            } else {
                shift_line_index(entry.live_index, at, delta);
            }
        }
    }
}

// The last character follows its line, so a combining mark in the next read still finds it after
// the scrollback was trimmed; a removed line takes it along.
void Vt::shift_last_char(std::size_t at, std::ptrdiff_t delta) {
    if (!last_char_.recorded || last_char_.row < at) return;
    if (delta < 0 && last_char_.row - at < static_cast<std::size_t>(-delta)) {
        last_char_.recorded = false;
        return;
    }
    shift_line_index(last_char_.row, at, delta);
}

namespace {

// libstdc++'s debug containers keep pointers back to themselves, so their bytes cannot move.
#if defined(_GLIBCXX_DEBUG)
#error "the screen model moves lines as bytes: build without _GLIBCXX_DEBUG"
#endif

// Moves the lines from `first` to `last` (either way along the list) one place towards `first`,
// and the line at `first` to `last`. A line's members (a vector, smart pointers and plain
// values) never point into the line itself, so its bytes can move as they are, as relocating
// containers treat such types: a region scroll costs one memmove rather than a member-wise move
// of every line in the region.
void rotate_lines(VtLine* first, VtLine* last) noexcept {
    if (first == last) return;
    alignas(VtLine) std::byte leaving[sizeof(VtLine)];
    std::memcpy(leaving, static_cast<void*>(first), sizeof(VtLine));
    if (first < last) {
        std::memmove(static_cast<void*>(first), first + 1, static_cast<std::size_t>(last - first) * sizeof(VtLine));
    } else {
        std::memmove(static_cast<void*>(last + 1), last, static_cast<std::size_t>(first - last) * sizeof(VtLine));
    }
    std::memcpy(static_cast<void*>(last), leaving, sizeof(VtLine));
}

}  // namespace

// Scrolling part of the screen moves the lines themselves, each with its renderer caches, and
// the line that leaves becomes the new one, keeping its cell storage.
void Vt::scroll_lines_up(std::size_t first, std::size_t last) {
    while (lines_.size() <= last) lines_.emplace_back();
    rotate_lines(&lines_[first], &lines_[last]);
    renew_line(lines_[last]);
    shift_line_indexes(first, -1, true);
    shift_line_indexes(last, 1, true);
    changed_ = repaint_required_ = true;
}

void Vt::scroll_lines_down(std::size_t first, std::size_t last) {
    while (lines_.size() <= last) lines_.emplace_back();
    rotate_lines(&lines_[last], &lines_[first]);
    renew_line(lines_[first]);
    shift_line_indexes(last, -1, true);
    shift_line_indexes(first, 1, true);
    changed_ = repaint_required_ = true;
}

// Scrolling -------------------------------------------------------------------------------------

void Vt::line_feed() {
    const std::size_t top = screen_top();
    const std::size_t region_bottom = top + scroll_region_bottom_;
    const bool whole_screen = scroll_region_top_ == 0 && scroll_region_bottom_ == rows_ - 1;
    last_char_.recorded = false;
    if (row_ == region_bottom) {
        if (whole_screen && !alternate_screen_active()) {
            // The top line becomes scrollback.
            add_line_with_background(lines_);
            if (scrolled_back_) scrollback_grew_while_viewing_ = true;
            ++row_;
        } else {
            // In a region, and on the alternate screen which has no scrollback, the top line of
            // the region goes away.
            scroll_region_up();
        }
    } else if (row_ < top + rows_ - 1) {
        ++row_;
    }
    place_cursor(row_ - screen_top(), col_);
    mark_full(lines_[row_]);
}

void Vt::scroll_region_up() {
    const std::size_t top = screen_top();
    scroll_lines_up(top + scroll_region_top_, top + scroll_region_bottom_);
    last_char_.recorded = false;
}

void Vt::scroll_region_down() {
    const std::size_t top = screen_top();
    scroll_lines_down(top + scroll_region_top_, top + scroll_region_bottom_);
    last_char_.recorded = false;
}

void Vt::reverse_index() {
    const std::size_t top = screen_top();
    if (row_ == top + scroll_region_top_) {
        scroll_region_down();
    } else if (row_ > top) {
        place_cursor(row_ - top - 1, col_);
    }
    last_char_.recorded = false;
    changed_ = repaint_required_ = true;
    mark_full(lines_[row_]);
}

void Vt::insert_line_at_cursor() {
    const std::size_t top = screen_top();
    if (row_ < top + scroll_region_top_ || row_ > top + scroll_region_bottom_) return;
    scroll_lines_down(row_, top + scroll_region_bottom_);
    last_char_.recorded = false;
}

void Vt::delete_line_at_cursor() {
    const std::size_t top = screen_top();
    if (row_ < top + scroll_region_top_ || row_ > top + scroll_region_bottom_) return;
    scroll_lines_up(row_, top + scroll_region_bottom_);
    last_char_.recorded = false;
}

void Vt::set_scroll_region(std::uint32_t top, std::uint32_t bottom) {
    bottom = std::min<std::uint32_t>(bottom, rows_ - 1u);
    // A region of fewer than two lines is ignored, as xterm does.
    if (top >= bottom) return;
    scroll_region_top_ = static_cast<std::uint16_t>(top);
    scroll_region_bottom_ = static_cast<std::uint16_t>(bottom);
}

// Erasing ---------------------------------------------------------------------------------------

void Vt::erase_to_end_of_line() {
    ensure_cursor_line();
    VtLine& line = lines_[row_];
    reserve_cells(line, cols_);
    line.cells.resize(cols_, blank_cell_);
    std::fill(line.cells.begin() + col_, line.cells.end(), current_attributes_);
    mark_full(line);
}

void Vt::erase_to_start_of_line() {
    ensure_cursor_line();
    VtLine& line = lines_[row_];
    ensure_cell(line, col_);
    std::fill(line.cells.begin(), line.cells.begin() + col_ + 1, current_attributes_);
    mark_full(line);
}

void Vt::erase_below() {
    ensure_cursor_line();
    for (std::size_t i = row_ + 1; i < lines_.size(); ++i) {
        VtLine& line = lines_[i];
        line.cells.clear();
        if (!background_is_default()) line.cells.assign(cols_, current_attributes_);
        mark_full(line);
    }
    erase_to_end_of_line();
    for (std::size_t i = row_; i < lines_.size(); ++i) {
        destroy_proxy(lines_[i].proxy);
        mark_full(lines_[i]);
    }
}

void Vt::reset_lines(std::vector<VtLine>& lines, bool with_background) {
    release_lines(lines);
    std::vector<VtLine>().swap(lines);
    lines.reserve(VtLine::INITIAL_CAPACITY);
    for (std::uint16_t i = 0; i < rows_; ++i) {
        if (with_background) {
            add_line_with_background(lines);
        } else {
            lines.emplace_back();
        }
    }
}

void Vt::clear_alternate_screen() {
    end_synchronized_update();
    attach_view();
    reset_lines(lines_, true);
    row_ = 0;
    last_char_.recorded = false;
    command_history_.clear();
    changed_ = repaint_required_ = true;
}

void Vt::damage_all() {
    for (VtLine& line : lines_) {
        line.damage.mark_full();
        destroy_proxy(line.proxy);
    }
    for (VtLine& line : alt_lines_) {
        line.damage.mark_full();
        destroy_proxy(line.proxy);
    }
    changed_ = repaint_required_ = true;
}

// Scrollback ------------------------------------------------------------------------------------

void Vt::remove_oldest_lines(std::size_t n) {
    n = std::min(n, lines_.size() > rows_ ? lines_.size() - rows_ : 0);
    if (n == 0) return;
    for (std::size_t i = 0; i < n; ++i) recycle_line(lines_[i]);
    // The recycled lines own nothing any more, so the kept ones move over them as bytes, as in
    // a region scroll. The slots left at the end hold copies of moved lines: they get empty
    // lines of their own before they are erased.
    const std::size_t kept = lines_.size() - n;
    std::memmove(static_cast<void*>(lines_.data()), lines_.data() + n, kept * sizeof(VtLine));
    for (std::size_t i = kept; i < lines_.size(); ++i) std::construct_at(&lines_[i], VtCells());
    lines_.erase(lines_.end() - static_cast<std::ptrdiff_t>(n), lines_.end());
    // Commands whose output scrolled away are forgotten, except the newest running one: its exit
    // status is still to come.
    const std::shared_ptr<VtCommand> running =
        !command_history_.empty() && !command_history_.back()->finished ? command_history_.back()
                                                                         : nullptr;
    std::erase_if(command_history_, [&](const std::shared_ptr<VtCommand>& command) {
        return command->start_row < n && command != running;
    });
    shift_line_indexes(0, -static_cast<std::ptrdiff_t>(n), false);
    changed_ = repaint_required_ = true;
}

void Vt::trim_scrollback() {
    const auto limit = static_cast<std::int64_t>(settings().scrollback);
    const auto count = static_cast<std::int64_t>(lines_.size());
    const auto rows = static_cast<std::int64_t>(rows_);
    if (static_cast<double>(count) <= std::max(1.1 * static_cast<double>(limit), static_cast<double>(rows))) {
        return;
    }
    const std::int64_t excess = count - limit - rows;
    if (excess > 0) remove_oldest_lines(static_cast<std::size_t>(excess));
}

void Vt::enforce_scrollback_limit() {
    if (alternate_screen_active()) return;
    if (!scrolled_back_) {
        trim_scrollback();
        return;
    }
    // Even a reader of old output must not let the history grow without bound.
    const std::size_t limit = settings().scrollback;
    if (lines_.size() > 2 * limit + rows_) remove_oldest_lines(lines_.size() - limit - rows_);
}

void Vt::clear_scrollback() {
    if (alternate_screen_active() || scrolled_back_) return;
    remove_oldest_lines(screen_top());
}

}  // namespace zelto
