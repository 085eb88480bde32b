#include "platform/zip_file_layer.hpp"

// iowin32.h uses the types of ioapi.h without including it.
#include <minizip/iowin32.h>

namespace quilbex::platform {

void fillZipFileFunctions(zlib_filefunc64_def* functions) { fill_win32_filefunc64A(functions); }

}  // namespace quilbex::platform
