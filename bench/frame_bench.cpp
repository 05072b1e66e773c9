// Frames drawn offscreen (Mesa's software rasteriser): a full redraw of a screen of mixed text,
// and the frame after one line changed. Prints frames per second, timed to glFinish, and the
// draw calls, uploads and line renders per frame.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "config/settings.hpp"
#include "fonts/font_resolver.hpp"
#include "fonts/font_set.hpp"
#include "gfx_gl2/gfx_opengl2.hpp"
#include "gl_test_context.hpp"
#include "terminal/vt.hpp"

namespace {

using namespace zelto;
using Clock = std::chrono::steady_clock;

struct ProxyCallbacks : VtCallbacks {
    GfxOpenGL2* gfx = nullptr;
    void destroy_line_proxy(VtLineProxy& proxy) override {
        if (gfx) gfx->destroy_line_proxy(proxy);
    }
};

std::string mixed_text(std::uint32_t cols, std::uint32_t rows) {
    static const char* const colors[] = {"\x1b[0m", "\x1b[31m", "\x1b[32;44m",
                                         "\x1b[7m", "\x1b[33m", "\x1b[0m"};
    std::string out;
    unsigned seed = 1;
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::uint32_t c = 0;
        while (c + 8 < cols) {
            seed = seed * 1103515245u + 12345u;
            out += colors[(seed >> 16) % 6];
            const std::uint32_t len = 2 + (seed >> 8) % 6;
            for (std::uint32_t i = 0; i < len; ++i)
                out += static_cast<char>('a' + (seed + i * 7) % 26);
            out += ' ';
            c += len + 1;
        }
        out += "\x1b[0m";
        if (r + 1 < rows) out += "\r\n";
    }
    return out;
}

struct Result {
    double ms = 0;
    FrameStats stats;
};

template <typename Prepare>
Result time_frames(GfxOpenGL2& gfx, Vt& vt, UiState& ui, int frames, Prepare prepare) {
    Result result;
    double total = 0;
    for (int i = 0; i < frames; ++i) {
        prepare(i);
        const auto start = Clock::now();
        gfx.draw(vt, ui, 2);
        glFinish();
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        result.stats = gfx.last_frame_stats();
    }
    result.ms = total / frames;
    return result;
}

void report(const char* what, std::uint32_t cols, std::uint32_t rows, const Result& r) {
    std::printf("%-20s %3ux%-3u %8.2f ms %8.1f fps  %5u draws  %5u uploads  %3u lines\n", what,
                cols, rows, r.ms, 1000.0 / r.ms, r.stats.draw_calls, r.stats.uploads,
                r.stats.lines_rendered);
}

void bench_screen(Settings& settings, std::uint32_t cols, std::uint32_t rows) {
    FontSet fonts(settings);
    auto renderer = std::make_unique<GfxOpenGL2>(fonts, settings);
    GfxOpenGL2& gfx = *renderer;
    const PixelSize size = gfx.get_pixel_size({cols, rows});
    test::OffscreenGl context(size.width, size.height);
    gfx.set_gl_loader(test::OffscreenGl::loader());
    gfx.init_with_context();
    gfx.resize(size.width, size.height, {cols, rows});
    ProxyCallbacks callbacks;
    callbacks.gfx = &gfx;
    auto terminal = std::make_unique<Vt>(cols, rows, callbacks);
    Vt& vt = *terminal;
    vt.interpret(mixed_text(cols, rows));
    UiState ui;
    ui.focused = true;
    ui.cursor = vt.cursor();
    ui.drawn_cursor_column = vt.cursor_col();
    gfx.draw(vt, ui, 2);  // glyphs into the atlas

    const int frames = cols > 100 ? 20 : 100;
    const Result full = time_frames(gfx, vt, ui, frames, [&](int) { vt.damage_all(); });
    report("full redraw", cols, rows, full);
    const Result one = time_frames(gfx, vt, ui, frames, [&](int i) {
        vt.interpret("\x1b[" + std::to_string(rows / 2) + ";10H" + static_cast<char>('a' + i % 26));
        ui.cursor = vt.cursor();
        ui.drawn_cursor_column = vt.cursor_col();
    });
    report("one line changed", cols, rows, one);
    const Result idle = time_frames(gfx, vt, ui, frames, [](int) {});
    report("idle", cols, rows, idle);
    // The terminal gives its textures back, and the renderer goes, while the context lives.
    terminal.reset();
    renderer.reset();
}

}  // namespace

int main() {
    Settings& settings = zelto::settings();
    settings.exclude_lcd = {{0x2500, 0x25FF}, {0xE0B0, 0xE0BF}};
    settings.blink.enabled = false;
    resolve_fonts(settings);
    bench_screen(settings, 80, 24);
    bench_screen(settings, 240, 70);
    return 0;
}
