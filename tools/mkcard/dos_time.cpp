#include "dos_time.hpp"

#include <charconv>
#include <string>

#include "error.hpp"

namespace mkcard {

namespace {

constexpr int kFirstDosYear = 1980;
constexpr int kLastDosYear = kFirstDosYear + 127;

bool is_leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

bool is_valid(const CivilTime& t) {
    return t.year >= kFirstDosYear && t.year <= kLastDosYear && t.month >= 1 &&
           t.month <= 12 && t.day >= 1 && t.day <= days_in_month(t.year, t.month) &&
           t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
           t.second >= 0 && t.second < 60;
}

bool parse_digits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
    if (pos + count > text.size()) return false;
    for (std::size_t i = pos; i < pos + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    auto [end, ec] = std::from_chars(text.data() + pos, text.data() + pos + count, out);
    return ec == std::errc{};
}

bool has_hex_prefix(std::string_view text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

TimeSpec parse_raw(std::string_view text) {
    std::string_view digits = text.substr(2);
    TimeSpec parsed;
    parsed.raw = true;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(),
                                     parsed.raw_value, 16);
    if (digits.empty() || digits.size() > 8 || ec != std::errc{} ||
        end != digits.data() + digits.size())
        throw Error("bad raw time '" + std::string(text) + "' (want 0x + 1-8 hex digits)");
    return parsed;
}

TimeSpec parse_civil(std::string_view text) {
    TimeSpec parsed;
    CivilTime& t = parsed.civil;
    const bool shaped = text.size() == 19 && text[4] == '-' && text[7] == '-' &&
                        text[10] == 'T' && text[13] == ':' && text[16] == ':';
    const bool ok = shaped && parse_digits(text, 0, 4, t.year) &&
                    parse_digits(text, 5, 2, t.month) && parse_digits(text, 8, 2, t.day) &&
                    parse_digits(text, 11, 2, t.hour) &&
                    parse_digits(text, 14, 2, t.minute) &&
                    parse_digits(text, 17, 2, t.second);
    if (!ok)
        throw Error("bad time '" + std::string(text) +
                    "' (want YYYY-MM-DDTHH:MM:SS or 0xXXXXXXXX)");
    if (!is_valid(t))
        throw Error("time '" + std::string(text) +
                    "' is not a valid date between 1980 and 2107; use a raw 0x value");
    return parsed;
}

}  // namespace

CivilTime default_base_time() { return CivilTime{2017, 3, 5, 14, 7, 32}; }

bool looks_like_time_spec(std::string_view text) {
    if (has_hex_prefix(text)) return true;
    int year = 0;
    return text.size() > 4 && parse_digits(text, 0, 4, year) && text[4] == '-';
}

TimeSpec parse_time_spec(std::string_view text) {
    return has_hex_prefix(text) ? parse_raw(text) : parse_civil(text);
}

CivilTime add_minutes(CivilTime t, std::uint64_t minutes) {
    const std::uint64_t total = static_cast<std::uint64_t>(t.hour) * 60 +
                                static_cast<std::uint64_t>(t.minute) + minutes;
    t.minute = static_cast<int>(total % 60);
    t.hour = static_cast<int>(total / 60 % 24);
    std::uint64_t days = total / (60 * 24);
    // Walk month by month; stop early once past the last encodable year.
    while (days > 0 && t.year <= kLastDosYear) {
        const auto left_in_month =
            static_cast<std::uint64_t>(days_in_month(t.year, t.month) - t.day);
        if (days <= left_in_month) {
            t.day += static_cast<int>(days);
            break;
        }
        days -= left_in_month + 1;
        t.day = 1;
        if (++t.month > 12) {
            t.month = 1;
            ++t.year;
        }
    }
    return t;
}

std::uint32_t encode_dos_time(const CivilTime& t) {
    if (!is_valid(t)) throw Error("time runs past what the card can store (year 2107)");
    return static_cast<std::uint32_t>(t.year - kFirstDosYear) << 25 |
           static_cast<std::uint32_t>(t.month) << 21 |
           static_cast<std::uint32_t>(t.day) << 16 |
           static_cast<std::uint32_t>(t.hour) << 11 |
           static_cast<std::uint32_t>(t.minute) << 5 |
           static_cast<std::uint32_t>(t.second / 2);
}

std::uint32_t resolve_time(const TimeSpec& parsed, std::uint64_t offset_minutes) {
    if (parsed.raw) return parsed.raw_value;
    return encode_dos_time(add_minutes(parsed.civil, offset_minutes));
}

}  // namespace mkcard
