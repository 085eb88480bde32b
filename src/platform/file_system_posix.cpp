#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.hpp"

namespace quilbex::platform {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool existsAsNonDirectory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

void deleteFile(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace quilbex::platform
