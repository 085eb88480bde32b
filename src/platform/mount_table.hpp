#pragma once
// Linux's mount table as /proc/self/mountinfo gives it: one line per mount,
//   36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw
// the mount point fifth (spaces and other odd characters written as octal
// escapes such as \040), the file system's type after the lone "-".

#include <string>
#include <string_view>

namespace quilbex::platform {

// The type of the mount that holds `realPath` (absolute, no links, no "..";
// the longest mount point that is a whole-component prefix of it, the later
// line when one is mounted over another); empty when no line holds it.
std::string mountTypeOf(std::string_view mountInfo, std::string_view realPath);

}  // namespace quilbex::platform
