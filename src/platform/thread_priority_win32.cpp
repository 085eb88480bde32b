#include <windows.h>

#include "platform/thread_priority.hpp"

namespace quilbex::platform {

// Failure changes nothing but the scheduling, so it is not reported.
void lowerCurrentThreadPriority() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

}  // namespace quilbex::platform
