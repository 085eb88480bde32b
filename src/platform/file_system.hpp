#pragma once
#include <string>

namespace quilbex::platform {

bool isDirectory(const std::string& path);

// Anything but a directory at the path counts, even a file that cannot be
// read: replacing it must always be confirmed first.
bool existsAsNonDirectory(const std::string& path);

// Removes the file; an absent file is no error, so nothing is reported.
void deleteFile(const std::string& path);

}  // namespace quilbex::platform
