#pragma once

namespace quilbex::platform {

// Lets the calling thread yield the processor to the process's other threads
// when both want it: background work such as compression must not hold up
// the thread that keeps the card busy.
void lowerCurrentThreadPriority();

}  // namespace quilbex::platform
