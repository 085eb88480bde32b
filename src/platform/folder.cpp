#include "platform/folder.hpp"

namespace quilbex::platform {

// "/x" is in "/", "C:\x" in "C:\", "x" in the current one.
std::string folderOf(const std::string& path) {
    const size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos) return ".";
    return path.substr(0, separator == 0 || (separator > 0 && path[separator - 1] == ':') ? separator + 1 : separator);
}

}  // namespace quilbex::platform
