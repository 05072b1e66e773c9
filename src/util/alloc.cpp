#include "util/alloc.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

#include "util/diagnostics.hpp"

namespace zelto {

namespace {

constexpr int ALLOCATION_ATTEMPTS = 21;
constexpr int REALLOCATION_ATTEMPTS = 2;

// operator new calls the handler after every failed attempt and tries again when it returns, so
// a failing `new` is retried like malloc before giving up. The handler cannot know the size, so
// it reports like a failed reallocation.
void on_new_failure() {
    static int failures = 0;
    if (++failures < ALLOCATION_ATTEMPTS) return;
    fatal("out of memory");
}

}  // namespace

void install_out_of_memory_handler() { std::set_new_handler(on_new_failure); }

void* allocate(std::size_t size) {
    for (int i = 0; i < ALLOCATION_ATTEMPTS; ++i) {
        if (void* p = std::malloc(size)) return p;
    }
    fatal("out of memory: malloc(%zu)", size);
}

void* allocate_zeroed(std::size_t count, std::size_t size) {
    for (int i = 0; i < ALLOCATION_ATTEMPTS; ++i) {
        if (void* p = std::calloc(count, size)) return p;
    }
    fatal("out of memory: realloc(%zu, %zu)", count, size);
}

void* reallocate(void* pointer, std::size_t size) {
    for (int i = 0; i < REALLOCATION_ATTEMPTS; ++i) {
        if (void* p = std::realloc(pointer, size)) return p;
    }
    fatal("out of memory");
}

char* duplicate_string(const char* text) {
    for (int i = 0; i < ALLOCATION_ATTEMPTS; ++i) {
        if (char* p = strdup(text)) return p;
    }
    fatal("out of memory: strdup");
}

}  // namespace zelto
