#pragma once
// The platform's own wording for an error code, as the tool prints it after a
// failed platform call: always on a line of its own.

#include <string>

#include "platform/console.hpp"

namespace quilbex::platform {

std::string systemErrorText(int errorCode);

inline void printSystemError(Console& console, int errorCode) { console.out(systemErrorText(errorCode)); }

}  // namespace quilbex::platform
