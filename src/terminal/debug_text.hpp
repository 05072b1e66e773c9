#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelto {

// The coloured control picture of a C0 byte or DEL, or nullptr for any other byte.
const char* control_picture(std::uint8_t byte);

// `bytes` up to the first NUL, made readable on a colour terminal: controls as pictures, escape
// sequences highlighted, and bytes that are not valid UTF-8 written as \xNN (so a warning never
// prints raw child bytes).
std::string visualise(std::string_view bytes);

}  // namespace zelto
