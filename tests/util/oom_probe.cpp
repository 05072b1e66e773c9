// Exercises one allocation path that must fail; the allocation policy ends the process.
#include <cstdint>
#include <cstring>
#include <vector>

#include "util/alloc.hpp"

int main(int argc, char** argv) {
    constexpr std::size_t huge = std::size_t{1} << 62;
    if (argc < 2) return 2;
    zelto::install_out_of_memory_handler();
    const char* mode = argv[1];
    if (std::strcmp(mode, "malloc") == 0) zelto::allocate(huge);
    if (std::strcmp(mode, "calloc") == 0) zelto::allocate_zeroed(huge, 4);
    if (std::strcmp(mode, "realloc") == 0) zelto::reallocate(nullptr, huge);
    if (std::strcmp(mode, "new") == 0) {
        std::vector<char> big;
        big.reserve(huge);
    }
    return 0;
}
