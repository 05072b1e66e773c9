// zelto on a private X server: a new window size changes the grid, the shell's `stty size` says
// so, and a long line flows to the new width. The screen is read back from HTML dumps (bound to
// F10) and from the window's pixels.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "window/zelto_dump_fixture.hpp"

namespace zelto {
namespace {

using test::rightmost_lit_column;
using test::wait_for;

// 150 letters a..z over and over: every piece of the wrapped line reads differently.
std::string long_line() {
    std::string s;
    for (int i = 0; i < 150; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

using ReflowX11 = test::ZeltoDumpX11;

TEST_F(ReflowX11, ANewWindowSizeReachesTheShellAndTheTextFlowsToTheNewWidth) {
    // The shell prints its size at start and again on every window-size signal.
    start("trap 'stty size' WINCH; printf '%s\\n' " + long_line() +
          "; stty size; while :; do sleep 1 & wait $!; done");
    std::string text;
    ASSERT_TRUE(wait_for([&] {
        text = dump(5'000);
        return text.find(">24 80<") != std::string::npos;
    })) << text;
    ASSERT_NE(text.find(">" + long_line().substr(0, 80) + "<"), std::string::npos) << text;
    int wide_extent = -1;
    ASSERT_TRUE(wait_for([&] {
        return (wide_extent = rightmost_lit_column(display_, window_)) > 0;
    })) << "nothing drawn";

    ASSERT_EQ(std::system(("xdotool windowsize --sync " + id_ + " 300 260 2>/dev/null").c_str()),
              0);
    const std::regex size_line(">([0-9]+) ([0-9]+)<");
    int rows = 0, cols = 0;
    ASSERT_TRUE(wait_for([&] {
        text = dump(5'000);
        for (auto it = std::sregex_iterator(text.begin(), text.end(), size_line);
             it != std::sregex_iterator(); ++it) {
            const int r = std::stoi((*it)[1]);
            const int c = std::stoi((*it)[2]);
            if (r != 24 || c != 80) {
                rows = r;
                cols = c;
                return true;
            }
        }
        return false;
    })) << text;
    EXPECT_LT(cols, 80);
    EXPECT_LT(rows, 24);
    ASSERT_GT(cols, 1);
    // The long line reads in pieces of the new width.
    const std::string line = long_line();
    for (std::size_t at = 0; at < line.size(); at += static_cast<std::size_t>(cols)) {
        EXPECT_NE(text.find(">" + line.substr(at, static_cast<std::size_t>(cols)) + "<"),
                  std::string::npos)
            << "piece at " << at << " of width " << cols << " in\n"
            << text;
    }
    // The window shows the text re-wrapped: lit, and narrower than the 80-column line was.
    int narrow_extent = -1;
    EXPECT_TRUE(wait_for([&] {
        narrow_extent = rightmost_lit_column(display_, window_);
        return narrow_extent > 0 && narrow_extent < wide_extent && narrow_extent < 300;
    })) << wide_extent
        << " -> " << narrow_extent;
}

}  // namespace
}  // namespace zelto
