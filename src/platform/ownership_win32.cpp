#include "platform/ownership.hpp"

namespace quilbex::platform {

// An administrator's files on Windows stay readable and writable by the
// user who started the elevated prompt: nothing to hand over.
void handOver(const std::string&) {}

void handOverHandle(intptr_t) {}

}  // namespace quilbex::platform
