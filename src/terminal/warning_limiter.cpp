#include "terminal/warning_limiter.hpp"

#include "util/diagnostics.hpp"

namespace zelto {

bool WarningLimiter::allow(const char* key) { return allow(key, mono_now()); }

bool WarningLimiter::allow(const char* key, MonoTime now) {
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
        if (s.key == key) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr) {
        slot = &slots_[next_victim_];
        next_victim_ = (next_victim_ + 1) % slots_.size();
        *slot = Slot{key, now, 0, 0};
    }
    if (mono_diff_ns(now, slot->window_start) >= 1000000000) {
        if (slot->suppressed != 0) {
            warn("%llu similar warnings suppressed\n",
                 static_cast<unsigned long long>(slot->suppressed));
        }
        slot->window_start = now;
        slot->printed = 0;
        slot->suppressed = 0;
    }
    if (slot->printed < PER_SECOND) {
        ++slot->printed;
        return true;
    }
    ++slot->suppressed;
    return false;
}

}  // namespace zelto
