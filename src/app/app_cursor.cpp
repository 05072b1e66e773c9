// The cursor the renderer draws and its sliding column.
#include "app/app.hpp"
#include "config/settings.hpp"

namespace zelto {

void App::update_cursor_animation() {
    VtCursor cursor = vt_->cursor();
    if (keyboard_select_.active()) {
        const VtTextPoint point = keyboard_select_.cursor();
        cursor = {point.line, point.col, CURSOR_SHAPE_BLOCK, false, false};
    }
    ui_.cursor = cursor;
    const std::size_t screen_row =
        cursor.row >= vt_->screen_top() ? cursor.row - vt_->screen_top() : 0;
    const bool same_row = cursor_anim_row_ == screen_row;
    cursor_anim_row_ = screen_row;

    const std::uint32_t duration_ms = window_ ? window_->repeat_rate : 0;
    if (!settings().cursor_anim.move || !same_row || duration_ms == 0) {
        timers_.disarm(timer_.cursor_move);
        if (ui_.drawn_cursor_column != cursor.col) request_repaint();
        ui_.drawn_cursor_column = cursor.col;
        ui_.animation_start_column = cursor.col;
        ui_.animation_target_column = cursor.col;
        return;
    }
    if (cursor.col == ui_.animation_target_column) return;
    ui_.animation_target_column = cursor.col;
    ui_.animation_start_column = ui_.drawn_cursor_column;
    const MonoTime start = mono_now();
    timers_.arm_animation(timer_.cursor_move, start, mono_add_ms(start, duration_ms));
}

void App::on_cursor_move(bool finished, double t) {
    const double target = ui_.animation_target_column;
    ui_.drawn_cursor_column =
        finished ? target : ui_.animation_start_column + (target - ui_.animation_start_column) * t;
    request_repaint();
}

}  // namespace zelto
