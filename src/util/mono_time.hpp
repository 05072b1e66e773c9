#pragma once

#include <compare>
#include <cstdint>

namespace zelto {

// A reading of the monotonic clock; `nsec` is always within 0 .. 999 999 999.
struct MonoTime {
    std::int64_t sec = 0;
    std::int64_t nsec = 0;

    auto operator<=>(const MonoTime&) const = default;
};

MonoTime mono_now();
MonoTime mono_add_ms(MonoTime t, std::int64_t ms);
std::int64_t mono_diff_ns(MonoTime a, MonoTime b);
// Truncated toward zero.
std::int64_t mono_diff_ms(MonoTime a, MonoTime b);

}  // namespace zelto
