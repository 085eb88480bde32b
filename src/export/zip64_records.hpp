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
// The pieces of the layout that these repairs use are shared with the
// salvage of an archive whose directory was never written.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace quilbex::exporting {

// Fills in the local zip64 sizes of such entries, and inserts the zip64 end
// of central directory record and its locator before the end record when
// they are missing. True when the archive needed nothing or was completed;
// false when it could not be read or rewritten, or an entry has no local
// zip64 field to fill.
bool completeZip64Records(const std::string& path);

// The number of entries in the archive's central directory; nothing when
// the archive cannot be read or its directory is not whole.
std::optional<uint64_t> countEntries(const std::string& path);

namespace zip_layout {

inline constexpr uint32_t localHeaderSignature = 0x04034b50;
inline constexpr uint32_t centralHeaderSignature = 0x02014b50;
inline constexpr uint32_t endSignature = 0x06054b50;
inline constexpr size_t localHeaderSize = 30;
inline constexpr size_t centralHeaderSize = 46;
inline constexpr uint16_t zip64ExtraId = 0x0001;
inline constexpr uint16_t zip64Version = 45;
// What a 16-bit count or a 32-bit size or offset holds when the real value
// is in a zip64 field or record.
inline constexpr uint16_t countInZip64 = 0xFFFF;
inline constexpr uint32_t sizeInZip64 = 0xFFFFFFFF;

template <typename Bytes>
uint64_t littleEndian(const Bytes& bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{static_cast<unsigned char>(bytes[offset + i])} << (8 * i);
    return value;
}

void appendLittleEndian(std::string& out, uint64_t value, size_t width);

// False when fewer than count bytes could be read, or none written.
bool readAt(std::fstream& file, uint64_t position, char* destination, size_t count);
bool writeAt(std::fstream& file, uint64_t position, const std::string& bytes);

// The data of the zip64 field among an entry's extra fields; empty if none.
std::string_view zip64Field(std::string_view extra);

// Both 32-bit sizes of the local header at headerOffset then say "see the
// zip64 field", which gets both sizes, as minizip itself writes an entry
// whose uncompressed size reaches 4 GiB. False when the header cannot be
// read or written, or has no zip64 field with room for both sizes.
bool writeLocalZip64Sizes(std::fstream& file, uint64_t headerOffset, uint64_t uncompressedSize,
                          uint64_t compressedSize);

// The zip64 end of central directory record, written at recordPosition, and
// its locator: what goes between the central directory and the end record.
std::string zip64EndRecords(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset,
                            uint64_t recordPosition);

}  // namespace zip_layout
}  // namespace quilbex::exporting
