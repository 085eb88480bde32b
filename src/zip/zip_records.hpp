#pragma once
// The records of a zip archive as this tool writes them. Every entry is
// raw deflate (method 8) with the flags of level 1 and no data descriptor:
// its local header goes before its data and is written again, with the
// CRC-32 and sizes, once the data is stored.
//
// zip64 appears exactly where a 32-bit field cannot hold a value:
// - An entry whose deflated data may reach 4 GiB, judged from its size
//   before deflating, gets a zip64 field with both sizes in its local header,
//   whose 32-bit sizes then say "see zip64". This is settled before any data
//   is written, as the local header comes first.
// - A central header gets a zip64 field with exactly those of the
//   uncompressed size, the compressed size and the local header's offset
//   (in this order) that reach 4 GiB.
// - An archive of 65,535 entries or more, or whose central directory or its
//   start reaches 4 GiB, gets the zip64 end record and its locator before
//   the classic end record, whose fields that cannot hold their values then
//   say "see zip64".
// The version needed to extract is 2.0, or 4.5 with a zip64 field; the
// version made by is the same, on MS-DOS, whose attributes are all clear.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quilbex::zip {

// What the central directory says of an entry.
struct EntryRecord {
    std::string name;
    uint32_t dosDate = 0;  // date in the upper 16 bits, time in the lower
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t headerOffset = 0;
    bool localZip64 = false;  // its local header holds the sizes in a zip64 field
};

// Whether an entry of expectedSize bytes before deflating needs the local
// zip64 field.
bool needsLocalZip64(uint64_t expectedSize);
// Whether the entry's sizes fit its local header.
bool fitsLocalHeader(const EntryRecord& entry);

std::vector<std::byte> localHeader(const EntryRecord& entry);
void appendCentralHeader(std::vector<std::byte>& directory, const EntryRecord& entry);
// What follows a central directory of directorySize bytes at directoryOffset.
std::vector<std::byte> endRecords(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset);

}  // namespace quilbex::zip
