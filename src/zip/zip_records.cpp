#include "zip/zip_records.hpp"

#include <algorithm>
#include <span>

#include "platform/little_endian.hpp"

namespace quilbex::zip {
namespace {

using platform::appendLittleEndian;

constexpr uint32_t localHeaderSignature = 0x04034b50;
constexpr uint32_t centralHeaderSignature = 0x02014b50;
constexpr uint32_t zip64EndSignature = 0x06064b50;
constexpr uint32_t zip64LocatorSignature = 0x07064b50;
constexpr uint32_t endSignature = 0x06054b50;
constexpr size_t zip64EndRecordSize = 56;

constexpr uint16_t zip64ExtraId = 0x0001;
constexpr uint16_t plainVersion = 20;
constexpr uint16_t zip64Version = 45;
constexpr uint16_t levelOneFlags = 0x0006;
constexpr uint16_t deflated = 8;
// What a 16-bit count or a 32-bit size or offset holds when the value is in
// a zip64 field or record.
constexpr uint64_t countInZip64 = 0xFFFF;
constexpr uint64_t valueInZip64 = 0xFFFFFFFF;

// The most raw deflate makes of n bytes: data it cannot shrink grows by its
// block headers. zlib's bound, generous for any deflater.
constexpr uint64_t deflatedSizeBound(uint64_t n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13; }

bool fits32(uint64_t value) { return value < valueInZip64; }

// Version needed and made by for a header with or without a zip64 field.
void appendVersion(std::vector<std::byte>& out, bool zip64) {
    appendLittleEndian(out, zip64 ? zip64Version : plainVersion, 2);
}

// The fields a local and a central header share: flags to sizes.
void appendEntryFields(std::vector<std::byte>& out, const EntryRecord& entry, bool sizesInZip64) {
    appendLittleEndian(out, levelOneFlags, 2);
    appendLittleEndian(out, deflated, 2);
    appendLittleEndian(out, entry.dosDate & 0xFFFF, 2);  // time
    appendLittleEndian(out, entry.dosDate >> 16, 2);     // date
    appendLittleEndian(out, entry.crc, 4);
    appendLittleEndian(out, sizesInZip64 ? valueInZip64 : std::min(entry.compressedSize, valueInZip64), 4);
    appendLittleEndian(out, sizesInZip64 ? valueInZip64 : std::min(entry.uncompressedSize, valueInZip64), 4);
    appendLittleEndian(out, entry.name.size(), 2);
}

void appendName(std::vector<std::byte>& out, const std::string& name) {
    for (const char c : name) out.push_back(static_cast<std::byte>(c));
}

void appendZip64Field(std::vector<std::byte>& out, std::span<const uint64_t> values) {
    appendLittleEndian(out, zip64ExtraId, 2);
    appendLittleEndian(out, 8 * values.size(), 2);
    for (const uint64_t value : values) appendLittleEndian(out, value, 8);
}

}  // namespace

bool needsLocalZip64(uint64_t expectedSize) { return !fits32(deflatedSizeBound(expectedSize)); }

bool fitsLocalHeader(const EntryRecord& entry) {
    return entry.localZip64 || (fits32(entry.compressedSize) && fits32(entry.uncompressedSize));
}

std::vector<std::byte> localHeader(const EntryRecord& entry) {
    std::vector<std::byte> header;
    appendLittleEndian(header, localHeaderSignature, 4);
    appendVersion(header, entry.localZip64);
    appendEntryFields(header, entry, entry.localZip64);
    appendLittleEndian(header, entry.localZip64 ? 20 : 0, 2);  // extra field length
    appendName(header, entry.name);
    if (entry.localZip64) {
        const uint64_t sizes[] = {entry.uncompressedSize, entry.compressedSize};
        appendZip64Field(header, sizes);
    }
    return header;
}

void appendCentralHeader(std::vector<std::byte>& directory, const EntryRecord& entry) {
    std::vector<uint64_t> field;
    for (const uint64_t value : {entry.uncompressedSize, entry.compressedSize, entry.headerOffset})
        if (!fits32(value)) field.push_back(value);
    const bool zip64 = entry.localZip64 || !field.empty();

    appendLittleEndian(directory, centralHeaderSignature, 4);
    appendVersion(directory, zip64);  // made by, on MS-DOS
    appendVersion(directory, zip64);  // needed to extract
    appendEntryFields(directory, entry, false);
    appendLittleEndian(directory, field.empty() ? 0 : 4 + 8 * field.size(), 2);
    appendLittleEndian(directory, 0, 2);  // comment length
    appendLittleEndian(directory, 0, 2);  // disk
    appendLittleEndian(directory, 0, 2);  // internal attributes
    appendLittleEndian(directory, 0, 4);  // external attributes
    appendLittleEndian(directory, std::min(entry.headerOffset, valueInZip64), 4);
    appendName(directory, entry.name);
    if (!field.empty()) appendZip64Field(directory, field);
}

std::vector<std::byte> endRecords(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset) {
    std::vector<std::byte> records;
    const uint64_t recordPosition = directoryOffset + directorySize;
    if (entryCount >= countInZip64 || !fits32(directorySize) || !fits32(directoryOffset)) {
        appendLittleEndian(records, zip64EndSignature, 4);
        appendLittleEndian(records, zip64EndRecordSize - 12, 8);  // the size that follows this field
        appendVersion(records, true);                             // made by
        appendVersion(records, true);                             // needed to extract
        appendLittleEndian(records, 0, 4);                        // this disk
        appendLittleEndian(records, 0, 4);                        // disk of the central directory
        appendLittleEndian(records, entryCount, 8);               // on this disk
        appendLittleEndian(records, entryCount, 8);               // in all
        appendLittleEndian(records, directorySize, 8);
        appendLittleEndian(records, directoryOffset, 8);

        appendLittleEndian(records, zip64LocatorSignature, 4);
        appendLittleEndian(records, 0, 4);  // disk of the zip64 end record
        appendLittleEndian(records, recordPosition, 8);
        appendLittleEndian(records, 1, 4);  // disks in all
    }
    appendLittleEndian(records, endSignature, 4);
    appendLittleEndian(records, 0, 2);  // this disk
    appendLittleEndian(records, 0, 2);  // disk of the central directory
    appendLittleEndian(records, std::min(entryCount, countInZip64), 2);  // on this disk
    appendLittleEndian(records, std::min(entryCount, countInZip64), 2);  // in all
    appendLittleEndian(records, std::min(directorySize, valueInZip64), 4);
    appendLittleEndian(records, std::min(directoryOffset, valueInZip64), 4);
    appendLittleEndian(records, 0, 2);  // comment length
    return records;
}

}  // namespace quilbex::zip
