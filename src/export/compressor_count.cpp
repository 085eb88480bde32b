#include "export/compressor_count.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <thread>

#include "export/pipeline.hpp"

namespace quilbex::exporting {

int compressorCount(const char* setting) {
    if (setting != nullptr) {
        const char* end = setting + std::strlen(setting);
        long value = 0;
        const auto [stop, error] = std::from_chars(setting, end, value);
        if (error == std::errc() && stop == end && stop != setting)
            return static_cast<int>(std::clamp<long>(value, 1, maxCompressors));
    }
    // 0 when the count cannot be had.
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(processors), 1, maxCompressors);
}

}  // namespace quilbex::exporting
