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

}  // namespace

bool is_link_scheme(std::string_view text) {
    return std::any_of(SCHEMES.begin(), SCHEMES.end(), [&](std::string_view scheme) {
        return scheme.size() == text.size() &&
               std::equal(scheme.begin(), scheme.end(), text.begin(),
                          [](char a, char b) { return a == (b | 0x20); });
    });
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

bool VtLinkDetector::finish() {
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

enum : std::uint8_t { BYTE_LETTER = 1, BYTE_SCHEME_END = 2 };

constexpr std::array<std::uint8_t, 256> BYTE_CLASSES = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 'a'; c <= 'z'; ++c) classes[static_cast<std::size_t>(c)] = BYTE_LETTER;
    for (int c = 'A'; c <= 'Z'; ++c) classes[static_cast<std::size_t>(c)] = BYTE_LETTER;
    classes[':'] = classes['.'] = BYTE_SCHEME_END;
    return classes;
}();

// The offset of the first ':' or '.' in bytes [k, n), else n; eight bytes at a time, as most
// printed text holds neither.
std::size_t find_scheme_end(const unsigned char* bytes, std::size_t k, std::size_t n) {
    constexpr std::uint64_t ONES = 0x0101010101010101u;
    constexpr std::uint64_t HIGHS = 0x8080808080808080u;
    if constexpr (std::endian::native == std::endian::little) {
        for (; k + 8 <= n; k += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + k, sizeof word);
            const std::uint64_t colon = word ^ (ONES * ':');
            const std::uint64_t dot = word ^ (ONES * '.');
            // The high bit of each zero byte of `colon` or `dot`; bits above the lowest may be
            // false alarms, the lowest is exact.
            const std::uint64_t found = (((colon - ONES) & ~colon) | ((dot - ONES) & ~dot)) & HIGHS;
            if (found != 0) return k + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        }
    }
    while (k < n && (BYTE_CLASSES[bytes[k]] & BYTE_SCHEME_END) == 0) ++k;
    return k;
}

// How many letters end the bytes [k, end), eight bytes at a time.
std::size_t trailing_letters(const unsigned char* bytes, std::size_t k, std::size_t end) {
    constexpr std::uint64_t HIGHS = 0x8080808080808080u;
    std::size_t count = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (end - k - count >= 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + end - count - 8, sizeof word);
            // Folded to lower case with the top bit clear, every byte is at most 0x7F: the range
            // test 'a' <= x <= 'z' carries or borrows into no neighbour. Non-ASCII bytes are no
            // letters.
            const std::uint64_t x = (word | 0x2020202020202020u) & 0x7F7F7F7F7F7F7F7Fu;
            const std::uint64_t letters =
                (x + 0x1F1F1F1F1F1F1F1Fu) & (0xFAFAFAFAFAFAFAFAu - x) & ~word & HIGHS;
            const std::uint64_t others = ~letters & HIGHS;
            if (others != 0) return count + static_cast<std::size_t>(std::countl_zero(others)) / 8;
            count += 8;
        }
    }
    while (count < end - k && (BYTE_CLASSES[bytes[end - count - 1]] & BYTE_LETTER) != 0) ++count;
    return count;
}

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
        for (std::size_t j = letters; j < end; ++j) {
            if (state_ == VT_URI_STATE_IDLE) {
                begin(bytes[j], {at.line, static_cast<std::uint16_t>(at.col + j)});
            } else if (bytes[j] >= 'a' && scheme_length_ < MAX_SCHEME_LETTERS) {
                scheme_[scheme_length_++] = static_cast<char>(bytes[j]);
            } else {
                reset();
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
