#include "config/output_rules.hpp"

#include <gtest/gtest.h>

namespace zelto {
namespace {

TEST(OutputGlob, StarQuestionMarkAndWholeNames) {
    EXPECT_TRUE(output_glob_matches("DP-*", "DP-1"));
    EXPECT_TRUE(output_glob_matches("DP-*", "DP-"));
    EXPECT_FALSE(output_glob_matches("DP-*", "eDP-1"));
    EXPECT_TRUE(output_glob_matches("*DP-?", "eDP-1"));
    EXPECT_FALSE(output_glob_matches("DP-?", "DP-10"));
    EXPECT_TRUE(output_glob_matches("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(output_glob_matches("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(output_glob_matches("*", "anything"));
    EXPECT_TRUE(output_glob_matches("HDMI-A-1", "HDMI-A-1"));
    EXPECT_FALSE(output_glob_matches("HDMI-A-1", "HDMI-A-12"));
    EXPECT_FALSE(output_glob_matches("", "DP-1"));
    EXPECT_FALSE(output_glob_matches("*", ""));
    // No exponential blow-up on many stars.
    EXPECT_FALSE(output_glob_matches(std::string(50, '*') + "b", std::string(5000, 'a')));
}

Settings with_rules(std::initializer_list<OutputRule> rules) {
    Settings s;
    s.output = rules;
    return s;
}

TEST(OutputChange, RuleAppliesItsOrderAndDpi) {
    Settings s = with_rules({{"DP-*", 0, 3, 120}});
    auto change = output_change(s, 1, "DP-2", 0, 96);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->lcd_order, 3u);
    EXPECT_EQ(change->dpi, 120u);
    EXPECT_EQ(output_change_message(1, "DP-2", *change, 96),
              "Window moved to output 1 'DP-2' Horizontal BGR, 120(96) dpi.");
}

TEST(OutputChange, OutputsReportingTheirLayoutGetUndefinedOrder) {
    Settings s = with_rules({{"DP-*", 0, 3, 120}});
    auto change = output_change(s, 1, "DP-2", 2, 96);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->lcd_order, 0u);
    EXPECT_EQ(change->dpi, 120u);
    // Undefined order and the same DPI: nothing changes, whatever the current order.
    Settings same = with_rules({{"DP-*", 0, 3, 0}});
    EXPECT_FALSE(output_change(same, 1, "DP-2", 3, 96));
}

TEST(OutputChange, IndexRules) {
    Settings s = with_rules({{std::nullopt, 2, 5, 0}});
    EXPECT_FALSE(output_change(s, 0, "", 0, 96));  // no index, no name: the defaults, no change
    auto change = output_change(s, 2, "", 0, 96);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->lcd_order, 5u);
    EXPECT_EQ(change->dpi, 96u);
}

TEST(OutputChange, AutomaticDpiOnlyThroughAMatchingRule) {
    Settings s = with_rules({{"DP-*", 0, 2, 0}});
    s.dpi_auto = true;
    auto matched = output_change(s, 1, "DP-1", 0, 144);
    ASSERT_TRUE(matched);
    EXPECT_EQ(matched->dpi, 144u);
    EXPECT_FALSE(output_change(s, 1, "HDMI-1", 0, 144));  // defaults: 96 and RGB, as now

    s.current_dpi = 144;
    auto back = output_change(s, 1, "HDMI-1", 0, 144);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dpi, 96u);
    EXPECT_EQ(back->lcd_order, 2u);
}

TEST(OutputChange, FirstMatchingRuleWins) {
    Settings s = with_rules({{"DP-1", 0, 4, 0}, {"DP-*", 0, 5, 0}});
    EXPECT_EQ(output_change(s, 1, "DP-1", 0, 0)->lcd_order, 4u);
    EXPECT_EQ(output_change(s, 1, "DP-3", 0, 0)->lcd_order, 5u);
    EXPECT_STREQ(lcd_order_name(5), "Vertical BGR");
    EXPECT_STREQ(lcd_order_name(9), "");
}

}  // namespace
}  // namespace zelto
