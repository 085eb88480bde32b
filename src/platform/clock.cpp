#include "platform/clock.hpp"

#include <chrono>
#include <ctime>

namespace quilbex::platform {
namespace {
const auto processStart = std::chrono::steady_clock::now();
}

CalendarTime localTimeNow() {
    const std::time_t now = std::time(nullptr);
    // Only the main thread asks, once a run, so localtime's shared result is safe.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return {};
    return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec};
}

int32_t processMilliseconds() {
    const auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace quilbex::platform
