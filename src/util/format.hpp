#pragma once

#include <string>

namespace zelto {

// printf-style formatting into an owned string.
std::string format_string(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zelto
