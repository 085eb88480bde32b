#include "platform/clock.hpp"

#include <chrono>

namespace quilbex::platform {
namespace {
const auto processStart = std::chrono::steady_clock::now();
}

int32_t processMilliseconds() {
    const auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace quilbex::platform
