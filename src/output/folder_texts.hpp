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
// The files' names take more directory entries than a FAT folder holds.
std::string tooManyForFatText(const std::string& folder, uint64_t files, uint64_t entries, uint64_t most);
// Follows the room's refusal when the files' bytes would fit but not their
// whole clusters.
std::string wholeClustersHint(uint64_t cluster);
std::string cannotMakeFolderText(const std::string& folder, platform::SystemError error);
// "Resuming: 9 of 10 files already in night-1; writing the other 1"
std::string resumingText(uint64_t done, uint64_t files, const std::string& folder, uint64_t rest);
// The file cut short, left under its .part name.
std::string keptPartText(const std::string& partPath);

}  // namespace quilbex::output
