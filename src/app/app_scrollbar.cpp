// The scrollbar: shown while the view moves, hidden after a delay with a fade.
#include "app/app.hpp"
#include "config/settings.hpp"

namespace zelto {

void App::show_scrollbar() {
    const Settings& s = settings();
    const MonoTime now = mono_now();
    const MonoTime fade_start = mono_add_ms(now, s.scrollbar.hide_delay_ms);
    timers_.arm_animation(timer_.scrollbar_fade, fade_start,
                          mono_add_ms(fade_start, s.scrollbar.fade_time_ms));
    ui_.scrollbar_shown = true;
    ui_.scrollbar_opacity = 1.0f;
    update_scrollbar_geometry();
    request_repaint();
}

void App::on_scrollbar_fade(bool finished, double eased) {
    // The scrollbar stays while the history is viewed.
    if (vt_->scrolled_back()) {
        show_scrollbar();
        return;
    }
    ui_.scrollbar_shown = !finished;
    ui_.scrollbar_opacity = finished ? 0.0f : static_cast<float>(1.0 - eased);
    update_scrollbar_geometry();
    request_repaint();
}

// In the renderer's vertical units: the window is 2.0 high, the track excludes a title bar.
void App::update_scrollbar_geometry() {
    const double h = window_size_.height;
    if (h <= 0) return;
    double d = h, c = 2.0, e = 0.0;
    if (has_title_bar()) {
        d = h - TITLE_BAR_HEIGHT;
        c = 2.0 * d / h;
        e = 2.0 - c;
    }
    const double rows = vt_->rows();
    const double total = static_cast<double>(vt_->lines().size());
    if (d <= 0 || total <= rows || rows == 0) {
        // Nothing to scroll: the thumb fills the track.
        ui_.scrollbar_top = static_cast<float>(e);
        ui_.scrollbar_length = static_cast<float>(c);
        return;
    }
    const double proportional = c * rows / total;
    const double minimum = settings().scrollbar.min_length * c / d;
    const double extra = proportional < minimum ? minimum - proportional : 0.0;
    const double scrollable = total - rows;
    const double position = vt_->scrolled_back() ? static_cast<double>(vt_->view_top()) : scrollable;
    ui_.scrollbar_length = static_cast<float>(proportional + extra);
    ui_.scrollbar_top =
        static_cast<float>(position / scrollable * (c - proportional - extra) + e);
}

void App::update_scrollbar() {
    if (ui_.scrollbar_shown) show_scrollbar();
}

void App::on_scroll_position_changed() {
    update_scrollbar_geometry();
    if (keyboard_select_.active()) keyboard_select_.clamp_into_view();
    request_repaint();
}

}  // namespace zelto
