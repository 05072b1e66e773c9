#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "util/mono_time.hpp"

namespace zelto {

// Keeps a flood of one warning (a program printing the same bad sequence in a loop) from
// flooding standard error: each warning, named by its format string, may be printed a few times
// per second; the rest are counted and the count is reported with the next one printed.
class WarningLimiter {
public:
    static constexpr std::uint32_t PER_SECOND = 10;

    // True when the warning `key` may be printed now.
    bool allow(const char* key);
    bool allow(const char* key, MonoTime now);

private:
    struct Slot {
        const char* key = nullptr;
        MonoTime window_start;
        std::uint32_t printed = 0;
        std::uint64_t suppressed = 0;
    };
    std::array<Slot, 16> slots_{};
    std::size_t next_victim_ = 0;
};

}  // namespace zelto
