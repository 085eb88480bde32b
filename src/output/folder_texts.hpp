#pragma once
// The texts of the folder export (-d), each in one place.

#include <cstdint>
#include <string>

#include "platform/system_error.hpp"

namespace quilbex::output {

// "Not enough room in night-1: 12.3 GB needed, 8.1 GB free"
std::string notEnoughRoomText(const std::string& folder, uint64_t needed, uint64_t free);
// The largest file passes what a FAT file system holds.
std::string tooLargeForFatText(const std::string& folder, const std::string& name, uint64_t bytes);
std::string cannotMakeFolderText(const std::string& folder, platform::SystemError error);
// The file cut short, left under its .part name.
std::string keptPartText(const std::string& partPath);

}  // namespace quilbex::output
