#include "report/listing_time.hpp"

#include "platform/console.hpp"
#include "wav/wav_header.hpp"

namespace quilbex::report {

std::string formatStart(const platform::CalendarTime& time) {
    return platform::formatText("%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                                time.minute, time.second);
}

uint64_t centisecondsOf(uint64_t payloadBytes) {
    constexpr uint64_t rate = wav::sampleRate;
    const uint64_t samples = payloadBytes / wav::bytesPerSample;
    return (samples * 100 + rate / 2) / rate;
}

std::string formatLength(uint64_t centiseconds) {
    const uint64_t seconds = centiseconds / 100;
    return platform::formatText("%llu:%02u:%02u.%02u", static_cast<unsigned long long>(seconds / 3600),
                                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                                static_cast<unsigned>(centiseconds % 100));
}

}  // namespace quilbex::report
