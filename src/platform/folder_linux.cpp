#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/folder.hpp"
#include "platform/mount_table.hpp"

namespace quilbex::platform {

SystemError makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0) return SystemError::last();
    return {};
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

uint64_t regularFileBytes(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    // Blocks of 512 bytes whatever the file system's own block size.
    return static_cast<uint64_t>(info.st_blocks) * 512;
}

SystemError removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return SystemError::last();
    return {};
}

SystemError renameReplacing(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return SystemError::last();
    return {};
}

// Some file systems (FUSE ones among them) take no fsync of a folder and
// say so with EINVAL: they have nothing of the kind to flush.
SystemError flushFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return SystemError::last();
    const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;
    const SystemError error = flushed ? SystemError{} : SystemError::last();
    ::close(fd);
    return error;
}

std::optional<uint64_t> freeSpace(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

std::optional<uint64_t> allocationUnit(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0 || info.f_frsize == 0) return std::nullopt;
    return static_cast<uint64_t>(info.f_frsize);
}

// A FUSE mount of a FAT image has no FAT magic to look for: the mount
// table's type is the one name the system gives it.
std::string fileSystemName(const std::string& folder) {
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real) == nullptr) return {};
    std::ifstream table("/proc/self/mountinfo");
    std::ostringstream text;
    text << table.rdbuf();
    return mountTypeOf(text.str(), real);
}

}  // namespace quilbex::platform
