#include <windows.h>

#include <cstring>

#include "platform/system_error.hpp"

namespace quilbex::platform {
namespace {

// The system's text for a Win32 code, with its own line end; empty when
// there is none.
std::string win32Text(DWORD code) {
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&message), 0, nullptr);
    std::string text;
    if (length != 0 && message != nullptr) text.assign(message, length);
    LocalFree(message);
    return text;
}

}  // namespace

SystemError SystemError::last() { return win32(GetLastError()); }
SystemError SystemError::native(int code) { return win32(static_cast<DWORD>(code)); }

// The system's text already ends with its own line end, so none is added.
// A code without a text leaves only the opening newline.
std::string systemErrorText(SystemError error) {
    switch (error.domain) {
    case SystemError::Domain::win32:
        return "\n" + win32Text(static_cast<DWORD>(error.code));
    case SystemError::Domain::posix:
        return "\n" + std::string(std::strerror(error.code)) + "\n";
    case SystemError::Domain::none:
        break;
    }
    return "\n";
}

std::string systemErrorText(int nativeCode) { return systemErrorText(SystemError::native(nativeCode)); }

std::string systemErrorLine(SystemError error) {
    std::string text = error.domain == SystemError::Domain::win32 ? win32Text(static_cast<DWORD>(error.code))
                       : error.any()                              ? std::string(std::strerror(error.code))
                                                                  : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace quilbex::platform
