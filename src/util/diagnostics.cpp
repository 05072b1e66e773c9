#include "util/diagnostics.hpp"

#include <cstdio>
#include <cstdlib>

namespace zelto {

void fatal(const char* format, ...) {
    std::fputs(ERROR_PREFIX, stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::exit(1);
}

void warn(const char* format, ...) {
    std::fputs(WARNING_PREFIX, stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void info(const char* format, ...) {
    std::fputs(INFO_PREFIX, stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

}  // namespace zelto
