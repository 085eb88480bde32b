#include "report/elapsed_time.hpp"

#include <cmath>

#include "platform/console.hpp"

namespace quilbex::report {

ElapsedTime elapsedTimeBetween(int32_t startMilliseconds, int32_t nowMilliseconds) {
    const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(nowMilliseconds) -
                                              static_cast<uint32_t>(startMilliseconds));
    const double s = static_cast<double>(elapsed / 1000);
    return {static_cast<int32_t>(std::fmod(s, 60.0)), static_cast<int32_t>(std::fmod(s / 60.0, 60.0)),
            static_cast<int32_t>(std::fmod((s / 60.0) / 60.0, 24.0)), static_cast<int32_t>(s / 86400.0)};
}

std::string formatElapsedTime(const ElapsedTime& elapsed) {
    std::string text;
    if (elapsed.days != 0) text += platform::formatText("%02dd:", elapsed.days);
    if (elapsed.hours != 0) text += platform::formatText("%02dh:", elapsed.hours);
    text += platform::formatText("%02dm:%02ds", elapsed.minutes, elapsed.seconds);
    return text;
}

}  // namespace quilbex::report
