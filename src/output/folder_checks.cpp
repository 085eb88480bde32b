#include "output/folder_checks.hpp"

#include <algorithm>
#include <cctype>

#include "output/checksum_list.hpp"
#include "output/folder_destination.hpp"
#include "output/folder_texts.hpp"
#include "platform/file_system.hpp"
#include "platform/folder.hpp"
#include "platform/ownership.hpp"

namespace quilbex::output {
namespace {

constexpr uint64_t largestFatFile = 0xFFFFFFFFu;

struct Survey {
    // The most the files (and their checksum list) ever take beyond the free
    // room: a file replaced is freed only when its successor, written in full
    // beside it, takes its name. So before file k is renamed, files 0 to k
    // are new and k to the last old: the largest of (new bytes of 0..k) -
    // (old bytes of 0..k-1).
    uint64_t peakBytes = 0;
    uint64_t replacedBytes = 0;  // of the old files the export replaces
    uint64_t largestBytes = 0;
    std::string largestName;
    bool anyExists = false;
};

Survey survey(const std::string& folder, const FilePlan& plan) {
    Survey result;
    const bool folderExists = platform::isDirectory(folder);
    // The old checksum list is replaced as the files are.
    result.anyExists = folderExists && platform::pathExists(pathInFolder(folder, std::string(checksumListName)));
    uint64_t newBytes = 0;
    plan.forEach([&](const PlannedFile& file) {
        newBytes += file.heading.plannedSize + checksumLineLength(file.heading.name);
        result.peakBytes = std::max(result.peakBytes, newBytes - std::min(newBytes, result.replacedBytes));
        if (file.heading.plannedSize > result.largestBytes) {
            result.largestBytes = file.heading.plannedSize;
            result.largestName = file.heading.name;
        }
        if (folderExists) {
            const std::string path = pathInFolder(folder, file.heading.name);
            const uint64_t old = platform::regularFileBytes(path);
            result.replacedBytes += old;
            if (!result.anyExists) result.anyExists = old != 0 || platform::pathExists(path);
        }
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
    // The files replaced count as room, and as needed while they are held.
    const auto free = platform::freeSpace(where);
    if (free && *free < files.peakBytes) {
        console.errLine(notEnoughRoomText(folder, files.peakBytes + files.replacedBytes, *free + files.replacedBytes));
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
    if (error.any()) {
        console.errLine(cannotMakeFolderText(folder, error));
        return false;
    }
    platform::handOver(folder);
    return true;
}

}  // namespace

std::string directoryOf(const std::string& path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

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

bool folderReady(platform::Console& console, const std::vector<std::string>& folders, const FilePlan& plan,
                 const std::function<bool()>& confirmOverwrite, bool alsoReplaced) {
    bool anyExists = alsoReplaced;
    for (const auto& folder : folders) {
        const Survey files = survey(folder, plan);
        if (!fits(console, folder, files)) return false;
        anyExists = anyExists || files.anyExists;
    }
    if (anyExists && !confirmOverwrite()) return false;
    for (const auto& folder : folders)
        if (!folderMade(console, folder)) return false;
    return true;
}

}  // namespace quilbex::output
