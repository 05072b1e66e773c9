#include "terminal/vt.hpp"

#include <algorithm>
#include <cstdio>

#include "config/settings.hpp"
#include "terminal/debug_text.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

std::uint16_t clamp_size(std::uint32_t value) {
    return static_cast<std::uint16_t>(std::clamp<std::uint32_t>(value, 1, 0xFFFF));
}

}  // namespace

Vt::Vt(std::uint32_t cols, std::uint32_t rows, VtCallbacks& callbacks)
    : callbacks_(callbacks), cols_(clamp_size(cols)), rows_(clamp_size(rows)) {
    scroll_region_bottom_ = static_cast<std::uint16_t>(rows_ - 1);
    right_margin_ = static_cast<std::uint16_t>(cols_ - 1);
    load_colors();
    reset_attributes();
    blank_cell_ = current_attributes_;
    lines_.reserve(VtLine::INITIAL_CAPACITY);
    for (std::uint16_t i = 0; i < rows_; ++i) lines_.emplace_back();
    const Settings& s = settings();
    cursor_shape_ = s.cursor_style.shape;
    cursor_blinking_ = s.cursor_style.blinking;
    reset_tab_stops();
    // DECRC before any DECSC homes the cursor with the default attributes, as xterm does.
    save_cursor();
}

Vt::~Vt() {
    for (VtSnapshotEntry& entry : snapshot_) release_line(entry.copy);
    release_lines(lines_);
    release_lines(alt_lines_);
}

void Vt::load_colors() {
    const Settings& s = settings();
    default_fg_ = s.fg_color;
    default_bg_ = s.bg_color;
    bold_is_bright_ = s.bold_is_bright;
    palette_ = build_palette(s.colors);
}

void Vt::reset_attributes() {
    current_attributes_ = VtCell{};
    current_attributes_.set_fg_index(VT_DEFAULT_FG_INDEX);
    current_attributes_.set_bg_index(VT_DEFAULT_BG_INDEX);
}

void Vt::reset_tab_stops() {
    tab_width_ = 8;
    tab_stops_.assign(cols_, false);
    for (std::size_t c = 0; c < cols_; c += tab_width_) tab_stops_[c] = true;
}

// Colours ---------------------------------------------------------------------------------------

ColorRGB Vt::resolve_fg(const VtCell& cell) const {
    if (!cell.has(VT_CELL_FG_IS_PALETTE_INDEX)) return {cell.fg[0], cell.fg[1], cell.fg[2]};
    unsigned index = cell.fg_index();
    if (index == VT_DEFAULT_FG_INDEX) return default_fg_;
    if (bold_is_bright_ && cell.font_style == VT_FONT_STYLE_BOLD && index < 8) index += 8;
    return palette_[index & 0xFF];
}

ColorRGBA Vt::resolve_bg(const VtCell& cell) const {
    if (!cell.has(VT_CELL_BG_IS_PALETTE_INDEX)) return {cell.bg[0], cell.bg[1], cell.bg[2], cell.bg[3]};
    const int index = cell.bg_index();
    if (index == VT_DEFAULT_BG_INDEX) return default_bg_;
    const ColorRGB c = palette_[static_cast<unsigned>(index) & 0xFF];
    return {c.r, c.g, c.b, 255};
}

ColorRGB Vt::effective_fg(const VtCell& cell) const {
    if (!cell.has(VT_CELL_INVERTED)) return resolve_fg(cell);
    const ColorRGBA bg = resolve_bg(cell);
    return {bg.r, bg.g, bg.b};
}

ColorRGBA Vt::effective_bg(const VtCell& cell) const {
    if (!cell.has(VT_CELL_INVERTED)) return resolve_bg(cell);
    const ColorRGB fg = resolve_fg(cell);
    return {fg.r, fg.g, fg.b, 255};
}

// Interpreting ----------------------------------------------------------------------------------

void Vt::interpret(std::string_view bytes) {
    if (settings().debug_pty) {
        std::fprintf(stderr, "pty.read (%3zu) ~> { %s }\n\n", bytes.size(), visualise(bytes).c_str());
    }
    if (in_synchronized_update() &&
        mono_diff_ns(mono_now(), snapshot_began_) > SYNCHRONIZED_UPDATE_TIMEOUT_NS) {
        end_synchronized_update();
    }
    changed_ = repaint_required_ = cursor_blink_changed_ = false;
    scrollback_grew_while_viewing_ = progress_changed_ = false;
    parser_.feed(bytes, *this);
    enforce_scrollback_limit();
    fire_notifications();
    if (lines_.size() > 2 * static_cast<std::size_t>(settings().scrollback)) enforce_scrollback_limit();
}

void Vt::fire_notifications() {
    if (changed_) callbacks_.on_activity();
    if (repaint_required_) callbacks_.request_repaint();
    if (cursor_blink_changed_) callbacks_.on_cursor_blink_changed(cursor_blinking_);
    if (scrollback_grew_while_viewing_) callbacks_.on_scroll_position_changed();
    if (progress_changed_) callbacks_.on_progress_changed();
}

void Vt::request_repaint() {
    repaint_required_ = true;
    repaint_everything_ = true;
}

void Vt::string_dispatch(VtStringKind kind, std::string_view text) {
    if (kind == VT_STRING_LEGACY_TITLE) {
        title_.assign(text);
        callbacks_.set_title(title_.c_str());
    }
    // OSC, DCS and APC commands are interpreted by their own handlers.
}

void Vt::string_overflow(VtStringKind kind) {
    static constexpr const char* NAMES[] = {"OSC", "DCS", "APC", "title"};
    static constexpr const char* FORMAT = "%s string too long, discarded\n";
    if (warnings_.allow(FORMAT)) warn(FORMAT, NAMES[kind]);
}

// Output queue ----------------------------------------------------------------------------------

std::string_view Vt::pending_output(std::size_t maximum) const {
    std::string_view queued(output_);
    queued.remove_prefix(output_front_);
    return queued.substr(0, maximum);
}

void Vt::consume_output(std::size_t count) {
    output_front_ = std::min(output_.size(), output_front_ + count);
    // Compact only once the consumed front dominates, so consuming stays O(1) amortised.
    if (output_front_ == output_.size()) {
        output_.clear();
        output_front_ = 0;
    } else if (output_front_ > output_.size() / 2) {
        output_.erase(0, output_front_);
        output_front_ = 0;
    }
}

void Vt::queue_output(std::string_view bytes) { output_.append(bytes); }

void Vt::queue_reply(std::string_view bytes) {
    if (output_.size() - output_front_ > REPLY_QUEUE_LIMIT) {
        if (!reply_dropped_warned_) {
            warn("Program does not read its input: replies to its queries are dropped\n");
            reply_dropped_warned_ = true;
        }
        return;
    }
    reply_dropped_warned_ = false;
    output_.append(bytes);
}

// The scrolled-back view ------------------------------------------------------------------------

void Vt::scroll_view_to(std::size_t top) {
    end_synchronized_update();
    const std::size_t screen = screen_top();
    if (top >= screen) {
        attach_view();
        return;
    }
    scrolled_back_ = true;
    view_top_ = top;
    request_repaint();
}

void Vt::attach_view() {
    end_synchronized_update();
    if (!scrolled_back_) return;
    scrolled_back_ = false;
    view_top_ = 0;
    request_repaint();
}

void Vt::selection_clear() {
    if (selection_.clear(lines_)) callbacks_.on_selection_cleared();
}

VtLine* Vt::visible_line(std::size_t i) {
    if (in_synchronized_update()) return i < snapshot_.size() ? &snapshot_[i].copy : nullptr;
    const std::size_t index = visible_top() + i;
    return i < rows_ && index < lines_.size() ? &lines_[index] : nullptr;
}

}  // namespace zelto
