#include "fonts/box_glyphs.hpp"

#include <gtest/gtest.h>

namespace zelto {
namespace {

struct Cell {
    unsigned n, h;
};

class BuiltinGlyph : public testing::TestWithParam<Cell> {
  protected:
    unsigned n() const { return GetParam().n; }
    unsigned h() const { return GetParam().h; }
    std::vector<std::uint8_t> glyph(char32_t cp) const { return draw_builtin_glyph(cp, n(), h()); }
    int at(const std::vector<std::uint8_t>& g, unsigned x, unsigned y) const {
        return g.at(y * n() + x);
    }
    bool row_full(const std::vector<std::uint8_t>& g, unsigned y) const {
        for (unsigned x = 0; x < n(); ++x)
            if (at(g, x, y) != 255) return false;
        return true;
    }
    bool row_empty(const std::vector<std::uint8_t>& g, unsigned y) const {
        for (unsigned x = 0; x < n(); ++x)
            if (at(g, x, y) != 0) return false;
        return true;
    }
    bool column_full(const std::vector<std::uint8_t>& g, unsigned x) const {
        for (unsigned y = 0; y < h(); ++y)
            if (at(g, x, y) != 255) return false;
        return true;
    }
    int count_ink(const std::vector<std::uint8_t>& g) const {
        int count = 0;
        for (auto v : g) count += v != 0;
        return count;
    }
};

TEST_P(BuiltinGlyph, LightLinesReachTheCellEdgesThroughTheCentre) {
    const auto horizontal = glyph(0x2500);
    ASSERT_EQ(horizontal.size(), n() * h());
    for (unsigned y = 0; y < h(); ++y) {
        if (y == h() / 2)
            EXPECT_TRUE(row_full(horizontal, y));
        else
            EXPECT_TRUE(row_empty(horizontal, y)) << y;
    }
    const auto vertical = glyph(0x2502);
    EXPECT_TRUE(column_full(vertical, n() / 2));
    EXPECT_EQ(count_ink(vertical), static_cast<int>(h()));

    const auto cross = glyph(0x253C);
    EXPECT_TRUE(row_full(cross, h() / 2));
    EXPECT_TRUE(column_full(cross, n() / 2));
    EXPECT_EQ(count_ink(cross), static_cast<int>(n() + h() - 1));

    const auto corner = glyph(0x250C);  // ┌: right and down
    EXPECT_EQ(at(corner, n() - 1, h() / 2), 255);
    EXPECT_EQ(at(corner, n() / 2, h() - 1), 255);
    EXPECT_EQ(at(corner, n() / 2, h() / 2), 255);
    EXPECT_EQ(at(corner, 0, h() / 2), 0);
    EXPECT_EQ(at(corner, n() / 2, 0), 0);
}

TEST_P(BuiltinGlyph, HeavyLinesAreTwoPixelsWide) {
    const auto heavy = glyph(0x2501);
    EXPECT_TRUE(row_full(heavy, h() / 2));
    EXPECT_TRUE(row_full(heavy, h() / 2 + 1));
    EXPECT_EQ(count_ink(heavy), static_cast<int>(2 * n()));
    const auto corner = glyph(0x251B);  // ┛: up and left
    for (unsigned x = 0; x <= n() / 2 + 1; ++x) EXPECT_EQ(at(corner, x, h() / 2 + 1), 255) << x;
    EXPECT_EQ(at(corner, n() / 2 + 1, 0), 255);
    EXPECT_EQ(at(corner, n() - 1, h() / 2), 0);
}

TEST_P(BuiltinGlyph, DoubleLinesJoinWithoutStubs) {
    const unsigned g = n() / 5, xc = n() / 2, yc = h() / 2;
    const auto horizontal = glyph(0x2550);
    EXPECT_TRUE(row_full(horizontal, yc - g));
    EXPECT_TRUE(row_full(horizontal, yc + g));
    EXPECT_TRUE(row_empty(horizontal, yc));

    const auto cross = glyph(0x256C);  // ╬: four corner pieces
    EXPECT_EQ(at(cross, 0, yc - g), 255);
    EXPECT_EQ(at(cross, xc - g, 0), 255);
    EXPECT_EQ(at(cross, xc - g, yc - g), 255);
    EXPECT_EQ(at(cross, xc, yc), 0);
    EXPECT_EQ(at(cross, xc, yc - g), 0);

    const auto tee = glyph(0x255F);  // ╟: double vertical, single line to the right
    EXPECT_TRUE(column_full(tee, xc - g));
    EXPECT_TRUE(column_full(tee, xc + g));
    EXPECT_EQ(at(tee, n() - 1, yc), 255);
    EXPECT_EQ(at(tee, xc, yc), 0);

    const auto mixed_corner = glyph(0x2552);  // ╒: single down, double right
    EXPECT_EQ(at(mixed_corner, n() - 1, yc - g), 255);
    EXPECT_EQ(at(mixed_corner, n() - 1, yc + g), 255);
    EXPECT_EQ(at(mixed_corner, xc, h() - 1), 255);
    EXPECT_EQ(at(mixed_corner, xc, yc - g), 255);
    EXPECT_EQ(at(mixed_corner, 0, yc - g), 0);
    EXPECT_EQ(at(mixed_corner, xc, 0), 0);
}

TEST_P(BuiltinGlyph, RoundedCornerMeetsTheStraightLines) {
    const auto corner = glyph(0x256D);  // ╭: down and right
    EXPECT_EQ(at(corner, n() / 2, h() - 1), 255);
    EXPECT_GT(at(corner, n() - 1, h() / 2), 100);
    EXPECT_EQ(at(corner, 0, 0), 0);
    EXPECT_EQ(at(corner, 0, h() - 1), 0);
    EXPECT_EQ(at(corner, n() - 1, 0), 0);
    // The arc bends: its centre-line pixel is lit below the corner point, not at it.
    EXPECT_LT(at(corner, n() / 2, h() / 2), 255);
}

TEST_P(BuiltinGlyph, BlocksCoverTheirEighths) {
    const auto upper_half = glyph(0x2580);
    EXPECT_TRUE(row_full(upper_half, 0));
    EXPECT_TRUE(row_full(upper_half, h() / 2 - 1));
    EXPECT_TRUE(row_empty(upper_half, h() / 2));
    EXPECT_EQ(count_ink(upper_half), static_cast<int>(n() * (h() / 2)));

    const auto lower_eighth = glyph(0x2581);
    EXPECT_EQ(count_ink(lower_eighth), static_cast<int>(n() * std::max(1u, h() / 8)));
    EXPECT_TRUE(row_full(lower_eighth, h() - 1));

    const auto upper_three_quarters = glyph(0x1FB85);
    EXPECT_EQ(count_ink(upper_three_quarters), static_cast<int>(n() * unsigned(0.75 * h())));
    EXPECT_TRUE(row_full(upper_three_quarters, 0));

    EXPECT_EQ(count_ink(glyph(0x2588)), static_cast<int>(n() * h()));

    const unsigned half = n() - static_cast<unsigned>(n() * 4 / 8.0);
    const auto left_half = glyph(0x258C);
    EXPECT_EQ(count_ink(left_half), static_cast<int>(half * h()));
    EXPECT_TRUE(column_full(left_half, 0));
    const auto right_half = glyph(0x2590);
    EXPECT_EQ(count_ink(right_half), static_cast<int>(half * h()));
    EXPECT_TRUE(column_full(right_half, n() - 1));

    const unsigned one_eighth = n() - static_cast<unsigned>(n() * 7 / 8.0);
    EXPECT_EQ(count_ink(glyph(0x258F)), static_cast<int>(one_eighth * h()));
    EXPECT_TRUE(column_full(glyph(0x2595), n() - 1));

    for (auto [cp, level] : {std::pair{0x2591, 50}, {0x2592, 100}, {0x2593, 200}}) {
        const auto shade = glyph(cp);
        for (auto v : shade) ASSERT_EQ(v, level);
    }
}

TEST_P(BuiltinGlyph, PowerlineShapes) {
    const unsigned mid = h() / 2;
    const auto right_triangle = glyph(0xE0B0);
    EXPECT_EQ(at(right_triangle, 0, mid), 255);
    EXPECT_EQ(at(right_triangle, n() - 1, 0), 0);
    EXPECT_EQ(at(right_triangle, n() - 1, h() - 1), 0);
    EXPECT_GT(at(right_triangle, n() - 1, mid - (h() % 2 == 0)), 0);  // the apex
    const auto left_triangle = glyph(0xE0B2);
    for (unsigned y = 0; y < h(); ++y)
        for (unsigned x = 0; x < n(); ++x)
            ASSERT_EQ(at(left_triangle, x, y), at(right_triangle, n() - 1 - x, y));

    const auto half_disc = glyph(0xE0B4);
    EXPECT_EQ(at(half_disc, 0, mid), 255);
    EXPECT_EQ(at(half_disc, n() - 1, 0), 0);
    EXPECT_GT(at(half_disc, n() - 1, mid), 0);
    const auto left_disc = glyph(0xE0B6);
    EXPECT_EQ(at(left_disc, n() - 1, mid), 255);
    EXPECT_EQ(at(left_disc, 0, 0), 0);

    const auto lower_left = glyph(0xE0B8);
    EXPECT_EQ(at(lower_left, 0, h() - 1), 255);
    EXPECT_EQ(at(lower_left, n() - 1, 0), 0);
    const auto lower_right = glyph(0xE0BA);
    EXPECT_EQ(at(lower_right, n() - 1, h() - 1), 255);
    EXPECT_EQ(at(lower_right, 0, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(CellSizes, BuiltinGlyph,
                         testing::Values(Cell{5, 5}, Cell{7, 15}, Cell{8, 16}, Cell{9, 19},
                                         Cell{10, 21}, Cell{13, 27}, Cell{16, 33}));

TEST(BuiltinGlyphs, SmallCellsHaveNone) {
    EXPECT_TRUE(draw_builtin_glyph(0x2500, 4, 16).empty());
    EXPECT_TRUE(draw_builtin_glyph(0x2500, 8, 4).empty());
    EXPECT_TRUE(draw_builtin_glyph('A', 8, 16).empty());
    EXPECT_FALSE(is_builtin_glyph(0x2504));  // dashed lines come from the fonts
    EXPECT_EQ(builtin_glyph_code_points().size(), 93u);
}

}  // namespace
}  // namespace zelto
