#include "report/progress_text.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "output/size_text.hpp"
#include "platform/console.hpp"

namespace quilbex::report {
namespace {

constexpr double megabyte = 1e6;
constexpr int unknownWidth = 80;
constexpr std::string_view separator = "  ";

}  // namespace

std::string formatRate(double bytesPerSecond) {
    const double rate = bytesPerSecond / megabyte;
    return platform::formatText(rate < 9.95 ? "%.1f MB/s" : "%.0f MB/s", rate);
}

std::string formatDuration(int64_t seconds) {
    const auto hours = static_cast<long long>(seconds / 3600);
    const auto minutes = static_cast<int>(seconds / 60 % 60);
    const auto rest = static_cast<int>(seconds % 60);
    if (hours > 0) return platform::formatText("%lld:%02d:%02d", hours, minutes, rest);
    return platform::formatText("%d:%02d", minutes, rest);
}

std::vector<std::string> progressFields(uint64_t done, uint64_t total, std::optional<double> bytesPerSecond) {
    const uint64_t percent = total == 0 ? 100 : std::min<uint64_t>(done * 100 / total, 100);
    const output::SizeUnit unit = output::sizeUnitFor(total);
    std::vector<std::string> fields = {
        std::to_string(percent) + "%",
        platform::formatText("%.1f/%.1f %s", static_cast<double>(done) / unit.bytes,
                             static_cast<double>(total) / unit.bytes, unit.name)};
    if (!bytesPerSecond) return fields;
    fields.push_back(formatRate(*bytesPerSecond));
    if (*bytesPerSecond > 0 && done < total) {
        const double left = static_cast<double>(total - std::min(done, total)) / *bytesPerSecond;
        fields.push_back(formatDuration(static_cast<int64_t>(std::ceil(left))) + " left");
    }
    return fields;
}

size_t lineRoom(int columns) { return static_cast<size_t>(std::max(columns > 0 ? columns : unknownWidth, 1) - 1); }

std::string fitToWidth(const std::string& head, const std::vector<std::string>& fields, int columns) {
    const size_t room = lineRoom(columns);
    std::string line = head.substr(0, room);
    for (const auto& field : fields) {
        if (line.size() + separator.size() + field.size() > room) break;
        line += separator;
        line += field;
    }
    return line;
}

std::string summaryText(int32_t files, std::optional<int32_t> recordings, uint64_t bytes, int64_t milliseconds) {
    const double seconds = static_cast<double>(std::max<int64_t>(milliseconds, 1)) / 1000;
    const auto count = [](int32_t n, const char* noun) {
        return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
    };
    const std::string counted =
        recordings ? count(files, "file") + " from " + count(*recordings, "recording") : count(files, "recording");
    return counted + ", " + output::formatBytes(bytes) +
           " in " + formatDuration(milliseconds / 1000) + " (" +
           formatRate(static_cast<double>(bytes) / seconds) + ")";
}

}  // namespace quilbex::report
