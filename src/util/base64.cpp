#include "util/base64.hpp"

#include <cctype>

namespace zelto {

namespace {

constexpr int MISSING = -1;

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return MISSING;
}

bool starts_group(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 127) return false;
    return std::isalnum(byte) || c == '+' || c == '/' || c == '=';
}

}  // namespace

std::size_t base64_decode(std::string_view text, std::uint8_t* out) {
    std::size_t written = 0;
    std::size_t pos = 0;
    while (pos < text.size() && starts_group(text[pos])) {
        int v[4];
        for (int& value : v) {
            // The end of the text counts as missing and is not passed over.
            value = pos < text.size() ? sextet(text[pos++]) : MISSING;
        }
        if (v[0] == MISSING || v[1] == MISSING) break;
        out[written++] = static_cast<std::uint8_t>(v[0] << 2 | v[1] >> 4);
        if (v[2] == MISSING) break;
        out[written++] = static_cast<std::uint8_t>((v[1] & 0xF) << 4 | v[2] >> 2);
        if (v[3] == MISSING) break;
        out[written++] = static_cast<std::uint8_t>((v[2] & 0x3) << 6 | v[3]);
    }
    return written;
}

}  // namespace zelto
