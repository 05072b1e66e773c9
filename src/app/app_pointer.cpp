// Pointer gestures: the title-bar buttons, wheel and scrollbar, selection by drag, multi-click
// and extension, middle-click paste, Ctrl-click on links, autoscroll past the edges and the
// pointer shape.
#include <algorithm>
#include <cstdlib>

#include "app/app.hpp"
#include "config/settings.hpp"

namespace zelto {

namespace {

constexpr std::uint32_t BUTTON_LEFT = 1;
constexpr std::uint32_t BUTTON_MIDDLE = 2;
constexpr std::uint32_t BUTTON_RIGHT = 3;
constexpr std::uint32_t WHEEL_UP = 65;
constexpr std::uint32_t WHEEL_DOWN = 66;
constexpr std::int64_t MULTI_CLICK_MS = 300;
constexpr std::int64_t AUTOSCROLL_MS = 30;
constexpr std::int32_t EDGE_PIXELS = 2;
constexpr std::int32_t BUTTON_RADIUS_SQUARED = 144;

}  // namespace

App::GridPoint App::to_grid(std::int32_t x, std::int32_t y) const {
    return {std::clamp<std::int32_t>(x - ui_.grid_x_offset, 0,
                                     static_cast<std::int32_t>(window_size_.width)),
            std::clamp<std::int32_t>(y - ui_.grid_y_offset, 0,
                                     static_cast<std::int32_t>(window_size_.height))};
}

VtTextPoint App::cell_under(GridPoint point) const {
    const PixelSize cell = gfx_->get_pixel_size({1, 1});
    const std::int64_t last_col = std::max<std::int64_t>(vt_->cols(), 1) - 1;
    const std::int64_t last_row = std::max<std::int64_t>(vt_->rows(), 1) - 1;
    const std::int64_t col = cell.width ? point.x / static_cast<std::int64_t>(cell.width) : 0;
    const std::int64_t row = cell.height ? point.y / static_cast<std::int64_t>(cell.height) : 0;
    return {vt_->visible_top() + static_cast<std::size_t>(std::clamp<std::int64_t>(row, 0, last_row)),
            static_cast<std::uint16_t>(std::clamp<std::int64_t>(col, 0, last_col))};
}

// Title bar ---------------------------------------------------------------------------------------

const TitleBarButton* App::title_bar_button_at(std::int32_t x, std::int32_t y) const {
    for (const TitleBarButton& button : ui_.title_bar_buttons) {
        const std::int32_t dx = x - button.x, dy = y - button.y;
        if (dx * dx + dy * dy <= BUTTON_RADIUS_SQUARED) return &button;
    }
    return nullptr;
}

bool App::handle_title_bar_button(std::uint32_t button, bool pressed, std::int32_t x,
                                  std::int32_t y) {
    if (!has_title_bar() || y > static_cast<std::int32_t>(TITLE_BAR_HEIGHT)) return false;
    if (!pressed && button == BUTTON_LEFT && y < static_cast<std::int32_t>(TITLE_BAR_HEIGHT) - 1) {
        if (const TitleBarButton* hit = title_bar_button_at(x, y)) {
            switch (hit->kind) {
                case 0: exit_requested_ = true; break;
                case 1: window_->set_maximized(!window_->has_flag(WINDOW_IS_MAXIMIZED)); break;
                case 2: window_->minimize(); break;
            }
        }
    } else if (!pressed && button == BUTTON_MIDDLE) {
        window_->minimize();
    }
    return true;
}

void App::update_title_bar_hover(std::int32_t x, std::int32_t y) {
    bool changed = false;
    const bool in_bar = has_title_bar() && y <= static_cast<std::int32_t>(TITLE_BAR_HEIGHT);
    const TitleBarButton* hit = in_bar ? title_bar_button_at(x, y) : nullptr;
    for (TitleBarButton& button : ui_.title_bar_buttons) {
        const float hover = &button == hit ? 1.0f : 0.0f;
        changed |= button.hover != hover;
        button.hover = hover;
    }
    if (changed) {
        ui_.title_bar_redraw = true;
        gfx_->invalidate();
        request_repaint();
    }
}

// View scrolling ----------------------------------------------------------------------------------

// One line at a time, so that the view stops where the history or the screen ends. Inside
// keyboard select mode the view moves without detaching or attaching.
void App::scroll_view_lines(std::int32_t lines) {
    const bool outside_select = !keyboard_select_.active();
    for (std::int32_t i = 0; i < std::abs(lines); ++i) {
        const bool moved = lines < 0 ? vt_->view_line_up(outside_select)
                                     : vt_->view_line_down(outside_select);
        if (!moved) break;
    }
    if (keyboard_select_.active()) keyboard_select_.clamp_into_view();
}

void App::handle_wheel(std::uint32_t button, std::int32_t steps) {
    show_scrollbar();
    const std::int32_t lines = steps != 0 ? std::abs(steps) : settings().scroll_lines;
    scroll_view_lines(button == WHEEL_UP ? -lines : lines);
    update_scrollbar_geometry();
}

// Scrollbar ---------------------------------------------------------------------------------------

float App::to_scrollbar_units(std::int32_t window_y) const {
    return window_size_.height ? 2.0f * static_cast<float>(window_y) / window_size_.height : 0.0f;
}

void App::scroll_view_to_thumb(float thumb_top) {
    const double rows = vt_->rows();
    const double total = static_cast<double>(vt_->lines().size());
    if (total <= rows) return;
    const double track_top = has_title_bar() ? 2.0 - 2.0 * (window_size_.height - TITLE_BAR_HEIGHT) /
                                                         static_cast<double>(window_size_.height)
                                             : 0.0;
    const double free_track = (2.0 - track_top) - ui_.scrollbar_length;
    const double scrollable = total - rows;
    const double fraction =
        free_track > 0 ? std::clamp((thumb_top - track_top) / free_track, 0.0, 1.0) : 1.0;
    vt_->view_scroll_to(static_cast<std::size_t>(fraction * scrollable + 0.5),
                        !keyboard_select_.active());
    if (keyboard_select_.active()) keyboard_select_.clamp_into_view();
}

bool App::handle_scrollbar_button(std::uint32_t button, bool pressed, std::int32_t window_x,
                                  std::int32_t window_y) {
    if (!ui_.scrollbar_shown || button < BUTTON_LEFT || button > BUTTON_RIGHT) return false;
    if (!pressed && ui_.scrollbar_dragged) {
        ui_.scrollbar_dragged = false;
    } else {
        const std::int64_t column_start = static_cast<std::int64_t>(get_text_area_size().width) -
                                          ui_.scrollbar_width;
        if (!pressed || window_x <= column_start) return false;
        const float y = to_scrollbar_units(window_y);
        const bool on_thumb = y >= ui_.scrollbar_top && y <= ui_.scrollbar_top + ui_.scrollbar_length;
        if (on_thumb) {
            ui_.scrollbar_dragged = true;
            scrollbar_grab_offset_ = y - ui_.scrollbar_top;
        } else if (button == BUTTON_LEFT) {
            scroll_view_to_thumb(y - ui_.scrollbar_length / 2.0f);
        } else if (button == BUTTON_MIDDLE) {
            const std::int32_t page = static_cast<std::int32_t>(vt_->rows());
            scroll_view_lines(y < ui_.scrollbar_top ? -page : page);
        } else {
            start_autoscroll(y < ui_.scrollbar_top ? 1 : -1, false);
        }
        show_scrollbar();
    }
    update_scrollbar_geometry();
    request_repaint();
    return true;
}

// Autoscroll --------------------------------------------------------------------------------------

void App::start_autoscroll(std::int32_t direction, bool selecting) {
    if (autoscroll_direction_ == 0) show_scrollbar();
    autoscroll_direction_ = direction;
    autoscroll_selecting_ = selecting;
    timers_.arm_timeout(timer_.autoscroll, AUTOSCROLL_MS);
}

void App::stop_autoscroll() {
    autoscroll_direction_ = 0;
    timers_.disarm(timer_.autoscroll);
}

void App::on_autoscroll() {
    if (autoscroll_direction_ == 0) return;
    scroll_view_lines(autoscroll_direction_ > 0 ? -1 : 1);
    show_scrollbar();
    if (autoscroll_selecting_) {
        vt_->selection().set_end(vt_->lines(), cell_under(autoscroll_position_));
    }
    request_repaint();
    timers_.arm_timeout(timer_.autoscroll, AUTOSCROLL_MS);
}

// Selection gestures ------------------------------------------------------------------------------

void App::left_press(GridPoint point, std::uint32_t modifiers) {
    const MonoTime now_time = now();
    multi_click_count_ = now_time > multi_click_deadline_ ? 0 : multi_click_count_ + 1;
    multi_click_deadline_ = mono_add_ms(now_time, MULTI_CLICK_MS);
    const VtTextPoint cell = cell_under(point);
    vt_->selection_clear();
    if (multi_click_count_ == 1) {
        vt_->selection().select_word(vt_->lines(), cell);
    } else if (multi_click_count_ >= 2) {
        vt_->selection().select_line(vt_->lines(), cell.line, static_cast<std::uint16_t>(vt_->cols()));
        multi_click_count_ = 0;
    } else {
        const bool rectangle = modifiers & MODIFIER_CTRL;
        vt_->selection().begin(rectangle ? VT_SELECTION_RECTANGLE : VT_SELECTION_NORMAL, cell);
        drag_active_ = true;
    }
    request_repaint();
}

void App::middle_press() {
    if (vt_->selection().active()) {
        on_clipboard_data(vt_->selection().text(vt_->lines()));
    } else {
        window_->primary_get();
    }
}

// The nearer end moves: the start when the press lies before the selection's middle.
void App::right_press(GridPoint point) {
    const VtSelection& selection = vt_->selection();
    if (!selection.active()) return;
    const VtTextPoint cell = cell_under(point);
    const VtTextPoint a = selection.start(), b = selection.end();
    bool move_start;
    if (a.line == b.line) {
        move_start = cell.col <= (a.col + b.col) / 2;
    } else {
        const bool start_first = a.line < b.line;
        const std::size_t middle = (a.line + b.line) / 2;
        move_start = start_first ? cell.line < middle : cell.line >= middle;
    }
    extend_mode_ = move_start ? EXTEND_START : EXTEND_END;
    set_pointer_shape(MOUSE_POINTER_I_BEAM);
}

void App::button_handler(std::uint32_t button, bool pressed, std::int32_t x, std::int32_t y,
                         std::int32_t steps, std::uint32_t modifiers) {
    if (handle_title_bar_button(button, pressed, x, y)) return;
    const GridPoint point = to_grid(x, y);
    pointer_modifiers_ = modifiers;
    stop_autoscroll();
    if ((button == WHEEL_UP || button == WHEEL_DOWN) && !vt_->mouse_reporting()) {
        if (pressed) handle_wheel(button, steps);
        return;
    }
    if (handle_scrollbar_button(button, pressed, x, y)) return;
    if (!pressed) {
        drag_active_ = false;
        extend_mode_ = EXTEND_NONE;
        refresh_pointer_shape();
    }
    // With Shift held the pointer selects locally even while the child reports the mouse.
    if (vt_->mouse_reporting() && !(modifiers & MODIFIER_SHIFT)) {
        vt_->mouse_button(mouse_geometry(), button, pressed, point.x, point.y, modifiers);
        return;
    }
    if (!pressed) {
        // A Ctrl-click opens the link under the pointer; a Ctrl-drag selects a rectangle instead.
        if (button == BUTTON_LEFT && (modifiers & MODIFIER_CTRL) && !vt_->selection().active()) {
            open_link_at(point);
        }
        return;
    }
    switch (button) {
        case BUTTON_LEFT: left_press(point, modifiers); break;
        case BUTTON_MIDDLE: middle_press(); break;
        case BUTTON_RIGHT: right_press(point); break;
        default: break;
    }
}

void App::drag_selection(GridPoint point) {
    const std::int32_t bottom_edge = static_cast<std::int32_t>(get_text_area_size().height);
    if (point.y > EDGE_PIXELS && point.y < bottom_edge - EDGE_PIXELS) {
        stop_autoscroll();
        vt_->selection().activate();
        vt_->selection().set_end(vt_->lines(), cell_under(point));
        request_repaint();
        return;
    }
    const std::int32_t direction = point.y <= EDGE_PIXELS ? 1 : -1;
    if (autoscroll_direction_ != direction) start_autoscroll(direction, true);
    autoscroll_position_ = {point.x, direction > 0 ? 0 : bottom_edge};
    vt_->selection().activate();
    vt_->selection().set_end(vt_->lines(), cell_under(autoscroll_position_));
}

void App::motion_handler(std::uint32_t button, std::int32_t x, std::int32_t y) {
    update_title_bar_hover(x, y);
    const GridPoint point = to_grid(x, y);
    if (button == 0) {
        if (!drag_active_ && extend_mode_ == EXTEND_NONE) hover_update(point);
        vt_->mouse_motion(mouse_geometry(), 0, pointer_modifiers_, point.x, point.y);
    } else if (ui_.scrollbar_dragged) {
        scroll_view_to_thumb(to_scrollbar_units(y) - scrollbar_grab_offset_);
        show_scrollbar();
        request_repaint();
    } else {
        multi_click_count_ = 0;
        if (button == BUTTON_LEFT && drag_active_) {
            drag_selection(point);
        } else if (button == BUTTON_RIGHT && extend_mode_ != EXTEND_NONE) {
            stop_autoscroll();
            const VtTextPoint cell = cell_under(point);
            if (extend_mode_ == EXTEND_START) {
                vt_->selection().set_start(vt_->lines(), cell);
            } else {
                vt_->selection().set_end(vt_->lines(), cell);
            }
            request_repaint();
        } else {
            vt_->mouse_motion(mouse_geometry(), button, pointer_modifiers_, point.x, point.y);
        }
    }
    refresh_pointer_shape();
}

VtMouseEncoder::Geometry App::mouse_geometry() const {
    const PixelSize cell = gfx_->get_pixel_size({1, 1});
    const std::int64_t pad = 2 * static_cast<std::int64_t>(settings().padding.extra);
    return {static_cast<double>(std::max(cell.width, 1u)),
            static_cast<double>(std::max(cell.height, 1u)), vt_->cols(), vt_->rows(),
            static_cast<std::uint32_t>(std::max<std::int64_t>(0, window_size_.width - pad)),
            static_cast<std::uint32_t>(std::max<std::int64_t>(0, window_size_.height - pad))};
}

// Pointer shape -----------------------------------------------------------------------------------

void App::set_pointer_shape(MousePointerStyle style) {
    if (style == pointer_style_) return;
    pointer_style_ = style;
    window_->set_flag(WINDOW_IS_POINTER_HIDDEN, style == MOUSE_POINTER_HIDDEN);
    window_->set_pointer_style(style);
}

void App::refresh_pointer_shape() {
    const bool gesture = drag_active_ || extend_mode_ != EXTEND_NONE;
    if (!gesture && ui_.link_hovered) {
        set_pointer_shape(MOUSE_POINTER_HAND);
        return;
    }
    const bool selecting = gesture || vt_->selection().active();
    set_pointer_shape(selecting ? MOUSE_POINTER_I_BEAM : MOUSE_POINTER_ARROW);
}

void App::update_pointer() {
    const HidePointer mode = settings().hide_pointer;
    if (mode == HIDE_POINTER_TRUE || mode == HIDE_POINTER_FORCE_TRUE ||
        mode == HIDE_POINTER_IF_NOT_REPORTING) {
        set_pointer_shape(MOUSE_POINTER_HIDDEN);
        return;
    }
    refresh_pointer_shape();
}

// Focus and the primary selection ------------------------------------------------------------------

void App::copy_selection_to_primary() {
    if (!vt_->selection().active()) return;
    std::string text = vt_->selection().text(vt_->lines());
    if (!text.empty()) window_->primary_send(std::move(text));
}

void App::on_selection_lost() {
    if (vt_->selection().active()) {
        vt_->selection_clear();
        request_repaint();
    }
}

}  // namespace zelto
