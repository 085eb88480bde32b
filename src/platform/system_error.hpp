#pragma once
// A failed system call's code with the domain it comes from: errno values on
// every system, Win32 codes on Windows. The platform's own wording for it, as
// the tool prints it after a failed platform call: always on a line of its own.

#include <cstdint>
#include <string>

#include "platform/console.hpp"

namespace quilbex::platform {

struct SystemError {
    enum class Domain : uint8_t { none, posix, win32 };

    Domain domain = Domain::none;
    int code = 0;

    static SystemError posix(int code) { return {Domain::posix, code}; }
    static SystemError win32(unsigned long code) { return {Domain::win32, static_cast<int>(code)}; }
    // The calling thread's last error in the system's native domain: errno on
    // Linux, GetLastError() on Windows.
    static SystemError last();
    // A code of the system's native domain.
    static SystemError native(int code);

    bool any() const { return domain != Domain::none; }
    friend bool operator==(const SystemError&, const SystemError&) = default;
};

// The text printed after a failed call: a newline, the system's wording, a
// newline (on Windows the system's own line end).
std::string systemErrorText(SystemError error);
std::string systemErrorText(int nativeCode);

// The system's wording alone, on one line without its line end, e.g.
// "No space left on device"; empty when the system has none.
std::string systemErrorLine(SystemError error);

inline void printSystemError(Console& console, int nativeCode) { console.out(systemErrorText(nativeCode)); }
inline void printSystemError(Console& console, SystemError error) { console.out(systemErrorText(error)); }

}  // namespace quilbex::platform
