#include "terminal/debug_text.hpp"

#include <array>

namespace zelto {

namespace {

int control_color(std::uint8_t byte) {
    switch (byte) {
    case 0x00: case 0x08: return 31;
    case 0x01: case 0x07: return 33;
    case 0x02: return 93;
    case 0x03: case 0x05: case 0x0A: case 0x12: case 0x15: return 36;
    case 0x04: case 0x06: case 0x0E: case 0x10: case 0x1F: return 96;
    case 0x09: return 34;
    case 0x0B: case 0x18: return 94;
    case 0x0C: case 0x1C: return 91;
    case 0x0D: case 0x13: case 0x14: case 0x16: case 0x1D: case 0x1E: return 35;
    case 0x0F: case 0x11: case 0x7F: return 95;
    case 0x17: case 0x19: return 32;
    default: return 92;  // 0x1A, 0x1B
    }
}

std::string make_picture(std::uint8_t byte) {
    const char32_t picture = byte == 0x7F ? 0x2421 : 0x2400 + byte;
    std::string text = "\x1b[40m\x1b[" + std::to_string(control_color(byte)) + "m";
    text += static_cast<char>(0xE0 | (picture >> 12));
    text += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (picture & 0x3F));
    text += "\x1b[39m";
    return text;
}

const std::array<std::string, 33>& pictures() {
    static const std::array<std::string, 33> table = [] {
        std::array<std::string, 33> t;
        for (std::uint8_t b = 0; b < 0x20; ++b) t[b] = make_picture(b);
        t[32] = make_picture(0x7F);
        return t;
    }();
    return table;
}

const char* final_byte_background(std::uint8_t byte) {
    switch (byte) {
    case '@': case 'L': case 'M': case 'P': case 'S': case 'T': case 'X': return "\x1b[105m";
    case 'B': case 'C': case 'D': case 'E': case 'F': case 'a': case 'e': return "\x1b[46m";
    case 'G': case 'H': case '`': case 'd': case 'f': return "\x1b[42m";
    case 'I': case 'Z': case 'g': return "\x1b[45m";
    case 'm': return "\x1b[44m";
    default: return "\x1b[101m";
    }
}

// Length of the valid UTF-8 sequence at the start of `bytes`, or 0.
std::size_t valid_utf8_length(std::string_view bytes) {
    const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    std::size_t need = 0;
    std::uint8_t lower = 0x80, upper = 0xBF;
    const std::uint8_t lead = b(0);
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) lower = 0xA0;
        if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) lower = 0x90;
        if (lead == 0xF4) upper = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() <= need) return 0;
    for (std::size_t i = 1; i <= need; ++i) {
        if (b(i) < lower || b(i) > upper) return 0;
        lower = 0x80;
        upper = 0xBF;
    }
    return need + 1;
}

}  // namespace

const char* control_picture(std::uint8_t byte) {
    if (byte < 0x20) return pictures()[byte].c_str();
    if (byte == 0x7F) return pictures()[32].c_str();
    return nullptr;
}

std::string visualise(std::string_view bytes) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    std::string out;
    out.reserve(bytes.size() * 2 + 8);
    bool after_escape = false;
    bool in_sequence = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        if (byte >= 0x80) {
            if (in_sequence) {
                out += "\x1b[49m";
                in_sequence = false;
            }
            const std::size_t n = valid_utf8_length(bytes.substr(i));
            if (n != 0) {
                out.append(bytes.substr(i, n));
                i += n - 1;
            } else {
                out += "\\x";
                out += HEX[byte >> 4];
                out += HEX[byte & 0xF];
            }
            continue;
        }
        bool final = false;
        if (!in_sequence) {
            if (byte == 0x1B) {
                out += "\x1b[100m";
                after_escape = true;
            } else if (byte == '[') {
                in_sequence = after_escape;
                after_escape = false;
            }
        } else if (!((byte >= '0' && byte <= '9') || byte == ':' || byte == ';' || byte == '?')) {
            out += "\x1b[49m";
            in_sequence = false;
            final = true;
        }
        if (const char* picture = control_picture(byte)) {
            out += picture;
        } else if (final) {
            out += final_byte_background(byte);
            out += static_cast<char>(byte);
            out += "\x1b[m";
        } else if (in_sequence && byte == ';') {
            out += "\x1b[91m;\x1b[39m";
        } else if (in_sequence && byte >= '0' && byte <= '9') {
            out += "\x1b[107m\x1b[30m";
            out += static_cast<char>(byte);
            out += "\x1b[100m\x1b[39m";
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += "\x1b[49m";
    return out;
}

}  // namespace zelto
