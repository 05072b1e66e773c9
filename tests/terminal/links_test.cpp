// Link detection: URIs in printed text become links on the cells they cover.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "terminal/vt_harness.hpp"

namespace zelto {
namespace {

using test::VtHarness;

// 'L' for every linked cell of a screen row, '.' for the others.
std::string link_map(VtHarness& h, std::size_t row) {
    std::string map;
    for (const VtCell& cell : h.vt.lines()[h.vt.screen_top() + row].cells) map += cell.link ? 'L' : '.';
    return map;
}

// What link_map gives for `text` when exactly `url` in it is linked.
std::string covering(const std::string& text, const std::string& url) {
    std::string map(text.size(), '.');
    const std::size_t at = text.find(url);
    if (at != std::string::npos) map.replace(at, url.size(), url.size(), 'L');
    return map;
}

std::string link_at(VtHarness& h, std::size_t row, std::size_t col) {
    const VtLine& line = h.vt.lines()[h.vt.screen_top() + row];
    if (col >= line.cells.size() || line.cells[col].link == 0) return {};
    return line.links->at(line.cells[col].link - 1u);
}

TEST(Links, AUrlInTextCoversExactlyItsCharacters) {
    VtHarness h(40, 2);
    h.feed("see https://example.com/a/b1 for it");
    EXPECT_EQ(link_map(h, 0), covering("see https://example.com/a/b1 for it", "https://example.com/a/b1"));
    EXPECT_EQ(link_at(h, 0, 4), "https://example.com/a/b1");
    EXPECT_EQ(h.vt.lines()[0].links->size(), 1u);
}

TEST(Links, AHostWithoutPathEndsAtTheSpace) {
    VtHarness h(40, 2);
    h.feed("see https://example.com for details");
    EXPECT_EQ(link_map(h, 0), covering("see https://example.com for details", "https://example.com"));
    EXPECT_EQ(link_at(h, 0, 4), "https://example.com");
    h.feed("\r\n<https://a.org>|ssh://b.c\"");
    EXPECT_EQ(link_map(h, 1), covering("<https://a.org>|ssh://b.c\"", "https://a.org").substr(0, 16) + "LLLLLLLLL.");
    EXPECT_EQ(link_at(h, 1, 16), "ssh://b.c");
}

TEST(Links, AHostWithoutADotIsNoLink) {
    VtHarness h(40, 3);
    h.feed("ftp://host.org\r\nftp://localhost\r\nhttp://x y");
    EXPECT_EQ(link_at(h, 0, 0), "ftp://host.org");
    EXPECT_EQ(link_map(h, 1), "...............");
    EXPECT_EQ(link_map(h, 2), "..........");
}

TEST(Links, OnlyTheFirstLetterOfASchemeMayBeUpperCase) {
    VtHarness h(40, 3);
    h.feed("HTTPS://a.b/c\r\nHttps://a.b/c\r\nnothttps://a.b/c xhttp://a.b/");
    EXPECT_EQ(link_map(h, 0), ".............");
    EXPECT_EQ(link_at(h, 1, 0), "Https://a.b/c");
    EXPECT_EQ(link_map(h, 2), std::string(29, '.'));
}

TEST(Links, AnElevenLetterWordIsNoScheme) {
    VtHarness h(40, 2);
    h.feed("abcdefghijk://a.b/c ");
    EXPECT_EQ(link_map(h, 0), std::string(20, '.'));
}

TEST(Links, WwwNeedsASecondDot) {
    VtHarness h(40, 4);
    h.feed("go www.example.com now\r\ngo www.example now\r\nwww.a.b,c!\r\n");
    EXPECT_EQ(link_at(h, 0, 3), "www.example.com");
    EXPECT_EQ(link_map(h, 0), "...LLLLLLLLLLLLLLL....");
    EXPECT_EQ(link_map(h, 1), std::string(18, '.'));
    EXPECT_EQ(link_at(h, 2, 0), "www.a.b,c!");
}

TEST(Links, ControlsEscapesAndOtherCharactersEndTheLink) {
    VtHarness h(40, 4);
    h.feed("http://a.b/c\x1b" "7def\r\nhttp://a.b/c\xc3\xa9z\r\nwww.a.b\xcc\x81 x\r\nhttp://a.b/\tz");
    EXPECT_EQ(link_map(h, 0), "LLLLLLLLLLLL...");
    EXPECT_EQ(link_map(h, 1), "LLLLLLLLLLLL..");
    EXPECT_EQ(link_map(h, 2), "LLLLLLL..");
    EXPECT_EQ(link_at(h, 3, 0), "http://a.b/");
    EXPECT_EQ(link_map(h, 3), "LLLLLLLLLLL......");
}

TEST(Links, AWrappedUrlCoversTheRestOfEachLineAndTheStartOfTheLast) {
    VtHarness h(10, 4);
    h.feed("abc http://example.org/long/path x");
    EXPECT_EQ(link_map(h, 0), "....LLLLLL");
    EXPECT_EQ(link_map(h, 1), "LLLLLLLLLL");
    EXPECT_EQ(link_map(h, 2), "LLLLLLLLLL");
    EXPECT_EQ(link_map(h, 3), "LL..");
    EXPECT_EQ(link_at(h, 3, 0), "http://example.org/long/path");
}

TEST(Links, PositionsAreTakenWhereAPendingWrapPutsThem) {
    VtHarness h(16, 4);
    // Starting while a wrap is pending: the link starts on the next line.
    h.feed("1234567890123456http://a.b/c d");
    EXPECT_EQ(link_map(h, 0), std::string(16, '.'));
    EXPECT_EQ(link_map(h, 1), "LLLLLLLLLLLL..");
    // Ending while a wrap is pending: the last column is part of it.
    h.feed("\r\n1234http://a.b/c\r\n");
    EXPECT_EQ(link_map(h, 2), "....LLLLLLLLLLLL");
    EXPECT_EQ(link_at(h, 2, 15), "http://a.b/c");
}

TEST(Links, ALinkSplitBetweenReadsIsStillFound) {
    const std::string text = "a https://example.com/x?y=1 b\r\nwww.e.org ftp://q.r\r\n";
    VtHarness whole(20, 6);
    whole.feed(text);
    VtHarness split(20, 6);
    split.feed(text, 1);
    EXPECT_EQ(split.state_fingerprint(), whole.state_fingerprint());
    EXPECT_EQ(link_at(split, 0, 2), "https://example.com/x?y=1");
}

TEST(Links, TheStartFollowsItsLineWhenTheRegionScrolls) {
    VtHarness h(10, 3);
    h.feed("1\r\n\r\nbottom");
    h.vt.set_scroll_region(0, 1);
    h.vt.place_cursor(1, 0);
    h.feed("xx http://a.b/cdef g");
    EXPECT_EQ(h.screen(), "xx http://\na.b/cdef g\nbottom");
    EXPECT_EQ(link_map(h, 0), "...LLLLLLL");
    EXPECT_EQ(link_map(h, 1), "LLLLLLLL..");
    EXPECT_EQ(link_map(h, 2), "......");
    EXPECT_EQ(link_at(h, 0, 3), "http://a.b/cdef");
}

TEST(Links, RunsOfTextAreDetectedAsCharacterByCharacter) {
    // Insert mode prints one character at a time; on fresh lines it writes what a run writes.
    const char* tokens[] = {"http", "Https", "ftp", "www", "HTTP", "xyzzyxyzzyx", "://", ":", ".", "/",
                            "a", "Bc", " ", "-", "?q=1", "\r\n", "\xc3\xa9"};
    std::mt19937 random(11);
    std::string text;
    for (int i = 0; i < 4000; ++i) text += tokens[random() % std::size(tokens)];
    VtHarness runs(23, 5);
    VtHarness characters(23, 5);
    characters.vt.modes().insert = true;
    runs.feed(text, 97);
    characters.feed(text, 97);
    ASSERT_EQ(runs.vt.lines().size(), characters.vt.lines().size());
    std::size_t linked = 0;
    for (std::size_t i = 0; i < runs.vt.lines().size(); ++i) {
        const VtLine& a = runs.vt.lines()[i];
        const VtLine& b = characters.vt.lines()[i];
        ASSERT_EQ(a.cells.size(), b.cells.size()) << i;
        for (std::size_t col = 0; col < a.cells.size(); ++col) {
            const std::string link_a = a.cells[col].link ? a.links->at(a.cells[col].link - 1u) : "";
            const std::string link_b = b.cells[col].link ? b.links->at(b.cells[col].link - 1u) : "";
            ASSERT_EQ(a.cells[col].code, b.cells[col].code) << i << ',' << col;
            ASSERT_EQ(link_a, link_b) << i << ',' << col;
            linked += !link_a.empty();
        }
    }
    EXPECT_GT(linked, 100u);
}

TEST(Links, AnUnterminatedMegabyteUrlCostsBoundedTimeAndMemory) {
    VtHarness h(80, 24);
    const auto began = std::chrono::steady_clock::now();
    h.feed("http://example.com/");
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 16; ++i) h.vt.interpret(chunk);
    h.feed(" done");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
    std::size_t link_bytes = 0;
    for (const VtLine& line : h.vt.lines()) {
        if (!line.links) continue;
        for (const std::string& text : *line.links) {
            EXPECT_LE(text.size(), 8192u);
            link_bytes += text.size();
        }
    }
    EXPECT_LT(link_bytes, 2u * 1024 * 1024);
    EXPECT_EQ(h.screen().substr(h.screen().size() - 5), " done");
}

TEST(Links, RewritingALinkInPlaceNeverGrowsTheLineWithoutBound) {
    VtHarness h(30, 2);
    std::string text;
    for (int i = 0; i < 70000; ++i) text += "\rhttp://a.b/" + std::to_string(i) + " ";
    h.feed(text, 64 * 1024);
    const VtLine& line = h.vt.lines()[0];
    ASSERT_TRUE(line.links);
    EXPECT_LE(line.links->size(), 2 * line.cells.size());
    EXPECT_EQ(link_at(h, 0, 0), "http://a.b/69999");
    EXPECT_EQ(link_at(h, 0, 15), "http://a.b/69999");
}

}  // namespace
}  // namespace zelto
