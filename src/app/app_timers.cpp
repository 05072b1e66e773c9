// The App's timers: cursor blinking with its fade, the visual bell and blinking text.
#include <cstdint>

#include "app/app.hpp"
#include "config/settings.hpp"

namespace zelto {

namespace {

constexpr std::int64_t VISUAL_BELL_MS = 300;

bool blink_fades() { return settings().cursor_anim.blink_fade; }

// A rate below one millisecond cannot blink: it would make every pass due at once.
bool blink_enabled() {
    const Settings& s = settings();
    return s.blink.enabled && s.blink.rate_ms >= 1;
}

std::int64_t fade_ms() {
    const Settings& s = settings();
    return static_cast<std::int64_t>(s.blink.rate_ms * static_cast<double>(s.cursor_anim.period));
}

}  // namespace

void App::register_timers() {
    timer_.autoscroll = timers_.register_timeout([this](bool, double) { on_autoscroll(); });
    timer_.scrollbar_fade = timers_.register_animation(
        EASING_QUADRATIC, [this](bool finished, double t) { on_scrollbar_fade(finished, t); });
    timer_.visual_bell = timers_.register_animation(
        EASING_SINE_OUT, [this](bool finished, double t) { on_visual_bell_frame(finished, t); });
    timer_.blink_resume = timers_.register_timeout([this](bool, double) { on_blink_resume(); });
    timer_.blink_end =
        timers_.register_timeout([this](bool, double) { cursor_blink_active_ = false; });
    if (blink_enabled()) {
        timer_.blink_toggle = timers_.register_timeout([this](bool, double) { on_blink_toggle(); });
        if (blink_fades()) {
            timer_.blink_fade = timers_.register_animation(
                EASING_LINEAR, [this](bool finished, double t) { on_blink_fade(finished, t); });
        }
    }
    timer_.text_blink = timers_.register_timeout([this](bool, double) { on_text_blink(); });
    timer_.title_refresh = timers_.register_timeout([](bool, double) {});
    timer_.cursor_move = timers_.register_animation(
        EASING_LINEAR, [this](bool finished, double t) { on_cursor_move(finished, t); });
}

void App::run_timers() {
    timers_.run_due();
    update_text_blink_timer();
}

void App::update_text_blink_timer() {
    const bool blinking_text = blink_enabled() && gfx_->has_blinking_text();
    if (blinking_text && !text_blink_armed_) {
        timers_.arm_timeout(timer_.text_blink, settings().blink.rate_ms);
        text_blink_armed_ = true;
    } else if (!blinking_text && text_blink_armed_) {
        timers_.disarm(timer_.text_blink);
        text_blink_armed_ = false;
    }
}

void App::on_text_blink() {
    if (!gfx_->has_blinking_text()) return;
    ui_.text_blink_visible = !ui_.text_blink_visible;
    request_repaint();
    timers_.arm_timeout(timer_.text_blink, settings().blink.rate_ms);
}

void App::on_activity() {
    if (window_ && !window_->has_flag(WINDOW_IS_POINTER_HIDDEN)) refresh_link_hover();
    const Settings& s = settings();
    if (!blink_enabled()) return;
    // A solid cursor stays solid: redraw only when blinking had changed what is shown.
    const bool cursor_changes = cursor_blink_active_ || !ui_.cursor_visible || ui_.cursor_alpha != 1.0;
    stop_cursor_blink();
    if (cursor_changes && gfx_) gfx_->invalidate();
    if (cursor_blink_allowed_) timers_.arm_timeout(timer_.blink_resume, s.blink.suspend_ms);
    // A negative end, taken unsigned, is out of reach: blinking never ends.
    timers_.arm_timeout(timer_.blink_end,
                        static_cast<std::int64_t>(static_cast<std::uint32_t>(s.blink.end_s)) * 1000);
    if (timer_.blink_toggle) timers_.disarm(*timer_.blink_toggle);
    if (timer_.blink_fade) timers_.disarm(*timer_.blink_fade);
}

void App::stop_cursor_blink() {
    cursor_blink_active_ = false;
    ui_.cursor_visible = true;
    ui_.cursor_alpha = 1.0;
}

void App::on_blink_resume() {
    cursor_blink_active_ = true;
    ui_.cursor_visible = true;
    ui_.cursor_alpha = 1.0;
    if (timer_.blink_fade) {
        const MonoTime now = mono_now();
        timers_.arm_animation(*timer_.blink_fade, now, mono_add_ms(now, fade_ms()));
    } else if (timer_.blink_toggle) {
        timers_.arm_timeout(*timer_.blink_toggle, settings().blink.rate_ms);
    }
    request_repaint();
}

void App::on_blink_toggle() {
    if (timer_.blink_fade) {
        if (!cursor_blink_active_ && !ui_.cursor_visible) return;
        ui_.cursor_visible = !ui_.cursor_visible;
        const MonoTime now = mono_now();
        timers_.arm_animation(*timer_.blink_fade, now, mono_add_ms(now, fade_ms()));
        return;
    }
    if ((!cursor_blink_active_ && ui_.cursor_visible) || !ui_.focused) {
        ui_.cursor_visible = true;
        ui_.cursor_alpha = 1.0;
    } else {
        ui_.cursor_visible = !ui_.cursor_visible;
        ui_.cursor_alpha = ui_.cursor_visible ? 1.0 : 0.0;
        timers_.arm_timeout(*timer_.blink_toggle, settings().blink.rate_ms);
    }
    request_repaint();
}

void App::on_blink_fade(bool finished, double t) {
    ui_.cursor_alpha = ui_.cursor_visible ? 1.0 - t : t;
    if (finished && (ui_.cursor_visible || cursor_blink_active_)) {
        const Settings& s = settings();
        const double hold = s.blink.rate_ms * (1.0 - static_cast<double>(s.cursor_anim.period));
        timers_.arm_timeout(*timer_.blink_toggle, static_cast<std::int64_t>(hold));
    }
    repaint_if_focused();
}

void App::repaint_if_focused() {
    if (ui_.focused) {
        request_repaint();
    } else {
        ui_.cursor_alpha = 1.0;
    }
}

void App::on_cursor_blink_changed(bool blinking) {
    cursor_blink_allowed_ = blinking;
    if (!blinking) {
        stop_cursor_blink();
        timers_.disarm(timer_.blink_end);
        timers_.disarm(timer_.blink_resume);
        if (timer_.blink_toggle) timers_.disarm(*timer_.blink_toggle);
        if (timer_.blink_fade) timers_.disarm(*timer_.blink_fade);
        if (gfx_) gfx_->invalidate();
        return;
    }
    if (timers_.is_armed(timer_.blink_end)) on_blink_resume();
}

void App::on_visual_bell() {
    const MonoTime now = mono_now();
    timers_.arm_animation(timer_.visual_bell, now, mono_add_ms(now, VISUAL_BELL_MS));
}

void App::on_visual_bell_frame(bool finished, double t) {
    // t arrives eased as sin(t·π/2): the flash starts at full strength and fades.
    ui_.bell_intensity = finished ? 0.0 : 1.0 - t;
    request_repaint();
}

}  // namespace zelto
