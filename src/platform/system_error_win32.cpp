#include <windows.h>

#include "platform/system_error.hpp"

namespace quilbex::platform {

// The system's text already ends with its own line end, so none is added.
// A code without a text leaves only the opening newline.
std::string systemErrorText(int errorCode) {
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        static_cast<DWORD>(errorCode), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&message),
        0, nullptr);
    std::string text = "\n";
    if (length != 0 && message != nullptr) text.append(message, length);
    LocalFree(message);
    return text;
}

}  // namespace quilbex::platform
