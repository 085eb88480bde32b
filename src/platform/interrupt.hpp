#pragma once
// Ctrl-C and termination requests. Once watched, such a signal no longer ends
// the process: its number is recorded, and the work in progress stops at its
// next safe point and finishes what it wrote. Later signals are recorded the
// same way, so a second Ctrl-C cannot cut the archive's finishing short.

#include <atomic>

namespace quilbex::platform {

// Set to the signal number of the first interruption; 0 until then.
const std::atomic<int>& interruptSignal();

void watchInterrupts();

// The exit status of a process ended by the signal: 128 + its number.
int interruptExitStatus(int signal);

}  // namespace quilbex::platform
