#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelto {

enum VtParserState : std::uint8_t {
    VT_PARSER_STATE_LITERAL = 0,
    VT_PARSER_STATE_ESCAPED = 1,
    VT_PARSER_STATE_CONTROL_SEQ = 3,
    VT_PARSER_STATE_DCS = 4,
    VT_PARSER_STATE_APC = 5,
    VT_PARSER_STATE_OSC = 6,
    VT_PARSER_STATE_CHARSET_SELECT = 8,
    VT_PARSER_STATE_CHARSET_G0 = 9,
    VT_PARSER_STATE_CHARSET_G1 = 10,
    VT_PARSER_STATE_CHARSET_G2 = 11,
    VT_PARSER_STATE_CHARSET_G3 = 12,
    VT_PARSER_STATE_LEGACY_TITLE = 13,
    VT_PARSER_STATE_DEC_SPECIAL = 14,
};

const char* parser_state_name(VtParserState state);

enum VtStringKind : std::uint8_t {
    VT_STRING_OSC,
    VT_STRING_DCS,
    VT_STRING_APC,
    VT_STRING_LEGACY_TITLE,
};

// A control sequence with its parameters parsed as the bytes arrived. A parameter that was not
// given is "missing", which is not the same as 0; numbers saturate instead of overflowing.
struct VtCsi {
    static constexpr std::size_t MAX_PARAMS = 32;
    static constexpr std::uint32_t MAX_VALUE = 0x7FFFFFFF;
    static constexpr std::size_t MAX_RAW = 256;
    static constexpr std::size_t MAX_LENGTH = 65535;

    std::uint8_t leader = 0;  // '<', '=', '>' or '?' before the parameters, else 0
    std::uint8_t intermediates[2] = {0, 0};
    std::uint8_t intermediate_count = 0;
    std::uint8_t final = 0;
    std::uint16_t count = 0;
    std::uint32_t values[MAX_PARAMS] = {};
    bool present[MAX_PARAMS] = {};
    // The parameter was introduced by ':' (a sub-parameter of the one before).
    bool sub[MAX_PARAMS] = {};
    // Bytes in an order no sequence uses (a leader after a digit, too many intermediates).
    bool malformed = false;
    // The start of the sequence as received (after ESC [), for warnings.
    char raw[MAX_RAW] = {};
    std::size_t raw_length = 0;
    std::size_t length = 0;

    std::uint32_t param(std::size_t i, std::uint32_t fallback) const {
        return i < count && present[i] ? values[i] : fallback;
    }
    // As `param`, but 0 also reads as the fallback (counts and positions).
    std::uint32_t count_param(std::size_t i, std::uint32_t fallback) const {
        const std::uint32_t v = param(i, fallback);
        return v == 0 ? fallback : v;
    }
    std::string_view raw_text() const { return {raw, raw_length}; }
    std::uint8_t intermediate() const { return intermediate_count ? intermediates[0] : 0; }
};

// The most characters of non-ASCII text handed over in one run.
inline constexpr std::size_t VT_TEXT_RUN_MAX = 64;

// Caps on string payloads; past a cap the string is consumed to its terminator and dropped.
inline constexpr std::size_t VT_OSC_MAX = 64 * 1024;
inline constexpr std::size_t VT_DCS_MAX = 64 * 1024 * 1024;
inline constexpr std::size_t VT_APC_MAX = 4 * 1024 * 1024;

// The classic DEC/ANSI parser as a pure state machine: it knows nothing of the screen and hands
// complete actions to its handler, which provides
//   print_run(std::string_view)         printable ASCII, in runs
//   print_code_point(char32_t)          one decoded non-ASCII character (U+FFFD for bad UTF-8)
//   print_code_points(std::u32string_view)  well-formed non-ASCII characters, in runs, with
//                                       single printable ASCII ones before them and between them
//   execute(std::uint8_t)               a C0 control other than ESC, CAN and SUB
//   escape_started()                    ESC in ground: the text before it has ended
//   esc_dispatch(intermediate, final)   ESC [intermediate] final
//   csi_dispatch(const VtCsi&)
//   string_dispatch(VtStringKind, std::string_view)
//   string_overflow(VtStringKind)       once per string that passed its cap
// A chunk may end anywhere: all state stays in the parser.
class VtParser {
public:
    VtParserState state() const { return state_; }
    bool in_utf8_sequence() const { return utf8_needed_ != 0; }
    void reset() {
        state_ = VT_PARSER_STATE_LITERAL;
        utf8_needed_ = 0;
        string_escape_ = false;
        drop_string();
    }

    template <class Handler>
    void feed(std::string_view bytes, Handler& handler);

private:
    static constexpr std::uint8_t ESC = 0x1B;
    static constexpr std::uint8_t CAN = 0x18;
    static constexpr std::uint8_t SUB = 0x1A;
    static constexpr std::uint8_t BEL = 0x07;

    template <class Handler>
    const std::uint8_t* print_text(const std::uint8_t* p, const std::uint8_t* end, Handler& handler);
    template <class Handler>
    void ground_byte(std::uint8_t byte, Handler& handler);
    template <class Handler>
    void utf8_byte(std::uint8_t byte, Handler& handler);
    template <class Handler>
    void escaped_byte(std::uint8_t byte, Handler& handler);
    template <class Handler>
    bool escape_control(std::uint8_t byte, Handler& handler);
    template <class Handler>
    void designation_byte(std::uint8_t byte, Handler& handler);
    template <class Handler>
    void csi_byte(std::uint8_t byte, Handler& handler);
    template <class Handler>
    void string_byte(std::uint8_t byte, Handler& handler);

    void begin_csi();
    void csi_param_byte(std::uint8_t byte);
    const std::uint8_t* csi_parameters(const std::uint8_t* p, const std::uint8_t* end);
    const std::uint8_t* complete_csi(const std::uint8_t* p, const std::uint8_t* end);
    void begin_string(VtParserState state);
    void drop_string();
    VtStringKind string_kind() const;
    std::size_t string_cap() const;

    VtParserState state_ = VT_PARSER_STATE_LITERAL;
    std::uint8_t designation_intermediate_ = 0;

    // UTF-8: code point so far, continuation bytes still needed, and the allowed range of the
    // next continuation byte (narrower after E0, ED, F0, F4).
    char32_t utf8_code_ = 0;
    std::uint8_t utf8_needed_ = 0;
    std::uint8_t utf8_lower_ = 0x80;
    std::uint8_t utf8_upper_ = 0xBF;

    VtCsi csi_;
    bool csi_params_overflowed_ = false;

    std::string string_;
    bool string_escape_ = false;
    bool string_overflowed_ = false;
};

// The number of decimal digits the eight bytes at `p` start with, and when it is below eight,
// their value, without a branch per digit (how many digits a parameter has is unpredictable).
inline std::size_t short_number(const std::uint8_t* p, std::uint32_t& value) {
    if constexpr (std::endian::native != std::endian::little) return 8;
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    // A digit XOR 0x30 is 0 to 9; masking off the top bit keeps the addition from carrying.
    const std::uint64_t t = word ^ 0x3030303030303030u;
    const std::uint64_t others = (((t & 0x7F7F7F7F7F7F7F7Fu) + 0x7676767676767676u) | t) & 0x8080808080808080u;
    if (others == 0) return 8;
    const auto n = static_cast<std::size_t>(std::countr_zero(others) / 8);
    if (n == 0) return 0;
    // The digits move to the top bytes, the first one lowest, behind zeros; then pairs,
    // quadruples and the whole are combined by multiplication.
    std::uint64_t v = t << (64 - 8 * n);
    v = (v * (10 * 256 + 1)) >> 8 & 0x00FF00FF00FF00FFu;
    v = (v * (100 * 65536 + 1)) >> 16 & 0x0000FFFF0000FFFFu;
    value = static_cast<std::uint32_t>((v * (10000 * (std::uint64_t{1} << 32) + 1)) >> 32);
    return n;
}

// The value of a run of more than nine digits, which may pass the largest value.
inline std::uint32_t saturated_number(const std::uint8_t* p, const std::uint8_t* end) {
    std::uint64_t value = 0;
    for (; p < end; ++p) value = std::min<std::uint64_t>(value * 10 + (*p - '0'), VtCsi::MAX_VALUE);
    return static_cast<std::uint32_t>(value);
}

inline void VtParser::csi_param_byte(std::uint8_t byte) {
    if (byte >= '<' && byte <= '?') {
        if (csi_.length == 1) {
            csi_.leader = byte;
        } else {
            csi_.malformed = true;
        }
        return;
    }
    // The first byte of a parameter list opens parameter 0.
    if (csi_.count == 0) {
        csi_.count = 1;
        csi_.values[0] = 0;
        csi_.present[0] = false;
        csi_.sub[0] = false;
    }
    if (byte == ';' || byte == ':') {
        if (csi_.count < VtCsi::MAX_PARAMS) {
            const std::size_t i = csi_.count++;
            csi_.values[i] = 0;
            csi_.present[i] = false;
            csi_.sub[i] = byte == ':';
        } else {
            // Parameters past the bound are dropped.
            csi_params_overflowed_ = true;
        }
        return;
    }
    if (csi_params_overflowed_) return;
    std::uint32_t& value = csi_.values[csi_.count - 1];
    const std::uint32_t digit = byte - '0';
    value = value > (VtCsi::MAX_VALUE - digit) / 10 ? VtCsi::MAX_VALUE : value * 10 + digit;
    csi_.present[csi_.count - 1] = true;
}

// Digits and separators, the bulk of a control sequence, in one loop: a run of digits is read
// into a register and stored once, the text is copied once.
inline const std::uint8_t* VtParser::csi_parameters(const std::uint8_t* p, const std::uint8_t* end) {
    if (csi_.intermediate_count != 0) return p;
    const std::size_t room = VtCsi::MAX_LENGTH - csi_.length;
    const std::uint8_t* const stop = static_cast<std::size_t>(end - p) > room ? p + room : end;
    const std::uint8_t* const start = p;
    while (p < stop) {
        const std::uint8_t byte = *p;
        if (byte < '0' || byte > ';') break;
        if (byte > '9' || csi_.count == 0 || csi_params_overflowed_) {
            csi_param_byte(byte);
            ++p;
            continue;
        }
        // Values stay below 2^31, so ten times one plus a digit fits in 64 bits and saturating
        // is one comparison.
        std::uint64_t value = csi_.values[csi_.count - 1];
        do {
            value = std::min<std::uint64_t>(value * 10 + (*p - '0'), VtCsi::MAX_VALUE);
        } while (++p < stop && static_cast<std::uint8_t>(*p - '0') <= 9);
        csi_.values[csi_.count - 1] = static_cast<std::uint32_t>(value);
        csi_.present[csi_.count - 1] = true;
    }
    const auto n = static_cast<std::size_t>(p - start);
    const std::size_t copied = std::min(n, VtCsi::MAX_RAW - csi_.raw_length);
    std::memcpy(csi_.raw + csi_.raw_length, start, copied);
    csi_.raw_length += copied;
    csi_.length += n;
    return p;
}

// The end of the parameter bytes (0x30 to 0x3F: digits, ':', ';' and the leaders) from `p` on,
// or `end`; eight bytes at a time.
inline const std::uint8_t* parameter_run_end(const std::uint8_t* p, const std::uint8_t* end) {
    if constexpr (std::endian::native == std::endian::little) {
        for (; end - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            // A parameter byte XOR 0x30 is below 0x10: its high nibble is 0.
            const std::uint64_t others = (word ^ 0x3030303030303030u) & 0xF0F0F0F0F0F0F0F0u;
            if (others != 0) return p + std::countr_zero(others) / 8;
        }
    }
    while (p < end && (*p & 0xF0) == 0x30) ++p;
    return p;
}

// A whole control sequence after ESC [ in one pass, when it lies in the chunk and holds only
// what a well-formed sequence holds: a leader, parameters within the bound, at most two
// intermediates and the final byte. Returns the byte after the final one, with `csi_` filled as
// the byte-by-byte path fills it, or null when that path has to take the sequence (cut off by
// the chunk, controls or DEL inside, malformed, too many parameters, longer than FAST_LIMIT).
inline const std::uint8_t* VtParser::complete_csi(const std::uint8_t* p, const std::uint8_t* end) {
    constexpr std::size_t FAST_LIMIT = 128;
    static_assert(FAST_LIMIT <= VtCsi::MAX_RAW);
    const std::uint8_t* const start = p;
    const std::uint8_t* const limit = static_cast<std::size_t>(end - p) > FAST_LIMIT ? p + FAST_LIMIT : end;
    // Every byte up to `params_end` is a parameter byte and the one there is none, so the loops
    // below stop without bound checks.
    const std::uint8_t* const params_end = parameter_run_end(p, limit);
    if (params_end == limit) return nullptr;
    std::uint8_t leader = 0;
    if (*p >= '<' && *p <= '?') leader = *p++;
    std::size_t count = 0;
    if (p != params_end) {
        csi_.sub[0] = false;
        for (;;) {
            const std::uint8_t* const digits = p;
            std::uint32_t value = 0;
            const std::size_t short_run = end - p >= 8 ? short_number(p, value) : 8;
            if (short_run < 8) {
                p += short_run;
            } else {
                while (static_cast<std::uint8_t>(*p - '0') <= 9) value = value * 10 + (*p++ - '0');
                if (p - digits > 9) value = saturated_number(digits, p);
            }
            csi_.values[count] = value;
            csi_.present[count] = p != digits;
            ++count;
            if (*p != ';' && *p != ':') break;
            if (count == VtCsi::MAX_PARAMS) return nullptr;
            csi_.sub[count] = *p++ == ':';
        }
        // A leader after the first byte.
        if (p != params_end) return nullptr;
    }
    std::uint8_t intermediates = 0;
    while (*p >= 0x20 && *p < 0x30) {
        if (intermediates == sizeof csi_.intermediates) return nullptr;
        csi_.intermediates[intermediates++] = *p++;
        if (p == limit) return nullptr;
    }
    if (*p < 0x40 || *p > 0x7E) return nullptr;
    csi_.leader = leader;
    csi_.intermediate_count = intermediates;
    csi_.final = *p++;
    csi_.count = static_cast<std::uint16_t>(count);
    csi_.malformed = false;
    const auto length = static_cast<std::size_t>(p - start);
    // Short sequences, nearly all, are copied in a block of fixed size.
    constexpr std::size_t BLOCK = 32;
    if (length <= BLOCK && static_cast<std::size_t>(end - start) >= BLOCK) {
        std::memcpy(csi_.raw, start, BLOCK);
    } else {
        std::memcpy(csi_.raw, start, length);
    }
    csi_.raw_length = length;
    csi_.length = length;
    return p;
}

// The first byte from `p` on that is no printable ASCII (0x20 to 0x7E), else `end`; eight
// bytes at a time.
inline const std::uint8_t* printable_run_end(const std::uint8_t* p, const std::uint8_t* end) {
    constexpr std::uint64_t HIGHS = 0x8080808080808080u;
    if constexpr (std::endian::native == std::endian::little) {
        for (; end - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            // With the top bit cleared no byte carries into the next: the top bit of x + 0x60
            // says x >= 0x20, that of x + 1 says x >= 0x7F. Bytes from 0x80 on are no ASCII.
            const std::uint64_t x = word & 0x7F7F7F7F7F7F7F7Fu;
            const std::uint64_t printable = (x + 0x6060606060606060u) & ~(x + 0x0101010101010101u) & ~word & HIGHS;
            const std::uint64_t others = ~printable & HIGHS;
            if (others != 0) return p + std::countr_zero(others) / 8;
        }
    }
    while (p < end && *p >= 0x20 && *p < 0x7F) ++p;
    return p;
}

// The length of the well-formed UTF-8 sequence at `p` and its code point, or 0 when it is
// ill-formed or cut off by `end` (the byte-by-byte decoder then takes it).
inline std::size_t complete_utf8_sequence(const std::uint8_t* p, const std::uint8_t* end, char32_t& code) {
    const std::uint8_t lead = *p;
    const auto available = static_cast<std::size_t>(end - p);
    const auto continuation = [](std::uint8_t byte, std::uint8_t lower, std::uint8_t upper) {
        return byte >= lower && byte <= upper;
    };
    if (lead <= 0xDF) {
        if (available < 2 || !continuation(p[1], 0x80, 0xBF)) return 0;
        code = static_cast<char32_t>((lead & 0x1F) << 6 | (p[1] & 0x3F));
        return 2;
    }
    if (lead <= 0xEF) {
        const std::uint8_t lower = lead == 0xE0 ? 0xA0 : 0x80;
        const std::uint8_t upper = lead == 0xED ? 0x9F : 0xBF;
        if (available < 3 || !continuation(p[1], lower, upper) || !continuation(p[2], 0x80, 0xBF)) return 0;
        code = static_cast<char32_t>((lead & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
        return 3;
    }
    if (lead <= 0xF4) {
        const std::uint8_t lower = lead == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t upper = lead == 0xF4 ? 0x8F : 0xBF;
        if (available < 4 || !continuation(p[1], lower, upper) || !continuation(p[2], 0x80, 0xBF) ||
            !continuation(p[3], 0x80, 0xBF)) {
            return 0;
        }
        code = static_cast<char32_t>((lead & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F));
        return 4;
    }
    return 0;
}

// What a byte starts in a run of text: the length of its sequence (0 for none), the range of
// the byte after it, the shift that drops the bytes after the sequence from a word of four, the
// payload bits, and the top two bits of the continuations after the second (which must read 10).
// A printable ASCII character is a sequence of one between non-ASCII ones (a space, a letter
// before its combining mark): the byte after it starts a sequence of two or more.
struct Utf8Lead {
    std::uint8_t length = 0;
    std::uint8_t next_low = 0;
    std::uint8_t next_span = 0;
    std::uint8_t shift = 0;
    std::uint32_t value_bits = 0;
    std::uint32_t tags_mask = 0;
    std::uint32_t tags = 0;
};

// The second byte's ranges exclude exactly the overlong forms, the surrogates and what lies
// past U+10FFFF.
inline constexpr std::array<Utf8Lead, 256> UTF8_LEADS = [] {
    std::array<Utf8Lead, 256> leads{};
    const auto set = [&](unsigned first, unsigned last, Utf8Lead lead) {
        for (unsigned byte = first; byte <= last; ++byte) leads[byte] = lead;
    };
    set(0x20, 0x7E, {1, 0xC2, 0xFF - 0xC2, 24, 0, 0, 0});
    set(0xC2, 0xDF, {2, 0x80, 0x3F, 16, 0x1F3F, 0, 0});
    set(0xE0, 0xE0, {3, 0xA0, 0x1F, 8, 0x0F3F3F, 0xC0, 0x80});
    set(0xE1, 0xEC, {3, 0x80, 0x3F, 8, 0x0F3F3F, 0xC0, 0x80});
    set(0xED, 0xED, {3, 0x80, 0x1F, 8, 0x0F3F3F, 0xC0, 0x80});
    set(0xEE, 0xEF, {3, 0x80, 0x3F, 8, 0x0F3F3F, 0xC0, 0x80});
    set(0xF0, 0xF0, {4, 0x90, 0x2F, 0, 0x073F3F3F, 0xC0C0, 0x8080});
    set(0xF1, 0xF3, {4, 0x80, 0x3F, 0, 0x073F3F3F, 0xC0C0, 0x8080});
    set(0xF4, 0xF4, {4, 0x80, 0x0F, 0, 0x073F3F3F, 0xC0C0, 0x8080});
    return leads;
}();

// The sequence's bytes from a word of four at `p`, the lead byte highest, those after the
// sequence shifted out.
inline std::uint32_t utf8_bytes(const std::uint8_t* p, const Utf8Lead& lead) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
    return word >> lead.shift;
}

// The code point of the sequence whose bytes are `bytes`: an ASCII character is its byte, and
// the payload's six-bit groups of a longer sequence are packed pairwise, then the pairs.
inline char32_t utf8_code(std::uint32_t bytes, const Utf8Lead& lead) {
    if (lead.length == 1) return bytes;
    std::uint32_t value = bytes & lead.value_bits;
    value = (value & 0x003F003F) | (value >> 2 & 0x0FC00FC0);
    return (value & 0xFFF) | (value >> 4 & 0xFFF000);
}

inline bool utf8_next_in_range(const std::uint8_t* p, const Utf8Lead& lead) {
    return static_cast<std::uint8_t>(p[1] - lead.next_low) <= lead.next_span;
}

// As complete_utf8_sequence, for a sequence with four bytes readable from `p` on; a printable
// ASCII character before a sequence of two or more counts as one.
inline std::size_t utf8_sequence_in_word(const std::uint8_t* p, char32_t& code) {
    const Utf8Lead& lead = UTF8_LEADS[p[0]];
    const std::uint32_t bytes = utf8_bytes(p, lead);
    code = utf8_code(bytes, lead);
    return utf8_next_in_range(p, lead) & ((bytes & lead.tags_mask) == lead.tags) ? lead.length : 0;
}

// Decodes text into `text` from `count` on while each sequence ends where the next starts, and
// returns where it stopped: at the start of a sequence, for the loops of feed. Sequences are found
// by their lead bytes, sixteen bytes at a time, so finding the next one never waits for decoding
// this one (text in several scripts makes the lengths unpredictable), and the bytes between two
// leads are continuations with no check of their own.
inline const std::uint8_t* decode_text_windows(const std::uint8_t* p, const std::uint8_t* end, char32_t* text,
                                               std::size_t& count) {
#if defined(__SSE2__)
    // A sequence anywhere in the window is decoded from four bytes at its start.
    constexpr std::ptrdiff_t WINDOW = 16;
    while (end - p >= WINDOW + 3 && count < VT_TEXT_RUN_MAX) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Every byte but a continuation (0x80 to 0xBF, below -64 as signed bytes) starts a sequence.
        auto starts = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-65))));
        starts &= ~1u;
        std::size_t at = 0;
        while (starts != 0 && count < VT_TEXT_RUN_MAX) {
            const auto next = static_cast<std::size_t>(std::countr_zero(starts));
            starts &= starts - 1;
            const std::uint8_t* const sequence = p + at;
            const Utf8Lead& lead = UTF8_LEADS[sequence[0]];
            if (lead.length != next - at || !utf8_next_in_range(sequence, lead)) return sequence;
            text[count++] = utf8_code(utf8_bytes(sequence, lead), lead);
            at = next;
        }
        if (at == 0) break;
        p += at;
    }
#else
    static_cast<void>(end);
    static_cast<void>(text);
    static_cast<void>(count);
#endif
    return p;
}

// Decodes text as decode_text_windows does, but up to four sequences at a time with byte
// shuffles, on processors that have them; returns where it stopped, at the start of a sequence.
// It stops short of the first byte that is not well-formed text (a control, a run of ASCII) and
// of the last sixteen bytes, which the other loops of feed then take one sequence at a time.
const std::uint8_t* decode_text_blocks(const std::uint8_t* p, const std::uint8_t* end, char32_t* text,
                                       std::size_t& count);

template <class Handler>
void VtParser::feed(std::string_view bytes, Handler& handler) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (state_ == VT_PARSER_STATE_LITERAL && utf8_needed_ == 0) {
            if (*p >= 0xC2) {
                if (const std::uint8_t* const next = print_text(p, end, handler); next != p) {
                    p = next;
                    continue;
                }
            } else if (*p == ESC) {
                if (end - p >= 2 && p[1] == '[') {
                    // ESC [ in one step: the control sequence introducer, nearly every escape.
                    handler.escape_started();
                    if (const std::uint8_t* const next = complete_csi(p + 2, end)) {
                        state_ = VT_PARSER_STATE_LITERAL;
                        handler.csi_dispatch(csi_);
                        p = next;
                        continue;
                    }
                    begin_csi();
                    p += 2;
                    continue;
                }
            } else if (*p >= 0x20) {
                const auto* run = p;
                p = printable_run_end(p, end);
                if (p != run) {
                    // The last character before non-ASCII text is decoded with that text, so that
                    // a combining mark after it joins it on the way.
                    const std::uint8_t* const text = p != end && *p >= 0xC2 ? p - 1 : p;
                    if (text != run) {
                        handler.print_run({reinterpret_cast<const char*>(run), static_cast<std::size_t>(text - run)});
                    }
                    if (text != p) {
                        p = print_text(text, end, handler);
                        if (p == text) handler.print_run({reinterpret_cast<const char*>(p++), 1});
                    }
                    continue;
                }
            }
            ground_byte(*p++, handler);
            continue;
        }
        if (state_ == VT_PARSER_STATE_CONTROL_SEQ) {
            p = csi_parameters(p, end);
            if (p == end) break;
        }
        const std::uint8_t byte = *p++;
        switch (state_) {
        case VT_PARSER_STATE_LITERAL: utf8_byte(byte, handler); break;
        case VT_PARSER_STATE_ESCAPED: escaped_byte(byte, handler); break;
        case VT_PARSER_STATE_CONTROL_SEQ: csi_byte(byte, handler); break;
        case VT_PARSER_STATE_DCS:
        case VT_PARSER_STATE_APC:
        case VT_PARSER_STATE_OSC:
        case VT_PARSER_STATE_LEGACY_TITLE: string_byte(byte, handler); break;
        case VT_PARSER_STATE_CHARSET_SELECT:
        case VT_PARSER_STATE_CHARSET_G0:
        case VT_PARSER_STATE_CHARSET_G1:
        case VT_PARSER_STATE_CHARSET_G2:
        case VT_PARSER_STATE_CHARSET_G3:
        case VT_PARSER_STATE_DEC_SPECIAL: designation_byte(byte, handler); break;
        }
    }
}

// Decodes the text at `p`, a lead or a printable ASCII character before one, in runs of code
// points for the handler, and returns where it stopped; `p` when it decoded nothing.
template <class Handler>
const std::uint8_t* VtParser::print_text(const std::uint8_t* p, const std::uint8_t* end, Handler& handler) {
    // Text of many code points is decoded in one loop and handed over in runs.
    char32_t text[VT_TEXT_RUN_MAX];
    std::size_t count = 0;
    std::size_t length = 0;
    p = decode_text_blocks(p, end, text, count);
    // Where the blocks stopped at a control or at ASCII text, as they mostly do, the window loop
    // is skipped: the loops below take whatever text is left.
    if (p < end && *p >= 0x80) p = decode_text_windows(p, end, text, count);
    while (count < std::size(text) && end - p >= 4) {
        length = utf8_sequence_in_word(p, text[count]);
        if (length == 0) break;
        p += length;
        ++count;
    }
    while (count < std::size(text) && p < end && *p >= 0xC2 &&
           (length = complete_utf8_sequence(p, end, text[count])) != 0) {
        p += length;
        ++count;
    }
    if (count != 0) handler.print_code_points({text, count});
    return p;
}

template <class Handler>
void VtParser::ground_byte(std::uint8_t byte, Handler& handler) {
    if (byte == ESC) {
        state_ = VT_PARSER_STATE_ESCAPED;
        handler.escape_started();
    } else if (byte < 0x20) {
        handler.execute(byte);
    } else if (byte >= 0x80) {
        utf8_byte(byte, handler);
    }
    // DEL is ignored.
}

template <class Handler>
void VtParser::utf8_byte(std::uint8_t byte, Handler& handler) {
    if (utf8_needed_ != 0) {
        if (byte >= utf8_lower_ && byte <= utf8_upper_) {
            utf8_code_ = (utf8_code_ << 6) | (byte & 0x3F);
            utf8_lower_ = 0x80;
            utf8_upper_ = 0xBF;
            if (--utf8_needed_ == 0) handler.print_code_point(utf8_code_);
            return;
        }
        // The sequence broke: one replacement character, and the byte is taken afresh.
        utf8_needed_ = 0;
        handler.print_code_point(U'\uFFFD');
        if (byte < 0x80) {
            if (byte >= 0x20 && byte < 0x7F) {
                const char c = static_cast<char>(byte);
                handler.print_run({&c, 1});
            } else {
                ground_byte(byte, handler);
            }
            return;
        }
    }
    utf8_lower_ = 0x80;
    utf8_upper_ = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
        utf8_code_ = byte & 0x1F;
        utf8_needed_ = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        utf8_code_ = byte & 0x0F;
        utf8_needed_ = 2;
        if (byte == 0xE0) utf8_lower_ = 0xA0;
        if (byte == 0xED) utf8_upper_ = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        utf8_code_ = byte & 0x07;
        utf8_needed_ = 3;
        if (byte == 0xF0) utf8_lower_ = 0x90;
        if (byte == 0xF4) utf8_upper_ = 0x8F;
    } else {
        handler.print_code_point(U'\uFFFD');
    }
}

// C0 bytes inside an escape sequence: the format effectors run as in ground and the sequence
// goes on, CAN and SUB cancel it, ESC starts it over, the rest are ignored. True when handled.
template <class Handler>
bool VtParser::escape_control(std::uint8_t byte, Handler& handler) {
    if (byte >= 0x20) return false;
    switch (byte) {
    case ESC: state_ = VT_PARSER_STATE_ESCAPED; break;
    case CAN:
    case SUB: state_ = VT_PARSER_STATE_LITERAL; break;
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F: handler.execute(byte); break;
    default: break;
    }
    return true;
}

template <class Handler>
void VtParser::escaped_byte(std::uint8_t byte, Handler& handler) {
    if (escape_control(byte, handler)) return;
    switch (byte) {
    case '\\': state_ = VT_PARSER_STATE_LITERAL; break;  // a stray string terminator
    case ' ':
    case '%':
        designation_intermediate_ = byte;
        state_ = VT_PARSER_STATE_CHARSET_SELECT;
        break;
    case '#': state_ = VT_PARSER_STATE_DEC_SPECIAL; break;
    case '(': state_ = VT_PARSER_STATE_CHARSET_G0; break;
    case ')': state_ = VT_PARSER_STATE_CHARSET_G1; break;
    case '*': state_ = VT_PARSER_STATE_CHARSET_G2; break;
    case '+': state_ = VT_PARSER_STATE_CHARSET_G3; break;
    case '[': begin_csi(); break;
    case ']': begin_string(VT_PARSER_STATE_OSC); break;
    case 'P': begin_string(VT_PARSER_STATE_DCS); break;
    case '_': begin_string(VT_PARSER_STATE_APC); break;
    case 'k': begin_string(VT_PARSER_STATE_LEGACY_TITLE); break;
    default:
        state_ = VT_PARSER_STATE_LITERAL;
        handler.esc_dispatch(0, byte);
        break;
    }
}

template <class Handler>
void VtParser::designation_byte(std::uint8_t byte, Handler& handler) {
    if (escape_control(byte, handler)) return;
    std::uint8_t intermediate = 0;
    switch (state_) {
    case VT_PARSER_STATE_CHARSET_SELECT: intermediate = designation_intermediate_; break;
    case VT_PARSER_STATE_CHARSET_G0: intermediate = '('; break;
    case VT_PARSER_STATE_CHARSET_G1: intermediate = ')'; break;
    case VT_PARSER_STATE_CHARSET_G2: intermediate = '*'; break;
    case VT_PARSER_STATE_CHARSET_G3: intermediate = '+'; break;
    default: intermediate = '#'; break;
    }
    state_ = VT_PARSER_STATE_LITERAL;
    handler.esc_dispatch(intermediate, byte);
}

template <class Handler>
void VtParser::csi_byte(std::uint8_t byte, Handler& handler) {
    if (byte < 0x20) {
        if (byte == ESC || byte == CAN || byte == SUB) {
            escape_control(byte, handler);
        } else {
            handler.execute(byte);
        }
        return;
    }
    if (byte >= 0x80) {
        // Not part of any control sequence: drop the sequence, keep the text.
        state_ = VT_PARSER_STATE_LITERAL;
        utf8_byte(byte, handler);
        return;
    }
    if (byte == 0x7F) return;
    if (csi_.raw_length < VtCsi::MAX_RAW) csi_.raw[csi_.raw_length++] = static_cast<char>(byte);
    ++csi_.length;
    if (byte >= 0x40) {
        csi_.final = byte;
        state_ = VT_PARSER_STATE_LITERAL;
        handler.csi_dispatch(csi_);
        return;
    }
    if (byte >= 0x30) {
        if (csi_.intermediate_count != 0) csi_.malformed = true;
        csi_param_byte(byte);
    } else if (csi_.intermediate_count < sizeof csi_.intermediates) {
        csi_.intermediates[csi_.intermediate_count++] = byte;
    } else {
        csi_.malformed = true;
    }
    if (csi_.length > VtCsi::MAX_LENGTH) {
        // A sequence that never ends must not swallow the output.
        csi_.malformed = true;
        state_ = VT_PARSER_STATE_LITERAL;
        handler.csi_dispatch(csi_);
    }
}

template <class Handler>
void VtParser::string_byte(std::uint8_t byte, Handler& handler) {
    if (string_escape_) {
        string_escape_ = false;
        if (byte == '\\') {
            if (!string_.empty() && string_.back() == static_cast<char>(BEL)) string_.pop_back();
            const VtStringKind kind = string_kind();
            const bool deliver = !string_overflowed_;
            state_ = VT_PARSER_STATE_LITERAL;
            if (deliver) handler.string_dispatch(kind, string_);
            drop_string();
            return;
        }
        // ESC and anything but '\' ends the string unfinished; the byte starts an escape.
        drop_string();
        state_ = VT_PARSER_STATE_ESCAPED;
        escaped_byte(byte, handler);
        return;
    }
    switch (byte) {
    case ESC: string_escape_ = true; return;
    case CAN:
    case SUB:
        drop_string();
        state_ = VT_PARSER_STATE_LITERAL;
        return;
    case BEL: {
        const VtStringKind kind = string_kind();
        const bool deliver = !string_overflowed_;
        state_ = VT_PARSER_STATE_LITERAL;
        if (deliver) handler.string_dispatch(kind, string_);
        drop_string();
        return;
    }
    default: break;
    }
    if (string_overflowed_) return;
    if (string_.size() >= string_cap()) {
        string_overflowed_ = true;
        string_.clear();
        string_.shrink_to_fit();
        handler.string_overflow(string_kind());
        return;
    }
    string_.push_back(static_cast<char>(byte));
}

}  // namespace zelto
