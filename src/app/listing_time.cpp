#include "app/listing_time.hpp"

#include "export/wav_header.hpp"
#include "platform/console.hpp"

namespace quilbex::app {

bool isValidStart(const platform::CalendarTime& time) {
    const platform::DosTimeConversion conversion = platform::toDosDateTime(time);
    return conversion.fileTimeError == 0 && conversion.dosTimeError == 0;
}

std::string formatStart(const platform::CalendarTime& time) {
    return platform::formatText("%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                                time.minute, time.second);
}

// Days from the civil date by shifting the year to start in March, so that
// the leap day falls at its end.
int64_t secondsSinceEpoch(const platform::CalendarTime& time) {
    const int64_t year = time.year - (time.month <= 2 ? 1 : 0);
    const int64_t era = year / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t monthFromMarch = (time.month + 9) % 12;
    const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + time.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

uint64_t centisecondsOf(uint64_t payloadBytes) {
    constexpr uint64_t rate = exporting::sampleRate;
    const uint64_t samples = payloadBytes / exporting::bytesPerSample;
    return (samples * 100 + rate / 2) / rate;
}

std::string formatLength(uint64_t centiseconds) {
    const uint64_t seconds = centiseconds / 100;
    return platform::formatText("%llu:%02u:%02u.%02u", static_cast<unsigned long long>(seconds / 3600),
                                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                                static_cast<unsigned>(centiseconds % 100));
}

}  // namespace quilbex::app
