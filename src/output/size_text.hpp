#pragma once
// Sizes as the user reads them, in decimal units as cards and disks are sold:
// 1 MB = 10^6 bytes, 1 GB = 10^9.

#include <cstdint>
#include <string>

namespace quilbex::output {

struct SizeUnit {
    double bytes;
    const char* name;
};

// Gigabytes from where megabytes would round to "1000.0", else megabytes.
SizeUnit sizeUnitFor(uint64_t bytes);

// "7.5 GB" from a gigabyte on, else "25.2 MB".
std::string formatBytes(uint64_t bytes);

}  // namespace quilbex::output
