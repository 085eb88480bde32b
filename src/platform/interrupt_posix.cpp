#include <signal.h>

#include "platform/interrupt.hpp"

namespace quilbex::platform {
namespace {

std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void recordSignal(int number) {
    int none = 0;
    receivedSignal.compare_exchange_strong(none, number);
}

}  // namespace

const std::atomic<int>& interruptSignal() { return receivedSignal; }

void watchInterrupts() {
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep card reads and archive writes whole.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interruptExitStatus(int signal) { return 128 + signal; }

}  // namespace quilbex::platform
