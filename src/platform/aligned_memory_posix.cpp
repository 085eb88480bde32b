#include <cstdlib>

#include "platform/aligned_memory.hpp"

namespace quilbex::platform {

void* allocateAligned(size_t size, size_t alignment) { return std::aligned_alloc(alignment, size); }

void freeAligned(void* memory) { std::free(memory); }

}  // namespace quilbex::platform
