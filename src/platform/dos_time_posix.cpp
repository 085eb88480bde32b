#include <cerrno>

#include "platform/dos_time.hpp"

namespace quilbex::platform {
namespace {

// The range and rules of the system file time: Gregorian dates from 1601.
bool isValidFileTime(const CalendarTime& t) { return t.year >= 1601 && t.year <= 30827 && isValidTime(t); }

}  // namespace

DosTimeConversion toDosDateTime(const CalendarTime& t) {
    DosTimeConversion result;
    if (!isValidFileTime(t)) {
        result.fileTimeError = EINVAL;
        return result;
    }
    if (t.year < 1980 || t.year > 2107) {
        result.dosTimeError = EINVAL;
        return result;
    }
    const auto date = static_cast<uint32_t>((t.year - 1980) * 512 + t.month * 32 + t.day);
    const auto time = static_cast<uint32_t>(t.hour * 2048 + t.minute * 32 + t.second / 2);
    result.dosDateTime = date << 16 | time;
    return result;
}

}  // namespace quilbex::platform
