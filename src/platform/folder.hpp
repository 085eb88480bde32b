#pragma once
// The folder the export writes into, and the paths in it. The folder may be
// one that others can write, so no call follows a link at the path it is
// given: a link is removed, replaced or counted as itself.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_error.hpp"

namespace quilbex::platform {

// The folder that holds the path: the part before its last separator, "."
// when it has none.
std::string folderOf(const std::string& path);

// Makes the folder; its parent must exist. No error on success.
SystemError makeDirectory(const std::string& path);

// Whether anything is at the path: a file, a folder, a link (even to nowhere).
bool pathExists(const std::string& path);

// The disk's bytes that the regular file at the path takes, which replacing
// it frees; 0 for anything else (a link is replaced as itself) or nothing.
uint64_t regularFileBytes(const std::string& path);

// Removes the file or link at the path; no error when nothing is there.
SystemError removeFile(const std::string& path);

// Moves `from` to `to` in one step, replacing whatever file or link is at
// `to` (the link itself, never what it points to). No error on success. The
// new name reaches the disk with flushFolder(), or at once where the system
// has no flush of a folder (Windows).
SystemError renameReplacing(const std::string& from, const std::string& to);

// Puts the folder's own entries on the disk: the names of files made,
// renamed or removed in it, which a flush of the files does not. No error
// on success, or where the system keeps no such entries to flush.
SystemError flushFolder(const std::string& folder);

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
