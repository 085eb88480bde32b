#pragma once

#include <cstdint>
#include <string_view>

namespace mkcard {

struct CivilTime {
    int year = 1980;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Either a calendar time, or a bit pattern stored verbatim so tests can
// provoke times no calendar allows (month 13, second 60, 31 April...).
struct TimeSpec {
    bool raw = false;
    std::uint32_t raw_value = 0;
    CivilTime civil;
};

CivilTime default_base_time();

// Accepts "YYYY-MM-DDTHH:MM:SS" or "0x" followed by 1-8 hex digits.
TimeSpec parse_time_spec(std::string_view text);

// True if the text is shaped like a time rather than part of a path.
bool looks_like_time_spec(std::string_view text);

CivilTime add_minutes(CivilTime t, std::uint64_t minutes);

// Odd seconds are rounded down: the format only has 2-second resolution.
std::uint32_t encode_dos_time(const CivilTime& t);

// A raw pattern is the same for every recording it applies to; a calendar
// time moves on by offset_minutes.
std::uint32_t resolve_time(const TimeSpec& parsed, std::uint64_t offset_minutes);

}  // namespace mkcard
