#pragma once

#include <cstddef>

namespace zelto {

// Makes every failed `operator new` retry, then print "out of memory" and exit with status 1:
// allocation never fails toward the caller.
void install_out_of_memory_handler();

// The C allocations that remain (buffers handed to C libraries). Each either returns usable
// memory or ends the process with its own message.
void* allocate(std::size_t size);
void* allocate_zeroed(std::size_t count, std::size_t size);
void* reallocate(void* pointer, std::size_t size);
char* duplicate_string(const char* text);

}  // namespace zelto
