#include "util/mono_time.hpp"

#include <ctime>

namespace zelto {

namespace {
constexpr std::int64_t NS_PER_SEC = 1'000'000'000;
constexpr std::int64_t NS_PER_MS = 1'000'000;
}  // namespace

MonoTime mono_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return {ts.tv_sec, ts.tv_nsec};
}

MonoTime mono_add_ms(MonoTime t, std::int64_t ms) {
    t.sec += ms / 1000;
    t.nsec += (ms % 1000) * NS_PER_MS;
    if (t.nsec >= NS_PER_SEC) {
        t.nsec -= NS_PER_SEC;
        ++t.sec;
    } else if (t.nsec < 0) {
        t.nsec += NS_PER_SEC;
        --t.sec;
    }
    return t;
}

std::int64_t mono_diff_ns(MonoTime a, MonoTime b) {
    return (a.sec - b.sec) * NS_PER_SEC + (a.nsec - b.nsec);
}

std::int64_t mono_diff_ms(MonoTime a, MonoTime b) { return mono_diff_ns(a, b) / NS_PER_MS; }

}  // namespace zelto
