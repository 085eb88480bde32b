#include "platform/zip_file_layer.hpp"

namespace quilbex::platform {

void fillZipFileFunctions(zlib_filefunc64_def* functions) { fill_fopen64_filefunc(functions); }

}  // namespace quilbex::platform
