#pragma once
// Memory whose start meets an alignment the C++ library cannot promise on
// every platform: each system has its own allocator for it, and memory from
// one must go back to the same one.

#include <cstddef>

namespace quilbex::platform {

// Alignment is a power of two; size a multiple of it. Null when out of memory.
void* allocateAligned(size_t size, size_t alignment);

// Takes back memory from allocateAligned; null is allowed.
void freeAligned(void* memory);

}  // namespace quilbex::platform
