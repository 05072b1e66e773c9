#include "window/wayland/wayland_outputs.hpp"

#include <gtest/gtest.h>

namespace zelto {
namespace {

class OutputTrackerTest : public ::testing::Test {
  protected:
    void describe(OutputTracker::Id id, const std::string& model, const std::string& connector,
                  std::int32_t width = 1920, std::int32_t mm = 500) {
        outputs.geometry(id, mm, 2, model);
        outputs.current_mode(id, width, 60000);
        if (!connector.empty()) {
            outputs.connector_name(id, connector);
        }
        outputs.done(id);
    }

    int a = 0;
    int b = 0;
    OutputTracker::Id output_a = &a;
    OutputTracker::Id output_b = &b;
    OutputTracker outputs;
};

TEST_F(OutputTrackerTest, AnOutputIsKnownFromItsDoneEvent) {
    outputs.geometry(output_a, 500, 2, "Monitor");
    outputs.current_mode(output_a, 1920, 60000);
    EXPECT_EQ(outputs.size(), 0u);
    outputs.done(output_a);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs.fullscreen_output(), output_a);
    const OutputEntry* entry = outputs.enter(output_a);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, "Monitor");  // no connector name offered: the model text
    EXPECT_EQ(entry->dpi, 97);
    EXPECT_EQ(entry->subpixel, 2u);
    EXPECT_NEAR(entry->refresh_ms, 16.667, 0.001);
    EXPECT_EQ(entry->index, 0u);
}

TEST_F(OutputTrackerTest, TheConnectorNameWinsOverTheModel) {
    describe(output_a, "DELL U2720Q", "DP-2");
    EXPECT_EQ(outputs.enter(output_a)->name, "DP-2");
}

TEST_F(OutputTrackerTest, AnOutputWithoutPhysicalSizeHasUnknownDpi) {
    describe(output_a, "headless", "HEADLESS-1", 1024, 0);
    EXPECT_EQ(outputs.enter(output_a)->dpi, 0);
}

TEST_F(OutputTrackerTest, TheFirstOutputEnteredIsTheWindowsUntilItLeaves) {
    describe(output_a, "A", "");
    describe(output_b, "B", "");
    EXPECT_TRUE(outputs.on_no_output());
    EXPECT_EQ(outputs.enter(output_a)->name, "A");
    EXPECT_EQ(outputs.enter(output_b), nullptr);  // spanning two outputs: A stays
    EXPECT_EQ(outputs.current()->name, "A");
    // Leaving A leaves B alone: it becomes the window's output.
    const OutputEntry* now = outputs.leave(output_a);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->name, "B");
    EXPECT_EQ(now->index, 1u);
    EXPECT_FALSE(outputs.on_no_output());
    EXPECT_EQ(outputs.leave(output_b), nullptr);
    EXPECT_TRUE(outputs.on_no_output());
}

TEST_F(OutputTrackerTest, AnUpdateKeepsTheIndex) {
    describe(output_a, "A", "");
    describe(output_b, "B", "");
    outputs.current_mode(output_a, 3840, 120000);
    outputs.done(output_a);
    const OutputEntry* entry = outputs.enter(output_a);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->index, 0u);
    EXPECT_EQ(entry->pixel_width, 3840);
    EXPECT_EQ(outputs.fullscreen_output(), output_a);
}

TEST_F(OutputTrackerTest, ABareDoneWithdrawsTheEntry) {
    describe(output_a, "A", "");
    outputs.enter(output_a);
    outputs.done(output_a);  // nothing described since the last done
    EXPECT_EQ(outputs.size(), 0u);
    EXPECT_EQ(outputs.current(), nullptr);
    EXPECT_EQ(outputs.fullscreen_output(), nullptr);
    // Entering it again has nothing to report, but the window is on an output.
    outputs.leave(output_a);
    EXPECT_EQ(outputs.enter(output_a), nullptr);
    EXPECT_FALSE(outputs.on_no_output());
}

TEST_F(OutputTrackerTest, AForgottenOutputIsNoLongerEntered) {
    describe(output_a, "A", "");
    outputs.enter(output_a);
    outputs.forget(output_a);
    EXPECT_TRUE(outputs.on_no_output());
    EXPECT_EQ(outputs.current(), nullptr);
}

}  // namespace
}  // namespace zelto
