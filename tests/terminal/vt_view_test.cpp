#include <gtest/gtest.h>

#include <string>

#include "config/settings.hpp"
#include "terminal/vt.hpp"

namespace zelto {
namespace {

// A 10x4 terminal over 12 lines ("0" .. "11"): the bottom position is 8.
class VtView : public ::testing::Test {
  protected:
    void SetUp() override {
        settings() = Settings{};
        for (int i = 0; i < 12; ++i) vt_.interpret((i ? "\r\n" : "") + std::to_string(i));
        ASSERT_EQ(vt_.screen_top(), 8u);
    }
    std::string top() { return line_text(vt_.lines()[vt_.visible_top()], 0, 0); }

    VtCallbacks callbacks_;
    Vt vt_{10, 4, callbacks_};
};

TEST_F(VtView, LineUpDetachesAndStopsAtTheFirstLine) {
    EXPECT_TRUE(vt_.view_line_up(true));
    EXPECT_TRUE(vt_.scrolled_back());
    EXPECT_EQ(vt_.view_top(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(vt_.view_line_up(true));
    EXPECT_EQ(top(), "0");
    EXPECT_FALSE(vt_.view_line_up(true));
    EXPECT_EQ(vt_.view_top(), 0u);
}

TEST_F(VtView, LineDownAttachesAtTheBottomOnlyWhenAsked) {
    vt_.view_scroll_to(6, true);
    EXPECT_TRUE(vt_.view_line_down(true));
    EXPECT_TRUE(vt_.view_line_down(true));
    EXPECT_FALSE(vt_.scrolled_back());
    EXPECT_FALSE(vt_.view_line_down(true));

    // Without attaching the view stays detached at the bottom and goes no further.
    vt_.view_scroll_to(7, true);
    EXPECT_TRUE(vt_.view_line_down(false));
    EXPECT_TRUE(vt_.scrolled_back());
    EXPECT_EQ(vt_.view_top(), 8u);
    EXPECT_FALSE(vt_.view_line_down(false));
    EXPECT_EQ(vt_.view_top(), 8u);
}

TEST_F(VtView, ScrollToClampsAndDetachesExactlyAwayFromTheBottom) {
    vt_.view_scroll_to(3, true);
    EXPECT_TRUE(vt_.scrolled_back());
    EXPECT_EQ(top(), "3");
    vt_.view_scroll_to(99, true);
    EXPECT_FALSE(vt_.scrolled_back());
    EXPECT_EQ(top(), "8");

    // Frozen, the view keeps its detached state whatever it is moved to.
    vt_.view_freeze();
    EXPECT_TRUE(vt_.scrolled_back());
    EXPECT_EQ(vt_.view_top(), 8u);
    vt_.view_scroll_to(99, false);
    EXPECT_TRUE(vt_.scrolled_back());
    EXPECT_EQ(vt_.view_top(), 8u);
    vt_.view_scroll_to(2, false);
    EXPECT_EQ(top(), "2");
    vt_.view_attach();
    EXPECT_FALSE(vt_.scrolled_back());
    EXPECT_EQ(top(), "8");
}

TEST_F(VtView, AFrozenViewStaysWhileOutputArrivesBelow) {
    vt_.view_freeze();
    vt_.interpret("\r\nnew\r\nnewer");
    EXPECT_TRUE(vt_.scrolled_back());
    EXPECT_EQ(top(), "8");
    EXPECT_EQ(vt_.screen_top(), 10u);
    // Freezing again does not move it.
    vt_.view_freeze();
    EXPECT_EQ(top(), "8");
}

TEST_F(VtView, WithoutHistoryLineUpHasNowhereToGo) {
    Vt small(10, 4, callbacks_);
    small.interpret("a\r\nb");
    EXPECT_FALSE(small.view_line_up(true));
    EXPECT_FALSE(small.scrolled_back());
}

TEST_F(VtView, ATrackedLineIndexFollowsItsLine) {
    std::size_t tracked = 9;
    vt_.set_tracked_line_index(&tracked);
    vt_.interpret("\x1b[1;1H\x1b[L");  // a line inserted at the screen top, above line 9
    EXPECT_EQ(tracked, 10u);
    EXPECT_EQ(line_text(vt_.lines()[tracked], 0, 0), "9");
    vt_.interpret("\x1b[1;1H\x1b[2M");  // two removed above it
    EXPECT_EQ(tracked, 8u);
    EXPECT_EQ(line_text(vt_.lines()[tracked], 0, 0), "9");
    vt_.interpret("\x1b[1;1H\x1b[M");  // its own line removed: the one after it takes its place
    EXPECT_EQ(tracked, 8u);
    EXPECT_EQ(line_text(vt_.lines()[tracked], 0, 0), "10");
    vt_.set_tracked_line_index(nullptr);
}

}  // namespace
}  // namespace zelto
