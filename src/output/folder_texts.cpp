#include "output/folder_texts.hpp"

#include "output/size_text.hpp"

namespace quilbex::output {
namespace {

// ": No space left on device", or nothing when the system has no words for it.
std::string because(platform::SystemError error) {
    const std::string line = platform::systemErrorLine(error);
    return line.empty() ? line : ": " + line;
}

}  // namespace

std::string notEnoughRoomText(const std::string& folder, uint64_t needed, uint64_t free) {
    return "Not enough room in " + folder + ": " + formatBytes(needed) + " needed, " +
           formatBytes(free) + " free";
}

std::string tooLargeForFatText(const std::string& folder, const std::string& name, uint64_t bytes) {
    return "Too large for the FAT file system of " + folder + ": " + name + " would be " +
           std::to_string(bytes) + " bytes, FAT holds at most 4294967295 a file; cut the recordings with -s N";
}

std::string tooManyForFatText(const std::string& folder, uint64_t files, uint64_t entries, uint64_t most) {
    return "Too many files for the FAT file system of " + folder + ": " + std::to_string(files) + " files take " +
           std::to_string(entries) + " directory entries, a FAT folder holds at most " + std::to_string(most) +
           "; cut the recordings with a larger -s N";
}

std::string wholeClustersHint(uint64_t cluster) {
    return "; on FAT every file takes whole clusters of " + std::to_string(cluster) +
           " bytes: cut the recordings with a larger -s N";
}

std::string cannotMakeFolderText(const std::string& folder, platform::SystemError error) {
    return "Error: Can't make the folder " + folder + because(error);
}

std::string resumingText(uint64_t done, uint64_t files, const std::string& folder, uint64_t rest) {
    return "Resuming: " + std::to_string(done) + " of " + std::to_string(files) + " files already in " + folder +
           "; writing the other " + std::to_string(rest);
}

std::string keptPartText(const std::string& partPath) { return "Unfinished file kept as " + partPath; }

}  // namespace quilbex::output
