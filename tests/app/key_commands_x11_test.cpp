// The terminal itself on a private X server: keys typed through XTest reach the key commands.
// What the view shows is read back from HTML dumps (bound to F10 in the configuration file) and
// from the window's pixels.
#include <gtest/gtest.h>

#include <string>

#include "window/zelto_dump_fixture.hpp"

namespace zelto {
namespace {

using test::rightmost_lit_column;
using test::wait_for;

using KeyCommandsX11 = test::ZeltoDumpX11;

// "older 1" .. "older 200": the screen shows the last of them.
const char* const NUMBERED =
    "i=1; while [ $i -le 200 ]; do echo older $i; i=$((i+1)); done; exec sleep 60";

TEST_F(KeyCommandsX11, PageUpShowsOlderOutputAndAConfiguredF10Binding) {
    start(NUMBERED);
    const std::string bottom = dump_showing("older 200<");
    ASSERT_NE(bottom.find("older 200<"), std::string::npos) << bottom;
    EXPECT_EQ(bottom.find("older 165<"), std::string::npos);

    // One screen up from 24 rows (the last one the cursor's empty line).
    keys("ctrl+shift+Prior");
    const std::string back = dump();
    EXPECT_EQ(back.find("older 200<"), std::string::npos);
    EXPECT_NE(back.find("older 165<"), std::string::npos) << back;

    keys("ctrl+shift+Next ctrl+shift+Next");
    EXPECT_NE(dump().find("older 200<"), std::string::npos);
}

TEST_F(KeyCommandsX11, EnlargingTheFontLeavesFewerCellsInTheWindow) {
    start(NUMBERED);
    const std::string before = dump_showing("older 200<");
    ASSERT_NE(before.find("font-size: 9;"), std::string::npos) << before;
    // Every line is "older " and a number: the longest are as wide as the widest glyphs go.
    int extent_before = -1;
    ASSERT_TRUE(wait_for([&] {
        extent_before = rightmost_lit_column(display_, window_);
        return extent_before > 0;
    })) << "nothing drawn";

    keys("ctrl+shift+equal ctrl+shift+equal ctrl+shift+equal ctrl+shift+equal");
    const std::string after = dump_showing("font-size: 13;");
    ASSERT_NE(after.find("font-size: 13;"), std::string::npos);
    // The same window holds fewer rows: older lines left the top of the screen.
    auto shown = [](const std::string& text) {
        int count = 0;
        for (std::size_t at = 0; (at = text.find("older ", at)) != std::string::npos; ++at) ++count;
        return count;
    };
    EXPECT_LT(shown(after), shown(before));
    EXPECT_NE(after.find("older 200<"), std::string::npos);

    // The screenshot shows the same lines in larger glyphs.
    int extent_after = -1;
    EXPECT_TRUE(wait_for([&] {
        extent_after = rightmost_lit_column(display_, window_);
        return extent_after > extent_before * 5 / 4;
    })) << extent_before
        << " -> " << extent_after;

    keys("ctrl+shift+minus ctrl+shift+minus ctrl+shift+minus ctrl+shift+minus");
    EXPECT_NE(dump_showing("font-size: 9;").find("font-size: 9;"), std::string::npos);
}

}  // namespace
}  // namespace zelto
