#include <windows.h>

#include "platform/folder.hpp"

namespace quilbex::platform {

SystemError makeDirectory(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr)) return SystemError::last();
    return {};
}

// The attributes of a link are its own.
bool pathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint64_t regularFileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) return 0;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

SystemError removeFile(const std::string& path) {
    if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return SystemError::last();
    return {};
}

SystemError renameReplacing(const std::string& from, const std::string& to) {
    // Write-through: the move returns once the new name is on the disk.
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return SystemError::last();
    return {};
}

// A folder's entries are written through by the moves that change them;
// Windows has no flush of a folder for an unprivileged process.
SystemError flushFolder(const std::string&) { return {}; }

std::optional<uint64_t> freeSpace(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return static_cast<uint64_t>(available.QuadPart);
}

std::optional<uint64_t> allocationUnit(const std::string& folder) {
    char volume[MAX_PATH + 1] = {};
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD clusters = 0;
    if (!GetVolumePathNameA(folder.c_str(), volume, sizeof volume) ||
        !GetDiskFreeSpaceA(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) ||
        sectorsPerCluster == 0 || bytesPerSector == 0)
        return std::nullopt;
    return uint64_t{sectorsPerCluster} * bytesPerSector;
}

std::string fileSystemName(const std::string& folder) {
    char volume[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    if (!GetVolumePathNameA(folder.c_str(), volume, sizeof volume)) return {};
    if (!GetVolumeInformationA(volume, nullptr, 0, nullptr, nullptr, nullptr, name, sizeof name)) return {};
    return name;
}

}  // namespace quilbex::platform
