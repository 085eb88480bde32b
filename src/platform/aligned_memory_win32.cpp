#include <malloc.h>

#include "platform/aligned_memory.hpp"

namespace quilbex::platform {

// The C runtime here has no aligned_alloc; its own pair must be used together.
void* allocateAligned(size_t size, size_t alignment) { return _aligned_malloc(size, alignment); }

void freeAligned(void* memory) { _aligned_free(memory); }

}  // namespace quilbex::platform
