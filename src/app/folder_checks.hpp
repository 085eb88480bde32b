#pragma once
// The checks of a folder export (-d) made after the scan and before the
// first byte, so that a refused export writes nothing: the room on the disk,
// the size of every file on FAT, leave to replace files, then the folder
// itself. Each prints its own refusal on standard error.

#include <string>
#include <string_view>

#include "output/file_plan.hpp"
#include "platform/console.hpp"

namespace quilbex::app {

// The folder as typed without its trailing separators: "night-1/" is night-1,
// whose parent is the current directory.
std::string folderPath(const std::string& typed);

// Whether the system's name for a file system is one of FAT's, which holds no
// file over 4 GiB - 1 byte: "vfat", "msdos", "FAT32", a FUSE mount such as
// "fuse.fusefat"; exFAT has no such limit.
bool isFatFileSystem(std::string_view name);

// True when the plan's files may be written into the folder, which then
// exists; false after the refusal or a "no" to the question. When resuming
// an earlier run of the card, the plan holds the files still to write, and
// only one of them already there (changed since, say by analysis software)
// is cause to ask.
bool folderReady(platform::Console& console, const std::string& folder, const output::FilePlan& plan,
                 bool resuming);

}  // namespace quilbex::app
