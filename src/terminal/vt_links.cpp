// Link detection in printed text.
#include "terminal/vt_links.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelto {

namespace {

constexpr std::array<std::string_view, 34> SCHEMES = {
    "file",   "http",   "https",   "shttp",  "irc",    "smb", "udp",    "xmpp",  "xri",
    "magnet", "mailto", "callto",  "message", "mumble", "ssh", "telnet", "imap",  "pop",
    "ftp",    "sftp",   "tftp",    "nfs",    "fish",   "git", "svn",    "jar",   "mvn",
    "vnc",    "rdp",    "spice",   "nx",     "cvs",    "admin", "app",
};

bool is_ascii_alnum(char32_t ch) {
    return (ch >= '0' && ch <= '9') || ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'z');
}

bool is_url_character(char32_t ch) {
    if (is_ascii_alnum(ch)) return true;
    switch (ch) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '(': case ')': case '*':
    case '+': case ',': case '-': case '.': case '/': case ':': case ';': case '=': case '?':
    case '@': case '[': case ']': case '_': case '~': return true;
    default: return false;
    }
}

// "www." followed by text holding another '.'.
bool has_second_dot(const std::string& text) { return text.find('.', 4) != std::string::npos; }

// Up to eight bytes folded to lower case, the first in the low byte. No folded byte is zero, so
// texts of different lengths never share a key.
constexpr std::uint64_t scheme_key(std::string_view text) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        key |= std::uint64_t{static_cast<unsigned char>(text[i] | 0x20)} << (8 * i);
    }
    return key;
}

static_assert(std::all_of(SCHEMES.begin(), SCHEMES.end(), [](std::string_view scheme) {
    return !scheme.empty() && scheme.size() <= 8 &&
           std::all_of(scheme.begin(), scheme.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}));

// Every word before a ':' is looked up, so the schemes sit in a table with one key per slot:
// a multiplier that spreads them without collisions is found at compile time.
struct SchemeTable {
    static constexpr int SLOT_BITS = 7;
    std::uint64_t multiplier = 0;
    std::array<std::uint64_t, std::size_t{1} << SLOT_BITS> keys{};

    constexpr std::size_t slot(std::uint64_t key) const {
        return static_cast<std::size_t>((key * multiplier) >> (64 - SLOT_BITS));
    }
};

constexpr SchemeTable SCHEME_TABLE = [] {
    for (std::uint64_t multiplier = 0x9E3779B97F4A7C15u;; multiplier += 2 * 0x9E3779B97F4A7C15u) {
        SchemeTable table;
        table.multiplier = multiplier;
        const bool spread = std::all_of(SCHEMES.begin(), SCHEMES.end(), [&](std::string_view scheme) {
            std::uint64_t& key = table.keys[table.slot(scheme_key(scheme))];
            if (key != 0) return false;
            key = scheme_key(scheme);
            return true;
        });
        if (spread) return table;
    }
}();

}  // namespace

bool is_link_scheme(std::string_view text) {
    if (text.empty() || text.size() > 8) return false;
    const std::uint64_t key = scheme_key(text);
    return SCHEME_TABLE.keys[SCHEME_TABLE.slot(key)] == key;
}

bool VtLinkDetector::is_link() const {
    switch (state_) {
    case VT_URI_STATE_PATH: return true;
    case VT_URI_STATE_WWW_DOT: return has_second_dot(text_);
    // A host part alone is a link when it looks like a host name.
    case VT_URI_STATE_AUTHORITY: return text_.find('.') != std::string::npos;
    default: return false;
    }
}

bool VtLinkDetector::finish_text() {
    if (is_link()) return true;
    reset();
    return false;
}

void VtLinkDetector::begin(char32_t letter, VtTextPoint at) {
    scheme_[0] = static_cast<char>(letter);
    scheme_length_ = 1;
    start = at;
    state_ = VT_URI_STATE_SCHEME;
}

// The character after the letters of a scheme.
void VtLinkDetector::end_scheme(char32_t ch) {
    const std::string_view letters(scheme_, scheme_length_);
    if (ch == ':' && is_link_scheme(letters)) {
        text_.assign(letters);
        text_ += ':';
        state_ = VT_URI_STATE_COLON;
    } else if (ch == '.' && letters == "www") {
        text_.assign("www.");
        state_ = VT_URI_STATE_WWW_DOT;
    } else {
        reset();
    }
}

bool VtLinkDetector::step(char32_t ch, VtTextPoint at) {
    if (text_.size() >= MAX_LENGTH) {
        if (is_link()) return true;
        reset();
    }
    switch (state_) {
    case VT_URI_STATE_IDLE:
        if (can_start(ch)) begin(ch, at);
        return false;
    case VT_URI_STATE_SCHEME:
        if (ch >= 'a' && ch <= 'z' && scheme_length_ < MAX_SCHEME_LETTERS) {
            scheme_[scheme_length_++] = static_cast<char>(ch);
        } else {
            end_scheme(ch);
        }
        return false;
    case VT_URI_STATE_COLON:
    case VT_URI_STATE_SLASH:
        if (ch == '/') {
            text_ += '/';
            state_ = state_ == VT_URI_STATE_COLON ? VT_URI_STATE_SLASH : VT_URI_STATE_AUTHORITY;
        } else {
            reset();
        }
        return false;
    case VT_URI_STATE_AUTHORITY:
        // The host part ends where a path would: a space after "https://example.com" is not
        // part of the link.
        if (ch == '/') {
            text_ += '/';
            state_ = VT_URI_STATE_PATH;
            return false;
        }
        break;
    case VT_URI_STATE_PATH:
    case VT_URI_STATE_WWW_DOT: break;
    }
    if (is_url_character(ch)) {
        text_ += static_cast<char>(ch);
        return false;
    }
    return finish();
}

namespace {

constexpr bool IS_LITTLE_ENDIAN = std::endian::native == std::endian::little;

std::uint64_t load_word(const unsigned char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Bytes [from, to), one to eight of them, in the low bytes of a word with zeros above (on a
// little-endian machine). Only the text's own bytes are read: the word ending at `to`, or, when
// fewer than eight bytes come before `to`, two overlapping loads that hold the same byte
// wherever they overlap.
std::uint64_t load_bytes(const unsigned char* bytes, std::size_t from, std::size_t to) {
    if (to >= 8) return load_word(bytes + to - 8) >> (8 * (8 - (to - from)));
    std::uint64_t word;
    if (to >= 4) {
        std::uint32_t low, high;
        std::memcpy(&low, bytes, sizeof low);
        std::memcpy(&high, bytes + to - 4, sizeof high);
        word = low | (std::uint64_t{high} << (8 * (to - 4)));
    } else if (to >= 2) {
        std::uint16_t low, high;
        std::memcpy(&low, bytes, sizeof low);
        std::memcpy(&high, bytes + to - 2, sizeof high);
        word = low | (std::uint64_t{high} << (8 * (to - 2)));
    } else {
        word = bytes[0];
    }
    return word >> (8 * from);
}

#if defined(__SSE2__)

__m128i load_block(const unsigned char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// One bit per byte of the block, set for each ':' or '.'.
std::uint32_t block_scheme_ends(__m128i block) {
    const __m128i colons = _mm_cmpeq_epi8(block, _mm_set1_epi8(':'));
    const __m128i dots = _mm_cmpeq_epi8(block, _mm_set1_epi8('.'));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(colons, dots)));
}

// One bit per byte of the block, set for each ASCII letter. Non-ASCII bytes are negative in the
// signed comparisons.
std::uint32_t block_letters(__m128i block) {
    const __m128i folded = _mm_or_si128(block, _mm_set1_epi8(0x20));
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)),
                                          _mm_cmplt_epi8(folded, _mm_set1_epi8('z' + 1)));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(letters));
}

// Bit i set for each byte i of the `size` (1 to 15) bytes that `classify` picks from a block;
// it must pick no zero byte. Eight bytes from each end: where they overlap, both halves agree.
template <typename Classify>
std::uint32_t short_bits(const unsigned char* bytes, std::size_t size, Classify classify) {
    if (size < 8) return classify(_mm_set_epi64x(0, static_cast<long long>(load_bytes(bytes, 0, size))));
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + size - 8));
    const std::uint32_t bits = classify(_mm_unpacklo_epi64(low, high));
    return (bits & 0xFF) | ((bits >> 8) << (size - 8));
}

// The offset of the first ':' or '.' in bytes [k, n), else n; sixteen bytes at a time, as most
// printed text holds neither.
std::size_t find_scheme_end(const unsigned char* bytes, std::size_t k, std::size_t n) {
    if (n < 16) {
        const std::uint32_t found = short_bits(bytes, n, block_scheme_ends) >> k;
        return found != 0 ? k + static_cast<std::size_t>(std::countr_zero(found)) : n;
    }
    for (; k + 16 <= n; k += 16) {
        const std::uint32_t found = block_scheme_ends(load_block(bytes + k));
        if (found != 0) return k + static_cast<std::size_t>(std::countr_zero(found));
    }
    if (k == n) return n;
    // The block ending the text, without the bytes before k.
    const std::uint32_t found = block_scheme_ends(load_block(bytes + n - 16)) >> (16 - (n - k));
    return found != 0 ? k + static_cast<std::size_t>(std::countr_zero(found)) : n;
}

// How many letters end the bytes [k, end), sixteen bytes at a time.
std::size_t trailing_letters(const unsigned char* bytes, std::size_t k, std::size_t end) {
    std::size_t count = 0;
    for (; count < end - k && end - count >= 16; count += 16) {
        std::uint32_t others = ~block_letters(load_block(bytes + end - count - 16)) & 0xFFFF;
        // Bytes before k are no letters of the range.
        const std::size_t rest = end - k - count;
        if (rest < 16) others |= (1u << (16 - rest)) - 1;
        if (others != 0) return count + static_cast<std::size_t>(std::countl_zero(others << 16));
    }
    // Fewer than 16 bytes are left before the letters counted, from the text's start on.
    const std::size_t rest_end = end - count;
    if (rest_end == k) return count;
    const std::uint32_t others =
        (~short_bits(bytes, rest_end, block_letters) & ((1u << rest_end) - 1)) | ((1u << k) - 1);
    if (others == 0) return count + rest_end;
    return count + rest_end - 1 - static_cast<std::size_t>(31 - std::countl_zero(others));
}

#else

enum : std::uint8_t { BYTE_LETTER = 1, BYTE_SCHEME_END = 2 };

constexpr std::array<std::uint8_t, 256> BYTE_CLASSES = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 'a'; c <= 'z'; ++c) classes[static_cast<std::size_t>(c)] = BYTE_LETTER;
    for (int c = 'A'; c <= 'Z'; ++c) classes[static_cast<std::size_t>(c)] = BYTE_LETTER;
    classes[':'] = classes['.'] = BYTE_SCHEME_END;
    return classes;
}();

constexpr std::uint64_t ONES = 0x0101010101010101u;
constexpr std::uint64_t HIGHS = 0x8080808080808080u;

// The high bit of each ':' or '.' byte. Bits above the lowest may be false alarms, the lowest
// is exact; zero bytes are neither.
std::uint64_t scheme_ends(std::uint64_t word) {
    const std::uint64_t colon = word ^ (ONES * ':');
    const std::uint64_t dot = word ^ (ONES * '.');
    return (((colon - ONES) & ~colon) | ((dot - ONES) & ~dot)) & HIGHS;
}

// The high bit of each ASCII letter byte. Folded to lower case with the top bit clear, every
// byte is at most 0x7F: the range test 'a' <= x <= 'z' carries or borrows into no neighbour.
// Non-ASCII and zero bytes are no letters.
std::uint64_t letter_bytes(std::uint64_t word) {
    const std::uint64_t x = (word | 0x2020202020202020u) & 0x7F7F7F7F7F7F7F7Fu;
    return (x + 0x1F1F1F1F1F1F1F1Fu) & (0xFAFAFAFAFAFAFAFAu - x) & ~word & HIGHS;
}

// The offset of the first ':' or '.' in bytes [k, n), else n; eight bytes at a time, as most
// printed text holds neither.
std::size_t find_scheme_end(const unsigned char* bytes, std::size_t k, std::size_t n) {
    if constexpr (IS_LITTLE_ENDIAN) {
        for (; k + 8 <= n; k += 8) {
            const std::uint64_t found = scheme_ends(load_word(bytes + k));
            if (found != 0) return k + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        }
        if (k == n) return n;
        const std::uint64_t found = scheme_ends(load_bytes(bytes, k, n));
        return found != 0 ? k + static_cast<std::size_t>(std::countr_zero(found)) / 8 : n;
    }
    while (k < n && (BYTE_CLASSES[bytes[k]] & BYTE_SCHEME_END) == 0) ++k;
    return k;
}

// How many letters end the bytes [k, end), eight bytes at a time.
std::size_t trailing_letters(const unsigned char* bytes, std::size_t k, std::size_t end) {
    std::size_t count = 0;
    if constexpr (IS_LITTLE_ENDIAN) {
        for (; end - k - count >= 8; count += 8) {
            const std::uint64_t others = ~letter_bytes(load_word(bytes + end - count - 8)) & HIGHS;
            if (others != 0) return count + static_cast<std::size_t>(std::countl_zero(others)) / 8;
        }
        const std::size_t rest = end - k - count;
        if (rest == 0) return count;
        // The rest moved to the top of the word: the zeros below are no letters.
        const std::uint64_t word = load_bytes(bytes, k, end - count) << (8 * (8 - rest));
        return count + static_cast<std::size_t>(std::countl_zero(~letter_bytes(word) & HIGHS)) / 8;
    }
    while (count < end - k && (BYTE_CLASSES[bytes[end - count - 1]] & BYTE_LETTER) != 0) ++count;
    return count;
}

#endif

}  // namespace

std::size_t VtLinkDetector::scan(std::string_view text, VtTextPoint at) {
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t k = 0;
    while (k < n) {
        if (state_ != VT_URI_STATE_IDLE && state_ != VT_URI_STATE_SCHEME) {
            if (step(bytes[k], {at.line, static_cast<std::uint16_t>(at.col + k)})) return k;
            ++k;
            continue;
        }
        // Idle or in a scheme: every byte but a letter, ':' and '.' leaves the detector idle,
        // so only the letters right before a ':' or '.' (or the end) matter. Text is skipped
        // up to there without looking at the state, and those letters are stepped.
        const std::size_t end = find_scheme_end(bytes, k, n);
        const std::size_t letters = end - trailing_letters(bytes, k, end);
        // Idle already is as good as reset.
        if (letters > k && state_ != VT_URI_STATE_IDLE) reset();
        const std::size_t count = end - letters;
        bool copied = false;
        if constexpr (IS_LITTLE_ENDIAN) {
            // The usual word: from idle, at most eight letters and only the first upper case.
            // Stepping them begins a candidate with the first and adds every other, so they
            // are copied at once.
            static_assert(MAX_SCHEME_LETTERS >= 8);
            if (count != 0 && count <= 8 && state_ == VT_URI_STATE_IDLE) {
                const std::uint64_t word = load_bytes(bytes, letters, end);
                // Letters all have 0x40 set; the upper case ones lack 0x20. The first is exempt.
                const std::uint64_t upper = (word << 1) & ~(word << 2) & 0x8080808080808000u;
                if (upper == 0) {
                    std::memcpy(scheme_, &word, sizeof word);
                    scheme_length_ = static_cast<std::uint8_t>(count);
                    start = {at.line, static_cast<std::uint16_t>(at.col + letters)};
                    state_ = VT_URI_STATE_SCHEME;
                    copied = true;
                }
            }
        }
        if (!copied) {
            for (std::size_t j = letters; j < end; ++j) {
                if (state_ == VT_URI_STATE_IDLE) {
                    begin(bytes[j], {at.line, static_cast<std::uint16_t>(at.col + j)});
                } else if (bytes[j] >= 'a' && scheme_length_ < MAX_SCHEME_LETTERS) {
                    scheme_[scheme_length_++] = static_cast<char>(bytes[j]);
                } else {
                    reset();
                }
            }
        }
        k = end;
        if (k == n) break;
        if (state_ == VT_URI_STATE_SCHEME) end_scheme(bytes[k]);
        ++k;
    }
    return n;
}

std::uint16_t add_cell_link(VtLine& line, const std::string& text) {
    constexpr std::size_t MAX_LINKS = std::numeric_limits<std::uint16_t>::max();
    if (line.links && line.links->size() >= std::min(MAX_LINKS, 2 * std::max<std::size_t>(line.cells.size(), 8))) {
        std::vector<std::string>& links = *line.links;
        std::vector<std::uint16_t> renumbered(links.size() + 1, 0);
        for (const VtCell& cell : line.cells) {
            if (cell.link != 0 && cell.link <= links.size()) renumbered[cell.link] = 1;
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (renumbered[i + 1] == 0) continue;
            if (kept != i) links[kept] = std::move(links[i]);
            renumbered[i + 1] = static_cast<std::uint16_t>(++kept);
        }
        links.resize(kept);
        for (VtCell& cell : line.cells) {
            if (cell.link != 0) cell.link = cell.link <= renumbered.size() - 1 ? renumbered[cell.link] : 0;
        }
        const bool known = std::find(links.begin(), links.end(), text) != links.end();
        if (!known && links.size() >= MAX_LINKS) return 0;
    }
    return static_cast<std::uint16_t>(line.add_link(text) + 1);
}

}  // namespace zelto
