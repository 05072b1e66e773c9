#pragma once

#include <cstdarg>

namespace zelto {

inline constexpr const char* ERROR_PREFIX = "[\x1b[31merror\x1b[m] ";
inline constexpr const char* WARNING_PREFIX = "[\x1b[33mwarning\x1b[m] ";
inline constexpr const char* INFO_PREFIX = "[\x1b[36minfo\x1b[m] ";

// Prints the error prefix, the formatted text and a newline to stderr, then exits with status 1.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints the warning prefix and the formatted text as is: warnings carry their own newline.
void warn(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints the info prefix, the formatted text and a newline.
void info(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zelto
