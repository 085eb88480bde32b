#pragma once
// The folder the export writes into, and the paths in it. The folder may be
// one that others can write, so no call follows a link at the path it is
// given: a link is removed, replaced or counted as itself.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_error.hpp"

namespace quilbex::platform {

// Makes the folder; its parent must exist. No error on success.
SystemError makeDirectory(const std::string& path);

// Whether anything is at the path: a file, a folder, a link (even to nowhere).
bool pathExists(const std::string& path);

// Removes the file or link at the path; no error when nothing is there.
SystemError removeFile(const std::string& path);

// Moves `from` to `to` in one step, replacing whatever file or link is at
// `to` (the link itself, never what it points to). No error on success.
SystemError renameReplacing(const std::string& from, const std::string& to);

// The bytes a new file may take on the folder's file system; none when the
// system cannot tell.
std::optional<uint64_t> freeSpace(const std::string& folder);

// The unit in which the folder's file system gives files room (a FAT
// cluster): every file takes a whole number of them; none when unknown.
std::optional<uint64_t> allocationUnit(const std::string& folder);

// The system's name for the folder's file system, e.g. "ext4", "vfat",
// "fuse.fusefat" (Linux) or "NTFS", "FAT32" (Windows); empty when unknown.
std::string fileSystemName(const std::string& folder);

}  // namespace quilbex::platform
