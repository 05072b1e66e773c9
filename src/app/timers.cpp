#include "app/timers.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zelto {

double ease(EasingFunction easing, double t) {
    constexpr double pi = std::numbers::pi;
    switch (easing) {
        case EASING_LINEAR: return t;
        case EASING_REVERSED: return 1.0 - t;
        case EASING_TRIANGLE: return t < 0.5 ? 2.0 * t : 2.0 - 2.0 * t;
        case EASING_SINE_OUT: return std::sin(t * pi / 2.0);
        case EASING_COSINE: return 1.0 - std::cos(t * pi);
        case EASING_PULSE: return 0.5 - 0.5 * std::cos(2.0 * pi * t);
        case EASING_QUADRATIC: return t * t;
        case EASING_QUADRATIC_REVERSED: return (1.0 - t) * (1.0 - t);
        case EASING_QUARTIC: return t * t * t * t;
        case EASING_QUARTIC_REVERSED: return std::pow(1.0 - t, 4);
    }
    return t;
}

TimerList::Index TimerList::add(Timer timer) {
    if (timers_.empty()) timers_.reserve(8);
    timers_.push_back(std::move(timer));
    return static_cast<Index>(timers_.size() - 1);
}

TimerList::Index TimerList::register_timeout(TimerCallback callback) {
    return add({std::move(callback), {}, {}, EASING_LINEAR, TIMER_TIMEOUT, true});
}

TimerList::Index TimerList::register_animation(EasingFunction easing, TimerCallback callback) {
    return add({std::move(callback), {}, {}, easing, TIMER_ANIMATION, true});
}

void TimerList::arm_timeout(Index index, std::int64_t delay_ms, MonoTime now) {
    timers_[index].start = mono_add_ms(now, delay_ms);
    timers_[index].inactive = false;
}

void TimerList::arm_animation(Index index, MonoTime start, MonoTime end) {
    timers_[index].start = start;
    timers_[index].end = end;
    timers_[index].inactive = false;
}

std::optional<std::int64_t> TimerList::next_wait(double frame_interval_ms,
                                                 std::optional<MonoTime> extra_deadline,
                                                 MonoTime now) const {
    std::optional<MonoTime> earliest = extra_deadline;
    const auto consider = [&](MonoTime candidate) {
        if (!earliest || candidate < *earliest) earliest = candidate;
    };
    for (const Timer& timer : timers_) {
        if (timer.inactive) continue;
        if (timer.kind == TIMER_TIMEOUT || now < timer.start || timer.end < now) {
            consider(timer.start);
            continue;
        }
        const double since_frame = static_cast<double>(mono_diff_ms(now, last_frame_));
        const auto wait = static_cast<std::int64_t>(std::max(0.0, frame_interval_ms - since_frame));
        if (wait == 0) return 0;
        consider(mono_add_ms(now, wait));
    }
    if (!earliest) return std::nullopt;
    // Rounded up, so that the loop never wakes before the timer is due and spins until it is.
    constexpr std::int64_t NS_PER_MS = 1'000'000;
    const std::int64_t ns = mono_diff_ns(*earliest, now);
    return ns <= 0 ? 0 : (ns + NS_PER_MS - 1) / NS_PER_MS;
}

void TimerList::run_due(MonoTime now) {
    // Callbacks may arm other timers; the slots themselves never move.
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        Timer& timer = timers_[i];
        if (timer.inactive) continue;
        if (timer.kind == TIMER_TIMEOUT) {
            if (timer.start < now) {
                timer.inactive = true;
                timer.callback(true, 1.0);
            }
            continue;
        }
        if (now < timer.start) continue;
        if (now < timer.end) {
            const double span = static_cast<double>(mono_diff_ns(timer.end, timer.start));
            const double elapsed = static_cast<double>(mono_diff_ns(now, timer.start));
            const float t = static_cast<float>(elapsed / span);
            timers_[i].callback(false, ease(timer.easing, std::clamp(t, 0.0f, 1.0f)));
        } else if (timer.end < now) {
            timer.inactive = true;
            timer.callback(true, 1.0);
        }
    }
}

}  // namespace zelto
