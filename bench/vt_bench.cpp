// Feeds each workload through a zelto Vt and through libvterm, in 128-byte chunks (what the main
// loop reads) and in 64 KiB chunks, and prints one line per workload and chunk size.
// `vt_bench DIR WORKLOAD zelto|libvterm CHUNK` feeds one workload once, for a profiler.
#include <sys/resource.h>
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "terminal/vt.hpp"

namespace {

using namespace zelto;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t COLS = 80;
constexpr std::uint32_t ROWS = 24;
// The two interpreters take turns, ROUNDS times each, and each keeps its best round: on a
// shared machine a neighbour's burst then slows a round of one, not the comparison.
constexpr int ROUNDS = 5;
constexpr double ROUND_SECONDS = 0.1;

struct NullCallbacks : VtCallbacks {};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Throughput of one feed of `data`, repeated for at least ROUND_SECONDS.
template <class Feed>
double megabytes_per_second(const std::string& data, std::size_t chunk, Feed&& feed_once) {
    std::size_t bytes = 0;
    const auto start = Clock::now();
    double seconds = 0;
    do {
        feed_once(data, chunk);
        bytes += data.size();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (seconds < ROUND_SECONDS);
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

void feed_zelto(const std::string& data, std::size_t chunk) {
    NullCallbacks callbacks;
    Vt vt(COLS, ROWS, callbacks);
    for (std::size_t at = 0; at < data.size(); at += chunk) vt.interpret(std::string_view(data).substr(at, chunk));
}

void feed_libvterm(const std::string& data, std::size_t chunk) {
    VTerm* vt = vterm_new(ROWS, COLS);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    for (std::size_t at = 0; at < data.size(); at += chunk) {
        vterm_input_write(vt, data.data() + at, std::min(chunk, data.size() - at));
    }
    vterm_free(vt);
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Cost of one full 80-column line in a scrollback of 100 000 lines.
void measure_scrollback_memory() {
    settings().scrollback = 100000;
    NullCallbacks callbacks;
    Vt vt(COLS, ROWS, callbacks);
    const std::string line = std::string(COLS, 'x');
    for (int i = 0; i < 100000 + static_cast<int>(ROWS); ++i) vt.interpret(line);
    std::size_t bytes = vt.lines().capacity() * sizeof(VtLine);
    for (const VtLine& l : vt.lines()) bytes += l.cells.capacity() * sizeof(VtCell);
    std::printf("memory scrollback-lines=%zu bytes-per-line=%zu peak-rss-kb=%ld\n", vt.lines().size(),
                bytes / vt.lines().size(), peak_rss_kb());
    settings().scrollback = 2000;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir = argc > 1 ? argv[1] : "workloads";
    if (argc == 5) {
        const std::string data = read_file(dir / argv[2]);
        const std::size_t chunk = std::stoul(argv[4]);
        (std::string_view(argv[3]) == "libvterm" ? feed_libvterm : feed_zelto)(data, chunk);
        return 0;
    }
    const std::vector<std::string> names = {"dense-ascii", "scrolling", "region-scrolling", "unicode",
                                            "sgr", "cursor-motion", "source-file"};
    for (const std::string& name : names) {
        const std::string data = read_file(dir / name);
        if (data.empty()) {
            std::fprintf(stderr, "missing workload %s\n", (dir / name).c_str());
            return 1;
        }
        for (const std::size_t chunk : {std::size_t{128}, std::size_t{65536}}) {
            double ours = 0, reference = 0;
            for (int round = 0; round < ROUNDS; ++round) {
                ours = std::max(ours, megabytes_per_second(data, chunk, feed_zelto));
                reference = std::max(reference, megabytes_per_second(data, chunk, feed_libvterm));
            }
            std::printf("vt %s %zu zelto=%.1f libvterm=%.1f\n", name.c_str(), chunk, ours, reference);
            std::fflush(stdout);
        }
    }
    std::printf("memory peak-rss-kb=%ld\n", peak_rss_kb());
    measure_scrollback_memory();
    return 0;
}
