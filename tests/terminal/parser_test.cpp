#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "terminal/vt_parser.hpp"

namespace zelto {
namespace {

// Writes every action the parser hands out as text.
struct Recorder {
    std::string log;
    VtCsi last_csi;

    void print_run(std::string_view run) { log += "print(" + std::string(run) + ")"; }
    void print_code_point(char32_t c) { log += "cp(" + std::to_string(static_cast<unsigned>(c)) + ")"; }
    void print_code_points(std::u32string_view text) {
        log += "cps(";
        for (const char32_t c : text) log += "cp(" + std::to_string(static_cast<unsigned>(c)) + ")";
        log += ")";
    }
    void execute(std::uint8_t c) { log += "exec(" + std::to_string(c) + ")"; }
    void escape_started() {}
    void esc_dispatch(std::uint8_t intermediate, std::uint8_t final) {
        log += "esc(";
        if (intermediate) log += static_cast<char>(intermediate);
        log += static_cast<char>(final);
        log += ")";
    }
    void csi_dispatch(const VtCsi& csi) {
        last_csi = csi;
        log += "csi(" + std::string(csi.raw_text()) + ")";
    }
    void string_dispatch(VtStringKind kind, std::string_view text) {
        log += "str" + std::to_string(kind) + "(" + std::string(text) + ")";
    }
    void string_overflow(VtStringKind kind) { log += "overflow" + std::to_string(kind); }
};

std::string parse(std::string_view bytes, Recorder* out = nullptr) {
    VtParser parser;
    Recorder local;
    Recorder& r = out ? *out : local;
    parser.feed(bytes, r);
    return r.log;
}

TEST(Parser, TextComesInRunsAndControlsOneByOne) {
    EXPECT_EQ(parse("ab c\r\nd"), "print(ab c)exec(13)exec(10)print(d)");
    EXPECT_EQ(parse(std::string_view("a\0\x7f" "b", 4)), "print(a)exec(0)print(b)");
}

TEST(Parser, Utf8IsDecodedAndBadBytesBecomeOneReplacementEach) {
    // Whole sequences come in one run; a run ends at anything else and after 64 characters.
    EXPECT_EQ(parse("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), "cps(cp(233)cp(8364)cp(128512))");
    std::string many, expected = "cps(";
    for (int i = 0; i < 65; ++i) many += "\xc3\xa9", expected += i == 64 ? ")cps(cp(233)" : "cp(233)";
    EXPECT_EQ(parse(many + "x\xc3\xa9"), expected + ")print(x)cps(cp(233))");
    // A truncated sequence gives one U+FFFD and the byte that broke it is taken afresh.
    EXPECT_EQ(parse("\xe2\x82" "A\xe2\x82\x1b" "7"), "cp(65533)print(A)cp(65533)esc(7)");
    EXPECT_EQ(parse("\xff\x80\xc0\xaf"), "cp(65533)cp(65533)cp(65533)cp(65533)");
    // Surrogates and overlong forms are ill-formed from the first continuation byte.
    EXPECT_EQ(parse("\xed\xa0\x80"), "cp(65533)cp(65533)cp(65533)");
}

// The text as characters, however the parser grouped it.
struct CharacterRecorder : Recorder {
    void print_run(std::string_view run) {
        for (const char c : run) print_code_point(static_cast<unsigned char>(c));
    }
    void print_code_points(std::u32string_view text) {
        for (const char32_t c : text) print_code_point(c);
    }
};

// Feeds `bytes` from a buffer of exactly their size, so that reading past the chunk's end is an
// error the sanitizer reports.
template <class Handler>
void feed_exactly(VtParser& parser, const std::string& bytes, Handler& recorder) {
    const auto buffer = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    parser.feed({buffer.get(), bytes.size()}, recorder);
}

// The characters `bytes` give fed as one chunk, and fed one byte at a time.
std::pair<std::string, std::string> decoded_whole_and_bytewise(const std::string& bytes) {
    VtParser whole, single;
    CharacterRecorder from_whole, from_single;
    feed_exactly(whole, bytes, from_whole);
    for (const char c : bytes) single.feed({&c, 1}, from_single);
    return {from_whole.log, from_single.log};
}

TEST(Parser, WholeTextDecodesAsTheByteByByteDecoder) {
    // Every lead byte with second, third and fourth bytes at and around each boundary of the
    // continuation ranges, in text: decoded from a whole chunk and from single bytes. The text
    // before it puts it at the start of a sixteen-byte window, inside one and across the end of
    // one; the text after it is long enough for the windows to reach it.
    const std::uint8_t edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    const std::string befores[] = {"", "\xe6\x97\xa5\xc3\xa9\xc3\xa9", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"};
    const std::string after = "\xc3\xa9\xe6\x97\xa5\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80\xc3\xa9z";
    // Inside text, the leads at the edges of each kind of sequence.
    const std::vector<unsigned> all_leads = [] {
        std::vector<unsigned> leads;
        for (unsigned lead = 0x80; lead <= 0xFF; ++lead) leads.push_back(lead);
        return leads;
    }();
    const std::vector<unsigned> edge_leads = {0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC,
                                              0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
    for (const std::string& before : befores) {
        for (const unsigned lead : before.empty() ? all_leads : edge_leads) {
            for (const std::uint8_t b1 : edges) {
                for (const std::uint8_t b2 : edges) {
                    for (const std::uint8_t b3 : edges) {
                        const std::string bytes = before +
                                                  std::string{static_cast<char>(lead), static_cast<char>(b1),
                                                              static_cast<char>(b2), static_cast<char>(b3)} +
                                                  after;
                        const auto [whole, single] = decoded_whole_and_bytewise(bytes);
                        ASSERT_EQ(whole, single) << before.size() << ": " << std::hex << lead << ' ' << +b1 << ' '
                                                 << +b2 << ' ' << +b3;
                    }
                }
            }
        }
    }
}

// Text is judged by pairs of bytes, and by the lead two or three bytes before a continuation:
// every pair of bytes inside text, across the boundary of two sixteen-byte checks and inside one,
// decodes as single bytes do.
TEST(Parser, EveryPairOfBytesInTextDecodesAsTheByteByByteDecoder) {
    const std::string befores[] = {"\xe6\x97\xa5\xc3\xa9\xc3\xa9",
                                   "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5\xc3\xa9\xc3\xa9\xc3\xa9"};
    const std::string after = "\xe6\x97\xa5\xc3\xa9\xf0\x9f\x98\x80\xc3\xa9\xe6\x97\xa5\xc3\xa9\xe6\x97\xa5z";
    for (const std::string& before : befores) {
        for (unsigned first = 0; first < 256; ++first) {
            for (unsigned second = 0; second < 256; ++second) {
                const std::string bytes =
                    before + std::string{static_cast<char>(first), static_cast<char>(second)} + after;
                const auto [whole, single] = decoded_whole_and_bytewise(bytes);
                ASSERT_EQ(whole, single) << before.size() << ": " << std::hex << first << ' ' << second;
            }
        }
    }
}

// Long text of well-formed sequences of every length with ill-formed ones, controls and ASCII
// between them: the whole chunk decodes as single bytes do, whichever of the sixteen bytes
// the fault lands in.
TEST(Parser, LongTextWithFaultsDecodesAsTheByteByByteDecoder) {
    const char* const fragments[] = {
        "\xe6\x97\xa5", "\xed\x9f\xbf", "\xc3\xa9", "\xc2\x80", "\xdf\xbf", "\xf0\x9f\x98\x80",
        "\xf4\x8f\xbf\xbf", "\xe0\xa0\x80", "\xef\xbf\xbd", "e", " ", "~",                     // well-formed
        "\xe6\x97", "\xf0\x9f\x98", "\xc3", "\xa9", "\xbf\x80", "\xc0\xaf", "\xc1\xbf",          // cut off, stray
        "\xe0\x9f\xbf", "\xed\xa0\x80", "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80", "\xff", // overlong, surrogate, too large
        "\x1b", "\r\n", "\x7f", "\x00", "ab",                                                      // controls, ASCII runs
    };
    std::mt19937 rng(2026);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(fragments) - 1);
    std::uniform_int_distribution<int> clean(0, 3);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        while (bytes.size() < 96) {
            // Mostly well-formed, so that faults land inside long runs of text.
            const std::size_t fragment = pick(rng);
            bytes += fragments[clean(rng) != 0 ? fragment % 12 : fragment];
        }
        const auto [whole, single] = decoded_whole_and_bytewise(bytes);
        ASSERT_EQ(whole, single) << round;
    }
}

// Well-formed text of every length that ends where the chunk ends: decoding reads no byte past
// it, whatever lengths of sequences lead up to the end.
TEST(Parser, TextUpToTheEndOfAChunkIsDecodedWithoutReadingPastIt) {
    const char* const sequences[] = {"\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "e\xcc\x81"};
    std::mt19937 rng(99);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(sequences) - 1);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        const std::size_t length = 16 + static_cast<std::size_t>(round % 120);
        while (bytes.size() < length) bytes += sequences[pick(rng)];
        const auto [whole, single] = decoded_whole_and_bytewise(bytes);
        ASSERT_EQ(whole, single) << round;
    }
}

TEST(Parser, CsiParametersKeepMissingApartFromZeroAndSaturate) {
    Recorder r;
    parse("\x1b[;0;99999999999999;7:2:1H", &r);
    const VtCsi& c = r.last_csi;
    EXPECT_EQ(c.final, 'H');
    ASSERT_EQ(c.count, 6);
    EXPECT_FALSE(c.present[0]);
    EXPECT_EQ(c.param(0, 1), 1u);
    EXPECT_TRUE(c.present[1]);
    EXPECT_EQ(c.param(1, 1), 0u);
    EXPECT_EQ(c.count_param(1, 1), 1u);
    EXPECT_EQ(c.values[2], VtCsi::MAX_VALUE);
    EXPECT_FALSE(c.sub[3]);
    EXPECT_TRUE(c.sub[4]);
    EXPECT_TRUE(c.sub[5]);
    EXPECT_EQ(c.param(5, 0), 1u);
}

TEST(Parser, CsiLeaderIntermediatesAndMalformedOrder) {
    Recorder r;
    parse("\x1b[?25h", &r);
    EXPECT_EQ(r.last_csi.leader, '?');
    EXPECT_EQ(r.last_csi.param(0, 0), 25u);
    parse("\x1b[2 q", &r);
    EXPECT_EQ(r.last_csi.intermediate(), ' ');
    EXPECT_FALSE(r.last_csi.malformed);
    parse("\x1b[1?2h", &r);
    EXPECT_TRUE(r.last_csi.malformed);
}

TEST(Parser, ThousandsOfParametersAreBounded) {
    std::string seq = "\x1b[";
    for (int i = 0; i < 5000; ++i) seq += "1;";
    Recorder r;
    parse(seq + "m", &r);
    EXPECT_EQ(r.last_csi.count, VtCsi::MAX_PARAMS);
    EXPECT_EQ(r.last_csi.final, 'm');
}

TEST(Parser, AnEndlessSequenceIsForcedOutAndTextFollows) {
    Recorder r;
    parse("\x1b[" + std::string(VtCsi::MAX_LENGTH + 1, '1') + "x", &r);
    EXPECT_TRUE(r.last_csi.malformed);
    EXPECT_NE(r.log.find("print(x)"), std::string::npos);
}

TEST(Parser, CsiCancelAndRestart) {
    EXPECT_EQ(parse("\x1b[1\x18x"), "print(x)");
    EXPECT_EQ(parse("\x1b[1\x1b[2J"), "csi(2J)");
    EXPECT_EQ(parse("\x1b[1\n2H"), "exec(10)csi(12H)");
}

TEST(Parser, StringsEndAtBelOrStAndNothingElse) {
    EXPECT_EQ(parse("\x1b]0;t\a"), "str0(0;t)");
    EXPECT_EQ(parse("\x1b]0;t\a\x1b\\"), "str0(0;t)");
    EXPECT_EQ(parse("\x1bPq\x1b\\"), "str1(q)");
    EXPECT_EQ(parse("\x1b_G\x1b\\"), "str2(G)");
    EXPECT_EQ(parse("\x1bkname\x1b\\"), "str3(name)");
    EXPECT_EQ(parse("\x1b]0;\x7f\x01x\a"), "str0(0;\x7f\x01x)");
    // CAN/SUB abort; ESC + anything but '\' drops the string and starts an escape.
    EXPECT_EQ(parse("\x1b]0;t\x1a" "a"), "print(a)");
    EXPECT_EQ(parse("\x1b]0;t\x1b" "7"), "esc(7)");
    EXPECT_EQ(parse("\x1b]0;t\x1b[1m"), "csi(1m)");
}

TEST(Parser, OverlongStringsOverflowOnceAndAreDropped) {
    const std::string body(VT_OSC_MAX + 100, 'x');
    EXPECT_EQ(parse("\x1b]" + body + "\ab"), "overflow0print(b)");
}

TEST(Parser, DesignationsAndEscapeControls) {
    EXPECT_EQ(parse("\x1b(0\x1b)B\x1b#8\x1b%G\x1b c"), "esc((0)esc()B)esc(#8)esc(%G)esc( c)");
    EXPECT_EQ(parse("\x1b\r\x1b\x01" "7"), "exec(13)esc(7)");
    EXPECT_EQ(parse("\x1b\\" "7"), "print(7)");
}

TEST(Parser, StateCarriesAcrossChunks) {
    VtParser parser;
    Recorder r;
    for (char c : std::string("\x1b[12;3H\xe2\x82\xac\x1b]0;ab\x1b\\")) parser.feed({&c, 1}, r);
    EXPECT_EQ(r.log, "csi(12;3H)cp(8364)str0(0;ab)");
    EXPECT_EQ(parser.state(), VT_PARSER_STATE_LITERAL);
}

}  // namespace
}  // namespace zelto
