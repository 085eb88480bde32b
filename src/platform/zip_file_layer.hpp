#pragma once
// The file functions minizip writes the archive through: the platform's
// 64-bit layer, which opens the path exactly as given.

#include <minizip/ioapi.h>

namespace quilbex::platform {

void fillZipFileFunctions(zlib_filefunc64_def* functions);

}  // namespace quilbex::platform
