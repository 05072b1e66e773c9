// Link detection: URIs in printed text become links on the cells they cover.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/vt_harness.hpp"
#include "terminal/vt_links.hpp"

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

TEST(Links, SchemesAreKnownInAnyCaseAndNothingElseIs) {
    const std::vector<std::string> schemes = {
        "file", "http", "https", "shttp", "irc", "smb", "udp", "xmpp", "xri", "magnet", "mailto", "callto",
        "message", "mumble", "ssh", "telnet", "imap", "pop", "ftp", "sftp", "tftp", "nfs", "fish", "git",
        "svn", "jar", "mvn", "vnc", "rdp", "spice", "nx", "cvs", "admin", "app"};
    const auto listed = [&](std::string_view text) {
        return std::any_of(schemes.begin(), schemes.end(), [&](const std::string& scheme) {
            return scheme.size() == text.size() &&
                   std::equal(scheme.begin(), scheme.end(), text.begin(),
                              [](char a, char b) { return a == static_cast<char>(b | 0x20); });
        });
    };
    std::mt19937 random(3);
    const char others[] = "ahtpsfimnx@`AHTPS\0\x80\xe1";
    const std::string bytes(others, sizeof others - 1);
    std::size_t known = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        if (i % 2 == 0) {
            // A scheme, perhaps with a letter changed, added or dropped.
            text = schemes[random() % schemes.size()];
            for (char& c : text) c = random() % 3 == 0 ? static_cast<char>(c - 0x20) : c;
            switch (random() % 4) {
            case 0: text[random() % text.size()] = bytes[random() % bytes.size()]; break;
            case 1: text.insert(random() % (text.size() + 1), 1, bytes[random() % bytes.size()]); break;
            case 2: text.erase(random() % text.size(), 1); break;
            default: break;
            }
        } else {
            for (std::size_t n = random() % 10; n > 0; --n) text += bytes[random() % bytes.size()];
        }
        ASSERT_EQ(is_link_scheme(text), listed(text)) << text;
        known += listed(text);
    }
    EXPECT_GT(known, 20000u);
    for (const std::string& scheme : schemes) EXPECT_TRUE(is_link_scheme(scheme)) << scheme;
    EXPECT_FALSE(is_link_scheme(""));
}

// What the detector found: each link's first place, end column and text, then its state.
struct Detected {
    std::vector<std::string> links;
    std::string state;

    void add(const VtLinkDetector& d, std::size_t end) {
        links.push_back(std::to_string(d.start.col) + '-' + std::to_string(end) + ' ' + d.text());
    }
    void settle(const VtLinkDetector& d) {
        state = std::to_string(d.state()) + ' ' + d.text();
        if (!d.idle()) state += " at " + std::to_string(d.start.col);
    }
};

TEST(Links, ScanningTextFindsWhatSteppingEachCharacterFinds) {
    // Words of every length and case next to the bytes that end a scheme or a link, and schemes.
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ:./ 0123456789";
    const char* words[] = {"http", "Https", "www", "ftp", "mailto", "message", "xmpp", "HtTp", "abcdefghij",
                           "abcdefghijk", "sSh", "://", "\xc3\xa9"};
    std::mt19937 random(5);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t size = random() % 200;
        while (text.size() < size) {
            if (random() % 4 == 0) {
                text += words[random() % std::size(words)];
            } else {
                text += alphabet[random() % (random() % 2 ? 26 : alphabet.size())];
            }
        }
        std::vector<std::size_t> splits{0, text.size()};
        for (std::size_t i = random() % 5; i > 0; --i) splits.push_back(random() % (text.size() + 1));
        std::sort(splits.begin(), splits.end());

        VtLinkDetector stepped;
        Detected expected;
        for (std::size_t k = 0; k < text.size(); ++k) {
            const char32_t ch = static_cast<unsigned char>(text[k]);
            const VtTextPoint at{0, static_cast<std::uint16_t>(k)};
            if (!stepped.step(ch, at)) continue;
            expected.add(stepped, k);
            stepped.reset();
            stepped.step(ch, at);
        }
        expected.settle(stepped);

        VtLinkDetector scanned;
        Detected found;
        for (std::size_t s = 0; s + 1 < splits.size(); ++s) {
            for (std::size_t k = splits[s]; k < splits[s + 1];) {
                const std::string_view part = std::string_view(text).substr(k, splits[s + 1] - k);
                k += scanned.scan(part, {0, static_cast<std::uint16_t>(k)});
                if (k == splits[s + 1]) break;
                found.add(scanned, k);
                scanned.reset();
            }
        }
        found.settle(scanned);
        ASSERT_EQ(found.links, expected.links) << text;
        ASSERT_EQ(found.state, expected.state) << text;
        // The letters of a scheme in progress show in what a common ending makes of them.
        for (const char ch : std::string_view("://x.y ")) {
            ASSERT_EQ(scanned.step(ch, {0, 300}), stepped.step(ch, {0, 300})) << text;
            ASSERT_EQ(scanned.text(), stepped.text()) << text;
        }
        ASSERT_EQ(scanned.finish(), stepped.finish()) << text;
    }
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
