#include "platform/write_behind.hpp"

namespace quilbex::platform {

// The system's cache writes a file's changed pages out by itself as it goes,
// and a flush on the handle from another thread would hold up the writes on
// it until the flush ends: nothing is done here, and the flush at the end
// waits for what is left.

WriteBehind::~WriteBehind() = default;

void WriteBehind::wrote(intptr_t, uint64_t) {}

SystemError WriteBehind::settle() { return {}; }

}  // namespace quilbex::platform
