#include "output/folder_checks.hpp"

#include <algorithm>
#include <cctype>

#include "output/checksum_list.hpp"
#include "output/folder_destination.hpp"
#include "output/folder_resume.hpp"
#include "output/folder_texts.hpp"
#include "platform/file_system.hpp"
#include "platform/folder.hpp"
#include "platform/ownership.hpp"

namespace quilbex::output {
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
    // The most the files and their checksum list ever take beyond the free
    // room: a file replaced is freed only when its successor, written in full
    // beside it, takes its name. So before file k is renamed, files 0 to k
    // are new and k to the last old: the largest of (new bytes of 0..k) -
    // (old bytes of 0..k-1). On FAT each file takes whole clusters.
    uint64_t peakBytes = 0;
    uint64_t peakPlainBytes = 0;  // the same without the clusters' slack
    uint64_t replacedBytes = 0;   // of the old files the export replaces
    uint64_t largestBytes = 0;
    std::string largestName;
    uint64_t files = 0;
    // On FAT: ".", "..", each file's, the .part name of the one being
    // written, the checksum list's and the card's fingerprint's.
    uint64_t entries = 2;
    bool anyExists = false;
};

Survey survey(const std::string& folder, const FilePlan& plan, const FatRules& rules, bool resuming) {
    Survey result;
    const bool folderExists = platform::isDirectory(folder);
    // The old checksum list is replaced as the files are; a resumed run's
    // list is its own, and goes on.
    const std::string listName(checksumListName);
    result.anyExists = !resuming && folderExists && platform::pathExists(pathInFolder(folder, listName));
    const auto clusters = [&](uint64_t bytes) { return (bytes + rules.cluster - 1) / rules.cluster * rules.cluster; };
    uint64_t newBytes = 0;
    uint64_t newPlainBytes = 0;
    uint64_t listBytes = 0;
    uint64_t largestPartEntries = 0;
    const auto held = [&](uint64_t bytes) { return bytes - std::min(bytes, result.replacedBytes); };
    plan.forEach([&](const PlannedFile& file) {
        const uint64_t size = file.heading.plannedSize;
        newBytes += clusters(size);
        newPlainBytes += size;
        listBytes += checksumLineLength(file.heading.name);
        result.peakBytes = std::max(result.peakBytes, held(newBytes + clusters(listBytes)));
        result.peakPlainBytes = std::max(result.peakPlainBytes, held(newPlainBytes + listBytes));
        ++result.files;
        result.entries += fatEntries(file.heading.name);
        largestPartEntries = std::max(largestPartEntries, fatEntries(file.heading.name + ".part"));
        if (size > result.largestBytes) {
            result.largestBytes = size;
            result.largestName = file.heading.name;
        }
        if (folderExists) {
            const std::string path = pathInFolder(folder, file.heading.name);
            const uint64_t old = platform::regularFileBytes(path);
            result.replacedBytes += clusters(old);
            if (!result.anyExists) result.anyExists = old != 0 || platform::pathExists(path);
        }
        return true;
    });
    result.entries += largestPartEntries + fatEntries(listName) + fatEntries(std::string(fingerprintName));
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
    // The files replaced count as room, and as needed while they are held.
    const auto free = platform::freeSpace(where);
    if (free && *free < files.peakBytes) {
        // The bytes alone would fit: the clusters' slack is what is missing.
        const bool slack = *free >= files.peakPlainBytes;
        console.errLine(notEnoughRoomText(folder, files.peakBytes + files.replacedBytes, *free + files.replacedBytes) +
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
                 const std::function<bool()>& confirmOverwrite, bool resuming, bool alsoReplaced) {
    bool anyExists = alsoReplaced;
    for (const auto& folder : folders) {
        const std::string where = existingFolderOf(folder);
        const FatRules rules = fatRulesOf(where);
        const Survey files = survey(folder, plan, rules, resuming);
        if (!fits(console, folder, where, rules, files)) return false;
        anyExists = anyExists || files.anyExists;
    }
    if (anyExists && !confirmOverwrite()) return false;
    for (const auto& folder : folders)
        if (!folderMade(console, folder)) return false;
    return true;
}

}  // namespace quilbex::output
