#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/thread_priority.hpp"

namespace quilbex::platform {

// On Linux a nice value set for a thread id applies to that thread alone.
// Failure changes nothing but the scheduling, so it is not reported.
void lowerCurrentThreadPriority() {
    constexpr int backgroundNice = 5;
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, ::getpriority(PRIO_PROCESS, thread) + backgroundNice);
}

}  // namespace quilbex::platform
