#include "output/size_text.hpp"

#include "platform/console.hpp"

namespace quilbex::output {
namespace {

constexpr double megabyte = 1e6;
constexpr double gigabyte = 1e9;

}  // namespace

SizeUnit sizeUnitFor(uint64_t bytes) {
    if (static_cast<double>(bytes) >= gigabyte - megabyte / 20) return {gigabyte, "GB"};
    return {megabyte, "MB"};
}

std::string formatBytes(uint64_t bytes) {
    const SizeUnit unit = sizeUnitFor(bytes);
    return platform::formatText("%.1f %s", static_cast<double>(bytes) / unit.bytes, unit.name);
}

}  // namespace quilbex::output
