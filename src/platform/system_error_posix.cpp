#include <cerrno>
#include <cstring>

#include "platform/system_error.hpp"

namespace quilbex::platform {

SystemError SystemError::last() { return posix(errno); }
SystemError SystemError::native(int code) { return posix(code); }

std::string systemErrorLine(SystemError error) { return error.any() ? std::strerror(error.code) : std::string(); }

std::string systemErrorText(SystemError error) {
    std::string text = "\n";
    text += systemErrorLine(error);
    text += "\n";
    return text;
}

std::string systemErrorText(int nativeCode) { return systemErrorText(SystemError::native(nativeCode)); }

}  // namespace quilbex::platform
