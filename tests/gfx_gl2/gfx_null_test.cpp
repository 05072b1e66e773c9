#include "gfx_gl2/gfx_null.hpp"

#include <gtest/gtest.h>

namespace zelto {
namespace {

TEST(GfxNull, GridFollowsTheCellSizeAndCountsFrames) {
    GfxNull gfx(8, 16, 2);
    EXPECT_EQ(gfx.get_grid_size({11, 100}).cols, 0u);
    EXPECT_EQ(gfx.get_grid_size({12, 100}).cols, 1u);
    EXPECT_EQ(gfx.get_grid_size({19, 100}).cols, 1u);
    EXPECT_EQ(gfx.get_grid_size({84, 100}).cols, 10u);
    gfx.resize(84, 100, {10, 6});
    EXPECT_EQ(gfx.grid().rows, 6u);
    EXPECT_EQ(gfx.frames_drawn(), 0u);
}

}  // namespace
}  // namespace zelto
