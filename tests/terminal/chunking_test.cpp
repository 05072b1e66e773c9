#include <gtest/gtest.h>

#include <random>

#include "terminal/vt_harness.hpp"
#include "terminal/wcwidth.hpp"

namespace zelto::test {
namespace {

// Short streams that end in the middle of UTF-8, CSI and OSC sequences when split.
const std::vector<std::string>& short_streams() {
    static const std::vector<std::string> streams = {
        "h\xc3\xa9llo w\xe2\x82\xacrld \xf0\x9f\x98\x80 \xe2\x82\x41 bad\xff utf8\r\n",
        "\x1b[2;5Hpos\x1b[1;3r\x1b[3;1H\n\n\n\x1b[r\x1b[?1049hALT\x1b[?1049lback\x1b[99;99H!",
        "\x1b]0;a title\a\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\\x1bkscreen\x1b\\\x1bPq#0;2;0;0;0\x1b\\",
        "\x1b(0lqqk\r\nx  x\r\nmqqj\x1b(B\x1b)0\x0e" "aa\x0f\x1b*0\x1bNq\x1b" "7\x1b[5;5H\x1b" "8E",
        "\x1b[?2026h\x1b[2J\x1b[1;1Hframe\x1b[?2026l\x1b#8\x1b" "c after reset\x1b\x1b\x1b\\z",
        std::string(200, 'w') + "\x1b[44m\r\n\r\n\x1b[K\x1b[1K\x1b[0m" + std::string(90, '\n') + "end",
    };
    return streams;
}

std::string whole_state(const std::string& stream, std::uint32_t cols = 20, std::uint32_t rows = 6) {
    VtHarness h(cols, rows);
    h.feed(stream);
    return h.state_fingerprint();
}

TEST(Chunking, ShortStreamsGiveTheSameStateInOneByteChunks) {
    for (const std::string& stream : short_streams()) {
        VtHarness h(20, 6);
        h.feed(stream, 1);
        EXPECT_EQ(h.state_fingerprint(), whole_state(stream)) << stream;
    }
}

TEST(Chunking, ShortStreamsGiveTheSameStateSplitAtEveryOffset) {
    for (const std::string& stream : short_streams()) {
        const std::string expected = whole_state(stream);
        for (std::size_t at = 1; at < stream.size(); ++at) {
            VtHarness h(20, 6);
            h.feed_split(stream, {at});
            ASSERT_EQ(h.state_fingerprint(), expected) << "split at " << at << " of " << stream;
        }
    }
}

// `count` split points inside a stream of `size` bytes, in order.
std::vector<std::size_t> random_offsets(std::mt19937& rng, std::size_t size, std::size_t count) {
    std::uniform_int_distribution<std::size_t> offset(1, size - 1);
    std::vector<std::size_t> offsets(count);
    for (auto& o : offsets) o = offset(rng);
    std::sort(offsets.begin(), offsets.end());
    return offsets;
}

// Text in many scripts, marks, emoji sequences, overhanging glyphs, links and the modes that
// change how text lands: the paths that print runs of characters at once and one at a time
// must agree.
std::string random_text_stream(std::mt19937& rng) {
    static const char* const fragments[] = {
        "\xe6\x97\xa5\xe6\x9c\xac",           // wide CJK
        "\xce\xa9\xc3\x9f\xe2\x86\x92",       // narrow non-ASCII
        "e\xcc\x81", "\xcc\x88\xcc\xa3",      // marks, with and without a base
        "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",   // emoji with a skin tone
        "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9",  // joined emoji
        "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa",   // a flag
        "\xee\x82\xb0", "\xe2\x9c\x94",       // private use and a dingbat
        "\xe2\x80\x8b", "\xef\xbf\xbd",       // zero width space, replacement
        "\xc2\xad", "\xef\xb8\x8f",        // soft hyphen (a control to graphemes), VS16
        "\xcc\x80\xcc\x81\xcc\x82", "\xcc\xb2",  // marks past the limit, an underline mark
        "a", "q", ".", ":", "www", "http", "https://x.org",  // ASCII between non-ASCII text
        "word ", "https://example.org/\xc3\xa9 ", "\r\n", "\r", "\t",
        "\x1b(0", "\x1b(B", "\x1bN",           // DEC graphics in and out, a single shift
        "\x1b[4h", "\x1b[4l", "\x1b[?7l", "\x1b[?7h", "\x1b[3D", "\x1b[1;3H", "\x1b" "c",
    };
    std::uniform_int_distribution<std::size_t> pick(0, std::size(fragments) - 1);
    std::string stream;
    while (stream.size() < 400) stream += fragments[pick(rng)];
    return stream;
}

TEST(Chunking, RandomTextInManyScriptsGivesTheSameStateHoweverItIsSplit) {
    std::mt19937 rng(77);
    for (int round = 0; round < 150; ++round) {
        const std::string stream = random_text_stream(rng);
        const std::string expected = whole_state(stream, 17, 4);
        VtHarness bytewise(17, 4);
        bytewise.feed(stream, 1);
        ASSERT_EQ(bytewise.state_fingerprint(), expected) << stream;
        VtHarness split(17, 4);
        split.feed_split(stream, random_offsets(rng, stream.size(), 8));
        ASSERT_EQ(split.state_fingerprint(), expected) << stream;
    }
}

// Inside a run, marks join their base without asking the grapheme rules each time: for every
// character of no width, after bases of several kinds, the run must agree with the path that
// asks.
TEST(Chunking, EveryZeroWidthCharacterLandsTheSameInARunAsAlone) {
    const char* const bases[] = {"a", "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "\xf0\x9f\x87\xa9",
                                 "\xe0\xa4\x95", "\xc2\xad"};
    int checked = 0;
    for (char32_t ch = 0x80; ch <= 0x10FFFF; ++ch) {
        if ((ch >= 0xD800 && ch <= 0xDFFF) || wcwidth(ch) != 0) continue;
        for (const char* base : bases) {
            // Between wide characters, so that the base and the mark arrive in one run.
            const std::string stream = "\xe6\x97\xa5" + std::string(base) + utf8(ch) + "\xe6\x97\xa5";
            VtHarness bytewise(12, 2);
            bytewise.feed(stream, 1);
            ASSERT_EQ(bytewise.state_fingerprint(), whole_state(stream, 12, 2))
                << std::hex << static_cast<std::uint32_t>(ch) << " after " << base;
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

// Captures of real programs, recorded from a terminal of 80 x 24.
TEST(Chunking, RealProgramCapturesGiveTheSameStateAtRandomSplits) {
    for (const char* name : {"vim.bin", "less.bin", "man.bin", "htop.bin", "tmux.bin"}) {
        const std::string capture = read_fixture(name);
        ASSERT_FALSE(capture.empty()) << name;
        VtHarness whole(80, 24);
        whole.feed(capture);
        const std::string expected = whole.state_fingerprint();
        std::mt19937 rng(4242);
        VtHarness split(80, 24);
        split.feed_split(capture, random_offsets(rng, capture.size(), 500));
        EXPECT_EQ(split.state_fingerprint(), expected) << name;
        VtHarness bytewise(80, 24);
        bytewise.feed(capture, 1);
        EXPECT_EQ(bytewise.state_fingerprint(), expected) << name;
    }
}

}  // namespace
}  // namespace zelto::test
