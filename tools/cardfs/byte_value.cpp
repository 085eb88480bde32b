#include "byte_value.hpp"

#include <charconv>
#include <limits>

namespace cardfs {
namespace {

std::optional<std::uint64_t> parse_unsigned(std::string_view digits) {
    std::uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::uint64_t unit_of_suffix(char suffix) {
    switch (suffix) {
        case 'K': case 'k': return std::uint64_t{1} << 10;
        case 'M': case 'm': return std::uint64_t{1} << 20;
        case 'G': case 'g': return std::uint64_t{1} << 30;
        default: return 0;
    }
}

std::optional<std::uint64_t> scaled(std::string_view digits, std::uint64_t unit) {
    auto count = parse_unsigned(digits);
    if (!count || *count > std::numeric_limits<std::uint64_t>::max() / unit) {
        return std::nullopt;
    }
    return *count * unit;
}

}  // namespace

std::optional<std::uint64_t> parse_byte_value(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    if (text.front() == 'b') {
        return scaled(text.substr(1), kBlockBytes);
    }
    if (std::uint64_t unit = unit_of_suffix(text.back())) {
        return scaled(text.substr(0, text.size() - 1), unit);
    }
    return parse_unsigned(text);
}

}  // namespace cardfs
