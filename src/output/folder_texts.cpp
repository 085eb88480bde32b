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

std::string cannotMakeFolderText(const std::string& folder, platform::SystemError error) {
    return "Error: Can't make the folder " + folder + because(error);
}

std::string keptPartText(const std::string& partPath) { return "Unfinished file kept as " + partPath; }

}  // namespace quilbex::output
