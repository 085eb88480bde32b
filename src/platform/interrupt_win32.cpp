#include <windows.h>

#include <csignal>

#include "platform/interrupt.hpp"

namespace quilbex::platform {
namespace {

std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The console events carry the numbers of the signals they stand for, so the
// exit statuses match those of the other platforms.
int signalFor(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        return SIGTERM;
    default:
        return 0;
    }
}

// Runs on a thread of its own that the system starts for the event.
// Returning TRUE keeps the process alive so it can finish the archive; events
// that stand for no signal go on to the system's default handling.
BOOL WINAPI recordEvent(DWORD event) {
    const int number = signalFor(event);
    if (number == 0) return FALSE;
    int none = 0;
    receivedSignal.compare_exchange_strong(none, number);
    return TRUE;
}

}  // namespace

const std::atomic<int>& interruptSignal() { return receivedSignal; }

void watchInterrupts() { SetConsoleCtrlHandler(recordEvent, TRUE); }

int interruptExitStatus(int signal) { return 128 + signal; }

}  // namespace quilbex::platform
