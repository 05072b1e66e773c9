#include "fonts/box_glyphs.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace zelto {

namespace {

enum Line : std::uint8_t { NONE = 0, LIGHT = 1, HEAVY = 2, DOUBLE = 3 };

// Lines leaving the cell centre towards each edge.
struct Arms {
    Line up = NONE, right = NONE, down = NONE, left = NONE;
};

constexpr Arms arms(Line up, Line right, Line down, Line left) {
    return {up, right, down, left};
}

struct LineGlyph {
    char32_t code_point;
    Arms arms;
};

constexpr Line L = LIGHT, H = HEAVY, D = DOUBLE, N = NONE;

// up, right, down, left
constexpr std::array<LineGlyph, 51> LINE_GLYPHS{{
    {0x2500, arms(N, L, N, L)}, {0x2502, arms(L, N, L, N)}, {0x250C, arms(N, L, L, N)},
    {0x2510, arms(N, N, L, L)}, {0x2514, arms(L, L, N, N)}, {0x2518, arms(L, N, N, L)},
    {0x251C, arms(L, L, L, N)}, {0x2524, arms(L, N, L, L)}, {0x252C, arms(N, L, L, L)},
    {0x2534, arms(L, L, N, L)}, {0x253C, arms(L, L, L, L)}, {0x2501, arms(N, H, N, H)},
    {0x2503, arms(H, N, H, N)}, {0x250F, arms(N, H, H, N)}, {0x2513, arms(N, N, H, H)},
    {0x2517, arms(H, H, N, N)}, {0x251B, arms(H, N, N, H)}, {0x2523, arms(H, H, H, N)},
    {0x252B, arms(H, N, H, H)}, {0x2533, arms(N, H, H, H)}, {0x253B, arms(H, H, N, H)},
    {0x254B, arms(H, H, H, H)}, {0x2550, arms(N, D, N, D)}, {0x2551, arms(D, N, D, N)},
    {0x2552, arms(N, D, L, N)}, {0x2553, arms(N, L, D, N)}, {0x2554, arms(N, D, D, N)},
    {0x2555, arms(N, N, L, D)}, {0x2556, arms(N, N, D, L)}, {0x2557, arms(N, N, D, D)},
    {0x2558, arms(L, D, N, N)}, {0x2559, arms(D, L, N, N)}, {0x255A, arms(D, D, N, N)},
    {0x255B, arms(L, N, N, D)}, {0x255C, arms(D, N, N, L)}, {0x255D, arms(D, N, N, D)},
    {0x255E, arms(L, D, L, N)}, {0x255F, arms(D, L, D, N)}, {0x2560, arms(D, D, D, N)},
    {0x2561, arms(L, N, L, D)}, {0x2562, arms(D, N, D, L)}, {0x2563, arms(D, N, D, D)},
    {0x2564, arms(N, D, L, D)}, {0x2565, arms(N, L, D, L)}, {0x2566, arms(N, D, D, D)},
    {0x2567, arms(L, D, N, D)}, {0x2568, arms(D, L, N, L)}, {0x2569, arms(D, D, N, D)},
    {0x256A, arms(L, D, L, D)}, {0x256B, arms(D, L, D, L)}, {0x256C, arms(D, D, D, D)},
}};

constexpr std::array<char32_t, 42> SHAPE_GLYPHS{{
    0x256D, 0x256E,  0x256F,  0x2570,  // rounded corners
    0x2580, 0x2581,  0x2582,  0x2583,  0x2584,  0x2585,  0x2586,
    0x2587,                                               // upper half, lower blocks
    0x2594, 0x1FB82, 0x1FB83, 0x1FB84, 0x1FB85, 0x1FB86,  // upper blocks
    0x2588, 0x2589,  0x258A,  0x258B,  0x258C,  0x258D,  0x258E,
    0x258F,                                                        // full, left blocks
    0x2590, 0x2595,  0x1FB87, 0x1FB88, 0x1FB89, 0x1FB8A, 0x1FB8B,  // right blocks
    0x2591, 0x2592,  0x2593,                                       // shades
    0xE0B0, 0xE0B2,  0xE0B4,  0xE0B6,  0xE0B8,  0xE0BA,            // Powerline
}};

constexpr auto ALL_CODE_POINTS = [] {
    std::array<char32_t, LINE_GLYPHS.size() + SHAPE_GLYPHS.size()> all{};
    std::size_t i = 0;
    for (const auto& g : LINE_GLYPHS) all[i++] = g.code_point;
    for (char32_t c : SHAPE_GLYPHS) all[i++] = c;
    return all;
}();

class Canvas {
  public:
    Canvas(unsigned width, unsigned height) : w_(width), h_(height), pixels_(width * height, 0) {}

    unsigned width() const { return w_; }
    unsigned height() const { return h_; }

    // Sets (or, with value 0, clears) the rectangle of columns x0..x1 and rows y0..y1, inclusive
    // and clipped to the cell.
    void fill(int x0, int y0, int x1, int y1, std::uint8_t value = 255) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, static_cast<int>(w_) - 1);
        y1 = std::min(y1, static_cast<int>(h_) - 1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) pixels_[y * w_ + x] = value;
    }

    void put_max(unsigned x, unsigned y, double coverage) {
        const auto v = static_cast<std::uint8_t>(std::clamp(coverage, 0.0, 1.0) * 255.0 + 0.5);
        std::uint8_t& p = pixels_[y * w_ + x];
        p = std::max(p, v);
    }

    std::vector<std::uint8_t> take() { return std::move(pixels_); }

  private:
    unsigned w_, h_;
    std::vector<std::uint8_t> pixels_;
};

// Light and heavy lines run from the centre to an edge, through the centre pixel(s). Double
// lines are drawn as a filled band with its inside carved out, so corners, tees and crosses
// of two double lines join without stubs; single lines meeting a double structure stop at
// (or, at a corner, run across to) its far line.
void draw_lines(Canvas& c, Arms a) {
    const int n = static_cast<int>(c.width()), h = static_cast<int>(c.height());
    const int xc = n / 2, yc = h / 2, g = n / 5;
    const int x1 = xc - g, x2 = xc + g, y1 = yc - g, y2 = yc + g;
    const int right = n - 1, bottom = h - 1;

    const bool v_double = a.up == DOUBLE || a.down == DOUBLE;
    const bool h_double = a.left == DOUBLE || a.right == DOUBLE;
    const bool v_through = a.up == DOUBLE && a.down == DOUBLE;
    const bool h_through = a.left == DOUBLE && a.right == DOUBLE;

    // Bands of the double arms.
    if (a.right == DOUBLE) c.fill(v_double ? x1 : xc, y1, right, y2);
    if (a.left == DOUBLE) c.fill(0, y1, v_double ? x2 : xc, y2);
    if (a.down == DOUBLE) c.fill(x1, h_double ? y1 : yc, x2, bottom);
    if (a.up == DOUBLE) c.fill(x1, 0, x2, h_double ? y2 : yc);
    if (a.right == DOUBLE) c.fill(v_double ? x1 + 1 : xc, y1 + 1, right, y2 - 1, 0);
    if (a.left == DOUBLE) c.fill(0, y1 + 1, v_double ? x2 - 1 : xc, y2 - 1, 0);
    if (a.down == DOUBLE) c.fill(x1 + 1, h_double ? y1 + 1 : yc, x2 - 1, bottom, 0);
    if (a.up == DOUBLE) c.fill(x1 + 1, 0, x2 - 1, h_double ? y2 - 1 : yc, 0);

    const int right_from = !v_double ? xc : v_through ? x2 : x1;
    const int left_to = !v_double ? xc : v_through ? x1 : x2;
    const int down_from = !h_double ? yc : h_through ? y2 : y1;
    const int up_to = !h_double ? yc : h_through ? y1 : y2;

    if (a.right == LIGHT) c.fill(right_from, yc, right, yc);
    if (a.left == LIGHT) c.fill(0, yc, left_to, yc);
    if (a.down == LIGHT) c.fill(xc, down_from, xc, bottom);
    if (a.up == LIGHT) c.fill(xc, 0, xc, up_to);
    if (a.right == HEAVY) c.fill(xc, yc, right, yc + 1);
    if (a.left == HEAVY) c.fill(0, yc, xc + 1, yc + 1);
    if (a.down == HEAVY) c.fill(xc, yc, xc + 1, bottom);
    if (a.up == HEAVY) c.fill(xc, 0, xc + 1, yc + 1);
}

// A quarter arc of radius min(n/2, h/2) joining the centre lines, continued to the edges.
// `towards_right`/`towards_down` name the edges the corner's lines run to.
void draw_rounded_corner(Canvas& c, bool towards_right, bool towards_down) {
    const int n = static_cast<int>(c.width()), h = static_cast<int>(c.height());
    const int xc = n / 2, yc = h / 2;
    const int r = std::min(n / 2, h / 2);
    const double cx = xc + 0.5 + (towards_right ? r : -r);
    const double cy = yc + 0.5 + (towards_down ? r : -r);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < n; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const bool in_quadrant =
                (towards_right ? px <= cx : px >= cx) && (towards_down ? py <= cy : py >= cy);
            if (!in_quadrant) continue;
            const double d = std::hypot(px - cx, py - cy);
            c.put_max(x, y, 1.0 - std::min(1.0, std::abs(d - r)));
        }
    }
    if (towards_down)
        c.fill(xc, yc + r, xc, h - 1);
    else
        c.fill(xc, 0, xc, yc - r);
    if (towards_right)
        c.fill(xc + r, yc, n - 1, yc);
    else
        c.fill(0, yc, xc - r, yc);
}

// Rows of the k/8 horizontal blocks.
int eighth_rows(int h, int k) {
    switch (k) {
        case 1:
            return std::max(1, h / 8);
        case 2:
            return h / 4;
        case 3:
            return static_cast<int>(0.375 * h);
        case 4:
            return h / 2;
        case 5:
            return static_cast<int>(0.625 * h);
        case 6:
            return static_cast<int>(0.75 * h);
        default:
            return 7 * h / 8;
    }
}

// Columns of the k/8 vertical blocks.
int eighth_columns(int n, int k) {
    return n - static_cast<int>(static_cast<double>(n) * (8 - k) / 8.0);
}

double ramp(double f, int n) {
    const double e = 1.0 / n;
    return std::clamp(f, -e, e) / (2.0 * e) + 0.5;
}

// Full height at one edge, apex at the middle of the other.
void draw_triangle(Canvas& c, bool pointing_right) {
    const int n = static_cast<int>(c.width()), h = static_cast<int>(c.height());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < n; ++x) {
            const int from_apex = pointing_right ? n - 1 - x : x;
            const double f = (from_apex + 0.5) / n - std::abs((y + 0.5) / (h / 2.0) - 1.0);
            c.put_max(x, y, ramp(f, n));
        }
    }
}

// Half of an ellipse with radii n and h/2 centred on the middle of its flat edge.
void draw_half_disc(Canvas& c, bool bulging_right) {
    const int n = static_cast<int>(c.width()), h = static_cast<int>(c.height());
    constexpr int SAMPLES = 4;
    const double ry = h / 2.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < n; ++x) {
            int inside = 0;
            for (int sy = 0; sy < SAMPLES; ++sy) {
                for (int sx = 0; sx < SAMPLES; ++sx) {
                    const double px = x + (sx + 0.5) / SAMPLES, py = y + (sy + 0.5) / SAMPLES;
                    const double dx = (bulging_right ? px : n - px) / n, dy = (py - ry) / ry;
                    inside += dx * dx + dy * dy <= 1.0;
                }
            }
            c.put_max(x, y, static_cast<double>(inside) / (SAMPLES * SAMPLES));
        }
    }
}

// The cell cut along a diagonal; the lower triangle at the left or the right edge.
void draw_lower_triangle(Canvas& c, bool at_left) {
    const int n = static_cast<int>(c.width()), h = static_cast<int>(c.height());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < n; ++x) {
            const int from_edge = at_left ? x : n - 1 - x;
            const double f = (y + 0.5) / h - (from_edge + 0.5) / n;
            const double v = ramp(f, n);
            c.put_max(x, y, v * v);
        }
    }
}

void draw_shape(Canvas& c, char32_t cp) {
    const int n = static_cast<int>(c.width()), h = static_cast<int>(c.height());
    const int right = n - 1, bottom = h - 1;
    switch (cp) {
        case 0x256D:
            return draw_rounded_corner(c, true, true);
        case 0x256E:
            return draw_rounded_corner(c, false, true);
        case 0x256F:
            return draw_rounded_corner(c, false, false);
        case 0x2570:
            return draw_rounded_corner(c, true, false);
        case 0x2580:
            return c.fill(0, 0, right, h / 2 - 1);
        case 0x2588:
            return c.fill(0, 0, right, bottom);
        case 0x2591:
            return c.fill(0, 0, right, bottom, 50);
        case 0x2592:
            return c.fill(0, 0, right, bottom, 100);
        case 0x2593:
            return c.fill(0, 0, right, bottom, 200);
        case 0x2594:
            return c.fill(0, 0, right, eighth_rows(h, 1) - 1);
        case 0x2590:
            return c.fill(n - eighth_columns(n, 4), 0, right, bottom);
        case 0x2595:
            return c.fill(n - eighth_columns(n, 1), 0, right, bottom);
        case 0xE0B0:
            return draw_triangle(c, true);
        case 0xE0B2:
            return draw_triangle(c, false);
        case 0xE0B4:
            return draw_half_disc(c, true);
        case 0xE0B6:
            return draw_half_disc(c, false);
        case 0xE0B8:
            return draw_lower_triangle(c, true);
        case 0xE0BA:
            return draw_lower_triangle(c, false);
        default:
            break;
    }
    if (cp >= 0x2581 && cp <= 0x2587) {
        return c.fill(0, h - eighth_rows(h, static_cast<int>(cp - 0x2580)), right, bottom);
    }
    if (cp >= 0x1FB82 && cp <= 0x1FB86) {
        constexpr int eighths[] = {2, 3, 5, 6, 7};
        return c.fill(0, 0, right, eighth_rows(h, eighths[cp - 0x1FB82]) - 1);
    }
    if (cp >= 0x2589 && cp <= 0x258F) {
        return c.fill(0, 0, eighth_columns(n, static_cast<int>(0x2590 - cp)) - 1, bottom);
    }
    if (cp >= 0x1FB87 && cp <= 0x1FB8B) {
        constexpr int eighths[] = {2, 3, 5, 6, 7};
        return c.fill(n - eighth_columns(n, eighths[cp - 0x1FB87]), 0, right, bottom);
    }
}

}  // namespace

std::span<const char32_t> builtin_glyph_code_points() {
    return ALL_CODE_POINTS;
}

bool is_builtin_glyph(char32_t code_point) {
    return std::find(ALL_CODE_POINTS.begin(), ALL_CODE_POINTS.end(), code_point) !=
           ALL_CODE_POINTS.end();
}

std::vector<std::uint8_t> draw_builtin_glyph(char32_t code_point, unsigned width, unsigned height) {
    if (width < BUILTIN_GLYPH_MIN_CELL || height < BUILTIN_GLYPH_MIN_CELL) return {};
    if (!is_builtin_glyph(code_point)) return {};
    Canvas canvas(width, height);
    const auto line = std::find_if(LINE_GLYPHS.begin(), LINE_GLYPHS.end(),
                                   [&](const LineGlyph& g) { return g.code_point == code_point; });
    if (line != LINE_GLYPHS.end())
        draw_lines(canvas, line->arms);
    else
        draw_shape(canvas, code_point);
    return canvas.take();
}

}  // namespace zelto
