#include "app/folder_checks.hpp"

#include <algorithm>
#include <cctype>

#include "app/driver.hpp"
#include "app/folder_texts.hpp"
#include "output/checksum_list.hpp"
#include "output/folder_destination.hpp"
#include "output/folder_resume.hpp"
#include "platform/file_system.hpp"
#include "platform/folder.hpp"

namespace quilbex::app {
namespace {

constexpr uint64_t largestFatFile = 0xFFFFFFFFu;
// A FAT folder holds at most this many 32-byte directory entries, its own
// "." and ".." among them.
constexpr uint64_t fatFolderEntries = 65536;

// What a file system that is FAT asks more of every file.
struct FatRules {
    uint64_t cluster = 1;  // every file takes whole clusters; 1 elsewhere
    bool fat = false;
};

// The directory entries a file of this name takes on FAT: the short name's,
// and one for every 13 characters of the long name (ours never fit a short
// name alone).
uint64_t fatEntries(const std::string& name) { return 1 + (name.size() + 12) / 13; }

struct Survey {
    uint64_t bytes = 0;  // of every file and the checksum list; a file replaced is
                         // freed only at its rename
    uint64_t wholeClusterBytes = 0;  // the same, each file rounded up to whole clusters
    uint64_t largestBytes = 0;
    std::string largestName;
    uint64_t files = 0;
    // On FAT: ".", "..", each file's, the .part name of the one being
    // written, the checksum list's and the card's fingerprint's.
    uint64_t entries = 2;
    bool anyExists = false;
};

Survey survey(const std::string& folder, const output::FilePlan& plan, const FatRules& rules, bool resuming) {
    Survey result;
    const bool folderExists = platform::isDirectory(folder);
    // The old checksum list is replaced as the files are; a resumed run's
    // list is its own, and goes on.
    const std::string listName(output::checksumListName);
    result.anyExists = !resuming && folderExists && platform::pathExists(output::pathInFolder(folder, listName));
    const auto add = [&](uint64_t bytes) {
        result.bytes += bytes;
        result.wholeClusterBytes += (bytes + rules.cluster - 1) / rules.cluster * rules.cluster;
    };
    uint64_t listBytes = 0;
    uint64_t largestPartEntries = 0;
    plan.forEach([&](const output::PlannedFile& file) {
        const uint64_t size = file.heading.plannedSize;
        add(size);
        listBytes += output::checksumLineLength(file.heading.name);
        ++result.files;
        result.entries += fatEntries(file.heading.name);
        largestPartEntries = std::max(largestPartEntries, fatEntries(file.heading.name + ".part"));
        if (size > result.largestBytes) {
            result.largestBytes = size;
            result.largestName = file.heading.name;
        }
        if (folderExists && !result.anyExists)
            result.anyExists = platform::pathExists(output::pathInFolder(folder, file.heading.name));
        return true;
    });
    add(listBytes);
    result.entries += largestPartEntries + fatEntries(listName) + fatEntries(std::string(output::fingerprintName));
    return result;
}

// The folder when it exists, else its parent, where it will be made.
std::string existingFolderOf(const std::string& folder) {
    if (platform::isDirectory(folder)) return folder;
    const std::string parent = directoryOf(folder);
    if (!parent.empty()) return parent;
    return folder.starts_with('/') || folder.starts_with('\\') ? folder.substr(0, 1) : ".";
}

FatRules fatRulesOf(const std::string& where) {
    if (!isFatFileSystem(platform::fileSystemName(where))) return {};
    return {std::max<uint64_t>(platform::allocationUnit(where).value_or(1), 1), true};
}

bool fits(platform::Console& console, const std::string& folder, const std::string& where, const FatRules& rules,
          const Survey& files) {
    // First the limits that more room would not lift.
    if (rules.fat && files.largestBytes > largestFatFile) {
        console.errLine(tooLargeForFatText(folder, files.largestName, files.largestBytes));
        return false;
    }
    if (rules.fat && files.entries > fatFolderEntries) {
        console.errLine(tooManyForFatText(folder, files.files, files.entries, fatFolderEntries));
        return false;
    }
    const auto free = platform::freeSpace(where);
    if (free && *free < files.wholeClusterBytes) {
        // The bytes alone would fit: the clusters' slack is what is missing.
        const bool slack = *free >= files.bytes;
        console.errLine(notEnoughRoomText(folder, files.wholeClusterBytes, *free) +
                        (slack ? wholeClustersHint(rules.cluster) : ""));
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

bool folderReady(platform::Console& console, const std::string& folder, const output::FilePlan& plan,
                 bool resuming) {
    const std::string where = existingFolderOf(folder);
    const FatRules rules = fatRulesOf(where);
    const Survey files = survey(folder, plan, rules, resuming);
    if (!fits(console, folder, where, rules, files)) return false;
    if (files.anyExists && !confirmOverwrite(console)) return false;
    return folderMade(console, folder);
}

}  // namespace quilbex::app
