#include "terminal/vt_parser.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZELTO_UTF8_BLOCKS 1
#endif

namespace zelto {

#if defined(ZELTO_UTF8_BLOCKS)
namespace {

// Which sequences the first twelve bytes of a block hold, by the mask of the bytes that end one
// (those before a byte that is no continuation): how many of the first four complete sequences
// of at most four bytes to take, their bytes, and the shuffle that puts each sequence in a word
// of its own, its last byte lowest.
struct Utf8Blocks {
    static constexpr std::size_t BYTES = 12;
    static constexpr std::size_t MOST = 4;
    std::array<std::array<std::uint8_t, 16>, 1u << BYTES> shuffles{};
    std::array<std::uint8_t, 1u << BYTES> lengths{};
    std::array<std::uint8_t, 1u << BYTES> counts{};
};

constexpr Utf8Blocks make_utf8_blocks() {
    Utf8Blocks blocks;
    for (unsigned ends = 0; ends < (1u << Utf8Blocks::BYTES); ++ends) {
        std::array<std::uint8_t, 16>& shuffle = blocks.shuffles[ends];
        shuffle.fill(0x80);
        unsigned start = 0;
        unsigned count = 0;
        for (unsigned last = 0; last < Utf8Blocks::BYTES && count < Utf8Blocks::MOST; ++last) {
            if ((ends >> last & 1) == 0) continue;
            const unsigned length = last - start + 1;
            if (length > 4) break;
            for (unsigned k = 0; k < length; ++k) shuffle[4 * count + k] = static_cast<std::uint8_t>(last - k);
            ++count;
            start = last + 1;
        }
        blocks.lengths[ends] = static_cast<std::uint8_t>(start);
        blocks.counts[ends] = static_cast<std::uint8_t>(count);
    }
    return blocks;
}

constexpr Utf8Blocks UTF8_BLOCKS = make_utf8_blocks();

#define ZELTO_SSSE3 __attribute__((target("ssse3")))

ZELTO_SSSE3 inline __m128i bytes_of(std::uint8_t byte) { return _mm_set1_epi8(static_cast<char>(byte)); }

ZELTO_SSSE3 inline __m128i high_nibbles(__m128i v) { return _mm_and_si128(_mm_srli_epi16(v, 4), bytes_of(0x0F)); }

// Ways a pair of bytes is not well-formed text, for the tables below.
constexpr std::uint8_t TOO_SHORT = 1u << 0;       // a lead, then no continuation
constexpr std::uint8_t TOO_LONG = 1u << 1;        // ASCII, then a continuation or ASCII
constexpr std::uint8_t OVERLONG_3 = 1u << 2;      // E0, then 80 to 9F
constexpr std::uint8_t TOO_LARGE = 1u << 3;       // F4 to FF, then 90 to BF
constexpr std::uint8_t SURROGATE = 1u << 4;       // ED, then A0 to BF
constexpr std::uint8_t OVERLONG_2 = 1u << 5;      // C0 or C1, then a continuation
constexpr std::uint8_t TOO_LARGE_1000 = 1u << 6;  // F5 to FF, then 80 to 8F
constexpr std::uint8_t OVERLONG_4 = 1u << 6;      // F0, then 80 to 8F
constexpr std::uint8_t TWO_CONTS = 1u << 7;       // two continuations: right for a third or fourth byte
// The ways in which the low nibble of the first byte has no say.
constexpr std::uint8_t CARRY = TOO_SHORT | TOO_LONG | TWO_CONTS;

// The ways each pair can be wrong, by the high and the low nibble of its first byte and the high
// nibble of its second: the pair is wrong in the ways all three share.
using NibbleTable = std::array<std::uint8_t, 16>;

constexpr std::uint8_t LEAD_OF_FOUR = TOO_SHORT | TOO_LARGE | TOO_LARGE_1000 | OVERLONG_4;
constexpr NibbleTable BY_FIRST_HIGH = {TOO_LONG,  TOO_LONG,  TOO_LONG,  TOO_LONG,  TOO_LONG,  TOO_LONG,
                                       TOO_LONG,  TOO_LONG,  TWO_CONTS, TWO_CONTS, TWO_CONTS, TWO_CONTS,
                                       TOO_SHORT | OVERLONG_2, TOO_SHORT, TOO_SHORT | OVERLONG_3 | SURROGATE,
                                       LEAD_OF_FOUR};

// Low nibbles 5 to F: with a high nibble of F, a lead past F4.
constexpr std::uint8_t PAST_F4 = CARRY | TOO_LARGE | TOO_LARGE_1000;
constexpr NibbleTable BY_FIRST_LOW = {CARRY | OVERLONG_3 | OVERLONG_2 | OVERLONG_4,
                                      CARRY | OVERLONG_2,
                                      CARRY,
                                      CARRY,
                                      CARRY | TOO_LARGE,
                                      PAST_F4, PAST_F4, PAST_F4, PAST_F4, PAST_F4, PAST_F4, PAST_F4, PAST_F4,
                                      PAST_F4 | SURROGATE,
                                      PAST_F4, PAST_F4};

constexpr std::uint8_t ASCII_SECOND = TOO_SHORT | TOO_LONG;
constexpr std::uint8_t CONTINUATION_SECOND = TOO_LONG | OVERLONG_2 | TWO_CONTS;
constexpr NibbleTable BY_SECOND_HIGH = {ASCII_SECOND, ASCII_SECOND, ASCII_SECOND, ASCII_SECOND,
                                        ASCII_SECOND, ASCII_SECOND, ASCII_SECOND, ASCII_SECOND,
                                        CONTINUATION_SECOND | OVERLONG_3 | TOO_LARGE_1000 | OVERLONG_4,
                                        CONTINUATION_SECOND | OVERLONG_3 | TOO_LARGE,
                                        CONTINUATION_SECOND | SURROGATE | TOO_LARGE,
                                        CONTINUATION_SECOND | SURROGATE | TOO_LARGE,
                                        TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT};

ZELTO_SSSE3 inline __m128i by_nibble(const NibbleTable& table, __m128i nibbles) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data())), nibbles);
}

ZELTO_SSSE3 inline __m128i wrong_pairs(__m128i before, __m128i v) {
    return _mm_and_si128(_mm_and_si128(by_nibble(BY_FIRST_HIGH, high_nibbles(before)),
                                       by_nibble(BY_FIRST_LOW, _mm_and_si128(before, bytes_of(0x0F)))),
                         by_nibble(BY_SECOND_HIGH, high_nibbles(v)));
}

// The mask of the bytes of `v` that are not well-formed text, given the sixteen bytes before it:
// where a pair of bytes is wrong (see above), where the third or fourth byte a lead asks for is
// no continuation or a continuation comes that none asks for, and where a control or DEL is.
// ASCII is right only before a lead of two bytes or more, as runs of ASCII are for the ASCII path.
ZELTO_SSSE3 inline unsigned ill_formed_bytes(__m128i v, __m128i previous) {
    const __m128i before = _mm_alignr_epi8(v, previous, 15);
    // Top bit: this byte must be a continuation, as the byte two before is a lead of three bytes
    // or more, or the byte three before one of four. Exactly these bytes may follow a
    // continuation, which TWO_CONTS says.
    const __m128i third = _mm_subs_epu8(_mm_alignr_epi8(v, previous, 14), bytes_of(0xE0 - 0x80));
    const __m128i fourth = _mm_subs_epu8(_mm_alignr_epi8(v, previous, 13), bytes_of(0xF0 - 0x80));
    const __m128i third_or_fourth = _mm_or_si128(third, fourth);
    __m128i wrong = _mm_xor_si128(_mm_and_si128(third_or_fourth, bytes_of(0x80)), wrong_pairs(before, v));
    wrong = _mm_or_si128(wrong, _mm_subs_epu8(bytes_of(0x20), v));
    wrong = _mm_or_si128(wrong, _mm_cmpeq_epi8(v, bytes_of(0x7F)));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(wrong, _mm_setzero_si128()))) & 0xFFFFu;
}

// The code points of the sequences the shuffle gathers: each byte keeps its payload bits, and
// the bytes of each word are packed six bits apart.
ZELTO_SSSE3 inline __m128i block_code_points(__m128i v, const std::array<std::uint8_t, 16>& shuffle) {
    const __m128i payloads = _mm_shuffle_epi8(
        _mm_setr_epi8(0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x3F, 0x3F, 0x3F, 0x3F, 0x1F, 0x1F, 0x0F, 0x07),
        high_nibbles(v));
    const __m128i words =
        _mm_shuffle_epi8(_mm_and_si128(v, payloads), _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle.data())));
    const __m128i pairs = _mm_maddubs_epi16(words, _mm_set1_epi16(0x4001));
    return _mm_madd_epi16(pairs, _mm_set1_epi32(0x10000001));
}

// The text is checked in windows of up to sixty-four bytes, which also tell where each sequence
// starts; the blocks in a window then need no checks of their own, and finding where the next
// block starts waits only for the table, not for loading and comparing its bytes. A block takes
// at most twelve bytes, and the byte after them must be checked too, for a lead may ask for it.
// Each window starts at a sequence boundary, where the bytes before it are known complete: as if
// after a continuation, which asks for nothing.
ZELTO_SSSE3 const std::uint8_t* decode_text_blocks_ssse3(const std::uint8_t* p, const std::uint8_t* end,
                                                        char32_t* text, std::size_t& count) {
    constexpr std::size_t WINDOW = 64;
    std::size_t n = count;
    while (n + Utf8Blocks::MOST <= VT_TEXT_RUN_MAX) {
        __m128i previous = bytes_of(0x80);
        std::uint64_t starts = 0;
        std::size_t good = 0;
        bool cut_short = false;
        while (good < WINDOW && end - (p + good) >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + good));
            // Every byte but a continuation (0x80 to 0xBF, below -64 as signed bytes) starts one.
            const auto found = static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, bytes_of(0xBF))));
            starts |= found << good;
            if (const unsigned bad = ill_formed_bytes(v, previous); bad != 0) {
                good += static_cast<std::size_t>(std::countr_zero(bad));
                cut_short = true;
                break;
            }
            good += 16;
            previous = v;
        }
        // Bit k: byte k ends a sequence. Blocks take sequences by these bits, twelve at a time.
        std::uint64_t ends = starts >> 1;
        std::size_t last = good > Utf8Blocks::BYTES ? good - Utf8Blocks::BYTES : 0;
        if (cut_short && good > 0) {
            // The text ends at the byte that is not well-formed, and every sequence before it is
            // well-formed but the last, which that byte may have cut off, or which is ASCII before
            // it (for the ASCII path). The blocks then take the sequences up to the last sound one.
            const std::uint64_t starts_before = starts & ((std::uint64_t{1} << good) - 1);
            const auto lead = static_cast<std::size_t>(std::bit_width(starts_before)) - 1;
            const std::size_t length = UTF8_LEADS[p[lead]].length;
            last = length >= 2 && lead + length == good ? good : lead;
            ends = last == 0 ? 0 : (ends & ((std::uint64_t{1} << (last - 1)) - 1)) | std::uint64_t{1} << (last - 1);
        }
        // A block's load of sixteen bytes lies within the chunk.
        last = std::min(last, static_cast<std::size_t>(std::max<std::ptrdiff_t>(end - p - 15, 0)));
        std::size_t at = 0;
        while (at < last && n + Utf8Blocks::MOST <= VT_TEXT_RUN_MAX) {
            const auto block = static_cast<unsigned>(ends >> at & ((1u << Utf8Blocks::BYTES) - 1));
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(text + n), block_code_points(v, UTF8_BLOCKS.shuffles[block]));
            n += UTF8_BLOCKS.counts[block];
            at += UTF8_BLOCKS.lengths[block];
        }
        p += at;
        // A window cut short by a byte that is not well-formed text, or by the end, is the last.
        if (good < WINDOW || at == 0) break;
    }
    count = n;
    return p;
}

}  // namespace
#endif

const std::uint8_t* decode_text_blocks(const std::uint8_t* p, [[maybe_unused]] const std::uint8_t* end,
                                       [[maybe_unused]] char32_t* text, [[maybe_unused]] std::size_t& count) {
#if defined(ZELTO_UTF8_BLOCKS)
    if (__builtin_cpu_supports("ssse3")) return decode_text_blocks_ssse3(p, end, text, count);
#endif
    return p;
}

const char* parser_state_name(VtParserState state) {
    switch (state) {
    case VT_PARSER_STATE_LITERAL: return "character literal";
    case VT_PARSER_STATE_ESCAPED: return "escape code";
    case VT_PARSER_STATE_CONTROL_SEQ: return "in control sequence";
    case VT_PARSER_STATE_DCS: return "in device control string";
    case VT_PARSER_STATE_APC: return "in application program command";
    case VT_PARSER_STATE_OSC: return "operating system command";
    case VT_PARSER_STATE_CHARSET_SELECT: return "character set select";
    case VT_PARSER_STATE_CHARSET_G0: return "character set G0";
    case VT_PARSER_STATE_CHARSET_G1: return "character set G1";
    case VT_PARSER_STATE_CHARSET_G2: return "character set G2";
    case VT_PARSER_STATE_CHARSET_G3: return "character set G3";
    case VT_PARSER_STATE_LEGACY_TITLE: return "legacy title select";
    case VT_PARSER_STATE_DEC_SPECIAL: return "DEC special command";
    }
    return "";
}

void VtParser::begin_csi() {
    state_ = VT_PARSER_STATE_CONTROL_SEQ;
    csi_.leader = 0;
    csi_.intermediate_count = 0;
    csi_.final = 0;
    csi_.count = 0;
    csi_.malformed = false;
    csi_.raw_length = 0;
    csi_.length = 0;
    csi_params_overflowed_ = false;
}

void VtParser::begin_string(VtParserState state) {
    state_ = state;
    string_.clear();
    string_escape_ = false;
    string_overflowed_ = false;
}

void VtParser::drop_string() {
    string_escape_ = false;
    string_overflowed_ = false;
    // Long strings give their memory back; short ones keep the buffer for the next.
    if (string_.capacity() > 4096) {
        std::string().swap(string_);
    } else {
        string_.clear();
    }
}

VtStringKind VtParser::string_kind() const {
    switch (state_) {
    case VT_PARSER_STATE_DCS: return VT_STRING_DCS;
    case VT_PARSER_STATE_APC: return VT_STRING_APC;
    case VT_PARSER_STATE_LEGACY_TITLE: return VT_STRING_LEGACY_TITLE;
    default: return VT_STRING_OSC;
    }
}

std::size_t VtParser::string_cap() const {
    switch (state_) {
    case VT_PARSER_STATE_DCS: return VT_DCS_MAX;
    case VT_PARSER_STATE_APC: return VT_APC_MAX;
    default: return VT_OSC_MAX;
    }
}

}  // namespace zelto
