#pragma once
// Run as `sudo quilbex ...`, the tool would leave root's files behind, which
// the user's analysis software could not write beside. So when the process
// runs as root and SUDO_UID and SUDO_GID name the user who ran sudo, every
// file and folder the tool makes is given to that user and group as soon as
// it is made, before a byte of it is flushed. Nothing else is ever touched.
//
// OutputFile::create and ArchiveFile::create hand over what they make; a
// file made any other way, or a folder, needs one call of handOver() right
// after it was made.

#include <cstdint>
#include <string>

namespace quilbex::platform {

// Gives what is at the path (a link itself, never what it points to) to the
// user who ran sudo. Nothing without sudo, and on Windows. A refusal, as by
// a file system that keeps no owners (FAT), leaves it root's, unreported:
// the file itself is no worse for it.
void handOver(const std::string& path);

// The same for a file open as the system's descriptor.
void handOverHandle(intptr_t handle);

}  // namespace quilbex::platform
