#include "app/folder_checks.hpp"

#include <algorithm>
#include <cctype>

#include "app/driver.hpp"
#include "app/folder_texts.hpp"
#include "output/checksum_list.hpp"
#include "output/folder_destination.hpp"
#include "platform/file_system.hpp"
#include "platform/folder.hpp"

namespace quilbex::app {
namespace {

constexpr uint64_t largestFatFile = 0xFFFFFFFFu;

struct Survey {
    uint64_t bytes = 0;  // of every file and the checksum list; a file replaced is
                         // freed only at its rename
    uint64_t largestBytes = 0;
    std::string largestName;
    bool anyExists = false;
};

Survey survey(const std::string& folder, const output::FilePlan& plan) {
    Survey result;
    const bool folderExists = platform::isDirectory(folder);
    // The old checksum list is replaced as the files are.
    result.anyExists =
        folderExists && platform::pathExists(output::pathInFolder(folder, std::string(output::checksumListName)));
    plan.forEach([&](const output::PlannedFile& file) {
        result.bytes += file.heading.plannedSize + output::checksumLineLength(file.heading.name);
        if (file.heading.plannedSize > result.largestBytes) {
            result.largestBytes = file.heading.plannedSize;
            result.largestName = file.heading.name;
        }
        if (folderExists && !result.anyExists)
            result.anyExists = platform::pathExists(output::pathInFolder(folder, file.heading.name));
        return true;
    });
    return result;
}

// The folder when it exists, else its parent, where it will be made.
std::string existingFolderOf(const std::string& folder) {
    if (platform::isDirectory(folder)) return folder;
    const std::string parent = directoryOf(folder);
    if (!parent.empty()) return parent;
    return folder.starts_with('/') || folder.starts_with('\\') ? folder.substr(0, 1) : ".";
}

bool fits(platform::Console& console, const std::string& folder, const Survey& files) {
    const std::string where = existingFolderOf(folder);
    // First the limit that more room would not lift.
    if (files.largestBytes > largestFatFile && isFatFileSystem(platform::fileSystemName(where))) {
        console.errLine(tooLargeForFatText(folder, files.largestName, files.largestBytes));
        return false;
    }
    const auto free = platform::freeSpace(where);
    if (free && *free < files.bytes) {
        console.errLine(notEnoughRoomText(folder, files.bytes, *free));
        return false;
    }
    return true;
}

// A folder made is named on the disk at once: its parent is flushed.
bool folderMade(platform::Console& console, const std::string& folder) {
    if (platform::isDirectory(folder)) return true;
    const std::string parent = existingFolderOf(folder);
    auto error = platform::makeDirectory(folder);
    if (!error.any()) error = platform::flushFolder(parent);
    if (error.any()) console.errLine(cannotMakeFolderText(folder, error));
    return !error.any();
}

}  // namespace

std::string folderPath(const std::string& typed) {
    const size_t end = typed.find_last_not_of("/\\");
    return end == std::string::npos ? typed : typed.substr(0, end + 1);
}

bool isFatFileSystem(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("exfat") != std::string::npos) return false;
    if (lower.starts_with("fuse.")) return lower.find("fat") != std::string::npos;
    return lower == "vfat" || lower == "msdos" || lower == "fat" || lower == "fat12" || lower == "fat16" ||
           lower == "fat32";
}

bool folderReady(platform::Console& console, const std::vector<std::string>& folders, const output::FilePlan& plan) {
    bool anyExists = false;
    for (const auto& folder : folders) {
        const Survey files = survey(folder, plan);
        if (!fits(console, folder, files)) return false;
        anyExists = anyExists || files.anyExists;
    }
    if (anyExists && !confirmOverwrite(console)) return false;
    for (const auto& folder : folders)
        if (!folderMade(console, folder)) return false;
    return true;
}

}  // namespace quilbex::app
