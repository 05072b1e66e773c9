// Reflow of a long scrollback: 100 000 lines of mixed lengths written at 120 columns, narrowed
// to 40 and widened back, and the time of each resize printed.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "config/settings.hpp"
#include "terminal/vt.hpp"

namespace {

using namespace zelto;
using Clock = std::chrono::steady_clock;

constexpr int LINES = 100000;
constexpr std::uint32_t WIDE = 120;
constexpr std::uint32_t NARROW = 40;
constexpr std::uint32_t ROWS = 24;

struct NullCallbacks : VtCallbacks {};

// Lines of 0 to 300 characters (about half of them wrap at 120 columns), some coloured.
std::string workload() {
    std::string text;
    for (int i = 0; i < LINES; ++i) {
        const int length = (i * 37) % 301;
        if (i % 7 == 0) text += "\x1b[32m";
        for (int c = 0; c < length; ++c) text += static_cast<char>('a' + (i + c) % 26);
        text += "\x1b[m\r\n";
    }
    return text + "$ ";
}

double cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Wall-clock and CPU time of one resize: on a shared machine the CPU time is the steadier one.
struct Timing {
    double wall_ms;
    double cpu_ms;
};

Timing time_resize(Vt& vt, std::uint32_t cols) {
    const auto start = Clock::now();
    const double cpu_start = cpu_ms();
    vt.resize(cols, ROWS);
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), cpu_ms() - cpu_start};
}

}  // namespace

int main() {
    settings().scrollback = 10 * LINES;
    NullCallbacks callbacks;
    Vt vt(WIDE, ROWS, callbacks);
    vt.interpret(workload());
    const std::size_t wide_lines = vt.lines().size();
    const Timing narrow = time_resize(vt, NARROW);
    const std::size_t narrow_lines = vt.lines().size();
    const Timing widen = time_resize(vt, WIDE);
    const bool same = vt.lines().size() == wide_lines;
    std::printf("reflow lines=%d %u->%u cols: %zu->%zu buffer lines in %.1f ms (cpu %.1f ms), "
                "back in %.1f ms (cpu %.1f ms)%s\n",
                LINES, WIDE, NARROW, wide_lines, narrow_lines, narrow.wall_ms, narrow.cpu_ms, widen.wall_ms,
                widen.cpu_ms, same ? "" : " (line count changed!)");
    return same ? 0 : 1;
}
