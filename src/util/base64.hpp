#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zelto {

// Upper bound of the bytes base64_decode writes for `text_length` characters.
constexpr std::size_t base64_decoded_capacity(std::size_t text_length) {
    return (text_length + 3) / 4 * 3;
}

// Decodes standard-alphabet Base64 into `out` (at least base64_decoded_capacity bytes) and
// returns the number of bytes written. Decoding stops at the first group that does not start
// with an alphabet character or '=', and after a group that is cut short by padding, a
// character outside the alphabet or the end of the text.
std::size_t base64_decode(std::string_view text, std::uint8_t* out);

}  // namespace zelto
