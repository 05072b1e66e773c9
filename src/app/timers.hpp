#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "util/mono_time.hpp"

namespace zelto {

enum TimerKind : std::uint8_t { TIMER_ANIMATION = 0, TIMER_TIMEOUT = 1 };

enum EasingFunction : std::uint8_t {
    EASING_LINEAR = 0,
    EASING_REVERSED = 1,
    EASING_TRIANGLE = 2,
    EASING_SINE_OUT = 3,
    EASING_COSINE = 4,
    EASING_PULSE = 5,
    EASING_QUADRATIC = 6,
    EASING_QUADRATIC_REVERSED = 7,
    EASING_QUARTIC = 8,
    EASING_QUARTIC_REVERSED = 9,
};

double ease(EasingFunction easing, double t);

// Timeouts ignore both arguments; animations get whether they finished and the eased fraction.
using TimerCallback = std::function<void(bool finished, double fraction)>;

struct Timer {
    TimerCallback callback;
    MonoTime start;  // the due time of a timeout
    MonoTime end;
    EasingFunction easing = EASING_LINEAR;
    TimerKind kind = TIMER_TIMEOUT;
    bool inactive = true;
};

// Everything that changes with time without input runs from this one list, serviced by the
// main loop: it says how long the loop may sleep and runs what is due.
class TimerList {
public:
    using Index = std::uint8_t;

    Index register_timeout(TimerCallback callback);
    Index register_animation(EasingFunction easing, TimerCallback callback);

    void arm_timeout(Index index, std::int64_t delay_ms, MonoTime now = mono_now());
    void arm_animation(Index index, MonoTime start, MonoTime end);
    void disarm(Index index) { timers_[index].inactive = true; }
    bool is_armed(Index index) const { return !timers_[index].inactive; }

    // Milliseconds until something is due, or nothing when no timer is armed and there is no
    // extra deadline. Running animations are paced by the frame interval.
    std::optional<std::int64_t> next_wait(double frame_interval_ms,
                                          std::optional<MonoTime> extra_deadline,
                                          MonoTime now = mono_now()) const;
    void run_due(MonoTime now = mono_now());

    void set_last_frame(MonoTime time) { last_frame_ = time; }

private:
    Index add(Timer timer);

    std::vector<Timer> timers_;
    MonoTime last_frame_;
};

}  // namespace zelto
