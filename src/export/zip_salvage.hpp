#pragma once
// The archive left behind when a write to it failed, as when the disk is
// full: minizip never wrote its central directory, and the entry it was
// writing holds the space the directory needs. The salvage keeps the entries
// finished before the failure: it truncates the file right after the last of
// them and writes their central directory and end records, byte for byte as
// minizip and completeZip64Records would have had the failed entry never
// begun (without an archive comment).
//
// minizip writes each entry's CRC and sizes back into its local header when
// the entry is finished, and uses no data descriptors, so the finished
// entries can be walked from the start of the file.

#include <cstdint>
#include <span>
#include <string>

namespace quilbex::exporting {

// An entry whose compressed size reached 4 GiB while its uncompressed size
// did not: Debian's minizip keeps only the low 32 bits of that size in the
// local header, so whoever wrote the entry supplies its sizes.
struct LongCompressedEntry {
    uint64_t index = 0;  // among the archive's entries, the first being 0
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
};

// True when the archive now holds exactly its first entryCount entries.
// False, with the file untouched, when those entries' local headers cannot
// be walked from offset 0 (or their data runs past the end of the file);
// false too when the truncation or the directory's write failed, which
// leaves an archive that cannot be read.
bool salvageArchive(const std::string& path, uint64_t entryCount, std::span<const LongCompressedEntry> longEntries);

}  // namespace quilbex::exporting
