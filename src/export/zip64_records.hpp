#pragma once
// The zip64 fields that Debian's minizip 1.1 leaves wrong, put right once the
// archive is closed:
// - An entry whose compressed size reaches 4 GiB while its uncompressed size
//   does not keeps sizes 0 in its local header's zip64 field (minizip fills
//   that field only for the uncompressed size), so unzip cannot read it.
// - An archive of 65535 entries or more gets zip64 end records only when its
//   central directory starts beyond 4 GiB; below that its end record still
//   counts 0xFFFF entries, which says "see the zip64 record", and unzip then
//   rejects the archive.

#include <string>

namespace quilbex::exporting {

// Fills in the local zip64 sizes of such entries, and inserts the zip64 end
// of central directory record and its locator before the end record when
// they are missing. True when the archive needed nothing or was completed;
// false when it could not be read or rewritten, or an entry has no local
// zip64 field to fill.
bool completeZip64Records(const std::string& path);

}  // namespace quilbex::exporting
