#pragma once
// The checks of a folder export (-d) made after the scan and before the
// first byte, so that a refused export writes nothing: the room on the disk,
// the size of every file on FAT, leave to replace files, then the folder
// itself. Each prints its own refusal on standard error.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "output/file_plan.hpp"
#include "platform/console.hpp"

namespace quilbex::output {

// The part of the path before its last slash or backslash; empty when it has
// neither. A colon is no separator.
std::string directoryOf(const std::string& path);

// The folder as typed without its trailing separators: "night-1/" is night-1,
// whose parent is the current directory.
std::string folderPath(const std::string& typed);

// Whether the system's name for a file system is one of FAT's, which holds no
// file over 4 GiB - 1 byte: "vfat", "msdos", "FAT32", a FUSE mount such as
// "fuse.fusefat"; exFAT has no such limit.
bool isFatFileSystem(std::string_view name);

// True when the plan's files may be written into each of the folders (the
// main copy's, and with -m the second one's), which then exist; false after
// the refusal that names the folder, or a "no" from confirmOverwrite, the one
// question asked for all of them when files of the plan's names are there,
// and also when alsoReplaced (the report page's path holds a file). When
// resuming an earlier run of the card, the plan holds the files still to
// write, and only one of them already there (changed since, say by analysis
// software) is cause to ask.
bool folderReady(platform::Console& console, const std::vector<std::string>& folders, const FilePlan& plan,
                 const std::function<bool()>& confirmOverwrite, bool resuming = false, bool alsoReplaced = false);

}  // namespace quilbex::output
